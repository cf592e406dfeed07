// Text between the library and Windows: names in the wide form that the
// Windows calls take, and the system's reasons for the user.
#pragma once

#include <string>

// `text` in the process's code page (as getenv gives it) in UTF-16.
std::wstring Win32Widened(const std::string &text);

// The system's message for an error code, without its full stop, and the
// code: "The system cannot find the file specified (2)".
std::string Win32Reason(unsigned long code);

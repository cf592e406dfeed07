// Opening a shared library and looking up its functions, behind three calls
// with one small file per system: dynlib_posix.cpp (dlopen) and
// dynlib_win32.cpp (LoadLibraryExW).
#pragma once

#include <string>

// Loads a library by file name or path; nullptr and the reason when it
// cannot be loaded. A bare name is looked for only where the system keeps
// libraries (on Windows: the program's folder and the system folder, never
// the current folder, so that a DLL planted there is never loaded); a name
// with a folder in it is taken as the path it is.
void *DynlibOpen(const char *nameOrPath, std::string &why);

// The address of the function the library exports under `name`; nullptr when
// it exports none.
void *DynlibSymbol(void *library, const char *name);

void DynlibClose(void *library);

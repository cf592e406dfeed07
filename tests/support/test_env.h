// setenv and unsetenv where the C library has none (Windows), for the tests
// that choose a driver or a file by an environment variable.
#pragma once

#include <cstdlib>

#if defined(_WIN32)
inline int setenv(const char *name, const char *value, int overwrite)
{
    if (overwrite == 0 && std::getenv(name) != nullptr) {
        return 0;
    }
    return _putenv_s(name, value);
}

inline int unsetenv(const char *name)
{
    return _putenv_s(name, "");
}
#endif

// Shared libraries through dlopen.
#include <dlfcn.h>

#include "dynlib.h"

void *DynlibOpen(const char *nameOrPath, std::string &why)
{
    void *library = dlopen(nameOrPath, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char *error = dlerror();
        why = error != nullptr ? error : "cannot be loaded";
    }
    return library;
}

void *DynlibSymbol(void *library, const char *name)
{
    return dlsym(library, name);
}

void DynlibClose(void *library)
{
    dlclose(library);
}

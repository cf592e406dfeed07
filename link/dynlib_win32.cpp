// Shared libraries (DLLs) through LoadLibraryExW, and the library's own
// residence in the process.
#include <cstring>
#include <windows.h>

#include "dynlib.h"
#include "win32_text.h"

namespace {

// The full path of a path relative to the current folder; empty when there
// is none.
std::wstring FullPath(const std::wstring &path)
{
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) {
        return {};
    }
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) {
        return {};
    }
    full.resize(length);
    return full;
}

// Once loaded, the library stays until the process ends, whatever the
// FreeLibrary calls: a later load then finds it with its state, and no code
// is ever unmapped under a thread that a converter driver started. Pinned
// from its own load, before any of its exports can be called.
[[maybe_unused]] const bool resident = [] {
    HMODULE self = nullptr;
    return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS
                                  | GET_MODULE_HANDLE_EX_FLAG_PIN,
                              reinterpret_cast<LPCWSTR>(&FullPath), &self)
           != 0;
}();

}  // namespace

void *DynlibOpen(const char *nameOrPath, std::string &why)
{
    const std::wstring name = Win32Widened(nameOrPath);
    HMODULE library = nullptr;
    if (std::strpbrk(nameOrPath, "/\\:") == nullptr) {
        library =
            LoadLibraryExW(name.c_str(), nullptr,
                           LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    } else {
        // The DLLs that it needs in turn are looked for beside it, then in
        // the same safe places.
        const std::wstring path = FullPath(name);
        library = path.empty() ? nullptr
                               : LoadLibraryExW(path.c_str(), nullptr,
                                                LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
                                                    | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    }
    if (library == nullptr) {
        const DWORD code = GetLastError();
        why = std::string(nameOrPath) + ": " + Win32Reason(code);
    }
    return library;
}

void *DynlibSymbol(void *library, const char *name)
{
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void DynlibClose(void *library)
{
    FreeLibrary(static_cast<HMODULE>(library));
}

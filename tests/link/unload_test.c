/*
 * Loads the device link library at run time, opens a device through the
 * default converter driver, unloads the library, and does it all once more.
 * The driver may have started threads of its own (libusb's event thread);
 * the program must outlive the unload. The library must stay loaded, and the
 * second load must find the first one's library: the same error text, at
 * the same address. Exit code 0 when all held.
 *
 * Usage: unload_test <path of libpx418usb.so or px418usb.dll>
 */
#if !defined(_WIN32)
#define _GNU_SOURCE /* dladdr */
#endif
#include <stdbool.h>
#include <stdio.h>
#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <time.h>
#endif

typedef bool (*device_call)(void);
typedef const char **(*error_call)(const char **);

#if defined(_WIN32)
typedef HMODULE library_t;
static library_t load(const char *path)
{
    return LoadLibraryA(path);
}
static void *symbol(library_t library, const char *name)
{
    return (void *)GetProcAddress(library, name);
}
static void unload(library_t library)
{
    FreeLibrary(library);
}
/* Whether code at this address still belongs to a loaded module. */
static bool loaded_at(void *address)
{
    HMODULE module = NULL;
    return GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS
                                  | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              (LPCSTR)address, &module)
           != 0;
}
static void pause_a_while(void)
{
    Sleep(300);
}
#else
typedef void *library_t;
static library_t load(const char *path)
{
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}
static void *symbol(library_t library, const char *name)
{
    return dlsym(library, name);
}
static void unload(library_t library)
{
    dlclose(library);
}
static bool loaded_at(void *address)
{
    Dl_info info;
    return dladdr(address, &info) != 0;
}
static void pause_a_while(void)
{
    const struct timespec pause = {0, 300 * 1000 * 1000};
    nanosleep(&pause, NULL);
}
#endif

/* One load, open, close and unload; false when the library or its exports
   cannot be found, or the library went with the unload. `text` receives the
   address of the error text. */
static bool load_open_unload(const char *path, const char **text)
{
    library_t library = load(path);
    if (library == NULL) {
        fprintf(stderr, "cannot load %s\n", path);
        return false;
    }
    device_call open_device = (device_call)symbol(library, "PX418_OpenDevice");
    device_call close_device = (device_call)symbol(library, "PX418_CloseDevice");
    error_call last_error = (error_call)symbol(library, "PX418_GetLastError");
    if (open_device == NULL || close_device == NULL || last_error == NULL) {
        fprintf(stderr, "the exports are missing\n");
        unload(library);
        return false;
    }
    if (open_device()) {
        close_device();
    }
    last_error(text);
    unload(library);
    if (!loaded_at((void *)*text)) {
        fprintf(stderr, "the library was unloaded\n");
        return false;
    }
    return true;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: unload_test <library>\n");
        return 2;
    }
    /* Threads left running in unloaded code crash within moments; give
       them time to run after each unload. */
    const char *texts[2] = {NULL, NULL};
    for (int round = 0; round < 2; ++round) {
        if (!load_open_unload(argv[1], &texts[round])) {
            return 2;
        }
        pause_a_while();
    }
    if (texts[0] != texts[1]) {
        fprintf(stderr, "the second load found another library\n");
        return 2;
    }
    printf("loaded, used and unloaded twice\n");
    return 0;
}

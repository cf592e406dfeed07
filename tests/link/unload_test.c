/*
 * Loads libpx418usb.so at run time, opens a device through the default
 * converter driver, unloads the library, and does it all once more. The
 * driver may have started threads of its own (libusb's event thread); the
 * program must outlive the unload. Exit code 0 when it did.
 *
 * Usage: unload_test <path of libpx418usb.so>
 */
#include <dlfcn.h>
#include <stdbool.h>
#include <stdio.h>
#include <time.h>

typedef bool (*device_call)(void);

/* One load, open, close and unload; false when the library or its exports
   cannot be found. */
static bool load_open_unload(const char *path)
{
    void *library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) {
        fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
        return false;
    }
    device_call open_device = (device_call)dlsym(library, "PX418_OpenDevice");
    device_call close_device = (device_call)dlsym(library, "PX418_CloseDevice");
    if (open_device == NULL || close_device == NULL) {
        fprintf(stderr, "the exports are missing\n");
        dlclose(library);
        return false;
    }
    if (open_device()) {
        close_device();
    }
    dlclose(library);
    return true;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: unload_test <libpx418usb.so>\n");
        return 2;
    }
    /* Threads left running in unloaded code crash within moments; give
       them time to run after each unload. */
    const struct timespec pause = {0, 300 * 1000 * 1000};
    for (int round = 0; round < 2; ++round) {
        if (!load_open_unload(argv[1])) {
            return 2;
        }
        nanosleep(&pause, NULL);
    }
    printf("loaded, used and unloaded twice\n");
    return 0;
}

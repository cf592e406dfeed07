/*
 * px418demo - drives a PX-418 through the device link library and its C
 * header alone.
 *
 * Opens the first generator found, prints its identity, writes the
 * frequency of output A and reads it back, locks and unlocks the front
 * panel, and closes the device. Each step prints its result and, on
 * failure, the library's error text.
 *
 * Exit code: 0 when every step succeeded, 1 when no generator was found,
 * 2 when a step failed after the device was opened.
 *
 * Build it against the installed library and try it without hardware:
 *
 *   cc px418demo.c $(pkg-config --cflags --libs px418usb) -o px418demo
 *   PX418USB_DRIVER=virtual ./px418demo
 *
 * or on Windows, from the unpacked zip, with MinGW-w64:
 *
 *   gcc px418demo.c -Iinclude -Llib -lpx418usb -o px418demo.exe
 *   set PX418USB_DRIVER=virtual
 *   px418demo.exe
 */
#include <stdio.h>

#include "px418usb.h"

/* Output A's frequency, in millihertz. */
#define DEMO_FREQUENCY_MHZ 1500

static const char *last_error(void)
{
    const char *text = "";
    PX418_GetLastError(&text);
    return text;
}

/* Prints one step's outcome; returns ok. */
static bool report(const char *step, bool ok)
{
    if (ok) {
        printf("%-40s ok\n", step);
    } else {
        printf("%-40s FAILED: %s\n", step, last_error());
    }
    return ok;
}

int main(void)
{
    const unsigned char *info = NULL;
    int32_t value = 0;
    int32_t mode = 0;
    bool all_ok = true;

    if (!PX418_OpenDevice()) {
        const char *text = last_error();
        printf("%-40s no PX-418 generator found%s%s\n", "open device", text[0] ? ": " : "", text);
        return 1;
    }
    report("open device", true);

    if (report("get info", PX418_GetInfo(&info))) {
        /* The identity text fills at most PX418_ANSWER_SIZE bytes; the
           precision keeps the print within them. */
        printf("  identity: \"%.*s\"\n", PX418_ANSWER_SIZE, (const char *)info);
    } else {
        all_ok = false;
    }

    printf("  writing output A frequency: %d mHz\n", DEMO_FREQUENCY_MHZ);
    all_ok &= report("set parameter",
                     PX418_SetPar(PX418_GROUP_OUT_A, PX418_OUT_FREQUENCY | PX418_FLAG_TAKE_EFFECT,
                                  DEMO_FREQUENCY_MHZ));
    if (report("get parameter", PX418_GetPar(PX418_GROUP_OUT_A, PX418_OUT_FREQUENCY, &value))) {
        printf("  read back: %d mHz%s\n", (int)value,
               value == DEMO_FREQUENCY_MHZ ? "" : " (differs from what was written)");
        all_ok &= value == DEMO_FREQUENCY_MHZ;
    } else {
        all_ok = false;
    }

    all_ok &= report("set mode 1 (front panel locked)", PX418_SetMode(PX418_MODE_LOCKED));
    if (report("get mode", PX418_GetMode(&mode))) {
        printf("  mode: %d\n", (int)mode);
    } else {
        all_ok = false;
    }
    all_ok &= report("set mode 0 (front panel unlocked)", PX418_SetMode(PX418_MODE_UNLOCKED));

    all_ok &= report("close device", PX418_CloseDevice());
    return all_ok ? 0 : 2;
}

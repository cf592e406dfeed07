/*
 * px418usb.h - C interface of the PX-418 device link library (libpx418usb.so;
 * px418usb.dll on Windows).
 *
 * The library finds a PX-418 three-phase generator among the FTDI USB-serial
 * converters on the bus, opens it and exchanges Wake packets with it.
 * Every command function sends one request frame and reads one answer frame.
 *
 * Results: true on success. When a command function (PX418_GetInfo and the
 * five below it) returns false, PX418_GetLastError yields a text that names
 * the operation and the reason, for example
 * "Set parameter error: invalid parameters.". PX418_OpenDevice and
 * PX418_CloseDevice say below what they leave there.
 *
 * While no device is open every command function succeeds without any I/O
 * and reads back zeros.
 *
 * Each command reads only its own request's answer. The generator answers
 * requests in order, one answer each, but an answer may come late (after
 * its command has failed) or never. After a command that failed (no answer
 * in time, a damaged answer), the library remembers which requests still owe
 * their answers, for the converter, also across PX418_CloseDevice and the
 * next search. Until they are settled, what is waiting is dropped before a
 * request goes out, and every answer that comes in is matched to the oldest
 * owed request of its code; an answer of a later request shows that the
 * earlier ones were lost. A request whose code is owed is preceded by one
 * request of another code that reads and changes nothing (get mode, get
 * parameter, get selected parameter or info, whichever is not owed); its
 * answer brings the stream back in step. So, after a failure:
 *   - a command may fail while the generator is still catching up, but it
 *     never returns the answer of another request, however late that comes;
 *   - a lost answer costs the command that lost it; the next command is sent
 *     and gets its own answer (with one extra request first when it has the
 *     lost one's code);
 *   - the first command once the generator has answered what it owed
 *     succeeds; an answer not come two seconds after its request counts as
 *     never coming, and with nothing owed a command is one request and one
 *     answer, as always.
 * An answer later than two seconds is the one case this cannot tell apart.
 * Before any failure, and after the stream is back in step, a command sends
 * exactly its own request.
 *
 * Threads: the six command functions, PX418_OpenDevice and
 * PX418_CloseDevice are serialised by one process-wide lock. The device
 * search holds it throughout, so a command from another thread waits for the
 * search and then reaches only an identified generator, and two searches at
 * once leave exactly one device open. The error text and the answer area
 * handed out by PX418_GetLastError and PX418_GetInfo are static: they keep
 * their addresses for the library's lifetime and their contents change with
 * the next command, from whichever thread. A null output pointer is skipped;
 * the command still runs.
 *
 * Once loaded, the library stays in the process until it ends: unloading it
 * (dlclose, FreeLibrary) leaves it mapped, with its state, and a later load
 * finds it as it was.
 *
 * The converter driver is chosen by the environment variable PX418USB_DRIVER:
 * unset, empty or "libftdi" for real FTDI converters, "virtual" for the
 * built-in virtual generator, or the file name or path of a D2XX-compatible
 * shared library. On Windows, unset or empty means the converter maker's
 * ftd2xx.dll, and a bare file name is looked for only in the program's
 * folder and the system folder, never in the current folder.
 */
#ifndef PX418USB_H
#define PX418USB_H

#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#include "px418_protocol.h"

/* On Windows the functions come from px418usb.dll; define PX418USB_STATIC
   where they are linked from a static library instead. */
#if defined(_WIN32)
#if defined(PX418USB_BUILDING)
#define PX418USB_API __declspec(dllexport)
#elif defined(PX418USB_STATIC)
#define PX418USB_API
#else
#define PX418USB_API __declspec(dllimport)
#endif
#else
#define PX418USB_API __attribute__((visibility("default")))
#endif

/* Size of the answer area that PX418_GetInfo hands out. An answer fills at
   most this many bytes; the area is cleared before every command and is
   followed by one byte that is always zero, so the identity text reads as a
   zero-terminated string of at most PX418_ANSWER_SIZE characters. */
#define PX418_ANSWER_SIZE 200

#ifdef __cplusplus
extern "C" {
#endif

/* Searches the attached converters for a PX-418 and leaves the first one
   found open. A device that is already open is closed first (once), then
   the search starts afresh. At most 128 converters are tried, whatever the
   driver counts. Each converter is asked for its identity with one info
   request (the converter that still owes answers from before, as any
   command would be, see above), and its probe ends within 150 ms whatever
   the device behind it sends. After a failed search the error text is that
   of the last info exchange made (unchanged when none was made).
   The search remembers the converters it met, to leave other devices alone:
   one that sent anything but a valid identity (another identity, text,
   noise) is not asked again while the number of converters stays the same
   (with the default driver: until it is unplugged), and one that sent
   nothing at all or could not be opened is asked again at most once a
   second, so a generator switched on behind its converter is found by the
   first search a second or more later. The converter that still owes
   answers counts as silent while they may come. */
PX418USB_API bool PX418_OpenDevice(void);

/* Closes the open device. True when the driver reported no error; with no
   device open nothing is handed to the driver and the result is true. The
   device counts as closed either way, and the error text is left as it was. */
PX418USB_API bool PX418_CloseDevice(void);

/* Stores the address of the zero-terminated last-error text in *text and
   returns text. The text is empty after every successful command. */
PX418USB_API const char **PX418_GetLastError(const char **text);

/* Asks the device for its identity; *answer receives the address of the
   answer area (PX418_ANSWER_SIZE bytes and a zero), which holds the
   identity text. */
PX418USB_API bool PX418_GetInfo(const unsigned char **answer);

/* Sets the device mode (bit 0: front panel locked); the low 8 bits are sent. */
PX418USB_API bool PX418_SetMode(int32_t mode);

/* Reads the device mode (0 to 255). */
PX418USB_API bool PX418_GetMode(int32_t *mode);

/* Writes a device parameter. Group and number travel as their low 8 bits. */
PX418USB_API bool PX418_SetPar(int32_t group, int32_t number, int32_t value);

/* Reads a device parameter. */
PX418USB_API bool PX418_GetPar(int32_t group, int32_t number, int32_t *value);

/* Reads the parameter last selected on the device (group and number 0 to 255). */
PX418USB_API bool PX418_GetSelPar(int32_t *group, int32_t *number, int32_t *value);

#ifdef __cplusplus
}
#endif

#endif /* PX418USB_H */

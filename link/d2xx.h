// The D2XX seam: the ten converter-driver calls that Ftdio makes, declared
// from the converter maker's published D2XX interface, and the table of
// function pointers through which Ftdio reaches them.
//
// The table is filled once, at the first need, by a provider chosen with the
// environment variable PX418USB_DRIVER (see D2xx()). Tests may install their
// own table with D2xxInstall().
#pragma once

#include <cstdint>

using FT_HANDLE = void *;
using FT_STATUS = std::uint32_t;
using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
using UCHAR = unsigned char;

enum : FT_STATUS {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INSUFFICIENT_RESOURCES = 5,
    FT_INVALID_PARAMETER = 6,
    FT_INVALID_BAUD_RATE = 7,
    FT_DEVICE_NOT_OPENED_FOR_ERASE = 8,
    FT_DEVICE_NOT_OPENED_FOR_WRITE = 9,
    FT_FAILED_TO_WRITE_DEVICE = 10,
    FT_EEPROM_READ_FAILED = 11,
    FT_EEPROM_WRITE_FAILED = 12,
    FT_EEPROM_ERASE_FAILED = 13,
    FT_EEPROM_NOT_PRESENT = 14,
    FT_EEPROM_NOT_PROGRAMMED = 15,
    FT_INVALID_ARGS = 16,
    FT_NOT_SUPPORTED = 17,
    FT_OTHER_ERROR = 18,
};

// FT_ListDevices flag: pArg1 receives the number of attached devices.
constexpr DWORD FT_LIST_NUMBER_ONLY = 0x80000000u;

// FT_Purge mask bits.
constexpr ULONG FT_PURGE_RX = 1;
constexpr ULONG FT_PURGE_TX = 2;

// FT_SetDataCharacteristics values used here.
constexpr UCHAR FT_BITS_8 = 8;
constexpr UCHAR FT_STOP_BITS_1 = 0;
constexpr UCHAR FT_PARITY_NONE = 0;

// The D2XX calls' calling convention: WINAPI (__stdcall), as the maker's
// library declares them, on Windows; none elsewhere. Every function that is
// put into a D2xxApi table is declared with it.
#if defined(_WIN32)
#define D2XX_CALL __stdcall
#else
#define D2XX_CALL
#endif

// Function types with the D2XX signatures.
using FT_ListDevices_t = FT_STATUS(D2XX_CALL *)(void *pArg1, void *pArg2, DWORD Flags);
using FT_Open_t = FT_STATUS(D2XX_CALL *)(int deviceNumber, FT_HANDLE *pHandle);
using FT_Close_t = FT_STATUS(D2XX_CALL *)(FT_HANDLE ftHandle);
using FT_Read_t = FT_STATUS(D2XX_CALL *)(FT_HANDLE ftHandle, void *lpBuffer, DWORD dwBytesToRead,
                                         DWORD *lpBytesReturned);
using FT_Write_t = FT_STATUS(D2XX_CALL *)(FT_HANDLE ftHandle, void *lpBuffer, DWORD dwBytesToWrite,
                                          DWORD *lpBytesWritten);
using FT_SetBaudRate_t = FT_STATUS(D2XX_CALL *)(FT_HANDLE ftHandle, ULONG BaudRate);
using FT_SetDataCharacteristics_t = FT_STATUS(D2XX_CALL *)(FT_HANDLE ftHandle, UCHAR WordLength,
                                                           UCHAR StopBits, UCHAR Parity);
using FT_SetTimeouts_t = FT_STATUS(D2XX_CALL *)(FT_HANDLE ftHandle, ULONG ReadTimeout,
                                                ULONG WriteTimeout);
using FT_SetLatencyTimer_t = FT_STATUS(D2XX_CALL *)(FT_HANDLE ftHandle, UCHAR ucLatency);
using FT_Purge_t = FT_STATUS(D2XX_CALL *)(FT_HANDLE ftHandle, ULONG Mask);

// What the device search found at a converter: the generator, another
// device (it sent something, but no valid identity of a generator), silence
// (it sent nothing at all), or a port that could not be opened or set up.
enum class ProbeOutcome { Generator, Foreign, Silent, Failed };
using Probed_t = void (*)(FT_HANDLE ftHandle, ProbeOutcome outcome);

// Filled by member name (designated initialisers, or D2xxTableOf in
// d2xx_table.h), never by position.
struct D2xxApi {
    FT_ListDevices_t ListDevices;
    FT_Open_t Open;
    FT_Close_t Close;
    FT_Read_t Read;
    FT_Write_t Write;
    FT_SetBaudRate_t SetBaudRate;
    FT_SetDataCharacteristics_t SetDataCharacteristics;
    FT_SetTimeouts_t SetTimeouts;
    FT_SetLatencyTimer_t SetLatencyTimer;
    FT_Purge_t Purge;
    // Not a D2XX call, and optional (nullptr in D2XX libraries): told what
    // the search found behind an open port, before the port is closed, so
    // that a driver that tells converters apart can spare them later probes.
    Probed_t Probed;
};

// The provider's table. Chosen once per process, at the first call, from
// PX418USB_DRIVER: "libftdi" -> libftdi1; "virtual" -> the virtual converter;
// anything else -> a D2XX-compatible shared library loaded by name or path.
// Unset or empty: libftdi1, or on Windows (built without libftdi1) the
// converter maker's ftd2xx.dll. A provider that cannot be loaded yields a table whose
// calls all fail (FT_ListDevices answers FT_DEVICE_NOT_FOUND), after one line
// on standard error that names the reason.
const D2xxApi &D2xx();

// Replaces the provider's table (tests). nullptr makes the next D2xx() call
// choose a provider from PX418USB_DRIVER again.
void D2xxInstall(const D2xxApi *api);

// The built-in providers. Each returns nullptr and fills `why` when it
// cannot be used. The libftdi1 driver is built where PX418USB_WITH_LIBFTDI
// is defined (not on Windows).
const D2xxApi *D2xxLibftdiProvider(const char **why);
// Where the libftdi1 driver looks for the kernel's view of the converters
// (sysfs) and for the programs' open files (procfs): "/sys" and "/proc"
// unless a test names a fake tree. Set before the driver is first used.
void D2xxLibftdiSetSystemRoots(const char *sysRoot, const char *procRoot);
const D2xxApi *D2xxVirtualProvider();
// A D2XX library: a bare name is looked for only where the system keeps
// libraries (on Windows the program's folder and the system folder, never
// the current folder), a name with a folder in it is the path it is.
const D2xxApi *D2xxLoadLibrary(const char *nameOrPath, const char **why);

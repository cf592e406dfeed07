// D2XX tables filled by the names of their calls. A driver, a double or a
// stand-in writes its calls as static member functions of one class, named
// as the table's members, and D2xxTableOf makes the table of them: no call
// can land in another's slot (SetBaudRate and Purge have the same type), and
// a call missing from the class does not compile. Two such classes are
// written here once for all: calls that forward to the member functions of
// one object, and calls that only answer a fixed status. D2XX_DEFINE_EXPORTS
// makes the exported FT_ functions of a D2XX-compatible library from a class
// the same way.
#pragma once

#include "d2xx.h"

// The table of `Calls`. `probed` fills the optional member that is no D2XX
// call.
template <class Calls>
constexpr D2xxApi D2xxTableOf(Probed_t probed = nullptr)
{
    return {
        .ListDevices = Calls::ListDevices,
        .Open = Calls::Open,
        .Close = Calls::Close,
        .Read = Calls::Read,
        .Write = Calls::Write,
        .SetBaudRate = Calls::SetBaudRate,
        .SetDataCharacteristics = Calls::SetDataCharacteristics,
        .SetTimeouts = Calls::SetTimeouts,
        .SetLatencyTimer = Calls::SetLatencyTimer,
        .Purge = Calls::Purge,
        .Probed = probed,
    };
}

// Calls that go to the member functions of the same names of the object that
// Target(), a function without arguments, returns.
template <auto Target>
struct D2xxForwarding {
    static FT_STATUS D2XX_CALL ListDevices(void *pArg1, void *pArg2, DWORD flags)
    {
        return Target().ListDevices(pArg1, pArg2, flags);
    }
    static FT_STATUS D2XX_CALL Open(int deviceNumber, FT_HANDLE *pHandle)
    {
        return Target().Open(deviceNumber, pHandle);
    }
    static FT_STATUS D2XX_CALL Close(FT_HANDLE handle) { return Target().Close(handle); }
    static FT_STATUS D2XX_CALL Read(FT_HANDLE handle, void *buffer, DWORD toRead, DWORD *pReturned)
    {
        return Target().Read(handle, buffer, toRead, pReturned);
    }
    static FT_STATUS D2XX_CALL Write(FT_HANDLE handle, void *buffer, DWORD toWrite, DWORD *pWritten)
    {
        return Target().Write(handle, buffer, toWrite, pWritten);
    }
    static FT_STATUS D2XX_CALL SetBaudRate(FT_HANDLE handle, ULONG baudRate)
    {
        return Target().SetBaudRate(handle, baudRate);
    }
    static FT_STATUS D2XX_CALL SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength,
                                                      UCHAR stopBits, UCHAR parity)
    {
        return Target().SetDataCharacteristics(handle, wordLength, stopBits, parity);
    }
    static FT_STATUS D2XX_CALL SetTimeouts(FT_HANDLE handle, ULONG readTimeout, ULONG writeTimeout)
    {
        return Target().SetTimeouts(handle, readTimeout, writeTimeout);
    }
    static FT_STATUS D2XX_CALL SetLatencyTimer(FT_HANDLE handle, UCHAR latency)
    {
        return Target().SetLatencyTimer(handle, latency);
    }
    static FT_STATUS D2XX_CALL Purge(FT_HANDLE handle, ULONG mask)
    {
        return Target().Purge(handle, mask);
    }
};

// The table whose calls go to Target()'s member functions.
template <auto Target>
inline constexpr D2xxApi kD2xxForwardingApi = D2xxTableOf<D2xxForwarding<Target>>();

// Calls that do nothing but answer `Status`. What a call hands back is
// cleared: the count of FT_LIST_NUMBER_ONLY, the handle, the bytes moved. A
// class derived from it replaces the calls it declares again, so that a
// stand-in writes only the calls that matter to it.
template <FT_STATUS Status>
struct D2xxStub {
    static FT_STATUS D2XX_CALL ListDevices(void *pArg1, void *, DWORD flags)
    {
        if (pArg1 != nullptr && (flags & FT_LIST_NUMBER_ONLY) != 0) {
            *static_cast<DWORD *>(pArg1) = 0;
        }
        return Status;
    }
    static FT_STATUS D2XX_CALL Open(int, FT_HANDLE *pHandle)
    {
        if (pHandle != nullptr) {
            *pHandle = nullptr;
        }
        return Status;
    }
    static FT_STATUS D2XX_CALL Close(FT_HANDLE) { return Status; }
    static FT_STATUS D2XX_CALL Read(FT_HANDLE, void *, DWORD, DWORD *pReturned)
    {
        if (pReturned != nullptr) {
            *pReturned = 0;
        }
        return Status;
    }
    static FT_STATUS D2XX_CALL Write(FT_HANDLE, void *, DWORD, DWORD *pWritten)
    {
        if (pWritten != nullptr) {
            *pWritten = 0;
        }
        return Status;
    }
    static FT_STATUS D2XX_CALL SetBaudRate(FT_HANDLE, ULONG) { return Status; }
    static FT_STATUS D2XX_CALL SetDataCharacteristics(FT_HANDLE, UCHAR, UCHAR, UCHAR)
    {
        return Status;
    }
    static FT_STATUS D2XX_CALL SetTimeouts(FT_HANDLE, ULONG, ULONG) { return Status; }
    static FT_STATUS D2XX_CALL SetLatencyTimer(FT_HANDLE, UCHAR) { return Status; }
    static FT_STATUS D2XX_CALL Purge(FT_HANDLE, ULONG) { return Status; }
};

// The ten FT_ functions of a D2XX-compatible shared library, with C linkage
// and exported, each calling the static member of the same name of `Calls`.
#if defined(_WIN32)
#define D2XX_EXPORT extern "C" __declspec(dllexport)
#else
#define D2XX_EXPORT extern "C" __attribute__((visibility("default")))
#endif
#define D2XX_DEFINE_EXPORTS(Calls)                                                                 \
    D2XX_EXPORT FT_STATUS D2XX_CALL FT_ListDevices(void *pArg1, void *pArg2, DWORD flags)          \
    {                                                                                              \
        return Calls::ListDevices(pArg1, pArg2, flags);                                            \
    }                                                                                              \
    D2XX_EXPORT FT_STATUS D2XX_CALL FT_Open(int deviceNumber, FT_HANDLE *pHandle)                  \
    {                                                                                              \
        return Calls::Open(deviceNumber, pHandle);                                                 \
    }                                                                                              \
    D2XX_EXPORT FT_STATUS D2XX_CALL FT_Close(FT_HANDLE handle)                                     \
    {                                                                                              \
        return Calls::Close(handle);                                                               \
    }                                                                                              \
    D2XX_EXPORT FT_STATUS D2XX_CALL FT_Read(FT_HANDLE handle, void *buffer, DWORD toRead,          \
                                            DWORD *pReturned)                                      \
    {                                                                                              \
        return Calls::Read(handle, buffer, toRead, pReturned);                                     \
    }                                                                                              \
    D2XX_EXPORT FT_STATUS D2XX_CALL FT_Write(FT_HANDLE handle, void *buffer, DWORD toWrite,        \
                                             DWORD *pWritten)                                      \
    {                                                                                              \
        return Calls::Write(handle, buffer, toWrite, pWritten);                                    \
    }                                                                                              \
    D2XX_EXPORT FT_STATUS D2XX_CALL FT_SetBaudRate(FT_HANDLE handle, ULONG baudRate)               \
    {                                                                                              \
        return Calls::SetBaudRate(handle, baudRate);                                               \
    }                                                                                              \
    D2XX_EXPORT FT_STATUS D2XX_CALL FT_SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength,  \
                                                              UCHAR stopBits, UCHAR parity)        \
    {                                                                                              \
        return Calls::SetDataCharacteristics(handle, wordLength, stopBits, parity);                \
    }                                                                                              \
    D2XX_EXPORT FT_STATUS D2XX_CALL FT_SetTimeouts(FT_HANDLE handle, ULONG readTimeout,            \
                                                   ULONG writeTimeout)                             \
    {                                                                                              \
        return Calls::SetTimeouts(handle, readTimeout, writeTimeout);                              \
    }                                                                                              \
    D2XX_EXPORT FT_STATUS D2XX_CALL FT_SetLatencyTimer(FT_HANDLE handle, UCHAR latency)            \
    {                                                                                              \
        return Calls::SetLatencyTimer(handle, latency);                                            \
    }                                                                                              \
    D2XX_EXPORT FT_STATUS D2XX_CALL FT_Purge(FT_HANDLE handle, ULONG mask)                         \
    {                                                                                              \
        return Calls::Purge(handle, mask);                                                         \
    }                                                                                              \
    static_assert(true, "")

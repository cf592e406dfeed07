// Ftdio: the one open converter port. Each operation makes its fixed D2XX
// calls through the provider's table, keeps the status of every call as the
// last status, and turns the outcome into a boolean.
#include "ftdio.h"

namespace {

constexpr unsigned char kLatencyMs = 2;
constexpr ULONG kSetupReadTimeoutMs = 200;
constexpr ULONG kWriteTimeoutMs = 200;

FT_HANDLE port = nullptr;      // the open port; nullptr while none is open
FT_STATUS lastStatus = FT_OK;  // status of the most recent D2XX call made here
std::uint64_t bytesReceived = 0;

bool Record(FT_STATUS status)
{
    lastStatus = status;
    return status == FT_OK;
}

}  // namespace

bool FtdioCountDevices(std::uint32_t &count)
{
    DWORD devices = 0;
    if (!Record(D2xx().ListDevices(&devices, nullptr, FT_LIST_NUMBER_ONLY))) {
        return false;
    }
    count = devices;
    return true;
}

bool FtdioOpen(std::int32_t index, FT_HANDLE &handle)
{
    FT_HANDLE opened = nullptr;
    // A driver that reports success without a handle has opened nothing
    // that could be used or closed.
    if (!Record(D2xx().Open(index, &opened)) || opened == nullptr) {
        port = nullptr;
        handle = nullptr;
        return false;
    }
    port = opened;
    handle = port;
    return true;
}

bool FtdioSetup(std::int32_t baudRate)
{
    const D2xxApi &api = D2xx();
    return Record(api.SetLatencyTimer(port, kLatencyMs))
           && Record(api.SetBaudRate(port, static_cast<ULONG>(baudRate)))
           && Record(api.SetDataCharacteristics(port, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE))
           && Record(api.SetTimeouts(port, kSetupReadTimeoutMs, kWriteTimeoutMs))
           && Record(api.Purge(port, FT_PURGE_RX | FT_PURGE_TX));
}

bool FtdioSetReadTimeout(std::int32_t readTimeoutMs)
{
    return Record(D2xx().SetTimeouts(port, static_cast<ULONG>(readTimeoutMs), kWriteTimeoutMs));
}

bool FtdioWrite(std::int32_t count, const void *buffer)
{
    if (count < 0) {
        return false;
    }
    DWORD written = 0;
    // D2XX takes a non-const buffer but only reads from it.
    if (!Record(
            D2xx().Write(port, const_cast<void *>(buffer), static_cast<DWORD>(count), &written))) {
        return false;
    }
    return written == static_cast<DWORD>(count);
}

bool FtdioReadByte(std::uint8_t &byte)
{
    std::uint8_t received = 0;
    DWORD got = 0;
    if (!Record(D2xx().Read(port, &received, 1, &got)) || got != 1) {
        return false;
    }
    byte = received;
    ++bytesReceived;
    return true;
}

bool FtdioPurgeReceive()
{
    return Record(D2xx().Purge(port, FT_PURGE_RX));
}

std::uint64_t FtdioBytesReceived()
{
    return bytesReceived;
}

void FtdioReportProbe(ProbeOutcome outcome)
{
    const Probed_t probed = D2xx().Probed;
    if (port != nullptr && probed != nullptr) {
        probed(port, outcome);
    }
}

bool FtdioClose(FT_HANDLE &handle)
{
    handle = nullptr;
    if (port == nullptr) {
        return true;  // nothing open: never hand a closed handle to the driver
    }
    const FT_HANDLE closing = port;
    port = nullptr;
    return Record(D2xx().Close(closing));
}

FT_STATUS FtdioLastStatus()
{
    return lastStatus;
}

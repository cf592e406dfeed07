// Ftdio: the one open converter port and the few operations the library
// needs, each reduced to a boolean. Every operation records the status of
// each D2XX call it makes; the result is true exactly when that status is
// FT_OK (and, for reads and writes, the byte count is the one asked for).
#pragma once

#include <cstdint>

#include "d2xx.h"

// FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY).
bool FtdioCountDevices(std::uint32_t &count);

// FT_Open(index, &port). On success the port handle is copied to `handle`;
// on failure no port is open and `handle` is set to nullptr.
bool FtdioOpen(std::int32_t index, FT_HANDLE &handle);

// Latency 2 ms, baud rate, 8N1, timeouts 200/200 ms, purge of both buffers;
// stops at the first call that fails.
bool FtdioSetup(std::int32_t baudRate);

// FT_SetTimeouts(port, readTimeoutMs, 200).
bool FtdioSetReadTimeout(std::int32_t readTimeoutMs);

// One FT_Write of the whole buffer; a short write is a failure. A negative
// count is refused without a call.
bool FtdioWrite(std::int32_t count, const void *buffer);

// One FT_Read of one byte; a read that times out with no byte is a failure.
bool FtdioReadByte(std::uint8_t &byte);

// FT_Purge(port, FT_PURGE_RX): drops what the converter has received and
// not yet handed over.
bool FtdioPurgeReceive();

// How many bytes FtdioReadByte has received, over every port opened so far;
// no D2XX call. The device search tells a converter that sent nothing from
// one that sent something by it.
std::uint64_t FtdioBytesReceived();

// Tells the driver what the device search found behind the open port, when
// the driver wants to know (D2xxApi::Probed); no D2XX call, no status.
void FtdioReportProbe(ProbeOutcome outcome);

// FT_Close(port). `handle` is set to nullptr whatever the status. With no
// port open nothing is handed to FT_Close and the result is true.
bool FtdioClose(FT_HANDLE &handle);

// The status of the most recent D2XX call made by this unit.
FT_STATUS FtdioLastStatus();

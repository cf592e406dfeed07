// The exported interface of the device link library: the device search, the
// six command exports around one common request/answer exchange, and the
// last-error text.
//
// All state is static: the request and answer areas and the error text keep
// their addresses for the library's lifetime, and no command allocates. One
// process-wide lock serialises the exchanges and the device search. It is a
// plain std::mutex, which needs no work at load or unload; the library never
// closes an open device by itself. It is linked to stay resident once loaded
// (-z nodelete), so that unloading it never pulls code from under the threads
// that a converter driver may have started.
#include "px418usb.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "ftdio.h"
#include "probe_memory.h"
#include "wake.h"

namespace {

constexpr std::size_t kRequestSize = 200;
constexpr std::int32_t kBaudRate = 38400;
constexpr std::int32_t kAnswerTimeoutMs = 50;

// More converters than one USB bus can carry means a driver that miscounts;
// the search tries no more indices than this.
constexpr std::uint32_t kMaxConverters = 128;

// Before the request that follows a failed exchange, the receive side is
// read empty until it stays quiet for one answer timeout; a line that is
// still busy after this many bytes (two of the longest frames) fails the
// exchange.
constexpr std::int32_t kMaxDiscardedBytes = 2 * static_cast<std::int32_t>(wake::MAX_FRAME);

// How many answers to other requests an exchange reads past before it gives
// up on its own.
constexpr int kMaxSkippedAnswers = 8;

// Operation prefixes by the answer's command code, and reasons by the
// device's error code; each a zero-terminated text in a 32-byte slot.
constexpr char kPrefixes[PX418_CMD_SYSTEM + 1][32] = {
    "",
    "IO error: ",
    "Get echo error: ",
    "Get info error: ",
    "Set address error: ",
    "Get address error: ",
    "Set mode error: ",
    "Get mode error: ",
    "Set parameter error: ",
    "Get parameter error: ",
    "Get selected parameter error: ",
    "System error: ",
};

constexpr char kReasons[PX418_ERR_UNKNOWN + 1][32] = {
    "",
    "invalid packet.",
    "device busy.",
    "device not ready.",
    "invalid parameters.",
    "device not responding.",
    "unknown.",
};

// The longest text is a prefix of 30 and a reason of 22 characters.
constexpr std::size_t kErrorTextSize = 64;

std::mutex libraryLock;
FT_HANDLE deviceHandle = nullptr;  // nullptr: no device open
// Set from the request of an exchange until its answer has been read whole:
// an exchange that fails may leave its answer, or part of it, to come in
// later, and the next exchange must not take it for its own.
bool receiveDirty = false;
std::uint8_t requestArea[kRequestSize];
// One byte more than an answer may fill; it is never written and stays zero,
// so an info text that fills the whole area is still zero-terminated.
std::uint8_t answerArea[PX418_ANSWER_SIZE + 1];
char errorText[kErrorTextSize];
ProbeMemory probeMemory;  // what earlier searches found, by converter index

// Composes the error text from the answer's command code and the device's
// error code; true exactly when there was no error.
bool SetErrorText(unsigned code, unsigned error)
{
    if (code == PX418_CMD_ECHO || code == PX418_CMD_INFO)
        error = PX418_ERR_NONE;  // these answers carry data, not an error code
    if (error == PX418_ERR_NONE)
        code = PX418_CMD_NOP;
    if (code > PX418_CMD_SYSTEM)
        code = PX418_CMD_SYSTEM;
    if (error > PX418_ERR_UNKNOWN)
        error = PX418_ERR_UNKNOWN;

    const std::size_t prefixLength = std::strlen(kPrefixes[code]);
    const std::size_t reasonLength = std::strlen(kReasons[error]);
    std::memcpy(errorText, kPrefixes[code], prefixLength);
    std::memcpy(errorText + prefixLength, kReasons[error], reasonLength);
    errorText[prefixLength + reasonLength] = '\0';
    return error == PX418_ERR_NONE;
}

// True when `answer` is the code of a command that this library sends, other
// than `request`: such a frame can only be the late answer to an earlier
// request. Any other code (the request's own, the device's error report,
// codes the library never sends) is the device's answer to this request.
bool IsAnotherRequestsAnswer(std::uint8_t answer, std::uint8_t request)
{
    if (answer == request)
        return false;
    switch (answer) {
    case PX418_CMD_INFO:
    case PX418_CMD_SET_MODE:
    case PX418_CMD_GET_MODE:
    case PX418_CMD_SET_PAR:
    case PX418_CMD_GET_PAR:
    case PX418_CMD_GET_SEL_PAR:
        return true;
    default:
        return false;
    }
}

// One request frame out, one answer frame in. The caller holds the lock and
// has filled the first `length` bytes of the request area.
bool DeviceTransaction(std::uint8_t command, std::uint8_t length)
{
    std::memset(answerArea, 0, sizeof answerArea);
    if (deviceHandle == nullptr)
        return SetErrorText(PX418_CMD_NOP, PX418_ERR_NONE);

    // Whatever a failed exchange left behind, queued or still on its way,
    // goes before this request is sent. After a good exchange nothing is
    // owed, and the request goes out at once.
    if (receiveDirty && !FtdioDiscardInput(kAnswerTimeoutMs, kMaxDiscardedBytes))
        return SetErrorText(PX418_CMD_ERROR, PX418_ERR_NOT_RESPONDING);
    receiveDirty = true;

    if (!WakeSendFrame(0, command, length, requestArea))
        return SetErrorText(PX418_CMD_ERROR, PX418_ERR_NOT_RESPONDING);

    std::uint8_t address = 0;
    std::uint8_t answerCommand = 0;
    std::uint8_t answerLength = 0;
    for (int skipped = 0;; ++skipped) {
        if (skipped > kMaxSkippedAnswers
            || !WakeReceiveFrame(kAnswerTimeoutMs, address, answerCommand, answerArea, answerLength,
                                 PX418_ANSWER_SIZE))
            return SetErrorText(PX418_CMD_ERROR, PX418_ERR_NOT_RESPONDING);
        if (!IsAnotherRequestsAnswer(answerCommand, command))
            break;
        // Nothing of the dropped answer may show through a shorter one.
        std::memset(answerArea, 0, sizeof answerArea);
    }
    receiveDirty = false;

    // The answer's address is ignored; an answer without data reads error 0.
    return SetErrorText(answerCommand, answerArea[0]);
}

// The info exchange; the caller holds the lock.
bool ExchangeInfo()
{
    return DeviceTransaction(PX418_CMD_INFO, 0);
}

// The search's test of an opened converter: set up, asked for its identity;
// what answered. The caller holds the lock.
ProbeOutcome Probe()
{
    if (!FtdioSetup(kBaudRate))
        return ProbeOutcome::Failed;
    receiveDirty = false;  // the setup purged both directions
    if (!ExchangeInfo())
        return ProbeOutcome::Silent;
    return std::strncmp(reinterpret_cast<const char *>(answerArea), PX418_IDENTITY,
                        PX418_IDENTITY_LENGTH)
                   == 0
               ? ProbeOutcome::Generator
               : ProbeOutcome::Foreign;
}

}  // namespace

extern "C" {

bool PX418_OpenDevice(void)
{
    // The whole search runs under the lock. Commands of other threads wait
    // for it and then reach only an identified generator (or no device at
    // all), never a converter under test; concurrent searches run one after
    // the other, each closing what the one before left open, so exactly one
    // handle stays open.
    std::lock_guard<std::mutex> guard(libraryLock);
    // A device that is still open is closed once, then the search starts
    // afresh, so its handle is neither leaked nor closed twice.
    if (deviceHandle != nullptr)
        FtdioClose(deviceHandle);
    std::uint32_t count = 0;
    if (!FtdioCountDevices(count))
        return false;

    count = std::min(count, kMaxConverters);
    // Converters that answered with another identity, or stayed silent less
    // than a second ago, are left alone.
    probeMemory.StartSearch(count);
    for (std::uint32_t index = 0; index < count; ++index) {
        if (!probeMemory.ShouldProbe(index, ProbeMemory::Clock::now()))
            continue;
        if (!FtdioOpen(static_cast<std::int32_t>(index), deviceHandle)) {
            probeMemory.Record(index, ProbeOutcome::Failed, ProbeMemory::Clock::now());
            continue;
        }
        const ProbeOutcome outcome = Probe();
        probeMemory.Record(index, outcome, ProbeMemory::Clock::now());
        FtdioReportProbe(outcome);
        if (outcome == ProbeOutcome::Generator)
            return true;
        FtdioClose(deviceHandle);
    }
    return false;
}

bool PX418_CloseDevice(void)
{
    std::lock_guard<std::mutex> guard(libraryLock);
    return FtdioClose(deviceHandle);
}

const char **PX418_GetLastError(const char **text)
{
    if (text != nullptr)
        *text = errorText;
    return text;
}

bool PX418_GetInfo(const unsigned char **answer)
{
    std::lock_guard<std::mutex> guard(libraryLock);
    const bool ok = ExchangeInfo();
    if (answer != nullptr)
        *answer = answerArea;
    return ok;
}

bool PX418_SetMode(int32_t mode)
{
    std::lock_guard<std::mutex> guard(libraryLock);
    requestArea[0] = static_cast<std::uint8_t>(mode);
    return DeviceTransaction(PX418_CMD_SET_MODE, PX418_SET_MODE_LENGTH);
}

bool PX418_GetMode(int32_t *mode)
{
    std::lock_guard<std::mutex> guard(libraryLock);
    const bool ok = DeviceTransaction(PX418_CMD_GET_MODE, 0);
    if (mode != nullptr)
        *mode = answerArea[1];
    return ok;
}

bool PX418_SetPar(int32_t group, int32_t number, int32_t value)
{
    std::lock_guard<std::mutex> guard(libraryLock);
    requestArea[0] = static_cast<std::uint8_t>(group);
    requestArea[1] = static_cast<std::uint8_t>(number);
    px418_put_le32(requestArea + 2, value);
    return DeviceTransaction(PX418_CMD_SET_PAR, PX418_SET_PAR_LENGTH);
}

bool PX418_GetPar(int32_t group, int32_t number, int32_t *value)
{
    std::lock_guard<std::mutex> guard(libraryLock);
    requestArea[0] = static_cast<std::uint8_t>(group);
    requestArea[1] = static_cast<std::uint8_t>(number);
    const bool ok = DeviceTransaction(PX418_CMD_GET_PAR, PX418_GET_PAR_LENGTH);
    if (value != nullptr)
        *value = px418_get_le32(answerArea + 1);
    return ok;
}

bool PX418_GetSelPar(int32_t *group, int32_t *number, int32_t *value)
{
    std::lock_guard<std::mutex> guard(libraryLock);
    const bool ok = DeviceTransaction(PX418_CMD_GET_SEL_PAR, 0);
    if (group != nullptr)
        *group = answerArea[1];
    if (number != nullptr)
        *number = answerArea[2];
    if (value != nullptr)
        *value = px418_get_le32(answerArea + 3);
    return ok;
}

}  // extern "C"

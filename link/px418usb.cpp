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
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "ftdio.h"
#include "owed_answers.h"
#include "probe_memory.h"
#include "wake.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kRequestSize = 200;
constexpr std::int32_t kBaudRate = 38400;
constexpr std::int32_t kAnswerTimeoutMs = 50;

// More converters than one USB bus can carry means a driver that miscounts;
// the search tries no more indices than this.
constexpr std::uint32_t kMaxConverters = 128;

// How many frames an exchange reads past that answer no request owed (codes
// of requests that were not sent, or whose answers were given up) before it
// gives up on its own answer.
constexpr int kMaxSkippedAnswers = 8;

// A probe of a converter by the search ends after this long, whatever the
// device behind it sends.
constexpr auto kProbeTime = std::chrono::milliseconds(150);

// Requests that read and change nothing, to bring a stream of answers back in
// step when the caller's request has the code of an owed one: the first
// whose code is neither owed nor the caller's goes out first, and its answer
// tells where the stream stands. Short answers first.
struct ResyncRequest {
    std::uint8_t command;
    std::uint8_t length;
    std::uint8_t data[PX418_GET_PAR_LENGTH];
};
constexpr ResyncRequest kResyncRequests[] = {
    {PX418_CMD_GET_MODE, 0, {}},
    {PX418_CMD_GET_PAR, PX418_GET_PAR_LENGTH, {PX418_GROUP_OUT_A, PX418_OUT_FREQUENCY}},
    {PX418_CMD_GET_SEL_PAR, 0, {}},
    {PX418_CMD_INFO, 0, {}},
};

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
// The answers owed by the open device, or by the converter that was open
// last: the one at `owedIndex` when the search counted `owedCount`. They
// outlive a close: the next search's probe of that converter reads its
// answers as its next command would.
OwedAnswers owedAnswers;
std::uint32_t owedIndex = 0;
std::uint32_t owedCount = 0;
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
    if (code == PX418_CMD_ECHO || code == PX418_CMD_INFO) {
        error = PX418_ERR_NONE;  // these answers carry data, not an error code
    }
    if (error == PX418_ERR_NONE) {
        code = PX418_CMD_NOP;
    }
    if (code > PX418_CMD_SYSTEM) {
        code = PX418_CMD_SYSTEM;
    }
    if (error > PX418_ERR_UNKNOWN) {
        error = PX418_ERR_UNKNOWN;
    }

    const std::size_t prefixLength = std::strlen(kPrefixes[code]);
    const std::size_t reasonLength = std::strlen(kReasons[error]);
    std::memcpy(errorText, kPrefixes[code], prefixLength);
    std::memcpy(errorText + prefixLength, kReasons[error], reasonLength);
    errorText[prefixLength + reasonLength] = '\0';
    return error == PX418_ERR_NONE;
}

// Sends one request and reads frames until the one that answers it, which
// stays in the answer area; frames owed to earlier requests are read past.
// `answerCommand` receives the answer's code. False when the request could
// not be written or its answer did not come.
bool Exchange(OwedAnswers &owed, std::uint8_t command, std::uint8_t length,
              const std::uint8_t *data, Clock::time_point deadline, std::uint8_t &answerCommand)
{
    const bool written = WakeSendFrame(0, command, length, data);
    owed.Sent(command, Clock::now());
    if (!written) {
        return false;
    }
    // Each stale frame settles at least one owed request, so the loop ends.
    for (int skipped = 0;;) {
        // Nothing of a dropped frame may show through a shorter one.
        std::memset(answerArea, 0, sizeof answerArea);
        std::uint8_t address = 0;
        std::uint8_t answerLength = 0;
        if (!WakeReceiveFrame(kAnswerTimeoutMs, address, answerCommand, answerArea, answerLength,
                              PX418_ANSWER_SIZE, deadline)) {
            return false;
        }
        switch (owed.Arrived(answerCommand)) {
        case OwedAnswers::Match::Answer:
            return true;
        case OwedAnswers::Match::Stale:
            break;
        case OwedAnswers::Match::Unexplained:
            if (++skipped > kMaxSkippedAnswers) {
                return false;
            }
            break;
        }
    }
}

// One request frame out, its answer frame in. The caller holds the lock and
// has filled the first `length` bytes of the request area. While answers are
// owed, a request with the code of an owed one is preceded by a resync
// request of another code; its answer brings the stream back in step, so the
// caller's answer can no longer be confused with an earlier one. When every
// resync code is owed too, the caller's request goes out alone and its
// answer is the frame that settles it.
bool DeviceTransaction(std::uint8_t command, std::uint8_t length, OwedAnswers &owed,
                       Clock::time_point deadline = Clock::time_point::max())
{
    std::memset(answerArea, 0, sizeof answerArea);
    if (deviceHandle == nullptr) {
        return SetErrorText(PX418_CMD_NOP, PX418_ERR_NONE);
    }

    owed.Expire(Clock::now());
    // So many requests unanswered: nothing more goes out until they are
    // answered or given up.
    if (owed.Full()) {
        return SetErrorText(PX418_CMD_ERROR, PX418_ERR_NOT_RESPONDING);
    }
    // What a failed exchange left queued goes first; what is still on its
    // way is read past below.
    if (!owed.InStep() && !FtdioPurgeReceive()) {
        return SetErrorText(PX418_CMD_ERROR, PX418_ERR_NOT_RESPONDING);
    }
    std::uint8_t answerCommand = 0;
    if (owed.Owes(command)) {
        for (const ResyncRequest &resync : kResyncRequests) {
            if (resync.command == command || owed.Owes(resync.command)) {
                continue;
            }
            if (!Exchange(owed, resync.command, resync.length, resync.data, deadline,
                          answerCommand)) {
                return SetErrorText(PX418_CMD_ERROR, PX418_ERR_NOT_RESPONDING);
            }
            break;
        }
    }
    if (!Exchange(owed, command, length, requestArea, deadline, answerCommand)) {
        return SetErrorText(PX418_CMD_ERROR, PX418_ERR_NOT_RESPONDING);
    }
    // The answer's address is ignored; an answer without data reads error 0.
    return SetErrorText(answerCommand, answerArea[0]);
}

// The search's test of an opened converter: set up, asked for its identity;
// what answered, within kProbeTime. `owed`: what the converter still owes
// from before. The caller holds the lock.
ProbeOutcome Probe(OwedAnswers &owed)
{
    const Clock::time_point deadline = Clock::now() + kProbeTime;
    if (!FtdioSetup(kBaudRate)) {
        return ProbeOutcome::Failed;
    }
    const bool catchingUp = !owed.InStep();
    const std::uint64_t received = FtdioBytesReceived();
    if (DeviceTransaction(PX418_CMD_INFO, 0, owed, deadline)) {
        return std::strncmp(reinterpret_cast<const char *>(answerArea), PX418_IDENTITY,
                            PX418_IDENTITY_LENGTH)
                       == 0
                   ? ProbeOutcome::Generator
                   : ProbeOutcome::Foreign;
    }
    // A device that sends anything but a valid identity is another one, not
    // one to ask again; except the generator that owed answers, whose late
    // ones may still be coming in.
    if (FtdioBytesReceived() == received || catchingUp) {
        return ProbeOutcome::Silent;
    }
    return ProbeOutcome::Foreign;
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
    if (deviceHandle != nullptr) {
        FtdioClose(deviceHandle);
    }
    std::uint32_t count = 0;
    if (!FtdioCountDevices(count)) {
        return false;
    }

    count = std::min(count, kMaxConverters);
    // Converters that sent anything but a generator's identity, or stayed
    // silent less than a second ago, are left alone.
    probeMemory.StartSearch(count);
    owedAnswers.Expire(Clock::now());
    const bool owing = !owedAnswers.InStep();
    for (std::uint32_t index = 0; index < count; ++index) {
        if (!probeMemory.ShouldProbe(index, ProbeMemory::Clock::now())) {
            continue;
        }
        if (!FtdioOpen(static_cast<std::int32_t>(index), deviceHandle)) {
            probeMemory.Record(index, ProbeOutcome::Failed, ProbeMemory::Clock::now());
            continue;
        }
        // The converter that owes answers is asked as its next command would
        // be; any other owes nothing, and gets the info request alone.
        const bool owes = owing && count == owedCount && index == owedIndex;
        OwedAnswers fresh;
        const ProbeOutcome outcome = Probe(owes ? owedAnswers : fresh);
        probeMemory.Record(index, outcome, ProbeMemory::Clock::now());
        FtdioReportProbe(outcome);
        if (outcome == ProbeOutcome::Generator) {
            // On a bus that changed since, the converter that owes answers
            // cannot be told by its index; the generator found is most
            // likely the same, and keeps them.
            if (!owes && !(owing && count != owedCount)) {
                owedAnswers = fresh;
            }
            owedIndex = index;
            owedCount = count;
            return true;
        }
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
    if (text != nullptr) {
        *text = errorText;
    }
    return text;
}

bool PX418_GetInfo(const unsigned char **answer)
{
    std::lock_guard<std::mutex> guard(libraryLock);
    const bool ok = DeviceTransaction(PX418_CMD_INFO, 0, owedAnswers);
    if (answer != nullptr) {
        *answer = answerArea;
    }
    return ok;
}

bool PX418_SetMode(int32_t mode)
{
    std::lock_guard<std::mutex> guard(libraryLock);
    requestArea[0] = static_cast<std::uint8_t>(mode);
    return DeviceTransaction(PX418_CMD_SET_MODE, PX418_SET_MODE_LENGTH, owedAnswers);
}

bool PX418_GetMode(int32_t *mode)
{
    std::lock_guard<std::mutex> guard(libraryLock);
    const bool ok = DeviceTransaction(PX418_CMD_GET_MODE, 0, owedAnswers);
    if (mode != nullptr) {
        *mode = answerArea[1];
    }
    return ok;
}

bool PX418_SetPar(int32_t group, int32_t number, int32_t value)
{
    std::lock_guard<std::mutex> guard(libraryLock);
    requestArea[0] = static_cast<std::uint8_t>(group);
    requestArea[1] = static_cast<std::uint8_t>(number);
    px418_put_le32(requestArea + 2, value);
    return DeviceTransaction(PX418_CMD_SET_PAR, PX418_SET_PAR_LENGTH, owedAnswers);
}

bool PX418_GetPar(int32_t group, int32_t number, int32_t *value)
{
    std::lock_guard<std::mutex> guard(libraryLock);
    requestArea[0] = static_cast<std::uint8_t>(group);
    requestArea[1] = static_cast<std::uint8_t>(number);
    const bool ok = DeviceTransaction(PX418_CMD_GET_PAR, PX418_GET_PAR_LENGTH, owedAnswers);
    if (value != nullptr) {
        *value = px418_get_le32(answerArea + 1);
    }
    return ok;
}

bool PX418_GetSelPar(int32_t *group, int32_t *number, int32_t *value)
{
    std::lock_guard<std::mutex> guard(libraryLock);
    const bool ok = DeviceTransaction(PX418_CMD_GET_SEL_PAR, 0, owedAnswers);
    if (group != nullptr) {
        *group = answerArea[1];
    }
    if (number != nullptr) {
        *number = answerArea[2];
    }
    if (value != nullptr) {
        *value = px418_get_le32(answerArea + 3);
    }
    return ok;
}

}  // extern "C"

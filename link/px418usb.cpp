// The exported interface of the device link library: the device search, the
// six command exports around one common request/answer exchange, and the
// last-error text.
//
// All state is static: the request and answer areas and the error text keep
// their addresses for the library's lifetime, and no command allocates. One
// process-wide lock serialises the exchanges. It is a plain std::mutex, which
// needs no work at load or unload; the library never closes an open device
// by itself, not even when it is unloaded.
#include "px418usb.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "ftdio.h"
#include "wake.h"

namespace {

constexpr std::size_t kAreaSize = 200;
constexpr std::int32_t kBaudRate = 38400;
constexpr std::int32_t kAnswerTimeoutMs = 50;

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
std::uint8_t requestArea[kAreaSize];
std::uint8_t answerArea[kAreaSize];
char errorText[kErrorTextSize];

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

// One request frame out, one answer frame in. The caller holds the lock and
// has filled the first `length` bytes of the request area.
bool DeviceTransaction(std::uint8_t command, std::uint8_t length)
{
    std::memset(answerArea, 0, sizeof answerArea);
    if (deviceHandle == nullptr)
        return SetErrorText(PX418_CMD_NOP, PX418_ERR_NONE);

    if (!WakeSendFrame(0, command, length, requestArea))
        return SetErrorText(PX418_CMD_ERROR, PX418_ERR_NOT_RESPONDING);

    std::uint8_t address = 0;
    std::uint8_t answerCommand = 0;
    std::uint8_t answerLength = 0;
    if (!WakeReceiveFrame(kAnswerTimeoutMs, address, answerCommand, answerArea, answerLength,
                          sizeof answerArea))
        return SetErrorText(PX418_CMD_ERROR, PX418_ERR_NOT_RESPONDING);

    // The answer's command code is not compared with the request's and its
    // address is ignored; an answer without data reads error 0.
    return SetErrorText(answerCommand, answerArea[0]);
}

}  // namespace

extern "C" {

bool PX418_OpenDevice(void)
{
    // A device that is still open is closed once, then the search starts
    // afresh, so its handle is neither leaked nor closed twice.
    std::uint32_t count = 0;
    {
        std::lock_guard<std::mutex> guard(libraryLock);
        if (deviceHandle != nullptr)
            FtdioClose(deviceHandle);
        if (!FtdioCountDevices(count))
            return false;
    }

    // The lock is taken around each change of the port, and by the info
    // exchange itself, so that a command running on another thread never
    // sees a port being closed under it.
    for (std::uint32_t index = 0; index < count && index <= INT32_MAX; ++index) {
        bool opened = false;
        bool ready = false;
        {
            std::lock_guard<std::mutex> guard(libraryLock);
            opened = FtdioOpen(static_cast<std::int32_t>(index), deviceHandle);
            ready = opened && FtdioSetup(kBaudRate);
        }
        if (ready) {
            const unsigned char *info = nullptr;
            if (PX418_GetInfo(&info)
                && std::strncmp(reinterpret_cast<const char *>(info), PX418_IDENTITY,
                                PX418_IDENTITY_LENGTH)
                       == 0)
                return true;
        }
        if (opened) {
            std::lock_guard<std::mutex> guard(libraryLock);
            FtdioClose(deviceHandle);
        }
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
    const bool ok = DeviceTransaction(PX418_CMD_INFO, 0);
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

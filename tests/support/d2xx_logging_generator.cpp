// libd2xx_logging_generator.so: a D2XX-compatible driver library for tests
// of the program as installed. It exports the ten FT_ functions; behind them
// sits the virtual converter with the virtual generator (the library's own
// objects, reached through D2xxVirtualProvider()), and every call and every
// frame is written to a log that a script can check.
//
// Load it with PX418USB_DRIVER=<path of this file>; the log goes to the file
// named by PX418_FRAME_LOG (appended to), else to standard error. One line
// per event, flushed at once, fields separated by one space, bytes as two
// lower-case hex digits:
//
//   call <name> <argument>... = <status>   every call but FT_Read and FT_Write
//                                          (arguments in decimal, as passed)
//   tx <command> <data byte>...            a request frame the program wrote
//   rx <command> <data byte>...            an answer frame the program read
//   tx! <byte>...  /  rx! <byte>...        bytes that are no whole, good frame
//   write-failed <status> / read-failed <status>
//
// Answers are logged once the program has read the whole frame, so an "rx"
// line also tells that the program got that far.
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "d2xx.h"
#include "d2xx_table.h"
#include "wake_oracle.h"

namespace {

constexpr std::uint8_t kFend = 0xC0;

class FrameLog {
public:
    FrameLog()
    {
        const char *path = std::getenv("PX418_FRAME_LOG");
        if (path != nullptr && path[0] != '\0') {
            file_ = std::fopen(path, "a");
        }
        if (file_ == nullptr) {
            file_ = stderr;
        }
    }

    void Line(const std::string &text)
    {
        std::lock_guard lock(mutex_);
        std::fputs(text.c_str(), file_);
        std::fputc('\n', file_);
        std::fflush(file_);
    }

    // The frames in bytes the program wrote: one "tx" line per frame.
    void Written(const oracle::Bytes &bytes) { LogFrames("tx", bytes, true); }

    // Bytes the program read: logged frame by frame as each one completes.
    void Read(const oracle::Bytes &bytes)
    {
        std::lock_guard lock(mutex_);
        received_.insert(received_.end(), bytes.begin(), bytes.end());
    }
    // The answer bytes read so far, as frames; an incomplete remainder is
    // kept unless `final` (a new request or a purge starts over).
    void FlushReceived(bool final)
    {
        oracle::Bytes bytes;
        {
            std::lock_guard lock(mutex_);
            bytes.swap(received_);
        }
        const oracle::Bytes rest = LogFrames("rx", bytes, final);
        std::lock_guard lock(mutex_);
        received_.insert(received_.begin(), rest.begin(), rest.end());
    }

private:
    static std::string Hex(const oracle::Bytes &bytes, std::size_t from, std::size_t to)
    {
        std::string text;
        char digits[4];
        for (std::size_t i = from; i < to; ++i) {
            std::snprintf(digits, sizeof digits, " %02x", bytes[i]);
            text += digits;
        }
        return text;
    }

    // Logs the whole frames in `bytes` and returns what is left over: an
    // unfinished frame at the end, unless `final`, when everything is logged.
    oracle::Bytes LogFrames(const char *direction, const oracle::Bytes &bytes, bool final)
    {
        std::size_t at = 0;
        while (at < bytes.size()) {
            std::size_t next = at;
            if (bytes[at] == kFend) {
                if (const auto frame = oracle::DecodeAt(bytes, next)) {
                    Line(direction + Hex({frame->command}, 0, 1)
                         + Hex(frame->data, 0, frame->data.size()));
                    at = next;
                    continue;
                }
            }
            // No good frame starts here: up to the next FEND it is damage,
            // or, at the end, perhaps a frame still arriving.
            next = at + 1;
            while (next < bytes.size() && bytes[next] != kFend) {
                ++next;
            }
            if (next == bytes.size() && !final) {
                return oracle::Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.end());
            }
            Line(std::string(direction) + "!" + Hex(bytes, at, next));
            at = next;
        }
        return {};
    }

    std::mutex mutex_;
    std::FILE *file_ = nullptr;
    oracle::Bytes received_;
};

FrameLog &Log()
{
    static FrameLog log;
    return log;
}

const D2xxApi &Converter()
{
    return *D2xxVirtualProvider();
}

FT_STATUS Logged(FT_STATUS status, const std::string &call)
{
    Log().Line("call " + call + " = " + std::to_string(status));
    return status;
}

std::string Args(std::initializer_list<unsigned long> values)
{
    std::string text;
    for (const unsigned long v : values) {
        text += " " + std::to_string(v);
    }
    return text;
}

// The calls: each goes to the virtual converter and is logged.
struct LoggingCalls {
    static FT_STATUS D2XX_CALL ListDevices(void *pArg1, void *pArg2, DWORD flags)
    {
        const FT_STATUS status = Converter().ListDevices(pArg1, pArg2, flags);
        DWORD count = 0;
        if (status == FT_OK && pArg1 != nullptr) {
            count = *static_cast<DWORD *>(pArg1);
        }
        return Logged(status, "FT_ListDevices" + Args({flags, count}));
    }

    static FT_STATUS D2XX_CALL Open(int deviceNumber, FT_HANDLE *pHandle)
    {
        return Logged(Converter().Open(deviceNumber, pHandle),
                      "FT_Open" + Args({static_cast<unsigned long>(deviceNumber)}));
    }

    static FT_STATUS D2XX_CALL Close(FT_HANDLE handle)
    {
        Log().FlushReceived(true);
        return Logged(Converter().Close(handle), "FT_Close");
    }

    static FT_STATUS D2XX_CALL Read(FT_HANDLE handle, void *buffer, DWORD toRead, DWORD *pReturned)
    {
        const FT_STATUS status = Converter().Read(handle, buffer, toRead, pReturned);
        if (status != FT_OK) {
            Log().Line("read-failed " + std::to_string(status));
        } else if (pReturned != nullptr && *pReturned != 0) {
            const auto *bytes = static_cast<const std::uint8_t *>(buffer);
            Log().Read(oracle::Bytes(bytes, bytes + *pReturned));
            Log().FlushReceived(false);
        }
        return status;
    }

    static FT_STATUS D2XX_CALL Write(FT_HANDLE handle, void *buffer, DWORD toWrite, DWORD *pWritten)
    {
        Log().FlushReceived(true);
        if (buffer != nullptr) {
            const auto *bytes = static_cast<const std::uint8_t *>(buffer);
            Log().Written(oracle::Bytes(bytes, bytes + toWrite));
        }
        const FT_STATUS status = Converter().Write(handle, buffer, toWrite, pWritten);
        if (status != FT_OK) {
            Log().Line("write-failed " + std::to_string(status));
        }
        return status;
    }

    static FT_STATUS D2XX_CALL SetBaudRate(FT_HANDLE handle, ULONG baudRate)
    {
        return Logged(Converter().SetBaudRate(handle, baudRate),
                      "FT_SetBaudRate" + Args({baudRate}));
    }

    static FT_STATUS D2XX_CALL SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength,
                                                      UCHAR stopBits, UCHAR parity)
    {
        return Logged(Converter().SetDataCharacteristics(handle, wordLength, stopBits, parity),
                      "FT_SetDataCharacteristics" + Args({wordLength, stopBits, parity}));
    }

    static FT_STATUS D2XX_CALL SetTimeouts(FT_HANDLE handle, ULONG readTimeout, ULONG writeTimeout)
    {
        return Logged(Converter().SetTimeouts(handle, readTimeout, writeTimeout),
                      "FT_SetTimeouts" + Args({readTimeout, writeTimeout}));
    }

    static FT_STATUS D2XX_CALL SetLatencyTimer(FT_HANDLE handle, UCHAR latency)
    {
        return Logged(Converter().SetLatencyTimer(handle, latency),
                      "FT_SetLatencyTimer" + Args({latency}));
    }

    static FT_STATUS D2XX_CALL Purge(FT_HANDLE handle, ULONG mask)
    {
        Log().FlushReceived(true);
        return Logged(Converter().Purge(handle, mask), "FT_Purge" + Args({mask}));
    }
};

}  // namespace

D2XX_DEFINE_EXPORTS(LoggingCalls);

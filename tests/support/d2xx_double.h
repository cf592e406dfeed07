// A recording, scriptable D2XX driver for tests.
//
// The double holds any number of converters. Each has a responder, which is
// handed the bytes of every FT_Write and returns the bytes that the
// converter then has waiting for FT_Read, plus a queue of raw bytes that a
// test may fill itself. Every D2XX call is recorded, in order, with its
// arguments, the bytes that went out or came back, and the status returned.
// Faults can be injected per call.
//
// Reads never wait: a read that finds the queue empty returns FT_OK with no
// byte at once, as a real driver does when its timeout runs out.
//
// Two forms come from one source:
//   - in process (target d2xx_double_static): install the table with
//       D2xxInstall(&d2xxdouble::Api());
//   - as a D2XX-compatible shared library (target d2xx_double,
//     libd2xx_double.so) that exports the ten FT_ functions with C linkage.
//     Point PX418USB_DRIVER at that file before the first library call and
//     link the test against the same file; d2xxdouble::Instance() then
//     reaches the very instance that libpx418usb.so drives.
//
// All methods are thread-safe. Responders run under the double's lock, so a
// responder must not call back into the double.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "d2xx.h"
#include "virtual/virtual_generator.h"
#include "wake_oracle.h"

namespace d2xxdouble {

using Bytes = std::vector<std::uint8_t>;

// Called with the bytes of each FT_Write that reached the converter; returns
// the bytes the converter answers with (appended to its receive queue).
using Responder = std::function<Bytes(const Bytes &written)>;

// One recorded D2XX call.
struct Call {
    std::string name;    // "FT_Open", "FT_Read", ...
    int converter = -1;  // converter the call reached; -1 when none
    FT_HANDLE handle = nullptr;
    // Numeric arguments in the call's order:
    //   FT_ListDevices: flags             FT_Open: index
    //   FT_Read: bytes asked              FT_Write: bytes offered
    //   FT_SetBaudRate: baud              FT_SetDataCharacteristics: bits, stop, parity
    //   FT_SetTimeouts: read, write ms    FT_SetLatencyTimer: latency
    //   FT_Purge: mask                    FT_Close: (none)
    std::vector<std::uint32_t> args;
    Bytes bytes;               // FT_Write: bytes accepted; FT_Read: bytes returned
    std::uint32_t result = 0;  // FT_ListDevices: count; FT_Write/FT_Read: byte count
    FT_STATUS status = FT_OK;
};

class D2xxDouble {
public:
    // Removes every converter, fault and record.
    void Reset();

    // Adds a converter (plugged in, openable) and returns its index.
    int AddConverter(Responder responder = {});
    void SetResponder(int converter, Responder responder);
    std::size_t ConverterCount() const;

    // Appends raw bytes to a converter's receive queue.
    void QueueReceive(int converter, const Bytes &bytes);
    // Bytes still waiting in a converter's receive queue.
    Bytes Pending(int converter) const;

    // An unplugged converter is not counted (the indices of FT_Open count
    // the plugged ones only) and every call on its open handle fails with
    // FT_IO_ERROR.
    void SetPlugged(int converter, bool plugged);
    // FT_Open of a converter that cannot be opened fails with
    // FT_DEVICE_NOT_OPENED (like a converter without access rights).
    void SetOpenable(int converter, bool openable);
    bool IsOpen(int converter) const;
    // FT_ListDevices reports `count` converters from now on, whatever is
    // plugged in (a driver that miscounts); FT_Open still finds only the
    // plugged ones.
    void ReportCount(std::uint32_t count);

    // Faults. `nth` counts the calls of that function from now on, 1 being
    // the next one; several faults may be pending at once.
    // The nth call of `function` (e.g. "FT_SetBaudRate") returns `status`
    // and has no other effect.
    void FailCall(const std::string &function, FT_STATUS status, int nth = 1);
    // The nth FT_Write accepts only `accepted` bytes (FT_OK); the responder
    // sees only those.
    void ShortWrite(std::uint32_t accepted, int nth = 1);
    // The nth FT_Read returns FT_OK with no byte even if bytes are waiting.
    void EmptyRead(int nth = 1);

    // Records.
    std::vector<Call> Calls() const;
    std::vector<Call> CallsOf(const std::string &function) const;
    std::vector<std::string> CallNames() const;
    int Count(const std::string &function) const;
    // The bytes of every FT_Write, in order (of one converter, or of all).
    std::vector<Bytes> Written(int converter = -1) const;
    // All bytes returned by FT_Read, concatenated.
    Bytes ReadBytes(int converter = -1) const;
    void ClearCalls();

    // The D2XX entry points (what the table and the shared library's
    // exports call).
    FT_STATUS ListDevices(void *pArg1, void *pArg2, DWORD flags);
    FT_STATUS Open(int index, FT_HANDLE *pHandle);
    FT_STATUS Close(FT_HANDLE handle);
    FT_STATUS Read(FT_HANDLE handle, void *buffer, DWORD toRead, DWORD *pReturned);
    FT_STATUS Write(FT_HANDLE handle, void *buffer, DWORD toWrite, DWORD *pWritten);
    FT_STATUS SetBaudRate(FT_HANDLE handle, ULONG baudRate);
    FT_STATUS SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits,
                                     UCHAR parity);
    FT_STATUS SetTimeouts(FT_HANDLE handle, ULONG readTimeout, ULONG writeTimeout);
    FT_STATUS SetLatencyTimer(FT_HANDLE handle, UCHAR latency);
    FT_STATUS Purge(FT_HANDLE handle, ULONG mask);

private:
    struct Converter {
        Responder responder;
        std::deque<std::uint8_t> queue;
        bool plugged = true;
        bool openable = true;
        FT_HANDLE handle = nullptr;  // non-null while open
    };
    struct Fault {
        int countdown;
        FT_STATUS status;
        std::uint32_t accepted;  // ShortWrite
        enum Kind { kStatus, kShortWrite, kEmptyRead } kind;
    };

    bool TakeFault(const std::string &function, Fault::Kind kind, Fault &fault);
    FT_STATUS Finish(Call call);
    FT_STATUS Setting(const char *name, FT_HANDLE handle, std::vector<std::uint32_t> args,
                      const std::function<void(Converter &)> &apply);
    // The checks of a read or write before bytes move: a due status fault,
    // the arguments, the handle, the plug. The converter to use, or nullptr
    // when `call` already holds the status to return.
    Converter *TransferTarget(Call &call, bool due, const Fault &fault, bool argumentsOk);
    // The converter behind an open handle; -1 when the handle is not open.
    int ConverterOf(FT_HANDLE handle) const;

    mutable std::mutex mutex_;
    std::vector<Converter> converters_;
    std::vector<Call> calls_;
    std::map<std::string, std::vector<Fault>> faults_;
    std::uintptr_t nextHandle_ = 0x1000;
    bool countReported_ = false;
    std::uint32_t reportedCount_ = 0;
};

// The one instance behind Api() and behind the shared library's exports.
D2xxDouble &Instance();
// A D2XX table whose entries call Instance().
const D2xxApi &Api();

// Responders.
// Answers nothing.
Responder Silent();
// Answers every write with the same bytes.
Responder Fixed(Bytes bytes);
// Answers every write with one Wake frame (no address) of this command and
// data, encoded by the test oracle, independently of the library.
Responder AnswerFrame(std::uint8_t command, Bytes data);
// Answers every write with an info answer (command 3) carrying this text.
Responder Identity(const std::string &text);
// Answers a request with `command` by these bytes, and a request with any
// other code by an answer of its own code that reports no error.
Responder AnswerTo(std::uint8_t command, Bytes bytes);

// Puts a virtual generator behind a converter. Only for tests that link the
// generator (px418usb_core).
inline Responder Virtual(px418virtual::VirtualGenerator &generator)
{
    return [&generator](const Bytes &written) {
        return generator.Receive(written.data(), written.size());
    };
}

// A device that answers in order, one answer per request, but late: it
// holds its answers back while more than `lag` of them are held, and a
// write lets out the oldest beyond that (the answer to that write queues up
// behind them). With a lag of 0 every answer comes at once, the held ones
// first. Keep it alive while its responder is in use.
class LateDevice {
public:
    explicit LateDevice(Responder inner) : inner_(std::move(inner)) {}

    void SetLag(std::size_t lag)
    {
        std::lock_guard<std::mutex> guard(mutex_);
        lag_ = lag;
    }

    Responder Answers()
    {
        return [this](const Bytes &written) {
            std::lock_guard<std::mutex> guard(mutex_);
            held_.push_back(inner_(written));
            Bytes out;
            while (held_.size() > lag_) {
                out.insert(out.end(), held_.front().begin(), held_.front().end());
                held_.pop_front();
            }
            return out;
        };
    }

private:
    std::mutex mutex_;
    Responder inner_;
    std::size_t lag_ = 0;
    std::deque<Bytes> held_;
};

}  // namespace d2xxdouble

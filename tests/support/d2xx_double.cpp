#include "d2xx_double.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "d2xx_table.h"

namespace d2xxdouble {

void D2xxDouble::Reset()
{
    std::lock_guard<std::mutex> guard(mutex_);
    converters_.clear();
    calls_.clear();
    faults_.clear();
    countReported_ = false;
}

int D2xxDouble::AddConverter(Responder responder)
{
    std::lock_guard<std::mutex> guard(mutex_);
    Converter converter;
    converter.responder = std::move(responder);
    converters_.push_back(std::move(converter));
    return static_cast<int>(converters_.size()) - 1;
}

void D2xxDouble::SetResponder(int converter, Responder responder)
{
    std::lock_guard<std::mutex> guard(mutex_);
    converters_.at(static_cast<std::size_t>(converter)).responder = std::move(responder);
}

std::size_t D2xxDouble::ConverterCount() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return converters_.size();
}

void D2xxDouble::QueueReceive(int converter, const Bytes &bytes)
{
    std::lock_guard<std::mutex> guard(mutex_);
    auto &queue = converters_.at(static_cast<std::size_t>(converter)).queue;
    queue.insert(queue.end(), bytes.begin(), bytes.end());
}

Bytes D2xxDouble::Pending(int converter) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    const auto &queue = converters_.at(static_cast<std::size_t>(converter)).queue;
    return Bytes(queue.begin(), queue.end());
}

void D2xxDouble::SetPlugged(int converter, bool plugged)
{
    std::lock_guard<std::mutex> guard(mutex_);
    converters_.at(static_cast<std::size_t>(converter)).plugged = plugged;
}

void D2xxDouble::SetOpenable(int converter, bool openable)
{
    std::lock_guard<std::mutex> guard(mutex_);
    converters_.at(static_cast<std::size_t>(converter)).openable = openable;
}

bool D2xxDouble::IsOpen(int converter) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return converters_.at(static_cast<std::size_t>(converter)).handle != nullptr;
}

void D2xxDouble::ReportCount(std::uint32_t count)
{
    std::lock_guard<std::mutex> guard(mutex_);
    countReported_ = true;
    reportedCount_ = count;
}

void D2xxDouble::FailCall(const std::string &function, FT_STATUS status, int nth)
{
    std::lock_guard<std::mutex> guard(mutex_);
    faults_[function].push_back({nth, status, 0, Fault::kStatus});
}

void D2xxDouble::ShortWrite(std::uint32_t accepted, int nth)
{
    std::lock_guard<std::mutex> guard(mutex_);
    faults_["FT_Write"].push_back({nth, FT_OK, accepted, Fault::kShortWrite});
}

void D2xxDouble::EmptyRead(int nth)
{
    std::lock_guard<std::mutex> guard(mutex_);
    faults_["FT_Read"].push_back({nth, FT_OK, 0, Fault::kEmptyRead});
}

std::vector<Call> D2xxDouble::Calls() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return calls_;
}

std::vector<Call> D2xxDouble::CallsOf(const std::string &function) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<Call> out;
    for (const Call &call : calls_) {
        if (call.name == function) {
            out.push_back(call);
        }
    }
    return out;
}

std::vector<std::string> D2xxDouble::CallNames() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<std::string> out;
    for (const Call &call : calls_) {
        out.push_back(call.name);
    }
    return out;
}

int D2xxDouble::Count(const std::string &function) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return static_cast<int>(std::count_if(calls_.begin(), calls_.end(),
                                          [&](const Call &c) { return c.name == function; }));
}

std::vector<Bytes> D2xxDouble::Written(int converter) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<Bytes> out;
    for (const Call &call : calls_) {
        if (call.name == "FT_Write" && call.status == FT_OK
            && (converter < 0 || call.converter == converter)) {
            out.push_back(call.bytes);
        }
    }
    return out;
}

Bytes D2xxDouble::ReadBytes(int converter) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    Bytes out;
    for (const Call &call : calls_) {
        if (call.name == "FT_Read" && (converter < 0 || call.converter == converter)) {
            out.insert(out.end(), call.bytes.begin(), call.bytes.end());
        }
    }
    return out;
}

void D2xxDouble::ClearCalls()
{
    std::lock_guard<std::mutex> guard(mutex_);
    calls_.clear();
}

// Counts one call of `function` against its pending faults; hands out the
// fault of `kind` that falls due now, if any. A due status fault wins over
// the other kinds, which are then spent as well.
bool D2xxDouble::TakeFault(const std::string &function, Fault::Kind kind, Fault &fault)
{
    auto found = faults_.find(function);
    if (found == faults_.end()) {
        return false;
    }
    auto &pending = found->second;
    bool due = false;
    Fault chosen{};
    for (auto it = pending.begin(); it != pending.end();) {
        if (--it->countdown == 0) {
            if (!due || it->kind == Fault::kStatus) {
                if (it->kind == Fault::kStatus || it->kind == kind) {
                    chosen = *it;
                    due = true;
                }
            }
            it = pending.erase(it);
        } else {
            ++it;
        }
    }
    if (due) {
        fault = chosen;
    }
    return due;
}

FT_STATUS D2xxDouble::Finish(Call call)
{
    const FT_STATUS status = call.status;
    calls_.push_back(std::move(call));
    return status;
}

int D2xxDouble::ConverterOf(FT_HANDLE handle) const
{
    if (handle == nullptr) {
        return -1;
    }
    for (std::size_t i = 0; i < converters_.size(); ++i) {
        if (converters_[i].handle == handle) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

FT_STATUS D2xxDouble::ListDevices(void *pArg1, void *, DWORD flags)
{
    std::lock_guard<std::mutex> guard(mutex_);
    Call call{"FT_ListDevices", -1, nullptr, {flags}, {}, 0, FT_OK};
    Fault fault{};
    if (TakeFault(call.name, Fault::kStatus, fault)) {
        call.status = fault.status;
        return Finish(std::move(call));
    }
    if (pArg1 == nullptr || (flags & FT_LIST_NUMBER_ONLY) == 0) {
        call.status = FT_INVALID_PARAMETER;
        return Finish(std::move(call));
    }
    const auto count =
        countReported_
            ? reportedCount_
            : static_cast<DWORD>(std::count_if(converters_.begin(), converters_.end(),
                                               [](const Converter &c) { return c.plugged; }));
    *static_cast<DWORD *>(pArg1) = count;
    call.result = count;
    return Finish(std::move(call));
}

FT_STATUS D2xxDouble::Open(int index, FT_HANDLE *pHandle)
{
    std::lock_guard<std::mutex> guard(mutex_);
    Call call{"FT_Open", -1, nullptr, {static_cast<std::uint32_t>(index)}, {}, 0, FT_OK};
    if (pHandle != nullptr) {
        *pHandle = nullptr;
    }
    Fault fault{};
    if (TakeFault(call.name, Fault::kStatus, fault)) {
        call.status = fault.status;
        return Finish(std::move(call));
    }
    if (pHandle == nullptr) {
        call.status = FT_INVALID_PARAMETER;
        return Finish(std::move(call));
    }
    // Indices count the plugged converters only.
    int seen = -1;
    for (std::size_t i = 0; i < converters_.size(); ++i) {
        if (!converters_[i].plugged) {
            continue;
        }
        if (++seen == index) {
            call.converter = static_cast<int>(i);
            break;
        }
    }
    if (call.converter < 0) {
        call.status = FT_DEVICE_NOT_FOUND;
        return Finish(std::move(call));
    }
    Converter &converter = converters_[static_cast<std::size_t>(call.converter)];
    if (!converter.openable || converter.handle != nullptr) {
        call.status = FT_DEVICE_NOT_OPENED;
        return Finish(std::move(call));
    }
    converter.handle = reinterpret_cast<FT_HANDLE>(nextHandle_);
    nextHandle_ += 0x10;
    *pHandle = converter.handle;
    call.handle = converter.handle;
    return Finish(std::move(call));
}

FT_STATUS D2xxDouble::Close(FT_HANDLE handle)
{
    std::lock_guard<std::mutex> guard(mutex_);
    Call call{"FT_Close", ConverterOf(handle), handle, {}, {}, 0, FT_OK};
    Fault fault{};
    if (TakeFault(call.name, Fault::kStatus, fault)) {
        call.status = fault.status;
        return Finish(std::move(call));
    }
    if (call.converter < 0) {
        call.status = FT_INVALID_HANDLE;
        return Finish(std::move(call));
    }
    converters_[static_cast<std::size_t>(call.converter)].handle = nullptr;
    return Finish(std::move(call));
}

D2xxDouble::Converter *D2xxDouble::TransferTarget(Call &call, bool due, const Fault &fault,
                                                  bool argumentsOk)
{
    if (due && fault.kind == Fault::kStatus) {
        call.status = fault.status;
    } else if (!argumentsOk) {
        call.status = FT_INVALID_PARAMETER;
    } else if (call.converter < 0) {
        call.status = FT_INVALID_HANDLE;
    } else if (!converters_[static_cast<std::size_t>(call.converter)].plugged) {
        call.status = FT_IO_ERROR;
    } else {
        return &converters_[static_cast<std::size_t>(call.converter)];
    }
    return nullptr;
}

FT_STATUS D2xxDouble::Read(FT_HANDLE handle, void *buffer, DWORD toRead, DWORD *pReturned)
{
    std::lock_guard<std::mutex> guard(mutex_);
    Call call{"FT_Read", ConverterOf(handle), handle, {toRead}, {}, 0, FT_OK};
    if (pReturned != nullptr) {
        *pReturned = 0;
    }
    Fault fault{};
    const bool due = TakeFault(call.name, Fault::kEmptyRead, fault);
    Converter *target = TransferTarget(call, due, fault,
                                       pReturned != nullptr && (buffer != nullptr || toRead == 0));
    if (target == nullptr) {
        return Finish(std::move(call));
    }
    Converter &converter = *target;
    if (due) {  // an empty read: the timeout ran out with nothing received
        return Finish(std::move(call));
    }
    const std::size_t n = std::min<std::size_t>(toRead, converter.queue.size());
    call.bytes.assign(converter.queue.begin(), converter.queue.begin() + static_cast<long>(n));
    converter.queue.erase(converter.queue.begin(), converter.queue.begin() + static_cast<long>(n));
    if (n > 0) {
        std::memcpy(buffer, call.bytes.data(), n);
    }
    call.result = static_cast<std::uint32_t>(n);
    *pReturned = static_cast<DWORD>(n);
    return Finish(std::move(call));
}

FT_STATUS D2xxDouble::Write(FT_HANDLE handle, void *buffer, DWORD toWrite, DWORD *pWritten)
{
    std::lock_guard<std::mutex> guard(mutex_);
    Call call{"FT_Write", ConverterOf(handle), handle, {toWrite}, {}, 0, FT_OK};
    if (pWritten != nullptr) {
        *pWritten = 0;
    }
    Fault fault{};
    const bool due = TakeFault(call.name, Fault::kShortWrite, fault);
    Converter *target = TransferTarget(call, due, fault,
                                       pWritten != nullptr && (buffer != nullptr || toWrite == 0));
    if (target == nullptr) {
        return Finish(std::move(call));
    }
    Converter &converter = *target;
    const DWORD accepted = due ? std::min<DWORD>(fault.accepted, toWrite) : toWrite;
    const auto *bytes = static_cast<const std::uint8_t *>(buffer);
    call.bytes.assign(bytes, bytes + accepted);
    call.result = accepted;
    *pWritten = accepted;
    if (converter.responder) {
        const Bytes answer = converter.responder(call.bytes);
        converter.queue.insert(converter.queue.end(), answer.begin(), answer.end());
    }
    return Finish(std::move(call));
}

// The common shape of the setting calls: a due fault, else a check of the
// handle and of the converter's presence, then the setting's own effect.
FT_STATUS D2xxDouble::Setting(const char *name, FT_HANDLE handle, std::vector<std::uint32_t> args,
                              const std::function<void(Converter &)> &apply)
{
    std::lock_guard<std::mutex> guard(mutex_);
    Call call{name, ConverterOf(handle), handle, std::move(args), {}, 0, FT_OK};
    Fault fault{};
    if (TakeFault(call.name, Fault::kStatus, fault)) {
        call.status = fault.status;
        return Finish(std::move(call));
    }
    if (call.converter < 0) {
        call.status = FT_INVALID_HANDLE;
        return Finish(std::move(call));
    }
    Converter &converter = converters_[static_cast<std::size_t>(call.converter)];
    if (!converter.plugged) {
        call.status = FT_IO_ERROR;
        return Finish(std::move(call));
    }
    if (apply) {
        apply(converter);
    }
    return Finish(std::move(call));
}

FT_STATUS D2xxDouble::SetBaudRate(FT_HANDLE handle, ULONG baudRate)
{
    return Setting("FT_SetBaudRate", handle, {baudRate}, {});
}

FT_STATUS D2xxDouble::SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits,
                                             UCHAR parity)
{
    return Setting("FT_SetDataCharacteristics", handle, {wordLength, stopBits, parity}, {});
}

FT_STATUS D2xxDouble::SetTimeouts(FT_HANDLE handle, ULONG readTimeout, ULONG writeTimeout)
{
    return Setting("FT_SetTimeouts", handle, {readTimeout, writeTimeout}, {});
}

FT_STATUS D2xxDouble::SetLatencyTimer(FT_HANDLE handle, UCHAR latency)
{
    return Setting("FT_SetLatencyTimer", handle, {latency}, {});
}

FT_STATUS D2xxDouble::Purge(FT_HANDLE handle, ULONG mask)
{
    return Setting("FT_Purge", handle, {mask}, [mask](Converter &converter) {
        if (mask & FT_PURGE_RX) {
            converter.queue.clear();
        }
    });
}

D2xxDouble &Instance()
{
    static D2xxDouble instance;
    return instance;
}

const D2xxApi &Api()
{
    return kD2xxForwardingApi<&Instance>;
}

Responder Silent()
{
    return [](const Bytes &) { return Bytes{}; };
}

Responder Fixed(Bytes bytes)
{
    return [bytes = std::move(bytes)](const Bytes &) { return bytes; };
}

Responder AnswerFrame(std::uint8_t command, Bytes data)
{
    return Fixed(oracle::Encode(command, data));
}

Responder Identity(const std::string &text)
{
    return AnswerFrame(3, Bytes(text.begin(), text.end()));
}

Responder AnswerTo(std::uint8_t command, Bytes bytes)
{
    return [command, bytes = std::move(bytes)](const Bytes &written) {
        const std::uint8_t code = oracle::Decode(written).command;
        return code == command ? bytes : oracle::Encode(code, {0});
    };
}

}  // namespace d2xxdouble

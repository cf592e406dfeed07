// The virtual converter: one FTDI USB-serial converter, behind the D2XX
// table, with the virtual generator on its serial side. A write hands its
// bytes to the generator at once and queues the generator's answer bytes for
// reading; a read takes what is queued and never waits, so a silent device
// costs no time.
//
// Like a real converter it is counted only while plugged in, and unplugging
// kills the open handle for good: every later call on that handle fails, and
// only a new FT_Open after plugging back in gives a working one.
//
// With PX418USB_VIRTUAL_STATE set, every write meets the generator as the
// state file holds it, so that all processes share one generator; a write
// whose change cannot be kept there fails.
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

#include "d2xx.h"
#include "d2xx_table.h"
#include "virtual/shared_state.h"
#include "virtual/virtual_generator.h"

namespace px418virtual {
namespace {

class Converter {
public:
    FT_STATUS ListDevices(void *pArg1, void *pArg2, DWORD flags);
    FT_STATUS Open(int index, FT_HANDLE *handle);
    FT_STATUS Close(FT_HANDLE handle);
    FT_STATUS Read(FT_HANDLE handle, void *buffer, DWORD count, DWORD *returned);
    FT_STATUS Write(FT_HANDLE handle, void *buffer, DWORD count, DWORD *written);
    FT_STATUS SetBaudRate(FT_HANDLE handle, ULONG baud);
    FT_STATUS SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits,
                                     UCHAR parity);
    FT_STATUS SetTimeouts(FT_HANDLE handle, ULONG readTimeout, ULONG writeTimeout);
    FT_STATUS SetLatencyTimer(FT_HANDLE handle, UCHAR latency);
    FT_STATUS Purge(FT_HANDLE handle, ULONG mask);

    ConverterState State();
    void Reset();

private:
    // FT_OK when `handle` is the open handle of a converter that has stayed
    // plugged in since it was opened. Must be called with mutex_ held.
    FT_STATUS Check(FT_HANDLE handle);
    void DropQueue()
    {
        rx_.clear();
        rxHead_ = 0;
    }

    std::mutex mutex_;
    ConverterState state_;
    FT_HANDLE handle_ = nullptr;    // the open handle; nullptr when none
    std::uint64_t connection_ = 0;  // the generator's connection it was opened on
    bool dead_ = false;             // unplugged since it was opened
    std::uintptr_t serial_ = 0;     // makes every opening's handle distinct
    std::vector<std::uint8_t> rx_;  // answer bytes; rx_[rxHead_..] are unread
    std::size_t rxHead_ = 0;
};

Converter &TheConverter()
{
    static Converter converter;
    return converter;
}

FT_STATUS Converter::Check(FT_HANDLE handle)
{
    if (handle == nullptr || handle != handle_) {
        return FT_INVALID_HANDLE;
    }
    if (!dead_ && TheVirtualGenerator().Connection() != connection_) {
        dead_ = true;
        DropQueue();
    }
    return dead_ ? FT_IO_ERROR : FT_OK;
}

FT_STATUS Converter::ListDevices(void *pArg1, void *, DWORD flags)
{
    if (pArg1 == nullptr || flags != FT_LIST_NUMBER_ONLY) {
        return FT_INVALID_PARAMETER;
    }
    const DWORD count = TheVirtualGenerator().Plugged() ? 1 : 0;
    std::memcpy(pArg1, &count, sizeof count);
    return FT_OK;
}

FT_STATUS Converter::Open(int index, FT_HANDLE *handle)
{
    if (handle == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    std::lock_guard lock(mutex_);
    *handle = nullptr;
    const std::uint64_t connection = TheVirtualGenerator().Connection();
    if (index != 0 || connection == 0) {
        return FT_DEVICE_NOT_FOUND;
    }
    if (handle_ != nullptr) {
        // A handle from before an unplug no longer holds the converter.
        Check(handle_);
        if (!dead_) {
            return FT_DEVICE_NOT_OPENED;  // in use
        }
    }
    // The handle is a token, never dereferenced; each opening gets a new one
    // so that a stale handle cannot pass for the current one.
    ++serial_;
    handle_ = reinterpret_cast<FT_HANDLE>(static_cast<std::uintptr_t>(0x7A000 + 0x10 * serial_));
    connection_ = connection;
    dead_ = false;
    DropQueue();
    const ConverterState counters = state_;
    state_ = ConverterState{};
    state_.open = true;
    state_.opens = counters.opens + 1;
    state_.closes = counters.closes;
    state_.purges = counters.purges;
    *handle = handle_;
    return FT_OK;
}

FT_STATUS Converter::Close(FT_HANDLE handle)
{
    std::lock_guard lock(mutex_);
    const FT_STATUS status = Check(handle);
    if (status == FT_INVALID_HANDLE) {
        return status;
    }
    // Closing releases the handle even when its converter is gone; the
    // status tells that the converter was no longer there.
    handle_ = nullptr;
    dead_ = false;
    DropQueue();
    state_.open = false;
    ++state_.closes;
    return status;
}

FT_STATUS Converter::Read(FT_HANDLE handle, void *buffer, DWORD count, DWORD *returned)
{
    if (returned != nullptr) {
        *returned = 0;
    }
    std::lock_guard lock(mutex_);
    if (const FT_STATUS status = Check(handle); status != FT_OK) {
        return status;
    }
    if (returned == nullptr || (buffer == nullptr && count != 0)) {
        return FT_INVALID_PARAMETER;
    }
    const std::size_t available = rx_.size() - rxHead_;
    const std::size_t n = count < available ? count : available;
    if (n != 0) {
        std::memcpy(buffer, rx_.data() + rxHead_, n);
    }
    rxHead_ += n;
    if (rxHead_ == rx_.size()) {
        DropQueue();  // keeps the capacity: no allocation next time
    }
    *returned = static_cast<DWORD>(n);
    return FT_OK;
}

FT_STATUS Converter::Write(FT_HANDLE handle, void *buffer, DWORD count, DWORD *written)
{
    if (written != nullptr) {
        *written = 0;
    }
    std::lock_guard lock(mutex_);
    if (const FT_STATUS status = Check(handle); status != FT_OK) {
        return status;
    }
    if (written == nullptr || (buffer == nullptr && count != 0)) {
        return FT_INVALID_PARAMETER;
    }
    std::vector<std::uint8_t> answer;
    bool stored = false;
    {
        SharedStateExchange shared(TheVirtualGenerator());
        answer = TheVirtualGenerator().Receive(static_cast<const std::uint8_t *>(buffer), count);
        stored = shared.Store();
    }
    if (!stored) {
        // The shared generator could not take the change: like a line that
        // fails, nothing got through and nothing answers.
        return FT_IO_ERROR;
    }
    if (TheVirtualGenerator().Connection() != connection_) {
        // Unplugged while writing: nothing got through.
        dead_ = true;
        DropQueue();
        return FT_IO_ERROR;
    }
    rx_.insert(rx_.end(), answer.begin(), answer.end());
    *written = count;
    return FT_OK;
}

FT_STATUS Converter::SetBaudRate(FT_HANDLE handle, ULONG baud)
{
    std::lock_guard lock(mutex_);
    if (const FT_STATUS status = Check(handle); status != FT_OK) {
        return status;
    }
    state_.baudRate = baud;
    return FT_OK;
}

FT_STATUS Converter::SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits,
                                            UCHAR parity)
{
    std::lock_guard lock(mutex_);
    if (const FT_STATUS status = Check(handle); status != FT_OK) {
        return status;
    }
    state_.wordLength = wordLength;
    state_.stopBits = stopBits;
    state_.parity = parity;
    return FT_OK;
}

FT_STATUS Converter::SetTimeouts(FT_HANDLE handle, ULONG readTimeout, ULONG writeTimeout)
{
    std::lock_guard lock(mutex_);
    if (const FT_STATUS status = Check(handle); status != FT_OK) {
        return status;
    }
    state_.readTimeout = readTimeout;
    state_.writeTimeout = writeTimeout;
    return FT_OK;
}

FT_STATUS Converter::SetLatencyTimer(FT_HANDLE handle, UCHAR latency)
{
    std::lock_guard lock(mutex_);
    if (const FT_STATUS status = Check(handle); status != FT_OK) {
        return status;
    }
    state_.latency = latency;
    return FT_OK;
}

FT_STATUS Converter::Purge(FT_HANDLE handle, ULONG mask)
{
    std::lock_guard lock(mutex_);
    if (const FT_STATUS status = Check(handle); status != FT_OK) {
        return status;
    }
    // Written bytes reach the generator at once, so the transmit side never
    // holds anything; only the receive queue has something to clear.
    if (mask & FT_PURGE_RX) {
        DropQueue();
    }
    ++state_.purges;
    return FT_OK;
}

ConverterState Converter::State()
{
    std::lock_guard lock(mutex_);
    if (handle_ != nullptr) {
        Check(handle_);
    }
    ConverterState s = state_;
    s.queued = rx_.size() - rxHead_;
    return s;
}

void Converter::Reset()
{
    std::lock_guard lock(mutex_);
    handle_ = nullptr;
    connection_ = 0;
    dead_ = false;
    DropQueue();
    state_ = ConverterState{};
}

// The D2XX table: every call goes to the one converter.
constexpr const D2xxApi &kVirtualApi = kD2xxForwardingApi<&TheConverter>;

}  // namespace

ConverterState VirtualConverterState()
{
    return TheConverter().State();
}

void ResetVirtualConverter()
{
    TheConverter().Reset();
}

}  // namespace px418virtual

const D2xxApi *D2xxVirtualProvider()
{
    return &px418virtual::kVirtualApi;
}

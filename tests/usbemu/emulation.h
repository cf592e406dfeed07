// The inside of the emulation, shared by the libusb entry points
// (libusb.cpp), the converters (converter.cpp) and the control interface
// (control.cpp). Everything here is guarded by the one lock, Emu().mutex;
// every function and member below expects the caller to hold it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include <libusb-1.0/libusb.h>

#include "usbemu.h"

namespace usbemu::detail {

using TimePoint = Clock::time_point;
using Duration = Clock::duration;
constexpr TimePoint kNever = TimePoint::max();

struct Converter;

// A transfer on its way: a synchronous one lives on its caller's stack, an
// asynchronous one belongs to the emulation until its callback has run.
struct Flight {
    libusb_device_handle *handle = nullptr;
    std::shared_ptr<Converter> converter;
    bool in = false;
    unsigned char *buffer = nullptr;
    int length = 0;
    TimePoint start;
    TimePoint deadline = kNever;
    TimePoint pollFrom;    // in: when the host asks for the next packet
    TimePoint acceptedAt;  // out: when the converter has taken the last byte
    bool forcedTimeout = false;
    bool cancelled = false;
    int actual = 0;
    int packets = 0;
    Bytes data;  // in: data bytes delivered; out: bytes accepted
    bool done = false;
    int error = 0;  // LIBUSB_SUCCESS or a libusb error
    bool wasCancelled = false;
    TimePoint ended;
    libusb_transfer *transfer = nullptr;  // asynchronous only
};

struct TxChunk {
    Bytes bytes;
    TimePoint start;
    Duration byteTime;
    TimePoint Finish(std::size_t i) const
    {
        return start + byteTime * static_cast<Duration::rep>(i + 1);
    }
    TimePoint End() const { return Finish(bytes.size() - 1); }
};

struct RxByte {
    std::uint8_t value;
    TimePoint ready;  // its stop bit is in, the host may read it
};

struct Fault {
    int error;
    int count;
    Transfers which;
};

struct Converter {
    int index = 0;
    ConverterSetup setup;
    bool present = true;  // false once Reset() removed it
    bool plugged = false;
    std::uint64_t generation = 0;
    std::uint8_t address = 0;
    Peer peer;
    std::chrono::microseconds turnaround{};
    int refuseOpen = 0;
    bool kernelDriver = true;
    bool busy = false;
    libusb_device_handle *claimedBy = nullptr;
    int openHandles = 0;
    int configuration = 1;
    LineSettings line;
    std::deque<TxChunk> tx;
    TimePoint txFree;
    std::deque<RxByte> rx;
    TimePoint rxFree;
    TimePoint lastPacket;
    std::vector<Flight *> flights;  // unfinished transfers, in submission order
    std::vector<Fault> faults;
    std::vector<int> bauds;
    Counters counters;

    // Power-on state: default settings, empty buffers, timer running.
    void PowerOn(TimePoint now);
    Duration ByteTime() const;
    // Hands every chunk whose last byte is on the wire by `now` to the peer.
    void Deliver(TimePoint now);
    TimePoint NextDelivery() const;
    // Puts bytes on the RX line, starting at `from` or when it is free.
    void QueueRx(const Bytes &bytes, TimePoint from);
    void PurgeTx(TimePoint now);
    void PurgeRx(TimePoint now);
    // A control request; returns the byte count of the data stage or an error.
    int Control(std::uint8_t requestType, std::uint8_t request, std::uint16_t wValue,
                std::uint16_t wIndex, unsigned char *data, std::uint16_t length, TimePoint now);
    // Queues a bulk-out transfer's bytes on the TX line.
    void StartOut(Flight &flight, TimePoint now);
    // Moves a bulk-in transfer on to `now`: true when it has ended; else
    // `wake` is when it next may.
    bool StepIn(Flight &flight, TimePoint now, TimePoint &wake);
    // Takes the next fault for this kind of transfer; 0 when none is due.
    int TakeFault(bool control, bool in);

    libusb_device_descriptor DeviceDescriptor() const;
    Bytes ConfigDescriptorBytes() const;
    // String descriptor `number` (0: the language list); empty when none.
    Bytes StringDescriptor(std::uint8_t number) const;

private:
    TimePoint NextPacketTime(TimePoint pollFrom) const;
    void Record(EventKind kind, TimePoint time, Bytes data = {}, Bytes answer = {});
};

struct HotplugCallback {
    int handle;
    int events;
    int vendorId;
    int productId;
    int deviceClass;
    libusb_hotplug_callback_fn function;
    void *userData;
};

struct HotplugEvent {
    libusb_device *device;  // holds a reference until delivered
    libusb_hotplug_event event;
};

struct Emulation {
    std::mutex mutex;
    std::condition_variable changed;  // any state change; every waiter re-checks
    std::vector<std::shared_ptr<Converter>> converters;
    std::vector<libusb_context *> contexts;
    std::vector<libusb_context *> retired;  // exited, never freed
    libusb_context *defaultContext = nullptr;
    std::deque<Event> log;
    std::map<libusb_transfer *, std::unique_ptr<Flight>> asyncFlights;
    std::map<int, int> lastAddress;  // bus -> last address given out
    std::atomic<bool> hotplugSupported{true};

    void Record(Event event);
    // Moves every converter and transfer on to `now`; returns when something
    // next happens by itself.
    TimePoint Pump(TimePoint now);
    // Ends a transfer: logs it, counts it, takes it off its converter.
    void Finish(Flight &flight, int error, TimePoint when);
    void PlugIn(Converter &converter, TimePoint now);
    // Unplugs; `announce`: sends hot-plug "left".
    void PullOut(Converter &converter, TimePoint now, bool announce);
    // Queues a hot-plug event for every context that has callbacks.
    void Announce(Converter &converter, libusb_hotplug_event event);
    // The context's device object for the converter as it is plugged in now
    // (libusb keeps one per context); the context holds a reference to it.
    libusb_device *DeviceFor(libusb_context *context, Converter &converter);
    Converter &At(int index);
    void StartWire();

private:
    bool wireStarted_ = false;
};

Emulation &Emu();

// Device reference counting (libusb_ref_device / libusb_unref_device).
void RefDevice(libusb_device *device);
void UnrefDevice(libusb_device *device);
bool Attached(const libusb_device *device);

}  // namespace usbemu::detail

// libusb's opaque types, defined here.
struct libusb_context {
    std::vector<libusb_device *> devices;  // one reference each
    std::vector<usbemu::detail::HotplugCallback> callbacks;
    int nextCallback = 1;
    std::deque<usbemu::detail::HotplugEvent> hotplugEvents;
    std::vector<usbemu::detail::Flight *> flights;  // asynchronous transfers submitted here
    int refs = 1;  // the default context counts its libusb_init calls
};

struct libusb_device {
    int refs = 1;
    libusb_context *context = nullptr;
    std::shared_ptr<usbemu::detail::Converter> converter;
    std::uint64_t generation = 0;
    std::uint8_t address = 0;
};

struct libusb_device_handle {
    libusb_device *device = nullptr;
    libusb_context *context = nullptr;
    bool autoDetach = false;
    bool claimed = false;
};

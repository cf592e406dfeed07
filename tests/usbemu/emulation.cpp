// The emulation's shared state and its clock work: moving transfers and
// serial bytes on, plugging converters in and out, the log.
#include "emulation.h"

#include <algorithm>
#include <thread>

namespace usbemu::detail {

namespace {

constexpr std::size_t kLogLimit = 100000;

}  // namespace

Emulation &Emu()
{
    // Never destroyed: the wire thread and late libusb calls from other
    // libraries' destructors may still use it while the process exits.
    static Emulation *emulation = new Emulation;
    return *emulation;
}

void RefDevice(libusb_device *device)
{
    ++device->refs;
}

void UnrefDevice(libusb_device *device)
{
    if (device != nullptr && --device->refs == 0) {
        delete device;
    }
}

bool Attached(const libusb_device *device)
{
    const Converter &c = *device->converter;
    return c.present && c.plugged && c.generation == device->generation;
}

void Emulation::Record(Event event)
{
    log.push_back(std::move(event));
    if (log.size() > kLogLimit) {
        log.pop_front();
    }
}

Converter &Emulation::At(int index)
{
    return *converters.at(static_cast<std::size_t>(index));
}

TimePoint Emulation::Pump(TimePoint now)
{
    TimePoint wake = kNever;
    for (const auto &converter : converters) {
        Converter &c = *converter;
        if (!c.present) {
            continue;
        }
        const std::size_t before = c.rx.size();
        c.Deliver(now);
        if (c.rx.size() != before) {
            changed.notify_all();  // a waiting read may get its packet sooner
        }
        wake = std::min(wake, c.NextDelivery());

        // Bulk-in transfers take their turn on the endpoint one after the
        // other; a queued one can only time out.
        bool inBusy = false;
        const std::vector<Flight *> flights = c.flights;
        for (Flight *f : flights) {
            TimePoint next = kNever;
            if (f->forcedTimeout) {
                if (now >= f->deadline) {
                    Finish(*f, LIBUSB_ERROR_TIMEOUT, f->deadline);
                } else {
                    next = f->deadline;
                }
            } else if (!f->in) {
                if (now >= f->acceptedAt) {
                    Finish(*f, LIBUSB_SUCCESS, f->acceptedAt);
                } else {
                    next = f->acceptedAt;
                }
            } else if (inBusy) {
                if (now >= f->deadline) {
                    Finish(*f, LIBUSB_ERROR_TIMEOUT, f->deadline);
                } else {
                    next = f->deadline;
                }
            } else if (c.StepIn(*f, now, next)) {
                Finish(*f, f->error, f->ended);
            } else {
                inBusy = true;
            }
            if (!f->done && f->cancelled) {
                f->wasCancelled = true;
                Finish(*f, LIBUSB_ERROR_INTERRUPTED, now);
            }
            if (!f->done) {
                wake = std::min(wake, next);
            }
        }
    }
    return wake;
}

void Emulation::Finish(Flight &flight, int error, TimePoint when)
{
    flight.done = true;
    flight.error = error;
    flight.ended = when;
    Converter &c = *flight.converter;
    c.flights.erase(std::remove(c.flights.begin(), c.flights.end(), &flight), c.flights.end());

    Event event;
    event.time = when;
    event.start = flight.start;
    event.converter = c.index;
    event.kind = flight.in ? EventKind::BulkIn : EventKind::BulkOut;
    event.result = error;
    event.data = flight.data;
    event.packets = flight.packets;
    Record(std::move(event));
    if (flight.in) {
        ++c.counters.bulkInTransfers;
        c.counters.bulkInPackets += flight.packets;
        c.counters.bulkInBytes += flight.data.size();
    } else {
        ++c.counters.bulkOutTransfers;
        c.counters.bulkOutBytes += flight.data.size();
    }
    changed.notify_all();
}

void Emulation::PlugIn(Converter &c, TimePoint now)
{
    c.plugged = true;
    ++c.generation;
    if (c.setup.address != 0) {
        c.address = c.setup.address;
    } else {
        int &last = lastAddress[c.setup.bus];
        last = last % 127 + 1;
        c.address = static_cast<std::uint8_t>(last);
    }
    c.PowerOn(now);
    c.kernelDriver = true;  // the serial driver binds to a new device
    c.busy = false;
    c.claimedBy = nullptr;

    Event event;
    event.time = event.start = now;
    event.converter = c.index;
    event.kind = EventKind::Plug;
    Record(std::move(event));
    Announce(c, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED);
    StartWire();
    changed.notify_all();
}

void Emulation::PullOut(Converter &c, TimePoint now, bool announce)
{
    if (!c.plugged) {
        return;
    }
    Pump(now);  // what was due before the plug came out still happened
    const std::vector<Flight *> flights = c.flights;
    for (Flight *f : flights) {
        Finish(*f, LIBUSB_ERROR_NO_DEVICE, now);
    }
    c.tx.clear();
    c.rx.clear();
    c.claimedBy = nullptr;
    c.kernelDriver = false;
    c.busy = false;

    Event event;
    event.time = event.start = now;
    event.converter = c.index;
    event.kind = EventKind::Unplug;
    Record(std::move(event));
    if (announce) {
        Announce(c, LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT);
    }
    c.plugged = false;
    for (libusb_context *context : contexts) {
        auto &devices = context->devices;
        for (auto it = devices.begin(); it != devices.end();) {
            if ((*it)->converter.get() == &c) {
                UnrefDevice(*it);
                it = devices.erase(it);
            } else {
                ++it;
            }
        }
    }
    changed.notify_all();
}

void Emulation::Announce(Converter &c, libusb_hotplug_event event)
{
    for (libusb_context *context : contexts) {
        if (context->callbacks.empty()) {
            continue;
        }
        libusb_device *device = DeviceFor(context, c);
        RefDevice(device);
        context->hotplugEvents.push_back({device, event});
    }
}

libusb_device *Emulation::DeviceFor(libusb_context *context, Converter &c)
{
    for (libusb_device *device : context->devices) {
        if (device->converter.get() == &c && device->generation == c.generation) {
            return device;
        }
    }
    auto *device = new libusb_device;
    device->context = context;
    device->converter = converters.at(static_cast<std::size_t>(c.index));
    device->generation = c.generation;
    device->address = c.address;
    context->devices.push_back(device);
    return device;
}

void Emulation::StartWire()
{
    if (wireStarted_) {
        return;
    }
    wireStarted_ = true;
    // Hands written bytes to the peers on time even when nobody polls, and
    // finishes transfers that nobody waits on. Runs until the process ends.
    std::thread([this] {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            const TimePoint wake = Pump(Clock::now());
            if (wake == kNever) {
                changed.wait(lock);
            } else {
                changed.wait_until(lock, wake);
            }
        }
    }).detach();
}

}  // namespace usbemu::detail

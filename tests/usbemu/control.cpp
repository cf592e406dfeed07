// The control interface of usbemu.h, and the ready-made peers.
#include <algorithm>

#include "emulation.h"

namespace usbemu {

using namespace detail;

namespace {

using Lock = std::unique_lock<std::mutex>;

}  // namespace

void Reset()
{
    Emulation &emu = Emu();
    Lock lock(emu.mutex);
    const TimePoint now = Clock::now();
    for (const auto &converter : emu.converters) {
        converter->peer = nullptr;  // the test may have destroyed it already
        emu.PullOut(*converter, now, false);
        converter->present = false;
    }
    emu.converters.clear();
    emu.lastAddress.clear();
    emu.log.clear();
    emu.hotplugSupported = true;
    emu.changed.notify_all();
}

int AddConverter(const ConverterSetup &setup)
{
    Emulation &emu = Emu();
    Lock lock(emu.mutex);
    auto converter = std::make_shared<Converter>();
    converter->index = static_cast<int>(emu.converters.size());
    converter->setup = setup;
    if (converter->setup.ports.size() > 7) {
        converter->setup.ports.resize(7);  // USB allows no deeper hub chain
    }
    emu.converters.push_back(converter);
    emu.PlugIn(*converter, Clock::now());
    return converter->index;
}

int ConverterCount()
{
    Lock lock(Emu().mutex);
    return static_cast<int>(Emu().converters.size());
}

void SetPeer(int converter, Peer peer, std::chrono::microseconds turnaround)
{
    Emulation &emu = Emu();
    Lock lock(emu.mutex);
    Converter &c = emu.At(converter);
    c.peer = std::move(peer);
    c.turnaround = turnaround;
}

void PeerSend(int converter, const Bytes &bytes)
{
    Emulation &emu = Emu();
    Lock lock(emu.mutex);
    Converter &c = emu.At(converter);
    if (!c.plugged) {
        return;  // nobody hears it
    }
    c.QueueRx(bytes, Clock::now());
    emu.changed.notify_all();
}

void Unplug(int converter)
{
    Emulation &emu = Emu();
    Lock lock(emu.mutex);
    emu.PullOut(emu.At(converter), Clock::now(), true);
}

void Plug(int converter)
{
    Emulation &emu = Emu();
    Lock lock(emu.mutex);
    Converter &c = emu.At(converter);
    if (!c.plugged) {
        emu.PlugIn(c, Clock::now());
    }
}

void SetHotplugSupported(bool supported)
{
    Emu().hotplugSupported = supported;
}

void RefuseOpen(int converter, int error)
{
    Emulation &emu = Emu();
    Lock lock(emu.mutex);
    emu.At(converter).refuseOpen = error;
}

void SetKernelDriver(int converter, bool active, bool busy)
{
    Emulation &emu = Emu();
    Lock lock(emu.mutex);
    Converter &c = emu.At(converter);
    c.kernelDriver = active;
    c.busy = active && busy;  // only a bound driver has a tty to hold
}

void FailTransfers(int converter, int error, int count, Transfers which)
{
    Emulation &emu = Emu();
    Lock lock(emu.mutex);
    if (count > 0 && error < 0) {
        emu.At(converter).faults.push_back({error, count, which});
    }
}

ConverterState State(int converter)
{
    Emulation &emu = Emu();
    Lock lock(emu.mutex);
    const TimePoint now = Clock::now();
    emu.Pump(now);
    const Converter &c = emu.At(converter);
    ConverterState state;
    state.plugged = c.plugged;
    state.address = c.address;
    state.kernelDriverActive = c.kernelDriver;
    state.busy = c.busy;
    state.claimed = c.claimedBy != nullptr;
    state.openHandles = c.openHandles;
    state.line = c.line;
    for (const TxChunk &chunk : c.tx) {
        state.txPending += chunk.bytes.size();
    }
    state.rxPending = c.rx.size();
    return state;
}

Counters GetCounters(int converter)
{
    Emulation &emu = Emu();
    Lock lock(emu.mutex);
    emu.Pump(Clock::now());
    return emu.At(converter).counters;
}

std::vector<Event> Log(int converter)
{
    Emulation &emu = Emu();
    Lock lock(emu.mutex);
    emu.Pump(Clock::now());
    std::vector<Event> events;
    for (const Event &event : emu.log) {
        if (converter < 0 || event.converter == converter) {
            events.push_back(event);
        }
    }
    return events;
}

std::vector<int> BaudRates(int converter)
{
    Emulation &emu = Emu();
    Lock lock(emu.mutex);
    return emu.At(converter).bauds;
}

void ClearLog()
{
    Emulation &emu = Emu();
    Lock lock(emu.mutex);
    emu.log.clear();
    for (const auto &converter : emu.converters) {
        converter->counters = Counters{};
        converter->bauds.clear();
    }
}

const char *EventName(EventKind kind)
{
    switch (kind) {
    case EventKind::Plug:
        return "Plug";
    case EventKind::Unplug:
        return "Unplug";
    case EventKind::Open:
        return "Open";
    case EventKind::OpenRefused:
        return "OpenRefused";
    case EventKind::Close:
        return "Close";
    case EventKind::Claim:
        return "Claim";
    case EventKind::Release:
        return "Release";
    case EventKind::DetachKernelDriver:
        return "DetachKernelDriver";
    case EventKind::AttachKernelDriver:
        return "AttachKernelDriver";
    case EventKind::Control:
        return "Control";
    case EventKind::BulkOut:
        return "BulkOut";
    case EventKind::BulkIn:
        return "BulkIn";
    case EventKind::Exchange:
        return "Exchange";
    }
    return "?";
}

Peer Silent()
{
    return [](const std::uint8_t *, std::size_t) { return Bytes{}; };
}

Peer Echo()
{
    return [](const std::uint8_t *bytes, std::size_t count) { return Bytes(bytes, bytes + count); };
}

Peer Fixed(Bytes answer)
{
    return [answer = std::move(answer)](const std::uint8_t *, std::size_t) { return answer; };
}

}  // namespace usbemu

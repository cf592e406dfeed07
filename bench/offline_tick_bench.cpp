// What one off-line tick of the program costs with the default converter
// driver (libftdi1) when the bus holds FTDI converters but no generator:
// CPU time, and the USB traffic the converters see, counted by the emulated
// converters that stand in for the system's libusb here.
//
// The bus: a foreign device that answers the info request with another
// identity, a converter whose serial port another program holds open, and
// (second run) a silent converter. A tick is one PX418_OpenDevice; ticks
// come 100 ms apart, as the program's timer makes them. The first ticks
// meet the converters for the first time; the figures are those of the
// ticks after, with nothing changed on the bus.
//
// libusb's hot-plug support is what spares the enumeration at each tick;
// run with --benchmark_filter=hotplug:0 alone to see a tick without it.
#include <chrono>
#include <ctime>
#include <thread>

#include <benchmark/benchmark.h>

#include "d2xx.h"
#include "fake_system_tree.h"
#include "px418usb.h"
#include "usbemu.h"
#include "virtual/virtual_generator.h"

namespace {

constexpr int kWarmUpTicks = 15;
constexpr auto kTickInterval = std::chrono::milliseconds(100);

usbemu::Counters Total()
{
    usbemu::Counters sum;
    for (int i = 0; i < usbemu::ConverterCount(); ++i) {
        const usbemu::Counters c = usbemu::GetCounters(i);
        sum.opens += c.opens + c.refusedOpens;
        sum.detaches += c.detaches;
        sum.busyDetaches += c.busyDetaches;
        sum.controlRequests += c.controlRequests;
        sum.resets += c.resets;
        sum.bulkOutTransfers += c.bulkOutTransfers;
        sum.bulkInTransfers += c.bulkInTransfers;
    }
    return sum;
}

// The kernel's view: the busy converter's tty, held open by a program.
FakeSystemTree &System()
{
    static FakeSystemTree tree;
    return tree;
}

void SetUpBus(bool withSilent)
{
    usbemu::Reset();
    System().RemoveTtys();
    System().AddTty(1, {2}, "ttyUSB1");
    System().EndProcess(4242);
    System().HoldOpen(4242, "/dev/ttyUSB1");
    D2xxLibftdiSetSystemRoots(System().Sys().c_str(), System().Proc().c_str());

    usbemu::ConverterSetup setup;
    setup.serial = "FOREIGN1";
    setup.ports = {1};
    const int foreign = usbemu::AddConverter(setup);
    const std::vector<std::uint8_t> identity = {'G', 'P', 'S', '-', '7', ' ', 'r', 'x'};
    usbemu::SetPeer(foreign, usbemu::Fixed(px418virtual::EncodeFrame(PX418_CMD_INFO, identity)));

    setup.serial = "BUSY0001";
    setup.ports = {2};
    const int busy = usbemu::AddConverter(setup);
    usbemu::SetKernelDriver(busy, true, true);

    if (withSilent) {
        setup.serial = "SILENT01";
        setup.ports = {3};
        usbemu::AddConverter(setup);
    }
}

bool driverStarted = false;

void BM_OffLineTick(benchmark::State &state)
{
    // Hot-plug support is looked at once, when the driver starts: only the
    // first run of the process can go without it.
    if (state.range(1) == 0 && driverStarted) {
        state.SkipWithError("run alone: --benchmark_filter=hotplug:0");
        for (auto _ : state) {
        }
        return;
    }
    driverStarted = true;
    SetUpBus(state.range(0) != 0);
    usbemu::SetHotplugSupported(state.range(1) != 0);
    for (int i = 0; i < kWarmUpTicks; ++i) {
        if (PX418_OpenDevice()) {
            PX418_CloseDevice();
        }
        std::this_thread::sleep_for(kTickInterval);
    }
    // The first detach takes the tty from the program that held it: counted
    // over the warm-up too.
    int busyDetaches = Total().busyDetaches;
    usbemu::ClearLog();

    double wallMs = 0;
    double processCpuMs = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const std::clock_t cpuStart = std::clock();
        if (PX418_OpenDevice()) {
            state.SkipWithError("a generator was found where there is none");
            break;
        }
        processCpuMs += 1000.0 * static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        wallMs +=
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        state.PauseTiming();
        std::this_thread::sleep_for(kTickInterval);
        state.ResumeTiming();
    }

    const usbemu::Counters t = Total();
    const auto perTick = [](double v) {
        return benchmark::Counter(v, benchmark::Counter::kAvgIterations);
    };
    busyDetaches += t.busyDetaches;
    state.counters["wall_ms"] = perTick(wallMs);
    state.counters["process_cpu_ms"] = perTick(processCpuMs);
    state.counters["opens"] = perTick(t.opens);
    state.counters["detaches"] = perTick(t.detaches);
    state.counters["busy_detaches_in_all"] = busyDetaches;
    state.counters["control"] = perTick(t.controlRequests);
    state.counters["resets"] = perTick(t.resets);
    state.counters["bulk_out"] = perTick(t.bulkOutTransfers);
    state.counters["bulk_in"] = perTick(t.bulkInTransfers);
    usbemu::Reset();
}
BENCHMARK(BM_OffLineTick)
    ->ArgNames({"silent", "hotplug"})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({0, 0})
    ->Iterations(30)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

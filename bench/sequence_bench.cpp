// How soon a sequence's states take effect on a converter: the time from a
// state being due to its closing write being acknowledged, over the default
// driver (libftdi1) on an emulated FT232R converter with the virtual
// generator behind it, its serial lines paced at 38400 baud.
//
// Each benchmark runs one sequence of kStates states, 100 ms each, that
// change 1, 3 or 9 values from one state to the next (one write; or that
// many writes and the closing one), through the sequencer with the steady
// clock, as px418ctl run does. The counters: the median and the 99th
// percentile of due to acknowledged, in ms; wire_ms, the time the same
// writes' request and answer frames take on the serial line alone (10 bits
// a byte at 38400 baud); the writes per state. Time is the whole run's.
#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "d2xx.h"
#include "emulated_bus.h"
#include "fake_system_tree.h"
#include "param_runs.h"
#include "px418usb.h"
#include "sequencer.h"
#include "virtual/virtual_generator.h"

namespace {

constexpr int kStates = 200;
constexpr std::int64_t kStateMs = 100;
constexpr double kBitsPerByte = 10;
constexpr double kBaud = 38400;

px418virtual::VirtualGenerator generator;

FakeSystemTree &System()
{
    static FakeSystemTree tree;
    return tree;
}

bool OnLine()
{
    static const bool plugged = [] {
        usbemu::Reset();
        D2xxLibftdiSetSystemRoots(System().Sys().c_str(), System().Proc().c_str());
        emulated::AddGenerator(generator, emulated::At(1));
        const char *why = nullptr;
        D2xxInstall(D2xxLibftdiProvider(&why));
        return true;
    }();
    (void)plugged;
    generator.Reset();
    return PX418_OpenDevice();
}

// The first `changed` values of the nine quantities (A freq, A phase, A
// ampl, B freq ...), each away from the power-on value in odd states and
// back in even ones, so that every state changes exactly those.
Sequence Alternating(int changed)
{
    Sequence sequence;
    for (int k = 0; k < kStates; ++k) {
        SequenceState state;
        state.name = QStringLiteral("S%1").arg(k);
        state.durationMs = kStateMs;
        const bool away = k % 2 == 0;
        for (int v = 1; v <= changed; ++v) {
            const SequenceSlot slot = SlotOf(v);
            std::int32_t entry = 0;
            switch (slot.quantity) {
            case PX418_OUT_FREQUENCY:
                entry = away ? 60000 : 50000;
                break;
            case PX418_OUT_PHASE:
                entry = (slot.channel == 0   ? 0
                         : slot.channel == 1 ? -1200
                                             : 1200)
                        + (away ? 50 : 0);
                break;
            default:
                entry = away ? 500 : 1000;
                break;
            }
            state.values[v] = StateValue{entry, std::nullopt};
        }
        sequence.states.push_back(state);
    }
    return sequence;
}

// The seconds the request and answer frames of these writes take on the
// serial line.
double WireSeconds(const std::vector<DeviceWrite> &writes)
{
    double bytes = 0;
    for (const DeviceWrite &w : writes) {
        std::vector<std::uint8_t> data(PX418_SET_PAR_LENGTH);
        data[0] = static_cast<std::uint8_t>(w.group);
        data[1] = static_cast<std::uint8_t>(w.number);
        px418_put_le32(&data[2], w.value);
        bytes += static_cast<double>(px418virtual::EncodeFrame(PX418_CMD_SET_PAR, data).size());
        bytes += static_cast<double>(
            px418virtual::EncodeFrame(PX418_CMD_SET_PAR, {PX418_ERR_NONE}).size());
    }
    return bytes * kBitsPerByte / kBaud;
}

double Percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[at];
}

void BM_StateTransition(benchmark::State &state)
{
    const int changed = static_cast<int>(state.range(0));
    if (!OnLine()) {
        state.SkipWithError("no generator on the emulated converter");
        for (auto _ : state) {
        }
        return;
    }
    ParamTable before{};
    RecallParamTable(before);
    const Sequence sequence = Alternating(changed);

    std::vector<double> lateMs;
    std::vector<double> wireMs;
    std::size_t writes = 0;
    for (auto _ : state) {
        Sequencer run(
            sequence, before,
            [] {
                return std::chrono::duration_cast<SequenceTime>(
                    std::chrono::steady_clock::now().time_since_epoch());
            },
            [](const DeviceWrite &w) { SendWrite(w); });
        run.OnEntry = [&](const SequenceLogEntry &e) {
            if (e.event != SequenceLogEntry::Event::State) {
                return;
            }
            lateMs.push_back(std::chrono::duration<double, std::milli>(e.effect - e.due).count());
            const std::vector<DeviceWrite> sent = SettingWrites(e.written);
            wireMs.push_back(WireSeconds(sent) * 1000);
            writes = sent.size();
        };
        for (;;) {
            const Sequencer::Next next = run.Advance();
            if (next.wait == Sequencer::Wait::Done) {
                break;
            }
            const SequenceTime left = next.at - run.Elapsed();
            if (left > SequenceTime{}) {
                std::this_thread::sleep_for(left);
            }
        }
        if (run.Failure()) {
            state.SkipWithError("a write failed");
            break;
        }
    }
    PX418_CloseDevice();
    if (lateMs.empty()) {
        return;
    }
    state.counters["median_ms"] = Percentile(lateMs, 0.5);
    state.counters["p99_ms"] = Percentile(lateMs, 0.99);
    state.counters["wire_ms"] = Percentile(wireMs, 0.5);
    state.counters["writes"] = static_cast<double>(writes);
}

BENCHMARK(BM_StateTransition)
    ->ArgNames({"changed"})
    ->Arg(1)
    ->Arg(3)
    ->Arg(9)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// The run of a sequence on a fake clock and a fake device: what is written,
// in which order, when, and what the log says.
#include "sequencer.h"

#include <map>

#include <gtest/gtest.h>

#include "exception.h"

// Writes print as (group, 0xnumber, value).
void PrintTo(const DeviceWrite &w, std::ostream *os)
{
    *os << "(" << w.group << ", 0x" << std::hex << w.number << std::dec << ", " << w.value << ")";
}

namespace {

using std::chrono::milliseconds;
using Write = DeviceWrite;

constexpr int kA = 0;
constexpr int kB = 1;
constexpr int kFreq = PX418_OUT_FREQUENCY;
constexpr int kPhase = PX418_OUT_PHASE;
constexpr int kAmpl = PX418_OUT_AMPLITUDE;

// The generator at power-on: 50 Hz, 10 V, phases 0, -120, 120 degrees.
const ParamTable kPowerOn = {0, 50000, 0, 1000, 0, 50000, -1200, 1000, 0, 50000, 1200, 1000};

// A device on a clock of its own: every write takes `perWrite`, the n-th
// (from 0) write in `failing` is refused.
struct FakeDevice {
    SequenceTime now{};
    SequenceTime perWrite{};
    std::map<std::size_t, bool> failing;
    std::vector<Write> writes;
    std::vector<SequenceTime> acknowledged;

    std::size_t attempts = 0;

    void Take(const DeviceWrite &w)
    {
        now += perWrite;
        if (failing.count(attempts++)) {
            throw Exception(QStringLiteral("Set parameter error: device is not responding."));
        }
        writes.push_back({w.group, w.number, w.value});
        acknowledged.push_back(now);
    }
};

SequenceState State(const char *name, std::int64_t ms,
                    std::vector<std::pair<int, StateValue>> values = {})
{
    SequenceState s;
    s.name = QString::fromLatin1(name);
    s.durationMs = ms;
    for (const auto &[v, value] : values) {
        s.values[v] = value;
    }
    return s;
}

int V(int channel, int quantity)
{
    return ValueOf(channel, quantity);
}

// A plain value, no ramp.
StateValue E(std::int32_t entry)
{
    return StateValue{entry, std::nullopt};
}

StateValue Ramp(std::int32_t from, std::int32_t to, std::int32_t step, std::int64_t every)
{
    return StateValue{from, SequenceRamp{to, step, every}};
}

// Runs a sequence to its end. The operator goes on `operatorMs` after a
// manual state waits; `stopAt` stops the run at that time.
class TestRun {
public:
    explicit TestRun(Sequence sequence, const ParamTable &before = kPowerOn)
        : sequencer(
            std::move(sequence), before, [this] { return device.now; },
            [this](const DeviceWrite &w) { device.Take(w); })
    {
        sequencer.OnEntry = [this](const SequenceLogEntry &e) { log.push_back(e); };
    }

    void ToTheEnd(std::int64_t operatorMs = 0, std::optional<SequenceTime> stopAt = {})
    {
        for (int guard = 0; guard < 1000000; ++guard) {
            const Sequencer::Next next = sequencer.Advance();
            if (next.wait == Sequencer::Wait::Done) {
                return;
            }
            SequenceTime at = next.at;
            if (next.wait == Sequencer::Wait::Operator) {
                at = sequencer.Elapsed() + milliseconds(operatorMs);
            }
            if (stopAt && *stopAt <= at) {
                device.now = std::max(device.now, *stopAt);
                sequencer.Stop();
                return;
            }
            device.now = std::max(device.now, at);
            if (next.wait == Sequencer::Wait::Operator) {
                sequencer.Continue();
            }
        }
        FAIL() << "the run does not end";
    }

    std::vector<SequenceLogEntry> Of(SequenceLogEntry::Event event) const
    {
        std::vector<SequenceLogEntry> out;
        for (const SequenceLogEntry &e : log) {
            if (e.event == event) {
                out.push_back(e);
            }
        }
        return out;
    }

    FakeDevice device;
    Sequencer sequencer;
    std::vector<SequenceLogEntry> log;
};

Sequence RelayTest()
{
    Sequence s;
    s.states = {State("Prefault", 2000, {{V(kA, kAmpl), E(1000)}, {V(kB, kPhase), E(-1200)}}),
                State("Fault", 200, {{V(kA, kAmpl), E(300)}, {V(kA, kPhase), E(-300)}}),
                State("Postfault", 1000, {{V(kA, kAmpl), E(1000)}, {V(kA, kPhase), E(0)}})};
    return s;
}

}  // namespace

TEST(SequencerTest, EachStateWritesWhatDiffersAsOneRunClosedByOneTakeEffectWrite)
{
    Sequence sequence = RelayTest();
    sequence.states[0].values[V(kB, kFreq)] = E(60000);
    TestRun run(sequence);
    run.ToTheEnd();
    // Prefault: only B's frequency differs from the generator's; Fault two
    // values, closed by the last once more with bit 7; Postfault back; the
    // end puts B's frequency back to what it was before the run.
    EXPECT_EQ(run.device.writes, (std::vector<Write>{{1, 0x81, 60000},
                                                     {0, 0x02, -300},
                                                     {0, 0x03, 300},
                                                     {0, 0x83, 300},
                                                     {0, 0x02, 0},
                                                     {0, 0x03, 1000},
                                                     {0, 0x83, 1000},
                                                     {1, 0x81, 50000}}));
    const auto states = run.Of(SequenceLogEntry::Event::State);
    ASSERT_EQ(states.size(), 3u);
    EXPECT_EQ(states[1].name, "Fault");
    EXPECT_EQ(states[1].due, milliseconds(2000));
    EXPECT_EQ(states[1].written, (std::vector<OutputSetting>{{0, kPhase, -300}, {0, kAmpl, 300}}));
    EXPECT_EQ(states[2].due, milliseconds(2200));
    const auto end = run.Of(SequenceLogEntry::Event::End);
    ASSERT_EQ(end.size(), 1u);
    EXPECT_EQ(end[0].due, milliseconds(3200));
    EXPECT_EQ(run.sequencer.Table(), kPowerOn);
    EXPECT_FALSE(run.sequencer.Failure());
    EXPECT_EQ(run.sequencer.StatesDone(), 3);
}

TEST(SequencerTest, StatesAreDueFromTheStartSoLatenessNeverAddsUp)
{
    // Each write takes 7 ms and each state makes three (two values and the
    // closing write): every state takes effect 21 ms after it was due, and
    // is due at k x 100 ms all the same.
    Sequence sequence;
    for (int k = 0; k < 6; ++k) {
        const int value = k % 2 == 0 ? 100 : 200;
        sequence.states.push_back(State(std::to_string(k).c_str(), 100,
                                        {{V(kA, kAmpl), E(value)}, {V(kB, kAmpl), E(value)}}));
    }
    TestRun run(sequence);
    run.device.perWrite = milliseconds(7);
    run.ToTheEnd();
    const auto states = run.Of(SequenceLogEntry::Event::State);
    ASSERT_EQ(states.size(), 6u);
    for (std::size_t k = 0; k < states.size(); ++k) {
        EXPECT_EQ(states[k].due, milliseconds(100 * k));
        EXPECT_EQ(states[k].effect, milliseconds(100 * k + 21));
    }
    // When writing takes longer than a state lasts, no state is left out:
    // each follows at once, later and later, still due on the schedule.
    TestRun late(sequence);
    late.device.perWrite = milliseconds(40);
    late.ToTheEnd();
    const auto lateStates = late.Of(SequenceLogEntry::Event::State);
    ASSERT_EQ(lateStates.size(), 6u);
    for (std::size_t k = 0; k < lateStates.size(); ++k) {
        EXPECT_EQ(lateStates[k].due, milliseconds(100 * k));
        EXPECT_EQ(lateStates[k].effect, milliseconds(120 * (k + 1)));
    }
}

TEST(SequencerTest, RampsStepOnTimeAndTheLastStepReachesTheEndExactly)
{
    struct Case {
        const char *name;
        std::int64_t durationMs;
        std::int64_t perWriteMs;
        std::vector<std::int32_t> values;  // A's frequency as written
    };
    // 50 Hz to 49.8 Hz by -0.07 Hz every 100 ms: the third step stops at
    // the end, not beyond it.
    const Case cases[] = {
        {"whole ramp", 1000, 0, {49930, 49860, 49800}},
        {"cut short by the state's end", 250, 0, {49930, 49860}},
        {"step due with the end", 300, 0, {49930, 49860, 49800}},
        // Writes of 250 ms: step 2 is overtaken, the end is reached.
        {"behind", 1000, 250, {49930, 49800}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Sequence sequence;
        sequence.states = {
            State("Ramp", c.durationMs, {{V(kA, kFreq), Ramp(50000, 49800, -70, 100)}}),
            State("After", 0)};
        sequence.endState = QStringLiteral("After");
        TestRun run(sequence);
        run.device.perWrite = milliseconds(c.perWriteMs);
        run.ToTheEnd();
        std::vector<std::int32_t> values;
        for (const Write &w : run.device.writes) {
            values.push_back(w.value);
        }
        EXPECT_EQ(values, c.values);
        for (const SequenceLogEntry &e : run.Of(SequenceLogEntry::Event::RampStep)) {
            EXPECT_EQ(e.due.count() % 100000, 0);
        }
        EXPECT_EQ(run.Of(SequenceLogEntry::Event::State).back().due, milliseconds(c.durationMs));
    }
}

TEST(SequencerTest, RampsDueTogetherAreOneRunAndAManualStateHoldsAfterItsRamp)
{
    Sequence sequence;
    SequenceState pickup = State(
        "Pickup", 0,
        {{V(kA, kFreq), Ramp(50100, 50000, -50, 100)}, {V(kB, kAmpl), Ramp(900, 1000, 50, 100)}});
    pickup.manual = true;
    sequence.states = {pickup, State("Trip", 500, {{V(kA, kAmpl), E(0)}})};
    TestRun run(sequence);
    // The operator goes on 1 s after the ramps have ended.
    run.ToTheEnd(1000);
    EXPECT_EQ(run.device.writes, (std::vector<Write>{{0, 0x01, 50100},
                                                     {1, 0x03, 900},  // the starts
                                                     {1, 0x83, 900},
                                                     {0, 0x01, 50050},
                                                     {1, 0x03, 950},
                                                     {1, 0x83, 950},
                                                     {0, 0x01, 50000},
                                                     {1, 0x03, 1000},
                                                     {1, 0x83, 1000},
                                                     {0, 0x83, 0},
                                                     {0, 0x83, 1000}}));
    // The next state is due when the operator went on; the end 500 ms later.
    EXPECT_EQ(run.Of(SequenceLogEntry::Event::State)[1].due, milliseconds(1200));
    EXPECT_EQ(run.Of(SequenceLogEntry::Event::End)[0].due, milliseconds(1700));
}

TEST(SequencerTest, RepeatGoesOnFromWhereTheListEnded)
{
    Sequence sequence = RelayTest();
    sequence.repeat = 2;
    TestRun run(sequence);
    run.ToTheEnd();
    const auto states = run.Of(SequenceLogEntry::Event::State);
    ASSERT_EQ(states.size(), 6u);
    EXPECT_EQ(states[3].pass, 2);
    EXPECT_EQ(states[3].due, milliseconds(3200));
    // The second Prefault finds A as Postfault left it: nothing to write.
    EXPECT_TRUE(states[3].written.empty());
    EXPECT_EQ(states[5].due, milliseconds(5400));
    EXPECT_EQ(run.Of(SequenceLogEntry::Event::End)[0].due, milliseconds(6400));
    EXPECT_EQ(run.sequencer.StatesDone(), run.sequencer.StatesTotal());
}

TEST(SequencerTest, StopWritesTheEndSettingsOnce)
{
    // Stopped in the fault: back to the settings from before the run, or to
    // the values the end state names (the rest stays as it is).
    TestRun before(RelayTest());
    before.ToTheEnd(0, milliseconds(2100));
    EXPECT_TRUE(before.sequencer.Stopped());
    EXPECT_EQ(before.sequencer.Table(), kPowerOn);
    const auto end = before.Of(SequenceLogEntry::Event::End);
    ASSERT_EQ(end.size(), 1u);
    EXPECT_EQ(end[0].due, milliseconds(2100));
    EXPECT_EQ(end[0].written, (std::vector<OutputSetting>{{0, kPhase, 0}, {0, kAmpl, 1000}}));

    Sequence toOff = RelayTest();
    toOff.states.push_back(State("Off", 0, {{V(kA, kAmpl), E(0)}, {V(kB, kAmpl), E(0)}}));
    toOff.endState = QStringLiteral("off");
    TestRun off(toOff);
    off.ToTheEnd(0, milliseconds(2100));
    ParamTable expected = kPowerOn;
    expected[ParamIndex(0, kPhase)] = -300;
    expected[ParamIndex(0, kAmpl)] = 0;
    expected[ParamIndex(1, kAmpl)] = 0;
    EXPECT_EQ(off.sequencer.Table(), expected);

    const std::size_t writes = off.device.writes.size();
    off.sequencer.Stop();
    EXPECT_EQ(off.sequencer.Advance().wait, Sequencer::Wait::Done);
    EXPECT_EQ(off.device.writes.size(), writes);
}

TEST(SequencerTest, OnlyAWaitingManualStateGoesOnAndAStopBeforeTheStartWritesNothing)
{
    TestRun timed(RelayTest());
    timed.sequencer.Advance();
    timed.device.now = milliseconds(500);
    timed.sequencer.Continue();
    EXPECT_FALSE(timed.sequencer.WaitingForOperator());
    const Sequencer::Next next = timed.sequencer.Advance();
    EXPECT_EQ(next.wait, Sequencer::Wait::Until);
    EXPECT_EQ(next.at, milliseconds(2000));
    EXPECT_EQ(timed.sequencer.StateIndex(), 0);

    TestRun unstarted(RelayTest());
    unstarted.sequencer.Stop();
    EXPECT_EQ(unstarted.sequencer.Advance().wait, Sequencer::Wait::Done);
    EXPECT_TRUE(unstarted.device.writes.empty());
    EXPECT_TRUE(unstarted.log.empty());
}

TEST(SequencerTest, ProgressIsTimeGoneOrStatesDoneWhereAStateWaitsForTheOperator)
{
    // 3.2 s of timed states: time counts, not states (the short Fault
    // weighs little).
    TestRun timed(RelayTest());
    EXPECT_EQ(timed.sequencer.Progress(), 0.0);
    timed.sequencer.Advance();
    timed.device.now = milliseconds(2100);
    timed.sequencer.Advance();
    EXPECT_DOUBLE_EQ(timed.sequencer.Progress(), 2100.0 / 3200.0);
    timed.ToTheEnd();
    EXPECT_EQ(timed.sequencer.Progress(), 1.0);

    // A manual state: states done, and the share of the timed one in
    // effect.
    Sequence sequence = RelayTest();
    sequence.states[1].manual = true;
    TestRun manual(sequence);
    manual.sequencer.Advance();
    manual.device.now = milliseconds(1000);
    EXPECT_DOUBLE_EQ(manual.sequencer.Progress(), 0.5 / 3);
    manual.device.now = milliseconds(2000);
    manual.sequencer.Advance();
    ASSERT_TRUE(manual.sequencer.WaitingForOperator());
    manual.device.now = milliseconds(9000);
    EXPECT_DOUBLE_EQ(manual.sequencer.Progress(), 1.0 / 3);
}

TEST(SequencerTest, AFailedWriteEndsTheRunAndTheEndUndoesWhatWasHeldBack)
{
    // The Fault's second write fails: its first (A's phase) is held by the
    // generator, not in effect. The end run writes the phase back, and the
    // amplitude whose write failed, so that the end settings are what takes
    // effect.
    TestRun run(RelayTest());
    run.device.failing[1] = true;
    run.ToTheEnd();
    ASSERT_TRUE(run.sequencer.Failure());
    const SequenceFailure &f = *run.sequencer.Failure();
    EXPECT_EQ(f.name, "Fault");
    EXPECT_EQ(f.write, (DeviceWrite{0, 0x03, 300}));
    EXPECT_EQ(f.message, "Set parameter error: device is not responding.");
    EXPECT_TRUE(f.endMessage.isEmpty());
    EXPECT_EQ(
        run.device.writes,
        (std::vector<Write>{{0, 0x02, -300}, {0, 0x02, 0}, {0, 0x03, 1000}, {0, 0x83, 1000}}));
    EXPECT_EQ(run.Of(SequenceLogEntry::Event::Failed).size(), 1u);
    EXPECT_EQ(run.Of(SequenceLogEntry::Event::State).size(), 1u);

    // When the end settings fail too, the failure says so.
    TestRun gone(RelayTest());
    gone.device.failing = {{1, true}, {2, true}};
    gone.ToTheEnd();
    ASSERT_TRUE(gone.sequencer.Failure());
    EXPECT_EQ(gone.sequencer.Failure()->endMessage,
              "A phase 0.0 deg: Set parameter error: device is not responding.");
}

TEST(SequencerTest, TenThousandStatesRun)
{
    Sequence sequence;
    for (int k = 0; k < 10000; ++k) {
        sequence.states.push_back(
            State(("S" + std::to_string(k)).c_str(), 1, {{V(kA, kFreq), E(1000 + k % 2)}}));
    }
    TestRun run(sequence);
    run.ToTheEnd();
    EXPECT_EQ(run.device.writes.size(), 10001u);  // and the end's
    EXPECT_EQ(run.Of(SequenceLogEntry::Event::End)[0].due, milliseconds(10000));
}

TEST(SequenceLogTest, CsvRowsForAReport)
{
    Sequence sequence = RelayTest();
    sequence.states[1].name = QStringLiteral("Fault, \"A\"");
    TestRun run(sequence);
    run.device.perWrite = std::chrono::microseconds(1500);
    run.device.failing[5] = true;
    run.ToTheEnd();
    SequenceLog log;
    for (const SequenceLogEntry &e : run.log) {
        log.Add(e);
    }
    EXPECT_EQ(
        log.Csv(),
        QByteArray("pass,state,event,step,due_ms,effect_ms,late_ms,written\r\n"
                   "1,Prefault,state,,0.000,0.000,0.000,nothing\r\n"
                   "1,\"Fault, \"\"A\"\"\",state,,2000.000,2004.500,4.500,"
                   "A phase -30.0 deg; A ampl 3.00 V peak\r\n"
                   "1,Postfault,failed,,2200.000,,,"
                   "closing write A ampl 10.00 V peak: Set parameter error: device is not "
                   "responding.\r\n"
                   ",,end,,2204.500,2209.000,4.500,A phase 0.0 deg; A ampl 10.00 V peak\r\n"));
}

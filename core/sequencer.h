// The run of a test sequence: which writes to make and when, given the
// states, a clock and the device call. The window and px418ctl only drive it
// (they call Advance when it says, Continue for the operator, Stop) and show
// what it reports.
//
// Timing. State k is due at the run's start plus the durations of the
// states before it (after a manual state: at the moment the operator went
// on, plus the durations since), never at the time the state before took
// effect, so lateness does not add up. A state takes effect when the closing
// write of its run is acknowledged. When writing takes longer than the time
// there is, the run goes on with the next state at once and the log says how
// late each was; no state is left out.
//
// Writes. A state writes the values it names that differ from what the
// generator holds, as one run closed by one take-effect write
// (SettingWrites), so that the outputs change together. A ramp writes its
// start with the state, then step k at the state's due time plus k
// intervals, ramps due together in one run; when writing falls behind, the
// steps already overtaken are left out, never the last one, which reaches
// the end value exactly. A ramp stops where it is when its state ends.
//
// The end. When the last state of the last repeat has run its time, when
// Stop is called, or when a write fails, the end settings are written: the
// values of the sequence's end state, or the settings from before the run. A
// run that failed part-way had some writes accepted but not in effect; the
// end run writes those values back as well, and the value whose write
// failed, so that what takes effect is exactly the end settings.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QString>

#include "param_runs.h"
#include "sequence.h"

using SequenceTime = std::chrono::microseconds;

// One line of a run's log.
struct SequenceLogEntry {
    enum class Event { State, RampStep, End, Failed };
    Event event = Event::State;
    int pass = 0;           // 1 for the first time through the list; 0 for the end
    int state = 0;          // its index; for the end, the end state's or -1 (before the run)
    QString name;           // the state's; the end state's or empty for the end
    std::int64_t step = 0;  // the ramp step written (RampStep)
    SequenceTime due{};     // since the run's start
    SequenceTime effect{};  // the closing write acknowledged, since the start
    std::vector<OutputSetting> written;  // the values written, in order
    QString failure;                     // Failed: what failed, and why
};

// Why a run ended early: the write that failed and the device's reason.
struct SequenceFailure {
    int pass = 0;
    int state = -1;  // -1: the end settings' own run
    QString name;
    DeviceWrite write;
    QString message;
    // The end settings could not be written either: why; empty when they were.
    QString endMessage;
};

class Sequencer {
public:
    // The clock: any steady time. The device call writes one parameter and
    // throws Exception (EHardwareException) when the device refuses it or
    // does not answer. `before` is what the generator holds as the run
    // starts: the first state writes what differs from it, and the end
    // settings default to it. The sequence must pass CheckSequence.
    using Clock = std::function<SequenceTime()>;
    using DeviceCall = std::function<void(const DeviceWrite &)>;
    Sequencer(Sequence sequence, const ParamTable &before, Clock clock, DeviceCall write);

    // What the caller waits for after Advance: the time (since the start)
    // at which to call Advance again, which may have come already; the
    // operator (Continue, then Advance); or nothing, the run is over.
    enum class Wait { Until, Operator, Done };
    struct Next {
        Wait wait = Wait::Done;
        SequenceTime at{};
    };

    // Does the next thing that is due, at most one state or ramp step (the
    // first call starts the run and writes the first state), and says what
    // comes next.
    Next Advance();
    // Ends a manual state that waits: the next state is due now. Does
    // nothing otherwise.
    void Continue();
    // Ends the run and writes the end settings; nothing when it is over.
    void Stop();

    // Every log entry as it is made (and the table then in effect).
    std::function<void(const SequenceLogEntry &)> OnEntry;

    bool Started() const { return started_; }
    bool Finished() const { return finished_; }
    bool Stopped() const { return stopped_; }
    // A manual state has taken effect and waits for Continue.
    bool WaitingForOperator() const;
    const std::optional<SequenceFailure> &Failure() const { return failure_; }

    // The state in effect and its pass (1 for the first time through).
    int StateIndex() const { return index_; }
    int Pass() const { return pass_; }
    // When the state in effect was due, and when it ends (nullopt for a
    // manual state until the operator goes on), since the start.
    SequenceTime StateDue() const { return stateDue_; }
    std::optional<SequenceTime> StateEnd() const;
    // Time since the start (0 before it).
    SequenceTime Elapsed() const;
    // States that have taken effect, of all there are to run (states x
    // repeat), for a progress bar.
    std::int64_t StatesDone() const { return statesDone_; }
    std::int64_t StatesTotal() const;
    // How far the run has got, 0 to 1, for a progress bar: a run of timed
    // states by its time gone of its whole time, as a test set shows it;
    // one with manual states, whose length nobody knows, by the states done
    // before the one in effect and how far that one has got (a manual state
    // counts as begun).
    double Progress() const;
    // The settings in effect on the generator, as far as the run knows.
    const ParamTable &Table() const { return effect_; }
    const Sequence &Source() const { return sequence_; }

private:
    struct ActiveRamp {
        int value = 0;
        std::int32_t from = 0;
        SequenceRamp ramp;
        std::int64_t steps = 0;
        std::int64_t done = 0;
        SequenceTime NextDue(SequenceTime stateDue) const;
    };

    SequenceTime Now() const;
    std::optional<SequenceTime> NextRampDue() const;
    std::optional<SequenceTime> EndOfState() const;
    Next WhatNext() const;
    void Enter(int index, SequenceTime due);
    void StepRamps(SequenceTime now);
    void NextState();
    // Writes the settings as one run; false after a failure, which has
    // ended the run.
    bool Write(const std::vector<OutputSetting> &settings, SequenceLogEntry &entry);
    void WriteEnd(SequenceTime due, std::optional<DeviceWrite> failed);
    void Record(SequenceLogEntry entry);

    Sequence sequence_;
    ParamTable before_{};
    ParamTable effect_{};   // in effect: the last closing write's
    ParamTable written_{};  // last written, in effect or not
    Clock clock_;
    DeviceCall write_;

    bool started_ = false;
    bool finished_ = false;
    bool stopped_ = false;
    SequenceTime start_{};
    int pass_ = 0;
    int index_ = -1;
    SequenceTime stateDue_{};
    std::optional<SequenceTime> continuedAt_;  // a manual state's end
    std::vector<ActiveRamp> ramps_;
    std::int64_t statesDone_ = 0;
    std::optional<SequenceFailure> failure_;
};

// A run's log, kept for a test report: up to kLimit entries; the ones after
// are counted, not kept.
class SequenceLog {
public:
    static constexpr std::size_t kLimit = 1000000;

    void Add(const SequenceLogEntry &entry);
    void Clear();
    const std::vector<SequenceLogEntry> &Entries() const { return entries_; }
    std::size_t LeftOut() const { return leftOut_; }

    // The log as CSV, one row per entry after a header:
    // pass,state,event,step,due_ms,effect_ms,late_ms,written
    // Times in milliseconds with three decimals; `written` the values as
    // "A ampl 3.00 V peak; ..."; a failed write's row has no effect time and
    // says what failed in `written`.
    QByteArray Csv() const;

private:
    std::vector<SequenceLogEntry> entries_;
    std::size_t leftOut_ = 0;
};

// The values of an entry as text: "A ampl 3.00 V peak, B freq 50.000 Hz";
// "nothing" when none was written.
QString WrittenText(const std::vector<OutputSetting> &written, const QString &separator);
// Milliseconds with three decimals: "2005.217".
QString MsText(SequenceTime t);

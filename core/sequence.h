// A test sequence: an ordered list of states, each setting some of the ten
// values a state may set (the coupling mode and each output's frequency,
// phase and amplitude) and holding them for a duration or until the operator
// goes on; a state may ramp values from a start to an end in steps. The list
// may be repeated, and names what the generator is set to when a run ends or
// is stopped.
//
// Values are held as table entries (core/param_table), so that ranges,
// scaling and rounding are the table's; their text, in a sequence file and in
// the window's table of states, is in the window's units and decimals with
// "." as the decimal point (core/output_words).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include <QString>

#include "param_table.h"

// The values a state may set: 0 is the coupling mode (one for all outputs,
// written as channel A's), then each output's frequency, phase and
// amplitude: A freq, A phase, A ampl, B freq ... C ampl.
constexpr int kSequenceValues = 1 + PX418_OUTPUTS * (PX418_QUANTITIES - 1);

struct SequenceSlot {
    int channel = 0;
    int quantity = 0;
};
SequenceSlot SlotOf(int value);
// The value of an output's quantity; -1 for the mode of B or C, which no
// state sets.
int ValueOf(int channel, int quantity);
// Its key in a sequence file and its column in the window: "mode", "A freq".
QString ValueKey(int value);

// The longest duration of a state and interval of a ramp, in ms: a day.
constexpr std::int64_t kMaxHoldMs = 86400000;
// The most repeats of a list.
constexpr int kMaxRepeat = 1000000;

// A ramp: from the value's entry (its start) toward `to` by `step` entries
// every `everyMs` milliseconds; the step carries the direction, and the last
// step lands on `to` exactly.
struct SequenceRamp {
    std::int32_t to = 0;
    std::int32_t step = 0;
    std::int64_t everyMs = 0;
    bool operator==(const SequenceRamp &) const = default;
};

// What a state sets a value to: an entry, or the start of a ramp.
struct StateValue {
    std::int32_t entry = 0;
    std::optional<SequenceRamp> ramp;
    bool operator==(const StateValue &) const = default;
};

struct SequenceState {
    QString name;
    bool manual = false;          // ends when the operator goes on
    std::int64_t durationMs = 0;  // when not manual
    // Unset: the value stays as the state before left it.
    std::array<std::optional<StateValue>, kSequenceValues> values;
    int line = 0;  // of its header in the file it came from; 0 otherwise
    bool operator==(const SequenceState &other) const
    {
        return name == other.name && manual == other.manual && durationMs == other.durationMs
               && values == other.values;
    }
};

struct Sequence {
    std::vector<SequenceState> states;
    int repeat = 1;
    // The state whose values are set when the run ends or is stopped; empty:
    // the settings the generator had before the run.
    QString endState;
    bool operator==(const Sequence &) const = default;
};

// The steps of a ramp after its start: the last one reaches `to`.
std::int64_t RampSteps(std::int32_t from, const SequenceRamp &ramp);
// The entry of step k (0 is the start); `to` from the last step on.
std::int32_t RampValue(std::int32_t from, const SequenceRamp &ramp, std::int64_t k);

// Why a value cannot be set as given (out of the device's range, a ramp of
// the mode, a step of 0 or one that points away from the end, an interval
// out of range); nullopt when it can.
std::optional<QString> ValueFault(int value, const StateValue &v);

// A value as text: "50.000", "A+B+C", a ramp "50.000 to 47.000 step -0.050
// every 100".
QString ValueText(int value, const StateValue &v);
// Reads such text; blanks and letter case do not matter. Numbers are
// rounded to the value's decimals as the window's fields round them. On
// failure, nullopt and why.
std::optional<StateValue> ParseValueText(int value, const QString &text, QString &why);

// A duration as text: milliseconds ("2000"), or "manual".
QString DurationText(const SequenceState &state);
bool ParseDurationText(const QString &text, SequenceState &state, QString &why);

// Where a sequence cannot be run as it stands, and why.
struct SequenceFault {
    int state = -1;  // its index; -1 for the list as a whole
    QString reason;
};
// The first fault: no states, a state without a name or with the name of an
// earlier one (names match without regard to letter case), a duration out of
// range, a value that ValueFault refuses, a repeat count out of range, an end
// state that names none of the states.
std::optional<SequenceFault> CheckSequence(const Sequence &sequence);

// The index of the state of that name (letter case aside), or -1.
int FindState(const Sequence &sequence, const QString &name);

// A state as the window's table of states holds it: the text of each column,
// the name, the duration and the ten values (empty: left as it was).
struct StateRow {
    QString name;
    QString duration;
    std::array<QString, kSequenceValues> values;
};
// The table's columns: the name, the duration, then value v at 2 + v.
constexpr int kNameColumn = 0;
constexpr int kDurationColumn = 1;
constexpr int kFirstValueColumn = 2;
constexpr int kStateColumns = kFirstValueColumn + kSequenceValues;

StateRow RowOf(const SequenceState &state);
// The state a row stands for; on failure nullopt, the column at fault and
// why. The name is taken without blanks at its ends.
std::optional<SequenceState> StateOf(const StateRow &row, int &column, QString &why);

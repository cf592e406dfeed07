#include "sequence.h"

#include <cmath>
#include <cstdlib>

#include <QHash>
#include <QStringList>

#include "decimal_text.h"
#include "output_words.h"

namespace {

QString Words(const std::string &text)
{
    return QString::fromStdString(text);
}

// What a number must be for a value, as refusals say it.
QString Allowed(int quantity)
{
    return Words(AllowedRange(quantity, false));
}

std::optional<double> ReadNumber(const QString &text)
{
    double v = 0;
    if (TextToFloat(text, v, QLatin1Char('.')) && std::isfinite(v)) {
        return v;
    }
    return std::nullopt;
}

// A shown number as its entry, or why not.
std::optional<std::int32_t> ReadEntry(int quantity, const QString &text, QString &why)
{
    const std::optional<double> shown = ReadNumber(text);
    if (!shown) {
        why = text.contains(QLatin1Char(','))
                  ? QStringLiteral("'%1' is not a number: write the decimal point as '.'").arg(text)
                  : QStringLiteral("'%1' is not a number").arg(text);
        return std::nullopt;
    }
    return ShownToEntry(quantity, *shown, false);
}

std::optional<std::int64_t> ReadWholeMs(const QString &text)
{
    bool ok = false;
    const qlonglong ms = text.toLongLong(&ok);
    if (!ok) {
        return std::nullopt;
    }
    return ms;
}

QString RangeOfMs(std::int64_t min)
{
    return QStringLiteral("allowed %1 to %2 ms, a whole number").arg(min).arg(kMaxHoldMs);
}

}  // namespace

SequenceSlot SlotOf(int value)
{
    if (value <= 0) {
        return {0, PX418_OUT_MODE};
    }
    const int perOutput = PX418_QUANTITIES - 1;
    return {(value - 1) / perOutput, (value - 1) % perOutput + 1};
}

int ValueOf(int channel, int quantity)
{
    if (quantity == PX418_OUT_MODE) {
        return channel == 0 ? 0 : -1;
    }
    return 1 + channel * (PX418_QUANTITIES - 1) + quantity - 1;
}

QString ValueKey(int value)
{
    const SequenceSlot slot = SlotOf(value);
    if (slot.quantity == PX418_OUT_MODE) {
        return QString::fromLatin1(QuantityName(PX418_OUT_MODE));
    }
    return QStringLiteral("%1 %2").arg(QString::fromLatin1(ChannelName(slot.channel)),
                                       QString::fromLatin1(QuantityName(slot.quantity)));
}

std::int64_t RampSteps(std::int32_t from, const SequenceRamp &ramp)
{
    const std::int64_t distance = std::llabs(std::int64_t(ramp.to) - from);
    const std::int64_t step = std::llabs(std::int64_t(ramp.step));
    if (distance == 0 || step == 0) {
        return 0;
    }
    return (distance + step - 1) / step;
}

std::int32_t RampValue(std::int32_t from, const SequenceRamp &ramp, std::int64_t k)
{
    if (k <= 0) {
        return from;
    }
    if (k >= RampSteps(from, ramp)) {
        return ramp.to;
    }
    return static_cast<std::int32_t>(from + k * std::int64_t(ramp.step));
}

std::optional<QString> ValueFault(int value, const StateValue &v)
{
    const int quantity = SlotOf(value).quantity;
    const DeviceRange range = OutputRange(quantity);
    const auto outside = [&](std::int32_t entry) { return entry < range.min || entry > range.max; };
    const auto shown = [&](std::int32_t entry) {
        return Words(FormatEntry(quantity, entry, false));
    };
    if (outside(v.entry)) {
        return QStringLiteral("%1 is outside the allowed range %2")
            .arg(shown(v.entry), Allowed(quantity));
    }
    if (!v.ramp) {
        return std::nullopt;
    }
    const SequenceRamp &r = *v.ramp;
    if (quantity == PX418_OUT_MODE) {
        return QStringLiteral("the mode cannot ramp");
    }
    if (outside(r.to)) {
        return QStringLiteral("the end %1 is outside the allowed range %2")
            .arg(shown(r.to), Allowed(quantity));
    }
    if (r.step == 0) {
        return QStringLiteral("a step of 0 never reaches the end (the resolution is %1 %2)")
            .arg(shown(1), Words(UnitOf(quantity, false)));
    }
    if ((r.to > v.entry && r.step < 0) || (r.to < v.entry && r.step > 0)) {
        return QStringLiteral("the step %1 points away from the end %2")
            .arg(shown(r.step), shown(r.to));
    }
    if (r.everyMs < 1 || r.everyMs > kMaxHoldMs) {
        return QStringLiteral("every %1 ms is out of range: %2").arg(r.everyMs).arg(RangeOfMs(1));
    }
    return std::nullopt;
}

QString ValueText(int value, const StateValue &v)
{
    const int quantity = SlotOf(value).quantity;
    QString text = Words(FormatEntry(quantity, v.entry, false));
    if (v.ramp) {
        text += QStringLiteral(" to %1 step %2 every %3")
                    .arg(Words(FormatEntry(quantity, v.ramp->to, false)),
                         Words(FormatEntry(quantity, v.ramp->step, false)))
                    .arg(v.ramp->everyMs);
    }
    return text;
}

std::optional<StateValue> ParseValueText(int value, const QString &text, QString &why)
{
    const int quantity = SlotOf(value).quantity;
    const QStringList words = text.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    StateValue v;
    if (quantity == PX418_OUT_MODE) {
        const std::optional<std::int32_t> mode =
            words.size() == 1 ? ModeOf(words[0].toStdString()) : std::nullopt;
        if (!mode) {
            why = QStringLiteral("'%1' is no mode: allowed %2")
                      .arg(text.trimmed(), Allowed(quantity));
            return std::nullopt;
        }
        v.entry = *mode;
        return v;
    }
    const auto keyword = [&](int i, const char *word) {
        return words[i].compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
    };
    if (words.size() == 7 && keyword(1, "to") && keyword(3, "step") && keyword(5, "every")) {
        SequenceRamp ramp;
        const std::optional<std::int32_t> from = ReadEntry(quantity, words[0], why);
        const std::optional<std::int32_t> to = from ? ReadEntry(quantity, words[2], why) : from;
        const std::optional<std::int32_t> step = to ? ReadEntry(quantity, words[4], why) : to;
        if (!step) {
            return std::nullopt;
        }
        const std::optional<std::int64_t> every = ReadWholeMs(words[6]);
        if (!every) {
            why = QStringLiteral("every '%1' is no whole number of milliseconds").arg(words[6]);
            return std::nullopt;
        }
        v.entry = *from;
        ramp.to = *to;
        ramp.step = *step;
        ramp.everyMs = *every;
        v.ramp = ramp;
    } else if (words.size() == 1) {
        const std::optional<std::int32_t> entry = ReadEntry(quantity, words[0], why);
        if (!entry) {
            return std::nullopt;
        }
        v.entry = *entry;
    } else {
        why = QStringLiteral("'%1' is neither a number nor a ramp (FROM to TO step S every MS)")
                  .arg(text.simplified());
        return std::nullopt;
    }
    if (const std::optional<QString> fault = ValueFault(value, v)) {
        why = *fault;
        return std::nullopt;
    }
    return v;
}

QString DurationText(const SequenceState &state)
{
    return state.manual ? QStringLiteral("manual") : QString::number(state.durationMs);
}

bool ParseDurationText(const QString &text, SequenceState &state, QString &why)
{
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("manual"), Qt::CaseInsensitive) == 0) {
        state.manual = true;
        state.durationMs = 0;
        return true;
    }
    const std::optional<std::int64_t> ms = ReadWholeMs(t);
    if (!ms || *ms < 0 || *ms > kMaxHoldMs) {
        why =
            QStringLiteral("the duration '%1' is out of range: %2, or manual").arg(t, RangeOfMs(0));
        return false;
    }
    state.manual = false;
    state.durationMs = *ms;
    return true;
}

int FindState(const Sequence &sequence, const QString &name)
{
    for (std::size_t i = 0; i < sequence.states.size(); ++i) {
        if (sequence.states[i].name.compare(name, Qt::CaseInsensitive) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::optional<SequenceFault> CheckSequence(const Sequence &sequence)
{
    if (sequence.states.empty()) {
        return SequenceFault{-1, QStringLiteral("the sequence has no states")};
    }
    if (sequence.repeat < 1 || sequence.repeat > kMaxRepeat) {
        return SequenceFault{-1,
                             QStringLiteral("the repeat count %1 is out of range: allowed 1 to %2")
                                 .arg(sequence.repeat)
                                 .arg(kMaxRepeat)};
    }
    // Names are compared through a hash of their case-folded text, so that a
    // list of many states is checked in one pass.
    QHash<QString, int> seen;
    seen.reserve(static_cast<qsizetype>(sequence.states.size()));
    for (std::size_t i = 0; i < sequence.states.size(); ++i) {
        const SequenceState &s = sequence.states[i];
        const int index = static_cast<int>(i);
        if (s.name.trimmed().isEmpty()) {
            return SequenceFault{index, QStringLiteral("state %1 has no name").arg(index + 1)};
        }
        const QString folded = s.name.toCaseFolded();
        if (const auto earlier = seen.constFind(folded); earlier != seen.cend()) {
            return SequenceFault{index, QStringLiteral("the name %1 is that of state %2 as well")
                                            .arg(s.name)
                                            .arg(*earlier + 1)};
        }
        seen.insert(folded, index);
        if (!s.manual && (s.durationMs < 0 || s.durationMs > kMaxHoldMs)) {
            return SequenceFault{index, QStringLiteral("%1: the duration %2 ms is out of range: %3")
                                            .arg(s.name)
                                            .arg(s.durationMs)
                                            .arg(RangeOfMs(0))};
        }
        for (int v = 0; v < kSequenceValues; ++v) {
            if (!s.values[v]) {
                continue;
            }
            if (const std::optional<QString> fault = ValueFault(v, *s.values[v])) {
                return SequenceFault{index,
                                     QStringLiteral("%1: %2: %3").arg(s.name, ValueKey(v), *fault)};
            }
        }
    }
    if (!sequence.endState.isEmpty() && FindState(sequence, sequence.endState) < 0) {
        return SequenceFault{
            -1, QStringLiteral("the end state %1 is none of the states").arg(sequence.endState)};
    }
    return std::nullopt;
}

StateRow RowOf(const SequenceState &state)
{
    StateRow row;
    row.name = state.name;
    row.duration = DurationText(state);
    for (int v = 0; v < kSequenceValues; ++v) {
        if (state.values[v]) {
            row.values[v] = ValueText(v, *state.values[v]);
        }
    }
    return row;
}

std::optional<SequenceState> StateOf(const StateRow &row, int &column, QString &why)
{
    SequenceState state;
    state.name = row.name.trimmed();
    if (state.name.isEmpty()) {
        column = kNameColumn;
        why = QStringLiteral("a state needs a name");
        return std::nullopt;
    }
    if (!ParseDurationText(row.duration, state, why)) {
        column = kDurationColumn;
        return std::nullopt;
    }
    for (int v = 0; v < kSequenceValues; ++v) {
        if (row.values[v].trimmed().isEmpty()) {
            continue;
        }
        state.values[v] = ParseValueText(v, row.values[v], why);
        if (!state.values[v]) {
            column = kFirstValueColumn + v;
            return std::nullopt;
        }
    }
    return state;
}

#include "sequencer.h"

#include <algorithm>

#include <QStringList>

#include "exception.h"
#include "output_words.h"

namespace {

SequenceTime Ms(std::int64_t ms)
{
    return std::chrono::milliseconds(ms);
}

// A CSV field: quoted when it holds a separator, a quote or a line break.
QString CsvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"'))
        && !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r'))) {
        return text;
    }
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

const char *EventName(SequenceLogEntry::Event event)
{
    switch (event) {
    case SequenceLogEntry::Event::State:
        return "state";
    case SequenceLogEntry::Event::RampStep:
        return "ramp step";
    case SequenceLogEntry::Event::End:
        return "end";
    case SequenceLogEntry::Event::Failed:
        return "failed";
    }
    return "";
}

}  // namespace

Sequencer::Sequencer(Sequence sequence, const ParamTable &before, Clock clock, DeviceCall write)
    : sequence_(std::move(sequence)), before_(before), effect_(before), written_(before),
      clock_(std::move(clock)), write_(std::move(write))
{}

SequenceTime Sequencer::ActiveRamp::NextDue(SequenceTime stateDue) const
{
    return stateDue + (done + 1) * Ms(ramp.everyMs);
}

SequenceTime Sequencer::Now() const
{
    return clock_() - start_;
}

SequenceTime Sequencer::Elapsed() const
{
    return started_ ? Now() : SequenceTime{};
}

bool Sequencer::WaitingForOperator() const
{
    return started_ && !finished_ && index_ >= 0 && sequence_.states[index_].manual
           && !continuedAt_;
}

std::optional<SequenceTime> Sequencer::StateEnd() const
{
    return EndOfState();
}

std::int64_t Sequencer::StatesTotal() const
{
    return static_cast<std::int64_t>(sequence_.states.size()) * sequence_.repeat;
}

double Sequencer::Progress() const
{
    if (!started_) {
        return 0;
    }
    if (finished_) {
        return 1;
    }
    const SequenceTime now = Now();
    std::int64_t runMs = 0;
    bool timed = true;
    for (const SequenceState &state : sequence_.states) {
        timed = timed && !state.manual;
        runMs += state.durationMs;
    }
    runMs *= sequence_.repeat;
    if (timed && runMs > 0) {
        return std::clamp(std::chrono::duration<double, std::milli>(now).count()
                              / static_cast<double>(runMs),
                          0.0, 1.0);
    }
    double part = 0;
    if (const std::optional<SequenceTime> end = StateEnd(); end && *end > stateDue_) {
        part = std::clamp(std::chrono::duration<double>(now - stateDue_).count()
                              / std::chrono::duration<double>(*end - stateDue_).count(),
                          0.0, 1.0);
    }
    const double total = static_cast<double>(std::max<std::int64_t>(StatesTotal(), 1));
    return (static_cast<double>(std::max<std::int64_t>(statesDone_ - 1, 0)) + part) / total;
}

std::optional<SequenceTime> Sequencer::NextRampDue() const
{
    std::optional<SequenceTime> next;
    for (const ActiveRamp &r : ramps_) {
        if (r.done < r.steps) {
            const SequenceTime due = r.NextDue(stateDue_);
            next = next ? std::min(*next, due) : due;
        }
    }
    return next;
}

std::optional<SequenceTime> Sequencer::EndOfState() const
{
    if (index_ < 0) {
        return std::nullopt;
    }
    const SequenceState &state = sequence_.states[index_];
    if (state.manual) {
        return continuedAt_;
    }
    return stateDue_ + Ms(state.durationMs);
}

Sequencer::Next Sequencer::WhatNext() const
{
    if (finished_) {
        return {Wait::Done, {}};
    }
    const std::optional<SequenceTime> ramp = NextRampDue();
    const std::optional<SequenceTime> end = EndOfState();
    if (ramp && (!end || *ramp <= *end)) {
        return {Wait::Until, *ramp};
    }
    if (end) {
        return {Wait::Until, *end};
    }
    return {Wait::Operator, {}};
}

Sequencer::Next Sequencer::Advance()
{
    if (finished_) {
        return WhatNext();
    }
    if (!started_) {
        started_ = true;
        start_ = clock_();
        pass_ = 1;
        Enter(0, SequenceTime{});
        return WhatNext();
    }
    const SequenceTime now = Now();
    const std::optional<SequenceTime> ramp = NextRampDue();
    const std::optional<SequenceTime> end = EndOfState();
    // A ramp step due with the state's end is written first: a ramp timed to
    // fill its state reaches its end value.
    if (ramp && *ramp <= now && (!end || *ramp <= *end)) {
        StepRamps(end ? std::min(now, *end) : now);
    } else if (end && *end <= now) {
        NextState();
    }
    return WhatNext();
}

void Sequencer::Continue()
{
    if (WaitingForOperator()) {
        continuedAt_ = Now();
    }
}

void Sequencer::Stop()
{
    if (finished_) {
        return;
    }
    if (!started_) {
        finished_ = true;
        stopped_ = true;
        return;
    }
    stopped_ = true;
    WriteEnd(Now(), std::nullopt);
}

void Sequencer::NextState()
{
    const SequenceTime due = *EndOfState();
    int next = index_ + 1;
    if (next >= static_cast<int>(sequence_.states.size())) {
        if (pass_ >= sequence_.repeat) {
            WriteEnd(due, std::nullopt);
            return;
        }
        ++pass_;
        next = 0;
    }
    Enter(next, due);
}

void Sequencer::Enter(int index, SequenceTime due)
{
    index_ = index;
    stateDue_ = due;
    continuedAt_.reset();
    ramps_.clear();
    const SequenceState &state = sequence_.states[index];

    std::vector<OutputSetting> settings;
    for (int v = 0; v < kSequenceValues; ++v) {
        if (!state.values[v]) {
            continue;
        }
        const SequenceSlot slot = SlotOf(v);
        const std::int32_t entry = state.values[v]->entry;
        if (entry != written_[ParamIndex(slot.channel, slot.quantity)]) {
            settings.push_back({slot.channel, slot.quantity, entry});
        }
        if (const std::optional<SequenceRamp> &ramp = state.values[v]->ramp) {
            ramps_.push_back({v, entry, *ramp, RampSteps(entry, *ramp), 0});
        }
    }
    SequenceLogEntry entry;
    entry.event = SequenceLogEntry::Event::State;
    entry.pass = pass_;
    entry.state = index;
    entry.name = state.name;
    entry.due = due;
    if (Write(settings, entry)) {
        ++statesDone_;
        Record(std::move(entry));
    }
}

void Sequencer::StepRamps(SequenceTime now)
{
    const SequenceTime due = *NextRampDue();
    std::vector<OutputSetting> settings;
    std::int64_t step = 0;
    for (ActiveRamp &r : ramps_) {
        if (r.done >= r.steps || r.NextDue(stateDue_) > now) {
            continue;
        }
        // The latest step due by now; the ones before it are overtaken.
        const std::int64_t k =
            std::min<std::int64_t>(r.steps, (now - stateDue_) / Ms(r.ramp.everyMs));
        r.done = k;
        const SequenceSlot slot = SlotOf(r.value);
        const std::int32_t value = RampValue(r.from, r.ramp, k);
        if (value != written_[ParamIndex(slot.channel, slot.quantity)]) {
            settings.push_back({slot.channel, slot.quantity, value});
        }
        step = std::max(step, k);
    }
    SequenceLogEntry entry;
    entry.event = SequenceLogEntry::Event::RampStep;
    entry.pass = pass_;
    entry.state = index_;
    entry.name = sequence_.states[index_].name;
    entry.step = step;
    entry.due = due;
    if (Write(settings, entry)) {
        Record(std::move(entry));
    }
}

bool Sequencer::Write(const std::vector<OutputSetting> &settings, SequenceLogEntry &entry)
{
    const std::vector<DeviceWrite> writes = SettingWrites(settings);
    for (const DeviceWrite &w : writes) {
        try {
            write_(w);
        } catch (const Exception &e) {
            failure_ = SequenceFailure{entry.pass, entry.state, entry.name, w, e.Message(), {}};
            SequenceLogEntry failed = entry;
            failed.event = SequenceLogEntry::Event::Failed;
            failed.effect = Now();
            failed.failure =
                QString::fromStdString(DescribeWrite(w)) + QStringLiteral(": ") + e.Message();
            Record(std::move(failed));
            WriteEnd(Now(), w);
            return false;
        }
        written_[ParamIndex(w.group, w.number & PX418_NUMBER_MASK)] = w.value;
        if (w.number & PX418_FLAG_TAKE_EFFECT) {
            effect_ = written_;
        }
    }
    entry.effect = Now();
    entry.written = settings;
    return true;
}

void Sequencer::WriteEnd(SequenceTime due, std::optional<DeviceWrite> failed)
{
    finished_ = true;
    ramps_.clear();
    const int end = sequence_.endState.isEmpty() ? -1 : FindState(sequence_, sequence_.endState);
    ParamTable target = effect_;
    for (int v = 0; v < kSequenceValues; ++v) {
        const SequenceSlot slot = SlotOf(v);
        const int i = ParamIndex(slot.channel, slot.quantity);
        if (end < 0) {
            target[i] = before_[i];
        } else if (const std::optional<StateValue> &value = sequence_.states[end].values[v]) {
            target[i] = value->entry;
        }
    }
    std::vector<OutputSetting> settings;
    for (int v = 0; v < kSequenceValues; ++v) {
        const SequenceSlot slot = SlotOf(v);
        const int i = ParamIndex(slot.channel, slot.quantity);
        const bool failedHere = failed && failed->group == slot.channel
                                && (failed->number & PX418_NUMBER_MASK) == slot.quantity;
        if (target[i] != effect_[i] || target[i] != written_[i] || failedHere) {
            settings.push_back({slot.channel, slot.quantity, target[i]});
        }
    }

    SequenceLogEntry entry;
    entry.event = SequenceLogEntry::Event::End;
    entry.state = end;
    entry.name = end < 0 ? QString() : sequence_.states[end].name;
    entry.due = due;
    for (const DeviceWrite &w : SettingWrites(settings)) {
        try {
            write_(w);
        } catch (const Exception &e) {
            const QString why =
                QString::fromStdString(DescribeWrite(w)) + QStringLiteral(": ") + e.Message();
            if (failure_) {
                failure_->endMessage = why;
            } else {
                failure_ = SequenceFailure{0, -1, entry.name, w, e.Message(), {}};
            }
            entry.event = SequenceLogEntry::Event::Failed;
            entry.effect = Now();
            entry.failure = why;
            Record(std::move(entry));
            return;
        }
        written_[ParamIndex(w.group, w.number & PX418_NUMBER_MASK)] = w.value;
        if (w.number & PX418_FLAG_TAKE_EFFECT) {
            effect_ = written_;
        }
    }
    entry.effect = Now();
    entry.written = settings;
    Record(std::move(entry));
}

void Sequencer::Record(SequenceLogEntry entry)
{
    if (OnEntry) {
        OnEntry(entry);
    }
}

void SequenceLog::Add(const SequenceLogEntry &entry)
{
    if (entries_.size() < kLimit) {
        entries_.push_back(entry);
    } else {
        ++leftOut_;
    }
}

void SequenceLog::Clear()
{
    entries_.clear();
    leftOut_ = 0;
}

QString WrittenText(const std::vector<OutputSetting> &written, const QString &separator)
{
    if (written.empty()) {
        return QStringLiteral("nothing");
    }
    QStringList parts;
    for (const OutputSetting &s : written) {
        parts << QString::fromStdString(ValueLine(s.channel, s.quantity, s.value, false));
    }
    return parts.join(separator);
}

QString MsText(SequenceTime t)
{
    const std::int64_t us = t.count();
    const std::int64_t magnitude = us < 0 ? -us : us;
    return QStringLiteral("%1%2.%3")
        .arg(us < 0 ? QStringLiteral("-") : QString())
        .arg(magnitude / 1000)
        .arg(magnitude % 1000, 3, 10, QLatin1Char('0'));
}

QByteArray SequenceLog::Csv() const
{
    QString out = QStringLiteral("pass,state,event,step,due_ms,effect_ms,late_ms,written\r\n");
    for (const SequenceLogEntry &e : entries_) {
        const bool failed = e.event == SequenceLogEntry::Event::Failed;
        const bool ramp = e.event == SequenceLogEntry::Event::RampStep;
        QStringList row;
        row << (e.pass > 0 ? QString::number(e.pass) : QString()) << CsvField(e.name)
            << QString::fromLatin1(EventName(e.event))
            << (ramp ? QString::number(e.step) : QString()) << MsText(e.due)
            << (failed ? QString() : MsText(e.effect))
            << (failed ? QString() : MsText(e.effect - e.due))
            << CsvField(failed ? e.failure : WrittenText(e.written, QStringLiteral("; ")));
        out += row.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return out.toUtf8();
}

// The device search's memory of the converters by index.
#include "probe_memory.h"

void ProbeMemory::StartSearch(std::uint32_t count)
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (!counted_ || count != count_) {
        entries_.clear();
    }
    counted_ = true;
    count_ = count;
}

bool ProbeMemory::ShouldProbe(std::uint32_t index, Clock::time_point now) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (index >= entries_.size() || !entries_[index].known) {
        return true;
    }
    const Entry &entry = entries_[index];
    switch (entry.outcome) {
    case ProbeOutcome::Generator:
        return true;
    case ProbeOutcome::Foreign:
        return false;
    case ProbeOutcome::Silent:
    case ProbeOutcome::Failed:
        break;
    }
    return now - entry.at >= kRetryInterval;
}

void ProbeMemory::Record(std::uint32_t index, ProbeOutcome outcome, Clock::time_point now)
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (outcome == ProbeOutcome::Generator) {
        // The next search comes after the generator was lost, on a bus that
        // may have changed meanwhile.
        entries_.clear();
        counted_ = false;
        return;
    }
    if (index >= entries_.size()) {
        entries_.resize(static_cast<std::size_t>(index) + 1);
    }
    entries_[index] = Entry{true, outcome, now};
}

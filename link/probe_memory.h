// What the device search learnt about the converters by their index, so
// that repeated searches on an unchanged bus spare the other devices on it:
// a converter whose device sent anything but a generator's identity is not
// probed again, and one that stayed silent or could not be opened is probed
// again at most once per retry interval. Indices only mean the same converters while their
// number stays the same, so a search over another count starts afresh; so
// does the first search after the generator was found, since the bus may
// have changed in any way while it was open.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

#include "d2xx.h"

class ProbeMemory {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::duration kRetryInterval = std::chrono::seconds(1);

    // A search over `count` converters begins.
    void StartSearch(std::uint32_t count);
    // Whether the converter at `index` is worth a probe at `now`.
    bool ShouldProbe(std::uint32_t index, Clock::time_point now) const;
    // What the probe of `index` found at `now`.
    void Record(std::uint32_t index, ProbeOutcome outcome, Clock::time_point now);

private:
    struct Entry {
        bool known = false;
        ProbeOutcome outcome = ProbeOutcome::Generator;
        Clock::time_point at;
    };

    mutable std::mutex mutex_;
    bool counted_ = false;
    std::uint32_t count_ = 0;
    std::vector<Entry> entries_;
};

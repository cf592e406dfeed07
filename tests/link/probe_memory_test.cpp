// The device search's memory of the converters by index.
#include "probe_memory.h"

#include <chrono>
#include <vector>

#include <gtest/gtest.h>

namespace {

using std::chrono::milliseconds;
using Time = ProbeMemory::Clock::time_point;

const Time t0 = ProbeMemory::Clock::now();

TEST(ProbeMemoryTest, WhatEachOutcomeSparesOnAnUnchangedBus)
{
    const struct {
        const char *name;
        ProbeOutcome outcome;
        std::vector<bool> probedAfter;  // at 0, 500, 999, 1000, 5000 ms
    } cases[] = {
        {"generator", ProbeOutcome::Generator, {true, true, true, true, true}},
        {"foreign", ProbeOutcome::Foreign, {false, false, false, false, false}},
        {"silent", ProbeOutcome::Silent, {false, false, false, true, true}},
        {"failed", ProbeOutcome::Failed, {false, false, false, true, true}},
    };
    const int after[] = {0, 500, 999, 1000, 5000};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ProbeMemory memory;
        memory.StartSearch(3);
        EXPECT_TRUE(memory.ShouldProbe(1, t0)) << "nothing known yet";
        memory.Record(1, c.outcome, t0);
        memory.StartSearch(3);
        for (std::size_t i = 0; i < c.probedAfter.size(); ++i) {
            EXPECT_EQ(memory.ShouldProbe(1, t0 + milliseconds(after[i])), c.probedAfter[i])
                << after[i] << " ms";
        }
        EXPECT_TRUE(memory.ShouldProbe(0, t0));
        EXPECT_TRUE(memory.ShouldProbe(2, t0));
    }
}

TEST(ProbeMemoryTest, AnotherCountStartsAfresh)
{
    ProbeMemory memory;
    memory.StartSearch(2);
    memory.Record(0, ProbeOutcome::Foreign, t0);
    memory.Record(1, ProbeOutcome::Silent, t0);
    memory.StartSearch(3);  // a converter was plugged in: indices mean others now
    EXPECT_TRUE(memory.ShouldProbe(0, t0));
    EXPECT_TRUE(memory.ShouldProbe(1, t0));

    memory.Record(0, ProbeOutcome::Foreign, t0);
    memory.StartSearch(0);  // everything unplugged ...
    memory.StartSearch(3);  // ... and back
    EXPECT_TRUE(memory.ShouldProbe(0, t0));
}

TEST(ProbeMemoryTest, FindingTheGeneratorForgetsTheRest)
{
    // While the generator is open the program searches no more; the bus may
    // change in any way until the next search, even back to the same count.
    ProbeMemory memory;
    memory.StartSearch(3);
    memory.Record(0, ProbeOutcome::Foreign, t0);
    memory.Record(1, ProbeOutcome::Silent, t0);
    memory.Record(2, ProbeOutcome::Generator, t0);
    memory.StartSearch(3);
    EXPECT_TRUE(memory.ShouldProbe(0, t0));
    EXPECT_TRUE(memory.ShouldProbe(1, t0));
}

TEST(ProbeMemoryTest, ALaterSilenceRestartsTheWait)
{
    ProbeMemory memory;
    memory.StartSearch(1);
    memory.Record(0, ProbeOutcome::Silent, t0);
    memory.Record(0, ProbeOutcome::Silent, t0 + milliseconds(1000));
    EXPECT_FALSE(memory.ShouldProbe(0, t0 + milliseconds(1500)));
    EXPECT_TRUE(memory.ShouldProbe(0, t0 + milliseconds(2000)));
    // A silent converter that later answers with another identity.
    memory.Record(0, ProbeOutcome::Foreign, t0 + milliseconds(2000));
    EXPECT_FALSE(memory.ShouldProbe(0, t0 + milliseconds(9000)));
}

}  // namespace

// The owed answers of a converter: which request a frame that comes in
// answers, in order, and when the stream is in step again.
#include "owed_answers.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include <gtest/gtest.h>

#include "px418_protocol.h"

namespace {

using Match = OwedAnswers::Match;
using Codes = std::vector<std::uint8_t>;
constexpr std::uint8_t kInfo = PX418_CMD_INFO;
constexpr std::uint8_t kSetPar = PX418_CMD_SET_PAR;
constexpr std::uint8_t kGetMode = PX418_CMD_GET_MODE;
constexpr std::uint8_t kGetPar = PX418_CMD_GET_PAR;
constexpr std::uint8_t kError = PX418_CMD_ERROR;

const OwedAnswers::Clock::time_point t0 = OwedAnswers::Clock::now();

TEST(OwedAnswersTest, FramesSettleTheOldestRequestOfTheirCode)
{
    const struct {
        const char *name;
        Codes sent;
        Codes arriving;
        std::vector<Match> matches;
        Codes stillOwed;  // after the last frame
    } cases[] = {
        {"a late answer, then the resync request's",
         {kGetPar, kGetMode},
         {kGetPar, kGetMode},
         {Match::Stale, Match::Answer},
         {}},
        {"the resync answer alone: the late one was lost",
         {kGetPar, kGetMode},
         {kGetMode},
         {Match::Answer},
         {}},
        {"a later answer shows the earlier ones lost",
         {kGetPar, kSetPar, kGetMode, kInfo},
         {kSetPar},
         {Match::Stale},
         {kGetMode, kInfo}},
        {"the same code twice: the second frame answers",
         {kGetPar, kGetPar},
         {kGetPar, kGetPar},
         {Match::Stale, Match::Answer},
         {}},
        {"an error report settles the oldest",
         {kGetPar, kGetMode},
         {kError},
         {Match::Stale},
         {kGetMode}},
        {"a code nobody owes changes nothing",
         {kGetPar, kGetMode},
         {kInfo},
         {Match::Unexplained},
         {kGetPar, kGetMode}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        OwedAnswers owed;
        EXPECT_TRUE(owed.InStep());
        for (std::uint8_t code : c.sent) {
            owed.Sent(code, t0);
        }
        for (std::size_t i = 0; i < c.arriving.size(); ++i) {
            EXPECT_EQ(owed.Arrived(c.arriving[i]), c.matches[i]) << i;
        }
        EXPECT_EQ(owed.InStep(), c.stillOwed.empty());
        for (std::uint8_t code : {kInfo, kSetPar, kGetMode, kGetPar}) {
            const bool expected =
                std::find(c.stillOwed.begin(), c.stillOwed.end(), code) != c.stillOwed.end();
            EXPECT_EQ(owed.Owes(code), expected) << int{code};
        }
    }
}

TEST(OwedAnswersTest, RequestsUnansweredForTheLifetimeAreGivenUp)
{
    OwedAnswers owed;
    owed.Sent(kGetPar, t0);
    owed.Sent(kGetMode, t0 + std::chrono::milliseconds(1500));
    owed.Expire(t0 + OwedAnswers::kLifetime - std::chrono::milliseconds(1));
    EXPECT_TRUE(owed.Owes(kGetPar));
    owed.Expire(t0 + OwedAnswers::kLifetime);
    EXPECT_FALSE(owed.Owes(kGetPar));
    EXPECT_TRUE(owed.Owes(kGetMode));
    owed.Expire(t0 + std::chrono::milliseconds(1500) + OwedAnswers::kLifetime);
    EXPECT_TRUE(owed.InStep());
}

TEST(OwedAnswersTest, HoldsAtMostItsCapacity)
{
    OwedAnswers owed;
    for (std::size_t i = 0; i < OwedAnswers::kCapacity; ++i) {
        EXPECT_FALSE(owed.Full());
        owed.Sent(kGetPar, t0);
    }
    EXPECT_TRUE(owed.Full());
    owed.Sent(kGetMode, t0);
    EXPECT_FALSE(owed.Owes(kGetMode)) << "a request beyond the capacity is not kept";
    EXPECT_EQ(owed.Arrived(kGetPar), Match::Stale);
    EXPECT_FALSE(owed.Full());
}

}  // namespace

// The exports under adversity, through the C header: answers that come late
// or belong to another request, callers on several threads, a driver that
// miscounts, an identity that fills the whole answer area.
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "exports_fixture.h"

namespace {

Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes ParAnswer(std::int32_t value)
{
    return Frame(9, Bytes{0} + oracle::Le32(value));
}

// An exchange fails, and what its device sent comes in afterwards (or is
// still queued behind noise). The next GetPar, with the code of the request
// still owed, goes out after a resync request of another code, and reads
// its own answer.
TEST_F(ExportsTest, LateAnswerIsNeverTakenByALaterCommand)
{
    const Bytes answerA = ParAnswer(1500);  // channel A's frequency
    const struct {
        const char *name;
        Bytes onRequest;  // what the device sends at once
        Bytes later;      // what comes in after the exchange gave up
    } cases[] = {
        {"silent, then the whole answer", {}, answerA},
        {"the answer behind 600 noise bytes", Bytes(600, 0x55) + answerA, {}},
        {"noise, half an answer, then the rest",
         Bytes(20, 0x55) + Bytes(answerA.begin(), answerA.begin() + 4),
         Bytes(answerA.begin() + 4, answerA.end())},
        {"an answer cut short, then the whole one", Bytes{0xC0, 0x09, 0x05, 0x00, 0x00}, answerA},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Double().Reset();
        OpenScripted();
        Answer(c.onRequest);
        std::int32_t value = 0;
        ASSERT_FALSE(PX418_GetPar(0, 1, &value));
        EXPECT_EQ(LastError(), "IO error: device not responding.");
        Double().QueueReceive(converter_, c.later);
        Double().ClearCalls();

        Answer(PX418_CMD_GET_PAR, ParAnswer(900));  // channel B's phase
        EXPECT_TRUE(PX418_GetPar(1, 2, &value));
        EXPECT_EQ(value, 900);
        // What was queued went first; then get mode, then the GetPar itself.
        const auto calls = Double().Calls();
        ASSERT_GE(calls.size(), 2u);
        EXPECT_EQ(calls[0].name, "FT_Purge");
        EXPECT_EQ(calls[0].args, std::vector<std::uint32_t>{1});
        EXPECT_EQ(Double().Written(),
                  (std::vector<Bytes>{{0xC0, 0x07, 0x00, 0xD0}, oracle::GetPar(1, 2)}));

        // After a good exchange the request goes out at once.
        Double().ClearCalls();
        Answer(Frame(8, {4}));
        EXPECT_FALSE(PX418_SetPar(1, 0x82, 7));
        EXPECT_EQ(LastError(), "Set parameter error: invalid parameters.");
        EXPECT_EQ(Double().CallNames().front(), "FT_Write");
        EXPECT_EQ(Double().Count("FT_Purge"), 0);
    }
}

// A generator whose answers are known apart (each output has its own
// frequency, the panel is locked), behind a device that may hold its answers back; opened by the search.
class LateAnswersTest : public ExportsTest {
protected:
    void SetUp() override
    {
        ExportsTest::SetUp();
        for (std::uint8_t group = 0; group < 3; ++group) {
            generator_.TurnKnob(group, PX418_OUT_FREQUENCY, 1000 * (group + 1));
        }
        auto state = generator_.State();
        state.mode = PX418_MODE_LOCKED;
        generator_.SetState(state);
        converter_ = Double().AddConverter(device_.Answers());
        ASSERT_TRUE(PX418_OpenDevice());
    }

    d2xxdouble::LateDevice device_{d2xxdouble::Virtual(generator_)};
};

// One of three reads of that generator (A's frequency, C's, the mode): true
// when it succeeded, and then it must have read its own value.
bool ReadsItsOwn(int which)
{
    std::int32_t value = -1;
    const std::int32_t group = which % 3 == 0 ? PX418_GROUP_OUT_A : PX418_GROUP_OUT_C;
    const bool mode = which % 3 == 2;
    const bool ok = mode ? PX418_GetMode(&value) : PX418_GetPar(group, PX418_OUT_FREQUENCY, &value);
    EXPECT_TRUE(!ok || value == (mode ? PX418_MODE_LOCKED : 1000 * (group + 1))) << which;
    return ok;
}

// The generator answers in order, but late: an answer comes only after the
// next request has gone out, once, then with several requests queued behind
// it. Every later command fails or reads its own value; the first one after
// the generator has caught up succeeds.
TEST_F(LateAnswersTest, InOrderTheyAreNeverTakenForAnothersAnswer)
{
    device_.SetLag(1);
    EXPECT_FALSE(ReadsItsOwn(0));
    device_.SetLag(0);
    EXPECT_TRUE(ReadsItsOwn(1)) << "C's frequency, not A's";

    for (std::size_t lag : {1, 3}) {
        SCOPED_TRACE(lag);
        device_.SetLag(lag);
        for (int i = 0; i < 12; ++i) {
            ReadsItsOwn(i * 5 / 3);
        }
        device_.SetLag(0);
        for (int i = 0; i < 3; ++i) {
            EXPECT_TRUE(ReadsItsOwn(i)) << i;
        }
    }
}

// The same across a close and a new search, as the program does after a
// failed poll: the search's probe of the converter reads past the late
// answers, and a converter that still owes some is not taken for another
// device.
TEST_F(LateAnswersTest, NorAfterACloseAndANewSearch)
{
    // An info answer and A's frequency held back; the search's own info
    // request would take the first.
    device_.SetLag(2);
    const unsigned char *info = nullptr;
    EXPECT_FALSE(PX418_GetInfo(&info));
    EXPECT_FALSE(ReadsItsOwn(0));
    PX418_CloseDevice();
    device_.SetLag(0);
    ASSERT_TRUE(PX418_OpenDevice());
    EXPECT_TRUE(ReadsItsOwn(1)) << "C's frequency, not A's";

    // Still behind during the search: no generator found, but the converter
    // is asked again a second later, and then found.
    device_.SetLag(2);
    EXPECT_FALSE(ReadsItsOwn(1));
    PX418_CloseDevice();
    EXPECT_FALSE(PX418_OpenDevice());
    device_.SetLag(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1050));
    ASSERT_TRUE(PX418_OpenDevice());
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(ReadsItsOwn(i)) << i;
    }
}

// Three exchanges time out; their three answers then all arrive. Each
// command after that still gets its own result: a refused SetPar is false
// with its own text (after the resync request, get selected parameter: the
// other reads are owed), GetMode reads its own mode.
TEST_F(ExportsTest, LateAnswersOfSeveralTimeoutsAreAllDropped)
{
    OpenScripted();
    std::int32_t value = 0;
    std::int32_t mode = 0;
    ASSERT_FALSE(PX418_GetPar(0, 1, &value));
    ASSERT_FALSE(PX418_SetPar(0, 0x81, 5));
    ASSERT_FALSE(PX418_GetMode(&mode));
    // Not purged: still on their way when the next request goes out.
    Double().FailCall("FT_Purge", FT_OK);
    Double().QueueReceive(converter_, ParAnswer(1500) + Frame(8, {0}) + Frame(7, {0, 1}));
    Double().ClearCalls();

    Answer(PX418_CMD_SET_PAR, Frame(8, {4}));
    EXPECT_FALSE(PX418_SetPar(1, 0x82, 7));
    EXPECT_EQ(LastError(), "Set parameter error: invalid parameters.");
    ASSERT_EQ(Double().Written().size(), 2u);
    EXPECT_EQ(Double().Written()[0], (Bytes{0xC0, 0x0A, 0x00, 0x59}));
    Answer(Frame(7, {0, 0}));
    EXPECT_TRUE(PX418_GetMode(&mode));
    EXPECT_EQ(mode, 0);
    EXPECT_EQ(LastError(), "");
    Answer(ParAnswer(-3));
    EXPECT_TRUE(PX418_GetPar(2, 3, &value));
    EXPECT_EQ(value, -3);
}

// An answer with the code of another request that this library sends can
// only be a late one; the exchange reads past it to its own answer, within
// a bounded number of frames.
TEST_F(ExportsTest, AnswersToOtherRequestsAreReadPast)
{
    const struct {
        const char *name;
        int request;
        Bytes wire;
        bool ok;
        std::int32_t mode;
    } cases[] = {
        {"a stale SetPar answer, then GetMode's", 7, Frame(8, {0}) + Frame(7, {0, 1}), true, 1},
        {"stale GetPar and info answers, then GetMode's", 7,
         ParAnswer(5) + Frame(3, oracle::Text("PX-418")) + Frame(7, {0, 1}), true, 1},
        {"nothing but other answers", 7, Frame(8, {0}) + Frame(9, {0}), false, 0},
        {"a stale answer, then the device's error report", 7, Frame(6, {0}) + Frame(1, {1}), false,
         0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Double().Reset();
        OpenScripted();
        Answer(c.wire);
        std::int32_t mode = -1;
        EXPECT_EQ(PX418_GetMode(&mode), c.ok);
        EXPECT_EQ(mode, c.mode) << "nothing of a dropped answer shows through";
    }

    // An endless run of other answers fails the exchange instead of reading on.
    Double().Reset();
    OpenScripted();
    Bytes flood;
    for (int i = 0; i < 20; ++i) {
        flood = flood + Frame(8, {0});
    }
    Answer(flood + Frame(7, {0, 1}));
    std::int32_t mode = -1;
    EXPECT_FALSE(PX418_GetMode(&mode));
    EXPECT_EQ(LastError(), "IO error: device not responding.");
    EXPECT_FALSE(Double().Pending(converter_).empty());
    Answer(PX418_CMD_GET_MODE, Frame(7, {0, 2}));
    EXPECT_TRUE(PX418_GetMode(&mode));
    EXPECT_EQ(mode, 2);
}

// The clean-up before the next request: bytes still arriving after the purge
// are read past; when the purge fails the command fails before anything is
// sent, and when only noise comes the caller's request is not sent; the next
// command tries again.
TEST_F(ExportsTest, LeftoversAreClearedBeforeTheNextRequest)
{
    const struct {
        const char *name;
        Bytes arriving;
        FT_STATUS purge;
        bool ok;
    } cases[] = {
        {"bytes still on the way after the purge", ParAnswer(1500), FT_OK, true},
        {"purge refused", ParAnswer(1500), FT_IO_ERROR, false},
        {"a line that never goes quiet", Bytes(4000, 0x55), FT_OK, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Double().Reset();
        OpenScripted();
        std::int32_t value = 0;
        ASSERT_FALSE(PX418_GetPar(0, 1, &value));
        Double().QueueReceive(converter_, c.arriving);
        // A status fault of FT_OK makes the purge succeed and clear nothing,
        // as when bytes arrive right after it.
        Double().FailCall("FT_Purge", c.purge);
        Double().ClearCalls();
        Answer(PX418_CMD_GET_PAR, ParAnswer(900));
        EXPECT_EQ(PX418_GetPar(1, 2, &value), c.ok);
        if (c.ok) {
            EXPECT_EQ(value, 900);
            continue;
        }
        EXPECT_EQ(LastError(), "IO error: device not responding.");
        for (const Bytes &request : Double().Written()) {
            EXPECT_NE(request, oracle::GetPar(1, 2));
        }
        EXPECT_TRUE(PX418_GetPar(1, 2, &value)) << "the next command clears up again";
        EXPECT_EQ(value, 900);
    }
}

// Two threads search at once, round after round, over a foreign converter
// and a generator: each search closes what the other left open, so exactly
// one handle is open at the end, and closing it leaves none.
TEST_F(ExportsTest, ConcurrentSearchesLeaveExactlyOneHandleOpen)
{
    // Answers take a moment, as a real device's do, so that the two
    // searches overlap.
    const auto slow = [](d2xxdouble::Responder responder) {
        return [responder](const Bytes &written) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            return responder(written);
        };
    };
    const int foreign = Double().AddConverter(slow(d2xxdouble::Identity("FT232R USB UART")));
    const int generator = Double().AddConverter(slow(d2xxdouble::Virtual(generator_)));
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        bool found[2] = {false, false};
        std::atomic<int> ready{0};
        const auto search = [&ready](bool &result) {
            ++ready;
            while (ready < 2) {
            }
            result = PX418_OpenDevice();
        };
        std::thread a(search, std::ref(found[0]));
        std::thread b(search, std::ref(found[1]));
        a.join();
        b.join();
        EXPECT_TRUE(found[0]);
        EXPECT_TRUE(found[1]);
        EXPECT_FALSE(Double().IsOpen(foreign));
        EXPECT_TRUE(Double().IsOpen(generator));

        int open = 0;
        for (const auto &call : Double().CallsOf("FT_Open")) {
            open += call.status == FT_OK;
        }
        for (const auto &call : Double().CallsOf("FT_Close")) {
            open -= call.status == FT_OK;
        }
        EXPECT_EQ(open, 1);

        EXPECT_TRUE(PX418_CloseDevice());
        ASSERT_FALSE(Double().IsOpen(generator)) << "the handle was lost";
        Double().ClearCalls();
    }
}

// One thread writes parameters while another searches again and again over
// "foreign, generator". The foreign converter would accept anything (it
// answers every request with error 0), yet it sees nothing but the search's
// info requests, and every write reaches the generator.
TEST_F(ExportsTest, CommandsDuringASearchReachOnlyTheIdentifiedGenerator)
{
    const int foreign = Double().AddConverter([](const Bytes &written) {
        const auto request = oracle::Decode(written);
        return request.command == PX418_CMD_INFO ? Frame(PX418_CMD_INFO, oracle::Text("FT232R"))
                                                 : Frame(request.command, {0});
    });
    Double().AddConverter(d2xxdouble::Virtual(generator_));
    ASSERT_TRUE(PX418_OpenDevice());
    generator_.ClearLog();

    constexpr int kWrites = 200;
    std::atomic<bool> writing{true};
    int failures = 0;
    std::thread writer([&] {
        for (int i = 0; i < kWrites; ++i) {
            failures +=
                !PX418_SetPar(PX418_GROUP_OUT_A, PX418_OUT_FREQUENCY | PX418_FLAG_TAKE_EFFECT, i);
        }
        writing = false;
    });
    int searches = 0;
    bool allFound = true;
    while (writing || searches < 3) {
        allFound &= PX418_OpenDevice();
        ++searches;
    }
    writer.join();

    EXPECT_TRUE(allFound);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(generator_.ParamWrites().size(), static_cast<std::size_t>(kWrites));
    const Bytes infoRequest{0xC0, 0x03, 0x00, 0xEB};
    const auto seen = Double().Written(foreign);
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(searches) + 1);
    for (const Bytes &wire : seen) {
        ASSERT_EQ(wire, infoRequest);
    }
}

TEST_F(ExportsTest, AbsurdConverterCountIsCapped)
{
    Double().ReportCount(0xFFFFFFFFu);
    EXPECT_FALSE(PX418_OpenDevice());
    EXPECT_EQ(Double().Count("FT_Open"), 128);

    // The converters that are there are still searched in order (on a bus
    // the search meets afresh: it would retry the converters that failed to
    // open only after a second).
    ForgetTheBus();
    Double().ReportCount(0xFFFFFFFFu);
    Double().AddConverter(d2xxdouble::Identity("FT232R"));
    const int generator = Double().AddConverter(d2xxdouble::Identity("PX-418"));
    Double().ClearCalls();
    EXPECT_TRUE(PX418_OpenDevice());
    EXPECT_TRUE(Double().IsOpen(generator));
    EXPECT_EQ(Double().Count("FT_Open"), 2);
}

// An identity that fills the whole answer area still reads as a
// zero-terminated text of PX418_ANSWER_SIZE characters, and a shorter one
// after it shows nothing of it.
TEST_F(ExportsTest, FullInfoAnswerIsStillATerminatedText)
{
    const std::string full = "PX-418" + std::string(PX418_ANSWER_SIZE - 6, 'x');
    converter_ = Double().AddConverter(d2xxdouble::Identity(full));
    ASSERT_TRUE(PX418_OpenDevice());
    const unsigned char *info = nullptr;
    ASSERT_TRUE(PX418_GetInfo(&info));
    EXPECT_EQ(std::strlen(reinterpret_cast<const char *>(info)), std::size_t{PX418_ANSWER_SIZE});
    EXPECT_EQ(reinterpret_cast<const char *>(info), full);

    Answer(Frame(3, oracle::Text("PX-418 b")));
    ASSERT_TRUE(PX418_GetInfo(&info));
    EXPECT_STREQ(reinterpret_cast<const char *>(info), "PX-418 b");
}

}  // namespace

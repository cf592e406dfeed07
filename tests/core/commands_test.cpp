// Checked device calls: a false result becomes an EHardwareException that
// carries the library's text, and a failed read leaves the caller's
// variables alone.
#include "commands.h"

#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "d2xx.h"
#include "errors.h"
#include "px418usb.h"
#include "virtual/virtual_generator.h"
#include "wake_oracle.h"

using px418virtual::TheVirtualGenerator;

class CommandsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        D2xxInstall(D2xxVirtualProvider());
        px418virtual::ResetVirtualConverter();
        TheVirtualGenerator().Reset();
        ASSERT_TRUE(PX418_OpenDevice());
    }
    void TearDown() override
    {
        PX418_CloseDevice();
        D2xxInstall(nullptr);
    }

    // The message of the EHardwareException that `call` raises.
    static QString Raised(const std::function<void()> &call)
    {
        try {
            call();
        } catch (const EHardwareException &e) {
            EXPECT_EQ(e.HelpContext(), 0);
            return e.Message();
        }
        ADD_FAILURE() << "no EHardwareException";
        return {};
    }
};

TEST_F(CommandsTest, AFalseResultRaisesWithTheLibrarysText)
{
    struct Case {
        std::vector<std::uint8_t> answer;
        std::function<void()> call;
        const char *message;
    };
    std::int32_t out = 0;
    const Case cases[] = {
        {oracle::Frame(8, {4}), [] { CheckedSetPar(0, 0x81, 5); },
         "Set parameter error: invalid parameters."},
        {oracle::Frame(6, {2}), [] { CheckedSetMode(1); }, "Set mode error: device busy."},
        {oracle::Frame(7, {3}), [&] { CheckedGetMode(&out); }, "Get mode error: device not ready."},
        {oracle::Frame(9, {9}), [&] { CheckedGetPar(0, 1, &out); },
         "Get parameter error: unknown."},
        {oracle::Frame(10, {1}), [&] { CheckedGetSelPar(&out, &out, &out); },
         "Get selected parameter error: invalid packet."},
        {{}, [] { CheckedSetPar(0, 0x81, 5); }, "IO error: device not responding."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        TheVirtualGenerator().ReplaceNextAnswer(c.answer);
        EXPECT_EQ(Raised(c.call), QString::fromLatin1(c.message));
    }
}

TEST_F(CommandsTest, TheMessageIsACopyThatLaterCallsDoNotChange)
{
    TheVirtualGenerator().ReplaceNextAnswer(oracle::Frame(8, {4}));
    try {
        CheckedSetPar(0, 0x81, 5);
        FAIL() << "no exception";
    } catch (const EHardwareException &e) {
        // The library's text is rewritten (emptied) by the next call.
        CheckedSetPar(0, 0x81, 6);
        const char *text = nullptr;
        PX418_GetLastError(&text);
        EXPECT_STREQ(text, "");
        EXPECT_EQ(e.Message(), QStringLiteral("Set parameter error: invalid parameters."));
        EXPECT_STREQ(e.what(), "Set parameter error: invalid parameters.");
    }
}

TEST_F(CommandsTest, AFailedReadLeavesTheCallersVariablesAlone)
{
    std::int32_t mode = 77;
    std::int32_t value = 1234;
    std::int32_t group = 5;
    std::int32_t number = 6;
    std::int32_t selected = 7;

    // A partial answer that the library would copy out: a valid frame with a
    // device error, carrying a payload.
    TheVirtualGenerator().ReplaceNextAnswer(oracle::Frame(9, {4, 0x10, 0x27, 0, 0}));
    EXPECT_THROW(CheckedGetPar(0, 1, &value), EHardwareException);
    EXPECT_EQ(value, 1234);

    TheVirtualGenerator().ReplaceNextAnswer(oracle::Frame(7, {2, 1}));
    EXPECT_THROW(CheckedGetMode(&mode), EHardwareException);
    EXPECT_EQ(mode, 77);

    TheVirtualGenerator().SetSilent(true);
    EXPECT_THROW(CheckedGetSelPar(&group, &number, &selected), EHardwareException);
    EXPECT_EQ(group, 5);
    EXPECT_EQ(number, 6);
    EXPECT_EQ(selected, 7);

    // A successful read assigns.
    TheVirtualGenerator().SetSilent(false);
    CheckedGetPar(1, 2, &value);
    EXPECT_EQ(value, -1200);
    CheckedGetSelPar(&group, &number, &selected);
    EXPECT_EQ(group, 0);
    EXPECT_EQ(number, 1);
    EXPECT_EQ(selected, 50000);
}

TEST_F(CommandsTest, ArgumentsPassUnchangedAndTrueNeverRaises)
{
    CheckedSetPar(2, 0xC3, 250);
    CheckedSetMode(1);
    const auto writes = TheVirtualGenerator().ParamWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].group, 2);
    EXPECT_EQ(writes[0].number, 0xC3);
    EXPECT_EQ(writes[0].value, 250);
    EXPECT_EQ(TheVirtualGenerator().State().mode, 1);

    // Off-line the library succeeds without a device: nothing raises.
    PX418_CloseDevice();
    std::int32_t v = 9;
    EXPECT_NO_THROW(CheckedSetPar(0, 0x81, 1));
    EXPECT_NO_THROW(CheckedGetPar(0, 1, &v));
    EXPECT_EQ(v, 0);
}

TEST_F(CommandsTest, TheErrorBoxShowsTheTextUnderTheApplicationTitle)
{
    std::vector<ErrorBox> boxes;
    const ErrorPresenter previous =
        SetErrorPresenter([&](const ErrorBox &box) { boxes.push_back(box); });
    TheVirtualGenerator().ReplaceNextAnswer(oracle::Frame(8, {4}));
    Guarded([] { CheckedSetPar(0, 0x81, 5); });
    SetErrorPresenter(previous);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, QStringLiteral("PX-418"));
    // The library's texts end with a full stop and appear as they are.
    EXPECT_EQ(boxes[0].text, QStringLiteral("Set parameter error: invalid parameters."));
}

TEST_F(CommandsTest, GetInfoGivesTheIdentityTextOrRaises)
{
    EXPECT_EQ(CheckedGetInfo(), QStringLiteral("PX-418 virtual generator"));

    // The text ends at the first zero byte of the answer.
    TheVirtualGenerator().ReplaceNextAnswer(oracle::Frame(3, {'P', 'X', 0, 'Y'}));
    EXPECT_EQ(CheckedGetInfo(), QStringLiteral("PX"));

    TheVirtualGenerator().SetSilent(true);
    EXPECT_EQ(Raised([] { CheckedGetInfo(); }), QStringLiteral("IO error: device not responding."));
}

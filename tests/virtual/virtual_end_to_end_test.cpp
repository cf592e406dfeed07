// The library's exported functions talking to the virtual generator through
// the virtual converter: the whole link without hardware.
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "d2xx.h"
#include "px418usb.h"
#include "test_env.h"
#include "virtual/virtual_generator.h"
#include "wake_oracle.h"

using px418virtual::TheVirtualGenerator;
using px418virtual::VirtualConverterState;

namespace {

std::string LastError()
{
    const char *text = nullptr;
    PX418_GetLastError(&text);
    return text == nullptr ? "(null)" : text;
}

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TheVirtualGenerator().Reset();
        px418virtual::ResetVirtualConverter();
        D2xxInstall(D2xxVirtualProvider());
    }
    void TearDown() override
    {
        PX418_CloseDevice();
        D2xxInstall(nullptr);
    }
};

TEST_F(EndToEndTest, OpenFindsTheGeneratorAndSetsTheLinkUp)
{
    ASSERT_TRUE(PX418_OpenDevice());
    const auto s = VirtualConverterState();
    EXPECT_TRUE(s.open);
    EXPECT_EQ(s.baudRate, 38400u);
    EXPECT_EQ(s.wordLength, 8);
    EXPECT_EQ(s.stopBits, 0);
    EXPECT_EQ(s.parity, 0);
    EXPECT_EQ(s.latency, 2);
    EXPECT_GE(s.purges, 1);
    const auto log = TheVirtualGenerator().FrameLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].raw, (std::vector<std::uint8_t>{0xC0, 0x03, 0x00, 0xEB}));

    const unsigned char *info = nullptr;
    ASSERT_TRUE(PX418_GetInfo(&info));
    EXPECT_STREQ(reinterpret_cast<const char *>(info), "PX-418 virtual generator");

    EXPECT_TRUE(PX418_CloseDevice());
    EXPECT_FALSE(VirtualConverterState().open);
}

TEST_F(EndToEndTest, DriverVirtualChoosesTheVirtualConverter)
{
    ::setenv("PX418USB_DRIVER", "virtual", 1);
    D2xxInstall(nullptr);
    const bool opened = PX418_OpenDevice();
    ::unsetenv("PX418USB_DRIVER");
    ASSERT_TRUE(opened);
    EXPECT_TRUE(VirtualConverterState().open);
}

TEST_F(EndToEndTest, OpenFailsWithoutAConverter)
{
    TheVirtualGenerator().SetPlugged(false);
    EXPECT_FALSE(PX418_OpenDevice());
    EXPECT_EQ(VirtualConverterState().opens, 0);
    TheVirtualGenerator().SetPlugged(true);
    EXPECT_TRUE(PX418_OpenDevice());
}

TEST_F(EndToEndTest, ValuesTravelBothWays)
{
    ASSERT_TRUE(PX418_OpenDevice());
    EXPECT_TRUE(PX418_SetPar(0, 0x81, 1500));
    EXPECT_TRUE(PX418_SetPar(1, 0x02, -1));  // pending
    EXPECT_TRUE(PX418_SetMode(1));
    EXPECT_EQ(LastError(), "");

    std::int32_t value = 0;
    ASSERT_TRUE(PX418_GetPar(0, 1, &value));
    EXPECT_EQ(value, 1500);
    ASSERT_TRUE(PX418_GetPar(1, 2, &value));
    EXPECT_EQ(value, -1);
    std::int32_t mode = 0;
    ASSERT_TRUE(PX418_GetMode(&mode));
    EXPECT_EQ(mode, 1);

    TheVirtualGenerator().TurnKnob(2, 3, 333);
    std::int32_t group = -1, number = -1;
    ASSERT_TRUE(PX418_GetSelPar(&group, &number, &value));
    EXPECT_EQ(group, 2);
    EXPECT_EQ(number, 3);
    EXPECT_EQ(value, 333);

    const auto s = TheVirtualGenerator().State();
    EXPECT_EQ(s.active[0][1], 1500);
    EXPECT_EQ(s.active[1][2], -1200);  // still pending
    EXPECT_EQ(s.outputs[1][2], -1);
}

TEST_F(EndToEndTest, DeviceRefusalsBecomeErrorTexts)
{
    ASSERT_TRUE(PX418_OpenDevice());
    EXPECT_FALSE(PX418_SetPar(0, 0x81, 3000001));
    EXPECT_EQ(LastError(), "Set parameter error: invalid parameters.");
    std::int32_t value = 99;
    EXPECT_FALSE(PX418_GetPar(5, 0, &value));
    EXPECT_EQ(LastError(), "Get parameter error: invalid parameters.");
    EXPECT_TRUE(PX418_SetPar(0, 0x81, 3000000));
    EXPECT_EQ(LastError(), "");
}

TEST_F(EndToEndTest, LinkFaultsBecomeErrorTexts)
{
    ASSERT_TRUE(PX418_OpenDevice());
    std::int32_t mode = 0;

    TheVirtualGenerator().SetSilent(true);
    EXPECT_FALSE(PX418_GetMode(&mode));
    EXPECT_EQ(LastError(), "IO error: device not responding.");
    TheVirtualGenerator().SetSilent(false);
    EXPECT_TRUE(PX418_GetMode(&mode));  // the device was left open

    TheVirtualGenerator().CorruptNextAnswer();
    EXPECT_FALSE(PX418_GetMode(&mode));
    EXPECT_EQ(LastError(), "IO error: device not responding.");

    TheVirtualGenerator().PrefixNoise({0x00, 0xDB, 0x7F});
    EXPECT_TRUE(PX418_GetMode(&mode));

    TheVirtualGenerator().ReplaceNextAnswer(oracle::Frame(1, {1}));
    EXPECT_FALSE(PX418_SetMode(0));
    EXPECT_EQ(LastError(), "IO error: invalid packet.");
}

TEST_F(EndToEndTest, UnplugFailsCommandsUntilReopened)
{
    ASSERT_TRUE(PX418_OpenDevice());
    TheVirtualGenerator().SetPlugged(false);
    EXPECT_FALSE(PX418_SetPar(0, 0x81, 1));
    EXPECT_EQ(LastError(), "IO error: device not responding.");
    PX418_CloseDevice();
    EXPECT_FALSE(PX418_OpenDevice());

    TheVirtualGenerator().SetPlugged(true);
    ASSERT_TRUE(PX418_OpenDevice());
    EXPECT_TRUE(PX418_SetPar(0, 0x81, 1));
    EXPECT_EQ(TheVirtualGenerator().State().active[0][1], 1);
}

TEST_F(EndToEndTest, TwoThreadsCallingAtOnceNeverMixAnswers)
{
    ASSERT_TRUE(PX418_OpenDevice());
    constexpr int kRounds = 300;
    auto worker = [](std::int32_t group, std::int32_t base) {
        for (int i = 0; i < kRounds; ++i) {
            std::int32_t value = -1;
            if (!PX418_SetPar(group, 0x81, base + i) || !PX418_GetPar(group, 1, &value)
                || value != base + i) {
                ADD_FAILURE() << "group " << group << " round " << i << ": " << value;
                return;
            }
        }
    };
    std::thread a(worker, 0, 1000);
    std::thread b(worker, 1, 200000);
    for (int i = 0; i < kRounds; ++i) {
        (void)TheVirtualGenerator().State();
    }
    a.join();
    b.join();
    EXPECT_EQ(TheVirtualGenerator().ParamWrites().size(), std::size_t{2 * kRounds});
}

}  // namespace

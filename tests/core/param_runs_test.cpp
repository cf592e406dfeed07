// The runs of writes and reads over the table: what each sends, and how far
// a run got when the device refused part of it.
#include "param_runs.h"

#include <gtest/gtest.h>

#include "commands.h"
#include "d2xx.h"
#include "expected_writes.h"
#include "px418usb.h"
#include "virtual/virtual_generator.h"
#include "wake_oracle.h"

using px418virtual::TheVirtualGenerator;

namespace {

std::vector<Write> AsWrites(const std::vector<DeviceWrite> &writes)
{
    std::vector<Write> out;
    for (const DeviceWrite &w : writes) {
        out.push_back({w.group, w.number, w.value});
    }
    return out;
}

}  // namespace

TEST(ParamRunsTest, SettingsAreACommitAloneAndARunClosedByTheLastTogether)
{
    struct Case {
        const char *name;
        std::vector<OutputSetting> settings;
        std::vector<Write> writes;
    };
    const Case cases[] = {
        {"one", {{0, 1, 50500}}, {{0, 0x81, 50500}}},
        {"mode", {{0, 0, 1}}, {{0, 0x80, 1}}},
        {"three",
         {{0, 1, 60000}, {1, 2, -1200}, {2, 3, 707}},
         {{0, 1, 60000}, {1, 2, -1200}, {2, 3, 707}, {2, 0x83, 707}}},
        {"none", {}, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(AsWrites(SettingWrites(c.settings)), c.writes);
    }
}

TEST(ParamRunsTest, ReloadIsTwelvePlainWritesClosedByChannelAsPhase)
{
    const ParamTable table = {1, 1500, 100, 500, 0, 2000, -900, 600, 0, 3000000, 3600, 0};
    EXPECT_EQ(AsWrites(ReloadWrites(table)), (std::vector<Write>{{0, 0, 1},
                                                                 {0, 1, 1500},
                                                                 {0, 2, 100},
                                                                 {0, 3, 500},
                                                                 {1, 0, 0},
                                                                 {1, 1, 2000},
                                                                 {1, 2, -900},
                                                                 {1, 3, 600},
                                                                 {2, 0, 0},
                                                                 {2, 1, 3000000},
                                                                 {2, 2, 3600},
                                                                 {2, 3, 0},
                                                                 {0, 0x82, 100}}));
}

TEST(ParamRunsTest, PresetCommandsBeepUnlessMutedAndNeverCarryBit7)
{
    EXPECT_EQ(PresetWrite(PX418_SYS_PRESET_STORE, 3, false), (DeviceWrite{4, 0x40, 3}));
    EXPECT_EQ(PresetWrite(PX418_SYS_PRESET_STORE, 3, true), (DeviceWrite{4, 0x00, 3}));
    EXPECT_EQ(PresetWrite(PX418_SYS_PRESET_LOAD, 9, false), (DeviceWrite{4, 0x41, 9}));
    EXPECT_EQ(PresetWrite(PX418_SYS_PRESET_LOAD, 0, true), (DeviceWrite{4, 0x01, 0}));
}

class ParamRunsDeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        D2xxInstall(D2xxVirtualProvider());
        px418virtual::ResetVirtualConverter();
        TheVirtualGenerator().Reset();
        ASSERT_TRUE(PX418_OpenDevice());
        TheVirtualGenerator().ClearLog();
    }
    void TearDown() override
    {
        PX418_CloseDevice();
        D2xxInstall(nullptr);
    }
};

TEST_F(ParamRunsDeviceTest, SendWritesCountsWhatTheDeviceAccepted)
{
    // The third write is out of range: the device refuses it, the run stops.
    const std::vector<DeviceWrite> writes = {
        {0, 1, 1000}, {1, 1, 2000}, {2, 1, 9000000}, {2, 0x81, 9000000}};
    std::size_t done = 99;
    EXPECT_THROW(SendWrites(writes, done), EHardwareException);
    EXPECT_EQ(done, 2u);
    EXPECT_EQ(WritesTakenBy(TheVirtualGenerator()),
              (std::vector<Write>{{0, 1, 1000}, {1, 1, 2000}}));

    SendWrites({{0, 0x81, 5}}, done);
    EXPECT_EQ(done, 1u);
}

TEST_F(ParamRunsDeviceTest, RecallReadsTheTwelveEntriesGroupMajor)
{
    ParamTable table{};
    RecallParamTable(table);
    EXPECT_EQ(table, (ParamTable{0, 50000, 0, 1000, 0, 50000, -1200, 1000, 0, 50000, 1200, 1000}));

    std::vector<std::vector<std::uint8_t>> asked;
    for (const auto &frame : TheVirtualGenerator().FrameLog()) {
        EXPECT_EQ(frame.command, PX418_CMD_GET_PAR);
        asked.push_back(frame.data);
    }
    const std::vector<std::vector<std::uint8_t>> expected = {{0, 0}, {0, 1}, {0, 2}, {0, 3},
                                                             {1, 0}, {1, 1}, {1, 2}, {1, 3},
                                                             {2, 0}, {2, 1}, {2, 2}, {2, 3}};
    EXPECT_EQ(asked, expected);
}

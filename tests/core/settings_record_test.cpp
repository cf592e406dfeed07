// The settings dialog's record: what each action writes, muted and not, and
// what closing restores, after what was read from an open device, from a
// closed one, or not at all.
#include "settings_record.h"

#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Writes = std::vector<DeviceWrite>;

constexpr int kContrast = 60;
constexpr std::int32_t kCalib[PX418_CAL_ROWS] = {11, 22, 33, 44};

// A record whose writes are kept, and whose next write can be made to fail.
struct Recorded {
    Writes writes;
    bool failNext = false;
    SettingsRecord record{[this](const DeviceWrite &w) {
        if (std::exchange(failNext, false)) {
            throw std::runtime_error("device not responding");
        }
        writes.push_back(w);
    }};

    // Opened with the readings above from an open device (`real`), or from
    // a closed one.
    explicit Recorded(bool real = true)
    {
        record.ContrastRead(kContrast, real);
        for (int n = 0; n < PX418_CAL_ROWS; ++n) {
            record.RowRead(n, kCalib[n], real, [] {});
        }
    }
};

struct ActionCase {
    const char *name;
    bool readFromADevice;
    std::function<void(SettingsRecord &, bool mute)> actions;
    std::function<Writes(bool mute)> written;
};

void PrintTo(const ActionCase &c, std::ostream *os)
{
    *os << c.name;
}

std::int32_t Beep(bool mute)
{
    return mute ? 0 : 0x40;
}

const ActionCase kActions[] = {
    {"ContrastMoved", true, [](SettingsRecord &r, bool) { r.ContrastMoved(61, true); },
     [](bool) {
         return Writes{{4, 2, 61}};
     }},
    // Every commit of a known contrast writes, changed or not.
    {"ContrastCommittedUnchanged", true,
     [](SettingsRecord &r, bool m) { r.ContrastCommitted(kContrast, kContrast, m, true); },
     [](bool m) {
         return Writes{{4, 2 | Beep(m), kContrast}};
     }},
    {"ContrastNeverReadCommittedUnchanged", false,
     [](SettingsRecord &r, bool m) { r.ContrastCommitted(0, 0, m, true); },
     [](bool) { return Writes{}; }},
    // Once changed, the contrast is known, and each commit writes.
    {"ContrastNeverReadCommittedChangedThenAgain", false,
     [](SettingsRecord &r, bool m) {
         r.ContrastCommitted(0, 5, m, true);
         r.ContrastCommitted(5, 5, m, true);
     },
     [](bool m) {
         return Writes{{4, 2 | Beep(m), 5}, {4, 2 | Beep(m), 5}};
     }},
    {"Confirmed", true, [](SettingsRecord &r, bool) { r.Confirmed(); },
     [](bool) {
         return Writes{{4, 3, 0}};
     }},
    {"CancelledAfterAMove", true,
     [](SettingsRecord &r, bool) {
         r.ContrastMoved(70, true);
         r.ContrastRestored();
     },
     [](bool) {
         return Writes{{4, 2, 70}, {4, 2, kContrast}};
     }},
    {"CancelledWithAContrastNeverRead", false,
     [](SettingsRecord &r, bool) { r.ContrastRestored(); }, [](bool) { return Writes{}; }},
    {"RowEntered", true, [](SettingsRecord &r, bool m) { r.RowEntered(2, kCalib[2], m); },
     [](bool m) {
         return Writes{{3, 0x82 | Beep(m), kCalib[2]}};
     }},
    {"RowNeverReadEntered", false, [](SettingsRecord &r, bool m) { r.RowEntered(2, 0, m); },
     [](bool) { return Writes{}; }},
    // A row moved on a device that is not open is still not known.
    {"RowNeverReadMovedOffLineThenEntered", false,
     [](SettingsRecord &r, bool m) {
         r.RowMoved(1, 5, false);
         r.RowEntered(1, 5, m);
     },
     [](bool) {
         return Writes{{3, 0x81, 5}};
     }},
    {"RowMovedThenEntered", true,
     [](SettingsRecord &r, bool m) {
         r.RowMoved(1, 5, true);
         r.RowEntered(1, 5, m);
     },
     [](bool m) {
         return Writes{{3, 0x81, 5}, {3, 0x81 | Beep(m), 5}};
     }},
    {"RowCommittedUnchanged", true,
     [](SettingsRecord &r, bool) { r.RowCommitted(3, kCalib[3], kCalib[3], true); },
     [](bool) { return Writes{}; }},
    {"RowCommittedChanged", true, [](SettingsRecord &r, bool) { r.RowCommitted(3, 44, 50, true); },
     [](bool) {
         return Writes{{3, 0x83, 50}};
     }},
    // The device holds the moved value: typing the read one back writes it.
    {"RowMovedThenTheReadValueTypedBack", true,
     [](SettingsRecord &r, bool) {
         r.RowMoved(0, 70, true);
         r.RowCommitted(0, 70, kCalib[0], true);
         r.RowCommitted(0, kCalib[0], kCalib[0], true);
     },
     [](bool) {
         return Writes{{3, 0x80, 70}, {3, 0x80, kCalib[0]}};
     }},
    // Where the device's value is not known, only a change of the position
    // is written.
    {"RowNeverReadCommitted", false,
     [](SettingsRecord &r, bool) {
         r.RowCommitted(0, 0, 0, true);
         r.RowCommitted(0, 0, 7, true);
     },
     [](bool) {
         return Writes{{3, 0x80, 7}};
     }},
    {"CalibrationStored", true, [](SettingsRecord &r, bool m) { r.CalibrationStored(m, true); },
     [](bool m) {
         return Writes{{3, 4 | Beep(m), 0}};
     }},
};

class SettingsRecordActionTest : public ::testing::TestWithParam<std::tuple<ActionCase, bool>> {};

TEST_P(SettingsRecordActionTest, WritesWhatTheTableSays)
{
    const auto &[c, mute] = GetParam();
    Recorded r(c.readFromADevice);
    c.actions(r.record, mute);
    EXPECT_EQ(r.writes, c.written(mute));
}

INSTANTIATE_TEST_SUITE_P(All, SettingsRecordActionTest,
                         ::testing::Combine(::testing::ValuesIn(kActions), ::testing::Bool()),
                         [](const auto &test) {
                             return std::string(std::get<0>(test.param).name)
                                    + (std::get<1>(test.param) ? "Muted" : "Loud");
                         });

struct RestoreCase {
    const char *name;
    std::function<void(Recorded &)> actions;
    Writes restored;  // not muted
};

void PrintTo(const RestoreCase &c, std::ostream *os)
{
    *os << c.name;
}

const RestoreCase kRestores[] = {
    {"NothingChanged", [](Recorded &) {}, {}},
    {"EnteringChangesNothing", [](Recorded &r) { r.record.RowEntered(1, kCalib[1], false); }, {}},
    {"AMoveRestoresEveryRowReadFrequencyLast",
     [](Recorded &r) { r.record.RowMoved(2, 0, true); },
     {{3, 1, 22}, {3, 2, 33}, {3, 3, 44}, {3, 0xC0, 11}}},
    {"ACommitRestoresToo",
     [](Recorded &r) { r.record.RowCommitted(2, 33, 34, true); },
     {{3, 1, 22}, {3, 2, 33}, {3, 3, 44}, {3, 0xC0, 11}}},
    {"SaveCalibClearsTheChanges",
     [](Recorded &r) {
         r.record.RowMoved(2, 0, true);
         r.record.CalibrationStored(false, true);
     },
     {}},
    // After Save Calib, later changes go back to what the device stored.
    {"ChangesAfterSaveCalibGoBackToWhatWasStored",
     [](Recorded &r) {
         r.record.RowMoved(1, 25, true);
         r.record.CalibrationStored(false, true);
         r.record.RowMoved(1, 26, true);
         r.record.RowMoved(2, 35, true);
     },
     {{3, 1, 25}, {3, 2, 33}, {3, 3, 44}, {3, 0xC0, 11}}},
    // Rows that no device gave a value are left alone; the last row read
    // carries the flags.
    {"OnlyRowsReadFromADevice",
     [](Recorded &r) {
         r.record.RowRead(0, 0, false, [] {});
         r.record.RowRead(2, 0, false, [] {});
         r.record.RowMoved(1, 5, true);
     },
     {{3, 1, 22}, {3, 0xC3, 44}}},
    // A reading whose showing failed (its write-back did) is what the device
    // holds, but not what closing restores.
    {"AReadingNotShownIsNotRestored",
     [](Recorded &r) {
         try {
             r.record.RowRead(1, 90, true, [] { throw std::runtime_error("write-back failed"); });
         } catch (const std::runtime_error &) {
         }
         r.record.RowMoved(3, 0, true);
     },
     {{3, 1, 22}, {3, 2, 33}, {3, 3, 44}, {3, 0xC0, 11}}},
    // A failed write records nothing.
    {"AFailedMoveChangesNothing",
     [](Recorded &r) {
         r.failNext = true;
         EXPECT_THROW(r.record.RowMoved(1, 5, true), std::runtime_error);
     },
     {}},
    {"AFailedSaveCalibKeepsTheChanges",
     [](Recorded &r) {
         r.record.RowMoved(1, 5, true);
         r.failNext = true;
         EXPECT_THROW(r.record.CalibrationStored(false, true), std::runtime_error);
     },
     {{3, 1, 22}, {3, 2, 33}, {3, 3, 44}, {3, 0xC0, 11}}},
    // Save Calib on a closed device stores nothing that closing would restore.
    {"SaveCalibOffLineKeepsTheReadValues",
     [](Recorded &r) {
         r.record.RowMoved(1, 5, true);
         r.record.CalibrationStored(false, false);
         r.record.RowMoved(1, 6, true);
     },
     {{3, 1, 22}, {3, 2, 33}, {3, 3, 44}, {3, 0xC0, 11}}},
};

class SettingsRecordRestoreTest : public ::testing::TestWithParam<RestoreCase> {};

TEST_P(SettingsRecordRestoreTest, RestoresWhatTheTableSays)
{
    const RestoreCase &c = GetParam();
    Recorded r;
    c.actions(r);
    EXPECT_EQ(r.record.RestoreWrites(false), c.restored);
}

INSTANTIATE_TEST_SUITE_P(All, SettingsRecordRestoreTest, ::testing::ValuesIn(kRestores),
                         [](const auto &test) { return std::string(test.param.name); });

// The scroll bar shows a position whose write failed; committing the field
// unchanged sends it, since the device does not hold it.
TEST(SettingsRecordTest, APositionWhoseWriteFailedIsWrittenAtTheNextCommit)
{
    Recorded r;
    r.failNext = true;
    EXPECT_THROW(r.record.RowMoved(1, 30, true), std::runtime_error);
    r.record.RowCommitted(1, 30, 30, true);
    EXPECT_EQ(r.writes, (Writes{{3, 0x81, 30}}));
}

TEST(SettingsRecordTest, AMutedRestoreLeavesBitSixOff)
{
    Recorded r;
    r.record.RowMoved(0, 1, true);
    EXPECT_EQ(r.record.RestoreWrites(true).back(), (DeviceWrite{3, 0x80, 11}));
}

TEST(SettingsRecordTest, TheContrastKeptIsTheLowByteOfTheReading)
{
    Recorded r;
    r.record.ContrastRead(0x17F, true);
    r.record.ContrastRestored();
    EXPECT_EQ(r.writes, (Writes{{4, 2, 0x7F}}));
}

TEST(SettingsRecordTest, WhatWasReadFromADeviceIsNotReadAgain)
{
    Recorded r(false);
    EXPECT_FALSE(r.record.ContrastWasRead());
    r.record.ContrastRead(kContrast, true);
    r.record.RowRead(2, 1, true, [] {});
    EXPECT_TRUE(r.record.ContrastWasRead());
    for (int n = 0; n < PX418_CAL_ROWS; ++n) {
        EXPECT_EQ(r.record.RowWasRead(n), n == 2) << n;
    }
}

}  // namespace

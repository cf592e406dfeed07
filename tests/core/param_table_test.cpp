// The parameter table's conversions between device units and what the
// fields show, against values worked out by hand.
#include "param_table.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace {

// A value as a field shows it, and the table entry it stands for.
struct ShownCase {
    int quantity;
    double shown;
    bool rms;
    std::int32_t entry;
};

}  // namespace

TEST(ParamTableTest, TagsDecodeIntoChannelAndQuantity)
{
    const struct {
        int tag, channel, quantity;
    } cases[] = {
        {0, 0, 0},  {1, 0, 1},  {2, 0, 2},  {3, 0, 3},  {10, 1, 0}, {11, 1, 1},
        {12, 1, 2}, {13, 1, 3}, {20, 2, 0}, {21, 2, 1}, {22, 2, 2}, {23, 2, 3},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.tag);
        const TagParam p = DecodeTag(c.tag);
        EXPECT_EQ(p.channel, c.channel);
        EXPECT_EQ(p.quantity, c.quantity);
        EXPECT_EQ(ControlTag(c.channel, c.quantity), c.tag);
        EXPECT_EQ(ParamIndex(c.channel, c.quantity), c.channel * 4 + c.quantity);
    }
}

TEST(ParamTableTest, RoundValueRoundsHalvesAwayFromZeroAndNeverOverflows)
{
    const struct {
        double x;
        std::int32_t rounded;
    } cases[] = {
        {2.5, 3},
        {-2.5, -3},
        {0.49, 0},
        {-0.49, 0},
        {1000.0000000000001, 1000},
        {1e12, std::numeric_limits<std::int32_t>::max()},
        {-1e12, std::numeric_limits<std::int32_t>::min()},
        {std::nan(""), 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.x);
        EXPECT_EQ(RoundValue(c.x), c.rounded);
    }
}

TEST(ParamTableTest, ShownValuesScaleToDeviceUnits)
{
    const ShownCase cases[] = {
        {PX418_OUT_FREQUENCY, 1.001, false, 1001},
        {PX418_OUT_FREQUENCY, 50, false, 50000},
        {PX418_OUT_PHASE, -0.05, false, -1},
        {PX418_OUT_PHASE, 0.05, false, 1},
        {PX418_OUT_PHASE, -120, false, -1200},
        {PX418_OUT_AMPLITUDE, 10, false, 1000},
        {PX418_OUT_AMPLITUDE, 7.07, true, 1000},  // RMS back to peak
        {PX418_OUT_AMPLITUDE, 5, true, 707},
        {PX418_OUT_MODE, 1, false, 1},
        {PX418_OUT_MODE, 1, true, 1},  // RMS touches amplitudes only
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.shown);
        EXPECT_EQ(RoundValue(ShownToDevice(c.quantity, c.shown, c.rms)), c.entry);
        EXPECT_EQ(ShownToEntry(c.quantity, c.shown, c.rms), c.entry);
    }
}

TEST(ParamTableTest, ShownValuesBecomeTheEntriesTheirDecimalsRead)
{
    // Ties in the decimal text round away from zero, whatever the binary
    // product (9.995 x 100 is 999.4999... in binary) would give.
    const ShownCase cases[] = {
        {PX418_OUT_AMPLITUDE, 9.995, false, 1000},
        {PX418_OUT_AMPLITUDE, 1.005, false, 101},
        {PX418_OUT_AMPLITUDE, 0.125, false, 13},
        {PX418_OUT_AMPLITUDE, 1.0049999, false, 100},
        {PX418_OUT_FREQUENCY, 1.0005, false, 1001},
        {PX418_OUT_PHASE, -0.25, false, -3},
        {PX418_OUT_AMPLITUDE, 7.075, true, 1001},  // 1000.58... peak: no tie
        {PX418_OUT_FREQUENCY, 1e30, false, std::numeric_limits<std::int32_t>::max()},
        {PX418_OUT_PHASE, -1e30, false, std::numeric_limits<std::int32_t>::min()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.shown);
        EXPECT_EQ(ShownToEntry(c.quantity, c.shown, c.rms), c.entry);
    }
}

TEST(ParamTableTest, EntriesShowInOperatorUnits)
{
    EXPECT_DOUBLE_EQ(DeviceToShown(PX418_OUT_FREQUENCY, 1500, false), 1.5);
    EXPECT_DOUBLE_EQ(DeviceToShown(PX418_OUT_PHASE, 455, false), 45.5);
    EXPECT_DOUBLE_EQ(DeviceToShown(PX418_OUT_AMPLITUDE, 1000, false), 10.0);
    EXPECT_DOUBLE_EQ(DeviceToShown(PX418_OUT_AMPLITUDE, 1000, true), 7.0710678118654755);
    EXPECT_DOUBLE_EQ(DeviceToShown(PX418_OUT_AMPLITUDE, 707, true), 707 * 0.01 / std::sqrt(2.0));
}

TEST(ParamTableTest, FieldRangesAreTheDeviceRangesScaled)
{
    const struct {
        int quantity;
        bool rms;
        double min, max;
    } cases[] = {
        {PX418_OUT_FREQUENCY, false, 0, 3000}, {PX418_OUT_PHASE, false, -360, 360},
        {PX418_OUT_AMPLITUDE, false, 0, 10},   {PX418_OUT_AMPLITUDE, true, 0, 7.0710678118654755},
        {PX418_OUT_MODE, false, 0, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.quantity);
        const ShownRange r = FieldRange(c.quantity, c.rms);
        EXPECT_DOUBLE_EQ(r.min, c.min);
        EXPECT_DOUBLE_EQ(r.max, c.max);
    }
    EXPECT_EQ(ShownDecimals(PX418_OUT_FREQUENCY), 3);
    EXPECT_EQ(ShownDecimals(PX418_OUT_PHASE), 1);
    EXPECT_EQ(ShownDecimals(PX418_OUT_AMPLITUDE), 2);
}

TEST(ParamTableTest, CoupledOutputsShowChannelAsFrequencyAndKeepTheirOwn)
{
    ParamTable table{};
    table[ParamIndex(0, PX418_OUT_FREQUENCY)] = 50000;
    table[ParamIndex(1, PX418_OUT_FREQUENCY)] = 60000;
    table[ParamIndex(2, PX418_OUT_FREQUENCY)] = 70000;

    table[0] = kModeSeparate;
    EXPECT_FALSE(Coupled(table));
    EXPECT_EQ(ShownFrequencyEntry(table, 1), 60000);
    EXPECT_EQ(ShownFrequencyEntry(table, 2), 70000);

    table[0] = kModeCoupled;
    EXPECT_TRUE(Coupled(table));
    EXPECT_EQ(ShownFrequencyEntry(table, 0), 50000);
    EXPECT_EQ(ShownFrequencyEntry(table, 1), 50000);
    EXPECT_EQ(ShownFrequencyEntry(table, 2), 50000);
    EXPECT_EQ(table[ParamIndex(1, PX418_OUT_FREQUENCY)], 60000);

    // Only channel A's mode couples; a mode entry of another value does not.
    table[0] = 2;
    EXPECT_FALSE(Coupled(table));
    table[0] = kModeSeparate;
    table[ParamIndex(1, PX418_OUT_MODE)] = kModeCoupled;
    EXPECT_FALSE(Coupled(table));
}

// The phasor view's arithmetic against values worked out by hand.
#include "phasors.h"

#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

#include "output_colours.h"

namespace {

// Frequency (mHz), phase (0.1 degree) and amplitude (0.01 V) of A, B, C.
ParamTable Table(std::int32_t fa, std::int32_t pa, std::int32_t aa, std::int32_t fb,
                 std::int32_t pb, std::int32_t ab, std::int32_t fc, std::int32_t pc,
                 std::int32_t ac, std::int32_t mode = kModeSeparate)
{
    return {mode, fa, pa, aa, 0, fb, pb, ab, 0, fc, pc, ac};
}

// 10 V, 50 Hz at these phases in degrees.
ParamTable Phases(int a, int b, int c)
{
    return Table(50000, a * 10, 1000, 50000, b * 10, 1000, 50000, c * 10, 1000);
}

const ParamTable kBalanced = Phases(0, -120, 120);

// The y of the sample nearest to time `ms`.
double At(const Trace &trace, double ms)
{
    const QPointF *best = &trace.points.front();
    for (const QPointF &p : trace.points) {
        if (std::abs(p.x() - ms) < std::abs(best->x() - ms)) {
            best = &p;
        }
    }
    return best->y();
}

}  // namespace

TEST(PhasorsTest, FiguresOfTheUsualCases)
{
    // Positive, negative and zero sequence with a = 1 at 120 degrees, worked
    // out by hand:
    // - one amplitude at half (A 5 V): positive (5 + 10 + 10) / 3, negative
    //   and zero |5 - 10| / 3, unbalance 20 %;
    // - B 10 degrees late (-110): positive 10/3 sqrt(5 + 4 cos 10deg),
    //   negative and zero 20/3 sin 5deg;
    // - all in phase: only a zero sequence, no unbalance factor, no rotation;
    // - A and B swapped: only a negative sequence, no unbalance factor, the
    //   reverse rotation, and the differences read -120;
    // - B and C swapped with B at half: positive |10 + 5 at 240 + 10 at 120|
    //   / 3 = 5/3, negative (10 + 5 + 10) / 3, zero 5/3: 500 %, reverse.
    struct Case {
        const char *name;
        ParamTable table;
        double positive, negative, zero;
        std::optional<double> unbalance;
        Rotation rotation;
        double ab, bc, ca;
    };
    const Case cases[] = {
        {"balanced", kBalanced, 10, 0, 0, 0.0, Rotation::Forward, 120, 120, 120},
        {"A at half", Table(50000, 0, 500, 50000, -1200, 1000, 50000, 1200, 1000), 25.0 / 3,
         5.0 / 3, 5.0 / 3, 20.0, Rotation::Forward, 120, 120, 120},
        {"B 10 degrees off", Phases(0, -110, 120), 9.966182269, 0.581038285, 0.581038285,
         5.830098921, Rotation::Forward, 110, 130, 120},
        {"all in phase", Phases(0, 0, 0), 0, 0, 10, std::nullopt, Rotation::None, 0, 0, 0},
        {"A and B swapped", Phases(-120, 0, 120), 0, 10, 0, std::nullopt, Rotation::Reverse, -120,
         -120, -120},
        {"B and C swapped, B at half", Table(50000, 0, 1000, 50000, 1200, 500, 50000, -1200, 1000),
         5.0 / 3, 25.0 / 3, 5.0 / 3, 500.0, Rotation::Reverse, -120, -120, -120},
        {"A alone", Table(50000, 0, 1000, 50000, -1200, 0, 50000, 1200, 0), 10.0 / 3, 10.0 / 3,
         10.0 / 3, 100.0, Rotation::None, 120, 120, 120},
        {"all off", Table(50000, 0, 0, 50000, -1200, 0, 50000, 1200, 0), 0, 0, 0, std::nullopt,
         Rotation::None, 120, 120, 120},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const SequenceComponents s = SymmetricalComponentsOf(PhasorsOf(c.table, false));
        EXPECT_NEAR(s.positive, c.positive, 1e-8);
        EXPECT_NEAR(s.negative, c.negative, 1e-8);
        EXPECT_NEAR(s.zero, c.zero, 1e-8);
        ASSERT_EQ(s.unbalance.has_value(), c.unbalance.has_value());
        if (c.unbalance) {
            EXPECT_NEAR(*s.unbalance, *c.unbalance, 1e-7);
        }
        EXPECT_EQ(s.rotation, c.rotation);
        const PhaseDifferences d = PhaseDifferencesOf(c.table);
        EXPECT_EQ(d.ab, c.ab);
        EXPECT_EQ(d.bc, c.bc);
        EXPECT_EQ(d.ca, c.ca);
    }
}

TEST(PhasorsTest, ADcOutputIsItsLevelAndTheFiguresLeaveItOut)
{
    // C at 0 Hz, 30 degrees, 10 V holds 5 V; A and B alone give positive
    // |10 + 10| / 3, negative and zero |10 + 10 at 120| / 3.
    ParamTable table = Table(50000, 0, 1000, 50000, -1200, 1000, 0, 300, 1000);
    const PhasorOutputs o = PhasorOutputsOf(table);
    EXPECT_FALSE(o[0].Dc());
    ASSERT_TRUE(o[2].Dc());
    EXPECT_NEAR(o[2].DcLevel(), 5, 1e-12);
    for (bool rms : {false, true}) {
        EXPECT_EQ(PhasorsOf(table, rms)[2], Phasor());
    }
    const SequenceComponents s = SymmetricalComponentsOf(PhasorsOf(table, false));
    EXPECT_NEAR(s.positive, 20.0 / 3, 1e-12);
    EXPECT_NEAR(s.negative, 10.0 / 3, 1e-12);
    EXPECT_NEAR(s.zero, 10.0 / 3, 1e-12);
    EXPECT_NEAR(*s.unbalance, 50, 1e-9);
    EXPECT_EQ(s.rotation, Rotation::Forward);
    PhaseDifferences d = PhaseDifferencesOf(table);
    EXPECT_EQ(d.ab, 120.0);
    EXPECT_EQ(d.bc, std::nullopt);
    EXPECT_EQ(d.ca, std::nullopt);
    // Only the phasors' frequencies count for the snapshot note.
    EXPECT_FALSE(FrequenciesDiffer(table));
    table[ParamIndex(1, PX418_OUT_FREQUENCY)] = 60000;
    EXPECT_TRUE(FrequenciesDiffer(table));

    // Coupled to A at 0 Hz, every output is DC: no phasor, no figure.
    table = Table(0, -900, 1000, 50000, -1200, 1000, 50000, 1200, 400, kModeCoupled);
    const PhasorOutputs dc = PhasorOutputsOf(table);
    EXPECT_TRUE(dc[0].Dc() && dc[1].Dc() && dc[2].Dc());
    EXPECT_NEAR(dc[0].DcLevel(), -10, 1e-12);
    EXPECT_NEAR(dc[2].DcLevel(), 4 * std::sin(120 * std::numbers::pi / 180), 1e-12);
    const SequenceComponents none = SymmetricalComponentsOf(PhasorsOf(table, true));
    EXPECT_EQ(none.unbalance, std::nullopt);
    EXPECT_EQ(none.rotation, Rotation::None);
    d = PhaseDifferencesOf(table);
    EXPECT_FALSE(d.ab || d.bc || d.ca);
    EXPECT_FALSE(FrequenciesDiffer(table));
}

TEST(PhasorsTest, RmsScalesTheMagnitudesButNotTheUnbalance)
{
    const ParamTable table = Table(50000, 0, 500, 50000, -1200, 1000, 50000, 1200, 1000);
    const PhasorSet peak = PhasorsOf(table, false);
    const PhasorSet rms = PhasorsOf(table, true);
    EXPECT_NEAR(std::abs(peak[0]), 5, 1e-12);
    EXPECT_NEAR(std::abs(rms[1]), 7.0710678118654755, 1e-12);
    EXPECT_NEAR(std::arg(rms[1]) * 180 / std::numbers::pi, -120, 1e-12);
    const SequenceComponents s = SymmetricalComponentsOf(rms);
    EXPECT_NEAR(s.positive, 25.0 / 3 * kInvSqrt2, 1e-12);
    EXPECT_NEAR(*s.unbalance, 20.0, 1e-9);
}

TEST(PhasorsTest, PhaseDifferencesAreNormalisedToTheHalfOpenCircle)
{
    struct Case {
        std::int32_t from, to;
        double expected;
    };
    const Case cases[] = {
        {0, 0, 0},          {1800, 0, 180},      {0, 1800, 180},    {3600, -3600, 0},
        {1, -1799, 180},    {-1799, 1, 180},     {0, 1799, -179.9}, {2000, 0, -160},
        {-3600, 3599, 0.1}, {1200, -1200, -120},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << c.from << " to " << c.to);
        EXPECT_DOUBLE_EQ(PhaseDifference(c.from, c.to), c.expected);
    }
}

TEST(PhasorsTest, EntriesOutsideTheDeviceRangeCountAsTheFieldsShowThem)
{
    // A file's values are not checked; the fields show them at the bound.
    const ParamTable table = Table(5000000, 5000, 5000, -7, -9000, -5, 50000, -9000, 1000);
    const PhasorOutputs o = PhasorOutputsOf(table);
    EXPECT_DOUBLE_EQ(o[0].frequency, 3000);
    EXPECT_DOUBLE_EQ(o[0].phase, 360);
    EXPECT_DOUBLE_EQ(o[0].peak, 10);
    EXPECT_DOUBLE_EQ(o[1].frequency, 0);
    EXPECT_DOUBLE_EQ(o[1].phase, -360);
    EXPECT_DOUBLE_EQ(o[1].peak, 0);
    EXPECT_EQ(PhaseDifferencesOf(table).ca, 0.0);  // -360 - 360
}

TEST(PhasorsTest, CoupledOutputsRunAtChannelAsFrequency)
{
    ParamTable table = Table(50000, 0, 1000, 60000, -1200, 1000, 70000, 1200, 1000);
    EXPECT_TRUE(FrequenciesDiffer(table));
    EXPECT_DOUBLE_EQ(PhasorOutputsOf(table)[2].frequency, 70);
    table[ParamIndex(0, PX418_OUT_MODE)] = kModeCoupled;
    EXPECT_FALSE(FrequenciesDiffer(table));
    EXPECT_DOUBLE_EQ(PhasorOutputsOf(table)[2].frequency, 50);
    EXPECT_FALSE(FrequenciesDiffer(kBalanced));
}

TEST(PhasorsTest, ArrowTipsPointAsInTextbooksOnAScreenWhoseYGrowsDownward)
{
    const QPointF centre(100, 100);
    struct Case {
        Phasor phasor;
        QPointF tip;
    };
    const Case cases[] = {
        {std::polar(10.0, 0.0), {150, 100}},
        {std::polar(10.0, std::numbers::pi / 2), {100, 50}},
        {std::polar(5.0, std::numbers::pi), {75, 100}},
        {std::polar(10.0, -std::numbers::pi / 2), {100, 150}},
        {std::polar(20.0, std::numbers::pi / 4),
         {100 + 100 / std::sqrt(2), 100 - 100 / std::sqrt(2)}},
        {0.0, {100, 100}},
    };
    for (const Case &c : cases) {
        const QPointF tip = PhasorTip(centre, 50, 10, c.phasor);
        EXPECT_NEAR(tip.x(), c.tip.x(), 1e-9);
        EXPECT_NEAR(tip.y(), c.tip.y(), 1e-9);
    }
}

TEST(PhasorsTest, ScalesAndTicksFollowTheOneTwoFiveSeries)
{
    const std::pair<double, double> scales[] = {
        {0, 0.01}, {0.003, 0.01},   {0.3, 0.5}, {1, 1},
        {2.5, 5},  {7.0710678, 10}, {10, 10},   {10.0001, 20},
    };
    for (const auto &[value, scale] : scales) {
        EXPECT_DOUBLE_EQ(NiceScale(value), scale) << value;
    }
    EXPECT_EQ(AxisTicks(40, 5), (std::vector<double>{0, 10, 20, 30, 40}));
    EXPECT_EQ(AxisTicks(10, 2), (std::vector<double>{0, 5, 10}));
    const std::vector<double> small = AxisTicks(0.667, 4);  // 3000 Hz: two periods
    ASSERT_EQ(small.size(), 4u);
    EXPECT_NEAR(small[3], 0.6, 1e-12);
    EXPECT_TRUE(AxisTicks(0, 4).empty());

    const QRectF plot(10, 20, 200, 100);
    EXPECT_EQ(PlotPoint(plot, 40, 10, {0, 10}), QPointF(10, 20));
    EXPECT_EQ(PlotPoint(plot, 40, 10, {40, -10}), QPointF(210, 120));
    EXPECT_EQ(PlotPoint(plot, 40, 10, {20, 0}), QPointF(110, 70));
}

TEST(PhasorsTest, WaveformsCoverTwoPeriodsOfOutputA)
{
    const Waveforms w = WaveformsOf(kBalanced);
    EXPECT_DOUBLE_EQ(w.spanMs, 40);
    EXPECT_DOUBLE_EQ(w.voltLimit, 10);
    for (const Trace &t : w.traces) {
        ASSERT_FALSE(t.band);
        EXPECT_DOUBLE_EQ(t.points.front().x(), 0);
        EXPECT_DOUBLE_EQ(t.points.back().x(), 40);
    }
    // A is a sine from 0: its crest at 5 ms; B starts at 10 sin(-120deg).
    EXPECT_NEAR(At(w.traces[0], 0), 0, 1e-9);
    EXPECT_NEAR(At(w.traces[0], 5), 10, 1e-9);
    EXPECT_NEAR(At(w.traces[1], 0), -8.660254038, 1e-8);
    EXPECT_NEAR(At(w.traces[2], 0), 8.660254038, 1e-8);
}

TEST(PhasorsTest, EachOutputRunsAtItsOwnFrequencyUnlessCoupled)
{
    // B at 100 Hz: at 2.5 ms it stands at sin(90deg - 120deg) = -0.5.
    ParamTable table = Table(50000, 0, 1000, 100000, -1200, 1000, 50000, 1200, 400);
    Waveforms w = WaveformsOf(table);
    EXPECT_DOUBLE_EQ(w.spanMs, 40);
    EXPECT_NEAR(At(w.traces[1], 2.5), -5, 1e-9);
    EXPECT_GT(w.traces[1].points.size(), w.traces[0].points.size());

    table[ParamIndex(0, PX418_OUT_MODE)] = kModeCoupled;
    w = WaveformsOf(table);
    // Now B runs at A's 50 Hz: at 5 ms sin(90deg - 120deg) = -0.5.
    EXPECT_NEAR(At(w.traces[1], 5), -5, 1e-9);
    EXPECT_EQ(w.traces[1].points.size(), w.traces[0].points.size());
}

TEST(PhasorsTest, DcAmplitudeZeroAndTooManyCycles)
{
    // A at 0 Hz and 30 degrees is a DC value of 10 sin 30deg; the span comes
    // from the fastest output.
    Waveforms w = WaveformsOf(Table(0, 300, 1000, 25000, 0, 1000, 0, 0, 0));
    EXPECT_DOUBLE_EQ(w.spanMs, 80);
    EXPECT_EQ(w.traces[0].points.size(), 2u);
    EXPECT_NEAR(w.traces[0].points.front().y(), 5, 1e-12);
    EXPECT_NEAR(w.traces[0].points.back().y(), 5, 1e-12);
    for (const QPointF &p : w.traces[2].points) {
        EXPECT_EQ(p.y(), 0);
    }

    // Everything at 0 Hz and 0 V: a span of its own, the smallest axis.
    w = WaveformsOf(Table(0, 0, 0, 0, 0, 0, 0, 0, 0));
    EXPECT_DOUBLE_EQ(w.spanMs, 40);
    EXPECT_DOUBLE_EQ(w.voltLimit, 0.01);

    // A at 1 Hz, B at 3000 Hz: 6000 cycles of B over the span fill a band.
    w = WaveformsOf(Table(1000, 0, 1000, 3000000, 0, 700, 1000, 0, 1000));
    EXPECT_DOUBLE_EQ(w.spanMs, 2000);
    EXPECT_TRUE(w.traces[1].band);
    EXPECT_TRUE(w.traces[1].points.empty());
    EXPECT_DOUBLE_EQ(w.traces[1].peak, 7);
    EXPECT_FALSE(w.traces[0].band);
}

namespace {

// Contrast against white, by the relative luminance of sRGB.
double ContrastOnWhite(std::uint32_t rgb)
{
    auto linear = [](std::uint32_t channel) {
        const double c = channel / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    const double luminance = 0.2126 * linear(rgb >> 16 & 0xFF) + 0.7152 * linear(rgb >> 8 & 0xFF)
                             + 0.0722 * linear(rgb & 0xFF);
    return 1.05 / (luminance + 0.05);
}

double HueDegrees(std::uint32_t rgb)
{
    const double r = (rgb >> 16 & 0xFF) / 255.0;
    const double g = (rgb >> 8 & 0xFF) / 255.0;
    const double b = (rgb & 0xFF) / 255.0;
    return std::fmod(
        std::atan2(std::sqrt(3.0) * (g - b), 2 * r - g - b) * 180 / std::numbers::pi + 360, 360);
}

}  // namespace

TEST(OutputColoursTest, TextReadsOnWhiteInTheHuesOfTheLines)
{
    for (std::size_t c = 0; c < kOutputRgb.size(); ++c) {
        SCOPED_TRACE(c);
        EXPECT_GE(ContrastOnWhite(kOutputTextRgb[c]), 4.5);
        EXPECT_NEAR(HueDegrees(kOutputTextRgb[c]), HueDegrees(kOutputRgb[c]), 1.0);
    }
    EXPECT_GE(ContrastOnWhite(kNoteTextRgb), 4.5);
    // The measure itself: black, white and the lines' C as commonly given.
    EXPECT_NEAR(ContrastOnWhite(0x000000), 21, 1e-9);
    EXPECT_NEAR(ContrastOnWhite(0xFFFFFF), 1, 1e-9);
    EXPECT_NEAR(ContrastOnWhite(kOutputRgb[2]), 3.4, 0.05);
}

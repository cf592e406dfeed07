// Rendering of numbers (FloatToStrF) and conversion of typed text
// (TextToFloat).
#include "decimal_text.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>

#include <gtest/gtest.h>

namespace {

struct RenderCase {
    double value;
    TFloatFormat format;
    int precision;
    int digits;
    const char *expected;
};

void PrintTo(const RenderCase &c, std::ostream *os)
{
    *os << c.value << " format " << int(c.format) << " precision " << c.precision << " digits "
        << c.digits;
}

class RenderTest : public ::testing::TestWithParam<RenderCase> {};

TEST_P(RenderTest, RendersWithPointSeparator)
{
    const RenderCase &c = GetParam();
    EXPECT_EQ(FloatToStrF(c.value, c.format, c.precision, c.digits, QLatin1Char('.')),
              QString::fromLatin1(c.expected));
}

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Fixed, RenderTest,
    ::testing::Values(
        // Field setups the windows use.
        RenderCase{50, ffFixed, 9, 3, "50.000"}, RenderCase{10, ffFixed, 3, 2, "10.00"},
        RenderCase{9.876, ffFixed, 3, 2, "9.88"}, RenderCase{44, ffFixed, 5, 0, "44"},
        RenderCase{0, ffFixed, 5, 5, "0.00000"}, RenderCase{-360, ffFixed, 9, 1, "-360.0"},
        // Half away from zero on the decimal form the number was typed in.
        RenderCase{2.675, ffFixed, 9, 2, "2.68"}, RenderCase{-2.675, ffFixed, 9, 2, "-2.68"},
        RenderCase{0.145, ffFixed, 9, 2, "0.15"}, RenderCase{-0.145, ffFixed, 9, 2, "-0.15"},
        RenderCase{1.005, ffFixed, 9, 2, "1.01"}, RenderCase{2.5, ffFixed, 9, 0, "3"},
        RenderCase{-2.5, ffFixed, 9, 0, "-3"}, RenderCase{0.5, ffFixed, 9, 0, "1"},
        RenderCase{0.4999, ffFixed, 9, 0, "0"}, RenderCase{2.4449, ffFixed, 9, 2, "2.44"},
        RenderCase{9.995, ffFixed, 9, 2, "10.00"}, RenderCase{-9.995, ffFixed, 9, 2, "-10.00"},
        RenderCase{0.0005, ffFixed, 9, 3, "0.001"}, RenderCase{0.0004, ffFixed, 9, 3, "0.000"},
        // Precision limits the significant digits; zeros pad the decimals.
        RenderCase{123.456, ffFixed, 4, 3, "123.500"},
        RenderCase{1.23456, ffFixed, 3, 5, "1.23000"},
        RenderCase{0.012345, ffFixed, 2, 5, "0.01200"}, RenderCase{99.96, ffFixed, 3, 2, "100.00"},
        RenderCase{1234.5, ffFixed, 4, 0, "1235"},
        // Zero and numbers rounding to zero carry no sign.
        RenderCase{-0.0, ffFixed, 5, 2, "0.00"}, RenderCase{-0.001, ffFixed, 5, 2, "0.00"},
        RenderCase{-0.004999, ffFixed, 9, 2, "0.00"}, RenderCase{-0.005, ffFixed, 9, 2, "-0.01"},
        RenderCase{-1e-300, ffFixed, 5, 0, "0"},
        RenderCase{5e-324, ffFixed, 18, 18, "0.000000000000000000"},
        // An integer part longer than Precision falls back to the general form.
        RenderCase{123456, ffFixed, 5, 2, "1.2346E+05"}, RenderCase{99999.6, ffFixed, 5, 0, "1E+5"},
        RenderCase{99999.4, ffFixed, 5, 0, "99999"}, RenderCase{1.5e10, ffFixed, 9, 3, "1.5E+010"},
        RenderCase{-1.5e10, ffFixed, 9, 0, "-1.5E+10"},
        RenderCase{1e300, ffFixed, 18, 18, "1E+0300"},
        // Out-of-range Precision and Digits are clamped.
        RenderCase{1.23456, ffFixed, 0, 3, "1.200"},
        RenderCase{1.5, ffFixed, 40, 30, "1.500000000000000000"},
        RenderCase{1.5, ffFixed, 5, -3, "2"},
        // Not-a-number and infinities.
        RenderCase{kNan, ffFixed, 5, 2, "NAN"}, RenderCase{-kNan, ffFixed, 5, 2, "-NAN"},
        RenderCase{kInf, ffFixed, 5, 2, "INF"}, RenderCase{-kInf, ffGeneral, 5, 2, "-INF"}));

INSTANTIATE_TEST_SUITE_P(General, RenderTest,
                         ::testing::Values(RenderCase{0, ffGeneral, 5, 2, "0"},
                                           RenderCase{-0.0, ffGeneral, 5, 2, "0"},
                                           RenderCase{1.5, ffGeneral, 5, 2, "1.5"},
                                           RenderCase{100, ffGeneral, 5, 2, "100"},
                                           RenderCase{2.675, ffGeneral, 3, 0, "2.68"},
                                           RenderCase{-123.456, ffGeneral, 4, 0, "-123.5"},
                                           RenderCase{0.00001, ffGeneral, 5, 0, "0.00001"},
                                           RenderCase{0.0000099, ffGeneral, 5, 0, "9.9E-6"},
                                           RenderCase{1.5e10, ffGeneral, 15, 0, "15000000000"},
                                           RenderCase{1.5e10, ffGeneral, 5, 0, "1.5E+10"},
                                           RenderCase{1.5e10, ffGeneral, 5, 3, "1.5E+010"},
                                           RenderCase{1e-300, ffGeneral, 5, 9, "1E-0300"}));

// Conversion of typed text.

struct ParseCase {
    const char *text;
    bool ok;
    double value;
};

void PrintTo(const ParseCase &c, std::ostream *os)
{
    *os << '"' << c.text << '"';
}

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, ConvertsWithPointSeparator)
{
    const ParseCase &c = GetParam();
    double value = -777;
    ASSERT_EQ(TextToFloat(QString::fromLatin1(c.text), value, QLatin1Char('.')), c.ok);
    if (c.ok) {
        EXPECT_EQ(value, c.value);
    } else {
        EXPECT_EQ(value, -777) << "a failed conversion leaves the variable alone";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Accepted, ParseTest,
    ::testing::Values(ParseCase{"1.5", true, 1.5}, ParseCase{"  1.5  ", true, 1.5},
                      ParseCase{"+7", true, 7}, ParseCase{"-7", true, -7},
                      ParseCase{" -0.25", true, -0.25}, ParseCase{"5.", true, 5},
                      ParseCase{".5", true, 0.5}, ParseCase{"-.5", true, -0.5},
                      ParseCase{"1e3", true, 1000}, ParseCase{"1E+3", true, 1000},
                      ParseCase{"2.5e-2", true, 0.025}, ParseCase{"007", true, 7},
                      ParseCase{"0.1", true, 0.1}, ParseCase{"2.675", true, 2.675},
                      ParseCase{"1.7976931348623157e308", true, 1.7976931348623157e308},
                      ParseCase{"1e-310", true, 1e-310},
                      // Underflow becomes zero.
                      ParseCase{"1e-400", true, 0}, ParseCase{"0.0000001e-99999999999999", true, 0},
                      ParseCase{"0e999999", true, 0}));

INSTANTIATE_TEST_SUITE_P(
    Rejected, ParseTest,
    ::testing::Values(
        ParseCase{"", false, 0}, ParseCase{"   ", false, 0}, ParseCase{"1,5", false, 0},
        ParseCase{"1.2.3", false, 0}, ParseCase{"0x10", false, 0}, ParseCase{"inf", false, 0},
        ParseCase{"nan", false, 0}, ParseCase{"INF", false, 0}, ParseCase{"1e", false, 0},
        ParseCase{"1e+", false, 0}, ParseCase{"+", false, 0}, ParseCase{".", false, 0},
        ParseCase{"-.", false, 0}, ParseCase{"e5", false, 0}, ParseCase{"+-1", false, 0},
        ParseCase{"1 000", false, 0}, ParseCase{"1,000.5", false, 0}, ParseCase{"abc", false, 0},
        ParseCase{"12abc", false, 0}, ParseCase{"\t1", false, 0}, ParseCase{"1.5f", false, 0},
        ParseCase{"- 1", false, 0}, ParseCase{"1e3.5", false, 0},
        // Too large for a double.
        ParseCase{"1.8e308", false, 0}, ParseCase{"1e99999999999999999999", false, 0},
        ParseCase{"-1e400", false, 0}, ParseCase{"100000e304", false, 0}));

TEST(NumberFormTest, IsWhatTextToFloatReadsWhateverItsSize)
{
    for (const char *text :
         {"1.5", " -.5 ", "1E+3", "5.", "007", "1.8e308", "-1e400", "1e99999999999999999999"}) {
        EXPECT_TRUE(HasNumberForm(QString::fromLatin1(text), QLatin1Char('.'))) << text;
    }
    for (const char *text : {"", "1,5", "1.2.3", "0x10", "inf", "nan", "1e", "1e+", "+", ".", "e5",
                             "+-1", "1 000", "12abc", "\t1", "- 1", "1e3.5"}) {
        EXPECT_FALSE(HasNumberForm(QString::fromLatin1(text), QLatin1Char('.'))) << text;
    }
    EXPECT_TRUE(HasNumberForm(QStringLiteral("-2,5E1"), QLatin1Char(',')));
}

TEST(ParseLocaleTest, GermanSeparatorIsTheOnlyOneAccepted)
{
    double value = 0;
    ASSERT_TRUE(TextToFloat(QStringLiteral(" 1,5 "), value, QLatin1Char(',')));
    EXPECT_EQ(value, 1.5);
    ASSERT_TRUE(TextToFloat(QStringLiteral("-2,5E1"), value, QLatin1Char(',')));
    EXPECT_EQ(value, -25);
    EXPECT_FALSE(TextToFloat(QStringLiteral("1.5"), value, QLatin1Char(',')));
    EXPECT_FALSE(TextToFloat(QStringLiteral("1.000,5"), value, QLatin1Char(',')));
    EXPECT_FALSE(TextToFloat(QStringLiteral("1,2,3"), value, QLatin1Char(',')));
}

TEST(ParseLocaleTest, NonAsciiDigitsAreRejected)
{
    double value = 0;
    // Arabic-Indic digit one.
    EXPECT_FALSE(TextToFloat(QString(QChar(0x0661)), value, QLatin1Char('.')));
    // Full-width digit one.
    EXPECT_FALSE(TextToFloat(QString(QChar(0xFF11)), value, QLatin1Char('.')));
}

TEST(ParseRoundTripTest, RenderedFixedTextReadsBack)
{
    for (double v : {0.0, 1.5, -360.0, 2999.999, 9.99, -0.05, 127.0}) {
        const QString text = FloatToStrF(v, ffFixed, 9, 3, QLatin1Char('.'));
        double back = -1;
        ASSERT_TRUE(TextToFloat(text, back, QLatin1Char('.'))) << text.toStdString();
        EXPECT_EQ(back, v) << text.toStdString();
    }
}

struct UnitsCase {
    double value;
    int precision;
    int digits;
    std::optional<std::int64_t> units;
};

TEST(ShownUnitsTest, CountsTheLastDecimalOfWhatIsShown)
{
    const UnitsCase cases[] = {
        {0.285, 5, 2, 29},
        {-0.285, 5, 2, -29},
        {1.005, 5, 2, 101},
        {0.45, 5, 2, 45},
        {0.004, 5, 2, 0},
        {-0.004, 5, 2, 0},
        {0.005, 5, 2, 1},
        {1.25, 5, 1, 13},
        {-1.25, 5, 1, -13},
        {99.9, 5, 1, 999},
        {44.5, 5, 0, 45},
        {44.4999, 5, 0, 44},
        {123.456, 4, 3, 123500},
        {0, 5, 2, 0},
        {9.995, 5, 2, 1000},
        // No fixed-point number shown.
        {kNan, 5, 2, std::nullopt},
        {kInf, 5, 2, std::nullopt},
        {123456, 5, 0, std::nullopt},
        {1e17, 18, 2, std::nullopt},
    };
    for (const UnitsCase &c : cases) {
        std::int64_t units = -12345;
        const bool shown = ShownUnits(c.value, c.precision, c.digits, units);
        EXPECT_EQ(shown, c.units.has_value()) << c.value;
        if (c.units) {
            EXPECT_EQ(units, *c.units) << c.value;
        }
    }
}

// Every value typed halfway between two steps of a calibration field (1 or 2
// decimals, up to 9.99 or 99.9) gives the step that the field then shows,
// halves away from zero.
TEST(ShownUnitsTest, EveryHalfStepAgreesWithItsRendering)
{
    for (int digits : {1, 2}) {
        int scale = 1;
        for (int i = 0; i < digits; ++i) {
            scale *= 10;
        }
        for (int odd = -1997; odd <= 1997; odd += 2) {
            // odd / 2 steps, typed as text with one more decimal ("0.285").
            const int tenths = std::abs(odd) * 5;
            const QString text = QStringLiteral("%1%2.%3")
                                     .arg(odd < 0 ? QStringLiteral("-") : QString())
                                     .arg(tenths / (scale * 10))
                                     .arg(tenths % (scale * 10), digits + 1, 10, QLatin1Char('0'));
            double value = 0;
            ASSERT_TRUE(TextToFloat(text, value, QLatin1Char('.')));
            const std::int64_t expected = (odd < 0 ? -1 : 1) * ((std::abs(odd) + 1) / 2);
            std::int64_t units = 0;
            ASSERT_TRUE(ShownUnits(value, 5, digits, units));
            EXPECT_EQ(units, expected) << text.toStdString();
            const QString shown = FloatToStrF(value, ffFixed, 5, digits, QLatin1Char('.'));
            double shownValue = 0;
            ASSERT_TRUE(TextToFloat(shown, shownValue, QLatin1Char('.')));
            EXPECT_EQ(std::llround(shownValue * scale), expected) << text.toStdString();
        }
    }
}

}  // namespace

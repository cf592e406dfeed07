#include "decimal_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

#include <QLocale>

namespace {

// A finite number as decimal digits: magnitude = 0.d1d2d3... x 10^exponent,
// so exponent is the count of integer digits (zero or negative for numbers
// below 1). The digits carry no trailing zeros; no digits at all is zero.
struct Decimal {
    bool negative = false;
    std::string digits;
    int exponent = 0;

    bool IsZero() const { return digits.empty(); }
    char DigitAt(int index) const
    {
        return index >= 0 && index < static_cast<int>(digits.size()) ? digits[index] : '0';
    }
};

void StripTrailingZeros(Decimal &d)
{
    while (!d.digits.empty() && d.digits.back() == '0') {
        d.digits.pop_back();
    }
    if (d.digits.empty()) {
        d.exponent = 0;
    }
}

// The shortest decimal form that reads back as the same double: the number
// the operator typed, not the binary approximation of it (2.675 stays 2.675
// rather than 2.67499999...).
Decimal ShortestDecimal(double value)
{
    Decimal d;
    d.negative = std::signbit(value);
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                      std::chars_format::scientific);
    const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
    const std::size_t e = text.find('e');
    for (char c : text.substr(0, e)) {
        if (c != '.') {
            d.digits += c;
        }
    }
    std::size_t pos = e + 1;
    if (pos < text.size() && text[pos] == '+') {
        ++pos;
    }
    int exp10 = 0;
    std::from_chars(text.data() + pos, text.data() + text.size(), exp10);
    d.exponent = exp10 + 1;
    StripTrailingZeros(d);
    return d;
}

// Keeps the first `keep` digits, rounding half away from zero on the
// magnitude. keep <= 0 rounds at or before the first digit.
void RoundTo(Decimal &d, int keep)
{
    if (d.IsZero() || keep >= static_cast<int>(d.digits.size())) {
        return;
    }
    if (keep < 0) {
        d.digits.clear();
        d.exponent = 0;
        return;
    }
    const bool up = d.digits[keep] >= '5';
    d.digits.resize(keep);
    if (up) {
        while (!d.digits.empty() && d.digits.back() == '9') {
            d.digits.pop_back();
        }
        if (d.digits.empty()) {
            d.digits.assign(1, '1');
            d.exponent += 1;
        } else {
            ++d.digits.back();
        }
    }
    StripTrailingZeros(d);
}

QString Sign(const Decimal &d)
{
    // A number that rounds to zero shows no sign.
    return d.negative && !d.IsZero() ? QStringLiteral("-") : QString();
}

QString IntegerPart(const Decimal &d)
{
    if (d.exponent <= 0) {
        return QStringLiteral("0");
    }
    QString s;
    for (int i = 0; i < d.exponent; ++i) {
        s += QLatin1Char(d.DigitAt(i));
    }
    return s;
}

// Unsigned fixed-point body: integer digits, then the separator and exactly
// `decimals` digits when decimals > 0.
QString FixedBody(const Decimal &d, int decimals, QChar decimalSeparator)
{
    QString s = IntegerPart(d);
    if (decimals > 0) {
        s += decimalSeparator;
        for (int i = 0; i < decimals; ++i) {
            s += QLatin1Char(d.DigitAt(d.exponent + i));
        }
    }
    return s;
}

QString ExponentPart(const Decimal &d, int minDigits)
{
    const int e = d.IsZero() ? 0 : d.exponent - 1;
    QString digits = QString::number(std::abs(e));
    if (digits.size() < minDigits) {
        digits.prepend(QString(minDigits - digits.size(), QLatin1Char('0')));
    }
    return (e < 0 ? QStringLiteral("E-") : QStringLiteral("E+")) + digits;
}

QString General(Decimal d, int precision, int digits, QChar decimalSeparator)
{
    RoundTo(d, precision);
    if (d.IsZero()) {
        return QStringLiteral("0");
    }
    QString s = Sign(d);
    // Fixed notation while the integer part fits the precision and the
    // magnitude is at least 0.00001 (0.1E-4).
    if (d.exponent <= precision && d.exponent >= -4) {
        s += IntegerPart(d);
        QString fraction;
        for (int i = std::min(d.exponent, 0); i < 0; ++i) {
            fraction += QLatin1Char('0');
        }
        for (int i = std::max(d.exponent, 0); i < static_cast<int>(d.digits.size()); ++i) {
            fraction += QLatin1Char(d.digits[i]);
        }
        if (!fraction.isEmpty()) {
            s += decimalSeparator + fraction;
        }
        return s;
    }
    s += QLatin1Char(d.digits[0]);
    if (d.digits.size() > 1) {
        s += decimalSeparator;
        s += QString::fromLatin1(d.digits.data() + 1, static_cast<qsizetype>(d.digits.size() - 1));
    }
    return s + ExponentPart(d, std::min(digits, 4));
}

}  // namespace

QString FloatToStrF(double value, TFloatFormat format, int precision, int digits,
                    QChar decimalSeparator)
{
    precision = std::clamp(precision, 2, 18);
    digits = std::clamp(digits, 0, 18);

    if (std::isnan(value)) {
        return std::signbit(value) ? QStringLiteral("-NAN") : QStringLiteral("NAN");
    }
    if (std::isinf(value)) {
        return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    }

    const Decimal exact = ShortestDecimal(value);
    if (format == ffGeneral) {
        return General(exact, precision, digits, decimalSeparator);
    }
    Decimal d = exact;
    RoundTo(d, std::min(precision, d.exponent + digits));
    if (d.exponent > precision) {
        return General(exact, precision, digits, decimalSeparator);
    }
    return Sign(d) + FixedBody(d, digits, decimalSeparator);
}

bool ShownUnits(double value, int precision, int digits, std::int64_t &units)
{
    precision = std::clamp(precision, 2, 18);
    digits = std::clamp(digits, 0, 18);
    if (!std::isfinite(value)) {
        return false;
    }
    // The same rounding as the ffFixed rendering, on the same decimal form.
    Decimal d = ShortestDecimal(value);
    RoundTo(d, std::min(precision, d.exponent + digits));
    if (d.exponent > precision) {
        return false;
    }
    const int count = d.IsZero() ? 0 : d.exponent + digits;
    if (count > 18) {
        return false;
    }
    std::int64_t magnitude = 0;
    for (int i = 0; i < count; ++i) {
        magnitude = magnitude * 10 + (d.DigitAt(i) - '0');
    }
    units = d.negative ? -magnitude : magnitude;
    return true;
}

namespace {

enum class Parsed { Number, TooLarge, Malformed };

// TextToFloat's reading, which tells a number too large for a double from
// text that is no number.
Parsed ParseNumber(const QString &text, double &value, QChar decimalSeparator)
{
    qsizetype i = 0;
    qsizetype end = text.size();
    while (i < end && text[i] == QLatin1Char(' ')) {
        ++i;
    }
    while (end > i && text[end - 1] == QLatin1Char(' ')) {
        --end;
    }

    bool negative = false;
    if (i < end && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }

    // The mantissa, rewritten in the form that std::from_chars reads.
    std::string ascii;
    bool separatorSeen = false;
    std::int64_t mantissaDigits = 0;
    std::int64_t integerDigits = 0;
    std::int64_t firstNonZero = -1;
    for (; i < end; ++i) {
        const QChar c = text[i];
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            if (firstNonZero < 0 && c != QLatin1Char('0')) {
                firstNonZero = mantissaDigits;
            }
            ascii += static_cast<char>(c.unicode());
            ++mantissaDigits;
            if (!separatorSeen) {
                ++integerDigits;
            }
        } else if (c == decimalSeparator && !separatorSeen) {
            separatorSeen = true;
            ascii += '.';
        } else {
            break;
        }
    }
    if (mantissaDigits == 0) {
        return Parsed::Malformed;
    }

    // The exponent, saturated far beyond any double's range so that a long
    // run of exponent digits cannot overflow.
    constexpr std::int64_t exponentLimit = 1'000'000'000;
    std::int64_t exponent = 0;
    if (i < end && (text[i] == QLatin1Char('E') || text[i] == QLatin1Char('e'))) {
        ++i;
        bool exponentNegative = false;
        if (i < end && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
            exponentNegative = text[i] == QLatin1Char('-');
            ++i;
        }
        int exponentDigits = 0;
        for (; i < end && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i) {
            exponent = std::min(exponent * 10 + (text[i].unicode() - '0'), exponentLimit);
            ++exponentDigits;
        }
        if (exponentDigits == 0) {
            return Parsed::Malformed;
        }
        if (exponentNegative) {
            exponent = -exponent;
        }
        ascii += 'e';
        ascii += std::to_string(exponent);
    }
    if (i != end) {
        return Parsed::Malformed;
    }

    double magnitude = 0;
    const auto result = std::from_chars(ascii.data(), ascii.data() + ascii.size(), magnitude);
    if (result.ec == std::errc::result_out_of_range) {
        // Power of ten of the leading digit: at or above zero the number is
        // too large for a double, below zero it is too small and becomes 0.
        const std::int64_t leading = integerDigits - 1 - firstNonZero + exponent;
        if (firstNonZero >= 0 && leading >= 0) {
            return Parsed::TooLarge;
        }
        magnitude = 0;
    } else if (result.ec != std::errc() || result.ptr != ascii.data() + ascii.size()) {
        return Parsed::Malformed;
    }
    value = negative ? -magnitude : magnitude;
    return Parsed::Number;
}

}  // namespace

bool TextToFloat(const QString &text, double &value, QChar decimalSeparator)
{
    return ParseNumber(text, value, decimalSeparator) == Parsed::Number;
}

bool HasNumberForm(const QString &text, QChar decimalSeparator)
{
    double ignored = 0;
    return ParseNumber(text, ignored, decimalSeparator) != Parsed::Malformed;
}

QChar SystemDecimalSeparator()
{
    const QString point = QLocale().decimalPoint();
    return point.size() == 1 ? point.at(0) : QChar(u'.');
}

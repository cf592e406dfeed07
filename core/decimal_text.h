// Numbers as the operator reads and types them: rendering in the formats of
// the numeric fields, and the strict conversion of typed text.
#pragma once

#include <cstdint>

#include <QChar>
#include <QString>

// The fields show fixed-point numbers; the general form (the shortest
// digits, with an exponent when the number is far from 1) is where a number
// too large for the fixed form falls back to.
enum TFloatFormat : std::uint8_t { ffGeneral, ffFixed };

// Renders a number. Precision is clamped to 2..18 and Digits to at most 18.
// ffFixed rounds half away from zero (on the shortest decimal form that reads
// back as the same double) to Precision significant digits and at most Digits
// decimals; it falls back to ffGeneral when the integer part needs more than
// Precision digits. NaN and infinities render as "NAN" and "INF", with a
// leading "-" when the sign bit is set.
QString FloatToStrF(double value, TFloatFormat format, int precision, int digits,
                    QChar decimalSeparator);

// Converts typed text: blanks around an optional sign, decimal digits with at
// most one decimalSeparator, an optional exponent ("E" or "e", optional sign,
// digits). Anything else, empty text included, fails. A number too large for
// a double fails too.
bool TextToFloat(const QString &text, double &value, QChar decimalSeparator);
// Whether text has the form that TextToFloat reads, whatever its size: a
// number too large for a double has it, so that a caller can call it out of
// range rather than malformed.
bool HasNumberForm(const QString &text, QChar decimalSeparator);

// The number that the ffFixed rendering of value shows, counted in units of
// its last decimal: 0.285 with 2 decimals shows "0.29" and gives 29, where
// 0.285 x 100 rounded in binary (28.4999...) would give 28. So a field's
// value turned into device steps is always the one the operator reads. False
// when the rendering shows no fixed-point number (not finite, or more integer
// digits than the precision) or the count exceeds 18 digits.
bool ShownUnits(double value, int precision, int digits, std::int64_t &units);

// The user's decimal separator: the one character of QLocale's decimal point,
// or "." when the locale's is longer.
QChar SystemDecimalSeparator();

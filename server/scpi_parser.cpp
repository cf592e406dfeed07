#include "scpi_parser.h"

#include <charconv>
#include <cstdint>
#include <limits>

#include "scpi_errors.h"

namespace scpi {

namespace {

constexpr std::size_t kMaxMnemonic = 12;
constexpr std::size_t kMaxSuffixDigits = 9;
constexpr std::size_t kMaxMantissaDigits = 255;
constexpr std::size_t kMaxExponentDigits = 5;
constexpr std::size_t kMaxWord = 12;
constexpr std::size_t kMaxUnit = 12;
constexpr int kEnd = -1;

// Thrown inside the parser; ParseMessage turns it into the message's error.
struct Failure {
    int code;
};

[[noreturn]] void Fail(int code)
{
    throw Failure{code};
}

bool IsAlpha(int c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsDigit(int c)
{
    return c >= '0' && c <= '9';
}

char Upper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// A byte where none of the expected ones came: outside ASCII it is an
// invalid character, otherwise a syntax error.
[[noreturn]] void Unexpected(int c)
{
    Fail(c >= 0x80 ? kInvalidCharacter : kSyntaxError);
}

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    int Peek(std::size_t ahead = 0) const
    {
        const std::size_t at = pos_ + ahead;
        return at < text_.size() ? static_cast<unsigned char>(text_[at]) : kEnd;
    }
    bool AtEnd() const { return pos_ >= text_.size(); }
    void Advance(std::size_t count = 1) { pos_ += count; }
    std::size_t Pos() const { return pos_; }
    std::string_view Slice(std::size_t from) const { return text_.substr(from, pos_ - from); }

    // White space is every byte up to the space, the newline excepted
    // (the newline ends the message before it reaches the parser).
    bool SkipWhite()
    {
        const std::size_t from = pos_;
        while (!AtEnd() && Peek() <= ' ' && Peek() != '\n') {
            ++pos_;
        }
        return pos_ > from;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

// A mnemonic and its numeric suffix: a letter, then letters, digits and
// '_'; the trailing digits are the suffix.
HeaderNode ReadNode(Reader &r)
{
    if (!IsAlpha(r.Peek())) {
        Unexpected(r.Peek());
    }
    const std::size_t from = r.Pos();
    while (IsAlpha(r.Peek()) || IsDigit(r.Peek()) || r.Peek() == '_') {
        r.Advance();
    }
    const std::string_view word = r.Slice(from);
    std::size_t digits = 0;
    while (digits < word.size() && IsDigit(word[word.size() - 1 - digits])) {
        ++digits;
    }
    const std::string_view name = word.substr(0, word.size() - digits);
    if (name.size() > kMaxMnemonic) {
        Fail(kProgramMnemonicTooLong);
    }
    HeaderNode node;
    for (const char c : name) {
        node.mnemonic += Upper(c);
    }
    if (digits > 0) {
        // A suffix too long to read is out of every range.
        node.suffix = std::numeric_limits<int>::max();
        if (digits <= kMaxSuffixDigits) {
            int value = 0;
            std::from_chars(word.data() + name.size(), word.data() + word.size(), value);
            node.suffix = value;
        }
    }
    return node;
}

Command ReadHeader(Reader &r, std::vector<HeaderNode> &current)
{
    Command c;
    if (r.Peek() == '*') {
        r.Advance();
        c.common = true;
        c.path.push_back(ReadNode(r));
    } else {
        const bool absolute = r.Peek() == ':';
        if (absolute) {
            r.Advance();
        } else {
            c.path = current;
        }
        c.path.push_back(ReadNode(r));
        while (r.Peek() == ':') {
            r.Advance();
            c.path.push_back(ReadNode(r));
            // No command is this deep; stopping here keeps a long chain of
            // relative headers from copying ever longer paths.
            if (c.path.size() > kMaxHeaderDepth) {
                Fail(kUndefinedHeader);
            }
        }
        if (c.path.size() > kMaxHeaderDepth) {
            Fail(kUndefinedHeader);
        }
        current.assign(c.path.begin(), c.path.end() - 1);
    }
    if (r.Peek() == '?') {
        r.Advance();
        c.query = true;
    }
    return c;
}

// Upper-case letters: a unit suffix or character data.
std::string ReadLetters(Reader &r, std::size_t maxLength, int tooLong, bool withDigits)
{
    const std::size_t from = r.Pos();
    while (IsAlpha(r.Peek()) || (withDigits && (IsDigit(r.Peek()) || r.Peek() == '_'))) {
        r.Advance();
    }
    const std::string_view word = r.Slice(from);
    if (word.size() > maxLength) {
        Fail(tooLong);
    }
    std::string out;
    for (const char c : word) {
        out += Upper(c);
    }
    return out;
}

std::size_t SkipDigits(Reader &r)
{
    std::size_t count = 0;
    while (IsDigit(r.Peek())) {
        r.Advance();
        ++count;
    }
    return count;
}

// <NRf> with an optional exponent, then an optional unit suffix after
// optional white space.
Param ReadDecimal(Reader &r)
{
    bool negative = false;
    if (r.Peek() == '+' || r.Peek() == '-') {
        negative = r.Peek() == '-';
        r.Advance();
    }
    const std::size_t numberFrom = r.Pos();
    std::size_t digits = SkipDigits(r);
    if (r.Peek() == '.') {
        r.Advance();
        digits += SkipDigits(r);
    }
    if (digits == 0) {
        Fail(kNumericDataError);
    }
    if (digits > kMaxMantissaDigits) {
        Fail(kTooManyDigits);
    }
    bool exponentUp = true;
    const int e = r.Peek();
    if (e == 'E' || e == 'e') {
        const int sign = r.Peek(1);
        const bool signed_ = sign == '+' || sign == '-';
        // "5E" without digits is no exponent: the E starts a suffix such as
        // "EX" (exa).
        if (IsDigit(r.Peek(signed_ ? 2 : 1))) {
            r.Advance(signed_ ? 2 : 1);
            exponentUp = sign != '-';
            if (SkipDigits(r) > kMaxExponentDigits) {
                Fail(kNumericDataError);
            }
        }
    }
    const std::string_view number = r.Slice(numberFrom);
    Param p;
    p.kind = ParamKind::Number;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), p.number);
    if (result.ec == std::errc::result_out_of_range) {
        // Beyond a double: infinite one way, zero the other. The command
        // then refuses an infinite value as out of range.
        p.number = exponentUp ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (result.ec != std::errc() || result.ptr != number.data() + number.size()) {
        Fail(kNumericDataError);
    }
    if (negative) {
        p.number = -p.number;
    }
    r.SkipWhite();
    if (IsAlpha(r.Peek())) {
        p.unit = ReadLetters(r, kMaxUnit, kSuffixTooLong, false);
    }
    return p;
}

// #H, #Q and #B numbers: whole, without a sign.
Param ReadNonDecimal(Reader &r)
{
    r.Advance();  // '#'
    const int kind = r.Peek();
    int base = 0;
    if (kind == 'H' || kind == 'h') {
        base = 16;
    } else if (kind == 'Q' || kind == 'q') {
        base = 8;
    } else if (kind == 'B' || kind == 'b') {
        base = 2;
    } else if (IsDigit(kind)) {
        Fail(kBlockDataNotAllowed);
    } else {
        Unexpected(kind);
    }
    r.Advance();
    const std::size_t from = r.Pos();
    while (IsAlpha(r.Peek()) || IsDigit(r.Peek())) {
        r.Advance();
    }
    const std::string_view digits = r.Slice(from);
    if (digits.empty() || digits.size() > kMaxMantissaDigits) {
        Fail(digits.empty() ? kNumericDataError : kTooManyDigits);
    }
    double value = 0;
    for (const char c : digits) {
        const char u = Upper(c);
        const int d = IsDigit(u) ? u - '0' : (u >= 'A' && u <= 'F') ? u - 'A' + 10 : base;
        if (d >= base) {
            Fail(kNumericDataError);
        }
        value = value * base + d;
    }
    Param p;
    p.kind = ParamKind::Number;
    p.number = value;
    return p;
}

Param ReadString(Reader &r)
{
    const int quote = r.Peek();
    r.Advance();
    Param p;
    p.kind = ParamKind::String;
    for (;;) {
        if (r.AtEnd()) {
            Fail(kInvalidStringData);
        }
        const int c = r.Peek();
        r.Advance();
        if (c == quote) {
            if (r.Peek() != quote) {
                return p;
            }
            r.Advance();
        }
        p.text += static_cast<char>(c);
    }
}

Param ReadParam(Reader &r)
{
    const int c = r.Peek();
    if (c == '"' || c == '\'') {
        return ReadString(r);
    }
    if (c == '#') {
        return ReadNonDecimal(r);
    }
    if (IsDigit(c) || c == '+' || c == '-' || c == '.') {
        return ReadDecimal(r);
    }
    if (IsAlpha(c)) {
        Param p;
        p.kind = ParamKind::Word;
        p.text = ReadLetters(r, kMaxWord, kCharacterDataTooLong, true);
        return p;
    }
    Unexpected(c);
}

bool EndsUnit(int c)
{
    return c == kEnd || c == ';';
}

// The parameters after a header: white space, then parameters separated by
// ',' (with white space around it), up to ';' or the end.
void ReadParams(Reader &r, Command &c)
{
    if (EndsUnit(r.Peek())) {
        return;
    }
    if (!r.SkipWhite()) {
        Fail(r.Peek() == ','    ? kInvalidSeparator
             : r.Peek() >= 0x80 ? kInvalidCharacter
                                : kSyntaxError);
    }
    if (EndsUnit(r.Peek())) {
        return;
    }
    for (;;) {
        if (c.params.size() == kMaxParams) {
            Fail(kParameterNotAllowed);
        }
        c.params.push_back(ReadParam(r));
        r.SkipWhite();
        if (EndsUnit(r.Peek())) {
            return;
        }
        if (r.Peek() != ',') {
            Fail(r.Peek() >= 0x80 ? kInvalidCharacter : kInvalidSeparator);
        }
        r.Advance();
        r.SkipWhite();
        if (EndsUnit(r.Peek())) {
            Fail(kSyntaxError);
        }
    }
}

}  // namespace

ParsedMessage ParseMessage(std::string_view text)
{
    ParsedMessage out;
    Reader r(text);
    std::vector<HeaderNode> current;
    try {
        r.SkipWhite();
        while (!r.AtEnd()) {
            if (out.commands.size() == kMaxCommands) {
                Fail(kTooMuchData);
            }
            Command c = ReadHeader(r, current);
            ReadParams(r, c);
            out.commands.push_back(std::move(c));
            // ReadParams stops at ';' or the end.
            if (r.Peek() == ';') {
                r.Advance();
            }
            r.SkipWhite();
        }
    } catch (const Failure &f) {
        out.error = f.code;
    }
    return out;
}

}  // namespace scpi

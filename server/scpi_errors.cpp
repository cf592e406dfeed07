#include "scpi_errors.h"

namespace scpi {

namespace {

struct Known {
    int code;
    const char *text;
};

constexpr Known kKnown[] = {
    {kNoError, "No error"},
    {kInvalidCharacter, "Invalid character"},
    {kSyntaxError, "Syntax error"},
    {kInvalidSeparator, "Invalid separator"},
    {kDataTypeError, "Data type error"},
    {kParameterNotAllowed, "Parameter not allowed"},
    {kMissingParameter, "Missing parameter"},
    {kProgramMnemonicTooLong, "Program mnemonic too long"},
    {kUndefinedHeader, "Undefined header"},
    {kHeaderSuffixOutOfRange, "Header suffix out of range"},
    {kNumericDataError, "Numeric data error"},
    {kTooManyDigits, "Too many digits"},
    {kInvalidSuffix, "Invalid suffix"},
    {kSuffixTooLong, "Suffix too long"},
    {kSuffixNotAllowed, "Suffix not allowed"},
    {kInvalidCharacterData, "Invalid character data"},
    {kCharacterDataTooLong, "Character data too long"},
    {kInvalidStringData, "Invalid string data"},
    {kStringDataNotAllowed, "String data not allowed"},
    {kBlockDataNotAllowed, "Block data not allowed"},
    {kDataOutOfRange, "Data out of range"},
    {kTooMuchData, "Too much data"},
    {kHardwareError, "Hardware error"},
    {kHardwareMissing, "Hardware missing"},
    {kQueueOverflow, "Queue overflow"},
    {kInputBufferOverrun, "Input buffer overrun"},
    {kQueryInterrupted, "Query INTERRUPTED"},
    {kQueryUnterminated, "Query UNTERMINATED"},
};

}  // namespace

const char *ErrorText(int code)
{
    for (const Known &k : kKnown) {
        if (k.code == code) {
            return k.text;
        }
    }
    return "Error";
}

int EventBitOf(int code)
{
    if (code <= -100 && code > -200) {
        return 0x20;
    }
    if (code <= -200 && code > -300) {
        return 0x10;
    }
    if (code <= -300 && code > -400) {
        return 0x08;
    }
    if (code <= -400 && code > -500) {
        return 0x04;
    }
    return 0;
}

std::string LineSafeText(const std::string &text, std::size_t maxLength)
{
    std::string out = text.substr(0, maxLength);
    for (char &c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            c = '?';
        }
    }
    return out;
}

void ErrorQueue::Push(int code, const std::string &detail)
{
    if (entries_.size() >= kCapacity) {
        entries_.back() = {kQueueOverflow, {}};
        return;
    }
    entries_.push_back({code, detail});
}

std::string ErrorQueue::Pop()
{
    if (entries_.empty()) {
        return "0,\"No error\"";
    }
    const Entry e = entries_.front();
    entries_.pop_front();
    std::string text = ErrorText(e.code);
    if (!e.detail.empty()) {
        text += ";" + e.detail;
    }
    // A quote inside a string is doubled.
    std::string quoted;
    for (const char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return std::to_string(e.code) + ",\"" + quoted + "\"";
}

}  // namespace scpi

// The SCPI errors the server reports, with their standard numbers and texts,
// and the error queue each client has.
#pragma once

#include <cstddef>
#include <deque>
#include <string>

namespace scpi {

enum ErrorCode : int {
    kNoError = 0,
    kInvalidCharacter = -101,
    kSyntaxError = -102,
    kInvalidSeparator = -103,
    kDataTypeError = -104,
    kParameterNotAllowed = -108,
    kMissingParameter = -109,
    kProgramMnemonicTooLong = -112,
    kUndefinedHeader = -113,
    kHeaderSuffixOutOfRange = -114,
    kNumericDataError = -120,
    kTooManyDigits = -124,
    kInvalidSuffix = -131,
    kSuffixTooLong = -134,
    kSuffixNotAllowed = -138,
    kInvalidCharacterData = -141,
    kCharacterDataTooLong = -144,
    kInvalidStringData = -151,
    kStringDataNotAllowed = -158,
    kBlockDataNotAllowed = -168,
    kDataOutOfRange = -222,
    kTooMuchData = -223,
    kHardwareError = -240,
    kHardwareMissing = -241,
    kQueueOverflow = -350,
    kInputBufferOverrun = -363,
    kQueryInterrupted = -410,
    kQueryUnterminated = -420,
};

// The standard text of an error ("Undefined header"); "Error" for a number
// that is not listed above.
const char *ErrorText(int code);

// The bit of the standard event status register that an error's class sets:
// command errors (-100s) 0x20, execution errors (-200s) 0x10, device errors
// (-300s) 0x08, query errors (-400s) 0x04.
int EventBitOf(int code);

// Text that came from outside (the library's error text, the generator's
// identity) made safe for an answer line: control characters, which could
// end the line or upset a terminal, become '?'. Longer text is cut to
// maxLength bytes.
std::string LineSafeText(const std::string &text, std::size_t maxLength);

// A client's error queue: oldest first, at most kCapacity entries. When it
// is full, its newest entry becomes -350 "Queue overflow" and further
// errors are lost until it has room again.
class ErrorQueue {
public:
    static constexpr std::size_t kCapacity = 20;

    // detail, when given, follows the text after a ';', as the library's
    // text follows "Hardware error".
    void Push(int code, const std::string &detail = {});
    // The oldest entry as SYSTem:ERRor? answers it, `-113,"Undefined
    // header"`, and removes it; `0,"No error"` when the queue is empty.
    std::string Pop();
    std::size_t Count() const { return entries_.size(); }
    void Clear() { entries_.clear(); }

private:
    struct Entry {
        int code = 0;
        std::string detail;
    };
    std::deque<Entry> entries_;
};

}  // namespace scpi

// The message syntax and the command set: what a message reads as, which
// command a header names, and the first error of a malformed message.
#include "scpi_parser.h"

#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "scpi_commands.h"
#include "scpi_errors.h"

using namespace scpi;

namespace {

// A header path written "SOUR2:FREQ" (suffix -1 when none).
std::vector<HeaderNode> Path(const std::string &text)
{
    std::vector<HeaderNode> path;
    std::size_t from = 0;
    while (from <= text.size()) {
        std::size_t to = text.find(':', from);
        if (to == std::string::npos) {
            to = text.size();
        }
        std::string node = text.substr(from, to - from);
        HeaderNode n;
        std::size_t digits = node.find_first_of("0123456789");
        if (digits != std::string::npos) {
            n.suffix = std::stoi(node.substr(digits));
            node = node.substr(0, digits);
        }
        n.mnemonic = node;
        path.push_back(n);
        from = to + 1;
    }
    return path;
}

Param Number(double v, const std::string &unit = "")
{
    return {ParamKind::Number, v, "", unit};
}

Param Word(const std::string &w)
{
    return {ParamKind::Word, 0, w, ""};
}

Param String(const std::string &s)
{
    return {ParamKind::String, 0, s, ""};
}

}  // namespace

TEST(ScpiParserTest, HeadersTakeTheirPathFromTheCommandBefore)
{
    struct Case {
        const char *message;
        std::vector<std::string> paths;
    };
    const Case cases[] = {
        {"SOUR2:FREQ 60;PHAS 5", {"SOUR2:FREQ", "SOUR2:PHAS"}},
        {"SOUR2:FREQ 60;:SOUR3:FREQ 60;FREQ?", {"SOUR2:FREQ", "SOUR3:FREQ", "SOUR3:FREQ"}},
        {"sour2:freq:cw 60;coup on", {"SOUR2:FREQ:CW", "SOUR2:FREQ:COUP"}},
        // A common command leaves the path alone.
        {"SOUR2:FREQ 60;*CLS;PHAS 5", {"SOUR2:FREQ", "CLS", "SOUR2:PHAS"}},
        {"FREQ 1;PHAS 2", {"FREQ", "PHAS"}},
        {":SYST:ERR?;COUN?", {"SYST:ERR", "SYST:COUN"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        const ParsedMessage m = ParseMessage(c.message);
        ASSERT_EQ(m.error, 0);
        ASSERT_EQ(m.commands.size(), c.paths.size());
        for (std::size_t i = 0; i < c.paths.size(); ++i) {
            EXPECT_EQ(m.commands[i].path, Path(c.paths[i])) << i;
        }
    }
}

TEST(ScpiParserTest, ParametersAreReadWithTheirKindsAndUnits)
{
    struct Case {
        const char *message;
        std::vector<Param> params;
    };
    const Case cases[] = {
        {"X 50.5", {Number(50.5)}},
        {"X -1.5E-3", {Number(-1.5e-3)}},
        {"X +.5", {Number(0.5)}},
        {"X 2.", {Number(2)}},
        {"X 1.5 kHz", {Number(1.5, "KHZ")}},
        {"X 7.07VRMS", {Number(7.07, "VRMS")}},
        {"X 5E", {Number(5, "E")}},
        {"X #H1f,#q17,#B101", {Number(31), Number(15), Number(5)}},
        {"X max , Def", {Word("MAX"), Word("DEF")}},
        {"X 'it''s',\"a\"\"b\"", {String("it's"), String("a\"b")}},
        {"X\t1 ,\x01"
         "2",
         {Number(1), Number(2)}},
        {"X 1E999", {Number(INFINITY)}},
        {"X -1E999", {Number(-INFINITY)}},
        {"X 1E-999", {Number(0)}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        const ParsedMessage m = ParseMessage(c.message);
        ASSERT_EQ(m.error, 0);
        ASSERT_EQ(m.commands.size(), 1u);
        EXPECT_EQ(m.commands[0].params, c.params);
    }
}

TEST(ScpiParserTest, QueriesCommonCommandsAndEmptyMessages)
{
    ParsedMessage m = ParseMessage("  *idn? ; *RST;FREQ? MAX;");
    ASSERT_EQ(m.error, 0);
    ASSERT_EQ(m.commands.size(), 3u);
    EXPECT_TRUE(m.commands[0].common);
    EXPECT_TRUE(m.commands[0].query);
    EXPECT_EQ(m.commands[0].path, Path("IDN"));
    EXPECT_FALSE(m.commands[1].query);
    EXPECT_TRUE(m.commands[2].query);
    EXPECT_EQ(m.commands[2].params, std::vector<Param>{Word("MAX")});

    for (const char *empty : {"", "  \t", "\r"}) {
        m = ParseMessage(empty);
        EXPECT_EQ(m.error, 0);
        EXPECT_TRUE(m.commands.empty());
    }
}

TEST(ScpiParserTest, MalformedMessagesNameTheirFirstError)
{
    const std::string digits(300, '1');
    std::string manyCommands;
    for (std::size_t i = 0; i <= kMaxCommands; ++i) {
        manyCommands += "*OPC;";
    }
    struct Case {
        std::string message;
        int error;
    };
    const Case cases[] = {
        {"FREQ 1 2", kInvalidSeparator},
        {"FREQ,1", kInvalidSeparator},
        {"FREQ 1,", kSyntaxError},
        {";FREQ", kSyntaxError},
        {"FREQ;;PHAS", kSyntaxError},
        {":", kSyntaxError},
        {"SOUR::FREQ", kSyntaxError},
        {"* IDN?", kSyntaxError},
        {"FREQ? ?", kSyntaxError},
        {"FREQ\xff", kInvalidCharacter},
        {"FREQ 1\xff", kInvalidCharacter},
        {"FREQ \xff", kInvalidCharacter},
        {"ABCDEFGHIJKLM", kProgramMnemonicTooLong},
        {"FREQ -", kNumericDataError},
        {"FREQ .", kNumericDataError},
        {"FREQ 1E123456", kNumericDataError},
        {"FREQ " + digits, kTooManyDigits},
        {"FREQ 1 ABCDEFGHIJKLM", kSuffixTooLong},
        {"KLOC ABCDEFGHIJKLM", kCharacterDataTooLong},
        {"FREQ 'abc", kInvalidStringData},
        {"FREQ #12ab", kBlockDataNotAllowed},
        {"FREQ #H", kNumericDataError},
        {"FREQ #B102", kNumericDataError},
        {"FREQ #X1", kSyntaxError},
        {"A:B:C:D:E:F:G:H:I", kUndefinedHeader},
        {"FREQ 1,2,3,4,5,6,7,8,9", kParameterNotAllowed},
        {manyCommands, kTooMuchData},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message.substr(0, 40));
        EXPECT_EQ(ParseMessage(c.message).error, c.error);
    }
}

TEST(ScpiCommandsTest, HeadersNameCommandsInLongAndShortFormsWithOptionalNodes)
{
    struct Case {
        const char *message;
        CommandId id;
        int channel;
    };
    const Case cases[] = {
        {"FREQ 1", CommandId::Frequency, 0},
        {"SOURce3:FREQuency:CW?", CommandId::Frequency, 2},
        {"sour2:volt:lev:imm:ampl 1", CommandId::Voltage, 1},
        {"SOUR:VOLTAGE:AMPLITUDE?", CommandId::Voltage, 0},
        {"VOLT:IMM 1", CommandId::Voltage, 0},
        {"SOUR1:VOLT:UNIT VRMS", CommandId::VoltageUnit, 0},
        {"SOUR2:PHAS:ADJ 1", CommandId::Phase, 1},
        {"SOUR:FREQ:COUP:STAT ON", CommandId::Couple, 0},
        {"FREQ:COUP?", CommandId::Couple, 0},
        {"SYST:KLOC ON", CommandId::Klock, 0},
        {"SYSTEM:ERROR?", CommandId::ErrorNext, 0},
        {"SYST:ERR:NEXT?", CommandId::ErrorNext, 0},
        {"SYST:ERR:COUN?", CommandId::ErrorCount, 0},
        {"SYST:VERS?", CommandId::Version, 0},
        {"*ese 4", CommandId::Ese, 0},
        {"*TST?", CommandId::Tst, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        const ParsedMessage m = ParseMessage(c.message);
        ASSERT_EQ(m.error, 0);
        const Resolved r = Resolve(m.commands.at(0));
        EXPECT_EQ(r.error, 0);
        EXPECT_EQ(r.id, c.id);
        EXPECT_EQ(r.channel, c.channel);
    }
}

TEST(ScpiCommandsTest, UnknownHeadersBadSuffixesAndMissingFormsAreRefused)
{
    struct Case {
        const char *message;
        int error;
    };
    const Case cases[] = {
        {"SOUR4:FREQ 1", kHeaderSuffixOutOfRange},
        {"SOUR0:FREQ 1", kHeaderSuffixOutOfRange},
        {"SOUR99999999999:FREQ 1", kHeaderSuffixOutOfRange},
        {"FREQ2 1", kHeaderSuffixOutOfRange},
        {"*IDN2?", kHeaderSuffixOutOfRange},
        {"FREQU 1", kUndefinedHeader},  // neither the short nor the long form
        {"SOUR:CW 1", kUndefinedHeader},
        {"SOUR:FREQ:CW:COUP ON", kUndefinedHeader},
        {"SYST:ERR", kUndefinedHeader},  // only a query
        {"*IDN", kUndefinedHeader},
        {"*RST?", kUndefinedHeader},  // only a command
        {"*FOO", kUndefinedHeader},
        {"SYST", kUndefinedHeader},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        const ParsedMessage m = ParseMessage(c.message);
        ASSERT_EQ(m.error, 0);
        EXPECT_EQ(Resolve(m.commands.at(0)).error, c.error);
    }
}

TEST(ScpiErrorsTest, TheQueueKeepsTwentyAndMarksItsOverflow)
{
    ErrorQueue q;
    EXPECT_EQ(q.Pop(), "0,\"No error\"");
    q.Push(kHardwareError, "Set parameter error: \"x\"");
    EXPECT_EQ(q.Pop(), "-240,\"Hardware error;Set parameter error: \"\"x\"\"\"");
    for (int i = 0; i < 25; ++i) {
        q.Push(kUndefinedHeader);
    }
    EXPECT_EQ(q.Count(), ErrorQueue::kCapacity);
    for (std::size_t i = 1; i < ErrorQueue::kCapacity; ++i) {
        EXPECT_EQ(q.Pop(), "-113,\"Undefined header\"");
    }
    EXPECT_EQ(q.Pop(), "-350,\"Queue overflow\"");
    EXPECT_EQ(q.Count(), 0u);
}

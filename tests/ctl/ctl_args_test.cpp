// px418ctl's command line: what it accepts, scaled and rounded as the
// window's fields do, and what it refuses, with the allowed range.
#include "ctl_args.h"

#include <sstream>

#include <gtest/gtest.h>

#include "ctl_help.h"

namespace {

std::vector<std::string> Words(const std::string &line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) {
        words.push_back(w);
    }
    return words;
}

CtlParse Parse(const std::string &line)
{
    return ParseCtlArgs(Words(line));
}

}  // namespace

TEST(CtlArgsTest, SettingsTakeTheFieldsScalingAndRounding)
{
    struct Case {
        const char *line;
        std::vector<OutputSetting> settings;
    };
    const Case cases[] = {
        {"set A freq 50.5", {{0, 1, 50500}}},
        {"set a FREQUENCY 1.001", {{0, 1, 1001}}},
        {"set B phase -120", {{1, 2, -1200}}},
        {"set B phase -0.05", {{1, 2, -1}}},
        {"set B phase 0.05", {{1, 2, 1}}},
        {"set C ampl 7.07 --rms", {{2, 3, 1000}}},
        {"set --rms C amplitude 5", {{2, 3, 707}}},
        {"set C ampl 10", {{2, 3, 1000}}},
        {"set C ampl 9.995", {{2, 3, 1000}}},  // the decimal tie, not the binary product
        {"set mode A+B+C", {{0, 0, 1}}},
        {"set mode a.b.c", {{0, 0, 0}}},
        {"set mode 1", {{0, 0, 1}}},
        // Within half a unit of the bound, the rounded value is in range.
        {"set A freq 3000.0004", {{0, 1, 3000000}}},
        {"set A freq 1e3", {{0, 1, 1000000}}},
        {"set A freq 50 B freq 50 C freq 50 mode A.B.C",
         {{0, 1, 50000}, {1, 1, 50000}, {2, 1, 50000}, {0, 0, 0}}},
        {"set -- A phase -5", {{0, 2, -50}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        const CtlParse p = Parse(c.line);
        ASSERT_TRUE(p.ok) << p.error;
        EXPECT_EQ(p.command.verb, CtlVerb::Set);
        EXPECT_EQ(p.command.settings, c.settings);
    }
}

TEST(CtlArgsTest, OtherCommandsAndTheirOptions)
{
    CtlParse p = Parse("get B phase --json --rms");
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.command.verb, CtlVerb::Get);
    EXPECT_EQ(p.command.target, GetTarget::Quantity);
    EXPECT_EQ(p.command.channel, 1);
    EXPECT_EQ(p.command.quantity, 2);
    EXPECT_TRUE(p.command.json);
    EXPECT_TRUE(p.command.rms);

    EXPECT_EQ(Parse("get").command.target, GetTarget::Table);
    EXPECT_EQ(Parse("get mode").command.target, GetTarget::Mode);
    EXPECT_EQ(Parse("get lock").command.target, GetTarget::Lock);

    p = Parse("preset load 9 --mute");
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.command.verb, CtlVerb::PresetLoad);
    EXPECT_EQ(p.command.slot, 9);
    EXPECT_TRUE(p.command.mute);
    EXPECT_EQ(Parse("preset save 0").command.verb, CtlVerb::PresetSave);

    p = Parse("load bench.par");
    EXPECT_EQ(p.command.verb, CtlVerb::Load);
    EXPECT_EQ(p.command.path, "bench.par");
    EXPECT_EQ(Parse("save -- -odd.par").command.path, "-odd.par");

    EXPECT_EQ(Parse("lock").command.verb, CtlVerb::Lock);
    EXPECT_EQ(Parse("unlock").command.verb, CtlVerb::Unlock);
    EXPECT_EQ(Parse("info").command.verb, CtlVerb::Info);
    EXPECT_EQ(Parse("watch --json").command.verb, CtlVerb::Watch);
    EXPECT_EQ(Parse("--version").command.verb, CtlVerb::Version);
}

TEST(CtlArgsTest, HelpIsFoundFromEveryPlace)
{
    struct Case {
        const char *line;
        const char *topic;
    };
    const Case cases[] = {
        {"--help", ""},
        {"-h", ""},
        {"help", ""},
        {"help sweep", "sweep"},
        {"set --help", "set"},
        {"set A freq 4000 -h", "set"},
        {"preset --help", "preset"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        const CtlParse p = Parse(c.line);
        ASSERT_TRUE(p.ok) << p.error;
        EXPECT_EQ(p.command.verb, CtlVerb::Help);
        EXPECT_EQ(p.command.helpTopic, c.topic);
        EXPECT_FALSE(CtlHelp(c.topic).empty());
    }
    EXPECT_NE(CtlHelp("set").find("Usage: px418ctl set"), std::string::npos);
}

TEST(CtlArgsTest, MalformedAndOutOfRangeArgumentsAreRefusedWithTheRange)
{
    struct Case {
        const char *line;
        const char *message;  // a part of the refusal
    };
    const Case cases[] = {
        {"", "no command given"},
        {"frob", "unknown command 'frob'"},
        {"--frob", "unknown option '--frob'"},
        {"set A freq 4000", "A freq 4000 Hz is out of range: allowed 0.000 to 3000.000 Hz"},
        {"set A freq -0.001", "allowed 0.000 to 3000.000 Hz"},
        {"set B phase 360.1", "allowed -360.0 to 360.0 deg"},
        {"set C ampl 10.01", "allowed 0.00 to 10.00 V peak"},
        {"set C ampl 7.08 --rms", "allowed 0.00 to 7.07 V rms"},
        {"set A freq 50,5", "write the decimal point as '.'"},
        {"set A freq 5O", "malformed value '5O' for A freq"},
        {"set A freq nan", "malformed value 'nan' for A freq: expected a number, allowed 0.000 to "
                           "3000.000 Hz"},
        {"set A freq inf", "allowed 0.000 to 3000.000 Hz"},
        {"set A freq -inf", "malformed value '-inf' for A freq"},
        {"set A freq 1e309", "A freq 1e309 is out of range: allowed 0.000 to 3000.000 Hz"},
        {"set A freq", "missing value after 'A freq'"},
        {"set A", "missing quantity after 'A'"},
        {"set", "nothing to set"},
        {"set D freq 1", "unknown output 'D'"},
        {"set A volts 1", "unknown quantity 'volts'"},
        {"set A mode 1", "the mode is one for all outputs"},
        {"set mode ABC", "unknown mode 'ABC': allowed A.B.C or A+B+C"},
        {"set mode", "missing value after 'mode'"},
        {"set A freq 1 B freq 2 a FREQ 3", "A freq is given twice"},
        {"set A freq 1 --json", "option '--json' does not apply to 'set'"},
        {"set A freq 1 -x", "unknown option '-x'"},
        {"get A", "missing arguments"},
        {"get A mode", "the mode is one for all outputs"},
        {"get A freq B", "unexpected argument 'B'"},
        {"get mode extra", "unexpected argument 'extra': get mode"},
        {"info now", "unexpected argument 'now'"},
        {"lock --mute", "does not apply to 'lock'"},
        {"preset save 10", "preset slot '10' is out of range: allowed 0 to 9"},
        {"preset save -1", "allowed 0 to 9"},
        {"preset keep 1", "unknown preset action 'keep'"},
        {"load", "missing arguments"},
        {"save a.par b.par", "unexpected argument 'b.par'"},
        {"sweep A freq 1 2 --dwell 10", "missing --step"},
        {"sweep A freq 1 2 --step 1", "missing --dwell"},
        {"sweep A freq 1 2 --step 0.0001 --dwell 0",
         "below the generator's resolution of 0.001 Hz"},
        {"sweep A freq 1 2 --step 0 --dwell 0", "below the generator's resolution"},
        {"sweep A freq 1 2 --step -1 --dwell 0", "--step -1 is negative"},
        {"sweep A freq 1 2 --step 1 --dwell 1.5", "--dwell '1.5' is out of range"},
        {"sweep A freq 1 2 --step 1 --dwell 86400001", "allowed 0 to 86400000 ms"},
        {"sweep A freq 1 4000 --step 1 --dwell 0", "allowed 0.000 to 3000.000 Hz"},
        {"sweep A mode 0 1 --step 1 --dwell 0", "for a sweep: allowed freq, phase or ampl"},
        {"sweep A freq 1 --step 1 --dwell 0", "missing arguments"},
        {"sweep A freq 1 2 --step", "option '--step' needs a value"},
        {"sweep A freq 1 9 --step 1 --dwell 0 --step 2", "option '--step' is given twice"},
        {"sweep A freq 1 9 --step nan --dwell 0", "expected a number, allowed at least 0.001 Hz"},
        {"watch --json=1", "option '--json' takes no value"},
        {"help frob", "unknown command 'frob'"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        const CtlParse p = Parse(c.line);
        EXPECT_FALSE(p.ok);
        EXPECT_NE(p.error.find(c.message), std::string::npos) << p.error;
    }
    for (const char *verb : {"load", "save"}) {
        const CtlParse p = ParseCtlArgs({verb, ""});
        EXPECT_FALSE(p.ok);
        EXPECT_EQ(p.error, std::string("the file name is empty: ") + verb + " FILE.par");
    }
}

TEST(CtlArgsTest, ASweepRunsFromFromTowardToInSteps)
{
    struct Case {
        const char *line;
        std::vector<std::int32_t> values;
    };
    const Case cases[] = {
        {"sweep A freq 10 12 --step 1 --dwell 0", {10000, 11000, 12000}},
        {"sweep A freq 12 10 --step 1 --dwell 0", {12000, 11000, 10000}},
        {"sweep A freq 5 5 --step 1 --dwell 0", {5000}},
        // The last value not beyond TO; a TO reached but for rounding counts.
        {"sweep B phase 0 1 --step 0.3 --dwell 0", {0, 3, 6, 9}},
        {"sweep B phase 0 1 --step 0.1 --dwell 0", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
        {"sweep C ampl 7.07 7.05 --step 0.01 --rms --dwell 0", {1000, 998, 997}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        const CtlParse p = Parse(c.line);
        ASSERT_TRUE(p.ok) << p.error;
        std::vector<std::int32_t> values;
        for (long i = 0; i < p.command.sweep.count; ++i) {
            values.push_back(SweepValue(p.command.sweep, i, p.command.rms));
        }
        EXPECT_EQ(values, c.values);
    }
    const CtlParse p = Parse("sweep B phase 10 20 --step=5 --dwell=250");
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.command.sweep.channel, 1);
    EXPECT_EQ(p.command.sweep.quantity, 2);
    EXPECT_EQ(p.command.sweep.dwellMs, 250);
}

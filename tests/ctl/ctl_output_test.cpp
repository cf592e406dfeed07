// What px418ctl prints: the window's units and decimals, "." as the decimal
// point, fixed JSON keys, and the report of a run that failed part-way.
#include "ctl_output.h"

#include <gtest/gtest.h>

namespace {

// Mode "A+B+C": B and C show A's frequency.
const ParamTable kCoupled = {1, 1500, -5, 707, 0, 2000, -1200, 1000, 0, 3000000, 3600, 0};

}  // namespace

TEST(CtlOutputTest, ValuesReadAsTheWindowShowsThem)
{
    struct Case {
        int channel;
        int quantity;
        std::int32_t entry;
        bool rms;
        const char *line;
        const char *json;
    };
    const Case cases[] = {
        {0, 1, 50500, false, "A freq 50.500 Hz",
         R"({"channel":"A","quantity":"freq","value":50.500,"unit":"Hz"})"},
        {1, 2, -1200, false, "B phase -120.0 deg",
         R"({"channel":"B","quantity":"phase","value":-120.0,"unit":"deg"})"},
        {2, 3, 1000, false, "C ampl 10.00 V peak",
         R"({"channel":"C","quantity":"ampl","value":10.00,"unit":"V peak"})"},
        {2, 3, 1000, true, "C ampl 7.07 V rms",
         R"({"channel":"C","quantity":"ampl","value":7.07,"unit":"V rms"})"},
        {2, 3, 707, true, "C ampl 5.00 V rms",
         R"({"channel":"C","quantity":"ampl","value":5.00,"unit":"V rms"})"},
        {0, 0, 1, false, "A mode A+B+C",
         R"({"channel":"A","quantity":"mode","value":"A+B+C","unit":""})"},
        {0, 0, 7, false, "A mode 7", R"({"channel":"A","quantity":"mode","value":"7","unit":""})"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(ValueLine(c.channel, c.quantity, c.entry, c.rms), c.line);
        EXPECT_EQ(ValueJson(c.channel, c.quantity, c.entry, c.rms), c.json);
    }
}

TEST(CtlOutputTest, TheTableShowsTheFrequenciesTheOutputsRunAt)
{
    EXPECT_EQ(TableJson(kCoupled, true),
              R"({"mode":"A+B+C","locked":true,"outputs":{)"
              R"("A":{"freq_hz":1.500,"phase_deg":-0.5,"ampl_v_peak":7.07,"ampl_v_rms":5.00},)"
              R"("B":{"freq_hz":1.500,"phase_deg":-120.0,"ampl_v_peak":10.00,"ampl_v_rms":7.07},)"
              R"("C":{"freq_hz":1.500,"phase_deg":360.0,"ampl_v_peak":0.00,"ampl_v_rms":0.00}}})");
    EXPECT_EQ(TableText(kCoupled, false, true), "mode  A+B+C\n"
                                                "lock  unlocked\n"
                                                "      freq (Hz)   phase (deg)   ampl (V rms)\n"
                                                "A         1.500          -0.5           5.00\n"
                                                "B         1.500        -120.0           7.07\n"
                                                "C         1.500         360.0           0.00\n");
}

TEST(CtlOutputTest, APartialRunSaysWhatWasWrittenAndWhatWasNot)
{
    const std::vector<DeviceWrite> run =
        SettingWrites({{0, 1, 60000}, {1, 1, 60000}, {2, 1, 60000}});
    struct Case {
        std::size_t done;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {0,
         {"nothing was written", "failed: A freq 60.000 Hz",
          "not sent: B freq 60.000 Hz, C freq 60.000 Hz, closing write C freq 60.000 Hz"}},
        {2,
         {"written, held by the generator, not in effect: A freq 60.000 Hz, B freq 60.000 Hz",
          "failed: C freq 60.000 Hz", "not sent: closing write C freq 60.000 Hz"}},
        {3,
         {"written, held by the generator, not in effect: A freq 60.000 Hz, B freq 60.000 Hz, "
          "C freq 60.000 Hz",
          "failed: closing write C freq 60.000 Hz"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.done);
        EXPECT_EQ(PartialRunReport(run, c.done), c.lines);
    }
    EXPECT_EQ(DescribeWrite({4, 0x40, 3}), "group 4 number 0 value 3");
}

TEST(CtlOutputTest, DeviceTextReachesTheTerminalWithoutControlCharacters)
{
    EXPECT_EQ(PrintableText(QStringLiteral("PX-418 virtual generator")),
              "PX-418 virtual generator");
    EXPECT_EQ(PrintableText(QString::fromLatin1("PX-418\x1b[31mRED\x07\nline2\r\x7f\x9b")),
              "PX-418?[31mRED??line2???");
    EXPECT_EQ(PrintableText(QString::fromLatin1("V1.0 \xb5")),
              "V1.0 \xc2\xb5");  // Latin-1 in UTF-8
}

TEST(CtlOutputTest, ARunsEntriesAsLinesAndAsJson)
{
    SequenceLogEntry step;
    step.event = SequenceLogEntry::Event::RampStep;
    step.pass = 2;
    step.name = QStringLiteral("Pick \"up\"\n\\");
    step.step = 3;
    step.due = std::chrono::microseconds(300000);
    step.effect = std::chrono::microseconds(305217);
    step.written = {{0, PX418_OUT_FREQUENCY, 49850}, {1, PX418_OUT_AMPLITUDE, 0}};
    EXPECT_EQ(SequenceEntryText(step, true),
              "pass 2 Pick \"up\"\n\\ step 3: due 300.000 ms, took effect 305.217 ms, 5.217 ms "
              "late: A freq 49.850 Hz, B ampl 0.00 V peak");
    // The name stays one JSON string, whatever it holds.
    EXPECT_EQ(SequenceEntryJson(step),
              R"({"pass":2,"state":"Pick \"up\"\u000a\\","event":"ramp step","step":3,)"
              R"("due_ms":300.000,"effect_ms":305.217,"late_ms":5.217,"written":[)"
              R"({"channel":"A","quantity":"freq","value":49.850,"unit":"Hz"},)"
              R"({"channel":"B","quantity":"ampl","value":0.00,"unit":"V peak"}]})");

    SequenceLogEntry end;
    end.event = SequenceLogEntry::Event::End;
    end.state = -1;
    EXPECT_EQ(SequenceEntryText(end, true), "end settings (before the run): due 0.000 ms, took "
                                            "effect 0.000 ms, 0.000 ms late: nothing");
    EXPECT_EQ(SequenceEntryJson(end).rfind(R"({"pass":null,"state":null,"event":"end",)", 0), 0u);
    end.name = QStringLiteral("Off");
    EXPECT_EQ(SequenceEntryText(end, false).rfind("end settings (Off): ", 0), 0u);
}

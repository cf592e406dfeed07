// A client's messages on the virtual generator: what reaches the device for
// each setting and message, what the queries answer, how a refused message
// leaves everything alone, and the status registers and error queue.
#include "scpi_session.h"

#include <vector>

#include <gtest/gtest.h>

#include "d2xx.h"
#include "expected_writes.h"
#include "px418usb.h"
#include "virtual/virtual_generator.h"

using px418virtual::TheVirtualGenerator;
using scpi::DeviceContext;
using scpi::MessageResult;
using scpi::Session;

class ScpiSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        D2xxInstall(D2xxVirtualProvider());
        px418virtual::ResetVirtualConverter();
        TheVirtualGenerator().Reset();
        ASSERT_TRUE(PX418_OpenDevice());
        TheVirtualGenerator().ClearLog();
        device_.online = true;
        device_.wait = [this](int ms) { waits_.push_back(ms); };
    }
    void TearDown() override
    {
        PX418_CloseDevice();
        D2xxInstall(nullptr);
    }

    // The answer line of a message, without its newline.
    std::string Ask(const std::string &message)
    {
        const MessageResult r = session_.Execute(message, device_);
        EXPECT_TRUE(r.answer.empty() || r.answer.back() == '\n') << r.answer;
        return r.answer.empty() ? r.answer : r.answer.substr(0, r.answer.size() - 1);
    }
    // Sends a message that answers nothing.
    void Send(const std::string &message) { EXPECT_EQ(Ask(message), "") << message; }
    std::vector<Write> Writes() const { return WritesTakenBy(TheVirtualGenerator()); }

    Session session_;
    DeviceContext device_;
    std::vector<int> waits_;
};

TEST_F(ScpiSessionTest, SettingsTakeTheWindowsScalingRoundingAndUnits)
{
    struct Case {
        const char *message;
        Write write;
    };
    const Case cases[] = {
        {"SOUR1:FREQ 50.5", {0, 0x81, 50500}},
        {"SOUR2:FREQ:CW 1.5 kHz", {1, 0x81, 1500000}},
        {"SOUR3:FREQ 0.0015 MAHZ", {2, 0x81, 1500000}},
        {"FREQ 0.0005", {0, 0x81, 1}},  // halves away from zero, as the fields round
        {"FREQ MAX", {0, 0x81, 3000000}},
        {"FREQ DEF", {0, 0x81, 1}},
        {"SOUR2:PHAS -120", {1, 0x82, -1200}},
        {"SOUR2:PHAS -0.05", {1, 0x82, -1}},
        {"PHAS 1.5708 RAD", {0, 0x82, 900}},
        {"PHAS MIN", {0, 0x82, -3600}},
        {"SOUR3:VOLT 7.07 VRMS", {2, 0x83, 1000}},
        {"VOLT 20 VPP", {0, 0x83, 1000}},
        {"VOLT 500 mV", {0, 0x83, 50}},
        {"VOLT:LEV:IMM:AMPL 0.01", {0, 0x83, 1}},
        {"VOLT DEF", {0, 0x83, 0}},
        {"SOUR:FREQ:COUP ON", {0, 0x80, 1}},
        {"FREQ:COUP:STAT 0", {0, 0x80, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        TheVirtualGenerator().ClearLog();
        Send(c.message);
        EXPECT_EQ(Writes(), std::vector<Write>{c.write});
        EXPECT_EQ(Ask("SYST:ERR?"), "0,\"No error\"");
    }
}

TEST_F(ScpiSessionTest, TheSettingsOfAMessageAreOneRunBrokenOnlyByQueries)
{
    Send("SOUR1:FREQ 60;:SOUR2:FREQ 60;:SOUR3:FREQ 60");
    EXPECT_EQ(Writes(),
              (std::vector<Write>{{0, 1, 60000}, {1, 1, 60000}, {2, 1, 60000}, {2, 0x81, 60000}}));

    // The voltage unit set in the middle applies to what follows it.
    TheVirtualGenerator().ClearLog();
    Send("SOUR1:VOLT 5;:VOLT:UNIT VRMS;:SOUR2:VOLT 5");
    EXPECT_EQ(Writes(), (std::vector<Write>{{0, 3, 500}, {1, 3, 707}, {1, 0x83, 707}}));

    TheVirtualGenerator().ClearLog();
    EXPECT_EQ(Ask("FREQ 70;FREQ?;:SOUR2:PHAS 10;PHAS?"), "70.000;10.0");
    EXPECT_EQ(Writes(), (std::vector<Write>{{0, 0x81, 70000}, {1, 0x82, 100}}));
}

TEST_F(ScpiSessionTest, ARefusedMessageChangesNothingAndQueuesItsError)
{
    struct Case {
        const char *message;
        const char *error;
    };
    const Case cases[] = {
        {"SOUR1:FREQ 60;:SOUR2:FREQ 3000.001",
         "-222,\"Data out of range;allowed 0.000 to 3000.000 Hz\""},
        {"FREQ 60;BOGUS", "-113,\"Undefined header\""},
        {"FREQ 60;:SOUR4:FREQ 60", "-114,\"Header suffix out of range\""},
        {"FREQ 60;FREQ", "-109,\"Missing parameter\""},
        {"FREQ 60,70", "-108,\"Parameter not allowed\""},
        {"FREQ 1 MHZ", "-222,\"Data out of range;allowed 0.000 to 3000.000 Hz\""},  // MHZ is mega
        {"FREQ 1E999", "-222,\"Data out of range;allowed 0.000 to 3000.000 Hz\""},
        {"PHAS 360.1", "-222,\"Data out of range;allowed -360.0 to 360.0 deg\""},
        {"VOLT 7.08 VRMS", "-222,\"Data out of range;allowed 0.00 to 7.07 V rms\""},
        {"VOLT 20.02 VPP", "-222,\"Data out of range;allowed 0.00 to 10.00 V peak\""},
        {"FREQ ON", "-141,\"Invalid character data\""},
        {"FREQ 'x'", "-158,\"String data not allowed\""},
        {"FREQ 5 V", "-131,\"Invalid suffix\""},
        {"PHAS 5 MDEG", "-131,\"Invalid suffix\""},
        {"*ESE 5 HZ", "-138,\"Suffix not allowed\""},
        {"*ESE 256", "-222,\"Data out of range;allowed 0 to 255\""},
        {"*SAV 10", "-222,\"Data out of range;allowed 0 to 9\""},
        {"VOLT:UNIT VOLTS", "-141,\"Invalid character data\""},
        {"FREQ? 5", "-104,\"Data type error\""},
        {"*IDN?;FREQ 1,", "-102,\"Syntax error\""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(Ask(c.message), "");
        EXPECT_TRUE(Writes().empty());
        EXPECT_EQ(Ask("SYST:ERR?"), c.error);
    }
    EXPECT_EQ(TheVirtualGenerator().State().outputs, px418virtual::DeviceState::PowerOn().outputs);
}

TEST_F(ScpiSessionTest, QueriesAnswerInTheWindowsDigitsAndTheClientsUnit)
{
    EXPECT_EQ(Ask("SOUR2:FREQ?;PHAS?;VOLT?"), "50.000;-120.0;10.00");
    EXPECT_EQ(Ask("FREQ? MAX;PHAS? MIN;VOLT? DEF"), "3000.000;-360.0;0.00");
    EXPECT_EQ(Ask("VOLT:UNIT VRMS;UNIT?;:VOLT?;VOLT? MAX"), "VRMS;7.07;7.07");
    EXPECT_EQ(Ask("VOLT:UNIT VPP;:VOLT?"), "20.00");
    // Another client keeps its own unit.
    Session other;
    EXPECT_EQ(other.Execute("VOLT?", device_).answer, "10.00\n");

    // In mode A+B+C every output runs at output A's frequency.
    Send("SOUR1:FREQ 60;:SOUR2:FREQ 70;:FREQ:COUP ON");
    EXPECT_EQ(Ask("SOUR2:FREQ?;FREQ:COUP?"), "60.000;1");
    Send("FREQ:COUP OFF");
    EXPECT_EQ(Ask("SOUR2:FREQ?;FREQ:COUP?"), "70.000;0");

    Send("SYST:KLOC ON");
    EXPECT_EQ(TheVirtualGenerator().State().mode, PX418_MODE_LOCKED);
    EXPECT_EQ(Ask("SYST:KLOC?"), "1");
    EXPECT_EQ(Ask("SYST:VERS?;*OPC?;*TST?"), "1999.0;1;0");
}

TEST_F(ScpiSessionTest, IdentityNamesTheConverterAndTheGeneratorWithoutCommas)
{
    EXPECT_EQ(Ask("*IDN?"), "PX418,PX-418,0,PX-418 virtual generator");
    device_.serial = "FT12,34";
    EXPECT_EQ(Ask("*IDN?"), "PX418,PX-418,FT12 34,PX-418 virtual generator");
    device_.online = false;
    EXPECT_EQ(Ask("*IDN?;*TST?"), "PX418,PX-418,FT12 34,0;1");
}

TEST_F(ScpiSessionTest, WithoutAGeneratorDeviceCommandsReportItMissing)
{
    device_.online = false;
    EXPECT_EQ(Ask("*ESE 4;FREQ?"), "");
    EXPECT_EQ(Ask("*ESE?;SYST:ERR?"), "0;-241,\"Hardware missing\"");
    EXPECT_EQ(Ask("*RST"), "");
    EXPECT_EQ(Ask("SYST:ERR:COUN?"), "1");
    EXPECT_TRUE(TheVirtualGenerator().FrameLog().empty());
}

TEST_F(ScpiSessionTest, AFailedDeviceCallReportsTheLibrarysTextAndAnswersNothing)
{
    TheVirtualGenerator().SetSilent(true);
    const MessageResult r = session_.Execute("*IDN?;FREQ 60", device_);
    EXPECT_EQ(r.answer, "");
    EXPECT_TRUE(r.deviceFailed);
    TheVirtualGenerator().SetSilent(false);
    const std::string error = Ask("SYST:ERR?");
    EXPECT_EQ(error.rfind("-240,\"Hardware error;", 0), 0u) << error;
    EXPECT_GT(error.size(), std::string("-240,\"Hardware error;\"").size()) << error;
}

TEST_F(ScpiSessionTest, ResetAndPresetsWriteTheirRuns)
{
    Send("VOLT:UNIT VRMS;:SYST:KLOC ON");
    TheVirtualGenerator().ClearLog();
    // *RST takes the unit back for the commands after it too.
    Send("*RST;VOLT 5");
    EXPECT_EQ(Writes(), (std::vector<Write>{{0, 0, 0},
                                            {0, 1, 1},
                                            {0, 2, 0},
                                            {0, 3, 0},
                                            {1, 0, 0},
                                            {1, 1, 1},
                                            {1, 2, 0},
                                            {1, 3, 0},
                                            {2, 0, 0},
                                            {2, 1, 1},
                                            {2, 2, 0},
                                            {2, 3, 0},
                                            {0, 0x82, 0},
                                            {0, 0x83, 500}}));
    EXPECT_EQ(TheVirtualGenerator().State().mode, PX418_MODE_UNLOCKED);
    EXPECT_EQ(session_.Unit(), scpi::VoltageUnit::Peak);

    TheVirtualGenerator().ClearLog();
    Send("*SAV 3;*RCL 9");
    EXPECT_EQ(Writes(), (std::vector<Write>{{4, 0x40, 3}, {4, 0x41, 9}}));
    EXPECT_EQ(waits_, std::vector<int>{500});
}

TEST_F(ScpiSessionTest, ErrorsSetTheEventRegisterAndTheStatusByte)
{
    Send("*ESE 60;*SRE 32");
    Send("BOGUS");
    Send("FREQ 5000");
    EXPECT_EQ(session_.StatusByte(), 0x04 | 0x20 | 0x40);
    EXPECT_EQ(Ask("*STB?"), "100");
    EXPECT_EQ(Ask("*ESR?;*ESR?"), "48;0");
    Send("*OPC");
    EXPECT_EQ(Ask("*ESR?"), "1");
    // Bit 4 of *STB?: an answer of the same message waits before it.
    EXPECT_EQ(Ask("*OPC?;*STB?"), "1;20");
    Send("*CLS");
    EXPECT_EQ(Ask("*STB?;SYST:ERR:COUN?"), "0;0");

    session_.InputOverrun();
    EXPECT_EQ(Ask("SYST:ERR?;*ESR?"), "-363,\"Input buffer overrun\";8");
}

TEST_F(ScpiSessionTest, AQueryBeforeEarlierAnswersWereTakenIsInterruptedYetAnswered)
{
    EXPECT_EQ(session_.Execute("*OPC?", device_, true).answer, "1\n");
    EXPECT_EQ(session_.Execute("*ESE 0", device_, true).answer, "");
    EXPECT_EQ(Ask("SYST:ERR?;*ESR?"), "-410,\"Query INTERRUPTED\";4");
}

// Sequence files both ways, and what they refuse: with the line and the
// reason, before anything could be sent.
#include "sequence_file.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

template <std::size_t N>
SectionedText Text(const char (&text)[N])
{
    return SectionedText::Parse(QByteArray(text, N - 1));
}

int V(int channel, int quantity)
{
    return ValueOf(channel, quantity);
}

// A plain value, no ramp.
StateValue E(std::int32_t entry)
{
    return StateValue{entry, std::nullopt};
}

}  // namespace

TEST(SequenceFileTest, WrittenAndReadBack)
{
    Sequence s;
    s.repeat = 3;
    s.endState = QStringLiteral("Aus \u00fcberall");
    SequenceState pickup;
    pickup.name = QStringLiteral("Pickup");
    pickup.manual = true;
    pickup.values[V(0, PX418_OUT_MODE)] = E(kModeCoupled);
    pickup.values[V(0, PX418_OUT_FREQUENCY)] = StateValue{50000, SequenceRamp{47000, -50, 100}};
    pickup.values[V(2, PX418_OUT_PHASE)] = E(-1205);
    SequenceState off;
    off.name = s.endState;
    off.durationMs = 0;
    off.values[V(1, PX418_OUT_AMPLITUDE)] = E(0);
    s.states = {pickup, off};

    const QByteArray bytes = WriteSequence(s).Serialize();
    EXPECT_EQ(bytes, QByteArray("[Sequence]\r\nRepeat=3\r\nEnd=Aus \xc3\xbc"
                                "berall\r\n\r\n"
                                "[State Pickup]\r\nDuration=manual\r\nmode=A+B+C\r\n"
                                "A freq=50.000 to 47.000 step -0.050 every 100\r\n"
                                "C phase=-120.5\r\n\r\n"
                                "[State Aus \xc3\xbc"
                                "berall]\r\nDuration=0\r\nB ampl=0.00\r\n\r\n"));
    const Sequence back = ReadSequence(SectionedText::Parse(bytes), "x.seq");
    EXPECT_EQ(back, s);
    EXPECT_EQ(back.states[1].line, 11);

    // Keys in any case and spacing, numbers rounded as the fields round
    // them, an empty value and a missing [Sequence] section; a name that is
    // no UTF-8 is read as Latin-1.
    const Sequence loose = ReadSequence(
        Text("[state  Fa\xefl ]\nDURATION = 5\n  a   FREQ = 49.9996 \nB ampl=\n"), "y");
    ASSERT_EQ(loose.states.size(), 1u);
    EXPECT_EQ(loose.states[0].name, QStringLiteral("Fa\u00efl"));
    EXPECT_EQ(loose.states[0].values[V(0, PX418_OUT_FREQUENCY)], E(50000));
    EXPECT_FALSE(loose.states[0].values[V(1, PX418_OUT_AMPLITUDE)]);
    EXPECT_EQ(loose.repeat, 1);
}

TEST(SequenceFileTest, TheExampleIsTheRelayTest)
{
    const Sequence s = LoadSequenceFile(QStringLiteral(PX418_EXAMPLE_SEQUENCE));
    ASSERT_EQ(s.states.size(), 3u);
    EXPECT_EQ(s.states[0].durationMs, 2000);
    EXPECT_EQ(s.states[1].name, "Fault");
    EXPECT_EQ(s.states[1].durationMs, 200);
    EXPECT_EQ(s.states[1].values[V(0, PX418_OUT_AMPLITUDE)], E(300));
    EXPECT_EQ(s.states[2].durationMs, 1000);
    EXPECT_TRUE(s.endState.isEmpty());
}

TEST(SequenceFileTest, RefusalsGiveTheLineAndTheReason)
{
    struct Case {
        const char *text;
        int line;
        const char *reason;
    };
    const Case cases[] = {
        {"stray\n[State S]\nDuration=1\n", 1, "text above the first section"},
        {"[State S]\nDuration=1\nA freq\n", 3, "'A freq' is no KEY=VALUE line"},
        {"[State S]\nDuration=1\nD freq=1\n", 3,
         "unknown key D freq in [State S]: allowed "
         "Duration, mode, A freq, A phase, A ampl, B freq"},
        {"[Sequence]\nLoop=2\n[State S]\nDuration=1\n", 2, "unknown key Loop in [Sequence]"},
        {"[Seq]\n", 1, "unknown section [Seq]: allowed [Sequence] and [State NAME]"},
        {"[State]\nDuration=1\n", 1, "a state needs a name"},
        {"[State S]\nA freq=1\n", 1, "[State S] has no Duration"},
        {"[State S]\nDuration=-1\n", 2, "the duration '-1' is out of range: allowed 0 to 86400000"},
        {"[State S]\nDuration=1.5\n", 2, "the duration '1.5' is out of range"},
        {"[State S]\nDuration=1\nA freq=3000.001\n", 3,
         "A freq=3000.001: 3000.001 is outside the allowed range 0.000 to 3000.000 Hz"},
        {"[State S]\nDuration=1\nB phase=1,5\n", 3, "write the decimal point as '.'"},
        {"[State S]\nDuration=1\nmode=A-B-C\n", 3, "'A-B-C' is no mode: allowed A.B.C or A+B+C"},
        {"[State S]\nDuration=1\nA freq=50 to 47 step 0 every 100\n", 3, "a step of 0"},
        {"[State S]\nDuration=1\nA freq=50 to 47 step 0.0001 every 100\n", 3, "a step of 0"},
        {"[State S]\nDuration=1\nA freq=50 to 47 step 0.05 every 100\n", 3,
         "the step 0.050 points away from the end 47.000"},
        {"[State S]\nDuration=1\nA freq=50 to 3001 step 1 every 100\n", 3,
         "the end 3001.000 is outside"},
        {"[State S]\nDuration=1\nA ampl=1 to 2 step 1 every 0\n", 3, "every 0 ms is out of range"},
        {"[State S]\nDuration=1\nA ampl=1 to 2 every 5\n", 3, "neither a number nor a ramp"},
        {"[State S]\nDuration=1\nmode=0 to 1 step 1 every 1\n", 3, "is no mode"},
        {"[State S]\nDuration=1\nA freq=1\na FREQ=2\n", 4, "a FREQ is given twice in [State S]"},
        {"[State S]\nDuration=1\n[State s]\nDuration=2\n", 3, "the name s is that of state 1"},
        {"[Sequence]\nEnd=Off\n[State S]\nDuration=1\n", 2, "the end state Off is none"},
        {"[Sequence]\nRepeat=0\n", 2, "Repeat=0 is out of range: allowed 1 to 1000000"},
        {"[Sequence]\n[Sequence]\n", 2, "a second [Sequence] section"},
        {"[Sequence]\nRepeat=2\n", 0, "it holds no state"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        try {
            ReadSequence(SectionedText::Parse(c.text), QStringLiteral("/tmp/t.seq"));
            ADD_FAILURE() << "not refused";
        } catch (const ESequenceRefused &e) {
            EXPECT_EQ(e.Line(), c.line);
            EXPECT_TRUE(e.Reason().contains(QString::fromLatin1(c.reason)))
                << e.Reason().toStdString();
            EXPECT_TRUE(e.Message().startsWith("The file /tmp/t.seq cannot be loaded: "));
        }
    }
}

TEST(SequenceFileTest, AFileOfTenThousandStatesLoads)
{
    QByteArray text("[Sequence]\nRepeat=1\n");
    for (int k = 0; k < 10000; ++k) {
        text += "[State S" + QByteArray::number(k)
                + "]\nDuration=10\nA freq=" + QByteArray::number(k % 3000) + "\n";
    }
    QTemporaryDir dir;
    const QString path = dir.filePath("many.seq");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
    file.close();
    const Sequence s = LoadSequenceFile(path);
    ASSERT_EQ(s.states.size(), 10000u);
    EXPECT_EQ(s.states[9999].values[V(0, PX418_OUT_FREQUENCY)], E(999000));

    // A sequence that cannot run is not saved, and nothing is written.
    Sequence bad = s;
    bad.states[5].name = QStringLiteral("S4");
    const QString badPath = dir.filePath("bad.seq");
    EXPECT_THROW(SaveSequenceFile(badPath, bad), Exception);
    EXPECT_FALSE(QFile::exists(badPath));
    SaveSequenceFile(badPath, s);
    EXPECT_EQ(LoadSequenceFile(badPath), s);
}

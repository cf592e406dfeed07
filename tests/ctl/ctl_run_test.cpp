// px418ctl's commands in process against the virtual generator (and, for
// the exact frames, the recording double with a generator behind it): what
// each leaves on the device, what it prints, and its exit status.
#include "ctl_run.h"

#include <csignal>
#include <deque>
#include <sstream>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "ctl_help.h"
#include "d2xx.h"
#include "d2xx_double.h"
#include "expected_writes.h"
#include "inifile.h"
#include "param_file.h"
#include "virtual/virtual_generator.h"
#include "wake_oracle.h"

using px418virtual::DeviceState;
using px418virtual::TheVirtualGenerator;

namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::vector<std::string> Words(const std::string &line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) {
        words.push_back(w);
    }
    return words;
}

// Runs a command line in process, on a clock that only waits move. `onWait`
// sees every wait (watch's polls, sweep's dwells, the preset store, a run's
// waits for a state) and may turn knobs or ask for a stop. A wait for a line
// on standard input takes the next of `lines` (a line when there are none
// left); a timeout moves the clock by the time waited.
class Runner {
public:
    std::function<void(int ms)> onWait;
    int stop = 0;
    std::vector<int> waits;
    std::chrono::microseconds now{};
    std::deque<LineWait> lines;
    std::vector<int> lineWaits;

    Outcome Run(const std::vector<std::string> &args)
    {
        std::ostringstream out;
        std::ostringstream err;
        CtlIo io{out,
                 err,
                 [this] { return stop; },
                 [this](int ms) {
                     waits.push_back(ms);
                     now += std::chrono::milliseconds(ms);
                     if (onWait) {
                         onWait(ms);
                     }
                 },
                 [this] { return now; },
                 [this](int ms) {
                     lineWaits.push_back(ms);
                     const LineWait line = lines.empty() ? LineWait::Line : lines.front();
                     if (!lines.empty()) {
                         lines.pop_front();
                     }
                     if (line == LineWait::Timeout) {
                         now += std::chrono::milliseconds(ms);
                     }
                     if (line == LineWait::Stopped) {
                         stop = SIGINT;
                     }
                     return line;
                 }};
        Outcome o;
        o.status = RunCtlArgs(args, io);
        o.out = out.str();
        o.err = err.str();
        return o;
    }
    Outcome Run(const std::string &line) { return Run(Words(line)); }
};

std::vector<Write> SetWrites(const std::vector<DeviceWrite> &writes)
{
    std::vector<Write> out;
    for (const DeviceWrite &w : writes) {
        out.push_back({w.group, w.number, w.value});
    }
    return out;
}

}  // namespace

class CtlRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        D2xxInstall(D2xxVirtualProvider());
        px418virtual::ResetVirtualConverter();
        TheVirtualGenerator().Reset();
        ASSERT_TRUE(dir_.isValid());
    }
    void TearDown() override { D2xxInstall(nullptr); }

    static DeviceState State() { return TheVirtualGenerator().State(); }
    static std::vector<Write> Writes() { return WritesTakenBy(TheVirtualGenerator()); }
    std::string PathOf(const char *name) const { return dir_.filePath(name).toStdString(); }

    QTemporaryDir dir_;
    Runner runner_;
};

TEST_F(CtlRunTest, EveryCommandLeavesTheGeneratorAsAsked)
{
    struct Case {
        const char *line;
        std::vector<Write> writes;
        std::function<void(const DeviceState &)> check;
        int beeps = 0;
    };
    const Case cases[] = {
        {"set A freq 50.5",
         {{0, 0x81, 50500}},
         [](const DeviceState &s) { EXPECT_EQ(s.active[0][1], 50500); }},
        {"set B phase -120.04",
         {{1, 0x82, -1200}},
         [](const DeviceState &s) { EXPECT_EQ(s.active[1][2], -1200); }},
        {"set C ampl 7.07 --rms",
         {{2, 0x83, 1000}},
         [](const DeviceState &s) { EXPECT_EQ(s.active[2][3], 1000); }},
        {"set C ampl 5 --rms",
         {{2, 0x83, 707}},
         [](const DeviceState &s) { EXPECT_EQ(s.active[2][3], 707); }},
        {"set mode A+B+C",
         {{0, 0x80, 1}},
         [](const DeviceState &s) { EXPECT_EQ(s.active[0][0], 1); }},
        // Several settings: one run without bit 7, closed by the last with it.
        {"set A freq 60 B freq 60 C freq 60",
         {{0, 1, 60000}, {1, 1, 60000}, {2, 1, 60000}, {2, 0x81, 60000}},
         [](const DeviceState &s) {
             for (int c = 0; c < 3; ++c) {
                 EXPECT_EQ(s.active[c][1], 60000);
             }
         }},
        {"lock", {}, [](const DeviceState &s) { EXPECT_EQ(s.mode, 1); }},
        {"preset save 3",
         {{4, 0x40, 3}},
         [](const DeviceState &s) { EXPECT_EQ(s.presets[3], s.active); },
         1},
        {"preset save 4 --mute",
         {{4, 0x00, 4}},
         [](const DeviceState &s) { EXPECT_EQ(s.presetStored, 4); }},
        {"preset load 2 --mute",
         {{4, 0x01, 2}},
         [](const DeviceState &s) { EXPECT_EQ(s.presetLoaded, 2); }},
        {"preset load 1",
         {{4, 0x41, 1}},
         [](const DeviceState &s) { EXPECT_EQ(s.presetLoaded, 1); },
         1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        TheVirtualGenerator().Reset();
        const Outcome o = runner_.Run(c.line);
        EXPECT_EQ(o.status, kExitOk) << o.err;
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(o.err, "");
        EXPECT_EQ(Writes(), c.writes);
        EXPECT_EQ(State().beeps, c.beeps);
        c.check(State());
        // Every command closes the generator again.
        EXPECT_FALSE(px418virtual::VirtualConverterState().open);
    }

    DeviceState locked = DeviceState::PowerOn();
    locked.mode = 1;
    TheVirtualGenerator().SetState(locked);
    EXPECT_EQ(runner_.Run("unlock").status, kExitOk);
    EXPECT_EQ(State().mode, 0);
}

TEST_F(CtlRunTest, APresetStoreWaitsForTheGenerator)
{
    EXPECT_EQ(runner_.Run("preset save 0").status, kExitOk);
    EXPECT_EQ(runner_.waits, std::vector<int>{kPresetStoreMs});
}

TEST_F(CtlRunTest, GetPrintsInTheWindowsUnits)
{
    DeviceState s = DeviceState::PowerOn();
    s.outputs[0][0] = 1;  // A+B+C: every output runs at A's frequency
    s.outputs[0][1] = 50500;
    s.outputs[1][1] = 60000;
    s.outputs[2][3] = 707;
    s.mode = 1;
    TheVirtualGenerator().SetState(s);

    struct Case {
        const char *line;
        const char *out;
    };
    const Case cases[] = {
        {"info", "PX-418 virtual generator\n"},
        {"get A freq", "50.500\n"},
        {"get B freq", "50.500\n"},
        {"get B phase --json", R"({"channel":"B","quantity":"phase","value":-120.0,"unit":"deg"})"
                               "\n"},
        {"get C ampl", "7.07\n"},
        {"get C ampl --rms", "5.00\n"},
        {"get mode", "A+B+C\n"},
        {"get lock", "locked\n"},
        {"get lock --json", "{\"locked\":true}\n"},
        {"get --json",
         R"({"mode":"A+B+C","locked":true,"outputs":{)"
         R"("A":{"freq_hz":50.500,"phase_deg":0.0,"ampl_v_peak":10.00,"ampl_v_rms":7.07},)"
         R"("B":{"freq_hz":50.500,"phase_deg":-120.0,"ampl_v_peak":10.00,"ampl_v_rms":7.07},)"
         R"("C":{"freq_hz":50.500,"phase_deg":120.0,"ampl_v_peak":7.07,"ampl_v_rms":5.00}}})"
         "\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        const Outcome o = runner_.Run(c.line);
        EXPECT_EQ(o.status, kExitOk) << o.err;
        EXPECT_EQ(o.out, c.out);
    }
    // Reading sends nothing.
    EXPECT_EQ(Writes(), std::vector<Write>{});
}

TEST_F(CtlRunTest, ParameterFilesAreTheWindowsFilesBothWays)
{
    // Written by px418ctl, read by the window's file code.
    DeviceState s = DeviceState::PowerOn();
    s.outputs[1][0] = 1;
    s.outputs[1][1] = 1234;
    s.outputs[2][2] = -3600;
    TheVirtualGenerator().SetState(s);
    const std::string saved = PathOf("saved.par");
    ASSERT_EQ(runner_.Run("save " + saved).status, kExitOk);
    const ParamTable read = ReadParamTable(SectionedText::Load(QString::fromStdString(saved)));
    for (int c = 0; c < 3; ++c) {
        for (int q = 0; q < 4; ++q) {
            EXPECT_EQ(read[ParamIndex(c, q)], s.outputs[c][q]) << c << " " << q;
        }
    }
    EXPECT_EQ(Writes(), std::vector<Write>{});

    // Written by the window's file code, loaded by px418ctl as Reload sends.
    const ParamTable table = {0, 1500, 100, 500, 1, 2000, -900, 600, 0, 3000000, 3600, 0};
    SectionedText file;
    WriteParamTable(file, table);
    const std::string written = PathOf("written.par");
    file.Save(QString::fromStdString(written));
    TheVirtualGenerator().Reset();
    ASSERT_EQ(runner_.Run("load " + written).status, kExitOk);
    EXPECT_EQ(Writes(), SetWrites(ReloadWrites(table)));
    for (int c = 0; c < 3; ++c) {
        for (int q = 0; q < 4; ++q) {
            EXPECT_EQ(State().active[c][q], table[ParamIndex(c, q)]) << c << " " << q;
        }
    }
    EXPECT_EQ(State().beeps, 0);
}

TEST_F(CtlRunTest, RefusedFilesSendNothing)
{
    const auto write = [this](const char *name, const QByteArray &content) {
        QFile f(dir_.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
        return dir_.filePath(name).toStdString();
    };
    struct Case {
        std::string line;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {"load " + write("high.par", "[OUT B]\r\nF=5000000\r\n"), kExitUsage,
         "high.par cannot be loaded: F=5000000 in [OUT B] is outside the allowed range 0 to "
         "3000000."},
        {"load " + write("mode.par", "[OUT C]\r\nM=7\r\n"), kExitUsage,
         "M=7 in [OUT C] is outside the allowed range 0 to 1."},
        {"load " + write("low.par", "[OUT A]\r\nA=-500\r\n"), kExitUsage,
         "A=-500 in [OUT A] is outside the allowed range 0 to 1000."},
        {"load " + write("typo.par", "[OUT A]\r\nF=5O000\r\n"), kExitUsage,
         "F=5O000 in [OUT A] is not a number."},
        {"load " + write("notes.txt", "just some text\n"), kExitUsage,
         "notes.txt is not a parameter file."},
        {"load " + write("empty.par", ""), kExitUsage, "is not a parameter file."},
        {"load " + PathOf("missing.par"), kExitNoInput,
         "Cannot open file " + PathOf("missing.par") + ": No such file or directory\n"},
        {"load " + write("huge.par", QByteArray("[OUT A]\r\n") + QByteArray(1 << 20, ';')),
         kExitNoInput, "huge.par"},
        {"save " + PathOf("no/such/folder/x.par"), kExitCantCreate, "Cannot create file "},
        {"run " + write("bad.seq", "[State S]\nDuration=1\nA freq=3001\n"), kExitUsage,
         "bad.seq cannot be loaded: line 3: A freq=3001: 3001.000 is outside the allowed range "
         "0.000 to 3000.000 Hz."},
        {"run " + PathOf("missing.seq"), kExitNoInput, "missing.seq: No such file or directory"},
        {"run " + write("good.seq", "[State S]\nDuration=1\nA freq=1\n") + " --log "
             + PathOf("no/such/folder/log.csv"),
         kExitCantCreate, "Cannot create file " + PathOf("no/such/folder/log.csv")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        const Outcome o = runner_.Run(c.line);
        EXPECT_EQ(o.status, c.status);
        EXPECT_NE(o.err.find(c.message), std::string::npos) << o.err;
        EXPECT_EQ(Writes(), std::vector<Write>{});
    }
    // A folder or a pipe given as the file to save cannot be written: refused
    // before the generator is read.
    const std::string pipe = PathOf("pipe.par");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const std::pair<std::string, std::string> unwritable[] = {
        {dir_.path().toStdString(), ": Is a directory\n"},
        {pipe, ": it is not a regular file\n"},
    };
    TheVirtualGenerator().ClearLog();
    for (const auto &[path, why] : unwritable) {
        const Outcome o = runner_.Run("save " + path);
        EXPECT_EQ(o.status, kExitCantCreate);
        EXPECT_EQ(o.err, "px418ctl: Cannot create file " + path + why);
    }
    EXPECT_TRUE(TheVirtualGenerator().FrameLog().empty());
}

TEST_F(CtlRunTest, WatchFollowsTheKnobsUntilStopped)
{
    for (const bool json : {false, true}) {
        SCOPED_TRACE(json);
        TheVirtualGenerator().Reset();
        Runner runner;
        int polls = 0;
        runner.onWait = [&](int ms) {
            EXPECT_EQ(ms, kWatchPollMs);
            switch (++polls) {
            case 1:
                TheVirtualGenerator().TurnKnob(1, 2, 455);
                break;
            case 2:
                break;  // nothing changed: no line
            case 3:
                TheVirtualGenerator().TurnKnob(4, 2, 50);  // contrast: not followed
                break;
            case 4:
                TheVirtualGenerator().TurnKnob(2, 3, 707);
                break;
            default:
                runner.stop = SIGINT;
            }
        };
        const Outcome o = runner.Run(json ? "watch --json --rms" : "watch");
        EXPECT_EQ(o.status, kExitOk) << o.err;
        if (json) {
            EXPECT_EQ(o.out, R"({"channel":"A","quantity":"freq","value":50.000,"unit":"Hz"})"
                             "\n"
                             R"({"channel":"B","quantity":"phase","value":45.5,"unit":"deg"})"
                             "\n"
                             R"({"channel":"C","quantity":"ampl","value":5.00,"unit":"V rms"})"
                             "\n");
        } else {
            EXPECT_EQ(o.out, "A freq 50.000 Hz\nB phase 45.5 deg\nC ampl 7.07 V peak\n");
        }
        EXPECT_EQ(Writes(), std::vector<Write>{});
    }
}

TEST_F(CtlRunTest, ASweepWritesEachStepAndStopsCleanly)
{
    Outcome o = runner_.Run("sweep A freq 10 12 --step 1 --dwell 250");
    EXPECT_EQ(o.status, kExitOk) << o.err;
    EXPECT_EQ(o.out, "A freq 10.000 Hz\nA freq 11.000 Hz\nA freq 12.000 Hz\n");
    EXPECT_EQ(Writes(), (std::vector<Write>{{0, 0x81, 10000}, {0, 0x81, 11000}, {0, 0x81, 12000}}));
    EXPECT_EQ(runner_.waits, (std::vector<int>{250, 250, 250}));
    EXPECT_EQ(State().active[0][1], 12000);

    // A stop during the second dwell: the second write stays, no third.
    TheVirtualGenerator().Reset();
    Runner stopped;
    stopped.onWait = [&](int) {
        if (stopped.waits.size() == 2) {
            stopped.stop = SIGTERM;
        }
    };
    o = stopped.Run("sweep B phase 0 -30 --step 10 --dwell 5 --quiet");
    EXPECT_EQ(o.status, kExitSignal + SIGTERM);
    EXPECT_EQ(o.out, "");
    EXPECT_NE(o.err.find("sweep stopped after 2 of 4 steps"), std::string::npos) << o.err;
    EXPECT_EQ(Writes(), (std::vector<Write>{{1, 0x82, 0}, {1, 0x82, -100}}));
}

TEST_F(CtlRunTest, ARunWritesEachStateOnTimePrintsItAndLogsIt)
{
    const std::string log = PathOf("relay.csv");
    Outcome o = runner_.Run("run " PX418_EXAMPLE_SEQUENCE " --log " + log);
    EXPECT_EQ(o.status, kExitOk) << o.err;
    EXPECT_EQ(o.out,
              "Prefault: due 0.000 ms, took effect 0.000 ms, 0.000 ms late: nothing\n"
              "Fault: due 2000.000 ms, took effect 2000.000 ms, 0.000 ms late: A ampl 3.00 V peak\n"
              "Postfault: due 2200.000 ms, took effect 2200.000 ms, 0.000 ms late: "
              "A ampl 10.00 V peak\n"
              "end settings (before the run): due 3200.000 ms, took effect 3200.000 ms, 0.000 ms "
              "late: nothing\n");
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(Writes(), (std::vector<Write>{{0, 0x83, 300}, {0, 0x83, 1000}}));
    EXPECT_EQ(runner_.waits, (std::vector<int>{2000, 200, 1000}));
    QFile csv(QString::fromStdString(log));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_EQ(csv.readAll().count('\n'), 5);

    // Twice, as JSON: the second pass finds A as the first left it.
    Runner twice;
    o = twice.Run("run " PX418_EXAMPLE_SEQUENCE " --repeat 2 --json");
    EXPECT_EQ(o.status, kExitOk) << o.err;
    std::istringstream lines(o.out);
    std::vector<std::string> objects;
    for (std::string line; std::getline(lines, line);) {
        objects.push_back(line);
    }
    ASSERT_EQ(objects.size(), 7u);
    EXPECT_EQ(objects[4], R"({"pass":2,"state":"Fault","event":"state","step":0,"due_ms":5200.000,)"
                          R"("effect_ms":5200.000,"late_ms":0.000,"written":[{"channel":"A",)"
                          R"("quantity":"ampl","value":3.00,"unit":"V peak"}]})");
    EXPECT_EQ(objects[6].rfind(R"({"pass":null,"state":null,"event":"end",)", 0), 0u);
}

TEST_F(CtlRunTest, AManualStateWaitsForEnterAndAStopWritesTheEndSettings)
{
    QFile file(dir_.filePath("manual.seq"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[State Pickup]\nDuration=manual\nA freq=50 to 49.9 step -0.05 every 100\n"
               "[State Trip]\nDuration=500\nB ampl=0\n");
    file.close();
    const std::string run = "run " + file.fileName().toStdString();

    // Enter after the ramp's first step: the second comes no more, the state
    // ends there.
    runner_.lines = {LineWait::Timeout, LineWait::Line};
    Outcome o = runner_.Run(run);
    EXPECT_EQ(o.status, kExitOk) << o.err;
    EXPECT_EQ(o.err, "px418ctl: Pickup waits: press Enter to go on\n");
    EXPECT_EQ(runner_.lineWaits, (std::vector<int>{100, 100}));
    EXPECT_EQ(
        Writes(),
        (std::vector<Write>{
            {0, 0x81, 49950}, {1, 0x83, 0}, {0, 0x01, 50000}, {1, 0x03, 1000}, {1, 0x83, 1000}}));

    // Standard input ends, or a signal comes, while the state waits: the run
    // stops and the generator goes back to what it had before.
    struct Case {
        LineWait line;
        int status;
        const char *err;
    };
    const Case cases[] = {
        {LineWait::End, kExitNoInput,
         "px418ctl: Pickup waits: press Enter to go on\n"
         "px418ctl: standard input ended while Pickup waited for Enter\n"
         "px418ctl: run stopped in Pickup; the end settings were written\n"},
        {LineWait::Stopped, kExitSignal + SIGINT,
         "px418ctl: Pickup waits: press Enter to go on\n"
         "px418ctl: run stopped in Pickup; the end settings were written\n"},
    };
    for (const Case &c : cases) {
        TheVirtualGenerator().Reset();
        Runner stopped;
        stopped.lines = {LineWait::Timeout, c.line};
        o = stopped.Run(run);
        EXPECT_EQ(o.status, c.status);
        EXPECT_EQ(o.err, c.err);
        EXPECT_EQ(State().active, DeviceState::PowerOn().active);
    }
}

TEST_F(CtlRunTest, HelpAndVersionNeedNoGenerator)
{
    TheVirtualGenerator().SetPlugged(false);
    Outcome o = runner_.Run("--version");
    EXPECT_EQ(o.status, kExitOk);
    EXPECT_EQ(o.out, CtlVersion() + "\n");
    o = runner_.Run("sweep --help");
    EXPECT_EQ(o.status, kExitOk);
    EXPECT_EQ(o.out, CtlHelp("sweep"));

    o = runner_.Run("info");
    EXPECT_EQ(o.status, kExitNoGenerator);
    EXPECT_EQ(o.out, "");
    EXPECT_NE(o.err.find("no PX-418 generator found"), std::string::npos) << o.err;
}

// The exact frames, seen by the recording double with a generator behind it.
class CtlFramesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        d2xxdouble::Instance().Reset();
        D2xxInstall(&d2xxdouble::Api());
    }
    void TearDown() override
    {
        D2xxInstall(nullptr);
        d2xxdouble::Instance().Reset();
    }

    // The set-parameter frames that went out, in order.
    static std::vector<oracle::Bytes> SetParFrames()
    {
        std::vector<oracle::Bytes> frames;
        for (const auto &bytes : d2xxdouble::Instance().Written()) {
            const oracle::Decoded d = oracle::Decode(bytes);
            if (d.valid && d.command == PX418_CMD_SET_PAR) {
                frames.push_back(bytes);
            }
        }
        return frames;
    }

    px418virtual::VirtualGenerator generator_;
    Runner runner_;
};

TEST_F(CtlFramesTest, ASetIsAFieldCommitAndSeveralAreOneRun)
{
    d2xxdouble::Instance().AddConverter(d2xxdouble::Virtual(generator_));
    ASSERT_EQ(runner_.Run("set A freq 50.5").status, kExitOk);
    EXPECT_EQ(SetParFrames(), (std::vector<oracle::Bytes>{oracle::SetPar(0, 0x81, 50500)}));
    // 1.5 Hz on the wire, byte for byte.
    d2xxdouble::Instance().ClearCalls();
    ASSERT_EQ(runner_.Run("set A freq 1.5").status, kExitOk);
    EXPECT_EQ(SetParFrames(), (std::vector<oracle::Bytes>{
                                  {0xC0, 0x08, 0x06, 0x00, 0x81, 0xDC, 0x05, 0x00, 0x00, 0x90}}));

    d2xxdouble::Instance().ClearCalls();
    ASSERT_EQ(runner_.Run("set A freq 50 B phase -120 C ampl 7.07 --rms").status, kExitOk);
    EXPECT_EQ(SetParFrames(), (std::vector<oracle::Bytes>{
                                  oracle::SetPar(0, 0x01, 50000), oracle::SetPar(1, 0x02, -1200),
                                  oracle::SetPar(2, 0x03, 1000), oracle::SetPar(2, 0x83, 1000)}));
}

TEST_F(CtlFramesTest, RefusedArgumentsOpenNothing)
{
    d2xxdouble::Instance().AddConverter(d2xxdouble::Virtual(generator_));
    for (const char *line :
         {"set A freq 4000", "set A freq 50,5", "set C ampl 7.1 --rms", "set A freq 1 B freq 9999",
          "preset load 10", "sweep A freq 1 2", "get --mute", "lock now", "run x.seq --repeat 0",
          "run x.seq --log", "run x.seq --step 1"}) {
        SCOPED_TRACE(line);
        const Outcome o = runner_.Run(line);
        EXPECT_EQ(o.status, kExitUsage);
        EXPECT_NE(o.err.find("--help'."), std::string::npos) << o.err;
        EXPECT_EQ(o.out, "");
    }
    EXPECT_EQ(d2xxdouble::Instance().Count("FT_Open"), 0);
    EXPECT_EQ(d2xxdouble::Instance().Count("FT_Write"), 0);
}

TEST_F(CtlFramesTest, NoConverterMeansNoGenerator)
{
    const Outcome o = runner_.Run("set A freq 1");
    EXPECT_EQ(o.status, kExitNoGenerator);
    EXPECT_EQ(o.err, "px418ctl: no PX-418 generator found among the attached converters\n");
}

TEST_F(CtlFramesTest, AFailedWriteGivesTheLibrarysTextAndHowFarTheRunGot)
{
    // The generator answers the nth set-parameter request with "device
    // busy", and reads not at all while they are silenced.
    int failAt = 0;
    int seen = 0;
    bool silentReads = false;
    d2xxdouble::Instance().AddConverter([&](const oracle::Bytes &written) {
        const oracle::Decoded d = oracle::Decode(written);
        if (d.valid && d.command == PX418_CMD_SET_PAR && ++seen == failAt) {
            return oracle::Frame(PX418_CMD_SET_PAR, {PX418_ERR_BUSY});
        }
        if (d.valid && d.command == PX418_CMD_GET_PAR && silentReads) {
            return oracle::Bytes{};
        }
        return generator_.Receive(written.data(), written.size());
    });

    struct Case {
        const char *line;
        int failAt;
        std::string err;
    };
    const Case cases[] = {
        {"set A freq 60", 1, "px418ctl: Set parameter error: device busy.\n"},
        {"set A freq 60 B freq 60 C freq 60", 3,
         "px418ctl: Set parameter error: device busy.\n"
         "px418ctl: written, held by the generator, not in effect: A freq 60.000 Hz, "
         "B freq 60.000 Hz\n"
         "px418ctl: failed: C freq 60.000 Hz\n"
         "px418ctl: not sent: closing write C freq 60.000 Hz\n"},
        {"preset save 1", 1, "px418ctl: Set parameter error: device busy.\n"},
        {"sweep A freq 1 3 --step 1 --dwell 0", 2,
         "px418ctl: Set parameter error: device busy.\n"
         "px418ctl: sweep stopped after 1 of 3 steps\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        generator_.Reset();
        seen = 0;
        failAt = c.failAt;
        const Outcome o = runner_.Run(c.line);
        EXPECT_EQ(o.status, kExitDevice);
        EXPECT_EQ(o.err, c.err);
    }

    // A sequence whose second state fails: the run stops there, says which
    // write failed, and puts back what the generator had before.
    QTemporaryDir dir;
    const QString seq = dir.filePath("fails.seq");
    QFile file(seq);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[State One]\nDuration=0\nA freq=60\n[State Two]\nDuration=0\nB freq=60\n");
    file.close();
    generator_.Reset();
    seen = 0;
    failAt = 2;
    const Outcome failed = runner_.Run("run " + seq.toStdString());
    EXPECT_EQ(failed.status, kExitDevice);
    EXPECT_EQ(failed.err, "px418ctl: the run stopped in Two: closing write B freq 60.000 Hz: Set "
                          "parameter error: device busy.\n"
                          "px418ctl: the end settings were written\n");
    EXPECT_EQ(generator_.State().active[0][1], 50000);
    EXPECT_EQ(generator_.State().active[1][1], 50000);

    // The run that failed left its first two values pending, not in effect.
    generator_.Reset();
    seen = 0;
    failAt = 3;
    runner_.Run("set A freq 60 B freq 60 C freq 60");
    EXPECT_EQ(generator_.State().outputs[1][1], 60000);
    EXPECT_EQ(generator_.State().active[1][1], 50000);

    // A generator that stops answering.
    silentReads = true;
    const Outcome o = runner_.Run("get");
    EXPECT_EQ(o.status, kExitDevice);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "px418ctl: IO error: device not responding.\n");
}

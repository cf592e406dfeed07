#include "ctl_run.h"

#include <algorithm>

#include <QFileInfo>

#include "commands.h"
#include "ctl_help.h"
#include "ctl_output.h"
#include "inifile.h"
#include "param_file.h"
#include "px418usb.h"
#include "sequence_file.h"
#include "sequencer.h"

#ifndef PX418_VERSION
#define PX418_VERSION "unknown"
#endif

namespace {

const char kPrefix[] = "px418ctl: ";

// A device failure whose message has been written already.
struct ReportedFailure {};

void ReportDeviceError(const EHardwareException &e, CtlIo &io)
{
    io.err << kPrefix << e.Message().toStdString() << "\n";
}

// The device, open for the length of one command.
class Session {
public:
    Session() = default;
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;
    ~Session()
    {
        if (open_) {
            PX418_CloseDevice();
        }
    }
    bool Open()
    {
        open_ = PX418_OpenDevice();
        return open_;
    }

private:
    bool open_ = false;
};

std::string LibraryError()
{
    const char *text = nullptr;
    PX418_GetLastError(&text);
    return text ? text : "";
}

int NoGenerator(CtlIo &io)
{
    io.err << kPrefix << "no PX-418 generator found among the attached converters";
    const std::string why = LibraryError();
    if (!why.empty()) {
        io.err << " (last answer: " << why << ")";
    }
    io.err << "\n";
    return kExitNoGenerator;
}

// Sends a run; a run of several writes that fails part-way says how far it
// got before the failure goes on to the caller.
void SendRun(const std::vector<DeviceWrite> &writes, CtlIo &io)
{
    std::size_t done = 0;
    try {
        SendWrites(writes, done);
    } catch (const EHardwareException &e) {
        ReportDeviceError(e, io);
        if (writes.size() > 1) {
            for (const std::string &line : PartialRunReport(writes, done)) {
                io.err << kPrefix << line << "\n";
            }
        }
        throw ReportedFailure{};
    }
}

void Get(const CtlCommand &cmd, CtlIo &io)
{
    switch (cmd.target) {
    case GetTarget::Table: {
        ParamTable table{};
        RecallParamTable(table);
        std::int32_t mode = 0;
        CheckedGetMode(&mode);
        const bool locked = mode != PX418_MODE_UNLOCKED;
        io.out << (cmd.json ? TableJson(table, locked) + "\n" : TableText(table, locked, cmd.rms));
        break;
    }
    case GetTarget::Quantity: {
        const std::int32_t entry = ReadShownEntry(cmd.channel, cmd.quantity);
        io.out << (cmd.json ? ValueJson(cmd.channel, cmd.quantity, entry, cmd.rms)
                            : FormatEntry(cmd.quantity, entry, cmd.rms))
               << "\n";
        break;
    }
    case GetTarget::Mode: {
        std::int32_t mode = 0;
        CheckedGetPar(PX418_GROUP_OUT_A, PX418_OUT_MODE, &mode);
        io.out << (cmd.json ? ValueJson(0, PX418_OUT_MODE, mode, false) : ModeName(mode)) << "\n";
        break;
    }
    case GetTarget::Lock: {
        std::int32_t mode = 0;
        CheckedGetMode(&mode);
        const bool locked = mode != PX418_MODE_UNLOCKED;
        io.out << (cmd.json ? std::string("{\"locked\":") + (locked ? "true" : "false") + "}"
                            : std::string(locked ? "locked" : "unlocked"))
               << "\n";
        break;
    }
    }
}

// The table of a parameter file, read as the window's Open reads it: a name
// that does not exist, a file that is no parameter file and one that holds a
// malformed value or one the generator refuses are refused as a whole.
ParamTable ReadLoadFile(const std::string &path)
{
    const QString file = QFileInfo(QString::fromStdString(path)).absoluteFilePath();
    return ReadCheckedParamTable(SectionedText::LoadExisting(file), file);
}

// The file that `save` writes into, read first so that its other sections
// and keys are kept. A name that cannot be read is one that cannot be
// written as asked (a folder, a pipe, an unreadable file): refused before
// the generator is read.
SectionedText ReadSaveFile(const std::string &path)
{
    const QString file = QString::fromStdString(path);
    try {
        return SectionedText::Load(file);
    } catch (const EFOpenError &e) {
        throw EFCreateError(file, e.Reason());
    }
}

int Watch(const CtlCommand &cmd, CtlIo &io)
{
    bool shown = false;
    std::int32_t lastGroup = 0;
    std::int32_t lastNumber = 0;
    std::int32_t lastValue = 0;
    while (io.stopSignal() == 0) {
        std::int32_t group = 0;
        std::int32_t number = 0;
        std::int32_t value = 0;
        CheckedGetSelPar(&group, &number, &value);
        // Only output parameters are followed, as Review Mode takes only
        // them into the window.
        const bool output =
            group >= 0 && group < PX418_OUTPUTS && number >= 0 && number < PX418_QUANTITIES;
        if (output
            && (!shown || group != lastGroup || number != lastNumber || value != lastValue)) {
            io.out << (cmd.json ? ValueJson(group, number, value, cmd.rms)
                                : ValueLine(group, number, value, cmd.rms))
                   << std::endl;
            // Following is all that watch does: with nowhere to write, stop.
            if (!io.out) {
                io.err << kPrefix << "the output could not be written\n";
                return kExitIoError;
            }
            shown = true;
            lastGroup = group;
            lastNumber = number;
            lastValue = value;
        }
        io.wait(kWatchPollMs);
    }
    return kExitOk;
}

int Sweep(const CtlCommand &cmd, CtlIo &io)
{
    const CtlSweep &sw = cmd.sweep;
    long done = 0;
    try {
        for (; done < sw.count; ++done) {
            if (const int signal = io.stopSignal()) {
                io.err << kPrefix << "sweep stopped after " << done << " of " << sw.count
                       << " steps\n";
                return kExitSignal + signal;
            }
            const std::int32_t entry = SweepValue(sw, done, cmd.rms);
            SendWrite(SettingWrites({{sw.channel, sw.quantity, entry}}).front());
            if (!cmd.quiet) {
                io.out << (cmd.json ? ValueJson(sw.channel, sw.quantity, entry, cmd.rms)
                                    : ValueLine(sw.channel, sw.quantity, entry, cmd.rms))
                       << std::endl;
            }
            io.wait(sw.dwellMs);
        }
    } catch (const EHardwareException &e) {
        ReportDeviceError(e, io);
        io.err << kPrefix << "sweep stopped after " << done << " of " << sw.count << " steps\n";
        throw ReportedFailure{};
    }
    return kExitOk;
}

// The sequence file `run` names, with --repeat in place of the file's
// count; a log file that could not be written is refused before the run.
Sequence ReadRunFile(const CtlCommand &cmd)
{
    Sequence sequence =
        LoadSequenceFile(QFileInfo(QString::fromStdString(cmd.path)).absoluteFilePath());
    if (cmd.repeat > 0) {
        sequence.repeat = cmd.repeat;
    }
    if (!cmd.logPath.empty()) {
        CheckSavable(QString::fromStdString(cmd.logPath));
    }
    return sequence;
}

// Whole milliseconds from now to a time of the run, 0 when it has come.
int MsUntil(SequenceTime at, SequenceTime now)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at - now).count();
    return static_cast<int>(std::clamp<std::int64_t>(ms, 0, kMaxHoldMs));
}

std::string StateName(const Sequencer &run)
{
    const SequenceState &state = run.Source().states[run.StateIndex()];
    return state.name.toStdString();
}

int RunSequence(const CtlCommand &cmd, const Sequence &sequence, CtlIo &io)
{
    ParamTable before{};
    RecallParamTable(before);
    Sequencer run(sequence, before, io.clock, [](const DeviceWrite &w) { SendWrite(w); });
    SequenceLog log;
    const bool withPass = sequence.repeat > 1;
    run.OnEntry = [&](const SequenceLogEntry &e) {
        log.Add(e);
        if (e.event != SequenceLogEntry::Event::Failed) {
            io.out << (cmd.json ? SequenceEntryJson(e) : SequenceEntryText(e, withPass))
                   << std::endl;
        }
    };

    int signal = 0;
    bool inputEnded = false;
    std::int64_t prompted = -1;  // the state (counted over the passes) last asked about
    while (!run.Finished()) {
        if ((signal = io.stopSignal()) != 0) {
            run.Stop();
            break;
        }
        const Sequencer::Next next = run.Advance();
        if (next.wait == Sequencer::Wait::Done) {
            break;
        }
        if (!run.WaitingForOperator()) {
            io.wait(MsUntil(next.at, run.Elapsed()));
            continue;
        }
        // A manual state: Enter ends it, while its ramps go on meanwhile.
        const std::int64_t asked =
            std::int64_t(run.Pass()) * std::int64_t(sequence.states.size()) + run.StateIndex();
        if (asked != prompted) {
            io.err << kPrefix << StateName(run) << " waits: press Enter to go on" << std::endl;
            prompted = asked;
        }
        const int ms =
            next.wait == Sequencer::Wait::Operator ? -1 : MsUntil(next.at, run.Elapsed());
        const LineWait line = io.readLine(ms);
        if (line == LineWait::Line) {
            run.Continue();
        } else if (line == LineWait::End) {
            io.err << kPrefix << "standard input ended while " << StateName(run)
                   << " waited for Enter\n";
            inputEnded = true;
            run.Stop();
        }
    }

    // The log of a run that failed or was stopped is kept too: it says how
    // far the run got.
    bool logWritten = true;
    if (!cmd.logPath.empty()) {
        try {
            SaveFileAtomically(QString::fromStdString(cmd.logPath), log.Csv());
        } catch (const EFCreateError &e) {
            io.err << kPrefix << e.Message().toStdString() << "\n";
            logWritten = false;
        }
    }

    if (const std::optional<SequenceFailure> &f = run.Failure()) {
        if (f->state >= 0) {
            io.err << kPrefix << "the run stopped in " << f->name.toStdString();
            if (withPass) {
                io.err << " (pass " << f->pass << ")";
            }
            io.err << ": " << DescribeWrite(f->write) << ": " << f->message.toStdString() << "\n";
            io.err << kPrefix
                   << (f->endMessage.isEmpty() ? std::string("the end settings were written")
                                               : "the end settings could not be written: "
                                                     + f->endMessage.toStdString())
                   << "\n";
        } else {
            io.err << kPrefix
                   << "the end settings could not be written: " << DescribeWrite(f->write) << ": "
                   << f->message.toStdString() << "\n";
        }
        return kExitDevice;
    }
    if (signal != 0 || inputEnded) {
        io.err << kPrefix << "run stopped";
        if (run.Started()) {
            io.err << " in " << StateName(run) << "; the end settings were written";
        }
        io.err << "\n";
        return signal != 0 ? kExitSignal + signal : kExitNoInput;
    }
    return logWritten ? kExitOk : kExitCantCreate;
}

int RunOnDevice(const CtlCommand &cmd, CtlIo &io)
{
    // Files are read and checked before the generator is opened, so that a
    // refused file sends nothing.
    ParamTable loaded{};
    SectionedText saveTo;
    Sequence sequence;
    if (cmd.verb == CtlVerb::Load) {
        loaded = ReadLoadFile(cmd.path);
    } else if (cmd.verb == CtlVerb::Save) {
        saveTo = ReadSaveFile(cmd.path);
    } else if (cmd.verb == CtlVerb::Run) {
        sequence = ReadRunFile(cmd);
    }

    Session session;
    if (!session.Open()) {
        return NoGenerator(io);
    }
    switch (cmd.verb) {
    case CtlVerb::Info:
        io.out << PrintableText(CheckedGetInfo()) << "\n";
        break;
    case CtlVerb::Get:
        Get(cmd, io);
        break;
    case CtlVerb::Set:
        SendRun(SettingWrites(cmd.settings), io);
        break;
    case CtlVerb::Lock:
        CheckedSetMode(PX418_MODE_LOCKED);
        break;
    case CtlVerb::Unlock:
        CheckedSetMode(PX418_MODE_UNLOCKED);
        break;
    case CtlVerb::PresetSave:
        SendWrite(PresetWrite(PX418_SYS_PRESET_STORE, cmd.slot, cmd.mute));
        io.wait(kPresetStoreMs);
        break;
    case CtlVerb::PresetLoad:
        SendWrite(PresetWrite(PX418_SYS_PRESET_LOAD, cmd.slot, cmd.mute));
        break;
    case CtlVerb::Load:
        SendRun(ReloadWrites(loaded), io);
        break;
    case CtlVerb::Save: {
        ParamTable table{};
        RecallParamTable(table);
        WriteParamTable(saveTo, table);
        saveTo.Save(QString::fromStdString(cmd.path));
        break;
    }
    case CtlVerb::Watch:
        return Watch(cmd, io);
    case CtlVerb::Sweep:
        return Sweep(cmd, io);
    case CtlVerb::Run:
        return RunSequence(cmd, sequence, io);
    case CtlVerb::Help:
    case CtlVerb::Version:
        break;
    }
    return kExitOk;
}

}  // namespace

std::string CtlVersion()
{
    return std::string("px418ctl ") + PX418_VERSION;
}

int RunCtl(const CtlCommand &cmd, CtlIo &io)
{
    if (cmd.verb == CtlVerb::Help) {
        io.out << CtlHelp(cmd.helpTopic);
        return kExitOk;
    }
    if (cmd.verb == CtlVerb::Version) {
        io.out << CtlVersion() << "\n";
        return kExitOk;
    }
    try {
        return RunOnDevice(cmd, io);
    } catch (const EHardwareException &e) {
        ReportDeviceError(e, io);
        return kExitDevice;
    } catch (const ReportedFailure &) {
        return kExitDevice;
    } catch (const EFOpenError &e) {
        io.err << kPrefix << e.Message().toStdString() << "\n";
        return kExitNoInput;
    } catch (const EFCreateError &e) {
        io.err << kPrefix << e.Message().toStdString() << "\n";
        return kExitCantCreate;
    } catch (const Exception &e) {
        // A parameter or sequence file refused for its content, before
        // anything was sent.
        io.err << kPrefix << e.Message().toStdString() << "\n";
        return kExitUsage;
    }
}

int RunCtlArgs(const std::vector<std::string> &args, CtlIo &io)
{
    const CtlParse parse = ParseCtlArgs(args);
    if (!parse.ok) {
        io.err << kPrefix << parse.error << "\n";
        io.err << "Try 'px418ctl " << (parse.topic.empty() ? "" : parse.topic + " ")
               << "--help'.\n";
        return kExitUsage;
    }
    return RunCtl(parse.command, io);
}

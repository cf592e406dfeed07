#include "ctl_run.h"

#include <QFileInfo>

#include "commands.h"
#include "ctl_help.h"
#include "ctl_output.h"
#include "inifile.h"
#include "param_file.h"
#include "px418usb.h"

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

int RunOnDevice(const CtlCommand &cmd, CtlIo &io)
{
    // Files are read and checked before the generator is opened, so that a
    // refused file sends nothing.
    ParamTable loaded{};
    SectionedText saveTo;
    if (cmd.verb == CtlVerb::Load) {
        loaded = ReadLoadFile(cmd.path);
    } else if (cmd.verb == CtlVerb::Save) {
        saveTo = ReadSaveFile(cmd.path);
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
        // A parameter file refused for its content, before anything was sent.
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

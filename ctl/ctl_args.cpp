#include "ctl_args.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <optional>

#include <QString>

#include "ctl_help.h"
#include "ctl_output.h"
#include "decimal_text.h"
#include "sequence.h"

namespace {

// The options; which commands take each is in their help (ctl_help).
struct KnownOption {
    const char *name;
    bool takesValue;
};
const KnownOption kOptions[] = {
    {"json", false}, {"rms", false},  {"mute", false},  {"quiet", false},
    {"step", true},  {"dwell", true}, {"repeat", true}, {"log", true},
};

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool IsTopic(const std::string &word)
{
    return FindCommandHelp(word) != nullptr;
}

// A token that starts like a negative number ("-120", "-.5") or names one
// ("-inf") is a value, not an option: it is refused as a value, with what
// is allowed.
bool LooksNegative(const std::string &token)
{
    if (token.size() < 2 || token[0] != '-') {
        return false;
    }
    const std::string rest = Lower(token.substr(1));
    return std::isdigit(static_cast<unsigned char>(rest[0])) || rest[0] == '.'
           || rest.rfind("inf", 0) == 0 || rest.rfind("nan", 0) == 0;
}

std::optional<int> ChannelOf(const std::string &word)
{
    const std::string w = Lower(word);
    for (int c = 0; c < PX418_OUTPUTS; ++c) {
        if (w == Lower(ChannelName(c))) {
            return c;
        }
    }
    return std::nullopt;
}

// Thrown inside the parser for a refused command line; caught in
// ParseCtlArgs.
struct Refusal {
    std::string message;
};

[[noreturn]] void Refuse(std::string message)
{
    throw Refusal{std::move(message)};
}

// A number for `what`; a refusal says what is allowed ("0.000 to 3000.000
// Hz").
double ReadNumber(const std::string &text, const std::string &what, const std::string &allowed)
{
    const QString number = QString::fromStdString(text);
    double v = 0;
    if (TextToFloat(number, v, QLatin1Char('.')) && std::isfinite(v)) {
        return v;
    }
    if (HasNumberForm(number, QLatin1Char('.'))) {
        Refuse(what + " " + text + " is out of range: allowed " + allowed);  // beyond a double
    }
    if (text.find(',') != std::string::npos) {
        Refuse("malformed value '" + text + "' for " + what + ": write the decimal point as '.'");
    }
    Refuse("malformed value '" + text + "' for " + what + ": expected a number, allowed "
           + allowed);
}

// A shown value as its table entry, bounded as the window's fields bound it.
std::int32_t ReadEntry(int channel, int quantity, const std::string &text, bool rms)
{
    const std::string what = std::string(ChannelName(channel)) + " " + QuantityName(quantity);
    const double shown = ReadNumber(text, what, AllowedRange(quantity, rms));
    const std::int32_t entry = ShownToEntry(quantity, shown, rms);
    const DeviceRange range = OutputRange(quantity);
    if (entry < range.min || entry > range.max) {
        Refuse(what + " " + text + " " + UnitOf(quantity, rms) + " is out of range: allowed "
               + AllowedRange(quantity, rms));
    }
    return entry;
}

std::int32_t ReadMode(const std::string &text)
{
    if (const std::optional<std::int32_t> mode = ModeOf(text)) {
        return *mode;
    }
    Refuse("unknown mode '" + text + "': allowed " + AllowedRange(PX418_OUT_MODE, false));
}

// Whole decimal digits only, no sign.
std::optional<long> ReadWhole(const std::string &text)
{
    if (text.empty() || text.size() > 9
        || !std::all_of(text.begin(), text.end(),
                        [](unsigned char c) { return std::isdigit(c) != 0; })) {
        return std::nullopt;
    }
    return std::stol(text);
}

void ExpectCount(const std::vector<std::string> &positional, std::size_t count,
                 const std::string &usage)
{
    if (positional.size() < count) {
        Refuse("missing arguments: " + usage);
    }
    if (positional.size() > count) {
        Refuse("unexpected argument '" + positional[count] + "': " + usage);
    }
}

void ParseGet(CtlCommand &cmd, const std::vector<std::string> &pos)
{
    if (pos.empty()) {
        cmd.target = GetTarget::Table;
        return;
    }
    const std::string w = Lower(pos[0]);
    if (w == "mode" || w == "lock") {
        ExpectCount(pos, 1, "get " + w);
        cmd.target = w == "mode" ? GetTarget::Mode : GetTarget::Lock;
        return;
    }
    ExpectCount(pos, 2, "get [CH QTY | mode | lock]");
    const auto channel = ChannelOf(pos[0]);
    if (!channel) {
        Refuse("unknown output '" + pos[0] + "': allowed A, B or C");
    }
    const auto quantity = QuantityOf(pos[1]);
    if (!quantity) {
        Refuse("unknown quantity '" + pos[1] + "': allowed freq, phase or ampl");
    }
    if (*quantity == PX418_OUT_MODE) {
        Refuse("the mode is one for all outputs: px418ctl get mode");
    }
    cmd.target = GetTarget::Quantity;
    cmd.channel = *channel;
    cmd.quantity = *quantity;
}

void ParseSet(CtlCommand &cmd, const std::vector<std::string> &pos)
{
    if (pos.empty()) {
        Refuse("nothing to set: set CH QTY VALUE ... or set mode A.B.C|A+B+C");
    }
    std::size_t i = 0;
    while (i < pos.size()) {
        OutputSetting s;
        if (Lower(pos[i]) == "mode") {
            if (i + 1 >= pos.size()) {
                Refuse("missing value after 'mode': allowed "
                       + AllowedRange(PX418_OUT_MODE, false));
            }
            s = {0, PX418_OUT_MODE, ReadMode(pos[i + 1])};
            i += 2;
        } else {
            const auto channel = ChannelOf(pos[i]);
            if (!channel) {
                Refuse("unknown output '" + pos[i] + "': allowed A, B, C or mode");
            }
            if (i + 1 >= pos.size()) {
                Refuse("missing quantity after '" + pos[i] + "': freq, phase or ampl");
            }
            const auto quantity = QuantityOf(pos[i + 1]);
            if (!quantity) {
                Refuse("unknown quantity '" + pos[i + 1] + "': allowed freq, phase or ampl");
            }
            if (*quantity == PX418_OUT_MODE) {
                Refuse("the mode is one for all outputs: set mode A.B.C|A+B+C");
            }
            if (i + 2 >= pos.size()) {
                Refuse(std::string("missing value after '") + ChannelName(*channel) + " "
                       + QuantityName(*quantity) + "'");
            }
            s = {*channel, *quantity, ReadEntry(*channel, *quantity, pos[i + 2], cmd.rms)};
            i += 3;
        }
        for (const OutputSetting &earlier : cmd.settings) {
            if (earlier.channel == s.channel && earlier.quantity == s.quantity) {
                Refuse(s.quantity == PX418_OUT_MODE
                           ? std::string("mode is given twice")
                           : std::string(ChannelName(s.channel)) + " " + QuantityName(s.quantity)
                                 + " is given twice");
            }
        }
        cmd.settings.push_back(s);
    }
}

void ParsePreset(CtlCommand &cmd, const std::vector<std::string> &pos)
{
    ExpectCount(pos, 2, "preset save|load N");
    const std::string action = Lower(pos[0]);
    if (action == "save") {
        cmd.verb = CtlVerb::PresetSave;
    } else if (action == "load") {
        cmd.verb = CtlVerb::PresetLoad;
    } else {
        Refuse("unknown preset action '" + pos[0] + "': allowed save or load");
    }
    const auto slot = ReadWhole(pos[1]);
    if (!slot || *slot >= PX418_PRESET_SLOTS) {
        Refuse("preset slot '" + pos[1] + "' is out of range: allowed 0 to "
               + std::to_string(PX418_PRESET_SLOTS - 1));
    }
    cmd.slot = static_cast<std::int32_t>(*slot);
}

void ParseSweep(CtlCommand &cmd, const std::vector<std::string> &pos,
                const std::optional<std::string> &step, const std::optional<std::string> &dwell)
{
    ExpectCount(pos, 4, "sweep CH QTY FROM TO --step S --dwell MS");
    const auto channel = ChannelOf(pos[0]);
    if (!channel) {
        Refuse("unknown output '" + pos[0] + "': allowed A, B or C");
    }
    const auto quantity = QuantityOf(pos[1]);
    if (!quantity || *quantity == PX418_OUT_MODE) {
        Refuse("unknown quantity '" + pos[1] + "' for a sweep: allowed freq, phase or ampl");
    }
    const int q = *quantity;
    const std::string what = std::string(ChannelName(*channel)) + " " + QuantityName(q);
    // Both ends are checked as a setting would be.
    ReadEntry(*channel, q, pos[2], cmd.rms);
    ReadEntry(*channel, q, pos[3], cmd.rms);
    const double from = ReadNumber(pos[2], what, AllowedRange(q, cmd.rms));
    const double to = ReadNumber(pos[3], what, AllowedRange(q, cmd.rms));

    if (!step) {
        Refuse("missing --step: the step in " + UnitOf(q, cmd.rms));
    }
    const std::string resolution =
        FormatShown(q, DeviceToShown(q, 1, false)) + " " + UnitOf(q, false);
    const double s = ReadNumber(*step, "--step", "at least " + resolution);
    if (s < 0) {
        Refuse("--step " + *step + " is negative: the step is a size, FROM and TO give the way");
    }
    // The step must move the entry by at least one unit of the device, or
    // steps would repeat values.
    if (!(ShownToDevice(q, std::fabs(s), cmd.rms) >= 1 - 1e-9)) {
        Refuse("--step " + *step + " is below the generator's resolution of " + resolution);
    }
    if (!dwell) {
        Refuse("missing --dwell: how long each value is held, in ms");
    }
    const auto ms = ReadWhole(*dwell);
    if (!ms || *ms > kMaxHoldMs) {
        Refuse("--dwell '" + *dwell + "' is out of range: allowed 0 to "
               + std::to_string(kMaxHoldMs) + " ms, a whole number");
    }

    CtlSweep &sw = cmd.sweep;
    sw.channel = *channel;
    sw.quantity = q;
    sw.from = from;
    sw.step = to >= from ? std::fabs(s) : -std::fabs(s);
    // A small allowance keeps TO when the steps reach it but for rounding.
    sw.count = static_cast<long>(std::floor(std::fabs(to - from) / std::fabs(s) + 1e-9)) + 1;
    sw.dwellMs = static_cast<int>(*ms);
}

void ParseRun(CtlCommand &cmd, const std::vector<std::string> &pos,
              const std::optional<std::string> &repeat, const std::optional<std::string> &log)
{
    ExpectCount(pos, 1, "run FILE");
    if (pos[0].empty()) {
        Refuse("the file name is empty: run FILE");
    }
    cmd.path = pos[0];
    if (repeat) {
        const auto n = ReadWhole(*repeat);
        if (!n || *n < 1 || *n > kMaxRepeat) {
            Refuse("--repeat '" + *repeat + "' is out of range: allowed 1 to "
                   + std::to_string(kMaxRepeat));
        }
        cmd.repeat = static_cast<int>(*n);
    }
    if (log) {
        if (log->empty()) {
            Refuse("the log's file name is empty: --log FILE.csv");
        }
        cmd.logPath = *log;
    }
}

}  // namespace

std::int32_t SweepValue(const CtlSweep &sweep, long i, bool rms)
{
    const double shown = sweep.from + static_cast<double>(i) * sweep.step;
    return ShownToEntry(sweep.quantity, shown, rms);
}

CtlParse ParseCtlArgs(const std::vector<std::string> &args)
{
    CtlParse result;
    CtlCommand &cmd = result.command;
    try {
        if (args.empty()) {
            Refuse("no command given");
        }
        const std::string &first = args[0];
        if (first == "--help" || first == "-h" || first == "help") {
            cmd.verb = CtlVerb::Help;
            if (args.size() > 2) {
                Refuse("unexpected argument '" + args[2] + "'");
            }
            if (args.size() == 2) {
                if (!IsTopic(args[1])) {
                    Refuse("unknown command '" + args[1] + "'");
                }
                cmd.helpTopic = args[1];
            }
            result.ok = true;
            return result;
        }
        if (first == "--version") {
            if (args.size() > 1) {
                Refuse("unexpected argument '" + args[1] + "'");
            }
            cmd.verb = CtlVerb::Version;
            result.ok = true;
            return result;
        }
        if (!IsTopic(first)) {
            Refuse(first[0] == '-' ? "unknown option '" + first + "'"
                                   : "unknown command '" + first + "'");
        }
        result.topic = first;

        // --help anywhere before "--" asks for the command's help, whatever
        // else the line holds.
        for (std::size_t i = 1; i < args.size() && args[i] != "--"; ++i) {
            if (args[i] == "--help" || args[i] == "-h") {
                cmd.verb = CtlVerb::Help;
                cmd.helpTopic = first;
                result.ok = true;
                return result;
            }
        }

        std::vector<std::string> positional;
        // The options that take a value, each at most once.
        std::optional<std::string> step;
        std::optional<std::string> dwell;
        std::optional<std::string> repeat;
        std::optional<std::string> log;
        bool optionsEnded = false;
        for (std::size_t i = 1; i < args.size(); ++i) {
            const std::string &a = args[i];
            if (optionsEnded || a.empty() || a[0] != '-' || a == "-" || LooksNegative(a)) {
                positional.push_back(a);
                continue;
            }
            if (a == "--") {
                optionsEnded = true;
                continue;
            }
            if (a.rfind("--", 0) != 0) {
                Refuse("unknown option '" + a + "'");
            }
            const std::size_t eq = a.find('=');
            const std::string name = a.substr(2, eq == std::string::npos ? eq : eq - 2);
            const KnownOption *known = nullptr;
            for (const KnownOption &o : kOptions) {
                if (name == o.name) {
                    known = &o;
                }
            }
            if (!known) {
                Refuse("unknown option '--" + name + "'");
            }
            const std::vector<std::string> &takenBy = FindCommandHelp(first)->options;
            if (std::find(takenBy.begin(), takenBy.end(), name) == takenBy.end()) {
                Refuse("option '--" + name + "' does not apply to '" + first + "'");
            }
            std::optional<std::string> value;
            if (known->takesValue) {
                if (eq != std::string::npos) {
                    value = a.substr(eq + 1);
                } else if (i + 1 < args.size()) {
                    value = args[++i];
                } else {
                    Refuse("option '--" + name + "' needs a value");
                }
            } else if (eq != std::string::npos) {
                Refuse("option '--" + name + "' takes no value");
            }
            if (name == "json") {
                cmd.json = true;
            } else if (name == "rms") {
                cmd.rms = true;
            } else if (name == "mute") {
                cmd.mute = true;
            } else if (name == "quiet") {
                cmd.quiet = true;
            } else {
                // Which of two values was meant cannot be told; a flag given
                // twice means what it means once.
                std::optional<std::string> &slot = name == "step"     ? step
                                                   : name == "dwell"  ? dwell
                                                   : name == "repeat" ? repeat
                                                                      : log;
                if (slot) {
                    Refuse("option '--" + name + "' is given twice");
                }
                slot = value;
            }
        }

        if (first == "info" || first == "lock" || first == "unlock" || first == "watch") {
            ExpectCount(positional, 0, first + " takes no arguments");
            cmd.verb = first == "info"     ? CtlVerb::Info
                       : first == "lock"   ? CtlVerb::Lock
                       : first == "unlock" ? CtlVerb::Unlock
                                           : CtlVerb::Watch;
        } else if (first == "get") {
            cmd.verb = CtlVerb::Get;
            ParseGet(cmd, positional);
        } else if (first == "set") {
            cmd.verb = CtlVerb::Set;
            ParseSet(cmd, positional);
        } else if (first == "preset") {
            ParsePreset(cmd, positional);
        } else if (first == "load" || first == "save") {
            ExpectCount(positional, 1, first + " FILE.par");
            if (positional[0].empty()) {
                Refuse("the file name is empty: " + first + " FILE.par");
            }
            cmd.verb = first == "load" ? CtlVerb::Load : CtlVerb::Save;
            cmd.path = positional[0];
        } else if (first == "run") {
            cmd.verb = CtlVerb::Run;
            ParseRun(cmd, positional, repeat, log);
        } else {
            cmd.verb = CtlVerb::Sweep;
            ParseSweep(cmd, positional, step, dwell);
        }
        result.ok = true;
    } catch (const Refusal &r) {
        result.ok = false;
        result.error = r.message;
    }
    return result;
}

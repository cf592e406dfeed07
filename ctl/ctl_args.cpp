#include "ctl_args.h"

#include "ctl_output.h"
#include "decimal_text.h"

#include <QString>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <optional>

namespace {

// The longest dwell of a sweep step: a day.
constexpr long kMaxDwellMs = 86400000;

// Options and the commands (help topics) that take them.
struct KnownOption {
    const char *name;
    bool takesValue;
    std::vector<std::string> topics;
};
const KnownOption kOptions[] = {
    {"json", false, {"get", "watch", "sweep"}},
    {"rms", false, {"get", "set", "watch", "sweep"}},
    {"mute", false, {"preset"}},
    {"quiet", false, {"sweep"}},
    {"step", true, {"sweep"}},
    {"dwell", true, {"sweep"}},
};

const char *const kTopics[] = {"info",   "get",  "set",  "lock",  "unlock",
                               "preset", "load", "save", "watch", "sweep"};

const char kOverview[] = R"(Usage: px418ctl COMMAND [ARGUMENTS] [OPTIONS]

Drives a PX-418 three-phase generator from the command line. Each command
finds the generator, does its work and closes it again.

Commands:
  info                          the generator's identity
  get [--json] [--rms]          all settings; get CH QTY, get mode, get lock: one
  set CH QTY VALUE ... [--rms]  set output quantities, several at once
  set mode A.B.C|A+B+C          set the coupling mode
  lock, unlock                  lock or unlock the front panel
  preset save|load N [--mute]   store the outputs in preset N (0-9), or load it
  load FILE.par                 write a parameter file's settings to the generator
  save FILE.par                 read the generator's settings into a parameter file
  watch [--json] [--rms]        follow the parameter being adjusted on the generator
  sweep CH QTY FROM TO --step S --dwell MS [--quiet] [--json] [--rms]
                                step one quantity from FROM to TO

CH is A, B or C. QTY is freq (Hz), phase (degrees) or ampl (volts; peak, or
RMS with --rms). Numbers take "." as the decimal point in every locale.

  px418ctl COMMAND --help       more about a command
  px418ctl --version            the program's version

Exit status: 0 done; 1 the generator refused a command or did not answer
(the library's message on standard error); 2 no generator found; 64 a
malformed or out-of-range argument, refused before anything is sent; 66 a
file that cannot be read; 73 a file that cannot be written; 74 the output
could not be written; 130 or 143 a sweep stopped by SIGINT or SIGTERM.

PX418USB_DRIVER chooses the converter driver; "virtual" selects the built-in
virtual generator. PX418USB_VIRTUAL_STATE=FILE keeps that generator's state in
FILE, so that one call sees what an earlier one set.
)";

struct TopicHelp {
    const char *topic;
    const char *text;
};
const TopicHelp kHelp[] = {
    {"info", R"(Usage: px418ctl info

Prints the generator's identity text, for example "PX-418".
)"},
    {"get", R"(Usage: px418ctl get [--json] [--rms]
       px418ctl get CH QTY [--json] [--rms]
       px418ctl get mode [--json]
       px418ctl get lock [--json]

Reads the generator's settings and prints them in the window's units: the
frequency in Hz with 3 decimals, the phase in degrees with 1, the amplitude
in volts with 2 (peak, or RMS with --rms). In mode A+B+C every output runs
at output A's frequency, and that is the frequency shown for B and C.

A single value prints as the bare number ("50.000"), the mode as A.B.C or
A+B+C, the lock as locked or unlocked.

  --json   one JSON object: for the whole table
           {"mode":"A.B.C","locked":false,"outputs":{"A":{"freq_hz":50.000,
           "phase_deg":0.0,"ampl_v_peak":10.00,"ampl_v_rms":7.07},...}};
           for one value {"channel":"A","quantity":"freq","value":50.000,
           "unit":"Hz"}; for the lock {"locked":false}
  --rms    amplitudes as RMS values (text output; JSON carries both)

Examples:
  px418ctl get
  px418ctl get B phase
  f=$(px418ctl get A freq)
)"},
    {"set", R"(Usage: px418ctl set CH QTY VALUE [CH QTY VALUE ...] [--rms]
       px418ctl set mode A.B.C|A+B+C

Sets output quantities with the window's ranges, scaling and rounding:
  freq   0 to 3000 Hz, 3 decimals
  phase  -360 to 360 degrees, 1 decimal
  ampl   0 to 10 V peak (0 to 7.07 V RMS with --rms), 2 decimals
  mode   A.B.C (outputs apart) or A+B+C (all at output A's frequency)

One setting takes effect at once, as a field of the window sends it. Several
settings in one call are written as one run that takes effect together at
its end. Nothing beeps. A value out of range is refused, with the allowed
range, before anything is sent.

  --rms    amplitudes are RMS values of the sine (the generator holds peaks)

Examples:
  px418ctl set A freq 50.5
  px418ctl set B phase -120
  px418ctl set C ampl 7.07 --rms
  px418ctl set mode A+B+C
  px418ctl set A freq 60 B freq 60 C freq 60
)"},
    {"lock", R"(Usage: px418ctl lock

Locks the generator's front panel (mode 1). It stays locked after px418ctl
ends, until "px418ctl unlock" or the window unlocks it.
)"},
    {"unlock", R"(Usage: px418ctl unlock

Unlocks the generator's front panel (mode 0).
)"},
    {"preset", R"(Usage: px418ctl preset save N [--mute]
       px418ctl preset load N [--mute]

save stores the generator's present outputs in its preset slot N (0 to 9)
and waits half a second while the generator stores them; load replaces the
outputs by the slot's. The generator beeps, unless --mute is given.

Examples:
  px418ctl preset save 3
  px418ctl preset load 3 --mute
)"},
    {"load", R"(Usage: px418ctl load FILE.par

Writes the settings of a parameter file (the window's File > Open... format)
to the generator as one run, as the window's Reload does. A file that does
not exist, is not a parameter file, or holds a value out of range is refused
before anything is sent. Keys missing from the file take their defaults, as
in the window.
)"},
    {"save", R"(Usage: px418ctl save FILE.par

Reads the generator's settings and stores them in a parameter file (the
window's File > Save as... format). Other sections and keys of an existing
file are kept.
)"},
    {"watch", R"(Usage: px418ctl watch [--json] [--rms]

Follows the output parameter being adjusted on the generator's front panel,
as the window's Review Mode does: prints the parameter selected when it
starts, then one line each time the selection or its value changes, until
SIGINT (Ctrl+C) or SIGTERM; then exits with status 0.

  --json   one JSON object per line:
           {"channel":"A","quantity":"freq","value":50.000,"unit":"Hz"}
  --rms    amplitudes as RMS values

Example:
  px418ctl watch --json | while read -r line; do ...; done
)"},
    {"sweep", R"(Usage: px418ctl sweep CH QTY FROM TO --step S --dwell MS [--quiet]
                      [--json] [--rms]

Steps one output quantity (freq, phase or ampl) from FROM toward TO by S:
FROM, FROM+S, ... up to the last value not beyond TO. Each value is written
to take effect at once and held for MS milliseconds. Prints a line per step
(as watch does), or nothing with --quiet. SIGINT (Ctrl+C) or SIGTERM stops
the sweep after the write in progress; the exit status is then 130 or 143.

  --step S    the step in the quantity's unit, at least its resolution
  --dwell MS  how long each value is held, 0 to 86400000 ms

Example:
  px418ctl sweep A freq 10 1000 --step 10 --dwell 500
)"},
};

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool IsTopic(const std::string &word)
{
    return std::find(std::begin(kTopics), std::end(kTopics), word) != std::end(kTopics);
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

std::optional<int> QuantityOf(const std::string &word)
{
    const std::string w = Lower(word);
    if (w == "mode") {
        return PX418_OUT_MODE;
    }
    if (w == "freq" || w == "frequency") {
        return PX418_OUT_FREQUENCY;
    }
    if (w == "phase") {
        return PX418_OUT_PHASE;
    }
    if (w == "ampl" || w == "amplitude") {
        return PX418_OUT_AMPLITUDE;
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
    const std::string w = Lower(text);
    if (w == Lower(ModeName(kModeSeparate)) || w == "0") {
        return kModeSeparate;
    }
    if (w == Lower(ModeName(kModeCoupled)) || w == "1") {
        return kModeCoupled;
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
    if (!ms || *ms > kMaxDwellMs) {
        Refuse("--dwell '" + *dwell + "' is out of range: allowed 0 to "
               + std::to_string(kMaxDwellMs) + " ms, a whole number");
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

}  // namespace

const char *ChannelName(int channel)
{
    static const char *const names[PX418_OUTPUTS] = {"A", "B", "C"};
    return channel >= 0 && channel < PX418_OUTPUTS ? names[channel] : "?";
}

const char *QuantityName(int quantity)
{
    switch (quantity) {
    case PX418_OUT_FREQUENCY:
        return "freq";
    case PX418_OUT_PHASE:
        return "phase";
    case PX418_OUT_AMPLITUDE:
        return "ampl";
    default:
        return "mode";
    }
}

std::string ModeName(std::int32_t mode)
{
    switch (mode) {
    case kModeSeparate:
        return "A.B.C";
    case kModeCoupled:
        return "A+B+C";
    default:
        return std::to_string(mode);
    }
}

std::int32_t SweepValue(const CtlSweep &sweep, long i, bool rms)
{
    const double shown = sweep.from + static_cast<double>(i) * sweep.step;
    return ShownToEntry(sweep.quantity, shown, rms);
}

std::string CtlHelp(const std::string &topic)
{
    if (topic.empty()) {
        return kOverview;
    }
    for (const TopicHelp &h : kHelp) {
        if (topic == h.topic) {
            return h.text;
        }
    }
    return {};
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
        std::optional<std::string> step;
        std::optional<std::string> dwell;
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
            if (std::find(known->topics.begin(), known->topics.end(), first)
                == known->topics.end()) {
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
            } else if (name == "step" || name == "dwell") {
                // Which of two values was meant cannot be told; a flag given
                // twice means what it means once.
                std::optional<std::string> &slot = name == "step" ? step : dwell;
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

#include "ctl_help.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <sstream>

#include "param_table.h"

namespace {

const CtlQuantity kQuantities[] = {
    {PX418_OUT_MODE, nullptr, "", ""},
    {PX418_OUT_FREQUENCY, "frequency", "freq_hz", "freq_hz"},
    {PX418_OUT_PHASE, nullptr, "phase_deg", "phase_deg"},
    {PX418_OUT_AMPLITUDE, "amplitude", "ampl_v_peak", "ampl_v_rms"},
};

// The overview: this, the commands' rows, then kOverviewEnd.
const char kOverviewStart[] = R"(Usage: px418ctl COMMAND [ARGUMENTS] [OPTIONS]

Drives a PX-418 three-phase generator from the command line. Each command
finds the generator, does its work and closes it again.

Commands:
)";
const char kOverviewEnd[] = R"(
CH is A, B or C. QTY is freq (Hz), phase (degrees) or ampl (volts; peak, or
RMS with --rms). Numbers take "." as the decimal point in every locale.

  px418ctl COMMAND --help       more about a command
  px418ctl --version            the program's version

Exit status: 0 done; 1 the generator refused a command or did not answer
(the library's message on standard error); 2 no generator found; 64 a
malformed or out-of-range argument, or a refused file, before anything is
sent; 66 a file that cannot be read; 73 a file that cannot be written; 74 the
output could not be written; 130 or 143 a sweep or a run stopped by SIGINT or
SIGTERM.

PX418USB_DRIVER chooses the converter driver; "virtual" selects the built-in
virtual generator. PX418USB_VIRTUAL_STATE=FILE keeps that generator's state in
FILE, so that one call sees what an earlier one set.
)";

const std::vector<CtlCommandHelp> kCommands = {
    {
        .name = "info",
        .options = {},
        .usages = {"info"},
        .overview = {{"info", "the generator's identity"}},
        .text = R"(Prints the generator's identity text, for example "PX-418".
)",
    },
    {
        .name = "get",
        .options = {"json", "rms"},
        .usages = {"get [--json] [--rms]", "get CH QTY [--json] [--rms]", "get mode [--json]",
                   "get lock [--json]"},
        .overview = {{"get [--json] [--rms]", "all settings; get CH QTY, get mode, get lock: one"}},
        .text = R"(Reads the generator's settings and prints them in the window's units: the
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
)",
    },
    {
        .name = "set",
        .options = {"rms"},
        .usages = {"set CH QTY VALUE [CH QTY VALUE ...] [--rms]", "set mode A.B.C|A+B+C"},
        .overview = {{"set CH QTY VALUE ... [--rms]", "set output quantities, several at once"},
                     {"set mode A.B.C|A+B+C", "set the coupling mode"}},
        .text = R"(Sets output quantities with the window's ranges, scaling and rounding:
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
)",
    },
    {
        .name = "lock",
        .options = {},
        .usages = {"lock"},
        .overview = {{"lock, unlock", "lock or unlock the front panel"}},
        .text = R"(Locks the generator's front panel (mode 1). It stays locked after px418ctl
ends, until "px418ctl unlock" or the window unlocks it.
)",
    },
    {
        .name = "unlock",
        .options = {},
        .usages = {"unlock"},
        .overview = {},
        .text = R"(Unlocks the generator's front panel (mode 0).
)",
    },
    {
        .name = "preset",
        .options = {"mute"},
        .usages = {"preset save N [--mute]", "preset load N [--mute]"},
        .overview = {{"preset save|load N [--mute]",
                      "store the outputs in preset N (0-9), or load it"}},
        .text = R"(save stores the generator's present outputs in its preset slot N (0 to 9)
and waits half a second while the generator stores them; load replaces the
outputs by the slot's. The generator beeps, unless --mute is given.

Examples:
  px418ctl preset save 3
  px418ctl preset load 3 --mute
)",
    },
    {
        .name = "load",
        .options = {},
        .usages = {"load FILE.par"},
        .overview = {{"load FILE.par", "write a parameter file's settings to the generator"}},
        .text = R"(Writes the settings of a parameter file (the window's File > Open... format)
to the generator as one run, as the window's Reload does. A file that does
not exist, is not a parameter file, or holds a value that does not have its
key's form or lies out of range is refused before anything is sent. Keys
missing from the file take their defaults, as in the window.
)",
    },
    {
        .name = "save",
        .options = {},
        .usages = {"save FILE.par"},
        .overview = {{"save FILE.par", "read the generator's settings into a parameter file"}},
        .text = R"(Reads the generator's settings and stores them in a parameter file (the
window's File > Save as... format). Other sections and keys of an existing
file are kept.
)",
    },
    {
        .name = "watch",
        .options = {"json", "rms"},
        .usages = {"watch [--json] [--rms]"},
        .overview = {{"watch [--json] [--rms]",
                      "follow the parameter being adjusted on the generator"}},
        .text = R"(Follows the output parameter being adjusted on the generator's front panel,
as the window's Review Mode does: prints the parameter selected when it
starts, then one line each time the selection or its value changes, until
SIGINT (Ctrl+C) or SIGTERM; then exits with status 0.

  --json   one JSON object per line:
           {"channel":"A","quantity":"freq","value":50.000,"unit":"Hz"}
  --rms    amplitudes as RMS values

Example:
  px418ctl watch --json | while read -r line; do ...; done
)",
    },
    {
        .name = "sweep",
        .options = {"json", "rms", "quiet", "step", "dwell"},
        .usages = {"sweep CH QTY FROM TO --step S --dwell MS [--quiet] [--json] [--rms]"},
        .overview = {{"sweep CH QTY FROM TO --step S --dwell MS [--quiet] [--json] [--rms]",
                      "step one quantity from FROM to TO"}},
        .text = R"(Steps one output quantity (freq, phase or ampl) from FROM toward TO by S:
FROM, FROM+S, ... up to the last value not beyond TO. Each value is written
to take effect at once and held for MS milliseconds. Prints a line per step
(as watch does), or nothing with --quiet. SIGINT (Ctrl+C) or SIGTERM stops
the sweep after the write in progress; the exit status is then 130 or 143.

  --step S    the step in the quantity's unit, at least its resolution
  --dwell MS  how long each value is held, 0 to 86400000 ms

Example:
  px418ctl sweep A freq 10 1000 --step 10 --dwell 500
)",
    },
    {
        .name = "run",
        .options = {"repeat", "log", "json"},
        .usages = {"run FILE [--repeat N] [--log FILE.csv] [--json]"},
        .overview = {{"run FILE [--repeat N] [--log FILE.csv] [--json]",
                      "run a test sequence (the window's Sequence format)"}},
        .text = R"(Runs a sequence file: its states in order, each written as one run that takes
effect together, only the values that change; ramps step on time; the list
repeats as the file (or --repeat) says. Prints a line per state and ramp step
as it takes effect, with the time it was due and the time it took effect
(milliseconds since the start), then the end settings: the file's end state,
or the settings the generator had before the run. A manual state waits for
Enter on standard input. SIGINT (Ctrl+C) or SIGTERM stops the run; the end
settings are written and the exit status is 130 or 143. A file that is
malformed, holds an unknown key or a value out of range is refused, with its
line and the reason, before anything is sent. When standard input ends while
a manual state waits, the run stops as well (status 66).

  --repeat N      run the list N times (1 to 1000000) instead of the file's
                  Repeat
  --log FILE.csv  write the log as CSV when the run ends, however it ends:
                  pass, state, event, step, due_ms, effect_ms, late_ms,
                  written; a file that could not be written is refused
                  before the run
  --json          one JSON object per line: {"pass":1,"state":"Fault",
                  "event":"state","step":0,"due_ms":2000.000,
                  "effect_ms":2005.217,"late_ms":5.217,"written":[{"channel":
                  "A","quantity":"ampl","value":3.00,"unit":"V peak"}]}

A sequence file (see man px418ctl):
  [Sequence]
  Repeat=1
  [State Prefault]
  Duration=2000
  A ampl=10
  [State Fault]
  Duration=200
  A ampl=3

Example:
  px418ctl run relay-test.seq --log relay-test.csv
)",
    },
};

// Where the overview's second column starts.
constexpr std::size_t kOverviewColumn = 32;
// Usage lines are wrapped before this column.
constexpr std::size_t kUsageWidth = 72;

// The same word, whatever the case of its letters.
bool SameWord(const std::string &word, const char *name)
{
    return name != nullptr
           && std::equal(
               word.begin(), word.end(), name, name + std::strlen(name),
               [](unsigned char a, unsigned char b) { return std::tolower(a) == std::tolower(b); });
}

std::string Overview()
{
    std::string text = kOverviewStart;
    for (const CtlCommandHelp &command : kCommands) {
        for (const auto &[typed, does] : command.overview) {
            std::string row = "  " + typed;
            // A row too long for the first column gives the second a line of
            // its own.
            row += row.size() + 2 <= kOverviewColumn
                       ? std::string(kOverviewColumn - row.size(), ' ')
                       : "\n" + std::string(kOverviewColumn, ' ');
            text += row + does + "\n";
        }
    }
    return text + kOverviewEnd;
}

// "Usage: px418ctl USAGE", one line per usage; a long one goes on under its
// first argument.
std::string UsageLines(const CtlCommandHelp &command)
{
    std::string text;
    for (const std::string &usage : command.usages) {
        const std::string start = text.empty() ? "Usage: px418ctl " : "       px418ctl ";
        const std::string indent(start.size() + std::string(command.name).size() + 1, ' ');
        std::istringstream words(usage);
        std::string line = start;
        bool lineEmpty = true;
        for (std::string word; words >> word;) {
            if (!lineEmpty && line.size() + 1 + word.size() > kUsageWidth) {
                text += line + "\n";
                line = indent;
                lineEmpty = true;
            }
            line += (lineEmpty ? "" : " ") + word;
            lineEmpty = false;
        }
        text += line + "\n";
    }
    return text;
}

}  // namespace

const CtlQuantity &QuantityWords(int quantity)
{
    for (const CtlQuantity &q : kQuantities) {
        if (q.quantity == quantity) {
            return q;
        }
    }
    return kQuantities[0];
}

std::optional<int> QuantityOf(const std::string &word)
{
    for (const CtlQuantity &q : kQuantities) {
        if (SameWord(word, QuantityName(q.quantity)) || SameWord(word, q.alias)) {
            return q.quantity;
        }
    }
    return std::nullopt;
}

const CtlCommandHelp *FindCommandHelp(const std::string &name)
{
    for (const CtlCommandHelp &command : kCommands) {
        if (name == command.name) {
            return &command;
        }
    }
    return nullptr;
}

const std::vector<CtlCommandHelp> &CommandHelps()
{
    return kCommands;
}

std::string CtlHelp(const std::string &topic)
{
    if (topic.empty()) {
        return Overview();
    }
    const CtlCommandHelp *command = FindCommandHelp(topic);
    if (command == nullptr) {
        return {};
    }
    return UsageLines(*command) + "\n" + command->text;
}

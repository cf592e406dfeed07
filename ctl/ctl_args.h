// px418ctl's command line: the words of its commands and their checking.
//
// Every value is checked here, before anything reaches the generator: a
// number is read with "." as its decimal point whatever the locale, scaled,
// rounded and bounded exactly as the window's fields do (core/param_table),
// and refused with the allowed range when it falls outside.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "param_runs.h"

enum class CtlVerb {
    Help,
    Version,
    Info,
    Get,
    Set,
    Lock,
    Unlock,
    PresetSave,
    PresetLoad,
    Load,
    Save,
    Watch,
    Sweep,
    Run,
};

// What `get` reads.
enum class GetTarget {
    Table,     // the whole table, the mode and the lock
    Quantity,  // one output quantity
    Mode,      // the coupling mode
    Lock,      // the front-panel lock
};

// A sweep in what the window shows: value i (0 to count - 1) is from + i x
// step, step carrying the direction.
struct CtlSweep {
    int channel = 0;
    int quantity = 0;
    double from = 0;
    double step = 0;
    long count = 0;
    int dwellMs = 0;
};

struct CtlCommand {
    CtlVerb verb = CtlVerb::Help;
    std::string helpTopic;  // Help: the command asked about; empty for the overview
    bool json = false;
    bool rms = false;
    bool mute = false;
    bool quiet = false;
    GetTarget target = GetTarget::Table;
    int channel = 0;  // get of one quantity
    int quantity = 0;
    std::vector<OutputSetting> settings;  // set, in the order given
    std::int32_t slot = 0;                // preset
    std::string path;                     // load, save, run
    CtlSweep sweep;
    int repeat = 0;       // run: the list's repeat count; 0 for the file's
    std::string logPath;  // run: where the log goes as CSV; empty for none
};

struct CtlParse {
    bool ok = false;
    CtlCommand command;
    std::string error;  // why the command line was refused
    std::string topic;  // the command whose help to point to; empty for the overview
};

// Reads the arguments after the program name.
CtlParse ParseCtlArgs(const std::vector<std::string> &args);

// The table entry of step i of a sweep.
std::int32_t SweepValue(const CtlSweep &sweep, long i, bool rms);

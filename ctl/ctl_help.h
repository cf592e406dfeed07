// px418ctl's words and help: the quantities as the command line takes them
// (their names in output_words, an alias each) and the JSON keys the output
// prints, and the help of every command, from which both the overview and `px418ctl COMMAND --help` are
// made.
//
// A new command gets one entry in the command table of ctl_help.cpp: its
// name, the options it takes, its usage lines, its rows in the overview and
// its text. The parser knows it as a help topic from then on; the manual
// page's synopsis must list its usage lines (a test compares them).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "output_words.h"

// A quantity of an output as px418ctl names it; its name (QuantityName) and
// units (UnitOf) are those of output_words.
struct CtlQuantity {
    int quantity;         // PX418_OUT_...
    const char *alias;    // also taken on the command line; nullptr for none
    const char *jsonKey;  // in the table's JSON object; "" for the mode
    const char *rmsJsonKey;
};

// The quantity's entry; the mode's for a number that is no quantity.
const CtlQuantity &QuantityWords(int quantity);
// The quantity a command-line word names (its name or alias, in any case).
std::optional<int> QuantityOf(const std::string &word);

// A command's help.
struct CtlCommandHelp {
    const char *name;
    std::vector<std::string> options;  // the options it takes, without "--"
    // How it is called, each without the program's name ("get CH QTY
    // [--json] [--rms]"); `--help` prints them after "Usage: px418ctl".
    std::vector<std::string> usages;
    // Its rows in the overview's list of commands: what is typed, what it does.
    std::vector<std::pair<std::string, std::string>> overview;
    const char *text;  // the rest of its help, after the usage lines
};

// The command of that name, or nullptr.
const CtlCommandHelp *FindCommandHelp(const std::string &name);
// Every command, in the order of the overview.
const std::vector<CtlCommandHelp> &CommandHelps();

// The help of a command (help topic), or the overview for an empty topic;
// empty for a topic that is no command.
std::string CtlHelp(const std::string &topic);

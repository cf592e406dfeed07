// The server's command set: which headers it knows, in their long and short
// forms with their optional nodes and numeric suffixes, and whether each
// may be set, queried or both.
#pragma once

#include "scpi_parser.h"

namespace scpi {

enum class CommandId {
    Idn,
    Rst,
    Cls,
    Ese,
    Esr,
    Sre,
    Stb,
    Opc,
    Wai,
    Tst,
    Sav,
    Rcl,
    Frequency,
    Couple,
    Phase,
    Voltage,
    VoltageUnit,
    Klock,
    ErrorNext,
    ErrorCount,
    Version,
};

struct Resolved {
    CommandId id = CommandId::Idn;
    int channel = 0;  // SOURce1, 2, 3 (or no SOURce node): 0, 1, 2
    int error = 0;    // -113 or -114 when the header names no command
};

// The command a parsed header names. A header that matches a command's
// nodes but not its suffix range is -114; one that matches no command, or
// a command in a form it lacks (a query of a command that is only set, or
// the other way round), is -113.
Resolved Resolve(const Command &command);

}  // namespace scpi

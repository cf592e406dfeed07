// Runs px418ctl's commands against the generator through the device link
// library: each opens the device, does its work and closes it again.
#pragma once

#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "ctl_args.h"

// Exit statuses; 64 and above are those of sysexits.h.
enum CtlExit : int {
    kExitOk = 0,
    kExitDevice = 1,       // the generator refused a command or did not answer
    kExitNoGenerator = 2,  // no generator among the attached converters
    kExitUsage = 64,       // a malformed or out-of-range argument; nothing was sent
    kExitNoInput = 66,     // a file that cannot be read
    kExitCantCreate = 73,  // a file that cannot be written
    kExitIoError = 74,     // the output could not be written
    kExitSignal = 128,     // plus the signal that stopped a sweep or a run
};

// What a wait for a line on standard input ended with.
enum class LineWait {
    Line,     // a line came (and was taken)
    Timeout,  // the time ran out
    End,      // standard input ended
    Stopped,  // a stop was asked for
};

struct CtlIo {
    std::ostream &out;
    std::ostream &err;
    // The signal that asked the program to stop (SIGINT, SIGTERM); 0 while
    // none has.
    std::function<int()> stopSignal;
    // Waits this many milliseconds, or less when a stop is asked for
    // meanwhile.
    std::function<void(int ms)> wait;
    // Now, on a steady clock.
    std::function<std::chrono::microseconds()> clock;
    // Waits up to `ms` milliseconds (without end for a negative number) for
    // a line on standard input and takes it; ends early when a stop is asked
    // for.
    std::function<LineWait(int ms)> readLine;
};

// How often watch asks the generator for its selected parameter: as often as
// the window's Review Mode does.
constexpr int kWatchPollMs = 100;

// Reads the command line (without the program name), runs the command and
// returns the exit status. Usage errors go to io.err with a pointer to the
// command's help.
int RunCtlArgs(const std::vector<std::string> &args, CtlIo &io);

// Runs a command that ParseCtlArgs accepted.
int RunCtl(const CtlCommand &command, CtlIo &io);

// "px418ctl 1.0.0"
std::string CtlVersion();

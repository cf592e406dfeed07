// px418ctl: the generator from the command line. The commands live in the
// plain units beside this file; here are only the process's seams: the
// arguments, the standard streams, the stop signals and the clock.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <iostream>
#include <thread>

#include "ctl_run.h"

namespace {

volatile std::sig_atomic_t gStopSignal = 0;

extern "C" void OnStopSignal(int signal)
{
    gStopSignal = signal;
}

// Sleeps in short slices, so that a stop ends a long dwell at once.
void Wait(int ms)
{
    using Clock = std::chrono::steady_clock;
    constexpr auto kSlice = std::chrono::milliseconds(20);
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (gStopSignal == 0) {
        const auto now = Clock::now();
        if (now >= deadline) {
            break;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(kSlice, deadline - now));
    }
}

}  // namespace

int main(int argc, char **argv)
{
    // SIGINT and SIGTERM end a watch and stop a sweep after the write in
    // progress; they never cut a run of writes short.
    // A SIGINT ignored from the start (a background job of a script) stays
    // ignored, as the shell meant it.
    if (std::signal(SIGINT, OnStopSignal) == SIG_IGN) {
        std::signal(SIGINT, SIG_IGN);
    }
    std::signal(SIGTERM, OnStopSignal);

    const std::vector<std::string> args(argv + 1, argv + argc);
    CtlIo io{std::cout, std::cerr, [] { return static_cast<int>(gStopSignal); }, Wait};
    const int status = RunCtlArgs(args, io);
    // Output that never arrived (a full disk, a closed pipe) must not pass
    // for success. A command that stopped for it has said so already.
    std::cout.flush();
    if (!std::cout && status != kExitIoError) {
        std::cerr << "px418ctl: the output could not be written\n";
        return status == kExitOk ? kExitIoError : status;
    }
    return status;
}

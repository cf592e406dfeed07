// px418ctl: the generator from the command line. The commands live in the
// plain units beside this file; here are only the process's seams: the
// arguments, the standard streams, the stop signals and the clock.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <iostream>
#include <poll.h>
#include <thread>
#include <unistd.h>

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

std::chrono::microseconds Now()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

// Waits for a line on standard input, in short slices so that a stop ends
// the wait at once. Reads a byte at a time, so that nothing after the line
// is taken from the input before it is needed.
LineWait ReadLine(int ms)
{
    using Clock = std::chrono::steady_clock;
    constexpr int kSliceMs = 20;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(ms, 0));
    for (;;) {
        if (gStopSignal != 0) {
            return LineWait::Stopped;
        }
        int slice = kSliceMs;
        if (ms >= 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                return LineWait::Timeout;
            }
            slice = static_cast<int>(std::min<long long>(kSliceMs, left.count()));
        }
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const int ready = poll(&input, 1, slice);
        if (ready <= 0) {
            continue;  // the time ran out, or a signal came: looked at above
        }
        char c = 0;
        const ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
            return LineWait::End;
        }
        if (n == 1 && c == '\n') {
            return LineWait::Line;
        }
    }
}

}  // namespace

int main(int argc, char **argv)
{
    // SIGINT and SIGTERM end a watch, stop a sweep after the write in
    // progress and a sequence run with its end settings; they never cut a
    // run of writes short.
    // A SIGINT ignored from the start (a background job of a script) stays
    // ignored, as the shell meant it.
    if (std::signal(SIGINT, OnStopSignal) == SIG_IGN) {
        std::signal(SIGINT, SIG_IGN);
    }
    std::signal(SIGTERM, OnStopSignal);

    const std::vector<std::string> args(argv + 1, argv + argc);
    CtlIo io{std::cout, std::cerr, [] { return static_cast<int>(gStopSignal); },
             Wait,      Now,       ReadLine};
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

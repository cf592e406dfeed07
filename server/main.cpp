// px418d: the generator as a SCPI instrument on the network. The parser,
// the sessions, the device owner and the network loop live in the units
// beside this file; here are only the process's seams: the arguments, the
// log on standard error, the stop signals and the event loop.
#include <csignal>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QTimer>

#include "device_owner.h"
#include "mdns.h"
#include "scpi_server.h"
#include "server_options.h"

#ifndef PX418_VERSION
#define PX418_VERSION "unknown"
#endif

namespace {

volatile std::sig_atomic_t gStopSignal = 0;

extern "C" void OnStopSignal(int signal)
{
    gStopSignal = signal;
}

// One line at a time from any thread (the device thread and Avahi's log
// too).
void Log(const std::string &line)
{
    static std::mutex mutex;
    const std::lock_guard lock(mutex);
    std::cerr << "px418d: " << line << std::endl;
}

constexpr int kExitUsage = 64;
constexpr int kExitCannotListen = 69;  // EX_UNAVAILABLE
constexpr int kStopPollMs = 100;

}  // namespace

int main(int argc, char **argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    const ServerArgs parsed = ParseServerArgs(args);
    if (!parsed.ok) {
        std::cerr << "px418d: " << parsed.error << "\nTry 'px418d --help'.\n";
        return kExitUsage;
    }
    if (parsed.options.help) {
        std::cout << ServerHelp();
        return 0;
    }
    if (parsed.options.version) {
        std::cout << "px418d " << PX418_VERSION << "\n";
        return 0;
    }

    std::signal(SIGTERM, OnStopSignal);
    std::signal(SIGINT, OnStopSignal);
#ifdef SIGPIPE
    // A client gone while its answer is written is noticed by the socket,
    // not by a signal.
    std::signal(SIGPIPE, SIG_IGN);
#endif

    QCoreApplication app(argc, argv);
    DeviceOwner device(Log);
    ScpiServer server(parsed.options, device, Log);
    if (!server.Listen()) {
        return kExitCannotListen;
    }
    MdnsAdvert mdns(Log);
    if (parsed.options.mdns) {
        mdns.Start(server.Listening().front().port);
    }

    // The signal handler only sets a flag; the event loop looks at it.
    QTimer stopCheck;
    QObject::connect(&stopCheck, &QTimer::timeout, &app, [&app] {
        if (gStopSignal != 0) {
            app.quit();
        }
    });
    stopCheck.start(kStopPollMs);
    app.exec();

    Log(std::string("stopping on ") + (gStopSignal == SIGINT ? "SIGINT" : "SIGTERM"));
    device.Stop();
    server.Close();
    Log("stopped");
    return 0;
}

// What px418d costs: queries per second, and the latency it adds to the
// library call behind a query, for one client and for eight at once.
//
// The server runs in this process (the network loop on the main thread's
// event loop, the device owner on its thread), with clients on plain TCP
// sockets over the loopback, one per benchmark thread, each sending
// "SOUR1:FREQ?" and reading its answer line, one query after the other.
// Two devices:
//
//   virtual:  the built-in virtual generator, where the device costs almost
//             nothing and the figures are the server's own;
//   emulated: the default driver (libftdi1) on an emulated FT232R converter
//             with the virtual generator behind it, its serial lines paced
//             at 38400 baud, where the wire sets the limit.
//
// BM_LibraryCall is the same read as a direct PX418_GetPar; the latency the
// server adds is BM_ServerQuery's client_latency_us with one client minus
// that. items_per_second is the server's queries per second, all clients
// together; with eight clients, Time is its inverse, not one client's wait.
#include <arpa/inet.h>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <benchmark/benchmark.h>

#include "d2xx.h"
#include "device_owner.h"
#include "emulated_bus.h"
#include "fake_system_tree.h"
#include "px418usb.h"
#include "scpi_server.h"
#include "virtual/virtual_generator.h"

namespace {

enum Device : int { kVirtual = 0, kEmulated = 1 };

QCoreApplication *app = nullptr;
std::unique_ptr<DeviceOwner> owner;
std::unique_ptr<ScpiServer> server;
std::uint16_t port = 0;
px418virtual::VirtualGenerator emulatedGenerator;

FakeSystemTree &System()
{
    static FakeSystemTree tree;
    return tree;
}

void OnMainThread(const std::function<void()> &f)
{
    QMetaObject::invokeMethod(app, f, Qt::BlockingQueuedConnection);
}

void UseDevice(Device device)
{
    PX418_CloseDevice();
    if (device == kVirtual) {
        px418virtual::ResetVirtualConverter();
        px418virtual::TheVirtualGenerator().Reset();
        D2xxInstall(D2xxVirtualProvider());
        return;
    }
    // The converter stays plugged in for the whole run: the driver learns
    // of it once.
    static const bool plugged = [] {
        usbemu::Reset();
        D2xxLibftdiSetSystemRoots(System().Sys().c_str(), System().Proc().c_str());
        emulated::AddGenerator(emulatedGenerator, emulated::At(1));
        return true;
    }();
    (void)plugged;
    emulatedGenerator.Reset();
    const char *why = nullptr;
    D2xxInstall(D2xxLibftdiProvider(&why));
}

bool Online()
{
    std::promise<bool> online;
    owner->Post([&online](bool on) {
        online.set_value(on);
        return false;
    });
    return online.get_future().get();
}

void StartServer(const benchmark::State &state)
{
    UseDevice(static_cast<Device>(state.range(0)));
    OnMainThread([] {
        owner = std::make_unique<DeviceOwner>([](const std::string &) {});
        ServerOptions options;
        options.listen = {{QHostAddress(QHostAddress::LocalHost), 0}};
        server = std::make_unique<ScpiServer>(options, *owner, [](const std::string &) {});
        server->Listen();
        port = server->Listening().front().port;
    });
    while (!Online()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void StopServer(const benchmark::State &)
{
    OnMainThread([] {
        server.reset();
        owner.reset();
    });
    PX418_CloseDevice();
}

class Client {
public:
    Client()
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<sockaddr *>(&to), sizeof to) == 0;
    }
    ~Client() { close(fd_); }
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    bool Connected() const { return connected_; }

    // Sends a message and reads its answer line.
    bool Ask(const std::string &message, std::string &answer)
    {
        if (send(fd_, message.data(), message.size(), MSG_NOSIGNAL)
            != static_cast<ssize_t>(message.size())) {
            return false;
        }
        answer.clear();
        char buffer[256];
        while (answer.empty() || answer.back() != '\n') {
            const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) {
                return false;
            }
            answer.append(buffer, static_cast<std::size_t>(n));
        }
        return true;
    }

private:
    int fd_ = -1;
    bool connected_ = false;
};

void BM_LibraryCall(benchmark::State &state)
{
    std::int32_t value = 0;
    for (auto _ : state) {
        if (!PX418_GetPar(PX418_GROUP_OUT_A, PX418_OUT_FREQUENCY, &value)) {
            state.SkipWithError("the read failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_ServerQuery(benchmark::State &state)
{
    Client client;
    if (!client.Connected()) {
        state.SkipWithError("no connection");
        for (auto _ : state) {
        }
        return;
    }
    std::string answer;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (!client.Ask("SOUR1:FREQ?\n", answer) || answer != "50.000\n") {
            state.SkipWithError("no answer, or a wrong one");
            break;
        }
    }
    const double us =
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    state.SetItemsProcessed(state.iterations());
    // What one client waits for an answer, whatever the others do.
    state.counters["client_latency_us"] = benchmark::Counter(
        state.iterations() > 0 ? us / static_cast<double>(state.iterations()) : 0,
        benchmark::Counter::kAvgThreads);
}

void Devices(benchmark::internal::Benchmark *b)
{
    b->ArgNames({"device"})->Arg(kVirtual)->Arg(kEmulated);
}

BENCHMARK(BM_LibraryCall)
    ->Apply(Devices)
    ->Setup(StartServer)
    ->Teardown(StopServer)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ServerQuery)
    ->Apply(Devices)
    ->Setup(StartServer)
    ->Teardown(StopServer)
    ->Threads(1)
    ->Threads(8)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    app = &application;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    // The benchmarks run beside the event loop, which serves the clients.
    std::thread runner([] {
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        QMetaObject::invokeMethod(app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    application.exec();
    runner.join();
    return 0;
}

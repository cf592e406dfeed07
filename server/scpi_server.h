// The network side of px418d: the listening sockets, the clients, and their
// messages handed to the device owner. It never calls the device itself and
// never waits for it: a client's complete message becomes a job on the
// device thread, its answer comes back through the event loop.
//
// Bounds: a client has at most one message at the device at a time and a
// few more read ahead; beyond them its socket is not read, so TCP holds the
// client back. A message longer than 64 KiB is discarded up to its newline
// and reported to the client (-363). A client whose unsent answers pass
// 1 MiB is dropped. A client that goes away still has its complete
// messages run; the rest of a message it did not finish never reaches the
// device.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QByteArray>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>

#include "device_owner.h"
#include "line_framer.h"
#include "scpi_session.h"
#include "server_options.h"

class ScpiServer : public QObject {
public:
    static constexpr std::size_t kMaxUnsentAnswers = 1024 * 1024;

    ScpiServer(const ServerOptions &options, DeviceOwner &device, LogFn log);
    ~ScpiServer() override;

    // Opens every listening address; false (with a log line) when one
    // cannot be opened.
    bool Listen();
    // The addresses listened on, ports as taken.
    std::vector<ListenAddress> Listening() const;
    // Closes the listening sockets and every client.
    void Close();

    int ClientCount() const;

private:
    struct Client {
        std::uint64_t id = 0;
        QTcpSocket *socket = nullptr;
        std::string peer;
        std::shared_ptr<scpi::Session> session;
        LineFramer framer;
        std::deque<LineFramer::Item> backlog;
        std::size_t backlogBytes = 0;
        bool busy = false;  // a message of it is with the device
        bool gone = false;  // disconnected: its complete messages still run
    };

    void Accept(QTcpServer *server);
    void Pump(std::uint64_t id);
    void Feed(Client &client, const QByteArray &bytes);
    void TakeRest(std::uint64_t id);
    void Dispatch(Client &client);
    void Done(std::uint64_t id, const std::string &answer);
    void Disconnected(std::uint64_t id);
    void Drop(std::uint64_t id, const std::string &why);
    void ForgetIfIdle(std::uint64_t id);

    ServerOptions options_;
    DeviceOwner &device_;
    LogFn log_;
    std::string serial_;
    std::vector<QTcpServer *> servers_;
    std::map<std::uint64_t, std::unique_ptr<Client>> clients_;
    std::uint64_t nextId_ = 1;
};

#include "scpi_server.h"

#include <chrono>
#include <thread>

#include <QByteArray>
#include <QMetaObject>

namespace {

// How much of a client's input is read ahead of the device: Qt's buffer of
// the socket, and the messages waiting behind the one at the device.
constexpr qint64 kReadAhead = 64 * 1024;

void Sleep(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

ScpiServer::ScpiServer(const ServerOptions &options, DeviceOwner &device, LogFn log)
    : options_(options), device_(device), log_(std::move(log))
{
    // The library has no call that names the converter; the one chosen with
    // PX418USB_SERIAL is the only one known.
    const QByteArray serial = qgetenv("PX418USB_SERIAL");
    serial_ = serial.isEmpty() ? "0" : serial.toStdString();
}

ScpiServer::~ScpiServer()
{
    // Answers come back from the device thread to this object, so that
    // thread ends first.
    device_.Stop();
    Close();
}

bool ScpiServer::Listen()
{
    for (const ListenAddress &l : options_.listen) {
        auto *server = new QTcpServer(this);
        if (!server->listen(l.address, l.port)) {
            log_("cannot listen on " + EndpointText(l.address, l.port) + ": "
                 + server->errorString().toStdString());
            delete server;
            return false;
        }
        servers_.push_back(server);
        connect(server, &QTcpServer::newConnection, this, [this, server] { Accept(server); });
        log_("listening on " + EndpointText(server->serverAddress(), server->serverPort()));
    }
    return true;
}

std::vector<ListenAddress> ScpiServer::Listening() const
{
    std::vector<ListenAddress> out;
    for (const QTcpServer *s : servers_) {
        out.push_back({s->serverAddress(), s->serverPort()});
    }
    return out;
}

void ScpiServer::Close()
{
    for (QTcpServer *s : servers_) {
        s->close();
        delete s;
    }
    servers_.clear();
    for (auto &[id, client] : clients_) {
        if (client->socket) {
            client->socket->disconnect(this);
            client->socket->flush();
            client->socket->abort();
            delete client->socket;
        }
    }
    clients_.clear();
}

int ScpiServer::ClientCount() const
{
    int count = 0;
    for (const auto &[id, client] : clients_) {
        count += client->gone ? 0 : 1;
    }
    return count;
}

void ScpiServer::Accept(QTcpServer *server)
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        const std::string peer = EndpointText(socket->peerAddress(), socket->peerPort());
        std::string refusal;
        if (!Allowed(options_, socket->peerAddress())) {
            refusal = "not in an allowed subnet";
        } else if (ClientCount() >= options_.maxClients) {
            refusal = std::to_string(options_.maxClients) + " clients already";
        }
        if (!refusal.empty()) {
            log_("refused " + peer + ": " + refusal);
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto client = std::make_unique<Client>();
        const std::uint64_t id = nextId_++;
        client->id = id;
        client->socket = socket;
        client->peer = peer;
        client->session = std::make_shared<scpi::Session>();
        socket->setReadBufferSize(kReadAhead);
        // Answers are small and awaited: none waits for an earlier one's
        // acknowledgement.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(socket, &QTcpSocket::readyRead, this, [this, id] { Pump(id); });
        // At the peer's close the socket is still open: what it holds
        // unread is taken then, since it is gone once disconnected() comes.
        connect(socket, &QAbstractSocket::errorOccurred, this,
                [this, id](QAbstractSocket::SocketError error) {
                    if (error == QAbstractSocket::RemoteHostClosedError) {
                        TakeRest(id);
                    }
                });
        connect(socket, &QTcpSocket::disconnected, this, [this, id] { Disconnected(id); });
        clients_.emplace(id, std::move(client));
        log_("client " + peer + " connected (" + std::to_string(ClientCount()) + " of "
             + std::to_string(options_.maxClients) + ")");
        // Bytes that came with the connection raised no signal of ours.
        Pump(id);
    }
}

void ScpiServer::Pump(std::uint64_t id)
{
    const auto it = clients_.find(id);
    if (it == clients_.end()) {
        return;
    }
    Client &c = *it->second;
    while (!c.gone && c.backlogBytes < static_cast<std::size_t>(kReadAhead)
           && c.socket->bytesAvailable() > 0) {
        const QByteArray chunk = c.socket->read(kReadAhead);
        if (chunk.isEmpty()) {
            break;
        }
        Feed(c, chunk);
    }
    Dispatch(c);
}

void ScpiServer::Dispatch(Client &c)
{
    if (c.busy || c.backlog.empty()) {
        return;
    }
    LineFramer::Item item = std::move(c.backlog.front());
    c.backlog.pop_front();
    c.backlogBytes -= item.message.size() + 1;
    c.busy = true;
    const bool unread = !c.gone && c.socket->bytesToWrite() > 0;
    device_.Post([this, id = c.id, session = c.session, item = std::move(item), unread,
                  serial = serial_](bool online) {
        scpi::MessageResult result;
        if (item.overrun) {
            session->InputOverrun();
        } else {
            const scpi::DeviceContext device{online, serial, Sleep};
            result = session->Execute(item.message, device, unread);
        }
        QMetaObject::invokeMethod(
            this, [this, id, answer = std::move(result.answer)] { Done(id, answer); },
            Qt::QueuedConnection);
        return result.deviceFailed;
    });
}

void ScpiServer::Done(std::uint64_t id, const std::string &answer)
{
    const auto it = clients_.find(id);
    if (it == clients_.end()) {
        return;
    }
    Client &c = *it->second;
    c.busy = false;
    if (c.gone) {
        Dispatch(c);
        if (!c.busy) {
            clients_.erase(it);
        }
        return;
    }
    if (!answer.empty()) {
        c.socket->write(answer.data(), static_cast<qint64>(answer.size()));
        if (static_cast<std::size_t>(c.socket->bytesToWrite()) > kMaxUnsentAnswers) {
            Drop(id, "it left more than 1 MiB of answers unread");
            return;
        }
    }
    Pump(id);
}

void ScpiServer::Disconnected(std::uint64_t id)
{
    const auto it = clients_.find(id);
    if (it == clients_.end() || it->second->gone) {
        return;
    }
    TakeRest(id);
    Client &c = *it->second;
    const std::string &partial = c.framer.Partial();
    if (!partial.empty()) {
        log_("client " + c.peer + " left " + std::to_string(partial.size())
             + " bytes without a newline, discarded"
             + (partial.find('?') != std::string::npos ? " (-420, Query UNTERMINATED)" : ""));
    }
    log_("client " + c.peer + " disconnected");
    c.gone = true;
    c.socket->disconnect(this);
    c.socket->deleteLater();
    c.socket = nullptr;
    Dispatch(c);
    // Forgotten from the event loop: this may run inside a call that still
    // holds the client.
    QMetaObject::invokeMethod(
        this, [this, id] { ForgetIfIdle(id); }, Qt::QueuedConnection);
}

void ScpiServer::TakeRest(std::uint64_t id)
{
    const auto it = clients_.find(id);
    if (it == clients_.end() || it->second->gone || !it->second->socket->isOpen()) {
        return;
    }
    // What arrived before the end still counts: its complete messages run.
    // The socket's buffer is bounded, so the backlog stays so too.
    Client &c = *it->second;
    Feed(c, c.socket->readAll());
}

void ScpiServer::Feed(Client &c, const QByteArray &bytes)
{
    const std::size_t before = c.backlog.size();
    c.framer.Feed(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                  c.backlog);
    for (std::size_t i = before; i < c.backlog.size(); ++i) {
        c.backlogBytes += c.backlog[i].message.size() + 1;
    }
}

void ScpiServer::Drop(std::uint64_t id, const std::string &why)
{
    const auto it = clients_.find(id);
    if (it == clients_.end() || it->second->gone) {
        return;
    }
    Client &c = *it->second;
    log_("dropped client " + c.peer + ": " + why);
    c.gone = true;
    c.backlog.clear();
    c.backlogBytes = 0;
    c.socket->disconnect(this);
    c.socket->abort();
    c.socket->deleteLater();
    c.socket = nullptr;
    QMetaObject::invokeMethod(
        this, [this, id] { ForgetIfIdle(id); }, Qt::QueuedConnection);
}

void ScpiServer::ForgetIfIdle(std::uint64_t id)
{
    const auto it = clients_.find(id);
    if (it != clients_.end() && it->second->gone && !it->second->busy
        && it->second->backlog.empty()) {
        clients_.erase(it);
    }
}

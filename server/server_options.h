// px418d's command line and the client addresses it lets in.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <QHostAddress>

struct ListenAddress {
    QHostAddress address;
    std::uint16_t port = 0;  // 0: any free port (the log names the one taken)
};

struct ServerOptions {
    std::vector<ListenAddress> listen;                // default 127.0.0.1:5025
    std::vector<std::pair<QHostAddress, int>> allow;  // subnets; empty: every client
    int maxClients = 8;
    bool mdns = false;
    bool help = false;
    bool version = false;
};

struct ServerArgs {
    bool ok = false;
    ServerOptions options;
    std::string error;  // why the command line was refused
};

constexpr int kDefaultPort = 5025;
constexpr int kMaxClientsLimit = 1024;

// Reads the arguments after the program name: --listen ADDR:PORT
// (repeatable; "[::1]:5025" for IPv6), --allow CIDR (repeatable; a bare
// address is a subnet of one), --max-clients N, --mdns, --help, --version.
ServerArgs ParseServerArgs(const std::vector<std::string> &args);

// Whether a client at `peer` may connect. An IPv4 client that reaches an
// IPv6 socket (::ffff:a.b.c.d) is judged by its IPv4 address.
bool Allowed(const ServerOptions &options, const QHostAddress &peer);

// "127.0.0.1:5025", "[::1]:5025".
std::string EndpointText(const QHostAddress &address, std::uint16_t port);

std::string ServerHelp();

#include "server_options.h"

#include <charconv>

namespace {

bool ReadNumber(const std::string &text, int min, int max, int &value)
{
    const char *end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return !text.empty() && result.ec == std::errc() && result.ptr == end && value >= min
           && value <= max;
}

// "ADDR:PORT", "[V6]:PORT"; "*" is every IPv4 and IPv6 address.
bool ReadListen(const std::string &text, ListenAddress &out)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) {
        return false;
    }
    std::string host = text.substr(0, colon);
    int port = 0;
    if (!ReadNumber(text.substr(colon + 1), 0, 65535, port)) {
        return false;
    }
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
        out.address = QHostAddress(QString::fromStdString(host));
        if (out.address.protocol() != QAbstractSocket::IPv6Protocol) {
            return false;
        }
    } else if (host == "*") {
        out.address = QHostAddress(QHostAddress::Any);
    } else if (host == "localhost") {
        out.address = QHostAddress(QHostAddress::LocalHost);
    } else {
        out.address = QHostAddress(QString::fromStdString(host));
        if (out.address.protocol() != QAbstractSocket::IPv4Protocol) {
            return false;
        }
    }
    out.port = static_cast<std::uint16_t>(port);
    return true;
}

bool ReadSubnet(const std::string &text, std::pair<QHostAddress, int> &out)
{
    const QString q = QString::fromStdString(text);
    if (!q.contains(QLatin1Char('/'))) {
        const QHostAddress address(q);
        if (address.isNull()) {
            return false;
        }
        out = {address, address.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128};
        return true;
    }
    out = QHostAddress::parseSubnet(q);
    return !out.first.isNull() && out.second >= 0;
}

}  // namespace

ServerArgs ParseServerArgs(const std::vector<std::string> &args)
{
    ServerArgs r;
    ServerOptions &o = r.options;
    const auto refuse = [&r](std::string why) {
        r.error = std::move(why);
        return r;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        const bool takesValue = a == "--listen" || a == "--allow" || a == "--max-clients";
        std::string value;
        if (takesValue) {
            if (i + 1 >= args.size()) {
                return refuse("missing value after " + a);
            }
            value = args[++i];
        }
        if (a == "--listen") {
            ListenAddress l;
            if (!ReadListen(value, l)) {
                return refuse("malformed listen address '" + value
                              + "': expected ADDR:PORT such as 127.0.0.1:5025 or [::1]:5025");
            }
            o.listen.push_back(l);
        } else if (a == "--allow") {
            std::pair<QHostAddress, int> subnet;
            if (!ReadSubnet(value, subnet)) {
                return refuse("malformed subnet '" + value
                              + "': expected an address with an optional prefix length, such "
                                "as 192.168.1.0/24 or fd00::/8");
            }
            o.allow.push_back(subnet);
        } else if (a == "--max-clients") {
            if (!ReadNumber(value, 1, kMaxClientsLimit, o.maxClients)) {
                return refuse("--max-clients takes a number from 1 to "
                              + std::to_string(kMaxClientsLimit) + ", not '" + value + "'");
            }
        } else if (a == "--mdns") {
            o.mdns = true;
        } else if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else {
            return refuse("unknown argument '" + a + "'");
        }
    }
    if (o.listen.empty()) {
        o.listen.push_back({QHostAddress(QHostAddress::LocalHost), kDefaultPort});
    }
    r.ok = true;
    return r;
}

bool Allowed(const ServerOptions &options, const QHostAddress &peer)
{
    if (options.allow.empty()) {
        return true;
    }
    QHostAddress address = peer;
    bool mapped = false;
    const quint32 v4 = peer.toIPv4Address(&mapped);
    if (mapped) {
        address = QHostAddress(v4);
    }
    for (const auto &subnet : options.allow) {
        if (address.isInSubnet(subnet)) {
            return true;
        }
    }
    return false;
}

std::string EndpointText(const QHostAddress &address, std::uint16_t port)
{
    QHostAddress shown = address;
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (mapped) {
        shown = QHostAddress(v4);
    }
    const std::string host = shown.toString().toStdString();
    const bool v6 = shown.protocol() == QAbstractSocket::IPv6Protocol;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string ServerHelp()
{
    return R"(Usage: px418d [OPTION]...
Serves the PX-418 generator as a SCPI instrument over TCP (raw socket:
messages and answers end with a newline), for pyvisa, LabVIEW and other
VISA clients: TCPIP::HOST::5025::SOCKET.

  --listen ADDR:PORT   listen there (repeatable); default 127.0.0.1:5025;
                       [::1]:5025 for IPv6, *:5025 for every address,
                       port 0 for any free port
  --allow CIDR         let in only clients from these subnets (repeatable),
                       such as 192.168.1.0/24 or fd00::/8; others are closed
                       at once and logged
  --max-clients N      clients at once, 1 to 1024 (default 8)
  --mdns               advertise the server as _scpi-raw._tcp through
                       avahi-daemon
  --help, --version

The generator is found as the window finds it (PX418USB_DRIVER chooses the
converter driver, PX418USB_SERIAL one converter); log lines go to standard
error. SIGTERM or SIGINT stops the server. See px418d(1).
)";
}

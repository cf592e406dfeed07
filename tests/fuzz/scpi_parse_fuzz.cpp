// Fuzz target: a client's bytes through the line framing and the SCPI
// parser, against readings written here.
//
// Input: byte 0 chooses the size of the chunks in which the rest arrives
// (1 to 64); the rest is the stream. The framer, with a limit of 32 bytes,
// must give what a plain split of the whole stream at its newlines gives:
// each line as a message (without one '\r' before the newline), or one
// overrun for a line longer than the limit, at its place in the order.
// Each line of the stream, of whatever length, is then parsed as a message;
// a message that parses must keep the parser's
// bounds, and written out again from its commands (absolute headers,
// numbers in full precision, strings quoted) it must parse to the same
// commands. The command set is asked about each command, which must name a
// command or one of its two errors.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <string_view>

#include "line_framer.h"
#include "scpi_commands.h"
#include "scpi_errors.h"
#include "scpi_parser.h"

namespace {

constexpr std::size_t kLimit = 32;

[[noreturn]] void Differ(const char *what, const std::string &message)
{
    std::fprintf(stderr, "difference: %s in \"%s\"\n", what, message.c_str());
    std::abort();
}

std::deque<LineFramer::Item> Split(std::string_view stream)
{
    std::deque<LineFramer::Item> out;
    std::size_t from = 0;
    for (;;) {
        const std::size_t newline = stream.find('\n', from);
        const std::string_view line = stream.substr(
            from, newline == std::string_view::npos ? std::string_view::npos : newline - from);
        if (line.size() > kLimit) {
            out.push_back({true, {}});
        } else if (newline != std::string_view::npos) {
            std::string message(line);
            if (!message.empty() && message.back() == '\r') {
                message.pop_back();
            }
            out.push_back({false, message});
        }
        if (newline == std::string_view::npos) {
            return out;
        }
        from = newline + 1;
    }
}

bool Letter(char c)
{
    return c >= 'A' && c <= 'Z';
}

void CheckBounds(const scpi::ParsedMessage &m, const std::string &message)
{
    if (m.commands.size() > scpi::kMaxCommands) {
        Differ("too many commands", message);
    }
    for (const scpi::Command &c : m.commands) {
        if (c.path.empty() || c.path.size() > scpi::kMaxHeaderDepth
            || (c.common && c.path.size() != 1)) {
            Differ("header depth", message);
        }
        if (c.params.size() > scpi::kMaxParams) {
            Differ("too many parameters", message);
        }
        for (const scpi::HeaderNode &n : c.path) {
            if (n.mnemonic.empty() || n.mnemonic.size() > 12 || !Letter(n.mnemonic.front())) {
                Differ("mnemonic", message);
            }
            for (const char ch : n.mnemonic) {
                if (!Letter(ch) && !(ch >= '0' && ch <= '9') && ch != '_') {
                    Differ("mnemonic character", message);
                }
            }
            if (n.suffix < scpi::HeaderNode::kNoSuffix) {
                Differ("suffix", message);
            }
        }
    }
}

std::string Number(double v)
{
    if (std::isinf(v)) {
        return v > 0 ? "1E999" : "-1E999";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

// The commands written out again as one message.
std::string Write(const std::vector<scpi::Command> &commands)
{
    std::string out;
    for (const scpi::Command &c : commands) {
        if (!out.empty()) {
            out += ';';
        }
        for (const scpi::HeaderNode &n : c.path) {
            out += c.common ? "*" : ":";
            out += n.mnemonic;
            if (n.suffix != scpi::HeaderNode::kNoSuffix) {
                out += std::to_string(n.suffix);
            }
        }
        if (c.query) {
            out += '?';
        }
        for (std::size_t i = 0; i < c.params.size(); ++i) {
            const scpi::Param &p = c.params[i];
            out += i == 0 ? " " : ",";
            switch (p.kind) {
            case scpi::ParamKind::Number:
                out += Number(p.number);
                if (!p.unit.empty()) {
                    out += " " + p.unit;
                }
                break;
            case scpi::ParamKind::Word:
                out += p.text;
                break;
            case scpi::ParamKind::String:
                out += '"';
                for (const char ch : p.text) {
                    out += ch;
                    if (ch == '"') {
                        out += '"';
                    }
                }
                out += '"';
                break;
            }
        }
    }
    return out;
}

void CheckMessage(const std::string &message)
{
    const scpi::ParsedMessage m = scpi::ParseMessage(message);
    if (m.error != 0) {
        if (m.error > -100 || std::string(scpi::ErrorText(m.error)) == "Error") {
            Differ("unlisted error", message);
        }
        return;
    }
    CheckBounds(m, message);
    const std::string again = Write(m.commands);
    const scpi::ParsedMessage n = scpi::ParseMessage(again);
    if (n.error != 0 || n.commands != m.commands) {
        Differ("written out, parsed differently", message + "\" / \"" + again);
    }
    for (const scpi::Command &c : m.commands) {
        const scpi::Resolved r = scpi::Resolve(c);
        if (r.error != 0 && r.error != scpi::kUndefinedHeader
            && r.error != scpi::kHeaderSuffixOutOfRange) {
            Differ("resolution error", message);
        }
        if (r.error == 0 && (r.channel < 0 || r.channel > 2)) {
            Differ("channel", message);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const std::size_t chunk = 1 + data[0] % 64;
    const std::string_view stream(reinterpret_cast<const char *>(data + 1), size - 1);

    LineFramer framer(kLimit);
    std::deque<LineFramer::Item> items;
    for (std::size_t at = 0; at < stream.size(); at += chunk) {
        framer.Feed(stream.substr(at, chunk), items);
    }
    if (items != Split(stream)) {
        Differ("framing", std::string(stream));
    }
    for (std::size_t from = 0; from < stream.size();) {
        std::size_t newline = stream.find('\n', from);
        if (newline == std::string_view::npos) {
            newline = stream.size();
        }
        CheckMessage(std::string(stream.substr(from, newline - from)));
        from = newline + 1;
    }
    return 0;
}

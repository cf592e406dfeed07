// The syntax of a SCPI program message (IEEE 488.2 and SCPI 1999): commands
// separated by ';', each a header with its parameters. The parser knows no
// command set and no sockets: it turns one message, without its newline,
// into headers with absolute paths and typed parameters, or names the first
// syntax error.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace scpi {

// One node of a header: its mnemonic in upper case without the numeric
// suffix, and the suffix (kNoSuffix when none was written).
struct HeaderNode {
    static constexpr int kNoSuffix = -1;
    std::string mnemonic;
    int suffix = kNoSuffix;
    bool operator==(const HeaderNode &) const = default;
};

enum class ParamKind {
    Number,  // decimal or #H/#Q/#B, with an optional unit suffix
    Word,    // character data: ON, MAX, VRMS ...
    String,  // quoted, with doubled quotes undone
};

struct Param {
    ParamKind kind = ParamKind::Number;
    double number = 0;
    std::string text;  // a Word in upper case; a String's contents
    std::string unit;  // a Number's suffix in upper case, "" when none
    bool operator==(const Param &) const = default;
};

struct Command {
    bool common = false;           // "*IDN?": path holds one node, "IDN"
    std::vector<HeaderNode> path;  // from the root, after the rules of compound headers
    bool query = false;
    std::vector<Param> params;
    bool operator==(const Command &) const = default;
};

struct ParsedMessage {
    std::vector<Command> commands;
    int error = 0;  // the first syntax error (scpi::ErrorCode); commands then is incomplete
};

// Bounds that no command of the set comes near; beyond them a message is
// refused before anything in it runs.
constexpr std::size_t kMaxHeaderDepth = 8;
constexpr std::size_t kMaxParams = 8;
constexpr std::size_t kMaxCommands = 64;

// Reads one program message. A header without a leading ':' continues the
// path of the command before it in the message, less that command's last
// node; common commands ("*CLS") leave that path alone. A ';' at the end is
// allowed; an empty message gives no commands.
ParsedMessage ParseMessage(std::string_view text);

}  // namespace scpi

#include "scpi_commands.h"

#include <string>
#include <vector>

#include "px418_protocol.h"
#include "scpi_errors.h"

namespace scpi {

namespace {

struct CommandEntry {
    CommandId id;
    // In the notation of the SCPI standard: the short form in upper case,
    // optional nodes in brackets, '#' where a numeric suffix selects the
    // output.
    const char *pattern;
    bool settable;
    bool queryable;
};

constexpr CommandEntry kCommandEntries[] = {
    {CommandId::Idn, "*IDN", false, true},
    {CommandId::Rst, "*RST", true, false},
    {CommandId::Cls, "*CLS", true, false},
    {CommandId::Ese, "*ESE", true, true},
    {CommandId::Esr, "*ESR", false, true},
    {CommandId::Sre, "*SRE", true, true},
    {CommandId::Stb, "*STB", false, true},
    {CommandId::Opc, "*OPC", true, true},
    {CommandId::Wai, "*WAI", true, false},
    {CommandId::Tst, "*TST", false, true},
    {CommandId::Sav, "*SAV", true, false},
    {CommandId::Rcl, "*RCL", true, false},
    {CommandId::Frequency, "[SOURce#]:FREQuency[:CW]", true, true},
    {CommandId::Couple, "[SOURce#]:FREQuency:COUPle[:STATe]", true, true},
    {CommandId::Phase, "[SOURce#]:PHASe[:ADJust]", true, true},
    {CommandId::Voltage, "[SOURce#]:VOLTage[:LEVel][:IMMediate][:AMPLitude]", true, true},
    {CommandId::VoltageUnit, "[SOURce#]:VOLTage:UNIT", true, true},
    {CommandId::Klock, "SYSTem:KLOCk", true, true},
    {CommandId::ErrorNext, "SYSTem:ERRor[:NEXT]", false, true},
    {CommandId::ErrorCount, "SYSTem:ERRor:COUNt", false, true},
    {CommandId::Version, "SYSTem:VERSion", false, true},
};

struct PatternNode {
    std::string shortForm;
    std::string longForm;  // upper case
    bool optional = false;
    bool output = false;  // takes suffix 1 to PX418_OUTPUTS
};

struct Pattern {
    const CommandEntry *entry = nullptr;
    bool common = false;
    std::vector<PatternNode> nodes;
};

Pattern Compile(const CommandEntry &entry)
{
    Pattern p;
    p.entry = &entry;
    std::string text = entry.pattern;
    if (text.front() == '*') {
        p.common = true;
        p.nodes.push_back({text.substr(1), text.substr(1), false, false});
        return p;
    }
    PatternNode node;
    bool inBrackets = false;
    const auto finish = [&] {
        if (!node.longForm.empty()) {
            node.optional = inBrackets;
            p.nodes.push_back(node);
        }
        node = PatternNode{};
    };
    for (const char c : text) {
        if (c == '[') {
            finish();
            inBrackets = true;
        } else if (c == ']') {
            finish();
            inBrackets = false;
        } else if (c == ':') {
            finish();
        } else if (c == '#') {
            node.output = true;
        } else {
            if (c >= 'A' && c <= 'Z') {
                node.shortForm += c;
                node.longForm += c;
            } else {
                node.longForm += static_cast<char>(c - 'a' + 'A');
            }
        }
    }
    finish();
    return p;
}

const std::vector<Pattern> &Patterns()
{
    static const std::vector<Pattern> patterns = [] {
        std::vector<Pattern> out;
        for (const CommandEntry &s : kCommandEntries) {
            out.push_back(Compile(s));
        }
        return out;
    }();
    return patterns;
}

enum class Match { None, BadSuffix, Full };

// Matches the header's nodes from `in` against the pattern's from `at`,
// skipping optional pattern nodes. Only the short and the long form match.
Match MatchFrom(const std::vector<PatternNode> &pattern, std::size_t at,
                const std::vector<HeaderNode> &header, std::size_t in, int &channel)
{
    if (in == header.size()) {
        for (std::size_t i = at; i < pattern.size(); ++i) {
            if (!pattern[i].optional) {
                return Match::None;
            }
        }
        return Match::Full;
    }
    if (at == pattern.size()) {
        return Match::None;
    }
    const PatternNode &p = pattern[at];
    const HeaderNode &h = header[in];
    Match taken = Match::None;
    if (h.mnemonic == p.shortForm || h.mnemonic == p.longForm) {
        int nodeChannel = channel;
        bool suffixOk = true;
        if (p.output) {
            const int suffix = h.suffix == HeaderNode::kNoSuffix ? 1 : h.suffix;
            suffixOk = suffix >= 1 && suffix <= PX418_OUTPUTS;
            nodeChannel = suffix - 1;
        } else {
            suffixOk = h.suffix == HeaderNode::kNoSuffix;
        }
        int rest = nodeChannel;
        taken = MatchFrom(pattern, at + 1, header, in + 1, rest);
        if (taken == Match::Full && !suffixOk) {
            taken = Match::BadSuffix;
        }
        if (taken == Match::Full) {
            channel = rest;
            return taken;
        }
    }
    if (p.optional) {
        const Match skipped = MatchFrom(pattern, at + 1, header, in, channel);
        if (skipped == Match::Full) {
            return skipped;
        }
        if (skipped == Match::BadSuffix) {
            taken = skipped;
        }
    }
    return taken;
}

}  // namespace

Resolved Resolve(const Command &command)
{
    Resolved r;
    bool badSuffix = false;
    for (const Pattern &p : Patterns()) {
        if (p.common != command.common) {
            continue;
        }
        int channel = 0;
        const Match m = MatchFrom(p.nodes, 0, command.path, 0, channel);
        if (m == Match::BadSuffix) {
            badSuffix = true;
            continue;
        }
        if (m != Match::Full) {
            continue;
        }
        if (command.query ? !p.entry->queryable : !p.entry->settable) {
            r.error = kUndefinedHeader;
            return r;
        }
        r.id = p.entry->id;
        r.channel = channel;
        return r;
    }
    r.error = badSuffix ? kHeaderSuffixOutOfRange : kUndefinedHeader;
    return r;
}

}  // namespace scpi

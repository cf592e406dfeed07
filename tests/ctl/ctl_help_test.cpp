// px418ctl's help against the manual page and the parser: every usage line
// that --help prints stands in the page's synopsis, and every option a usage
// line shows is one its command takes.
#include "ctl_help.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ctl_args.h"

namespace {

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The usages a help text prints: its "Usage:" block up to the first empty
// line, one usage per "px418ctl", continuation lines joined on.
std::vector<std::string> UsagesShown(const std::string &help)
{
    std::vector<std::string> usages;
    for (const std::string &line : Lines(help)) {
        if (line.empty()) {
            break;
        }
        const std::size_t text = line.find_first_not_of(' ', line.rfind("Usage:", 0) == 0 ? 6 : 0);
        if (line.compare(text, 9, "px418ctl ") == 0) {
            usages.push_back(line.substr(text));
        } else if (!usages.empty()) {
            usages.back() += " " + line.substr(text);
        }
    }
    return usages;
}

// Troff arguments: words, or "quoted words" as one.
std::vector<std::string> Arguments(const std::string &text)
{
    std::vector<std::string> arguments;
    std::size_t at = 0;
    while ((at = text.find_first_not_of(' ', at)) != std::string::npos) {
        const bool quoted = text[at] == '"';
        const std::size_t end = quoted ? text.find('"', at + 1) : text.find(' ', at);
        const std::size_t stop = end == std::string::npos ? text.size() : end;
        arguments.push_back(text.substr(at + (quoted ? 1 : 0), stop - at - (quoted ? 1 : 0)));
        at = stop + 1;
    }
    return arguments;
}

// Plain text of troff escapes: \- is a hyphen, font changes and \& vanish.
std::string Unescaped(std::string text)
{
    for (std::size_t at = 0; (at = text.find('\\', at)) != std::string::npos;) {
        if (text.compare(at, 2, "\\-") == 0) {
            text.replace(at, 2, "-");
            ++at;
        } else if (text.compare(at, 2, "\\f") == 0) {
            text.erase(at, 3);
        } else if (text.compare(at, 2, "\\&") == 0) {
            text.erase(at, 2);
        } else {
            ++at;
        }
    }
    return text;
}

// The lines of the manual page's synopsis as a terminal shows them. Font
// macros with two letters (.BR, .RI, ...) join their arguments; .B and .I
// keep the spaces; .br ends a line.
std::vector<std::string> SynopsisOfManualPage()
{
    std::ifstream page(PX418CTL_MANUAL_PAGE);
    std::vector<std::string> synopsis;
    bool inSynopsis = false;
    std::string current;
    for (std::string source; std::getline(page, source);) {
        if (source.rfind(".SH", 0) == 0) {
            if (inSynopsis) {
                break;
            }
            inSynopsis = source == ".SH SYNOPSIS";
            continue;
        }
        if (!inSynopsis) {
            continue;
        }
        if (source == ".br") {
            synopsis.push_back(current);
            current.clear();
            continue;
        }
        std::string words;
        if (source[0] == '.') {
            const std::size_t space = source.find(' ');
            const std::string macro = source.substr(1, space - 1);
            const std::vector<std::string> arguments =
                Arguments(space == std::string::npos ? "" : source.substr(space));
            for (std::size_t i = 0; i < arguments.size(); ++i) {
                words += (i > 0 && macro.size() == 1 ? " " : "") + arguments[i];
            }
        } else {
            words = source;
        }
        current += (current.empty() ? "" : " ") + Unescaped(words);
    }
    if (!current.empty()) {
        synopsis.push_back(current);
    }
    return synopsis;
}

TEST(CtlHelpTest, EveryUsageLineStandsInTheManualPage)
{
    const std::vector<std::string> synopsis = SynopsisOfManualPage();
    ASSERT_FALSE(synopsis.empty()) << PX418CTL_MANUAL_PAGE;
    std::vector<std::string> topics = {""};
    for (const CtlCommandHelp &command : CommandHelps()) {
        topics.push_back(command.name);
    }
    for (const std::string &topic : topics) {
        const std::vector<std::string> usages = UsagesShown(CtlHelp(topic));
        EXPECT_FALSE(usages.empty()) << "help of '" << topic << "'";
        for (const std::string &usage : usages) {
            EXPECT_NE(std::find(synopsis.begin(), synopsis.end(), usage), synopsis.end()) << usage;
        }
    }
}

TEST(CtlHelpTest, TheOptionsOfTheUsageLinesAreThoseTheCommandTakes)
{
    for (const CtlCommandHelp &command : CommandHelps()) {
        SCOPED_TRACE(command.name);
        std::set<std::string> shown;
        for (const std::string &usage : command.usages) {
            std::istringstream words(usage);
            for (std::string word; words >> word;) {
                word.erase(std::remove_if(word.begin(), word.end(),
                                          [](char c) { return c == '[' || c == ']'; }),
                           word.end());
                if (word.rfind("--", 0) == 0) {
                    shown.insert(word.substr(2));
                }
            }
        }
        EXPECT_EQ(shown, std::set<std::string>(command.options.begin(), command.options.end()));
        // Each of them passes the parser as far as the options go.
        for (const std::string &option : command.options) {
            const CtlParse p = ParseCtlArgs({command.name, "--" + option});
            EXPECT_EQ(p.error.find("does not apply"), std::string::npos) << p.error;
        }
    }
}

}  // namespace

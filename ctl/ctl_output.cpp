#include "ctl_output.h"

#include <cstdio>
#include <string_view>

#include "ctl_help.h"
#include "decimal_text.h"

namespace {

std::string Join(const std::vector<std::string> &parts, const char *separator = ", ")
{
    std::string out;
    for (const std::string &p : parts) {
        if (!out.empty()) {
            out += separator;
        }
        out += p;
    }
    return out;
}

// A member of a JSON object: "key":value.
std::string Member(const char *key, const std::string &value)
{
    return std::string("\"") + key + "\":" + value;
}

// Pads text on the left to a width.
std::string Right(const std::string &text, std::size_t width)
{
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

}  // namespace

std::string ValueJson(int channel, int quantity, std::int32_t entry, bool rms)
{
    std::string value = FormatEntry(quantity, entry, rms);
    if (quantity == PX418_OUT_MODE) {
        value = "\"" + value + "\"";
    }
    return std::string("{\"channel\":\"") + ChannelName(channel) + "\",\"quantity\":\""
           + QuantityName(quantity) + "\",\"value\":" + value + ",\"unit\":\""
           + UnitOf(quantity, rms) + "\"}";
}

std::string TableText(const ParamTable &table, bool locked, bool rms)
{
    const auto heading = [rms](int quantity) {
        return std::string(QuantityName(quantity)) + " (" + UnitOf(quantity, rms) + ")";
    };
    std::string out = "mode  " + ModeName(table[ParamIndex(0, PX418_OUT_MODE)]) + "\n";
    out += std::string("lock  ") + (locked ? "locked" : "unlocked") + "\n";
    out += "   " + Right(heading(PX418_OUT_FREQUENCY), 12) + Right(heading(PX418_OUT_PHASE), 14)
           + Right(heading(PX418_OUT_AMPLITUDE), 15) + "\n";
    for (int c = 0; c < PX418_OUTPUTS; ++c) {
        out += std::string(ChannelName(c)) + "  "
               + Right(FormatEntry(PX418_OUT_FREQUENCY, ShownFrequencyEntry(table, c), rms), 12)
               + Right(FormatEntry(PX418_OUT_PHASE, table[ParamIndex(c, PX418_OUT_PHASE)], rms), 14)
               + Right(
                   FormatEntry(PX418_OUT_AMPLITUDE, table[ParamIndex(c, PX418_OUT_AMPLITUDE)], rms),
                   15)
               + "\n";
    }
    return out;
}

std::string TableJson(const ParamTable &table, bool locked)
{
    std::string out = "{\"mode\":\"" + ModeName(table[ParamIndex(0, PX418_OUT_MODE)])
                      + "\",\"locked\":" + (locked ? "true" : "false") + ",\"outputs\":{";
    for (int c = 0; c < PX418_OUTPUTS; ++c) {
        std::vector<std::string> members;
        for (const int q : {PX418_OUT_FREQUENCY, PX418_OUT_PHASE, PX418_OUT_AMPLITUDE}) {
            const CtlQuantity &words = QuantityWords(q);
            const std::int32_t entry =
                q == PX418_OUT_FREQUENCY ? ShownFrequencyEntry(table, c) : table[ParamIndex(c, q)];
            members.push_back(Member(words.jsonKey, FormatEntry(q, entry, false)));
            // Amplitudes carry both values.
            if (std::string_view(words.rmsJsonKey) != words.jsonKey) {
                members.push_back(Member(words.rmsJsonKey, FormatEntry(q, entry, true)));
            }
        }
        out += (c > 0 ? "," : "") + Member(ChannelName(c), "{" + Join(members, ",") + "}");
    }
    return out + "}}";
}

std::vector<std::string> PartialRunReport(const std::vector<DeviceWrite> &writes, std::size_t done)
{
    std::vector<std::string> lines;
    if (done == 0) {
        lines.push_back("nothing was written");
    } else {
        std::vector<std::string> written;
        bool closed = false;
        for (std::size_t i = 0; i < done && i < writes.size(); ++i) {
            written.push_back(DescribeWrite(writes[i]));
            closed = closed || (writes[i].number & PX418_FLAG_TAKE_EFFECT) != 0;
        }
        lines.push_back((closed ? "written: " : "written, held by the generator, not in effect: ")
                        + Join(written));
    }
    if (done < writes.size()) {
        lines.push_back("failed: " + DescribeWrite(writes[done]));
        std::vector<std::string> unsent;
        for (std::size_t i = done + 1; i < writes.size(); ++i) {
            unsent.push_back(DescribeWrite(writes[i]));
        }
        if (!unsent.empty()) {
            lines.push_back("not sent: " + Join(unsent));
        }
    }
    return lines;
}

std::string PrintableText(const QString &text)
{
    QString shown = text;
    for (QChar &c : shown) {
        if (c.category() == QChar::Other_Control) {
            c = QLatin1Char('?');
        }
    }
    return shown.toStdString();
}

std::string JsonString(const std::string &text)
{
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string SequenceEntryText(const SequenceLogEntry &entry, bool withPass)
{
    std::string who = entry.name.toStdString();
    if (entry.event == SequenceLogEntry::Event::End) {
        who = "end settings (" + (entry.name.isEmpty() ? std::string("before the run") : who) + ")";
    } else if (entry.event == SequenceLogEntry::Event::RampStep) {
        who += " step " + std::to_string(entry.step);
    }
    if (withPass && entry.pass > 0) {
        who = "pass " + std::to_string(entry.pass) + " " + who;
    }
    return who + ": due " + MsText(entry.due).toStdString() + " ms, took effect "
           + MsText(entry.effect).toStdString() + " ms, "
           + MsText(entry.effect - entry.due).toStdString()
           + " ms late: " + WrittenText(entry.written, QStringLiteral(", ")).toStdString();
}

std::string SequenceEntryJson(const SequenceLogEntry &entry)
{
    const bool end = entry.event == SequenceLogEntry::Event::End;
    const char *event = end                                                ? "end"
                        : entry.event == SequenceLogEntry::Event::RampStep ? "ramp step"
                                                                           : "state";
    std::vector<std::string> written;
    for (const OutputSetting &s : entry.written) {
        written.push_back(ValueJson(s.channel, s.quantity, s.value, false));
    }
    return "{" + Member("pass", end ? "null" : std::to_string(entry.pass)) + ","
           + Member("state",
                    end && entry.name.isEmpty() ? "null" : JsonString(entry.name.toStdString()))
           + "," + Member("event", JsonString(event)) + ","
           + Member("step", std::to_string(entry.step)) + ","
           + Member("due_ms", MsText(entry.due).toStdString()) + ","
           + Member("effect_ms", MsText(entry.effect).toStdString()) + ","
           + Member("late_ms", MsText(entry.effect - entry.due).toStdString()) + ","
           + Member("written", "[" + Join(written, ",") + "]") + "}";
}

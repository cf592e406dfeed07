#include "ctl_output.h"

#include "ctl_args.h"
#include "decimal_text.h"

#include <cstdio>

namespace {

// Enough significant digits for every value of the table; the decimals
// decide what is shown.
constexpr int kPrecision = 15;

std::string Join(const std::vector<std::string> &parts)
{
    std::string out;
    for (const std::string &p : parts) {
        if (!out.empty()) {
            out += ", ";
        }
        out += p;
    }
    return out;
}

// Pads text on the left to a width.
std::string Right(const std::string &text, std::size_t width)
{
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

bool IsOutputWrite(const DeviceWrite &w)
{
    const int number = w.number & PX418_NUMBER_MASK;
    return w.group >= 0 && w.group < PX418_OUTPUTS && number < PX418_QUANTITIES;
}

}  // namespace

std::string FormatShown(int quantity, double shown)
{
    return FloatToStrF(shown, ffFixed, kPrecision, ShownDecimals(quantity), QLatin1Char('.'))
        .toStdString();
}

std::string FormatEntry(int quantity, std::int32_t entry, bool rms)
{
    if (quantity == PX418_OUT_MODE) {
        return ModeName(entry);
    }
    return FormatShown(quantity, DeviceToShown(quantity, entry, rms));
}

std::string UnitOf(int quantity, bool rms)
{
    switch (quantity) {
    case PX418_OUT_FREQUENCY:
        return "Hz";
    case PX418_OUT_PHASE:
        return "deg";
    case PX418_OUT_AMPLITUDE:
        return rms ? "V rms" : "V peak";
    default:
        return "";
    }
}

std::string AllowedRange(int quantity, bool rms)
{
    if (quantity == PX418_OUT_MODE) {
        return ModeName(kModeSeparate) + " or " + ModeName(kModeCoupled);
    }
    const ShownRange range = FieldRange(quantity, rms);
    return FormatShown(quantity, range.min) + " to " + FormatShown(quantity, range.max) + " "
           + UnitOf(quantity, rms);
}

std::string ValueLine(int channel, int quantity, std::int32_t entry, bool rms)
{
    std::string line = std::string(ChannelName(channel)) + " " + QuantityName(quantity) + " "
                       + FormatEntry(quantity, entry, rms);
    const std::string unit = UnitOf(quantity, rms);
    if (!unit.empty()) {
        line += " " + unit;
    }
    return line;
}

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
    const std::string amplitude = rms ? "ampl (V rms)" : "ampl (V peak)";
    std::string out = "mode  " + ModeName(table[ParamIndex(0, PX418_OUT_MODE)]) + "\n";
    out += std::string("lock  ") + (locked ? "locked" : "unlocked") + "\n";
    out += "   " + Right("freq (Hz)", 12) + Right("phase (deg)", 14) + Right(amplitude, 15) + "\n";
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
        const std::int32_t amplitude = table[ParamIndex(c, PX418_OUT_AMPLITUDE)];
        if (c > 0) {
            out += ",";
        }
        out += std::string("\"") + ChannelName(c) + "\":{\"freq_hz\":"
               + FormatEntry(PX418_OUT_FREQUENCY, ShownFrequencyEntry(table, c), false)
               + ",\"phase_deg\":"
               + FormatEntry(PX418_OUT_PHASE, table[ParamIndex(c, PX418_OUT_PHASE)], false)
               + ",\"ampl_v_peak\":" + FormatEntry(PX418_OUT_AMPLITUDE, amplitude, false)
               + ",\"ampl_v_rms\":" + FormatEntry(PX418_OUT_AMPLITUDE, amplitude, true) + "}";
    }
    return out + "}}";
}

std::string DescribeWrite(const DeviceWrite &write)
{
    std::string text;
    if (IsOutputWrite(write)) {
        text = ValueLine(write.group, write.number & PX418_NUMBER_MASK, write.value, false);
    } else {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "group %d number %d value %d", write.group,
                      write.number & PX418_NUMBER_MASK, write.value);
        text = buffer;
    }
    if (write.number & PX418_FLAG_TAKE_EFFECT) {
        text = "closing write " + text;
    }
    return text;
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

#include "output_words.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "decimal_text.h"

namespace {

// Enough significant digits for every value of the table; the decimals
// decide what is shown.
constexpr int kPrecision = 15;

struct QuantityWord {
    int quantity;
    const char *name;
    const char *unit;
    const char *rmsUnit;
};

const QuantityWord kQuantityWords[] = {
    {PX418_OUT_MODE, "mode", "", ""},
    {PX418_OUT_FREQUENCY, "freq", "Hz", "Hz"},
    {PX418_OUT_PHASE, "phase", "deg", "deg"},
    {PX418_OUT_AMPLITUDE, "ampl", "V peak", "V rms"},
};

const QuantityWord &WordOf(int quantity)
{
    for (const QuantityWord &w : kQuantityWords) {
        if (w.quantity == quantity) {
            return w;
        }
    }
    return kQuantityWords[0];
}

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool IsOutputWrite(const DeviceWrite &w)
{
    const int number = w.number & PX418_NUMBER_MASK;
    return w.group >= 0 && w.group < PX418_OUTPUTS && number < PX418_QUANTITIES;
}

}  // namespace

const char *ChannelName(int channel)
{
    static const char *const names[PX418_OUTPUTS] = {"A", "B", "C"};
    return channel >= 0 && channel < PX418_OUTPUTS ? names[channel] : "?";
}

const char *QuantityName(int quantity)
{
    return WordOf(quantity).name;
}

std::string ModeName(std::int32_t mode)
{
    switch (mode) {
    case kModeSeparate:
        return "A.B.C";
    case kModeCoupled:
        return "A+B+C";
    default:
        return std::to_string(mode);
    }
}

std::optional<std::int32_t> ModeOf(const std::string &word)
{
    const std::string w = Lower(word);
    for (const std::int32_t mode : {kModeSeparate, kModeCoupled}) {
        if (w == Lower(ModeName(mode)) || w == std::to_string(mode)) {
            return mode;
        }
    }
    return std::nullopt;
}

std::string UnitOf(int quantity, bool rms)
{
    const QuantityWord &w = WordOf(quantity);
    return rms ? w.rmsUnit : w.unit;
}

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

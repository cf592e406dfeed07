#include "param_table.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "decimal_text.h"

TagParam DecodeTag(int tag)
{
    TagParam p;
    int t = tag;
    if (t >= 20) {
        p.channel = 2;
        t -= 20;
    }
    if (t >= 10) {
        p.channel = 1;
        t -= 10;
    }
    p.quantity = t;
    return p;
}

double DeviceUnitsPerShown(int quantity)
{
    switch (quantity) {
    case PX418_OUT_FREQUENCY:
        return 1000;
    case PX418_OUT_PHASE:
        return 10;
    case PX418_OUT_AMPLITUDE:
        return 100;
    default:
        return 1;
    }
}

int ShownDecimals(int quantity)
{
    switch (quantity) {
    case PX418_OUT_FREQUENCY:
        return 3;
    case PX418_OUT_PHASE:
        return 1;
    case PX418_OUT_AMPLITUDE:
        return 2;
    default:
        return 0;
    }
}

namespace {

// The step from a device unit to a shown one: the same factors written as
// the fields have always multiplied by (0.001 rather than 1 / 1000), so
// that every value shows exactly as before.
double ShownPerDeviceUnit(int quantity)
{
    switch (quantity) {
    case PX418_OUT_FREQUENCY:
        return 0.001;
    case PX418_OUT_PHASE:
        return 0.1;
    case PX418_OUT_AMPLITUDE:
        return 0.01;
    default:
        return 1;
    }
}

}  // namespace

std::int32_t RoundValue(double x)
{
    if (std::isnan(x)) {
        return 0;
    }
    const double rounded = std::trunc(x >= 0 ? x + 0.5 : x - 0.5);
    if (rounded >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (rounded <= static_cast<double>(std::numeric_limits<std::int32_t>::min())) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(rounded);
}

double ShownToDevice(int quantity, double shown, bool rms)
{
    double v = shown * DeviceUnitsPerShown(quantity);
    if (quantity == PX418_OUT_AMPLITUDE && rms) {
        v = v * kSqrt2;
    }
    return v;
}

std::int32_t ShownToEntry(int quantity, double shown, bool rms)
{
    // Enough significant digits for any entry: the decimals decide.
    constexpr int kPrecision = 18;
    std::int64_t units = 0;
    if (!(quantity == PX418_OUT_AMPLITUDE && rms)
        && ShownUnits(shown, kPrecision, ShownDecimals(quantity), units)) {
        return static_cast<std::int32_t>(
            std::clamp<std::int64_t>(units, std::numeric_limits<std::int32_t>::min(),
                                     std::numeric_limits<std::int32_t>::max()));
    }
    return RoundValue(ShownToDevice(quantity, shown, rms));
}

double DeviceToShown(int quantity, std::int32_t entry, bool rms)
{
    const double v = entry * ShownPerDeviceUnit(quantity);
    if (quantity == PX418_OUT_AMPLITUDE && rms) {
        return v * kInvSqrt2;
    }
    return v;
}

DeviceRange OutputRange(int quantity)
{
    switch (quantity) {
    case PX418_OUT_FREQUENCY:
        return {PX418_FREQUENCY_MIN, PX418_FREQUENCY_MAX};
    case PX418_OUT_PHASE:
        return {PX418_PHASE_MIN, PX418_PHASE_MAX};
    case PX418_OUT_AMPLITUDE:
        return {PX418_AMPLITUDE_MIN, PX418_AMPLITUDE_MAX};
    default:
        return {PX418_MODE_MIN, PX418_MODE_MAX};
    }
}

ShownRange FieldRange(int quantity, bool rms)
{
    const DeviceRange device = OutputRange(quantity);
    return {DeviceToShown(quantity, device.min, rms), DeviceToShown(quantity, device.max, rms)};
}

bool Coupled(const ParamTable &table)
{
    return table[ParamIndex(0, PX418_OUT_MODE)] == kModeCoupled;
}

std::int32_t ShownFrequencyEntry(const ParamTable &table, int channel)
{
    return table[ParamIndex(Coupled(table) ? 0 : channel, PX418_OUT_FREQUENCY)];
}

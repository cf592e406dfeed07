// The parameter table: the program's copy of the generator's output settings,
// twelve signed 32-bit entries in device units at index channel x 4 +
// quantity (channel 0, 1, 2 = outputs A, B, C; quantity 0 mode, 1 frequency
// in mHz, 2 phase in tenths of a degree, 3 peak amplitude in hundredths of a
// volt). Here also live the conversions between those entries and what the
// numeric fields show: Hz with 3 decimals, degrees with 1, volts with 2, peak
// or RMS.
#pragma once

#include <array>
#include <cstdint>

#include "px418_protocol.h"

using ParamTable = std::array<std::int32_t, PX418_OUTPUTS * PX418_QUANTITIES>;

constexpr int ParamIndex(int channel, int quantity)
{
    return channel * PX418_QUANTITIES + quantity;
}

// 1/sqrt(2) and sqrt(2): RMS of a sine and back to its peak.
constexpr double kInvSqrt2 = 0.7071067811865476;
constexpr double kSqrt2 = 1.4142135623730951;

// A control's Tag is 10 x channel + quantity.
struct TagParam {
    int channel = 0;
    int quantity = 0;
};
TagParam DecodeTag(int tag);
constexpr int ControlTag(int channel, int quantity)
{
    return 10 * channel + quantity;
}

// Device units per unit shown: 1 for the mode, 1000 mHz per Hz, 10 tenths
// per degree, 100 hundredths per volt.
double DeviceUnitsPerShown(int quantity);
// Decimals a field shows for the quantity.
int ShownDecimals(int quantity);

// Rounds to the nearest integer, halves away from zero (2.5 -> 3, -2.5 ->
// -3). Numbers beyond the 32-bit range saturate and NaN gives 0, which the
// bounded fields never produce but a caller must not turn into undefined
// behaviour.
std::int32_t RoundValue(double x);

// A shown value in device units, not yet rounded; with rms an amplitude is
// taken as RMS and turned back into its peak.
double ShownToDevice(int quantity, double shown, bool rms);
// A shown value as its table entry, rounded as the operator reads the value:
// its decimal form rounded half away from zero at the quantity's decimals,
// so that 9.995 V gives 1000 where 9.995 x 100 in binary (999.4999...) would
// give 999. An RMS amplitude becomes its peak first, where no decimal tie is
// left, and is rounded by RoundValue; so is a value without a fixed-point
// form (not finite, or beyond 18 digits). Saturates as RoundValue does.
std::int32_t ShownToEntry(int quantity, double shown, bool rms);
// The value a field shows for a table entry.
double DeviceToShown(int quantity, std::int32_t entry, bool rms);

// The bounds of a field, in what it shows: the device's range scaled, and
// for an amplitude shown as RMS the RMS of the largest peak.
struct ShownRange {
    double min = 0;
    double max = 0;
};
ShownRange FieldRange(int quantity, bool rms);

// The device's range of an output quantity, in device units.
struct DeviceRange {
    std::int32_t min = 0;
    std::int32_t max = 0;
};
DeviceRange OutputRange(int quantity);

// Coupling mode "A+B+C": every output runs at channel A's frequency.
constexpr std::int32_t kModeSeparate = 0;  // "A.B.C"
constexpr std::int32_t kModeCoupled = 1;   // "A+B+C"
bool Coupled(const ParamTable &table);

// The frequency entry an output shows: its own, or channel A's when coupled.
// The table keeps every output's own entry either way.
std::int32_t ShownFrequencyEntry(const ParamTable &table, int channel);

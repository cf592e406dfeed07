#include "phasors.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr double kDegree = std::numbers::pi / 180.0;

// Below this a positive sequence counts as none, and two sequences this
// close count as equal: far under the smallest difference that settings in
// 0.01 V and 0.1 degree steps can make, far above rounding.
constexpr double kNoPositiveSequence = 1e-9;

// Time span when every output is at 0 Hz: two periods of 50 Hz.
constexpr double kDcSpanMs = 40.0;
// More cycles than this over the span draw as a band.
constexpr double kMaxCycles = 100.0;
constexpr double kPointsPerCycle = 64.0;

// An entry as a field shows it: within the device's range.
std::int32_t ShownEntry(const ParamTable &table, int channel, int quantity)
{
    const DeviceRange range = OutputRange(quantity);
    const std::int32_t entry = quantity == PX418_OUT_FREQUENCY
                                   ? ShownFrequencyEntry(table, channel)
                                   : table[ParamIndex(channel, quantity)];
    return std::clamp(entry, range.min, range.max);
}

// The smallest of 1, 2 and 5 times a power of ten that is at least x > 0.
double NiceCeil(double x)
{
    const double base = std::pow(10.0, std::floor(std::log10(x)));
    const double m = x / base * (1 - 1e-9);  // 10.000000001 is still 10
    if (m <= 1) {
        return base;
    }
    if (m <= 2) {
        return 2 * base;
    }
    if (m <= 5) {
        return 5 * base;
    }
    return 10 * base;
}

}  // namespace

double PhasorOutput::DcLevel() const
{
    return peak * std::sin(phase * kDegree);
}

PhasorOutputs PhasorOutputsOf(const ParamTable &table)
{
    PhasorOutputs outputs;
    for (int c = 0; c < PX418_OUTPUTS; ++c) {
        PhasorOutput &o = outputs[static_cast<std::size_t>(c)];
        o.frequency =
            DeviceToShown(PX418_OUT_FREQUENCY, ShownEntry(table, c, PX418_OUT_FREQUENCY), false);
        o.phase = DeviceToShown(PX418_OUT_PHASE, ShownEntry(table, c, PX418_OUT_PHASE), false);
        o.peak =
            DeviceToShown(PX418_OUT_AMPLITUDE, ShownEntry(table, c, PX418_OUT_AMPLITUDE), false);
    }
    return outputs;
}

PhasorSet PhasorsOf(const ParamTable &table, bool rms)
{
    PhasorSet phasors;
    const PhasorOutputs outputs = PhasorOutputsOf(table);
    for (std::size_t c = 0; c < phasors.size(); ++c) {
        const double magnitude = rms ? outputs[c].peak * kInvSqrt2 : outputs[c].peak;
        phasors[c] = outputs[c].Dc() ? Phasor() : std::polar(magnitude, outputs[c].phase * kDegree);
    }
    return phasors;
}

double PhaseDifference(std::int32_t fromEntry, std::int32_t toEntry)
{
    // In tenths of a degree: (from - to) into (-half turn, half turn].
    constexpr std::int64_t kTurn = 3600;
    std::int64_t d = (std::int64_t{fromEntry} - toEntry) % kTurn;
    if (d <= -kTurn / 2) {
        d += kTurn;
    } else if (d > kTurn / 2) {
        d -= kTurn;
    }
    return static_cast<double>(d) / DeviceUnitsPerShown(PX418_OUT_PHASE);
}

PhaseDifferences PhaseDifferencesOf(const ParamTable &table)
{
    const PhasorOutputs outputs = PhasorOutputsOf(table);
    auto difference = [&](int from, int to) -> std::optional<double> {
        if (outputs[static_cast<std::size_t>(from)].Dc()
            || outputs[static_cast<std::size_t>(to)].Dc()) {
            return std::nullopt;
        }
        return PhaseDifference(ShownEntry(table, from, PX418_OUT_PHASE),
                               ShownEntry(table, to, PX418_OUT_PHASE));
    };
    return {difference(0, 1), difference(1, 2), difference(2, 0)};
}

SequenceComponents SymmetricalComponentsOf(const PhasorSet &phasors)
{
    const Phasor a = std::polar(1.0, 120 * kDegree);
    const Phasor a2 = a * a;
    const Phasor &va = phasors[0];
    const Phasor &vb = phasors[1];
    const Phasor &vc = phasors[2];
    SequenceComponents s;
    s.zero = std::abs((va + vb + vc) / 3.0);
    s.positive = std::abs((va + a * vb + a2 * vc) / 3.0);
    s.negative = std::abs((va + a2 * vb + a * vc) / 3.0);
    if (s.positive >= kNoPositiveSequence) {
        s.unbalance = s.negative / s.positive * 100.0;
    }
    if (s.positive - s.negative >= kNoPositiveSequence) {
        s.rotation = Rotation::Forward;
    } else if (s.negative - s.positive >= kNoPositiveSequence) {
        s.rotation = Rotation::Reverse;
    }
    return s;
}

bool FrequenciesDiffer(const ParamTable &table)
{
    std::optional<std::int32_t> first;
    for (int c = 0; c < PX418_OUTPUTS; ++c) {
        const std::int32_t entry = ShownEntry(table, c, PX418_OUT_FREQUENCY);
        if (entry == 0) {
            continue;  // DC: no phasor
        }
        if (first && *first != entry) {
            return true;
        }
        first = entry;
    }
    return false;
}

double NiceScale(double value)
{
    return NiceCeil(std::max(value, 0.01));
}

QPointF PhasorTip(QPointF centre, double radius, double scale, Phasor phasor)
{
    const double k = scale > 0 ? radius / scale : 0;
    return {centre.x() + k * phasor.real(), centre.y() - k * phasor.imag()};
}

Waveforms WaveformsOf(const ParamTable &table)
{
    const PhasorOutputs outputs = PhasorOutputsOf(table);
    Waveforms w;
    double fastest = 0;
    double largest = 0;
    for (const PhasorOutput &o : outputs) {
        fastest = std::max(fastest, o.frequency);
        largest = std::max(largest, o.peak);
    }
    const double spanFrequency = outputs[0].frequency > 0 ? outputs[0].frequency : fastest;
    w.spanMs = spanFrequency > 0 ? 2000.0 / spanFrequency : kDcSpanMs;
    w.voltLimit = NiceScale(largest);

    for (std::size_t c = 0; c < outputs.size(); ++c) {
        const PhasorOutput &o = outputs[c];
        Trace &t = w.traces[c];
        t.peak = o.peak;
        const double cycles = o.frequency * w.spanMs / 1000.0;
        if (cycles > kMaxCycles) {
            t.band = true;
            continue;
        }
        const int n = std::max(2, static_cast<int>(std::ceil(cycles * kPointsPerCycle)) + 1);
        t.points.reserve(static_cast<std::size_t>(n));
        const double omega = 2 * std::numbers::pi * o.frequency / 1000.0;  // per ms
        const double phi = o.phase * kDegree;
        for (int i = 0; i < n; ++i) {
            const double ms = w.spanMs * i / (n - 1);
            t.points.emplace_back(ms, o.peak * std::sin(omega * ms + phi));
        }
    }
    return w;
}

QPointF PlotPoint(const QRectF &plot, double spanMs, double voltLimit, QPointF sample)
{
    const double x = plot.left() + plot.width() * sample.x() / spanMs;
    const double y = plot.center().y() - plot.height() / 2 * sample.y() / voltLimit;
    return {x, y};
}

std::vector<double> AxisTicks(double limit, int maxTicks)
{
    std::vector<double> ticks;
    if (!(limit > 0) || maxTicks < 1) {
        return ticks;
    }
    const double step = NiceCeil(limit / maxTicks);
    for (int i = 0; i * step <= limit * (1 + 1e-9); ++i) {
        ticks.push_back(i * step);
    }
    return ticks;
}

// What the phasor view shows, worked out from the parameter table: each
// output as a phasor, the phase differences between the outputs, the
// symmetrical components with the voltage unbalance factor, where the
// arrows of the diagram end, and the waveforms' sample points.
//
// An output set to amplitude V, phase phi and frequency f produces
// V sin(2 pi f t + phi); its phasor is V at the angle phi (the RMS value
// V / sqrt(2) when amplitudes are shown as RMS). Angles are in degrees,
// 0 to the right and positive counter-clockwise.
#pragma once

#include <array>
#include <complex>
#include <optional>
#include <vector>

#include <QPointF>
#include <QRectF>

#include "param_table.h"

using Phasor = std::complex<double>;
using PhasorSet = std::array<Phasor, PX418_OUTPUTS>;

// An output as the fields show it: the frequency it runs at (channel A's
// when coupled) in Hz, its phase in degrees, its peak amplitude in V. An
// entry outside the device's range (a file's values are not checked) is
// taken at the nearest bound, as the fields show it.
//
// An output at 0 Hz is no phasor: it holds the DC level V sin(phi), the
// same peak or RMS.
struct PhasorOutput {
    double frequency = 0;
    double phase = 0;
    double peak = 0;
    bool Dc() const { return frequency == 0; }
    double DcLevel() const;
};
using PhasorOutputs = std::array<PhasorOutput, PX418_OUTPUTS>;
PhasorOutputs PhasorOutputsOf(const ParamTable &table);

// The three phasors, peak or (rms) RMS magnitudes in V; a DC output's is 0,
// so that the figures worked out from them leave it out.
PhasorSet PhasorsOf(const ParamTable &table, bool rms);

// The phase difference from one output to the next: the first output's
// angle minus the second's, in degrees, normalised to (-180, 180]. Worked
// out in tenths of a degree, so it is exact. The balanced default (A 0,
// B -120, C 120) gives 120 for each pair.
double PhaseDifference(std::int32_t fromEntry, std::int32_t toEntry);
// A difference with a DC output has no value.
struct PhaseDifferences {
    std::optional<double> ab;  // A to B: angle A - angle B
    std::optional<double> bc;  // B to C: angle B - angle C
    std::optional<double> ca;  // C to A: angle C - angle A
};
PhaseDifferences PhaseDifferencesOf(const ParamTable &table);

// Symmetrical components with the operator a = 1 at 120 degrees:
//   zero     = (A + B + C) / 3
//   positive = (A + a B + a^2 C) / 3
//   negative = (A + a^2 B + a C) / 3
// so that A, B, C at 0, -120 and 120 degrees (the order A, B, C in time) is
// a pure positive sequence. The unbalance factor is negative over positive
// in percent; it has no value while the positive sequence is 0 (all three
// in phase, all amplitudes 0, or A, C, B in order). The rotation is the
// order in time of the larger sequence: A-B-C (positive), A-C-B (negative,
// the reverse rotation of two swapped outputs), or none while the two are
// equal (all in phase, a single output).
enum class Rotation { None, Forward, Reverse };
struct SequenceComponents {
    double positive = 0;
    double negative = 0;
    double zero = 0;
    std::optional<double> unbalance;
    Rotation rotation = Rotation::None;
};
SequenceComponents SymmetricalComponentsOf(const PhasorSet &phasors);

// The outputs that are phasors run at different frequencies ("A.B.C" with
// differing entries): the diagram and the figures then hold for time 0 only.
bool FrequenciesDiffer(const ParamTable &table);

// The smallest of 1, 2 and 5 times a power of ten that is at least `value`
// (at least 0.01): the value of the scale circle and of the voltage axis.
double NiceScale(double value);

// Where a phasor's arrow ends: the scale circle of `radius` pixels around
// `centre` stands for `scale` volts. Screen y grows downward, so a positive
// angle goes up.
QPointF PhasorTip(QPointF centre, double radius, double scale, Phasor phasor);

// The waveforms over two periods of channel A's frequency. Each output runs
// at its own frequency ("A.B.C") or at A's ("A+B+C"). An output at 0 Hz is a
// DC value, V sin(phi). With A at 0 Hz the time span is two periods of the
// fastest output, and 40 ms when all are at 0 Hz.
struct Trace {
    std::vector<QPointF> points;  // x time in ms, y voltage in V
    // More cycles than a picture can draw: the trace fills -peak..peak.
    bool band = false;
    double peak = 0;
};
struct Waveforms {
    double spanMs = 0;
    double voltLimit = 1;  // the voltage axis runs from -voltLimit to voltLimit
    std::array<Trace, PX418_OUTPUTS> traces;
};
Waveforms WaveformsOf(const ParamTable &table);

// A sample (ms, V) in a plot rectangle whose left edge is time 0 and right
// edge spanMs, whose top is voltLimit and bottom -voltLimit.
QPointF PlotPoint(const QRectF &plot, double spanMs, double voltLimit, QPointF sample);

// Tick values from 0 to `limit` in steps of 1, 2 or 5 times a power of ten,
// at most about `maxTicks` of them.
std::vector<double> AxisTicks(double limit, int maxTicks);

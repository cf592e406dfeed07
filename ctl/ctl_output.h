// What px418ctl prints: values in the window's units and decimals (Hz with
// 3, degrees with 1, volts with 2, peak or RMS), always with "." as the
// decimal point, as text for people and as JSON with fixed keys for scripts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <QString>

#include "output_words.h"
#include "param_runs.h"

// One output value as one JSON object:
// {"channel":"A","quantity":"freq","value":50.000,"unit":"Hz"}; the mode's
// value is its name as a string.
std::string ValueJson(int channel, int quantity, std::int32_t entry, bool rms);

// The whole table as `get` shows it. Frequencies are those the outputs run
// at: channel A's for every output in mode "A+B+C", as the window shows them.
std::string TableText(const ParamTable &table, bool locked, bool rms);
// {"mode":"A.B.C","locked":false,"outputs":{"A":{"freq_hz":50.000,
// "phase_deg":0.0,"ampl_v_peak":10.00,"ampl_v_rms":7.07},"B":...,"C":...}}
std::string TableJson(const ParamTable &table, bool locked);

// Text from the device (its identity) made safe for a terminal and a shell
// variable: control characters, which could move the cursor or change the
// terminal's colours, become "?"; other characters stay, in UTF-8.
std::string PrintableText(const QString &text);

// What a run that failed part-way had done: the writes accepted (held by the
// generator, not in effect unless the closing write was among them) and
// those never sent. One line each, without the program's prefix.
std::vector<std::string> PartialRunReport(const std::vector<DeviceWrite> &writes, std::size_t done);

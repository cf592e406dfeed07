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
#include "sequencer.h"

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

// A string as a JSON string literal, quotes included.
std::string JsonString(const std::string &text);

// A log entry of a sequence run as `run` prints it: "Fault: due 2000.000
// ms, took effect 2005.217 ms, 5.217 ms late: A ampl 3.00 V peak"; a ramp
// step after its state's name ("Pickup step 3"), the end settings as "end
// settings (before the run)" or with the end state's name, and the pass in
// front ("pass 2 Fault") when the list repeats.
std::string SequenceEntryText(const SequenceLogEntry &entry, bool withPass);
// The same as one JSON object with fixed keys: {"pass":1,"state":"Fault",
// "event":"state","step":0,"due_ms":2000.000,"effect_ms":2005.217,
// "late_ms":5.217,"written":[{"channel":"A","quantity":"ampl",...}]}; the
// end's pass is null, and so is its state for the settings from before the
// run.
std::string SequenceEntryJson(const SequenceLogEntry &entry);

// The words for the outputs, their quantities and their values that every
// text of the program shares: px418ctl's arguments and output, sequence
// files, the logs of a sequence run and the messages about writes. Numbers
// are written with "." as the decimal point whatever the locale, in the
// window's units and decimals (Hz with 3, degrees with 1, volts with 2).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "param_runs.h"

const char *ChannelName(int channel);     // "A", "B", "C"; "?" for another number
const char *QuantityName(int quantity);   // "mode", "freq", "phase", "ampl"
std::string ModeName(std::int32_t mode);  // "A.B.C", "A+B+C", else the number
// The mode a word names: its name in any case, or "0" and "1".
std::optional<std::int32_t> ModeOf(const std::string &word);
// The unit of a shown value: "Hz", "deg", "V peak" or "V rms"; "" for the mode.
std::string UnitOf(int quantity, bool rms);

// A number in what the window shows for a quantity, with its decimals.
std::string FormatShown(int quantity, double shown);
// A table entry as the window shows it ("50.000"); the mode by its name.
std::string FormatEntry(int quantity, std::int32_t entry, bool rms);
// The bounds a value must keep, as the message of a refusal gives them:
// "0.000 to 3000.000 Hz".
std::string AllowedRange(int quantity, bool rms);

// One output value: "A freq 50.000 Hz", "A mode A+B+C".
std::string ValueLine(int channel, int quantity, std::int32_t entry, bool rms);
// A write of a run as a failure report names it: an output setting as
// ValueLine shows it, a closing write marked as such.
std::string DescribeWrite(const DeviceWrite &write);

// The parameter table and the program's settings as sectioned text.
//
// A parameter file holds one table: sections "OUT A", "OUT B", "OUT C", each
// with the keys "M" (mode, integer), "F", "P" and "A" (frequency, phase and
// amplitude entries, numbers), always in device units. The settings file
// holds the same three sections after "General" (window position) and
// "Mode" (the Control menu's options and the lock and mute flags) and
// "View" (the phasor view), so it can itself be opened as a parameter file.
#pragma once

#include <optional>

#include "inifile.h"
#include "param_table.h"

// The table a file yields: each entry from its key, or the key's default
// when the key or its section is missing, the value is empty or has the
// wrong form, or it lies outside what the device accepts (OutputRange): a
// value that the device refuses would keep the program from ever setting it
// up. Every entry is replaced; nothing of an earlier table survives. This is
// how the settings file's table is read.
ParamTable ReadParamTable(const SectionedText &file);

// An entry that a file opened as a parameter file may not hold: a value
// without its key's form (the mode an integer, the rest numbers), or one of
// that form outside what the device accepts. An empty value is neither.
struct RefusedEntry {
    QString section;         // as the program spells it: "OUT A"
    QString key;             // "M", "F", "P" or "A"
    QString value;           // the value's text in the file
    bool malformed = false;  // no value of the key's form; else outside `range`
    DeviceRange range;
};
// The first such entry in the order of the tables, if any.
std::optional<RefusedEntry> FindRefusedEntry(const SectionedText &file);

// Whether the file holds at least one of the three channel sections.
bool HoldsParamSections(const SectionedText &file);

// The table of a file that the operator opens as a parameter file (path names
// it in messages). Throws Exception when the file holds none of the channel
// sections ("... is not a parameter file.") or holds a refused entry (the
// message names the entry and what it should be, or the allowed range);
// missing keys and sections, and empty values, take their defaults.
ParamTable ReadCheckedParamTable(const SectionedText &file, const QString &path);
// Writes all twelve entries, in place where the keys exist.
void WriteParamTable(SectionedText &file, const ParamTable &table);

// What a parameter file holds when its keys are missing: mode "A.B.C",
// 0.001 Hz, 0 degrees, 0.01 V.
ParamTable DefaultParamTable();

// The "General" and "Mode" keys of the settings file.
struct ProgramSettings {
    int left = 0;
    int top = 0;
    bool lock = false;
    bool mute = false;
    bool review = false;
    bool autoRecall = true;  // "Auto Reload" is its opposite
    bool rms = true;
};

// The settings a file yields; a missing or malformed key takes the value it
// has in `defaults`.
ProgramSettings ReadProgramSettings(const SectionedText &file, const ProgramSettings &defaults);
void WriteProgramSettings(SectionedText &file, const ProgramSettings &settings);

// The "View" keys of the settings file: whether the phasor view is shown,
// its frame's left and top edges and its size, in screen pixels.
struct ViewSettings {
    bool phasors = false;
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// A missing or malformed key, and a width or height below 1, takes the
// value it has in `defaults`.
ViewSettings ReadViewSettings(const SectionedText &file, const ViewSettings &defaults);
void WriteViewSettings(SectionedText &file, const ViewSettings &settings);

// The device writes and reads that carry output settings, made the same way
// wherever they are needed: a field's commit, a run of several settings,
// Reload's run of the whole table, Recall's reads, and the preset commands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "param_table.h"

// One set-parameter request: group, number as sent (flag bits included) and
// value.
struct DeviceWrite {
    std::int32_t group = 0;
    std::int32_t number = 0;
    std::int32_t value = 0;
    bool operator==(const DeviceWrite &) const = default;
};

// An output quantity and the table entry it is to take.
struct OutputSetting {
    int channel = 0;
    int quantity = 0;
    std::int32_t value = 0;
    bool operator==(const OutputSetting &) const = default;
};

// How long the device needs to store a preset before it takes the next
// request.
constexpr int kPresetStoreMs = 500;

// The writes of settings. One setting is written as a field commits it: the
// number with bit 7, so that it takes effect at once. Several are written as
// one run, each without bit 7, closed by the last one once more with bit 7,
// so that the device takes them up together, as it does Reload's run. No
// write carries bit 6: nothing beeps.
std::vector<DeviceWrite> SettingWrites(const std::vector<OutputSetting> &settings);

// Reload's run: all twelve entries group-major, without flag bits, closed by
// channel A's phase once more with bit 7.
std::vector<DeviceWrite> ReloadWrites(const ParamTable &table);

// A preset command (PX418_SYS_PRESET_STORE or PX418_SYS_PRESET_LOAD) for a
// slot: bit 6 unless muted, never bit 7.
DeviceWrite PresetWrite(std::int32_t number, std::int32_t slot, bool mute);

// Sends one write through CheckedSetPar.
void SendWrite(const DeviceWrite &write);
// Sends writes in order through CheckedSetPar. `done` counts those the device
// accepted, so that after an EHardwareException the caller can tell how far
// the run got.
void SendWrites(const std::vector<DeviceWrite> &writes, std::size_t &done);

// The entry an output shows for a quantity, read from the device: its own,
// or for the frequency in mode "A+B+C" channel A's, which every output then
// runs at.
std::int32_t ReadShownEntry(int channel, int quantity);

// Recall's reads: the twelve entries group-major, each straight into the
// table through CheckedGetPar, so that a failure keeps the entries read so
// far and leaves the rest as they were.
void RecallParamTable(ParamTable &table);

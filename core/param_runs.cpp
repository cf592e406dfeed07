#include "param_runs.h"

#include "commands.h"

std::vector<DeviceWrite> SettingWrites(const std::vector<OutputSetting> &settings)
{
    std::vector<DeviceWrite> writes;
    if (settings.size() == 1) {
        const OutputSetting &s = settings.front();
        writes.push_back({s.channel, s.quantity | PX418_FLAG_TAKE_EFFECT, s.value});
        return writes;
    }
    for (const OutputSetting &s : settings) {
        writes.push_back({s.channel, s.quantity, s.value});
    }
    if (!settings.empty()) {
        const OutputSetting &last = settings.back();
        writes.push_back({last.channel, last.quantity | PX418_FLAG_TAKE_EFFECT, last.value});
    }
    return writes;
}

std::vector<DeviceWrite> ReloadWrites(const ParamTable &table)
{
    std::vector<DeviceWrite> writes;
    for (int c = 0; c < PX418_OUTPUTS; ++c) {
        for (int q = 0; q < PX418_QUANTITIES; ++q) {
            writes.push_back({c, q, table[ParamIndex(c, q)]});
        }
    }
    writes.push_back({PX418_GROUP_OUT_A, PX418_OUT_PHASE | PX418_FLAG_TAKE_EFFECT,
                      table[ParamIndex(0, PX418_OUT_PHASE)]});
    return writes;
}

DeviceWrite PresetWrite(std::int32_t number, std::int32_t slot, bool mute)
{
    return {PX418_GROUP_SYSTEM, number | (mute ? 0 : PX418_FLAG_BEEP), slot};
}

void SendWrite(const DeviceWrite &write)
{
    CheckedSetPar(write.group, write.number, write.value);
}

void SendWrites(const std::vector<DeviceWrite> &writes, std::size_t &done)
{
    done = 0;
    for (const DeviceWrite &w : writes) {
        SendWrite(w);
        ++done;
    }
}

std::int32_t ReadShownEntry(int channel, int quantity)
{
    int group = channel;
    if (quantity == PX418_OUT_FREQUENCY && channel != PX418_GROUP_OUT_A) {
        std::int32_t mode = 0;
        CheckedGetPar(PX418_GROUP_OUT_A, PX418_OUT_MODE, &mode);
        if (mode == kModeCoupled) {
            group = PX418_GROUP_OUT_A;
        }
    }
    std::int32_t entry = 0;
    CheckedGetPar(group, quantity, &entry);
    return entry;
}

void RecallParamTable(ParamTable &table)
{
    for (int c = 0; c < PX418_OUTPUTS; ++c) {
        for (int q = 0; q < PX418_QUANTITIES; ++q) {
            CheckedGetPar(c, q, &table[ParamIndex(c, q)]);
        }
    }
}

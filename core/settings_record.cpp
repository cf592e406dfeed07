#include "settings_record.h"

#include <utility>

namespace {

std::int32_t Beep(bool mute)
{
    return mute ? 0 : PX418_FLAG_BEEP;
}

}  // namespace

SettingsRecord::SettingsRecord(Sender send) : send_(std::move(send)) {}

void SettingsRecord::Send(std::int32_t group, std::int32_t number, std::int32_t value)
{
    send_(DeviceWrite{group, number, value});
}

void SettingsRecord::ContrastRead(std::int32_t contrast, bool real)
{
    savedContrast_ = static_cast<std::uint8_t>(contrast);
    contrastRead_ = real;
    contrastKnown_ = real;
}

void SettingsRecord::RowRead(int row, std::int32_t reading, bool real,
                             const std::function<void()> &show)
{
    CalibrationRow &r = rows_[row];
    r.held = reading;
    r.heldKnown = real;
    show();
    r.restore = reading;
    r.restoreKnown = real;
}

bool SettingsRecord::ContrastWasRead() const
{
    return contrastRead_;
}

bool SettingsRecord::RowWasRead(int row) const
{
    return rows_[row].restoreKnown;
}

void SettingsRecord::ContrastMoved(std::int32_t position, bool real)
{
    Send(PX418_GROUP_SYSTEM, PX418_SYS_CONTRAST, position);
    contrastKnown_ = real;
}

void SettingsRecord::ContrastCommitted(std::int32_t before, std::int32_t position, bool mute,
                                       bool real)
{
    // Leaving the field would otherwise write the 0 or the designed value
    // that it shows.
    if (!contrastKnown_ && position == before) {
        return;
    }
    Send(PX418_GROUP_SYSTEM, PX418_SYS_CONTRAST | Beep(mute), position);
    contrastKnown_ = real;
}

void SettingsRecord::RowEntered(int row, std::int32_t position, bool mute)
{
    if (!rows_[row].heldKnown) {
        return;
    }
    Send(PX418_GROUP_CALIBRATION, row | PX418_FLAG_TAKE_EFFECT | Beep(mute), position);
    rows_[row].held = position;
}

void SettingsRecord::RowMoved(int row, std::int32_t position, bool real)
{
    Send(PX418_GROUP_CALIBRATION, row | PX418_FLAG_TAKE_EFFECT, position);
    rows_[row].held = position;
    rows_[row].heldKnown = real;
    calibrationChanged_ = true;
}

void SettingsRecord::RowCommitted(int row, std::int32_t before, std::int32_t position, bool real)
{
    const CalibrationRow &r = rows_[row];
    if (position != (r.heldKnown ? r.held : before)) {
        RowMoved(row, position, real);
    }
}

void SettingsRecord::CalibrationStored(bool mute, bool real)
{
    Send(PX418_GROUP_CALIBRATION, PX418_CAL_STORE | Beep(mute), 0);
    for (CalibrationRow &r : rows_) {
        if (r.heldKnown && real) {
            r.restore = r.held;
            r.restoreKnown = true;
        }
    }
    calibrationChanged_ = false;
}

void SettingsRecord::Confirmed()
{
    Send(PX418_GROUP_SYSTEM, PX418_SYS_CONFIRM, 0);
}

void SettingsRecord::ContrastRestored()
{
    if (contrastRead_) {
        Send(PX418_GROUP_SYSTEM, PX418_SYS_CONTRAST, savedContrast_);
    }
}

std::vector<DeviceWrite> SettingsRecord::RestoreWrites(bool mute) const
{
    std::vector<DeviceWrite> writes;
    if (!calibrationChanged_) {
        return writes;
    }
    // The amplitude rows first, the frequency row last, like a full write of
    // the outputs.
    for (int row : {PX418_CAL_AMPLITUDE_A, PX418_CAL_AMPLITUDE_A + 1, PX418_CAL_AMPLITUDE_A + 2,
                    PX418_CAL_FREQUENCY}) {
        if (rows_[row].restoreKnown) {
            writes.push_back({PX418_GROUP_CALIBRATION, row, rows_[row].restore});
        }
    }
    if (!writes.empty()) {
        writes.back().number |= PX418_FLAG_TAKE_EFFECT | Beep(mute);
    }
    return writes;
}

bool SettingsRecord::CalibrationChanged() const
{
    return calibrationChanged_;
}

std::uint8_t SettingsRecord::SavedContrast() const
{
    return savedContrast_;
}

const CalibrationRow &SettingsRecord::Row(int row) const
{
    return rows_[row];
}

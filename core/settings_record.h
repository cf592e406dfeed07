// What the settings dialog knows of the generator's contrast and
// calibration, and the writes that follow from it.
//
// A closed device reads zeros that no device sent, and writes to it reach
// nothing; a value is "known" only when an open device gave or took it, and
// a value that is not known is never written back. Per calibration row the
// record keeps two values: the one the device holds (read, or last written)
// and the one closing restores (read at opening or at Refresh, or stored by
// Save Calib).
//
// Each of the operator's actions has a method here that decides the write
// and sends it through the sender given at construction. What a write
// changes is recorded only once the sender has returned: a sender that
// throws (a failed device call) leaves the record as it was, and the
// exception goes on to the caller.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "param_runs.h"

struct CalibrationRow {
    std::int32_t held = 0;  // what the device holds
    bool heldKnown = false;
    std::int32_t restore = 0;  // what closing with unsaved changes writes back
    bool restoreKnown = false;
};

class SettingsRecord {
public:
    using Sender = std::function<void(const DeviceWrite &)>;

    explicit SettingsRecord(Sender send);

    // Readings; `real` says whether an open device gave them.
    void ContrastRead(std::int32_t contrast, bool real);
    // The device holds `reading` from now; `show` then puts it into the
    // controls, where a move that writes it back replaces what the device
    // holds. Once `show` has returned, the reading is what closing restores;
    // a `show` that throws leaves the earlier restore value.
    void RowRead(int row, std::int32_t reading, bool real, const std::function<void()> &show);
    // Whether a device has given the value: what is read once a device is
    // on line.
    bool ContrastWasRead() const;
    bool RowWasRead(int row) const;

    // The operator's actions. `mute` leaves bit 6 off the writes that may
    // carry it; `real` says whether the device written to is open.
    // The contrast scroll bar moved: written as it stands.
    void ContrastMoved(std::int32_t position, bool real);
    // The contrast field was committed; its scroll bar moved from `before`
    // to `position`. A contrast that no device gave is written only when
    // the operator changed it.
    void ContrastCommitted(std::int32_t before, std::int32_t position, bool mute, bool real);
    // A row's scroll bar or field took the focus: what the device holds is
    // sent again, unless it is not known.
    void RowEntered(int row, std::int32_t position, bool mute);
    void RowMoved(int row, std::int32_t position, bool real);
    // A row's field was committed; its scroll bar moved from `before` to
    // `position`. Written when the position differs from what the device
    // holds (where that is not known, from `before`), so that a value typed
    // back after a move reaches the device too.
    void RowCommitted(int row, std::int32_t before, std::int32_t position, bool real);
    // "Save Calib": the device stores its calibration, which closing then
    // restores.
    void CalibrationStored(bool mute, bool real);
    // "Ok".
    void Confirmed();
    // "Cancel" and Escape: the contrast read goes back.
    void ContrastRestored();

    // Closing: the writes that put unsaved calibration back, none when
    // nothing changed since opening or Save Calib. Rows that no device gave
    // a value are left alone; the last write carries bit 7 (and bit 6 unless
    // muted), so that the rows take effect together.
    std::vector<DeviceWrite> RestoreWrites(bool mute) const;

    bool CalibrationChanged() const;
    std::uint8_t SavedContrast() const;
    const CalibrationRow &Row(int row) const;

private:
    void Send(std::int32_t group, std::int32_t number, std::int32_t value);

    Sender send_;
    std::uint8_t savedContrast_ = 0;  // the contrast read, as the device keeps it
    bool contrastRead_ = false;
    bool contrastKnown_ = false;  // the device's contrast: read, or written since
    std::array<CalibrationRow, PX418_CAL_ROWS> rows_{};
    bool calibrationChanged_ = false;
};

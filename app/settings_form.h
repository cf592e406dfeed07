// TSettingsForm: the modal dialog in which the operator adjusts the
// generator's display contrast and its frequency and amplitude calibration.
// Every movement of a control is written to the device at once; unsaved
// calibration is written back when the dialog closes.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <functional>

#include <QDialog>

#include "floatedit.h"
#include "px418_protocol.h"
#include "scroll_bar.h"
#include "settings_record.h"

class QGroupBox;
class QLabel;
class QPushButton;

class TSettingsForm : public QDialog {
public:
    // muteFlag answers the main window's mute flag at the moment of each write
    // that may carry bit 6 (an empty function counts as "not muted"); onLine
    // answers whether a device is open (empty: always), since the readings
    // of a closed device are zeros that no device sent. Runs FormCreate
    // (reads the device); a failed reading is reported in the error box and
    // leaves the controls filled as far as the readings went. The dialog
    // deletes itself when it closes.
    TSettingsForm(QWidget *parent, std::function<bool()> muteFlag,
                  std::function<bool()> onLine = {});
    ~TSettingsForm() override;

    QGroupBox *GroupBox1 = nullptr;
    QLabel *Label4 = nullptr;
    TScrollBar *sbContr = nullptr;
    TFloatEdit *feContr = nullptr;
    QGroupBox *GroupBox2 = nullptr;
    QLabel *Label5 = nullptr, *Label6 = nullptr, *Label7 = nullptr, *Label8 = nullptr;
    TScrollBar *sbCf = nullptr, *sbCa = nullptr, *sbCb = nullptr, *sbCc = nullptr;
    TFloatEdit *feCf = nullptr, *feCa = nullptr, *feCb = nullptr, *feCc = nullptr;
    QLabel *Label1 = nullptr, *Label2 = nullptr, *Label3 = nullptr, *Label9 = nullptr;
    QPushButton *btRefresh = nullptr;
    QPushButton *btSave = nullptr;
    QPushButton *btOk = nullptr;
    QPushButton *btCancel = nullptr;

    // State (public for tests).
    bool FUpdate = false;  // update guard
    // What the device holds and what closing restores; every write of the
    // dialog is decided there.
    SettingsRecord FRecord;

    // Handlers, named as they are bound. Those that write may throw
    // EHardwareException; the Qt entry points that call them report it.
    void FormCreate();
    void ReadCalib();
    // The device came on line while the dialog is open (opened off line, or
    // the device was away): reads the contrast and each calibration row that
    // no device has given yet, so that the controls show what the device
    // holds and Cancel has something real to put back. What was read before
    // keeps its value, so unsaved changes still go back to it.
    void ReadWhatWasNotRead();
    void sbContrChange();
    void feContrChanged(QObject *Sender);
    void feCfEnter(QObject *Sender);
    void feCaEnter(QObject *Sender);
    void feCbEnter(QObject *Sender);
    void feCcEnter(QObject *Sender);
    void sbCfChange();
    void sbCaChange();
    void sbCbChange();
    void sbCcChange();
    void feCfChanged(QObject *Sender);
    void feCaChanged(QObject *Sender);
    void feCbChanged(QObject *Sender);
    void feCcChanged(QObject *Sender);
    void btRefreshClick();
    void btSaveClick();
    void btOkClick();
    void btCancelClick();
    void FormKeyPress(int key);
    void FormClose();

    // Every way of closing (Ok, Cancel, Escape, the close box) ends here:
    // runs FormClose once, then closes with the given result.
    void done(int result) override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // One reading into the controls, the restore target and the flags that
    // say whether a device gave it. Run with the update guard set.
    void ReadContrast();
    void ReadRow(int n);
    void BuildControls();
    void SetUpField(TFloatEdit *field, std::uint8_t digits, double minValue, double maxValue);
    void BindHandlers();

    // Row n's controls and handlers, shared by the four calibration rows.
    TScrollBar *RowBar(int n) const;
    TFloatEdit *RowField(int n) const;
    void RowEnter(int n);
    void RowBarChange(int n);
    void RowFieldChanged(int n);

    // Moves a scroll bar from the dialog's own code. The move handler that
    // the move runs may fail; its error then continues in the caller, as if
    // the handler had been called directly.
    void SetPosition(QScrollBar *bar, int position);
    // Runs a scroll bar's move handler from QScrollBar::valueChanged. A
    // failure of a move the operator made ends the bar's gesture before the
    // error box is shown, so that nothing steps on while it is open.
    template <class F>
    void ScrollBarChanged(TScrollBar *bar, F &&handler);

    // The main window's mute flag, now.
    bool Muted() const;
    // A device is open: what is read from it and written to it is real.
    bool OnLine() const;

    double FScale = 1;  // the font's scale of the designed lengths
    std::function<bool()> FMuteFlag;
    std::function<bool()> FOnLine;
    std::array<QObject *, PX418_CAL_ROWS> FBarWatchers{};  // focus watchers of the row scroll bars
    bool FClosed = false;
    int FOwnMoves = 0;  // nesting depth of SetPosition
    std::exception_ptr FMoveError;
};

// The one open settings dialog, or nullptr while none exists.
extern TSettingsForm *SettingsForm;

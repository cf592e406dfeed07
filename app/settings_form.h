// TSettingsForm: the modal dialog in which the operator adjusts the
// generator's display contrast and its frequency and amplitude calibration.
// Every movement of a control is written to the device at once; unsaved
// calibration is written back when the dialog closes.
#pragma once

#include "floatedit.h"

#include <QDialog>

#include <array>
#include <cstdint>
#include <functional>

class QGroupBox;
class QLabel;
class QPushButton;
class QScrollBar;

class TSettingsForm : public QDialog {
public:
    // muteFlag answers the main window's mute flag at the moment of each write
    // that may carry bit 6. Runs FormCreate (reads the device).
    TSettingsForm(QWidget *parent, std::function<bool()> muteFlag);
    ~TSettingsForm() override;

    QGroupBox *GroupBox1 = nullptr;
    QLabel *Label4 = nullptr;
    QScrollBar *sbContr = nullptr;
    TFloatEdit *feContr = nullptr;
    QGroupBox *GroupBox2 = nullptr;
    QLabel *Label5 = nullptr, *Label6 = nullptr, *Label7 = nullptr, *Label8 = nullptr;
    QScrollBar *sbCf = nullptr, *sbCa = nullptr, *sbCb = nullptr, *sbCc = nullptr;
    TFloatEdit *feCf = nullptr, *feCa = nullptr, *feCb = nullptr, *feCc = nullptr;
    QLabel *Label1 = nullptr, *Label2 = nullptr, *Label3 = nullptr, *Label9 = nullptr;
    QPushButton *btRefresh = nullptr;
    QPushButton *btSave = nullptr;
    QPushButton *btOk = nullptr;
    QPushButton *btCancel = nullptr;

    // State (public for tests).
    bool FUpdate = false;
    bool FCalibChanged = false;
    std::uint8_t FSavedContrast = 0;
    std::array<std::int32_t, 4> FSavedCalib{};

    // Handlers, named as they are bound.
    void FormCreate();
    void ReadCalib();
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
};

// The one open settings dialog, or nullptr while none exists.
extern TSettingsForm *SettingsForm;

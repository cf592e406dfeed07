// TMainForm's behaviour: the field and list handlers over the parameter
// table, the connection and its polling, the menus, the presets, closing,
// and the file commands. The window is built in main_form_build.cpp; the
// table's conversions and the file formats live in core/.
#include "main_form.h"

#include <algorithm>

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QThread>
#include <QTimer>

#include "about_form.h"
#include "commands.h"
#include "errors.h"
#include "flag_scope.h"
#include "font_scale.h"
#include "inifile.h"
#include "param_file.h"
#include "param_runs.h"
#include "px418usb.h"
#include "sequence_form.h"
#include "settings_form.h"
#include "settings_location.h"

TMainForm *MainForm = nullptr;

namespace {

// The window's designed position.
constexpr int kDesignedLeft = 443;
constexpr int kDesignedTop = 419;

// Starts the timer again however the tick ends.
class TimerRestart {
public:
    explicit TimerRestart(QTimer *timer) : timer_(timer) {}
    ~TimerRestart() { timer_->start(); }
    TimerRestart(const TimerRestart &) = delete;
    TimerRestart &operator=(const TimerRestart &) = delete;

private:
    QTimer *timer_;
};

// Mode list entry for a stored mode: 0 "A.B.C", 1 "A+B+C"; any other value
// has no entry and the list shows none.
int ModeEntry(std::int32_t mode)
{
    return (mode == kModeSeparate || mode == kModeCoupled) ? static_cast<int>(mode) : -1;
}

TagParam TagOf(const QObject *control)
{
    return DecodeTag(control->property("Tag").toInt());
}

}  // namespace

TMainForm::TMainForm(QWidget *parent, const QString &settingsPath)
    : QMainWindow(parent),
      ExecFileDialog([](QFileDialog &dialog) { return dialog.exec() == QDialog::Accepted; }),
      FSettingsPath(settingsPath.isEmpty() ? DefaultSettingsPath() : settingsPath)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("3-phase generator PX-418"));
    setWindowIcon(QIcon(TAboutForm::DrawIcon()));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    BuildControls();
    BuildMenus();
    setFixedSize(Scaled(kClientWidth, FScale),
                 menuBar()->sizeHint().height() + Scaled(kClientHeight, FScale));
    move(kDesignedLeft, kDesignedTop);
    FormCreate();
}

TMainForm::~TMainForm()
{
    // Before the controls it would tell about a run's end go away.
    delete SequenceForm;
    SequenceForm = nullptr;
    if (MainForm == this) {
        MainForm = nullptr;
    }
}

// ---------------------------------------------------------------------------
// Small helpers

void TMainForm::SetStatus(const QString &text)
{
    FStatusLabel->setText(text);
    ShowInView();
}

QString TMainForm::StatusText() const
{
    return FStatusLabel->text();
}

void TMainForm::SetPanelsEnabled(bool enabled)
{
    enabled = enabled && !FSequenceRunning;
    GroupBox1->setEnabled(enabled);
    GroupBox2->setEnabled(enabled);
    GroupBox3->setEnabled(enabled);
    GroupBox4->setEnabled(enabled);
}

void TMainForm::SetLevelLabels()
{
    const QString text = mnRms->isChecked() ? QStringLiteral("RMS:") : QStringLiteral("Amplitude:");
    lbLevelA->setText(text);
    lbLevelB->setText(text);
    lbLevelC->setText(text);
}

void TMainForm::GoOffLine()
{
    PX418_CloseDevice();
    FOnLine = false;
    SetStatus(QStringLiteral("OFF-Line"));
}

// ---------------------------------------------------------------------------
// The parameter model

std::int32_t TMainForm::RoundValue(double x)
{
    return ::RoundValue(x);
}

void TMainForm::EditToParam(TFloatEdit *edit, int &channel, int &quantity, double &value)
{
    const TagParam tag = TagOf(edit);
    channel = tag.channel;
    quantity = tag.quantity;
    const bool rms = mnRms->isChecked();
    value = ShownToDevice(quantity, edit->Value(), rms);
    // Rounded as the field's text reads: 9.995 V shows as 10.00 and stores
    // 1000, where the binary product 999.4999... would give 999.
    FParams[ParamIndex(channel, quantity)] = ShownToEntry(quantity, edit->Value(), rms);
}

void TMainForm::ComboToParam(QComboBox *combo, int &channel, int &quantity, int &index)
{
    const TagParam tag = TagOf(combo);
    channel = tag.channel;
    quantity = tag.quantity;
    index = combo->currentIndex();
    FParams[ParamIndex(channel, quantity)] = index;
}

void TMainForm::ShowAmplitude(TFloatEdit *field, std::int32_t entry)
{
    // The field clamps a value outside its bounds, so the maximum is lowered
    // only after the value has shrunk, and raised before the value grows.
    const bool rms = mnRms->isChecked();
    const double shown = DeviceToShown(PX418_OUT_AMPLITUDE, entry, rms);
    const double max = FieldRange(PX418_OUT_AMPLITUDE, rms).max;
    if (rms) {
        field->SetValue(shown);
        field->SetMaxValue(max);
    } else {
        field->SetMaxValue(max);
        field->SetValue(shown);
    }
}

void TMainForm::UpdateControls()
{
    FUpdate = true;
    const int mode = ModeEntry(FParams[ParamIndex(0, PX418_OUT_MODE)]);
    QComboBox *const modes[PX418_OUTPUTS] = {cbMa, cbMb, cbMc};
    TFloatEdit *const freqs[PX418_OUTPUTS] = {feFa, feFb, feFc};
    TFloatEdit *const phases[PX418_OUTPUTS] = {fePa, fePb, fePc};
    TFloatEdit *const ampls[PX418_OUTPUTS] = {feAa, feAb, feAc};
    for (int c = 0; c < PX418_OUTPUTS; ++c) {
        modes[c]->setCurrentIndex(mode);
        freqs[c]->SetValue(
            DeviceToShown(PX418_OUT_FREQUENCY, ShownFrequencyEntry(FParams, c), false));
        phases[c]->SetValue(
            DeviceToShown(PX418_OUT_PHASE, FParams[ParamIndex(c, PX418_OUT_PHASE)], false));
        ShowAmplitude(ampls[c], FParams[ParamIndex(c, PX418_OUT_AMPLITUDE)]);
    }
    mnLock->setChecked(FLock);
    mnMute->setChecked(FMute);
    FUpdate = false;
    ShowInView();
}

void TMainForm::SendField(QObject *Sender, std::int32_t flags)
{
    if (FUpdate) {
        return;
    }
    FlagScope guard(FUpdate);
    int channel = 0;
    int quantity = 0;
    double v = 0;
    EditToParam(dynamic_cast<TFloatEdit *>(Sender), channel, quantity, v);
    CheckedSetPar(channel, quantity | flags, FParams[ParamIndex(channel, quantity)]);
    UpdateControls();
}

void TMainForm::SendMode(QObject *Sender, std::int32_t flags)
{
    if (FUpdate) {
        return;
    }
    auto *combo = dynamic_cast<QComboBox *>(Sender);
    // A list that shows no entry (the stored mode is neither 0 nor 1) has no
    // value to send.
    if (combo->currentIndex() < 0) {
        return;
    }
    FlagScope guard(FUpdate);
    int channel = 0;
    int quantity = 0;
    int index = 0;
    ComboToParam(combo, channel, quantity, index);
    CheckedSetPar(channel, quantity | flags, index);
    // The channel's amplitude is read back after every mode write; off-line
    // there is nothing to read, and the table keeps what it holds.
    if (FOnLine) {
        CheckedGetPar(channel, PX418_OUT_AMPLITUDE,
                      &FParams[ParamIndex(channel, PX418_OUT_AMPLITUDE)]);
    }
    UpdateControls();
}

std::int32_t TMainForm::EntryFlags() const
{
    return PX418_FLAG_TAKE_EFFECT | (FMute ? 0 : PX418_FLAG_BEEP);
}

void TMainForm::feWaEnter(QObject *Sender)
{
    SendField(Sender, EntryFlags());
}

void TMainForm::feWaChanged(QObject *Sender)
{
    SendField(Sender, PX418_FLAG_TAKE_EFFECT);
}

void TMainForm::cbMaEnter(QObject *Sender)
{
    SendMode(Sender, EntryFlags());
}

void TMainForm::cbMaChange(QObject *Sender)
{
    SendMode(Sender, PX418_FLAG_TAKE_EFFECT);
}

// ---------------------------------------------------------------------------
// Creation, connection and polling

void TMainForm::FormCreate()
{
    FUpdate = true;
    try {
        ReadSettings();
    } catch (const EFOpenError &) {
        // The settings file exists but cannot be read: start all the same,
        // with every value that was not restored at its default.
        ReportCurrentException();
        ApplyParams(DefaultParamTable());
    }
    KeepOnScreen();
    SetPanelsEnabled(!mnReview->isChecked());
    SetLevelLabels();
    FUpdate = false;
    FOnLine = false;
    SetStatus(QStringLiteral("OFF-Line"));
    Timer1->start();
}

void TMainForm::Timer1Timer()
{
    Timer1->stop();
    TimerRestart restart(Timer1);
    if (FClosed) {
        return;
    }

    if (FOnLine) {
        try {
            if (mnReview->isChecked()) {
                std::int32_t group = 0;
                std::int32_t number = 0;
                std::int32_t value = 0;
                CheckedGetSelPar(&group, &number, &value);
                if (group >= 0 && group < PX418_OUTPUTS && number >= 0
                    && number < PX418_QUANTITIES) {
                    FParams[ParamIndex(group, number)] = value;
                }
                UpdateControls();
            } else {
                // Only proves that the device still answers.
                std::int32_t mode = 0;
                CheckedGetMode(&mode);
            }
        } catch (const EHardwareException &) {
            GoOffLine();
        }
    }

    if (!FOnLine) {
        FOnLine = PX418_OpenDevice();
        if (FOnLine) {
            try {
                CheckedSetMode(FLock ? PX418_MODE_LOCKED : PX418_MODE_UNLOCKED);
                if (Autorecall->isChecked()) {
                    RecallParams();
                } else {
                    ReloadParams();
                }
                // The settings dialog, open meanwhile, shows zeros that no
                // device gave until it reads the device.
                if (SettingsForm && SettingsForm->isVisible()) {
                    SettingsForm->ReadWhatWasNotRead();
                }
                SetStatus(QStringLiteral("ON-Line"));
            } catch (const EHardwareException &) {
                GoOffLine();
            }
        }
    }
}

void TMainForm::RecallParams()
{
    // Off-line the library would answer every read with zeros that no device
    // sent; the table and the lock flag keep what they hold instead.
    if (FOnLine) {
        RecallParamTable(FParams);
        std::int32_t mode = 0;
        CheckedGetMode(&mode);
        FLock = mode != PX418_MODE_UNLOCKED;
    }
    UpdateControls();
}

void TMainForm::ReloadParams()
{
    std::size_t done = 0;
    SendWrites(ReloadWrites(FParams), done);
}

// ---------------------------------------------------------------------------
// Menus and presets

void TMainForm::mnExitClick()
{
    close();
}

void TMainForm::mnLockClick()
{
    FLock = mnLock->isChecked();
    FMute = mnMute->isChecked();
    CheckedSetMode(FLock ? PX418_MODE_LOCKED : PX418_MODE_UNLOCKED);
}

void TMainForm::mnReviewClick()
{
    RecallParams();
    SetPanelsEnabled(!mnReview->isChecked());
}

void TMainForm::mnRecallClick()
{
    RecallParams();
}

void TMainForm::mnReloadClick()
{
    ReloadParams();
}

void TMainForm::mnRmsClick()
{
    SetLevelLabels();
    UpdateControls();
}

void TMainForm::SettingsClick()
{
    // A field that holds the focus gives up its value (and sends it) before
    // the dialog opens; it gets the focus back afterwards.
    QPointer<QWidget> active = focusWidget();
    StatusBar->setFocus(Qt::OtherFocusReason);
    if (!SettingsForm) {
        SettingsForm = new TSettingsForm(
            this, [this] { return FMute; }, [this] { return FOnLine; });
    }
    SettingsForm->exec();
    if (Autorecall->isChecked()) {
        RecallParams();
    } else {
        ReloadParams();
    }
    if (active) {
        active->setFocus(Qt::OtherFocusReason);
        // The field is entered once the window is active again.
        activateWindow();
    }
}

void TMainForm::SetSequenceRunning(bool running)
{
    FSequenceRunning = running;
    SetPanelsEnabled(!mnReview->isChecked());
    for (QAction *action : {mnOpen, mnReload, Settings}) {
        action->setEnabled(!running);
    }
}

void TMainForm::mnSequenceClick()
{
    if (!SequenceForm) {
        SequenceHost host;
        host.online = [this] { return FOnLine; };
        host.recall = [this] {
            RecallParams();
            return FParams;
        };
        host.show = [this](const ParamTable &table) { ApplyParams(table); };
        host.running = [this](bool running) { SetSequenceRunning(running); };
        SequenceForm = new TSequenceForm(this, std::move(host));
        SequenceForm->ExecFileDialog = [this](QFileDialog &dialog) {
            return ExecFileDialog(dialog);
        };
        SequenceForm->SetFilesFolder(FilesFolder());
        // Below the main window, so that both show while a run goes on;
        // above it when the screen has no room below.
        const QRect screen = this->screen()->availableGeometry();
        const QRect frame = frameGeometry();
        const int titleBar = frame.height() - height();
        const int high = SequenceForm->height() + titleBar;
        int top = frame.bottom() + 1;
        if (top + high > screen.bottom()) {
            top = std::max(screen.top(), frame.top() - high);
        }
        SequenceForm->move(
            std::clamp(frame.left(), screen.left(),
                       std::max(screen.left(), screen.right() - SequenceForm->width())),
            top);
    }
    SequenceForm->show();
    SequenceForm->raise();
    SequenceForm->activateWindow();
}

void TMainForm::mnAboutClick()
{
    if (!AboutForm) {
        AboutForm = new TAboutForm(this);
    }
    AboutForm->exec();
}

void TMainForm::btSaveClick()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    struct RestoreCursor {
        ~RestoreCursor() { QApplication::restoreOverrideCursor(); }
    } restore;
    SendWrite(PresetWrite(PX418_SYS_PRESET_STORE, cbPre->currentIndex(), FMute));
    // Give the device time to store the preset.
    QThread::msleep(kPresetStoreMs);
}

void TMainForm::btReadClick()
{
    SendWrite(PresetWrite(PX418_SYS_PRESET_LOAD, cbPre->currentIndex(), FMute));
    RecallParams();
}

// ---------------------------------------------------------------------------
// Closing

void TMainForm::closeEvent(QCloseEvent *event)
{
    // A sequence typed into the table is the operator's work: it is saved or
    // dropped as they answer, or the program stays.
    bool close = true;
    if (!FClosed && SequenceForm) {
        close = false;
        Guarded([this, &close] { close = SequenceForm->ConfirmClose(); });
    }
    if (!close) {
        event->ignore();
        return;
    }
    if (!FClosed) {
        FClosed = true;
        Guarded([this] { FormClose(); });
    }
    event->accept();
}

void TMainForm::FormClose()
{
    // A sequence still running ends with its end settings first.
    if (SequenceForm) {
        SequenceForm->StopRun();
    }
    Timer1->stop();
    try {
        CheckedSetMode(PX418_MODE_UNLOCKED);
    } catch (const EHardwareException &) {
        // The panel could not be unlocked; closing goes on.
    }
    try {
        WriteSettings();
    } catch (const EFOpenError &) {
        ReportCurrentException();
    }
    if (FOnLine) {
        PX418_CloseDevice();
        FOnLine = false;
    }
}

#include "main_form.h"

#include "about_form.h"
#include "commands.h"
#include "flag_scope.h"
#include "inifile.h"
#include "px418usb.h"
#include "settings_form.h"

#include <QActionGroup>
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
#include <QStandardPaths>
#include <QStatusBar>
#include <QThread>
#include <QTimer>

TMainForm *MainForm = nullptr;

namespace {

constexpr double kSqrt2 = 1.4142135623730951;
constexpr double kInvSqrt2 = 0.7071067811865476;

// Client area of the window, menu bar not included.
constexpr int kClientWidth = 569;
constexpr int kClientHeight = 195;
constexpr int kStatusHeight = 20;

// The window's designed position.
constexpr int kDesignedLeft = 443;
constexpr int kDesignedTop = 419;

constexpr std::int32_t kFlagNow = 0x80;   // the value takes effect at once
constexpr std::int32_t kFlagBeep = 0x40;  // the device acknowledges with a beep

const char *const kChannelSections[3] = {"OUT A", "OUT B", "OUT C"};

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
    return (mode == 0 || mode == 1) ? static_cast<int>(mode) : -1;
}

int TagOf(const QObject *control)
{
    return control->property("Tag").toInt();
}

// Channel and quantity of a control's Tag (10 x channel + quantity).
void DecodeTag(int tag, int &channel, int &quantity)
{
    int t = tag;
    channel = 0;
    if (t >= 20) {
        channel = 2;
        t -= 20;
    }
    if (t >= 10) {
        channel = 1;
        t -= 10;
    }
    quantity = t;
}

QLabel *MakeLabel(QWidget *parent, const QString &text, int x, int y, int w, int h,
                  Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter)
{
    auto *label = new QLabel(text, parent);
    label->setGeometry(x, y, w, h);
    label->setAlignment(align);
    return label;
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
    setFixedSize(kClientWidth, menuBar()->sizeHint().height() + kClientHeight);
    move(kDesignedLeft, kDesignedTop);
    FormCreate();
}

TMainForm::~TMainForm()
{
    if (MainForm == this) {
        MainForm = nullptr;
    }
}

// ---------------------------------------------------------------------------
// Building the window

TFloatEdit *TMainForm::MakeField(QWidget *panel, const char *name, int tag, std::uint8_t digits,
                                 std::uint8_t precision, double minValue, double maxValue,
                                 double value)
{
    auto *field = new TFloatEdit(panel);
    field->setObjectName(QString::fromLatin1(name));
    field->setProperty("Tag", tag);
    field->Setup(ffFixed, digits, precision, true, minValue, maxValue, value);
    field->OnEnter = [this](QObject *sender) { feWaEnter(sender); };
    field->OnChanged = [this](QObject *sender) { feWaChanged(sender); };
    return field;
}

void TMainForm::BuildControls()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    setCentralWidget(client);

    const int panelTop = 2;
    const int panelHeight = kClientHeight - kStatusHeight - panelTop - 3;
    const int panelWidth = 150;

    QFont freqFont(QStringLiteral("DejaVu Sans Mono"));
    freqFont.setStyleHint(QFont::TypeWriter);
    freqFont.setFixedPitch(true);
    freqFont.setPixelSize(24);
    freqFont.setBold(true);

    const char *const boxNames[3] = {"GroupBox1", "GroupBox2", "GroupBox4"};
    const char *const boxTitles[3] = {" Out A ", " Out B ", " Out C "};
    const char *const modeNames[3] = {"cbMa", "cbMb", "cbMc"};
    const char *const freqNames[3] = {"feFa", "feFb", "feFc"};
    const char *const phaseNames[3] = {"fePa", "fePb", "fePc"};
    const char *const amplNames[3] = {"feAa", "feAb", "feAc"};
    const char *const levelNames[3] = {"lbLevelA", "lbLevelB", "lbLevelC"};
    QGroupBox **boxes[3] = {&GroupBox1, &GroupBox2, &GroupBox4};
    QComboBox **modes[3] = {&cbMa, &cbMb, &cbMc};
    TFloatEdit **freqs[3] = {&feFa, &feFb, &feFc};
    TFloatEdit **phases[3] = {&fePa, &fePb, &fePc};
    TFloatEdit **ampls[3] = {&feAa, &feAb, &feAc};
    QLabel **levels[3] = {&lbLevelA, &lbLevelB, &lbLevelC};

    for (int c = 0; c < 3; ++c) {
        auto *box = new QGroupBox(QString::fromLatin1(boxTitles[c]), client);
        box->setObjectName(QString::fromLatin1(boxNames[c]));
        box->setGeometry(4 + c * (panelWidth + 4), panelTop, panelWidth, panelHeight);
        *boxes[c] = box;

        MakeLabel(box, QStringLiteral("Mode:"), 8, 18, 60, 16);
        auto *mode = new QComboBox(box);
        mode->setObjectName(QString::fromLatin1(modeNames[c]));
        mode->setProperty("Tag", 10 * c);
        mode->addItems({QStringLiteral("A.B.C"), QStringLiteral("A+B+C")});
        mode->setCurrentIndex(0);
        mode->setGeometry(8, 34, panelWidth - 16, 24);
        *modes[c] = mode;

        auto *freq = MakeField(box, freqNames[c], 10 * c + 1, 3, 9, 0, 3000, 50);
        freq->setFont(freqFont);
        QPalette pal = freq->palette();
        pal.setColor(QPalette::Text, QColor(0, 0, 128));
        freq->setPalette(pal);
        freq->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        freq->setGeometry(6, 62, 124, 34);
        *freqs[c] = freq;
        MakeLabel(box, QStringLiteral("Hz"), 132, 72, 16, 16);

        MakeLabel(box, QStringLiteral("Phase:"), 8, 102, 64, 22);
        auto *phase = MakeField(box, phaseNames[c], 10 * c + 2, 1, 9, -360, 360, 0);
        phase->setGeometry(72, 102, 58, 22);
        *phases[c] = phase;
        MakeLabel(box, QStringLiteral("\u00B0"), 133, 102, 14, 22);

        auto *level = MakeLabel(box, QStringLiteral("Amplitude:"), 8, 130, 64, 22);
        level->setObjectName(QString::fromLatin1(levelNames[c]));
        *levels[c] = level;
        auto *ampl = MakeField(box, amplNames[c], 10 * c + 3, 2, 3, 0, 10, 10);
        ampl->setGeometry(72, 130, 58, 22);
        *ampls[c] = ampl;
        MakeLabel(box, QStringLiteral("V"), 133, 130, 14, 22);

        // Tab order within a panel: list, frequency, phase, amplitude.
        QWidget::setTabOrder(mode, freq);
        QWidget::setTabOrder(freq, phase);
        QWidget::setTabOrder(phase, ampl);

        FocusWatcher::Watch(mode, [this, mode] { cbMaEnter(mode); });
        connect(mode, &QComboBox::activated, this,
                [this, mode] { Guarded([this, mode] { cbMaChange(mode); }); });
    }
    // B and C only mirror A's coupling mode.
    cbMb->setEnabled(false);
    cbMc->setEnabled(false);

    GroupBox3 = new QGroupBox(QStringLiteral(" Presets "), client);
    GroupBox3->setObjectName(QStringLiteral("GroupBox3"));
    const int presetsLeft = 4 + 3 * (panelWidth + 4);
    GroupBox3->setGeometry(presetsLeft, panelTop, kClientWidth - presetsLeft - 4, panelHeight);
    const int presetsInner = GroupBox3->width() - 16;
    cbPre = new QComboBox(GroupBox3);
    cbPre->setObjectName(QStringLiteral("cbPre"));
    for (int i = 0; i <= 9; ++i) {
        cbPre->addItem(QString::number(i));
    }
    cbPre->setCurrentIndex(0);
    cbPre->setGeometry(8, 34, presetsInner, 24);
    btRead = new QPushButton(QStringLiteral("Read"), GroupBox3);
    btRead->setObjectName(QStringLiteral("btRead"));
    btRead->setGeometry(8, 70, presetsInner, 26);
    btSave = new QPushButton(QStringLiteral("Save"), GroupBox3);
    btSave->setObjectName(QStringLiteral("btSave"));
    btSave->setGeometry(8, 104, presetsInner, 26);
    connect(btRead, &QPushButton::clicked, this, [this] { Guarded([this] { btReadClick(); }); });
    connect(btSave, &QPushButton::clicked, this, [this] { Guarded([this] { btSaveClick(); }); });

    StatusBar = statusBar();
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    StatusBar->setSizeGripEnabled(false);
    StatusBar->setFixedHeight(kStatusHeight);
    // The status bar can hold the focus, so that no field does at start and
    // a field can give up the focus before the settings dialog opens.
    StatusBar->setFocusPolicy(Qt::ClickFocus);
    FStatusLabel = new QLabel(StatusBar);
    FStatusLabel->setObjectName(QStringLiteral("StatusText"));
    StatusBar->addWidget(FStatusLabel, 1);
    StatusBar->setFocus(Qt::OtherFocusReason);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(100);
    connect(Timer1, &QTimer::timeout, this, [this] { Guarded([this] { Timer1Timer(); }); });

    OpenDialog = new QFileDialog(this);
    OpenDialog->setObjectName(QStringLiteral("OpenDialog"));
    SaveDialog = new QFileDialog(this);
    SaveDialog->setObjectName(QStringLiteral("SaveDialog"));
}

void TMainForm::BuildMenus()
{
    auto addItem = [this](QMenu *menu, const char *name, const QString &caption,
                          const QKeySequence &shortcut, void (TMainForm::*handler)()) {
        QAction *action = menu->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcut(shortcut);
        if (handler) {
            connect(action, &QAction::triggered, this,
                    [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
        }
        return action;
    };

    mnFille = menuBar()->addMenu(QStringLiteral("File"));
    mnFille->setObjectName(QStringLiteral("mnFille"));
    mnOpen = addItem(mnFille, "mnOpen", QStringLiteral("Open..."),
                     QKeySequence(Qt::CTRL | Qt::Key_O), &TMainForm::mnOpenClick);
    mnSaveAs = addItem(mnFille, "mnSaveAs", QStringLiteral("Save as..."),
                       QKeySequence(Qt::CTRL | Qt::Key_S), &TMainForm::mnSaveAsClick);
    mnFille->addSeparator();
    mnExit = addItem(mnFille, "mnExit", QStringLiteral("Exit"), QKeySequence(Qt::ALT | Qt::Key_X),
                     &TMainForm::mnExitClick);

    mnControl = menuBar()->addMenu(QStringLiteral("Control"));
    mnControl->setObjectName(QStringLiteral("mnControl"));
    mnLock = addItem(mnControl, "mnLock", QStringLiteral("Lock"), QKeySequence(Qt::ALT | Qt::Key_L),
                     &TMainForm::mnLockClick);
    mnLock->setCheckable(true);
    mnMute = addItem(mnControl, "mnMute", QStringLiteral("Mute"), QKeySequence(Qt::ALT | Qt::Key_M),
                     &TMainForm::mnLockClick);
    mnMute->setCheckable(true);
    mnControl->addSeparator();
    mnReview = addItem(mnControl, "mnReview", QStringLiteral("Review Mode"),
                       QKeySequence(Qt::ALT | Qt::Key_V), &TMainForm::mnReviewClick);
    mnReview->setCheckable(true);
    mnControl->addSeparator();
    mnRecall = addItem(mnControl, "mnRecall", QStringLiteral("Recall"),
                       QKeySequence(Qt::ALT | Qt::Key_R), &TMainForm::mnRecallClick);
    mnReload = addItem(mnControl, "mnReload", QStringLiteral("Reload"),
                       QKeySequence(Qt::ALT | Qt::Key_D), &TMainForm::mnReloadClick);
    mnControl->addSeparator();
    Autorecall = addItem(mnControl, "Autorecall", QStringLiteral("Auto Recall"),
                         QKeySequence(Qt::CTRL | Qt::Key_R), nullptr);
    Autoreload = addItem(mnControl, "Autoreload", QStringLiteral("Auto Reload"),
                         QKeySequence(Qt::CTRL | Qt::Key_D), nullptr);
    auto *autoGroup = new QActionGroup(this);
    autoGroup->setExclusive(true);
    Autorecall->setCheckable(true);
    Autoreload->setCheckable(true);
    autoGroup->addAction(Autorecall);
    autoGroup->addAction(Autoreload);
    Autorecall->setChecked(true);
    mnControl->addSeparator();
    mnRms = addItem(mnControl, "mnRms", QStringLiteral("RMS"), QKeySequence(Qt::ALT | Qt::Key_A),
                    &TMainForm::mnRmsClick);
    mnRms->setCheckable(true);
    mnRms->setChecked(true);
    mnControl->addSeparator();
    Settings = addItem(mnControl, "Settings", QStringLiteral("Settings..."),
                       QKeySequence(Qt::ALT | Qt::Key_S), &TMainForm::SettingsClick);

    mnHelp = menuBar()->addMenu(QStringLiteral("Help"));
    mnHelp->setObjectName(QStringLiteral("mnHelp"));
    mnAbout = addItem(mnHelp, "mnAbout", QStringLiteral("About"), QKeySequence(Qt::Key_F1),
                      &TMainForm::mnAboutClick);
}

// ---------------------------------------------------------------------------
// Small helpers

void TMainForm::SetStatus(const QString &text)
{
    FStatusLabel->setText(text);
}

QString TMainForm::StatusText() const
{
    return FStatusLabel->text();
}

void TMainForm::SetPanelsEnabled(bool enabled)
{
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
    return static_cast<std::int32_t>(x >= 0 ? x + 0.5 : x - 0.5);
}

void TMainForm::EditToParam(TFloatEdit *edit, int &channel, int &quantity, double &value)
{
    DecodeTag(TagOf(edit), channel, quantity);
    double v = edit->Value();
    switch (quantity) {
    case 1:
        v = v * 1000;
        break;
    case 2:
        v = v * 10;
        break;
    case 3:
        v = v * 100;
        if (mnRms->isChecked()) {
            v = v * kSqrt2;
        }
        break;
    default:
        break;
    }
    FParams[channel * 4 + quantity] = RoundValue(v);
    value = v;
}

void TMainForm::ComboToParam(QComboBox *combo, int &channel, int &quantity, int &index)
{
    DecodeTag(TagOf(combo), channel, quantity);
    index = combo->currentIndex();
    FParams[channel * 4 + quantity] = index;
}

void TMainForm::ShowAmplitude(TFloatEdit *field, std::int32_t entry)
{
    // The field clamps a value outside its bounds, so the maximum is lowered
    // only after the value has shrunk, and raised before the value grows.
    const double a = entry * 0.01;
    if (mnRms->isChecked()) {
        field->SetValue(a * kInvSqrt2);
        field->SetMaxValue(10 * kInvSqrt2);
    } else {
        field->SetMaxValue(10);
        field->SetValue(a);
    }
}

void TMainForm::UpdateControls()
{
    FUpdate = true;
    const int mode = ModeEntry(FParams[0]);
    cbMa->setCurrentIndex(mode);
    feFa->SetValue(FParams[1] * 0.001);
    fePa->SetValue(FParams[2] * 0.1);
    ShowAmplitude(feAa, FParams[3]);

    cbMb->setCurrentIndex(mode);
    feFb->SetValue((FParams[0] == 1 ? FParams[1] : FParams[5]) * 0.001);
    fePb->SetValue(FParams[6] * 0.1);
    ShowAmplitude(feAb, FParams[7]);

    cbMc->setCurrentIndex(mode);
    feFc->SetValue((FParams[0] == 1 ? FParams[1] : FParams[9]) * 0.001);
    fePc->SetValue(FParams[10] * 0.1);
    ShowAmplitude(feAc, FParams[11]);

    mnLock->setChecked(FLock);
    mnMute->setChecked(FMute);
    FUpdate = false;
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
    CheckedSetPar(channel, quantity | flags, RoundValue(v));
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
        CheckedGetPar(channel, 3, &FParams[channel * 4 + 3]);
    }
    UpdateControls();
}

std::int32_t TMainForm::EntryFlags() const
{
    return kFlagNow | (FMute ? 0 : kFlagBeep);
}

void TMainForm::feWaEnter(QObject *Sender)
{
    SendField(Sender, EntryFlags());
}

void TMainForm::feWaChanged(QObject *Sender)
{
    SendField(Sender, kFlagNow);
}

void TMainForm::cbMaEnter(QObject *Sender)
{
    SendMode(Sender, EntryFlags());
}

void TMainForm::cbMaChange(QObject *Sender)
{
    SendMode(Sender, kFlagNow);
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
        ApplyParams(SectionedText());
    }
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
                if (group >= 0 && group <= 2 && number >= 0 && number <= 3) {
                    FParams[group * 4 + number] = value;
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
                CheckedSetMode(FLock ? 1 : 0);
                if (Autorecall->isChecked()) {
                    RecallParams();
                } else {
                    ReloadParams();
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
        for (int c = 0; c < 3; ++c) {
            for (int q = 0; q < 4; ++q) {
                CheckedGetPar(c, q, &FParams[c * 4 + q]);
            }
        }
        std::int32_t mode = 0;
        CheckedGetMode(&mode);
        FLock = mode != 0;
    }
    UpdateControls();
}

void TMainForm::ReloadParams()
{
    for (int c = 0; c < 3; ++c) {
        for (int q = 0; q < 4; ++q) {
            CheckedSetPar(c, q, FParams[c * 4 + q]);
        }
    }
    // Channel A's phase once more, with bit 7: the device takes up the run.
    CheckedSetPar(0, 2 | kFlagNow, FParams[2]);
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
    CheckedSetMode(FLock ? 1 : 0);
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
        SettingsForm = new TSettingsForm(this, [this] { return FMute; });
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
    CheckedSetPar(4, FMute ? 0 : 0x40, cbPre->currentIndex());
    // Give the device time to store the preset.
    QThread::msleep(500);
}

void TMainForm::btReadClick()
{
    CheckedSetPar(4, FMute ? 1 : 0x41, cbPre->currentIndex());
    RecallParams();
}

// ---------------------------------------------------------------------------
// Closing

void TMainForm::closeEvent(QCloseEvent *event)
{
    if (!FClosed) {
        FClosed = true;
        Guarded([this] { FormClose(); });
    }
    event->accept();
}

void TMainForm::FormClose()
{
    Timer1->stop();
    try {
        CheckedSetMode(0);
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

// ---------------------------------------------------------------------------
// Files

QString TMainForm::SettingsPathFor(const QString &programPath)
{
    const int dot = programPath.lastIndexOf(QLatin1Char('.'));
    const int slash = programPath.lastIndexOf(QLatin1Char('/'));
    const int backslash = programPath.lastIndexOf(QLatin1Char('\\'));
    const int colon = programPath.lastIndexOf(QLatin1Char(':'));
    if (dot >= 0 && dot > slash && dot > backslash && dot > colon) {
        return programPath.left(dot) + QStringLiteral(".ini");
    }
    return programPath + QStringLiteral(".ini");
}

namespace {

// A folder counts as writable when the user may write it and it is not
// marked read-only (which keeps the test for an installed copy meaningful
// for root, who may write anything).
bool FolderWritable(const QString &folder)
{
    const QFileInfo info(folder);
    const auto anyWrite =
        QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    return info.isDir() && info.isWritable() && (info.permissions() & anyWrite);
}

}  // namespace

QString TMainForm::SettingsPathForProgram(const QString &programPath)
{
    const QString beside = SettingsPathFor(programPath);
    if (QFileInfo::exists(beside) || FolderWritable(QFileInfo(programPath).absolutePath())) {
        return beside;
    }
    // An installed copy: its folder is not the user's to write.
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config)) {
        config = QDir::homePath() + QStringLiteral("/.config");
    }
    return config + QStringLiteral("/px418/px418.ini");
}

QString TMainForm::DefaultSettingsPath()
{
    return SettingsPathForProgram(QCoreApplication::applicationFilePath());
}

QString TMainForm::FilesFolder() const
{
    // Beside the program, unless the settings had to move to the user's
    // configuration folder: then the user's home.
    const QString programFolder = QFileInfo(QCoreApplication::applicationFilePath()).absolutePath();
    if (QFileInfo(FSettingsPath).absolutePath() == programFolder || FolderWritable(programFolder)) {
        return programFolder;
    }
    return QDir::homePath();
}

void TMainForm::ApplyParams(const SectionedText &file)
{
    for (int c = 0; c < 3; ++c) {
        const QString section = QString::fromLatin1(kChannelSections[c]);
        FParams[c * 4 + 0] = file.ReadInteger(section, QStringLiteral("M"), 0);
        FParams[c * 4 + 1] = file.ReadNumber(section, QStringLiteral("F"), 1);
        FParams[c * 4 + 2] = file.ReadNumber(section, QStringLiteral("P"), 0);
        FParams[c * 4 + 3] = file.ReadNumber(section, QStringLiteral("A"), 1);
    }
    UpdateControls();
}

void TMainForm::ReadSettings()
{
    const SectionedText ini = SectionedText::Load(FSettingsPath);
    const QString general = QStringLiteral("General");
    const QString mode = QStringLiteral("Mode");
    const int left = ini.ReadInteger(general, QStringLiteral("Left"), pos().x());
    move(left, pos().y());
    const int top = ini.ReadInteger(general, QStringLiteral("Top"), pos().y());
    move(pos().x(), top);
    FLock = ini.ReadBool(mode, QStringLiteral("Lock"), false);
    FMute = ini.ReadBool(mode, QStringLiteral("Mute"), false);
    mnReview->setChecked(ini.ReadBool(mode, QStringLiteral("Review"), false));
    const bool autoRecall = ini.ReadBool(mode, QStringLiteral("Autorecall"), true);
    Autorecall->setChecked(autoRecall);
    Autoreload->setChecked(!autoRecall);
    mnRms->setChecked(ini.ReadBool(mode, QStringLiteral("RMS"), true));
    ReadParamsFile(FSettingsPath);
}

void TMainForm::SaveWithErrorBox(const SectionedText &file, const QString &path)
{
    try {
        file.Save(path);
    } catch (const EFCreateError &e) {
        ShowErrorBox(QStringLiteral("Error"), e.Message());
    }
}

void TMainForm::WriteSettings()
{
    try {
        SectionedText ini = SectionedText::Load(FSettingsPath);
        const QString general = QStringLiteral("General");
        const QString mode = QStringLiteral("Mode");
        ini.WriteInteger(general, QStringLiteral("Left"), pos().x());
        ini.WriteInteger(general, QStringLiteral("Top"), pos().y());
        ini.WriteBool(mode, QStringLiteral("Lock"), FLock);
        ini.WriteBool(mode, QStringLiteral("Mute"), FMute);
        ini.WriteBool(mode, QStringLiteral("Review"), mnReview->isChecked());
        ini.WriteBool(mode, QStringLiteral("Autorecall"), Autorecall->isChecked());
        ini.WriteBool(mode, QStringLiteral("RMS"), mnRms->isChecked());
        // The settings folder may not exist yet (a first start with the
        // settings in the user's configuration folder).
        QDir().mkpath(QFileInfo(FSettingsPath).absolutePath());
        SaveWithErrorBox(ini, FSettingsPath);
    } catch (const EFOpenError &) {
        // An unreadable settings file is not overwritten blindly; the table
        // pass below reports it once more.
        ReportCurrentException();
    }
    WriteParamsFile(FSettingsPath);
}

void TMainForm::ReadParamsFile(const QString &path)
{
    // Loading comes first: a file that cannot be read changes nothing.
    ApplyParams(SectionedText::Load(path));
}

void TMainForm::WriteParamsFile(const QString &path)
{
    SectionedText file = SectionedText::Load(path);
    for (int c = 0; c < 3; ++c) {
        const QString section = QString::fromLatin1(kChannelSections[c]);
        file.WriteInteger(section, QStringLiteral("M"), FParams[c * 4 + 0]);
        file.WriteNumber(section, QStringLiteral("F"), FParams[c * 4 + 1]);
        file.WriteNumber(section, QStringLiteral("P"), FParams[c * 4 + 2]);
        file.WriteNumber(section, QStringLiteral("A"), FParams[c * 4 + 3]);
    }
    SaveWithErrorBox(file, path);
}

void TMainForm::mnOpenClick()
{
    OpenDialog->setWindowTitle(QStringLiteral("Open file"));
    OpenDialog->setDirectory(FilesFolder());
    OpenDialog->setNameFilter(QStringLiteral("Params files (*.par)"));
    OpenDialog->setDefaultSuffix(QStringLiteral("par"));
    OpenDialog->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog->setFileMode(QFileDialog::AnyFile);
    if (!ExecFileDialog(*OpenDialog)) {
        return;
    }
    const QStringList chosen = OpenDialog->selectedFiles();
    if (chosen.isEmpty()) {
        return;
    }
    const QString path = QFileInfo(chosen.first()).absoluteFilePath();
    // A name that does not exist (a typing error, most likely) is refused:
    // reading it as an empty file would send the defaults to the generator.
    if (!QFileInfo::exists(path)) {
        throw EFOpenError(path);
    }
    ReadParamsFile(path);
    ReloadParams();
}

void TMainForm::mnSaveAsClick()
{
    SaveDialog->setWindowTitle(QStringLiteral("Save file as..."));
    SaveDialog->setDirectory(FilesFolder());
    SaveDialog->setNameFilter(QStringLiteral("Params files (*.par)"));
    SaveDialog->setDefaultSuffix(QStringLiteral("par"));
    SaveDialog->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog->setFileMode(QFileDialog::AnyFile);
    SaveDialog->setOption(QFileDialog::DontConfirmOverwrite, false);
    SaveDialog->selectFile(QStringLiteral("Params1"));
    if (!ExecFileDialog(*SaveDialog)) {
        return;
    }
    const QStringList chosen = SaveDialog->selectedFiles();
    if (chosen.isEmpty()) {
        return;
    }
    WriteParamsFile(QFileInfo(chosen.first()).absoluteFilePath());
}

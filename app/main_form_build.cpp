// Building the main window: the three output panels, the presets panel,
// the status bar, the timer and the menus. Names, tags, ranges and fonts are
// the ones the handlers and the files rely on.
#include <algorithm>

#include <QActionGroup>
#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>

#include "errors.h"
#include "focus.h"
#include "font_scale.h"
#include "main_form.h"
#include "operator_input.h"
#include "param_table.h"

namespace {

QLabel *MakeLabel(QWidget *parent, const QString &text, int x, int y, int w, int h,
                  Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter)
{
    auto *label = new QLabel(text, parent);
    label->setGeometry(x, y, w, h);
    label->setAlignment(align);
    return label;
}

}  // namespace

TFloatEdit *TMainForm::MakeField(QWidget *panel, const char *name, int channel, int quantity,
                                 std::uint8_t precision, double value)
{
    auto *field = new TFloatEdit(panel);
    field->setObjectName(QString::fromLatin1(name));
    field->setProperty("Tag", ControlTag(channel, quantity));
    // The window is built with peak amplitudes; UpdateControls switches the
    // amplitude fields to RMS when the settings ask for it.
    const ShownRange range = FieldRange(quantity, false);
    field->Setup(ffFixed, static_cast<std::uint8_t>(ShownDecimals(quantity)), precision, true,
                 range.min, range.max, value);
    field->OnEnter = [this](QObject *sender) { feWaEnter(sender); };
    field->OnChanged = [this](QObject *sender) { feWaChanged(sender); };
    return field;
}

void TMainForm::BuildControls()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    setCentralWidget(client);

    // The window is laid out for the usual desktop font and grows with a
    // larger one (FontScale); fields and labels are, besides, never narrower
    // than their widest text.
    FScale = FontScale(client->font());
    auto S = [this](int designed) { return Scaled(designed, FScale); };
    const int panelTop = S(2);
    const int panelHeight = S(kClientHeight - kStatusHeight - 2 - 3);
    const int panelWidth = S(150);

    QFont freqFont(QStringLiteral("DejaVu Sans Mono"));
    freqFont.setStyleHint(QFont::TypeWriter);
    freqFont.setFixedPitch(true);
    freqFont.setPixelSize(S(24));
    freqFont.setBold(true);

    // The phase and amplitude fields start a few pixels right of their
    // widest label ("Amplitude:") in the font at hand, at 72 or a little
    // further, and all end at the same place, wide enough for "-360.0"
    // and "10.00".
    const int labelLeft = S(8);
    const int labelGap = S(4);
    const QFontMetrics labelMetrics(client->font());
    int textWidth = 0;
    for (const char *text : {"Phase:", "Amplitude:", "RMS:"}) {
        textWidth = std::max(textWidth, labelMetrics.horizontalAdvance(QString::fromLatin1(text)));
    }
    const int fieldLeft = std::clamp(labelLeft + textWidth + labelGap, S(72), S(84));
    const int labelWidth = fieldLeft - labelGap - labelLeft;
    // Beside a label: the width its text takes, at least the designed one.
    auto fitted = [&labelMetrics](const char *text, int designed) {
        return std::max(designed, labelMetrics.horizontalAdvance(QString::fromUtf8(text)) + 1);
    };

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

    for (int c = 0; c < PX418_OUTPUTS; ++c) {
        auto *box = new QGroupBox(QString::fromLatin1(boxTitles[c]), client);
        box->setObjectName(QString::fromLatin1(boxNames[c]));
        box->setGeometry(S(4) + c * (panelWidth + S(4)), panelTop, panelWidth, panelHeight);
        *boxes[c] = box;

        MakeLabel(box, QStringLiteral("Mode:"), labelLeft, S(18), fitted("Mode:", S(60)), S(16));
        auto *mode = new QComboBox(box);
        mode->setObjectName(QString::fromLatin1(modeNames[c]));
        mode->setProperty("Tag", ControlTag(c, PX418_OUT_MODE));
        mode->addItems({QStringLiteral("A.B.C"), QStringLiteral("A+B+C")});
        mode->setCurrentIndex(0);
        mode->setGeometry(labelLeft, S(34), panelWidth - S(16), S(24));
        *modes[c] = mode;

        auto *freq = MakeField(box, freqNames[c], c, PX418_OUT_FREQUENCY, 9, 50);
        freq->setFont(freqFont);
        // Navy digits while the field can be used; a disabled field (Review
        // Mode) keeps the style's disabled colour like every other control.
        QPalette pal = freq->palette();
        pal.setColor(QPalette::Active, QPalette::Text, QColor(0, 0, 128));
        pal.setColor(QPalette::Inactive, QPalette::Text, QColor(0, 0, 128));
        freq->setPalette(pal);
        freq->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        freq->setGeometry(S(6), S(62), S(124), S(34));
        freq->resize(std::max(freq->width(), EditWidthFor(freq, QStringLiteral("3000.000"))),
                     freq->height());
        *freqs[c] = freq;
        MakeLabel(box, QStringLiteral("Hz"), freq->x() + freq->width() + S(2), S(72),
                  fitted("Hz", S(16)), S(16));

        // The phase and amplitude fields end at the same place.
        auto *phase = MakeField(box, phaseNames[c], c, PX418_OUT_PHASE, 9, 0);
        auto *ampl = MakeField(box, amplNames[c], c, PX418_OUT_AMPLITUDE, 3, 10);
        const int fieldWidth =
            std::max({S(130) - fieldLeft, EditWidthFor(phase, QStringLiteral("-360.0")),
                      EditWidthFor(ampl, QStringLiteral("10.00"))});
        const int unitLeft = fieldLeft + fieldWidth + S(3);

        MakeLabel(box, QStringLiteral("Phase:"), labelLeft, S(102), labelWidth, S(22));
        phase->setGeometry(fieldLeft, S(102), fieldWidth, S(22));
        *phases[c] = phase;
        MakeLabel(box, QStringLiteral("\u00B0"), unitLeft, S(102), fitted("\u00B0", S(14)), S(22));

        auto *level =
            MakeLabel(box, QStringLiteral("Amplitude:"), labelLeft, S(130), labelWidth, S(22));
        level->setObjectName(QString::fromLatin1(levelNames[c]));
        *levels[c] = level;
        ampl->setGeometry(fieldLeft, S(130), fieldWidth, S(22));
        *ampls[c] = ampl;
        MakeLabel(box, QStringLiteral("V"), unitLeft, S(130), fitted("V", S(14)), S(22));

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
    const int presetsLeft = S(4) + 3 * (panelWidth + S(4));
    GroupBox3->setGeometry(presetsLeft, panelTop, S(kClientWidth) - presetsLeft - S(4),
                           panelHeight);
    const int presetsInner = GroupBox3->width() - S(16);
    cbPre = new QComboBox(GroupBox3);
    cbPre->setObjectName(QStringLiteral("cbPre"));
    for (int i = 0; i < PX418_PRESET_SLOTS; ++i) {
        cbPre->addItem(QString::number(i));
    }
    cbPre->setCurrentIndex(0);
    cbPre->setGeometry(S(8), S(34), presetsInner, S(24));
    btRead = new QPushButton(QStringLiteral("Read"), GroupBox3);
    btRead->setObjectName(QStringLiteral("btRead"));
    btRead->setGeometry(S(8), S(70), presetsInner, S(26));
    btSave = new QPushButton(QStringLiteral("Save"), GroupBox3);
    btSave->setObjectName(QStringLiteral("btSave"));
    btSave->setGeometry(S(8), S(104), presetsInner, S(26));
    connect(btRead, &QPushButton::clicked, this, [this] { Guarded([this] { btReadClick(); }); });
    connect(btSave, &QPushButton::clicked, this, [this] { Guarded([this] { btSaveClick(); }); });

    StatusBar = statusBar();
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    StatusBar->setSizeGripEnabled(false);
    StatusBar->setFixedHeight(Scaled(kStatusHeight, FScale));
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

    // The file dialogs are made on first use (main_form_files.cpp): each one
    // costs start-up time, memory and threads that watch the folder.
    // The wheel only for the focused control, Enter clicks a focused button.
    ApplyOperatorInputRules(this);
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
    mnControl->addSeparator();
    mnSequence = addItem(mnControl, "mnSequence", QStringLiteral("Sequence..."),
                         QKeySequence(Qt::CTRL | Qt::Key_T), &TMainForm::mnSequenceClick);

    BuildView();

    mnHelp = menuBar()->addMenu(QStringLiteral("Help"));
    mnHelp->setObjectName(QStringLiteral("mnHelp"));
    mnAbout = addItem(mnHelp, "mnAbout", QStringLiteral("About"), QKeySequence(Qt::Key_F1),
                      &TMainForm::mnAboutClick);

    // The menus from the keyboard, their captions unchanged: Alt with a
    // caption's first letter opens that menu where no item has taken the
    // chord (View's V belongs to Review Mode), F10 opens the first one; the
    // arrow keys then move along the menu bar.
    auto opensMenu = [this](QMenu *menu, const QKeySequence &keys) {
        auto *shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this,
                [this, menu] { menuBar()->setActiveAction(menu->menuAction()); });
    };
    opensMenu(mnFille, QKeySequence(Qt::ALT | Qt::Key_F));
    opensMenu(mnFille, QKeySequence(Qt::Key_F10));
    opensMenu(mnControl, QKeySequence(Qt::ALT | Qt::Key_C));
    opensMenu(mnHelp, QKeySequence(Qt::ALT | Qt::Key_H));
}

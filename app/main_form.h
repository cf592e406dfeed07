// TMainForm: the main window. It keeps the program's copy of the
// generator's output settings (the parameter table), shows it in three
// output panels, sends every change to the device at once, runs the
// connection with the device on a 100 ms timer, and keeps the settings and
// parameter files.
//
// The window wires and delegates: the table's conversions live in
// core/param_table, the files' contents in core/param_file, the settings
// file's place in core/settings_location. main_form_build.cpp builds the
// controls and menus, main_form_files.cpp runs the file commands, and
// main_form.cpp holds the handlers and the connection.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include <QMainWindow>

#include "floatedit.h"
#include "param_table.h"

class QAction;
class QComboBox;
class QFileDialog;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QStatusBar;
class QTimer;
class SectionedText;
class TPhasorForm;
class TSequenceForm;

class TMainForm : public QMainWindow {
public:
    // The settings file is `settingsPath`, or, when it is empty, the one that
    // DefaultSettingsPath() names. Runs FormCreate; sends nothing.
    explicit TMainForm(QWidget *parent = nullptr, const QString &settingsPath = {});
    ~TMainForm() override;

    // The settings file of the running program (SettingsPathForProgram of
    // this program file).
    static QString DefaultSettingsPath();

    QString SettingsFileName() const { return FSettingsPath; }
    // The folder in which the Open and Save dialogs start.
    QString FilesFolder() const;
    // Status bar text: "OFF-Line" or "ON-Line".
    QString StatusText() const;

    // Runs a prepared file dialog and answers whether the operator accepted
    // it. Tests replace it to choose a file without a modal dialog.
    std::function<bool(QFileDialog &)> ExecFileDialog;

    // Controls, named as they are bound.
    QGroupBox *GroupBox1 = nullptr, *GroupBox2 = nullptr, *GroupBox4 = nullptr;
    QGroupBox *GroupBox3 = nullptr;
    QComboBox *cbMa = nullptr, *cbMb = nullptr, *cbMc = nullptr;
    TFloatEdit *feFa = nullptr, *feFb = nullptr, *feFc = nullptr;
    TFloatEdit *fePa = nullptr, *fePb = nullptr, *fePc = nullptr;
    TFloatEdit *feAa = nullptr, *feAb = nullptr, *feAc = nullptr;
    QLabel *lbLevelA = nullptr, *lbLevelB = nullptr, *lbLevelC = nullptr;
    QComboBox *cbPre = nullptr;
    QPushButton *btRead = nullptr, *btSave = nullptr;
    QStatusBar *StatusBar = nullptr;
    QTimer *Timer1 = nullptr;
    // Made anew for each use and destroyed after it (nullptr otherwise): a
    // dialog kept after its name completer took the Enter that accepted it
    // leaves this window deaf to the mouse (Qt 6.4), and one kept between
    // uses watches its folder all along.
    QFileDialog *OpenDialog = nullptr, *SaveDialog = nullptr;

    QMenu *mnFille = nullptr, *mnControl = nullptr, *mnHelp = nullptr;
    QAction *mnOpen = nullptr, *mnSaveAs = nullptr, *mnExit = nullptr;
    QAction *mnLock = nullptr, *mnMute = nullptr, *mnReview = nullptr;
    QAction *mnRecall = nullptr, *mnReload = nullptr;
    QAction *Autorecall = nullptr, *Autoreload = nullptr;
    QAction *mnRms = nullptr, *Settings = nullptr, *mnAbout = nullptr;
    QAction *mnSequence = nullptr;
    QMenu *mnView = nullptr;
    QAction *mnPhasors = nullptr;

    // The phasor view: a window of its own, hidden while not shown. It
    // follows the table and the on-line state and never talks to the device.
    TPhasorForm *PhasorForm = nullptr;
    // The sequence window, made on first use and kept (hidden) when closed.
    TSequenceForm *SequenceForm = nullptr;

    // State.
    bool FOnLine = false;
    bool FUpdate = false;
    bool FLock = false;
    ParamTable FParams{};
    bool FMute = false;

    // The parameter model.
    void UpdateControls();
    // Stores the field's value in the table, rounded as its text reads;
    // `value` is the value in device units before rounding.
    void EditToParam(TFloatEdit *edit, int &channel, int &quantity, double &value);
    void ComboToParam(QComboBox *combo, int &channel, int &quantity, int &index);
    static std::int32_t RoundValue(double x);

    // The connection.
    void RecallParams();
    void ReloadParams();

    // Files.
    void ReadSettings();
    void WriteSettings();
    void ReadParamsFile(const QString &path);
    void WriteParamsFile(const QString &path);

    // Handlers, named as they are bound.
    void FormCreate();
    void FormClose();
    void Timer1Timer();
    void feWaEnter(QObject *Sender);
    void feWaChanged(QObject *Sender);
    void cbMaEnter(QObject *Sender);
    void cbMaChange(QObject *Sender);
    void mnOpenClick();
    void mnSaveAsClick();
    void mnExitClick();
    void mnLockClick();
    void mnReviewClick();
    void mnRecallClick();
    void mnReloadClick();
    void mnRmsClick();
    void SettingsClick();
    void mnAboutClick();
    void mnPhasorsClick();
    void mnSequenceClick();
    void btReadClick();
    void btSaveClick();

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void BuildControls();
    void BuildMenus();
    TFloatEdit *MakeField(QWidget *panel, const char *name, int channel, int quantity,
                          std::uint8_t precision, double value);
    void SetStatus(const QString &text);
    void SetPanelsEnabled(bool enabled);
    void SetLevelLabels();
    void ShowAmplitude(TFloatEdit *field, std::int32_t entry);
    void ApplyParams(const ParamTable &table);
    void GoOffLine();
    // The work of the field and list handlers: store the control's value in
    // the table and send it with these flag bits.
    void SendField(QObject *Sender, std::int32_t flags);
    void SendMode(QObject *Sender, std::int32_t flags);
    // Bit 7, and bit 6 unless muted: the flags of a focus-entry write.
    std::int32_t EntryFlags() const;
    void SaveWithErrorBox(const SectionedText &file, const QString &path);
    // The phasor view (main_form_view.cpp): its menu and window, what it is
    // told after every refresh and change of the on-line state, where it
    // opens, and its keys in the settings file.
    void BuildView();
    void ShowInView();
    void ShowView();
    void HideView();
    // This window's frame, with the allowance before it is framed.
    QRect MainFrame() const;
    // Where the view opens beside this window: frame top left, client size.
    QRect ViewBeside() const;
    void ReadViewKeys(const SectionedText &ini);
    void WriteViewKeys(SectionedText &ini) const;
    // While a sequence runs, the panels and the commands that write the
    // outputs take no input.
    void SetSequenceRunning(bool running);
    // Moves the window onto a screen when its title bar lies on none.
    void KeepOnScreen();

    // Client area of the window, menu bar not included, in the usual
    // desktop font; a larger font scales it by FScale.
    static constexpr int kClientWidth = 569;
    static constexpr int kClientHeight = 195;
    static constexpr int kStatusHeight = 20;
    double FScale = 1;

    QString FSettingsPath;
    QString FOpenName;  // the name last chosen in Open..., proposed the next time
    QLabel *FStatusLabel = nullptr;
    bool FClosed = false;
    bool FViewPlaced = false;    // the view has a place: stored, or beside this window
    bool FViewRestored = false;  // shown with the window if the settings say so
    bool FSequenceRunning = false;
};

// The main window of the running program.
extern TMainForm *MainForm;

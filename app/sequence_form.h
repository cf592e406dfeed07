// TSequenceForm: the sequence window (Control > Sequence...). A table of
// states (name, duration or manual, the mode and the nine quantities, empty
// where a state leaves a value as it was), rows added, inserted, deleted and
// moved; sequence files opened and saved; Run, Next (ends a manual state)
// and Stop (Escape); the run's log saved as CSV.
//
// The window only drives the run (core/sequencer) and shows what it
// reports. Its writes go through the device link library on the window
// thread, between the main window's polls. The main window is reached
// through SequenceHost: whether it is on line, its Recall, the table in
// effect to show, and whether a run goes on (its panels take no input then).
#pragma once

#include <functional>
#include <memory>

#include <QWidget>

#include "param_table.h"
#include "sequence.h"
#include "sequencer.h"

class QComboBox;
class QFileDialog;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QTableWidgetItem;
class QTimer;

struct SequenceHost {
    std::function<bool()> online;
    // Reads the generator's settings into the main window; what it read.
    std::function<ParamTable()> recall;
    // The settings in effect after a write of the run.
    std::function<void(const ParamTable &)> show;
    std::function<void(bool running)> running;
};

class TSequenceForm : public QWidget {
public:
    TSequenceForm(QWidget *parent, SequenceHost host);
    ~TSequenceForm() override;

    // Runs a prepared file dialog and answers whether the operator accepted
    // it. Tests replace it to choose a file without a modal dialog.
    std::function<bool(QFileDialog &)> ExecFileDialog;
    // Asks whether to save a table that holds changes not saved; tests
    // replace it to answer without a modal box.
    enum class SaveAnswer { Save, Discard, Cancel };
    std::function<SaveAnswer()> AskSaveChanges;

    // The table differs from the file last opened or saved (or, before
    // either, from the empty table).
    bool Modified() const;
    // Before the program closes: a table with changes that are not saved is
    // saved or dropped as the operator answers. False when closing must not
    // go on: the operator cancelled, or chose no file, or the file could not
    // be written (that error has been shown).
    bool ConfirmClose();

    // The sequence the table holds; throws Exception naming the row and the
    // column at fault (and selects the cell).
    Sequence TableSequence();
    void ShowSequence(const Sequence &sequence);
    bool Running() const { return FRun != nullptr; }
    // Stops a run that goes on, with its end settings (the main window
    // closing).
    void StopRun();
    const SequenceLog &Log() const { return FLog; }
    // Where the file dialogs start until one has been used.
    void SetFilesFolder(const QString &folder) { FFolder = folder; }

    // Controls, named as they are bound.
    QPushButton *btOpen = nullptr, *btSaveAs = nullptr;
    QPushButton *btAdd = nullptr, *btInsert = nullptr, *btDelete = nullptr;
    QPushButton *btUp = nullptr, *btDown = nullptr;
    QSpinBox *seRepeat = nullptr;
    QComboBox *cbEnd = nullptr;
    QTableWidget *tbStates = nullptr;
    QPushButton *btRun = nullptr, *btNext = nullptr, *btStop = nullptr, *btSaveLog = nullptr;
    QProgressBar *pbRun = nullptr;
    QLabel *lbState = nullptr;

    // Handlers.
    void btOpenClick();
    void btSaveAsClick();
    void btAddClick();
    void btInsertClick();
    void btDeleteClick();
    void btUpClick();
    void btDownClick();
    void btRunClick();
    void btNextClick();
    void btStopClick();
    void btSaveLogClick();
    // Save as...: false when no file was chosen.
    bool SaveAs();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void BuildControls();
    void SetRow(int row, const StateRow &state);
    void InsertRow(int row, const StateRow &state);
    void MoveRow(int from, int to);
    StateRow RowText(int row) const;
    // Checks a cell as it is edited: a value the run would refuse is marked,
    // a good one shown as the run will write it.
    void tbStatesItemChanged(QTableWidgetItem *item);
    void FillEndStates();
    QString UniqueName() const;
    void SetEditing(bool enabled);
    // Does what is due and arms the timer for what comes next.
    void Step();
    // Shows the table in effect in the main window, and the progress.
    void ShowRun();
    void ShowProgress();
    void Finish();
    void MarkRow(int row);
    QString ChooseFile(const QString &title, const QString &filter, const QString &suffix,
                       bool save);

    SequenceHost FHost;
    std::unique_ptr<Sequencer> FRun;
    SequenceLog FLog;
    QTimer *FDue = nullptr;    // the next thing due
    QTimer *FClock = nullptr;  // the time left, shown while a run goes on
    int FMarked = -1;
    bool FTableShown = true;
    SequenceTime FShownAt{};
    bool FUpdate = false;
    QString FFolder;
    // Every cell's text, the repeat and the end state: what Modified compares.
    QStringList Contents() const;
    QStringList FSaved;
};

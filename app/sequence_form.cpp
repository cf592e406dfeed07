#include "sequence_form.h"

#include <algorithm>
#include <cmath>

#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "commands.h"
#include "errors.h"
#include "flag_scope.h"
#include "inifile.h"
#include "operator_input.h"
#include "output_words.h"
#include "param_runs.h"
#include "sequence_file.h"

namespace {

// A state that follows the one before within kShowSoon is shown with the
// next refresh, at most kShowEvery later.
constexpr SequenceTime kShowSoon = std::chrono::milliseconds(20);
constexpr SequenceTime kShowEvery = std::chrono::milliseconds(50);

// The entry of the end list that stands for the settings from before the
// run; the others are the states' names.
const QString kBeforeTheRun = QStringLiteral("(as before the run)");

SequenceTime SteadyNow()
{
    return std::chrono::duration_cast<SequenceTime>(
        std::chrono::steady_clock::now().time_since_epoch());
}

QString Seconds(SequenceTime t)
{
    return QString::number(std::chrono::duration<double>(t).count(), 'f', 3);
}

QString ColumnName(int column)
{
    if (column == kNameColumn) {
        return QStringLiteral("Name");
    }
    if (column == kDurationColumn) {
        return QStringLiteral("Duration");
    }
    return ValueKey(column - kFirstValueColumn);
}

// The unit on a line of its own: the table holds volts peak while the main
// window may show RMS, so the header says which.
QString ColumnTitle(int column)
{
    if (column == kNameColumn) {
        return ColumnName(column);
    }
    const std::string unit = column == kDurationColumn
                                 ? std::string("ms")
                                 : UnitOf(SlotOf(column - kFirstValueColumn).quantity, false);
    return unit.empty() ? ColumnName(column)
                        : ColumnName(column) + QLatin1Char('\n') + QString::fromStdString(unit);
}

QString ColumnTip(int column)
{
    if (column == kNameColumn) {
        return QStringLiteral("The state's name, one of its kind");
    }
    if (column == kDurationColumn) {
        return QStringLiteral("Milliseconds, 0 to %1, or manual (Next ends it)").arg(kMaxHoldMs);
    }
    const int quantity = SlotOf(column - kFirstValueColumn).quantity;
    QString tip = QString::fromStdString(AllowedRange(quantity, false));
    if (quantity != PX418_OUT_MODE) {
        tip += QStringLiteral("; a ramp: FROM to TO step S every MS");
    }
    return tip + QStringLiteral("; empty: as the state before left it");
}

}  // namespace

TSequenceForm::TSequenceForm(QWidget *parent, SequenceHost host)
    : QWidget(parent, Qt::Window),
      ExecFileDialog([](QFileDialog &dialog) { return dialog.exec() == QDialog::Accepted; }),
      FHost(std::move(host))
{
    setObjectName(QStringLiteral("SequenceForm"));
    setWindowTitle(QStringLiteral("Sequence"));
    AskSaveChanges = [this] {
        const QMessageBox::StandardButton answer = QMessageBox::question(
            this, ApplicationTitle(),
            QStringLiteral("The sequence has changes that are not saved. Save them?"),
            QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
        return answer == QMessageBox::Save      ? SaveAnswer::Save
               : answer == QMessageBox::Discard ? SaveAnswer::Discard
                                                : SaveAnswer::Cancel;
    };
    BuildControls();
    ApplyOperatorInputRules(this);
    resize(900, 300);
    FSaved = Contents();
}

TSequenceForm::~TSequenceForm()
{
    // The end settings still go out; the main window is not told, since it
    // may be going away itself.
    if (FRun) {
        FRun->Stop();
    }
}

void TSequenceForm::BuildControls()
{
    auto button = [this](const QString &text, const char *name, void (TSequenceForm::*handler)()) {
        auto *b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        connect(b, &QPushButton::clicked, this,
                [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
        return b;
    };
    btOpen = button(QStringLiteral("&Open..."), "btOpen", &TSequenceForm::btOpenClick);
    btSaveAs = button(QStringLiteral("Save &as..."), "btSaveAs", &TSequenceForm::btSaveAsClick);
    btAdd = button(QStringLiteral("A&dd"), "btAdd", &TSequenceForm::btAddClick);
    btInsert = button(QStringLiteral("&Insert"), "btInsert", &TSequenceForm::btInsertClick);
    btDelete = button(QStringLiteral("De&lete"), "btDelete", &TSequenceForm::btDeleteClick);
    btUp = button(QStringLiteral("&Up"), "btUp", &TSequenceForm::btUpClick);
    btDown = button(QStringLiteral("Do&wn"), "btDown", &TSequenceForm::btDownClick);
    btInsert->setToolTip(QStringLiteral("Insert a state above the current one (Ins)"));
    btDelete->setToolTip(QStringLiteral("Delete the selected states (Ctrl+Del); Del empties the "
                                        "selected values"));
    btUp->setToolTip(QStringLiteral("Move the state up (Ctrl+Up)"));
    btDown->setToolTip(QStringLiteral("Move the state down (Ctrl+Down)"));

    seRepeat = new QSpinBox(this);
    seRepeat->setObjectName(QStringLiteral("seRepeat"));
    seRepeat->setRange(1, kMaxRepeat);
    auto *repeatLabel = new QLabel(QStringLiteral("Re&peat:"), this);
    repeatLabel->setBuddy(seRepeat);
    cbEnd = new QComboBox(this);
    cbEnd->setObjectName(QStringLiteral("cbEnd"));
    cbEnd->setToolTip(QStringLiteral("What the generator is set to when the run ends or is "
                                     "stopped"));
    cbEnd->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    auto *endLabel = new QLabel(QStringLiteral("&End with:"), this);
    endLabel->setBuddy(cbEnd);

    tbStates = new QTableWidget(0, kStateColumns, this);
    tbStates->setObjectName(QStringLiteral("tbStates"));
    for (int c = 0; c < kStateColumns; ++c) {
        auto *header = new QTableWidgetItem(ColumnTitle(c));
        header->setToolTip(ColumnTip(c));
        tbStates->setHorizontalHeaderItem(c, header);
    }
    tbStates->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    // Columns fit the first rows, not all of a long sequence.
    tbStates->horizontalHeader()->setResizeContentsPrecision(100);
    tbStates->horizontalHeader()->setMinimumSectionSize(
        tbStates->fontMetrics().horizontalAdvance(QStringLiteral("-360.0 ")));
    tbStates->setSelectionBehavior(QAbstractItemView::SelectItems);
    // Room for the mark of the state in effect, so that the columns stay put.
    tbStates->verticalHeader()->setMinimumWidth(
        tbStates->fontMetrics().horizontalAdvance(QStringLiteral("\u25B6 99999")));
    tbStates->installEventFilter(this);
    connect(tbStates, &QTableWidget::itemChanged, this, [this](QTableWidgetItem *item) {
        Guarded([this, item] { tbStatesItemChanged(item); });
    });

    btRun = button(QStringLiteral("&Run"), "btRun", &TSequenceForm::btRunClick);
    btNext = button(QStringLiteral("&Next"), "btNext", &TSequenceForm::btNextClick);
    btStop = button(QStringLiteral("Stop (Esc)"), "btStop", &TSequenceForm::btStopClick);
    btSaveLog = button(QStringLiteral("&Save log..."), "btSaveLog", &TSequenceForm::btSaveLogClick);
    btNext->setEnabled(false);
    btStop->setEnabled(false);
    btSaveLog->setEnabled(false);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] {
        if (Running()) {
            Guarded([this] { btStopClick(); });
        }
    });
    pbRun = new QProgressBar(this);
    pbRun->setObjectName(QStringLiteral("pbRun"));
    pbRun->setRange(0, 1000);
    pbRun->setValue(0);
    lbState = new QLabel(this);
    lbState->setObjectName(QStringLiteral("lbState"));
    lbState->setMinimumWidth(lbState->fontMetrics().averageCharWidth() * 40);

    auto *top = new QHBoxLayout;
    for (QWidget *w : std::initializer_list<QWidget *>{btOpen, btSaveAs, btAdd, btInsert, btDelete,
                                                       btUp, btDown}) {
        top->addWidget(w);
    }
    top->addStretch(1);
    top->addWidget(repeatLabel);
    top->addWidget(seRepeat);
    top->addWidget(endLabel);
    top->addWidget(cbEnd);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(btRun);
    bottom->addWidget(btNext);
    bottom->addWidget(btStop);
    bottom->addWidget(pbRun, 1);
    bottom->addWidget(lbState, 2);
    bottom->addWidget(btSaveLog);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(tbStates, 1);
    layout->addLayout(bottom);

    FDue = new QTimer(this);
    FDue->setSingleShot(true);
    FDue->setTimerType(Qt::PreciseTimer);
    connect(FDue, &QTimer::timeout, this, [this] { Guarded([this] { Step(); }); });
    FClock = new QTimer(this);
    FClock->setInterval(100);
    connect(FClock, &QTimer::timeout, this, [this] { Guarded([this] { ShowRun(); }); });

    FillEndStates();
}

// ---------------------------------------------------------------------------
// The table

StateRow TSequenceForm::RowText(int row) const
{
    const auto text = [this, row](int column) {
        const QTableWidgetItem *item = tbStates->item(row, column);
        return item ? item->text() : QString();
    };
    StateRow state;
    state.name = text(kNameColumn);
    state.duration = text(kDurationColumn);
    for (int v = 0; v < kSequenceValues; ++v) {
        state.values[v] = text(kFirstValueColumn + v);
    }
    return state;
}

void TSequenceForm::SetRow(int row, const StateRow &state)
{
    tbStates->setItem(row, kNameColumn, new QTableWidgetItem(state.name));
    tbStates->setItem(row, kDurationColumn, new QTableWidgetItem(state.duration));
    for (int v = 0; v < kSequenceValues; ++v) {
        tbStates->setItem(row, kFirstValueColumn + v, new QTableWidgetItem(state.values[v]));
    }
}

void TSequenceForm::InsertRow(int row, const StateRow &state)
{
    FlagScope guard(FUpdate);
    tbStates->insertRow(row);
    SetRow(row, state);
}

void TSequenceForm::MoveRow(int from, int to)
{
    if (from < 0 || to < 0 || from >= tbStates->rowCount() || to >= tbStates->rowCount()) {
        return;
    }
    const int column = std::max(tbStates->currentColumn(), 0);
    const StateRow state = RowText(from);
    {
        FlagScope guard(FUpdate);
        tbStates->removeRow(from);
    }
    InsertRow(to, state);
    tbStates->setCurrentCell(to, column);
    FillEndStates();
}

QString TSequenceForm::UniqueName() const
{
    for (int n = tbStates->rowCount() + 1;; ++n) {
        const QString name = QStringLiteral("State %1").arg(n);
        bool taken = false;
        for (int r = 0; r < tbStates->rowCount() && !taken; ++r) {
            taken = RowText(r).name.trimmed().compare(name, Qt::CaseInsensitive) == 0;
        }
        if (!taken) {
            return name;
        }
    }
}

void TSequenceForm::tbStatesItemChanged(QTableWidgetItem *item)
{
    if (FUpdate) {
        return;
    }
    FlagScope guard(FUpdate);
    const int column = item->column();
    QString why;
    QString shown = item->text();
    bool good = true;
    if (column == kNameColumn) {
        shown = shown.trimmed();
        good = !shown.isEmpty();
        why = QStringLiteral("a state needs a name");
    } else if (column == kDurationColumn) {
        SequenceState state;
        good = ParseDurationText(shown, state, why);
        if (good) {
            shown = DurationText(state);
        }
    } else if (!shown.trimmed().isEmpty()) {
        const int v = column - kFirstValueColumn;
        const std::optional<StateValue> value = ParseValueText(v, shown, why);
        good = value.has_value();
        if (good) {
            shown = ValueText(v, *value);
        }
    } else {
        shown.clear();
    }
    item->setText(shown);
    item->setToolTip(good ? QString() : why);
    item->setBackground(good ? QBrush() : QBrush(QColor(255, 200, 200)));
    if (column == kNameColumn) {
        FillEndStates();
    }
}

void TSequenceForm::FillEndStates()
{
    const QString chosen = cbEnd->currentText();
    cbEnd->clear();
    cbEnd->addItem(kBeforeTheRun);
    for (int r = 0; r < tbStates->rowCount(); ++r) {
        const QString name = RowText(r).name.trimmed();
        if (!name.isEmpty()) {
            cbEnd->addItem(name);
        }
    }
    cbEnd->setCurrentIndex(std::max(cbEnd->findText(chosen), 0));
}

Sequence TSequenceForm::TableSequence()
{
    Sequence sequence;
    for (int r = 0; r < tbStates->rowCount(); ++r) {
        int column = 0;
        QString why;
        const std::optional<SequenceState> state = StateOf(RowText(r), column, why);
        if (!state) {
            tbStates->setCurrentCell(r, column);
            throw Exception(QStringLiteral("State %1, %2: %3.")
                                .arg(QString::number(r + 1), ColumnName(column), why));
        }
        sequence.states.push_back(*state);
    }
    sequence.repeat = seRepeat->value();
    if (cbEnd->currentIndex() > 0) {
        sequence.endState = cbEnd->currentText();
    }
    if (const std::optional<SequenceFault> fault = CheckSequence(sequence)) {
        if (fault->state >= 0) {
            tbStates->setCurrentCell(fault->state, kNameColumn);
        }
        throw Exception(fault->reason.left(1).toUpper() + fault->reason.mid(1) + QLatin1Char('.'));
    }
    return sequence;
}

void TSequenceForm::ShowSequence(const Sequence &sequence)
{
    {
        FlagScope guard(FUpdate);
        // All rows at once: ten thousand states inserted one by one would
        // take the table seconds.
        tbStates->setRowCount(0);
        tbStates->setRowCount(static_cast<int>(sequence.states.size()));
        for (std::size_t r = 0; r < sequence.states.size(); ++r) {
            SetRow(static_cast<int>(r), RowOf(sequence.states[r]));
        }
    }
    seRepeat->setValue(sequence.repeat);
    FillEndStates();
    const int end =
        sequence.endState.isEmpty() ? 0 : cbEnd->findText(sequence.endState, Qt::MatchFixedString);
    cbEnd->setCurrentIndex(std::max(end, 0));
    tbStates->resizeColumnsToContents();
    if (tbStates->rowCount() > 0) {
        tbStates->setCurrentCell(0, 0);
    }
    FSaved = Contents();
}

bool TSequenceForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != tbStates || event->type() != QEvent::KeyPress || Running()) {
        return QWidget::eventFilter(watched, event);
    }
    const auto *key = static_cast<QKeyEvent *>(event);
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    if (key->key() == Qt::Key_Insert && mods == Qt::NoModifier) {
        Guarded([this] { btInsertClick(); });
        return true;
    }
    if (key->key() == Qt::Key_Delete && mods == Qt::ControlModifier) {
        Guarded([this] { btDeleteClick(); });
        return true;
    }
    if (key->key() == Qt::Key_Delete && mods == Qt::NoModifier) {
        // Empties the selected values: the states leave them as they were.
        for (QTableWidgetItem *item : tbStates->selectedItems()) {
            if (item->column() >= kFirstValueColumn) {
                item->setText(QString());
            }
        }
        return true;
    }
    if ((key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) && mods == Qt::ControlModifier) {
        Guarded([this, key] { key->key() == Qt::Key_Up ? btUpClick() : btDownClick(); });
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TSequenceForm::btAddClick()
{
    StateRow state;
    state.name = UniqueName();
    state.duration = QStringLiteral("1000");
    InsertRow(tbStates->rowCount(), state);
    tbStates->setCurrentCell(tbStates->rowCount() - 1, kNameColumn);
    FillEndStates();
}

void TSequenceForm::btInsertClick()
{
    StateRow state;
    state.name = UniqueName();
    state.duration = QStringLiteral("1000");
    const int row = std::max(tbStates->currentRow(), 0);
    InsertRow(row, state);
    tbStates->setCurrentCell(row, kNameColumn);
    FillEndStates();
}

void TSequenceForm::btDeleteClick()
{
    std::vector<int> rows;
    for (const QTableWidgetSelectionRange &range : tbStates->selectedRanges()) {
        for (int r = range.topRow(); r <= range.bottomRow(); ++r) {
            rows.push_back(r);
        }
    }
    if (rows.empty() && tbStates->currentRow() >= 0) {
        rows.push_back(tbStates->currentRow());
    }
    std::sort(rows.rbegin(), rows.rend());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    {
        FlagScope guard(FUpdate);
        for (const int r : rows) {
            tbStates->removeRow(r);
        }
    }
    FillEndStates();
}

void TSequenceForm::btUpClick()
{
    MoveRow(tbStates->currentRow(), tbStates->currentRow() - 1);
}

void TSequenceForm::btDownClick()
{
    MoveRow(tbStates->currentRow(), tbStates->currentRow() + 1);
}

// ---------------------------------------------------------------------------
// Files

QString TSequenceForm::ChooseFile(const QString &title, const QString &filter,
                                  const QString &suffix, bool save)
{
    QFileDialog dialog(this, title, FFolder, filter);
    dialog.setObjectName(save ? QStringLiteral("SaveDialog") : QStringLiteral("OpenDialog"));
    dialog.setDefaultSuffix(suffix);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (!ExecFileDialog(dialog) || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    const QString path = QFileInfo(dialog.selectedFiles().first()).absoluteFilePath();
    FFolder = QFileInfo(path).absolutePath();
    return path;
}

void TSequenceForm::btOpenClick()
{
    const QString path =
        ChooseFile(QStringLiteral("Open sequence"), QStringLiteral("Sequence files (*.seq)"),
                   QStringLiteral("seq"), false);
    if (!path.isEmpty()) {
        // A refused file changes nothing in the table.
        ShowSequence(LoadSequenceFile(path));
    }
}

void TSequenceForm::btSaveAsClick()
{
    SaveAs();
}

bool TSequenceForm::SaveAs()
{
    const Sequence sequence = TableSequence();
    const QString path =
        ChooseFile(QStringLiteral("Save sequence as..."), QStringLiteral("Sequence files (*.seq)"),
                   QStringLiteral("seq"), true);
    if (path.isEmpty()) {
        return false;
    }
    SaveSequenceFile(path, sequence);
    FSaved = Contents();
    return true;
}

QStringList TSequenceForm::Contents() const
{
    QStringList contents;
    contents.reserve(tbStates->rowCount() * tbStates->columnCount() + 2);
    for (int r = 0; r < tbStates->rowCount(); ++r) {
        for (int c = 0; c < tbStates->columnCount(); ++c) {
            const QTableWidgetItem *item = tbStates->item(r, c);
            contents << (item ? item->text() : QString());
        }
    }
    contents << QString::number(seRepeat->value()) << cbEnd->currentText();
    return contents;
}

bool TSequenceForm::Modified() const
{
    return Contents() != FSaved;
}

bool TSequenceForm::ConfirmClose()
{
    if (!Modified()) {
        return true;
    }
    show();
    raise();
    activateWindow();
    switch (AskSaveChanges()) {
    case SaveAnswer::Save:
        return SaveAs();
    case SaveAnswer::Discard:
        return true;
    case SaveAnswer::Cancel:
        break;
    }
    return false;
}

void TSequenceForm::btSaveLogClick()
{
    const QString path =
        ChooseFile(QStringLiteral("Save log as..."), QStringLiteral("CSV files (*.csv)"),
                   QStringLiteral("csv"), true);
    if (!path.isEmpty()) {
        SaveFileAtomically(path, FLog.Csv());
    }
}

// ---------------------------------------------------------------------------
// The run

void TSequenceForm::SetEditing(bool enabled)
{
    for (QWidget *w : std::initializer_list<QWidget *>{btOpen, btSaveAs, btAdd, btInsert, btDelete,
                                                       btUp, btDown, seRepeat, cbEnd, btRun}) {
        w->setEnabled(enabled);
    }
    btSaveLog->setEnabled(enabled && !FLog.Entries().empty());
    btStop->setEnabled(!enabled);
    tbStates->setEditTriggers(enabled ? QAbstractItemView::DoubleClicked
                                            | QAbstractItemView::EditKeyPressed
                                            | QAbstractItemView::AnyKeyPressed
                                      : QAbstractItemView::NoEditTriggers);
}

void TSequenceForm::btRunClick()
{
    if (Running()) {
        return;
    }
    const Sequence sequence = TableSequence();
    if (!FHost.online()) {
        throw Exception(QStringLiteral("The generator is off line: a sequence runs on a "
                                       "generator that is on line."));
    }
    // The main window's panels give up a value being typed before the
    // generator's settings are read as the run's start.
    FHost.running(true);
    ParamTable before{};
    try {
        before = FHost.recall();
    } catch (...) {
        FHost.running(false);
        throw;
    }
    FLog.Clear();
    pbRun->setValue(0);
    FRun = std::make_unique<Sequencer>(sequence, before, SteadyNow, [this](const DeviceWrite &w) {
        // The library takes writes without effect while no generator is
        // open: off line, a write fails instead of passing for done.
        if (!FHost.online()) {
            throw EHardwareException(QStringLiteral("The generator is off line."));
        }
        SendWrite(w);
    });
    FRun->OnEntry = [this](const SequenceLogEntry &entry) {
        FLog.Add(entry);
        FTableShown = false;
    };
    FShownAt = SequenceTime{};
    SetEditing(false);
    FClock->start();
    Step();
}

void TSequenceForm::Step()
{
    if (!FRun) {
        return;
    }
    const Sequencer::Next next = FRun->Advance();
    if (next.wait == Sequencer::Wait::Done) {
        Finish();
        return;
    }
    SequenceTime left{};
    if (next.wait == Sequencer::Wait::Until) {
        // Never early: a timer that fires before the time only comes back.
        left = next.at - FRun->Elapsed();
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        FDue->start(static_cast<int>(std::clamp<std::int64_t>(ms, 0, kMaxHoldMs)));
    }
    // What took effect is shown at once, unless the next state follows
    // within a few milliseconds: then the windows catch up every
    // kShowEvery, so that drawing does not hold the run back.
    const bool soon = next.wait == Sequencer::Wait::Until && left < kShowSoon;
    if (!soon || FRun->Elapsed() - FShownAt >= kShowEvery) {
        ShowRun();
    }
}

void TSequenceForm::ShowRun()
{
    if (!FRun) {
        return;
    }
    if (!FTableShown) {
        FHost.show(FRun->Table());
        FTableShown = true;
    }
    FShownAt = FRun->Elapsed();
    ShowProgress();
}

void TSequenceForm::btNextClick()
{
    if (FRun && FRun->WaitingForOperator()) {
        FDue->stop();
        FRun->Continue();
        Step();
    }
}

void TSequenceForm::btStopClick()
{
    StopRun();
}

void TSequenceForm::StopRun()
{
    if (!FRun) {
        return;
    }
    FDue->stop();
    FRun->Stop();
    Finish();
}

void TSequenceForm::MarkRow(int row)
{
    if (FMarked == row) {
        return;
    }
    if (FMarked >= 0 && FMarked < tbStates->rowCount()) {
        tbStates->setVerticalHeaderItem(FMarked,
                                        new QTableWidgetItem(QString::number(FMarked + 1)));
    }
    FMarked = row;
    if (row >= 0 && row < tbStates->rowCount()) {
        tbStates->setVerticalHeaderItem(
            row, new QTableWidgetItem(QStringLiteral("\u25B6 %1").arg(row + 1)));
        tbStates->selectRow(row);
        tbStates->scrollToItem(tbStates->item(row, kNameColumn));
    }
}

void TSequenceForm::ShowProgress()
{
    if (!FRun) {
        return;
    }
    const Sequencer &run = *FRun;
    if (!run.Started() || run.Finished()) {
        return;
    }
    const SequenceTime now = run.Elapsed();
    pbRun->setValue(static_cast<int>(std::lround(run.Progress() * pbRun->maximum())));

    MarkRow(run.StateIndex());
    const Sequence &sequence = run.Source();
    QString text = QStringLiteral("%1 (%2 of %3")
                       .arg(sequence.states[run.StateIndex()].name)
                       .arg(run.StateIndex() + 1)
                       .arg(sequence.states.size());
    if (sequence.repeat > 1) {
        text += QStringLiteral(", pass %1 of %2").arg(run.Pass()).arg(sequence.repeat);
    }
    text += QStringLiteral("): ");
    if (run.WaitingForOperator()) {
        text += QStringLiteral("waiting for Next");
    } else if (const std::optional<SequenceTime> end = run.StateEnd()) {
        text += QStringLiteral("%1 s left").arg(Seconds(std::max(*end - now, SequenceTime{})));
    }
    lbState->setText(text);
    btNext->setEnabled(run.WaitingForOperator());
}

void TSequenceForm::Finish()
{
    if (!FRun) {
        return;
    }
    FDue->stop();
    FClock->stop();
    // Released before anything is shown, so that no second finish or step
    // can come from a nested event loop (the error box).
    const std::unique_ptr<Sequencer> run = std::move(FRun);
    MarkRow(-1);
    btNext->setEnabled(false);
    SetEditing(true);
    FHost.show(run->Table());
    FHost.running(false);
    if (!run->Stopped() && !run->Failure()) {
        pbRun->setValue(pbRun->maximum());
    }
    const int index = std::max(run->StateIndex(), 0);
    const QString where = run->Source().states[index].name;
    if (const std::optional<SequenceFailure> &f = run->Failure()) {
        QString text;
        if (f->state >= 0) {
            text = QStringLiteral("The sequence stopped in state \"%1\"").arg(f->name);
            if (run->Source().repeat > 1) {
                text += QStringLiteral(" (pass %1)").arg(f->pass);
            }
            text += QStringLiteral(": %1 failed: %2\n\n")
                        .arg(QString::fromStdString(DescribeWrite(f->write)), f->message);
            text += f->endMessage.isEmpty()
                        ? QStringLiteral("The end settings were written.")
                        : QStringLiteral("The end settings could not be written either: %1")
                              .arg(f->endMessage);
        } else {
            text = QStringLiteral("The end settings could not be written: %1: %2")
                       .arg(QString::fromStdString(DescribeWrite(f->write)), f->message);
        }
        lbState->setText(QStringLiteral("Failed in %1.").arg(where));
        ShowErrorBox(ApplicationTitle(), text, this);
        return;
    }
    lbState->setText(run->Stopped()
                         ? QStringLiteral("Stopped in %1 after %2 s; end settings written.")
                               .arg(where, Seconds(run->Elapsed()))
                         : QStringLiteral("Done in %1 s.").arg(Seconds(run->Elapsed())));
}

void TSequenceForm::closeEvent(QCloseEvent *event)
{
    Guarded([this] { StopRun(); });
    event->accept();
}

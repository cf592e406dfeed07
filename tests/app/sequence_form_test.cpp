// The sequence window on the virtual generator, as an operator uses it: Run,
// Next and Stop reaching the device through the main window's connection,
// one box for a failed write, and the keys that edit the table of states.
// What a run writes and when is the sequencer's, tested in tests/core.
#include "sequence_form.h"

#include <QAction>
#include <QFileDialog>
#include <QGroupBox>
#include <QPushButton>
#include <QTableWidget>

#include "main_window_fixture.h"
#include "sequence_file.h"
#include "wake_oracle.h"

namespace {

SequenceState State(const char *name, std::int64_t ms, int value, std::int32_t entry)
{
    SequenceState s;
    s.name = QString::fromLatin1(name);
    s.manual = ms < 0;
    s.durationMs = std::max<std::int64_t>(ms, 0);
    s.values[value] = StateValue{entry, std::nullopt};
    return s;
}

constexpr int kAAmpl = 3;  // ValueOf(0, PX418_OUT_AMPLITUDE)
constexpr int kBAmpl = 6;

}  // namespace

class SequenceFormTest : public MainWindowTest {
protected:
    TSequenceForm *Open()
    {
        form->mnSequence->trigger();
        TSequenceForm *sequence = form->SequenceForm;
        EXPECT_TRUE(Activate(sequence));
        return sequence;
    }

    bool PanelsTakeInput() const
    {
        return form->GroupBox1->isEnabled() && form->GroupBox3->isEnabled()
               && form->mnOpen->isEnabled();
    }

    // Types into a cell as an operator does: F2 opens its editor, Enter
    // ends it.
    static void TypeIntoCell(QTableWidget *table, int row, int column, const QString &text)
    {
        table->setFocus();
        table->setCurrentCell(row, column);
        QTest::keyClick(table, Qt::Key_F2);
        QWidget *editor = QApplication::focusWidget();
        ASSERT_NE(editor, table);
        QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(editor, text);
        QTest::keyClick(editor, Qt::Key_Return);
        // The delegate commits the editor's text through the event loop.
        QCoreApplication::processEvents();
    }
};

TEST_F(SequenceFormTest, RunNextAndStopReachTheDeviceWhileThePanelsRest)
{
    CreateOnLine();
    TSequenceForm *sequence = Open();
    Sequence s;
    s.states = {State("Sag", -1, kAAmpl, 300), State("Swell", 0, kBAmpl, 500)};
    sequence->ShowSequence(s);

    // Run: the first state at once, shown in the main window, whose panels
    // take no input while polling goes on.
    QTest::mouseClick(sequence->btRun, Qt::LeftButton);
    EXPECT_EQ(Writes(), (std::vector<Write>{{0, 0x83, 300}}));
    EXPECT_EQ(form->FParams[ParamIndex(0, PX418_OUT_AMPLITUDE)], 300);
    EXPECT_EQ(form->feAa->text(), QStringLiteral("2.12"));  // 3 V peak as RMS
    EXPECT_FALSE(PanelsTakeInput());
    EXPECT_TRUE(sequence->btNext->isEnabled());
    TheVirtualGenerator().ClearLog();
    Tick();
    EXPECT_EQ(Commands(), std::vector<int>{PX418_CMD_GET_MODE});
    EXPECT_EQ(form->StatusText(), QStringLiteral("ON-Line"));

    // Escape stops it: the settings from before the run come back.
    TheVirtualGenerator().ClearLog();
    ASSERT_TRUE(Activate(sequence));
    QTest::keyClick(sequence->tbStates, Qt::Key_Escape);
    EXPECT_EQ(Writes(), (std::vector<Write>{{0, 0x83, 1000}}));
    EXPECT_FALSE(sequence->Running());
    EXPECT_TRUE(PanelsTakeInput());
    EXPECT_EQ(form->FParams[ParamIndex(0, PX418_OUT_AMPLITUDE)], 1000);

    // Next ends the manual state; the run goes on to its end by itself.
    TheVirtualGenerator().ClearLog();
    QTest::mouseClick(sequence->btRun, Qt::LeftButton);
    QTest::mouseClick(sequence->btNext, Qt::LeftButton);
    QTRY_VERIFY(!sequence->Running());
    EXPECT_EQ(
        Writes(),
        (std::vector<Write>{
            {0, 0x83, 300}, {1, 0x83, 500}, {0, 0x03, 1000}, {1, 0x03, 1000}, {1, 0x83, 1000}}));
    EXPECT_EQ(sequence->Log().Entries().size(), 3u);
    EXPECT_TRUE(sequence->btSaveLog->isEnabled());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(SequenceFormTest, AFailedWriteStopsTheRunWithOneBox)
{
    Create();
    TSequenceForm *sequence = Open();
    Sequence s;
    s.states = {State("Sag", 0, kAAmpl, 300), State("Swell", 0, kBAmpl, 500)};
    sequence->ShowSequence(s);

    // Off line nothing can run: the library would take the writes without
    // effect.
    QTest::mouseClick(sequence->btRun, Qt::LeftButton);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.contains(QStringLiteral("off line")));
    EXPECT_TRUE(PanelsTakeInput());

    boxes.clear();
    Tick();
    TheVirtualGenerator().ClearLog();
    QTest::mouseClick(sequence->btRun, Qt::LeftButton);
    TheVirtualGenerator().ReplaceNextAnswer(oracle::Frame(PX418_CMD_SET_PAR, {PX418_ERR_BUSY}));
    QTRY_VERIFY(!sequence->Running());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              QStringLiteral("The sequence stopped in state \"Swell\": closing write "
                             "B ampl 5.00 V peak failed: Set parameter error: "
                             "device busy.\n\nThe end settings were written."));
    EXPECT_EQ(TheVirtualGenerator().State().active[0][PX418_OUT_AMPLITUDE], 1000);
    EXPECT_EQ(TheVirtualGenerator().State().active[1][PX418_OUT_AMPLITUDE], 1000);
    EXPECT_TRUE(PanelsTakeInput());
}

TEST_F(SequenceFormTest, TheTableIsEditedFromTheKeyboard)
{
    Create();
    TSequenceForm *sequence = Open();
    QTableWidget *table = sequence->tbStates;
    const auto names = [table] {
        QStringList out;
        for (int r = 0; r < table->rowCount(); ++r) {
            out << table->item(r, kNameColumn)->text();
        }
        return out;
    };
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Insert);
    QTest::keyClick(table, Qt::Key_Insert);
    EXPECT_EQ(names(), (QStringList{"State 2", "State 1"}));

    // A value is shown as it will be written; one out of range is marked
    // with the reason and refused when the run starts.
    TypeIntoCell(table, 0, kFirstValueColumn + 1, QStringLiteral("49.9996"));
    EXPECT_EQ(table->item(0, kFirstValueColumn + 1)->text(), QStringLiteral("50.000"));
    TypeIntoCell(table, 1, kFirstValueColumn + 1, QStringLiteral("4000"));
    EXPECT_TRUE(table->item(1, kFirstValueColumn + 1)->toolTip().contains("outside"));
    QTest::mouseClick(sequence->btRun, Qt::LeftButton);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.startsWith(QStringLiteral("State 2, A freq: 4000.000 is outside")));
    EXPECT_EQ(table->currentRow(), 1);

    // Del empties the value; Ctrl+Up and Ctrl+Down move the state, Ctrl+Del
    // deletes it.
    table->setCurrentCell(1, kFirstValueColumn + 1);
    QTest::keyClick(table, Qt::Key_Delete);
    EXPECT_EQ(table->item(1, kFirstValueColumn + 1)->text(), QString());
    QTest::keyClick(table, Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(names(), (QStringList{"State 1", "State 2"}));
    EXPECT_EQ(table->currentRow(), 0);
    QTest::keyClick(table, Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(names(), (QStringList{"State 2", "State 1"}));
    QTest::keyClick(table, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(names(), (QStringList{"State 2"}));
    EXPECT_EQ(sequence->TableSequence().states[0].values[1], (StateValue{50000, std::nullopt}));
}

TEST_F(SequenceFormTest, OpenAndSaveAsGoThroughTheFileDialogs)
{
    Create();
    TSequenceForm *sequence = Open();
    QString chosen;
    form->ExecFileDialog = [&chosen](QFileDialog &dialog) {
        dialog.selectFile(chosen);
        return true;
    };
    Sequence s;
    s.states = {State("Sag", -1, kAAmpl, 300), State("Swell", 250, kBAmpl, 500)};
    s.repeat = 2;
    s.endState = QStringLiteral("Sag");
    sequence->ShowSequence(s);
    chosen = FilePath(QStringLiteral("saved.seq"));
    sequence->btSaveAs->click();
    EXPECT_EQ(LoadSequenceFile(chosen), s);

    // A refused file leaves the table as it was, and says why.
    chosen = FilePath(QStringLiteral("bad.seq"));
    WriteFile(chosen, "[State X]\nDuration=-5\n");
    sequence->btOpen->click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.contains(QStringLiteral("line 2: the duration '-5' is out of range")))
        << boxes[0].text.toStdString();
    EXPECT_EQ(sequence->TableSequence(), s);

    chosen = FilePath(QStringLiteral("saved.seq"));
    sequence->ShowSequence(Sequence{});
    sequence->btOpen->click();
    EXPECT_EQ(sequence->TableSequence(), s);
    EXPECT_EQ(sequence->cbEnd->currentText(), QStringLiteral("Sag"));
}

TEST_F(SequenceFormTest, ClosingTheProgramWithChangesNotSavedAsksFirst)
{
    Create();
    TSequenceForm *sequence = Open();
    int asked = 0;
    auto answer = TSequenceForm::SaveAnswer::Cancel;
    sequence->AskSaveChanges = [&asked, &answer] {
        ++asked;
        return answer;
    };
    Sequence s;
    s.states = {State("Sag", 200, kAAmpl, 300)};
    sequence->ShowSequence(s);
    EXPECT_FALSE(sequence->Modified());  // as opened

    // A state typed in: Cancel keeps the program, and the table.
    sequence->tbStates->setFocus();
    QTest::keyClick(sequence->tbStates, Qt::Key_Insert);
    ASSERT_TRUE(sequence->Modified());
    EXPECT_FALSE(form->close());
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(sequence->tbStates->rowCount(), 2);

    // Save, with no file chosen, keeps it too; with a file, the program
    // closes and the file holds the table.
    answer = TSequenceForm::SaveAnswer::Save;
    form->ExecFileDialog = [](QFileDialog &) { return false; };
    EXPECT_FALSE(form->close());
    const QString chosen = FilePath(QStringLiteral("typed.seq"));
    form->ExecFileDialog = [&chosen](QFileDialog &dialog) {
        dialog.selectFile(chosen);
        return true;
    };
    const Sequence typed = sequence->TableSequence();
    EXPECT_TRUE(form->close());
    EXPECT_EQ(asked, 3);
    EXPECT_EQ(LoadSequenceFile(chosen), typed);
    EXPECT_TRUE(boxes.empty());
}

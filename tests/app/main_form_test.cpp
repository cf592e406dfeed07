// The main window against the virtual generator: connection and polling,
// the output panels typed into as an operator does, menus and presets.
#include <csignal>

#include <QAbstractItemView>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSpontaneKeyEvent>
#include <QWheelEvent>

#include "about_form.h"
#include "commands.h"
#include "d2xx_double.h"
#include "main_window_fixture.h"
#include "settings_form.h"
#include "termination.h"

namespace {

const std::array<std::int32_t, 12> kPowerOnTable = {0,     50000, 0, 1000,  0,    50000,
                                                    -1200, 1000,  0, 50000, 1200, 1000};

std::vector<Write> W(std::initializer_list<Write> list)
{
    return list;
}

}  // namespace

// ---------------------------------------------------------------------------
// The window as it opens

TEST_F(MainWindowTest, OpensOffLineWithItsControlsAndSendsNothing)
{
    Create();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("3-phase generator PX-418"));
    EXPECT_EQ(form->width(), 569);
    EXPECT_EQ(form->height() - form->menuBar()->height(), 195);
    EXPECT_EQ(form->StatusText(), QStringLiteral("OFF-Line"));
    EXPECT_EQ(QApplication::focusWidget(), form->StatusBar);
    EXPECT_TRUE(TheVirtualGenerator().FrameLog().empty());

    // Tags, ranges and decimals of the fields.
    struct Field {
        TFloatEdit *edit;
        int tag;
        int digits;
        int precision;
        double min;
        double max;
    };
    const Field fields[] = {
        {form->feFa, 1, 3, 9, 0, 3000},
        {form->fePa, 2, 1, 9, -360, 360},
        {form->feAa, 3, 2, 3, 0, 7.0710678118654755},
        {form->feFb, 11, 3, 9, 0, 3000},
        {form->fePb, 12, 1, 9, -360, 360},
        {form->feAb, 13, 2, 3, 0, 7.0710678118654755},
        {form->feFc, 21, 3, 9, 0, 3000},
        {form->fePc, 22, 1, 9, -360, 360},
        {form->feAc, 23, 2, 3, 0, 7.0710678118654755},
    };
    for (const auto &f : fields) {
        SCOPED_TRACE(f.edit->objectName().toStdString());
        EXPECT_EQ(f.edit->property("Tag").toInt(), f.tag);
        EXPECT_EQ(f.edit->Digits(), f.digits);
        EXPECT_EQ(f.edit->Precision(), f.precision);
        EXPECT_EQ(f.edit->Format(), ffFixed);
        EXPECT_DOUBLE_EQ(f.edit->MinValue(), f.min);
        EXPECT_DOUBLE_EQ(f.edit->MaxValue(), f.max);
    }
    EXPECT_EQ(form->cbMa->property("Tag").toInt(), 0);
    EXPECT_EQ(form->cbMb->property("Tag").toInt(), 10);
    EXPECT_EQ(form->cbMc->property("Tag").toInt(), 20);
    EXPECT_TRUE(form->cbMa->isEnabled());
    EXPECT_FALSE(form->cbMb->isEnabled());
    EXPECT_FALSE(form->cbMc->isEnabled());
    EXPECT_EQ(form->cbPre->count(), 10);
    EXPECT_EQ(form->GroupBox1->title(), QStringLiteral(" Out A "));
    EXPECT_EQ(form->GroupBox3->title(), QStringLiteral(" Presets "));
    EXPECT_TRUE(form->feFa->font().bold());
    EXPECT_EQ(form->feFa->font().pixelSize(), 24);
    EXPECT_EQ(form->lbLevelA->text(), QStringLiteral("RMS:"));

    // Tab order within a panel: list, frequency, phase, amplitude, then the
    // next panel.
    TabInto(form->cbMa);
    // (B's list is disabled for good and is skipped.)
    const QWidget *order[] = {form->feFa, form->fePa, form->feAa, form->feFb};
    for (const QWidget *next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next);
    }
    // Off-line, the entries and commits reached no device.
    EXPECT_TRUE(TheVirtualGenerator().FrameLog().empty());
}

// Pixels of the field drawn in the navy of the frequency digits.
static int NavyPixels(QWidget *field)
{
    const QImage image = field->grab().toImage();
    int navy = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            navy += (c.blue() > c.red() + 60 && c.blue() > c.green() + 60) ? 1 : 0;
        }
    }
    return navy;
}

TEST_F(MainWindowTest, ReviewModeGreysTheFrequencyDigitsAndLabelsKeepTheirDistance)
{
    Create();
    EXPECT_GT(NavyPixels(form->feFa), 50);
    form->mnReview->trigger();
    ASSERT_FALSE(form->feFa->isEnabled());
    for (TFloatEdit *field : {form->feFa, form->feFb, form->feFc}) {
        EXPECT_EQ(NavyPixels(field), 0) << field->objectName().toStdString();
    }
    form->mnReview->trigger();
    EXPECT_GT(NavyPixels(form->feFa), 50);

    // A few pixels between each label's text and its field, with either
    // level text.
    for (bool rms : {true, false}) {
        if (form->mnRms->isChecked() != rms) {
            form->mnRms->trigger();
        }
        const std::pair<QString, QWidget *> rows[] = {{QStringLiteral("Phase:"), form->fePa},
                                                      {form->lbLevelA->text(), form->feAa}};
        for (const auto &[text, field] : rows) {
            SCOPED_TRACE(text.toStdString());
            QLabel *label = nullptr;
            for (QLabel *l : form->GroupBox1->findChildren<QLabel *>()) {
                label = l->text() == text ? l : label;
            }
            ASSERT_NE(label, nullptr);
            const int textEnd = label->x() + label->fontMetrics().horizontalAdvance(text);
            EXPECT_GE(field->x() - textEnd, 3);
            EXPECT_LT(label->geometry().right(), field->x());
            EXPECT_GE(field->width(), 46);  // room for "-360.0"
        }
    }
}

TEST_F(MainWindowTest, MenusCarryTheirCaptionsShortcutsAndChecks)
{
    Create();
    struct Item {
        QAction *action;
        const char *caption;
        QKeySequence shortcut;
        bool checkable;
    };
    const Item items[] = {
        {form->mnOpen, "Open...", QKeySequence(Qt::CTRL | Qt::Key_O), false},
        {form->mnSaveAs, "Save as...", QKeySequence(Qt::CTRL | Qt::Key_S), false},
        {form->mnExit, "Exit", QKeySequence(Qt::ALT | Qt::Key_X), false},
        {form->mnLock, "Lock", QKeySequence(Qt::ALT | Qt::Key_L), true},
        {form->mnMute, "Mute", QKeySequence(Qt::ALT | Qt::Key_M), true},
        {form->mnReview, "Review Mode", QKeySequence(Qt::ALT | Qt::Key_V), true},
        {form->mnRecall, "Recall", QKeySequence(Qt::ALT | Qt::Key_R), false},
        {form->mnReload, "Reload", QKeySequence(Qt::ALT | Qt::Key_D), false},
        {form->Autorecall, "Auto Recall", QKeySequence(Qt::CTRL | Qt::Key_R), true},
        {form->Autoreload, "Auto Reload", QKeySequence(Qt::CTRL | Qt::Key_D), true},
        {form->mnRms, "RMS", QKeySequence(Qt::ALT | Qt::Key_A), true},
        {form->Settings, "Settings...", QKeySequence(Qt::ALT | Qt::Key_S), false},
        {form->mnSequence, "Sequence...", QKeySequence(Qt::CTRL | Qt::Key_T), false},
        {form->mnAbout, "About", QKeySequence(Qt::Key_F1), false},
    };
    for (const auto &item : items) {
        SCOPED_TRACE(item.caption);
        EXPECT_EQ(item.action->text(), QString::fromLatin1(item.caption));
        EXPECT_EQ(item.action->shortcut(), item.shortcut);
        EXPECT_EQ(item.action->isCheckable(), item.checkable);
    }
    EXPECT_EQ(form->mnFille->title(), QStringLiteral("File"));
    EXPECT_EQ(form->mnControl->title(), QStringLiteral("Control"));
    EXPECT_EQ(form->mnHelp->title(), QStringLiteral("Help"));

    // Auto Recall and Auto Reload form one radio group.
    EXPECT_TRUE(form->Autorecall->isChecked());
    form->Autoreload->trigger();
    EXPECT_TRUE(form->Autoreload->isChecked());
    EXPECT_FALSE(form->Autorecall->isChecked());
    form->Autorecall->trigger();
    EXPECT_TRUE(form->Autorecall->isChecked());
    EXPECT_FALSE(form->Autoreload->isChecked());
}

// ---------------------------------------------------------------------------
// Connection and polling

TEST_F(MainWindowTest, ConnectingWithAutoRecallLocksAndReadsTheWholeTable)
{
    WriteFile(IniPath(), "[Mode]\r\nLock=1\r\n");
    Create();
    Tick();
    EXPECT_EQ(form->StatusText(), QStringLiteral("ON-Line"));

    const auto frames = TheVirtualGenerator().FrameLog();
    ASSERT_EQ(frames.size(), 1u + 1u + 12u + 1u);
    EXPECT_EQ(frames[0].command, 3);  // the device search's info request
    EXPECT_EQ(frames[1].command, 6);
    EXPECT_EQ(frames[1].data, std::vector<std::uint8_t>{1});
    for (int i = 0; i < 12; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(frames[2 + i].command, 9);
        EXPECT_EQ(frames[2 + i].data,
                  (std::vector<std::uint8_t>{std::uint8_t(i / 4), std::uint8_t(i % 4)}));
    }
    EXPECT_EQ(frames[14].command, 7);

    EXPECT_EQ(form->FParams, kPowerOnTable);
    EXPECT_TRUE(form->FLock);  // the device reported mode 1 back
    EXPECT_TRUE(form->mnLock->isChecked());
    EXPECT_EQ(form->feFa->text(), QStringLiteral("50.000"));
    EXPECT_EQ(form->fePb->text(), QStringLiteral("-120.0"));
    EXPECT_EQ(form->feAc->text(), QStringLiteral("7.07"));
    EXPECT_TRUE(Writes().empty());
}

TEST_F(MainWindowTest, ConnectingWithAutoReloadLocksAndWritesTheWholeTable)
{
    WriteFile(IniPath(), "[Mode]\r\nLock=1\r\nAutorecall=0\r\n"
                         "[OUT A]\r\nM=1\r\nF=1500\r\nP=100\r\nA=500\r\n"
                         "[OUT B]\r\nM=0\r\nF=2000\r\nP=-900\r\nA=600\r\n"
                         "[OUT C]\r\nM=0\r\nF=3000\r\nP=900\r\nA=700\r\n");
    Create();
    ASSERT_TRUE(form->Autoreload->isChecked());
    Tick();
    EXPECT_EQ(form->StatusText(), QStringLiteral("ON-Line"));
    EXPECT_EQ(Commands(), (std::vector<int>{3, 6, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8}));
    EXPECT_EQ(TheVirtualGenerator().FrameLog()[1].data, std::vector<std::uint8_t>{1});
    EXPECT_EQ(Writes(), W({{0, 0, 1},
                           {0, 1, 1500},
                           {0, 2, 100},
                           {0, 3, 500},
                           {1, 0, 0},
                           {1, 1, 2000},
                           {1, 2, -900},
                           {1, 3, 600},
                           {2, 0, 0},
                           {2, 1, 3000},
                           {2, 2, 900},
                           {2, 3, 700},
                           {0, 0x82, 100}}));
    // The run took effect on the device.
    EXPECT_EQ(TheVirtualGenerator().State().active[1][2], -900);
}

TEST_F(MainWindowTest, WithoutAGeneratorOnlyTheSearchRunsOnceATick)
{
    TheVirtualGenerator().SetPlugged(false);
    Create();
    for (int i = 0; i < 3; ++i) {
        Tick();
        EXPECT_EQ(form->StatusText(), QStringLiteral("OFF-Line"));
    }
    EXPECT_TRUE(TheVirtualGenerator().FrameLog().empty());
    EXPECT_EQ(px418virtual::VirtualConverterState().opens, 0);
}

TEST_F(MainWindowTest, WithNoConverterEachTickOnlyCountsTheConverters)
{
    auto &driver = d2xxdouble::Instance();
    driver.Reset();
    D2xxInstall(&d2xxdouble::Api());
    Create();
    for (int i = 0; i < 3; ++i) {
        Tick();
    }
    EXPECT_EQ(driver.CallNames(), std::vector<std::string>(3, "FT_ListDevices"));
    EXPECT_EQ(form->StatusText(), QStringLiteral("OFF-Line"));

    // A converter that is not a generator is opened, asked and closed again
    // once; the later ticks leave it alone while the bus stays the same.
    driver.AddConverter(d2xxdouble::Identity("FT232R other device"));
    driver.ClearCalls();
    Tick();
    EXPECT_EQ(driver.Count("FT_Open"), 1);
    EXPECT_EQ(driver.Count("FT_Close"), 1);
    EXPECT_EQ(form->StatusText(), QStringLiteral("OFF-Line"));
    Tick();
    Tick();
    EXPECT_EQ(driver.Count("FT_Open"), 1);
    EXPECT_EQ(driver.Count("FT_ListDevices"), 3);
}

TEST_F(MainWindowTest, UnpluggingGoesOffLineAndTheSameTickTriesAgain)
{
    CreateOnLine();
    Tick();  // a mode poll
    EXPECT_EQ(Commands(), std::vector<int>{7});

    TheVirtualGenerator().SetPlugged(false);
    Tick();
    EXPECT_EQ(form->StatusText(), QStringLiteral("OFF-Line"));
    EXPECT_FALSE(form->FOnLine);
    EXPECT_EQ(px418virtual::VirtualConverterState().closes, 1);

    // Plugged back in between two ticks: the next one reconnects.
    TheVirtualGenerator().SetPlugged(true);
    TheVirtualGenerator().ClearLog();
    Tick();
    EXPECT_EQ(form->StatusText(), QStringLiteral("ON-Line"));
    EXPECT_EQ(Commands().front(), 3);
}

TEST_F(MainWindowTest, AFailedPollReconnectsWithinTheSameTick)
{
    CreateOnLine();
    const int opens = px418virtual::VirtualConverterState().opens;
    // One lost answer: the poll fails, the device is closed and opened again
    // in the same tick.
    TheVirtualGenerator().ReplaceNextAnswer({});
    Tick();
    EXPECT_EQ(form->StatusText(), QStringLiteral("ON-Line"));
    EXPECT_EQ(px418virtual::VirtualConverterState().opens, opens + 1);
    EXPECT_EQ(px418virtual::VirtualConverterState().closes, 1);
    EXPECT_TRUE(boxes.empty());
}

// The virtual converter, with a hook that runs after every write: it lets a
// test fault the device at a given request of a sequence.
namespace hooked {
const D2xxApi *base = nullptr;
std::function<void(int)> afterWrite;
int writes = 0;
FT_STATUS Write(FT_HANDLE h, void *buffer, DWORD count, DWORD *written)
{
    const FT_STATUS status = base->Write(h, buffer, count, written);
    ++writes;
    if (afterWrite) {
        afterWrite(writes);
    }
    return status;
}
D2xxApi Api()
{
    base = D2xxVirtualProvider();
    D2xxApi api = *base;
    api.Write = &Write;
    return api;
}
}  // namespace hooked

TEST_F(MainWindowTest, AFailureWhileConnectingClosesAndTheNextTickTriesAgain)
{
    static const D2xxApi api = hooked::Api();
    D2xxInstall(&api);
    Create();
    // The search's info request is answered; the lock write that follows
    // gets "device busy".
    hooked::afterWrite = [](int n) {
        if (n == 1) {
            TheVirtualGenerator().ReplaceNextAnswer(oracle::Frame(6, {2}));
        }
    };
    Tick();
    EXPECT_EQ(form->StatusText(), QStringLiteral("OFF-Line"));
    EXPECT_FALSE(form->FOnLine);
    EXPECT_EQ(px418virtual::VirtualConverterState().closes, 1);
    EXPECT_EQ(Commands(), (std::vector<int>{3, 6}));
    EXPECT_TRUE(boxes.empty());

    hooked::afterWrite = nullptr;
    Tick();
    EXPECT_EQ(form->StatusText(), QStringLiteral("ON-Line"));
}

TEST_F(MainWindowTest, ReviewModeFollowsTheParameterSelectedOnTheDevice)
{
    CreateOnLine();
    form->mnReview->trigger();
    EXPECT_TRUE(form->mnReview->isChecked());
    EXPECT_FALSE(form->GroupBox1->isEnabled());
    EXPECT_FALSE(form->GroupBox2->isEnabled());
    EXPECT_FALSE(form->GroupBox3->isEnabled());
    EXPECT_FALSE(form->GroupBox4->isEnabled());

    ASSERT_TRUE(TheVirtualGenerator().TurnKnob(1, 2, 455));
    TheVirtualGenerator().ClearLog();
    Tick();
    EXPECT_EQ(Commands(), std::vector<int>{10});
    EXPECT_EQ(form->FParams[6], 455);
    EXPECT_EQ(form->fePb->text(), QStringLiteral("45.5"));

    // A selected parameter outside the outputs changes no entry, but the
    // controls are refreshed all the same.
    ASSERT_TRUE(TheVirtualGenerator().TurnKnob(4, 2, 60));
    form->FParams[9] = 1234;  // not shown yet
    const auto before = form->FParams;
    Tick();
    EXPECT_EQ(form->FParams, before);
    EXPECT_EQ(form->feFc->text(), QStringLiteral("1.234"));
    EXPECT_TRUE(Writes().empty());

    form->mnReview->trigger();
    EXPECT_TRUE(form->GroupBox1->isEnabled());
    EXPECT_TRUE(form->GroupBox3->isEnabled());
}

TEST_F(MainWindowTest, OffLineReadsLeaveTheTableAndTheLockAsTheyAre)
{
    WriteFile(IniPath(), "[Mode]\r\nLock=1\r\n[OUT A]\r\nM=1\r\nF=1234\r\nP=5\r\nA=321\r\n");
    TheVirtualGenerator().SetPlugged(false);
    Create();
    Tick();
    ASSERT_FALSE(form->FOnLine);
    const auto before = form->FParams;

    form->mnRecall->trigger();
    EXPECT_EQ(form->FParams, before);
    EXPECT_TRUE(form->FLock);
    EXPECT_TRUE(form->mnLock->isChecked());

    form->mnReview->trigger();  // Review Mode recalls too
    EXPECT_EQ(form->FParams, before);
    form->mnReview->trigger();

    form->btRead->click();  // so does a preset Read
    EXPECT_EQ(form->FParams, before);

    // The amplitude read-back of the mode list.
    form->cbMa->setCurrentIndex(0);
    emit form->cbMa->activated(0);
    EXPECT_EQ(form->FParams[0], 0);
    EXPECT_EQ(form->FParams[3], 321);
    EXPECT_TRUE(boxes.empty());
}

// ---------------------------------------------------------------------------
// Typing into the output panels

TEST_F(MainWindowTest, TypedValuesAreScaledRoundedStoredAndSent)
{
    CreateOnLine();
    form->mnMute->trigger();  // no beeps: entry writes carry bit 7 only
    form->mnRms->trigger();   // peak amplitudes
    TheVirtualGenerator().ClearLog();

    struct Case {
        TFloatEdit *field;
        const char *text;
        std::uint8_t group;
        std::uint8_t number;
        std::int32_t sent;
        int index;
        const char *shown;
    };
    const Case cases[] = {
        {form->feFa, "1.001", 0, 0x81, 1001, 1, "1.001"},
        {form->fePa, "-0.05", 0, 0x82, -1, 2, "-0.1"},
        {form->fePb, "0.05", 1, 0x82, 1, 6, "0.1"},
        {form->feFc, "2999.9995", 2, 0x81, 3000000, 9, "3000.000"},  // the half rounds up
        {form->fePc, "-359.95", 2, 0x82, -3600, 10, "-360.0"},       // and down below zero
        {form->feFb, "0.0005", 1, 0x81, 1, 5, "0.001"},
        // The decimal text's half, not the binary product's 999.4999...
        {form->feAa, "9.995", 0, 0x83, 1000, 3, "10.00"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        TheVirtualGenerator().ClearLog();
        TypeEnter(c.field, QString::fromLatin1(c.text));
        // Leaving the previous field commits it; then comes this field's
        // entry write (bit 7 only, muted) and its commit.
        const auto writes = Writes();
        ASSERT_GE(writes.size(), 2u);
        EXPECT_EQ(writes[writes.size() - 2].number, c.number);
        EXPECT_EQ(writes.back(), (Write{c.group, c.number, c.sent}));
        EXPECT_EQ(form->FParams[c.index], c.sent);
        EXPECT_EQ(c.field->text(), QString::fromLatin1(c.shown));
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MainWindowTest, FocusEntryResendsThePresentValueWithBit6UnlessMuted)
{
    CreateOnLine();
    ClickInto(form->feFa);
    EXPECT_EQ(Writes(), W({{0, 0xC1, 50000}}));

    // Enter without a change sends the value again, with bit 7 only.
    QTest::keyClick(form->feFa, Qt::Key_Return);
    EXPECT_EQ(Writes(), W({{0, 0xC1, 50000}, {0, 0x81, 50000}}));

    // Leaving the field commits once more.
    TheVirtualGenerator().ClearLog();
    ClickInto(form->fePa);
    EXPECT_EQ(Writes(), W({{0, 0x81, 50000}, {0, 0xC2, 0}}));

    form->mnMute->trigger();
    TheVirtualGenerator().ClearLog();
    ClickInto(form->feAb);
    EXPECT_EQ(Writes(), W({{0, 0x82, 0}, {1, 0x83, 1000}}));
    EXPECT_EQ(TheVirtualGenerator().State().beeps, 2);  // the two entries before Mute
}

// ---------------------------------------------------------------------------
// Input the operator did not aim at a control

// Alt pressed and released alone, as the menu bar sees it.
static void TapAlt(QWidget *w)
{
    QTest::keyPress(w, Qt::Key_Alt, Qt::AltModifier);
    QTest::keyRelease(w, Qt::Key_Alt, Qt::NoModifier);
}

TEST_F(MainWindowTest, TheMenuBarTakingTheFocusIsNeitherExitNorEntry)
{
    CreateOnLine();
    ClickInto(form->feFa);
    form->feFa->selectAll();
    QTest::keyClicks(form->feFa, QStringLiteral("12"));
    TheVirtualGenerator().ClearLog();

    TapAlt(form->feFa);
    EXPECT_TRUE(form->menuBar()->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_TRUE(form->feFa->hasFocus());
    EXPECT_EQ(form->feFa->text(), QStringLiteral("12"));
    EXPECT_TRUE(Writes().empty());

    // The text is still the field's: Enter commits it, once.
    QTest::keyClick(form->feFa, Qt::Key_Return);
    EXPECT_EQ(Writes(), W({{0, 0x81, 12000}}));
}

TEST_F(MainWindowTest, LeavingTheMenuBarForAnotherFieldExitsTheFieldFirst)
{
    CreateOnLine();
    ClickInto(form->feFa);
    form->feFa->selectAll();
    QTest::keyClicks(form->feFa, QStringLiteral("12"));
    TapAlt(form->feFa);
    ASSERT_TRUE(form->menuBar()->hasFocus());
    TheVirtualGenerator().ClearLog();
    ClickInto(form->fePa);
    EXPECT_EQ(Writes(), W({{0, 0x81, 12000}, {0, 0xC2, 0}}));
}

TEST_F(MainWindowTest, AMenuOpenedAndClosedIsNeitherExitNorEntry)
{
    CreateOnLine();
    ClickInto(form->feFa);
    form->feFa->selectAll();
    QTest::keyClicks(form->feFa, QStringLiteral("12"));
    TheVirtualGenerator().ClearLog();
    QMenuBar *bar = form->menuBar();
    QTest::mouseClick(bar, Qt::LeftButton, {},
                      bar->actionGeometry(form->mnControl->menuAction()).center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->mnControl->isVisible(); }));
    QTest::keyClick(form->mnControl, Qt::Key_Escape);
    if (bar->hasFocus()) {
        QTest::keyClick(bar, Qt::Key_Escape);
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->feFa->hasFocus(); }));
    EXPECT_EQ(form->feFa->text(), QStringLiteral("12"));
    EXPECT_TRUE(Writes().empty());
}

TEST_F(MainWindowTest, AltWithACaptionsLetterOrF10OpensItsMenu)
{
    CreateOnLine();
    ClickInto(form->feFa);
    form->feFa->selectAll();
    QTest::keyClicks(form->feFa, QStringLiteral("12"));
    TheVirtualGenerator().ClearLog();
    const struct {
        QKeyCombination keys;
        QMenu *menu;
    } cases[] = {
        {Qt::ALT | Qt::Key_F, form->mnFille},
        {Qt::ALT | Qt::Key_C, form->mnControl},
        {Qt::ALT | Qt::Key_H, form->mnHelp},
        {QKeyCombination(Qt::Key_F10), form->mnFille},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.menu->title().toStdString());
        QTest::keyClick(QApplication::focusWidget(), c.keys.key(), c.keys.keyboardModifiers());
        ASSERT_TRUE(QTest::qWaitFor([&] { return c.menu->isVisible(); }));
        QTest::keyClick(c.menu, Qt::Key_Escape);
        if (form->menuBar()->hasFocus()) {
            QTest::keyClick(form->menuBar(), Qt::Key_Escape);
        }
        EXPECT_TRUE(QTest::qWaitFor([&] { return form->feFa->hasFocus(); }));
        EXPECT_EQ(form->feFa->text(), QStringLiteral("12"));
    }
    EXPECT_TRUE(Writes().empty());
}

TEST_F(MainWindowTest, ReviewModeDropsTextTypedIntoTheFocusedField)
{
    CreateOnLine();
    ClickInto(form->feFa);
    form->feFa->selectAll();
    QTest::keyClicks(form->feFa, QStringLiteral("12"));
    TheVirtualGenerator().ClearLog();
    QTest::keyClick(form->feFa, Qt::Key_V, Qt::AltModifier);  // Review Mode
    ASSERT_FALSE(form->GroupBox1->isEnabled());
    EXPECT_TRUE(Writes().empty());
    EXPECT_EQ(form->feFa->text(), QStringLiteral("50.000"));
    EXPECT_EQ(form->FParams[1], 50000);

    // Back out of Review Mode, the field is entered anew when clicked.
    QTest::keyClick(form.get(), Qt::Key_V, Qt::AltModifier);
    ClickInto(form->feFa);
    EXPECT_EQ(Writes(), W({{0, 0xC1, 50000}}));
}

TEST_F(MainWindowTest, AltChordsTypeNothingIntoAField)
{
    CreateOnLine();
    ClickInto(form->feFa);
    form->feFa->selectAll();
    QTest::keyClicks(form->feFa, QStringLiteral("7"));
    QTest::keyClick(form->feFa, Qt::Key_J, Qt::AltModifier);  // bound to nothing
    EXPECT_EQ(form->feFa->text(), QStringLiteral("7"));
    TheVirtualGenerator().ClearLog();
    QTest::keyClick(form->feFa, Qt::Key_Return);
    EXPECT_EQ(Writes(), W({{0, 0x81, 7000}}));
}

// One notch of the wheel, delivered as the window system delivers it.
static void Wheel(QWidget *w, int notches = -1)
{
    const QPoint at = w->rect().center();
    QWheelEvent event(at, w->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QSpontaneKeyEvent::setSpontaneous(&event);
    QApplication::instance()->notify(w, &event);
}

TEST_F(MainWindowTest, TheWheelActsOnlyOnTheFocusedControl)
{
    CreateOnLine();
    ClickInto(form->feAa);
    TheVirtualGenerator().ClearLog();
    for (QWidget *w : std::initializer_list<QWidget *>{form->cbMa, form->feFb, form->cbPre}) {
        Wheel(w);
        EXPECT_FALSE(w->hasFocus()) << w->objectName().toStdString();
    }
    EXPECT_EQ(form->cbMa->currentIndex(), 0);
    EXPECT_EQ(form->cbPre->currentIndex(), 0);
    EXPECT_TRUE(Writes().empty());

    // The focused list follows the wheel.
    TabInto(form->cbMa);
    TheVirtualGenerator().ClearLog();
    Wheel(form->cbMa);
    EXPECT_EQ(form->cbMa->currentIndex(), 1);
    ASSERT_FALSE(Writes().empty());
    EXPECT_EQ(Writes().front(), (Write{0, 0x80, 1}));
}

TEST_F(MainWindowTest, EnterOnAFocusedButtonClicksIt)
{
    CreateOnLine();
    form->mnMute->trigger();
    form->cbPre->setCurrentIndex(2);
    TabInto(form->btSave);
    TheVirtualGenerator().ClearLog();
    QTest::keyClick(form->btSave, Qt::Key_Return);
    EXPECT_EQ(Writes(), W({{4, 0, 2}}));
    TabInto(form->btRead);
    QTest::keyClick(form->btRead, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(Writes(), W({{4, 0, 2}, {4, 1, 2}}));
}

TEST_F(MainWindowTest, AClampedCommitIsSentTwice)
{
    CreateOnLine();
    TypeEnter(form->feFa, QStringLiteral("4000"));
    EXPECT_EQ(Writes(), W({{0, 0xC1, 50000}, {0, 0x81, 3000000}, {0, 0x81, 3000000}}));
    EXPECT_EQ(form->feFa->text(), QStringLiteral("3000.000"));

    TheVirtualGenerator().ClearLog();
    TypeEnter(form->fePb, QStringLiteral("-400"));
    EXPECT_EQ(Writes(),
              W({{0, 0x81, 3000000}, {1, 0xC2, -1200}, {1, 0x82, -3600}, {1, 0x82, -3600}}));
}

TEST_F(MainWindowTest, RmsDisplayConvertsBothWaysAndNeverClamps)
{
    CreateOnLine();
    ASSERT_TRUE(form->mnRms->isChecked());
    EXPECT_EQ(form->feAa->text(), QStringLiteral("7.07"));
    EXPECT_DOUBLE_EQ(form->feAa->MaxValue(), 10 * 0.7071067811865476);

    TypeEnter(form->feAa, QStringLiteral("7.07"));
    EXPECT_EQ(Writes().back(), (Write{0, 0x83, 1000}));
    EXPECT_EQ(form->FParams[3], 1000);

    TypeEnter(form->feAa, QStringLiteral("5"));
    EXPECT_EQ(Writes().back(), (Write{0, 0x83, 707}));
    EXPECT_EQ(form->FParams[3], 707);
    EXPECT_EQ(form->feAa->text(), QStringLiteral("5.00"));

    // RMS off and on again: the stored peak value is never clamped by the
    // moving maximum, and nothing is sent.
    ClickInto(form->StatusBar);
    TheVirtualGenerator().ClearLog();
    form->mnRms->trigger();
    EXPECT_EQ(form->lbLevelB->text(), QStringLiteral("Amplitude:"));
    EXPECT_EQ(form->feAb->text(), QStringLiteral("10.00"));
    EXPECT_DOUBLE_EQ(form->feAb->MaxValue(), 10);
    form->mnRms->trigger();
    EXPECT_EQ(form->lbLevelB->text(), QStringLiteral("RMS:"));
    EXPECT_EQ(form->feAb->text(), QStringLiteral("7.07"));
    EXPECT_EQ(form->FParams[7], 1000);
    EXPECT_TRUE(Writes().empty());
}

TEST_F(MainWindowTest, CoupledModeShowsAsFrequencyInBAndCAndReadsTheAmplitudeBack)
{
    CreateOnLine();
    TypeEnter(form->feFb, QStringLiteral("60"));
    ASSERT_EQ(form->FParams[5], 60000);

    // The device holds another amplitude than the window.
    TheVirtualGenerator().TurnKnob(0, 3, 400);
    TheVirtualGenerator().ClearLog();
    TabInto(form->cbMa);
    QTest::keyClick(form->cbMa, Qt::Key_Down);  // picks "A+B+C"
    EXPECT_EQ(form->cbMa->currentIndex(), 1);
    const auto writes = Writes();
    ASSERT_GE(writes.size(), 2u);
    EXPECT_EQ(writes.back(), (Write{0, 0x80, 1}));
    EXPECT_EQ(Commands().back(), 9);  // the amplitude read-back
    EXPECT_EQ(form->FParams[3], 400);
    EXPECT_EQ(form->FParams[0], 1);
    EXPECT_EQ(form->cbMb->currentIndex(), 1);
    EXPECT_EQ(form->feFb->text(), QStringLiteral("50.000"));  // A's frequency
    EXPECT_EQ(form->feFc->text(), QStringLiteral("50.000"));
    EXPECT_EQ(form->FParams[5], 60000);  // B's own entry is kept
}

TEST_F(MainWindowTest, TheModeListsPopupIsNoSecondEntry)
{
    CreateOnLine();
    // Clicking the list enters it and opens its popup: one entry write and
    // the amplitude read.
    QTest::mouseClick(form->cbMa, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->cbMa->view()->isVisible(); }));
    EXPECT_EQ(Writes(), W({{0, 0xC0, 0}}));
    EXPECT_EQ(Commands(), (std::vector<int>{8, 9}));

    // Escape closes the popup: nothing more.
    TheVirtualGenerator().ClearLog();
    QTest::keyClick(form->cbMa->view(), Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form->cbMa->view()->isVisible(); }));
    EXPECT_EQ(QApplication::focusWidget(), form->cbMa);
    EXPECT_TRUE(Commands().empty());

    // Opening it again and picking "A+B+C" sends the change alone.
    QTest::mouseClick(form->cbMa, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->cbMa->view()->isVisible(); }));
    QTest::keyClick(form->cbMa->view(), Qt::Key_Down);
    QTest::keyClick(form->cbMa->view(), Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form->cbMa->view()->isVisible(); }));
    EXPECT_EQ(Writes(), W({{0, 0x80, 1}}));
    EXPECT_EQ(Commands(), (std::vector<int>{8, 9}));

    // Leaving it and coming back is an entry again (after the field's exit).
    TabInto(form->feFa);
    TheVirtualGenerator().ClearLog();
    TabInto(form->cbMa);
    EXPECT_EQ(Writes(), W({{0, 0x81, 50000}, {0, 0xC0, 1}}));
}

TEST_F(MainWindowTest, AModeEntryOutsideTheListShowsNoEntryAndSendsNothingOnEntry)
{
    // A settings file's mode outside the list takes its default; such an
    // entry can only come from a device's answer.
    WriteFile(IniPath(), "[OUT A]\r\nM=7\r\nF=1000\r\n[OUT B]\r\nF=2000\r\n");
    Create();
    EXPECT_EQ(form->FParams[0], 0);
    form->FParams[0] = 7;
    form->UpdateControls();
    EXPECT_EQ(form->cbMa->currentIndex(), -1);
    EXPECT_EQ(form->cbMb->currentIndex(), -1);
    EXPECT_EQ(form->feFb->text(), QStringLiteral("2.000"));  // not coupled
    TheVirtualGenerator().SetPlugged(false);
    Tick();
    TabInto(form->cbMa);
    EXPECT_EQ(form->FParams[0], 7);
    EXPECT_FALSE(form->FUpdate);
    // Picking an entry sends it as usual.
    QTest::keyClick(form->cbMa, Qt::Key_Down);
    EXPECT_EQ(form->FParams[0], 0);
}

TEST_F(MainWindowTest, AFailedWriteShowsTheLibraryTextAndLeavesTheWindowResponsive)
{
    CreateOnLine();
    ClickInto(form->feFa);
    // The device refuses the next write.
    TheVirtualGenerator().ReplaceNextAnswer(oracle::Frame(8, {4}));
    form->feFa->selectAll();
    QTest::keyClicks(form->feFa, QStringLiteral("12"));
    QTest::keyClick(form->feFa, Qt::Key_Return);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, QStringLiteral("PX-418"));
    EXPECT_EQ(boxes[0].text, QStringLiteral("Set parameter error: invalid parameters."));
    EXPECT_FALSE(form->FUpdate);
    EXPECT_EQ(form->FParams[1], 12000);  // the table already held the new value

    // The next change goes through.
    TheVirtualGenerator().ClearLog();
    form->feFa->selectAll();
    QTest::keyClicks(form->feFa, QStringLiteral("13"));
    QTest::keyClick(form->feFa, Qt::Key_Return);
    EXPECT_EQ(Writes(), W({{0, 0x81, 13000}}));
    EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(MainWindowTest, ARefreshNeverWritesToTheDevice)
{
    CreateOnLine();
    form->FParams[1] = 4000000;  // beyond the field's maximum: it clamps
    form->FParams[6] = 123;
    form->UpdateControls();
    EXPECT_EQ(form->feFa->text(), QStringLiteral("3000.000"));
    EXPECT_TRUE(TheVirtualGenerator().FrameLog().empty());
    EXPECT_FALSE(form->FUpdate);
}

// ---------------------------------------------------------------------------
// Menus and presets

TEST_F(MainWindowTest, LockAndMuteSendTheLockStateAndNothingElse)
{
    CreateOnLine();
    form->mnLock->trigger();
    EXPECT_TRUE(form->FLock);
    EXPECT_EQ(TheVirtualGenerator().State().mode, 1);
    form->mnMute->trigger();
    EXPECT_TRUE(form->FMute);
    EXPECT_EQ(Commands(), (std::vector<int>{6, 6}));
    EXPECT_EQ(TheVirtualGenerator().FrameLog()[1].data, std::vector<std::uint8_t>{1});
    form->mnLock->trigger();
    EXPECT_EQ(TheVirtualGenerator().State().mode, 0);
}

TEST_F(MainWindowTest, MenuShortcutsWorkFromTheKeyboard)
{
    CreateOnLine();
    QTest::keyClick(form.get(), Qt::Key_L, Qt::AltModifier);  // Lock
    EXPECT_TRUE(form->mnLock->isChecked());
    EXPECT_EQ(TheVirtualGenerator().State().mode, 1);
    QTest::keyClick(form.get(), Qt::Key_M, Qt::AltModifier);  // Mute
    EXPECT_TRUE(form->FMute);
    QTest::keyClick(form.get(), Qt::Key_A, Qt::AltModifier);  // RMS off
    EXPECT_FALSE(form->mnRms->isChecked());
    EXPECT_EQ(form->feAa->text(), QStringLiteral("10.00"));
    QTest::keyClick(form.get(), Qt::Key_D, Qt::ControlModifier);  // Auto Reload
    EXPECT_TRUE(form->Autoreload->isChecked());
    TheVirtualGenerator().ClearLog();
    QTest::keyClick(form.get(), Qt::Key_D, Qt::AltModifier);  // Reload
    EXPECT_EQ(Writes().size(), 13u);
    QTest::keyClick(form.get(), Qt::Key_V, Qt::AltModifier);  // Review Mode
    EXPECT_FALSE(form->GroupBox1->isEnabled());
    QTest::keyClick(form.get(), Qt::Key_X, Qt::AltModifier);  // Exit
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(TheVirtualGenerator().State().mode, 0);  // unlocked on the way out
}

TEST_F(MainWindowTest, PresetsStoreAndLoadWithAndWithoutMute)
{
    CreateOnLine();
    form->cbPre->setCurrentIndex(3);
    form->btSave->click();
    EXPECT_EQ(Writes(), W({{4, 0x40, 3}}));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // Change the device, then load the stored slot back.
    TypeEnter(form->feFa, QStringLiteral("100"));
    TheVirtualGenerator().ClearLog();
    form->btRead->click();
    EXPECT_EQ(Writes(), W({{4, 0x41, 3}}));
    EXPECT_EQ(form->FParams[1], 50000);  // recalled from the loaded preset
    EXPECT_EQ(form->feFa->text(), QStringLiteral("50.000"));

    form->mnMute->trigger();
    TheVirtualGenerator().ClearLog();
    form->btSave->click();
    form->btRead->click();
    EXPECT_EQ(Writes(), W({{4, 0, 3}, {4, 1, 3}}));
}

TEST_F(MainWindowTest, AFailedPresetStorePutsTheCursorBack)
{
    CreateOnLine();
    TheVirtualGenerator().ReplaceNextAnswer(oracle::Frame(8, {2}));
    form->btSave->click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, QStringLiteral("Set parameter error: device busy."));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainWindowTest, RecallAndReloadFromTheMenu)
{
    CreateOnLine();
    TheVirtualGenerator().TurnKnob(2, 1, 123456);
    form->mnRecall->trigger();
    EXPECT_EQ(form->FParams[9], 123456);
    EXPECT_EQ(form->feFc->text(), QStringLiteral("123.456"));

    TheVirtualGenerator().ClearLog();
    form->FParams[10] = 450;
    form->mnReload->trigger();
    const auto writes = Writes();
    ASSERT_EQ(writes.size(), 13u);
    EXPECT_EQ(writes[10], (Write{2, 2, 450}));
    EXPECT_EQ(writes[12], (Write{0, 0x82, 0}));
}

TEST_F(MainWindowTest, TheAboutBoxOpensAnewEachTime)
{
    Create();
    for (int i = 0; i < 2; ++i) {
        QTimer::singleShot(0, [] {
            ASSERT_NE(AboutForm, nullptr);
            EXPECT_EQ(AboutForm->windowTitle(), QStringLiteral("About"));
            EXPECT_EQ(AboutForm->Label1->text(), QStringLiteral("3-phase generator PX-418"));
            QTest::keyClick(AboutForm, Qt::Key_Escape);
        });
        form->mnAbout->trigger();
        EXPECT_EQ(AboutForm, nullptr);
    }
}

TEST_F(MainWindowTest, TheAboutBoxOpensCentredOnTheMainWindowEveryTime)
{
    Create();
    // The first box is made at start-up, before the window has moved.
    AboutForm = new TAboutForm(form.get());
    const QPoint places[] = {{20, 30}, {200, 120}};
    for (const QPoint &place : places) {
        form->move(place);
        ASSERT_TRUE(QTest::qWaitFor([&] { return form->pos() == place; }));
        QPoint centre;
        QTimer::singleShot(0, [&] {
            ASSERT_NE(AboutForm, nullptr);
            centre = AboutForm->frameGeometry().center();
            QTest::keyClick(AboutForm, Qt::Key_Escape);
        });
        form->mnAbout->trigger();
        EXPECT_LE((centre - form->frameGeometry().center()).manhattanLength(), 1)
            << centre.x() << "," << centre.y();
    }
}

// Opens "Settings...", runs `whileOpen` once the modal dialog is active, then
// closes it with "Ok".
static void RunSettings(TMainForm *form, const std::function<void(TSettingsForm *)> &whileOpen)
{
    QTimer::singleShot(0, [&] {
        TSettingsForm *dialog = SettingsForm;
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == dialog; }));
        if (whileOpen) {
            whileOpen(dialog);
        }
        QTest::mouseClick(dialog->btOk, Qt::LeftButton);
    });
    form->Settings->trigger();
}

TEST_F(MainWindowTest, AfterTheSettingsDialogTheOutputsAreReloadedOrRecalled)
{
    CreateOnLine();
    form->Autoreload->trigger();
    RunSettings(form.get(), {});
    auto writes = Writes();
    ASSERT_EQ(writes.size(), 1u + 13u);  // "Ok", then the whole table
    EXPECT_EQ(writes[0], (Write{4, 3, 0}));
    EXPECT_EQ(writes[13], (Write{0, 0x82, 0}));

    form->Autorecall->trigger();
    TheVirtualGenerator().TurnKnob(0, 1, 7000);
    TheVirtualGenerator().ClearLog();
    RunSettings(form.get(), {});
    EXPECT_EQ(Writes(), W({{4, 3, 0}}));
    EXPECT_EQ(form->FParams[1], 7000);
    EXPECT_EQ(form->feFa->text(), QStringLiteral("7.000"));
}

TEST_F(MainWindowTest, AFocusedFieldCommitsBeforeTheSettingsDialogAndIsEnteredAfterIt)
{
    CreateOnLine();
    ClickInto(form->fePa);
    form->fePa->selectAll();
    QTest::keyClicks(form->fePa, QStringLiteral("30"));  // typed, not yet committed
    TheVirtualGenerator().ClearLog();
    std::vector<Write> beforeDialog;
    RunSettings(form.get(), [&](TSettingsForm *) { beforeDialog = Writes(); });
    EXPECT_EQ(beforeDialog, W({{0, 0x82, 300}}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == form->fePa; }));
    // After "Ok" and the recall, the field gets the focus back: an entry.
    const auto writes = Writes();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back(), (Write{0, 0xC2, 300}));
}

TEST_F(MainWindowTest, PollingGoesOnWhileTheSettingsDialogIsOpen)
{
    CreateOnLine();
    form->Timer1->start();
    int polls = 0;
    RunSettings(form.get(), [&](TSettingsForm *) {
        TheVirtualGenerator().ClearLog();
        QTest::qWait(350);
        for (int c : Commands()) {
            polls += c == 7 ? 1 : 0;
        }
    });
    form->Timer1->stop();
    EXPECT_GE(polls, 1);
    EXPECT_EQ(form->StatusText(), QStringLiteral("ON-Line"));
}

TEST_F(MainWindowTest, PollingGoesOnWhileAnErrorBoxIsOpen)
{
    CreateOnLine();
    form->Timer1->start();
    // An error box that stays open for a while: the timer ticks meanwhile.
    SetErrorPresenter([this](const ErrorBox &box) {
        boxes.push_back(box);
        TheVirtualGenerator().ClearLog();
        QTest::qWait(350);
    });
    TheVirtualGenerator().ReplaceNextAnswer(oracle::Frame(6, {3}));
    form->mnLock->trigger();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, QStringLiteral("Set mode error: device not ready."));
    EXPECT_GE(Commands().size(), 1u);
    form->Timer1->stop();
}

// ---------------------------------------------------------------------------
// Closing

TEST_F(MainWindowTest, ClosingOnLineUnlocksSavesAndClosesTheDevice)
{
    WriteFile(IniPath(), "[Mode]\r\nLock=1\r\n");
    CreateOnLine();
    ASSERT_EQ(TheVirtualGenerator().State().mode, 1);
    form->mnExit->trigger();
    EXPECT_EQ(Commands(), std::vector<int>{6});
    EXPECT_EQ(TheVirtualGenerator().State().mode, 0);
    EXPECT_EQ(px418virtual::VirtualConverterState().closes, 1);
    EXPECT_FALSE(form->FOnLine);
    // The lock flag is saved as it was, so the next run locks again.
    EXPECT_TRUE(ReadFile(IniPath()).contains("Lock=1\r\n"));
}

TEST_F(MainWindowTest, ClosingOffLineDoesNotCloseTheDevice)
{
    TheVirtualGenerator().SetPlugged(false);
    Create();
    Tick();
    form->close();
    EXPECT_EQ(px418virtual::VirtualConverterState().closes, 0);
    EXPECT_TRUE(QFileInfo::exists(IniPath()));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MainWindowTest, AFailedUnlockAtCloseIsIgnored)
{
    CreateOnLine();
    TheVirtualGenerator().SetSilent(true);
    form->close();
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(QFileInfo::exists(IniPath()));
    EXPECT_EQ(px418virtual::VirtualConverterState().closes, 1);
}

TEST_F(MainWindowTest, TerminationClosesTheSettingsDialogTheOrderlyWayFirst)
{
    WriteFile(IniPath(), "[Mode]\r\nLock=1\r\n");
    CreateOnLine();
    CloseOnTerminationRequest(form.get());
    QPointer<TSettingsForm> dialog;
    QTimer::singleShot(0, [&] {
        dialog = SettingsForm;
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == dialog; }));
        // Unsaved calibration on the device.
        dialog->sbCa->setFocus(Qt::TabFocusReason);
        dialog->sbCa->setValue(dialog->sbCa->value() + 25);
        TheVirtualGenerator().ClearLog();
        std::raise(SIGTERM);
        if (!QTest::qWaitFor([&] { return !dialog || !dialog->isVisible(); }, 2000)) {
            ADD_FAILURE() << "the dialog stayed open";
            dialog->close();
        }
    });
    form->Settings->trigger();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form->isVisible(); }, 2000));

    // The dialog's restore ran first, then the window's close: unlock, and
    // the settings saved.
    const auto commands = Commands();
    const auto unlock = std::find(commands.begin(), commands.end(), 6);
    ASSERT_NE(unlock, commands.end());
    const auto writes = Writes();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes[0], (Write{3, 1, 0}));               // amplitude A's calibration back to 0
    EXPECT_EQ(std::count(unlock, commands.end(), 8), 0);  // nothing written after the unlock
    EXPECT_EQ(TheVirtualGenerator().State().calibration[1], 0);
    EXPECT_EQ(TheVirtualGenerator().State().mode, 0);
    EXPECT_TRUE(ReadFile(IniPath()).contains("Lock=1\r\n"));
    EXPECT_TRUE(boxes.empty());
}

// The contrast and calibration dialog, driven as an operator would against
// the virtual generator (and, where a particular call must fail, the
// recording converter double in front of it).
#include "settings_form.h"

#include <algorithm>
#include <array>
#include <functional>
#include <optional>
#include <ostream>
#include <vector>

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSpontaneKeyEvent>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include "d2xx.h"
#include "d2xx_double.h"
#include "errors.h"
#include "main_window_fixture.h"
#include "px418usb.h"
#include "virtual/virtual_generator.h"

namespace {

using px418virtual::TheVirtualGenerator;

px418virtual::VirtualGenerator &Gen()
{
    return TheVirtualGenerator();
}

std::vector<Write> Writes()
{
    return WritesTakenBy(Gen());
}

// Get-parameter requests as (group, number).
std::vector<std::pair<int, int>> Reads()
{
    std::vector<std::pair<int, int>> out;
    for (const auto &f : Gen().FrameLog()) {
        if (f.valid && f.command == 9 && f.data.size() >= 2) {
            out.emplace_back(f.data[0], f.data[1]);
        }
    }
    return out;
}

constexpr std::array<int, 4> kCalib = {11, 22, 33, 44};

// What closing would restore, per row.
std::array<int, 4> Restores(const TSettingsForm &f)
{
    std::array<int, 4> values{};
    for (int n = 0; n < 4; ++n) {
        values[n] = f.FRecord.Row(n).restore;
    }
    return values;
}
constexpr int kContrast = 60;

// The write run of closing with unsaved calibration, for the readings above.
std::vector<Write> RestoreRun()
{
    return {{3, 1, 22}, {3, 2, 33}, {3, 3, 44}, {3, 0xC0, 11}};
}

std::vector<Write> Concat(std::vector<Write> a, const std::vector<Write> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const QString kInvalidParameters = QStringLiteral("Set parameter error: invalid parameters.");

class SettingsFormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        D2xxInstall(D2xxVirtualProvider());
        Gen().Reset();
        ASSERT_TRUE(PX418_OpenDevice());
        SetErrorPresenter([this](const ErrorBox &box) { boxes.push_back(box); });
        main.setGeometry(50, 50, 600, 400);
        main.show();
    }

    void TearDown() override
    {
        delete form.data();
        PX418_CloseDevice();
        SetErrorPresenter({});
        D2xxInstall(nullptr);
    }

    // Puts readings into the device, as if set on its front panel before.
    static void DeviceHolds(std::array<int, 4> calib, int contrast = kContrast)
    {
        auto state = Gen().State();
        state.calibration = calib;
        state.contrast = contrast;
        Gen().SetState(state);
    }

    TSettingsForm &Open()
    {
        Gen().ClearLog();
        SettingsForm = new TSettingsForm(
            &main, [this] { return mute; }, onLine);
        form = SettingsForm;
        form->show();
        form->activateWindow();
        EXPECT_TRUE(QTest::qWaitFor([this] { return QApplication::activeWindow() == form; }));
        return *form;
    }

    static void Focus(QWidget *w) { w->setFocus(Qt::TabFocusReason); }
    static void Key(int key) { QTest::keyClick(QApplication::focusWidget(), Qt::Key(key)); }
    static void Type(TFloatEdit *field, const QString &text)
    {
        if (!field->hasFocus()) {
            Focus(field);
        }
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(field, text);
    }
    static void Click(QPushButton *b) { QTest::mouseClick(b, Qt::LeftButton); }
    static void Deletions() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    QWidget main;
    QPointer<TSettingsForm> form;
    bool mute = false;
    std::function<bool()> onLine;  // empty: on line
    std::vector<ErrorBox> boxes;
};

TEST_F(SettingsFormTest, WindowControlsAndTabOrder)
{
    TSettingsForm &f = Open();
    EXPECT_EQ(f.windowTitle(), "Settings");
    EXPECT_EQ(f.size(), QSize(473, 320));
    EXPECT_LE((f.geometry().center() - main.geometry().center()).manhattanLength(), 4);
    EXPECT_EQ(f.GroupBox1->title(), " Contrast ");
    EXPECT_EQ(f.GroupBox2->title(), " Calibration ");
    const std::vector<std::pair<QLabel *, const char *>> labels = {
        {f.Label4, "Contr.:"},  {f.Label5, "Freq.:"},   {f.Label6, "Ampl. A:"},
        {f.Label7, "Ampl. B:"}, {f.Label8, "Ampl. C:"}, {f.Label1, "PPM"},
        {f.Label2, "%"},        {f.Label3, "%"},        {f.Label9, "%"}};
    for (const auto &[label, text] : labels) {
        EXPECT_EQ(label->text(), text);
    }
    const std::vector<std::pair<QPushButton *, const char *>> buttons = {
        {f.btRefresh, "Refresh"}, {f.btSave, "Save Calib"}, {f.btOk, "Ok"}, {f.btCancel, "Cancel"}};
    for (const auto &[button, text] : buttons) {
        EXPECT_EQ(button->text(), text);
        EXPECT_FALSE(button->isDefault() || button->autoDefault()) << text;
    }
    for (QScrollBar *bar : {f.sbCf, f.sbCa, f.sbCb, f.sbCc}) {
        EXPECT_EQ(bar->minimum(), -999);
        EXPECT_EQ(bar->maximum(), 999);
        EXPECT_EQ(bar->pageStep(), 10);
    }
    EXPECT_EQ(f.sbContr->maximum(), 127);
    EXPECT_EQ(f.feCf->Digits(), 1);
    EXPECT_DOUBLE_EQ(f.feCa->MinValue(), -9.99);

    // The first stop holds the focus; the contrast box has no enter handler.
    EXPECT_EQ(QApplication::focusWidget(), f.sbContr);
    QStringList order;
    for (int i = 0; i < 14; ++i) {
        order << QApplication::focusWidget()->objectName();
        Key(Qt::Key_Tab);
    }
    EXPECT_EQ(order.join(' '), "sbContr feContr sbCf sbCa sbCb feCf feCa feCb btSave btRefresh "
                               "sbCc feCc btOk btCancel");
    EXPECT_EQ(QApplication::focusWidget(), f.sbContr);
}

TEST_F(SettingsFormTest, OpeningReadsEverythingAndWritesNothing)
{
    DeviceHolds({12, -34, 999, -999});
    TSettingsForm &f = Open();
    const std::vector<std::pair<int, int>> reads = {{4, 2}, {3, 0}, {3, 1}, {3, 2}, {3, 3}};
    EXPECT_EQ(Reads(), reads);
    EXPECT_TRUE(Writes().empty());
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(f.sbContr->value(), kContrast);
    EXPECT_EQ(f.feContr->text(), "60");
    EXPECT_EQ(f.FRecord.SavedContrast(), kContrast);
    const std::array<int, 4> positions = {12, -34, 999, -999};
    const char *texts[4] = {"1.2", "-0.34", "9.99", "-9.99"};
    for (int n = 0; n < 4; ++n) {
        QScrollBar *bars[4] = {f.sbCf, f.sbCa, f.sbCb, f.sbCc};
        TFloatEdit *fields[4] = {f.feCf, f.feCa, f.feCb, f.feCc};
        EXPECT_EQ(bars[n]->value(), positions[n]);
        EXPECT_EQ(fields[n]->text(), texts[n]);
    }
    EXPECT_EQ(Restores(f), positions);
    EXPECT_FALSE(f.FUpdate);
    EXPECT_FALSE(f.FRecord.CalibrationChanged());
}

TEST_F(SettingsFormTest, ReadingsOutsideTheRangeStayInTheSavedValues)
{
    DeviceHolds({1500, -2000, 5, 0});
    TSettingsForm &f = Open();
    EXPECT_EQ(f.sbCf->value(), 999);
    EXPECT_EQ(f.feCf->text(), "99.9");
    EXPECT_EQ(f.sbCa->value(), -999);
    EXPECT_EQ(f.feCa->text(), "-9.99");
    EXPECT_EQ(Restores(f), (std::array<int, 4>{1500, -2000, 5, 0}));
    EXPECT_TRUE(Writes().empty());
    EXPECT_TRUE(boxes.empty());
    // The same readings again move nothing and write nothing.
    Click(f.btRefresh);
    EXPECT_TRUE(Writes().empty());
    EXPECT_FALSE(f.FRecord.CalibrationChanged());
}

TEST_F(SettingsFormTest, OffLineShowsZerosWithoutErrors)
{
    DeviceHolds(kCalib);
    PX418_CloseDevice();
    TSettingsForm &f = Open();
    EXPECT_EQ(f.sbContr->value(), 0);
    for (QScrollBar *bar : {f.sbCf, f.sbCa, f.sbCb, f.sbCc}) {
        EXPECT_EQ(bar->value(), 0);
    }
    EXPECT_EQ(f.feCf->text(), "0.0");
    Focus(f.sbCa);
    Key(Qt::Key_Right);
    Click(f.btOk);
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(Gen().FrameLog().empty());
}

// Which control writes what, as the operator works it. The writes under the
// mute flag are the record's (settings_record_test.cpp); that the window
// reads the flag at each write is checked below.
struct WriteCase {
    std::string name;
    std::function<void(TSettingsForm &)> prepare;  // its writes are not checked
    std::function<void(TSettingsForm &)> trigger;
    std::vector<Write> expected;
};

std::vector<WriteCase> WriteCases()
{
    using F = TSettingsForm;
    std::vector<WriteCase> cases = {
        {"ContrastMoved",
         [](F &f) { f.sbContr->setFocus(Qt::TabFocusReason); },
         [](F &) { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right); },
         {{4, 2, 61}}},
        {"ContrastCommitted",
         [](F &f) {
             f.feContr->setFocus(Qt::TabFocusReason);
             QTest::keyClicks(f.feContr, "100");
         },
         [](F &f) { QTest::keyClick(f.feContr, Qt::Key_Return); },
         {{4, 0x42, 100}}},
        {"Ok", [](F &) {}, [](F &f) { QTest::mouseClick(f.btOk, Qt::LeftButton); }, {{4, 3, 0}}},
        {"Cancel",
         [](F &) {},
         [](F &f) { QTest::mouseClick(f.btCancel, Qt::LeftButton); },
         {{4, 2, kContrast}}},
        {"Escape",
         [](F &) {},
         [](F &) { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape); },
         {{4, 2, kContrast}}},
        {"SaveCalib",
         [](F &) {},
         [](F &f) { QTest::mouseClick(f.btSave, Qt::LeftButton); },
         {{3, 0x44, 0}}},
        {"ClosingWithUnsavedCalibration",
         [](F &f) {
             f.sbCc->setFocus(Qt::TabFocusReason);
             QTest::keyClick(f.sbCc, Qt::Key_Left);
         },
         [](F &f) { f.close(); }, RestoreRun()},
    };
    const char *rows[4] = {"Cf", "Ca", "Cb", "Cc"};
    for (int n = 0; n < 4; ++n) {
        auto bar = [n](F &f) {
            return std::array<QScrollBar *, 4>{f.sbCf, f.sbCa, f.sbCb, f.sbCc}[n];
        };
        auto field = [n](F &f) {
            return std::array<TFloatEdit *, 4>{f.feCf, f.feCa, f.feCb, f.feCc}[n];
        };
        cases.push_back({std::string("Entered") + rows[n],
                         [](F &) {},
                         [bar](F &f) { bar(f)->setFocus(Qt::TabFocusReason); },
                         {{3, 0xC0 + n, kCalib[n]}}});
        cases.push_back(
            {std::string("Moved") + rows[n],
             [bar](F &f) { bar(f)->setFocus(Qt::TabFocusReason); },
             [](F &) { QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageDown); },
             {{3, 0x80 + n, kCalib[n] + 10}}});
        cases.push_back({std::string("Committed") + rows[n],
                         [field](F &f) {
                             field(f)->setFocus(Qt::TabFocusReason);
                             QTest::keyClicks(field(f), "0.5");
                         },
                         [field](F &f) { QTest::keyClick(field(f), Qt::Key_Return); },
                         {{3, 0x80 + n, n == 0 ? 5 : 50}}});
    }
    return cases;
}

void PrintTo(const WriteCase &c, std::ostream *os)
{
    *os << c.name;
}

class WriteTableTest : public SettingsFormTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(WriteTableTest, WritesAsTheTableSays)
{
    const WriteCase &c = GetParam();
    DeviceHolds(kCalib);
    TSettingsForm &f = Open();
    c.prepare(f);
    Gen().ClearLog();
    c.trigger(f);
    EXPECT_EQ(Writes(), c.expected);
    EXPECT_TRUE(boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(All, WriteTableTest, ::testing::ValuesIn(WriteCases()),
                         [](const auto &test) { return test.param.name; });

TEST_F(SettingsFormTest, MuteFlagIsReadAtEachWrite)
{
    Open();
    Focus(form->sbCa);
    mute = true;
    Focus(form->sbCb);
    mute = false;
    Click(form->btSave);
    EXPECT_EQ(Writes(), (std::vector<Write>{{3, 0xC1, 0}, {3, 0x82, 0}, {3, 0x44, 0}}));
}

TEST_F(SettingsFormTest, MovingFrequencyThenOkConfirmsAndRestores)
{
    DeviceHolds(kCalib);
    TSettingsForm &f = Open();
    int result = -1;
    QObject::connect(&f, &QDialog::finished, [&](int r) { result = r; });
    Focus(f.sbCf);
    Gen().ClearLog();
    f.sbCf->setValue(10);
    EXPECT_EQ(Writes(), (std::vector<Write>{{3, 0x80, 10}}));
    EXPECT_EQ(f.feCf->text(), "1.0");
    Gen().ClearLog();
    Click(f.btOk);
    EXPECT_EQ(Writes(), Concat({{4, 3, 0}}, RestoreRun()));
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(SettingsForm, nullptr);
    Deletions();
    EXPECT_TRUE(form.isNull());
    EXPECT_EQ(Gen().State().calibration, kCalib);
}

TEST_F(SettingsFormTest, FieldValuesRoundHalvesAwayFromZero)
{
    struct Case {
        int row;
        const char *text;
        std::optional<int> written;
    };
    const Case cases[] = {
        {1, "0.45", 45},
        {1, "-0.45", -45},
        {1, "0.004", std::nullopt},
        {2, "0.005", 1},
        {0, "1.25", 13},
        {0, "-1.25", -13},
        {0, "123", 999},
        {3, "-9.99", -999},
        // What the field shows is what is written, where the binary product
        // with 100 falls just below the half (28.4999...).
        {1, "0.285", 29},
        {1, "-0.285", -29},
        {2, "1.005", 101},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        Gen().Reset();
        TSettingsForm &f = Open();
        TFloatEdit *fields[4] = {f.feCf, f.feCa, f.feCb, f.feCc};
        Type(fields[c.row], c.text);
        Gen().ClearLog();
        QTest::keyClick(fields[c.row], Qt::Key_Return);
        std::vector<Write> expected;
        if (c.written) {
            expected.push_back({3, 0x80 + c.row, *c.written});
        }
        EXPECT_EQ(Writes(), expected);
        EXPECT_EQ(f.FRecord.CalibrationChanged(), c.written.has_value());
        delete form.data();
        EXPECT_EQ(SettingsForm, nullptr);
    }
}

TEST_F(SettingsFormTest, EnteringAndLeavingAFieldWritesOnlyTheEntries)
{
    DeviceHolds(kCalib);
    Open();
    Focus(form->feCa);
    Key(Qt::Key_Tab);  // to feCb
    EXPECT_EQ(Writes(), (std::vector<Write>{{3, 0xC1, 22}, {3, 0xC2, 33}}));
    EXPECT_FALSE(form->FRecord.CalibrationChanged());
}

enum class Way { Ok, Cancel, Escape, CloseBox };

void PrintTo(Way way, std::ostream *os)
{
    static const char *const names[] = {"Ok", "Cancel", "Escape", "CloseBox"};
    *os << names[static_cast<int>(way)];
}

std::string ClosingName(const ::testing::TestParamInfo<std::tuple<Way, bool>> &info)
{
    static const char *const names[] = {"Ok", "Cancel", "Escape", "CloseBox"};
    return std::string(names[static_cast<int>(std::get<0>(info.param))])
           + (std::get<1>(info.param) ? "Changed" : "Unchanged");
}

class ClosingTest : public SettingsFormTest,
                    public ::testing::WithParamInterface<std::tuple<Way, bool>> {};

TEST_P(ClosingTest, RunsFormCloseOnceAndFreesTheDialog)
{
    const auto [way, changed] = GetParam();
    DeviceHolds(kCalib);
    TSettingsForm &f = Open();
    int result = -1;
    QObject::connect(&f, &QDialog::finished, [&](int r) { result = r; });
    if (changed) {
        Focus(f.sbCb);
        Key(Qt::Key_Right);
    }
    Gen().ClearLog();
    switch (way) {
    case Way::Ok:
        Click(f.btOk);
        break;
    case Way::Cancel:
        Click(f.btCancel);
        break;
    case Way::Escape:
        Key(Qt::Key_Escape);
        break;
    case Way::CloseBox:
        f.close();
        break;
    }
    std::vector<Write> expected;
    if (way == Way::Ok) {
        expected.push_back({4, 3, 0});
    } else if (way != Way::CloseBox) {
        expected.push_back({4, 2, kContrast});
    }
    if (changed) {
        expected = Concat(expected, RestoreRun());
    }
    EXPECT_EQ(Writes(), expected);
    EXPECT_EQ(result, way == Way::Ok ? QDialog::Accepted : QDialog::Rejected);
    EXPECT_EQ(SettingsForm, nullptr);
    Deletions();
    EXPECT_TRUE(form.isNull());
    EXPECT_EQ(Writes(), expected);
    EXPECT_TRUE(boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(All, ClosingTest,
                         ::testing::Combine(::testing::Values(Way::Ok, Way::Cancel, Way::Escape,
                                                              Way::CloseBox),
                                            ::testing::Bool()),
                         ClosingName);

TEST_F(SettingsFormTest, RefreshWritesChangedReadingsBackOnce)
{
    TSettingsForm &f = Open();
    Gen().TurnKnob(3, 1, 120);
    Gen().TurnKnob(3, 3, -5);
    Gen().ClearLog();
    Click(f.btRefresh);
    const std::vector<std::pair<int, int>> reads = {{3, 0}, {3, 1}, {3, 2}, {3, 3}};
    EXPECT_EQ(Reads(), reads);
    EXPECT_EQ(Writes(), (std::vector<Write>{{3, 0x81, 120}, {3, 0x83, -5}}));
    EXPECT_EQ(f.feCa->text(), "1.20");
    EXPECT_TRUE(f.FRecord.CalibrationChanged());
    EXPECT_EQ(Restores(f), (std::array<int, 4>{0, 120, 0, -5}));
}

TEST_F(SettingsFormTest, RefreshWithoutChangesWritesNothing)
{
    DeviceHolds(kCalib);
    TSettingsForm &f = Open();
    Click(f.btRefresh);
    EXPECT_TRUE(Writes().empty());
    EXPECT_FALSE(f.FRecord.CalibrationChanged());
}

TEST_F(SettingsFormTest, ClickingOkCommitsTheFieldBeingEdited)
{
    DeviceHolds(kCalib);
    TSettingsForm &f = Open();
    Type(f.feCa, "0.3");
    Gen().ClearLog();
    Click(f.btOk);
    EXPECT_EQ(Writes(), Concat({{3, 0x81, 30}, {4, 3, 0}}, RestoreRun()));
}

TEST_F(SettingsFormTest, EscapeDropsUncommittedText)
{
    DeviceHolds(kCalib);
    TSettingsForm &f = Open();
    Type(f.feCa, "0.3");
    Gen().ClearLog();
    Key(Qt::Key_Escape);
    Deletions();
    EXPECT_EQ(Writes(), (std::vector<Write>{{4, 2, kContrast}}));
    EXPECT_TRUE(form.isNull());
}

TEST_F(SettingsFormTest, FailedWritesAreReportedAndLeaveTheGuardClear)
{
    DeviceHolds(kCalib);
    TSettingsForm &f = Open();
    const auto failNext = [] { Gen().ReplaceNextAnswer(oracle::Frame(8, {4})); };
    failNext();
    Focus(f.sbCa);  // entry write
    failNext();
    Key(Qt::Key_Right);  // move
    Type(f.feCb, "0.5");
    failNext();
    Key(Qt::Key_Return);  // commit
    ASSERT_EQ(boxes.size(), 3u);
    for (const ErrorBox &box : boxes) {
        EXPECT_EQ(box.caption, "PX-418");
        EXPECT_EQ(box.text, kInvalidParameters);
    }
    EXPECT_FALSE(f.FUpdate);
    // The dialog goes on working.
    Gen().ClearLog();
    f.sbCc->setValue(7);
    EXPECT_EQ(Writes(), (std::vector<Write>{{3, 0x83, 7}}));
    EXPECT_EQ(f.feCc->text(), "0.07");
}

TEST_F(SettingsFormTest, OkAndCancelCloseEvenWhenTheirWriteFails)
{
    for (QPushButton *TSettingsForm::*button : {&TSettingsForm::btOk, &TSettingsForm::btCancel}) {
        boxes.clear();
        TSettingsForm &f = Open();
        Gen().ReplaceNextAnswer(oracle::Frame(8, {4}));
        Click(f.*button);
        EXPECT_EQ(boxes.size(), 1u);
        EXPECT_EQ(SettingsForm, nullptr);
        Deletions();
        EXPECT_TRUE(form.isNull());
    }
}

TEST_F(SettingsFormTest, EscapeStaysOpenWhenItsWriteFails)
{
    TSettingsForm &f = Open();
    Gen().ReplaceNextAnswer(oracle::Frame(8, {4}));
    Key(Qt::Key_Escape);
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(SettingsForm, &f);
    EXPECT_TRUE(f.isVisible());
}

TEST_F(SettingsFormTest, AFailedRestoreTriesEveryRowAndNamesTheFailuresInOneBox)
{
    DeviceHolds(kCalib);
    TSettingsForm &f = Open();
    Focus(f.sbCa);
    Key(Qt::Key_Right);
    Gen().ClearLog();
    Gen().ReplaceNextAnswer(oracle::Frame(8, {4}));  // row A's write
    f.close();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "The calibration was not restored:\n"
                             "Ampl. A: Set parameter error: invalid parameters.");
    EXPECT_EQ(Writes(), RestoreRun());  // every row was tried
    EXPECT_EQ(SettingsForm, nullptr);
    Deletions();
    EXPECT_TRUE(form.isNull());
}

// A point on a part of a scroll bar (an arrow, the trough).
QPoint PartOf(QScrollBar *bar, QStyle::SubControl part)
{
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.orientation = bar->orientation();
    option.state |= QStyle::State_Horizontal;
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = option.sliderValue = bar->value();
    option.singleStep = bar->singleStep();
    option.pageStep = bar->pageStep();
    QRect rect = bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, part, bar);
    return part == QStyle::SC_ScrollBarAddPage ? QPoint(rect.right() - 2, rect.center().y())
                                               : rect.center();
}

// A failed write from a mouse press on a scroll bar ends the press: the
// error box (here one that, like a modal box, runs the event loop for a
// while and takes the release) is the last thing that happens.
TEST_F(SettingsFormTest, AFailedStepEndsTheScrollBarsGesture)
{
    struct Case {
        TScrollBar *TSettingsForm::*bar;
        QStyle::SubControl part;
        Write failed;
    };
    const Case cases[] = {
        {&TSettingsForm::sbCa, QStyle::SC_ScrollBarAddLine, {3, 0x81, 23}},
        {&TSettingsForm::sbCa, QStyle::SC_ScrollBarAddPage, {3, 0x81, 32}},
        {&TSettingsForm::sbContr, QStyle::SC_ScrollBarAddLine, {4, 2, kContrast + 1}},
    };
    int depth = 0;
    int deepest = 0;
    SetErrorPresenter([&](const ErrorBox &box) {
        boxes.push_back(box);
        deepest = std::max(deepest, ++depth);
        QTest::qWait(800);  // past the bar's auto-repeat delay
        --depth;
    });
    for (const Case &c : cases) {
        DeviceHolds(kCalib);
        boxes.clear();
        TSettingsForm &f = Open();
        QScrollBar *bar = f.*c.bar;
        Focus(bar);
        Gen().ClearLog();
        Gen().ReplaceNextAnswer(oracle::Frame(8, {4}));
        QTest::mousePress(bar, Qt::LeftButton, {}, PartOf(bar, c.part));
        QTest::qWait(300);
        EXPECT_EQ(boxes.size(), 1u);
        EXPECT_EQ(Writes(), (std::vector<Write>{c.failed})) << "nothing moves on its own";
        delete form.data();
    }
    EXPECT_EQ(deepest, 1);
}

TEST_F(SettingsFormTest, AFailedStepStopsTheHeldKey)
{
    DeviceHolds(kCalib);
    TSettingsForm &f = Open();
    Focus(f.sbCa);
    Gen().ClearLog();
    Gen().ReplaceNextAnswer(oracle::Frame(8, {4}));
    QTest::keyPress(f.sbCa, Qt::Key_Right);
    ASSERT_EQ(boxes.size(), 1u);
    for (int i = 0; i < 3; ++i) {  // the key's auto-repeat
        QTest::simulateEvent(f.sbCa, true, Qt::Key_Right, Qt::NoModifier, QString(), true);
    }
    EXPECT_EQ(f.sbCa->value(), 23);
    EXPECT_EQ(Writes(), (std::vector<Write>{{3, 0x81, 23}}));
    EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(SettingsFormTest, ALastingFailureShowsOneBoxPerClick)
{
    int depth = 0;
    int deepest = 0;
    SetErrorPresenter([&](const ErrorBox &box) {
        boxes.push_back(box);
        deepest = std::max(deepest, ++depth);
        QTest::qWait(800);
        --depth;
    });
    TSettingsForm &f = Open();
    Focus(f.sbCa);
    Gen().SetSilent(true);
    QTest::mousePress(f.sbCa, Qt::LeftButton, {}, PartOf(f.sbCa, QStyle::SC_ScrollBarAddLine));
    QTest::qWait(300);
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(deepest, 1);
    EXPECT_EQ(f.sbCa->value(), 1);
}

TEST_F(SettingsFormTest, WhatTheFieldShowsIsWhatTheDeviceGets)
{
    TSettingsForm &f = Open();
    Type(f.feCa, "0.285");
    Key(Qt::Key_Return);
    EXPECT_EQ(f.feCa->text(), "0.29");
    EXPECT_EQ(f.sbCa->value(), 29);
    EXPECT_EQ(Gen().State().calibration[1], 29);
    // The shown text typed again is what the device holds already.
    Gen().ClearLog();
    Type(f.feCa, "0.29");
    Key(Qt::Key_Return);
    EXPECT_TRUE(Writes().empty());
}

TEST_F(SettingsFormTest, AltChordsTypeNothingIntoAField)
{
    TSettingsForm &f = Open();
    Type(f.feCa, "0.5");
    QTest::keyClick(f.feCa, Qt::Key_F, Qt::AltModifier);
    EXPECT_EQ(f.feCa->text(), "0.5");
    Gen().ClearLog();
    Key(Qt::Key_Return);
    EXPECT_EQ(Writes(), (std::vector<Write>{{3, 0x81, 50}}));
}

TEST_F(SettingsFormTest, TheFocusedScrollBarShowsAMark)
{
    TSettingsForm &f = Open();
    ASSERT_TRUE(f.sbContr->hasFocus());  // where the focus is at opening
    const QRgb highlight = f.sbContr->palette().color(QPalette::Highlight).rgb();
    EXPECT_EQ(f.sbContr->grab().toImage().pixel(1, 8), highlight);
    Key(Qt::Key_Tab);
    EXPECT_NE(f.sbContr->grab().toImage().pixel(1, 8), highlight);
    Focus(f.sbCc);
    EXPECT_EQ(f.sbCc->grab().toImage().pixel(1, 8), highlight);
}

// One notch of the wheel, delivered as the window system delivers it.
void Wheel(QWidget *w)
{
    const QPoint at = w->rect().center();
    QWheelEvent event(at, w->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QSpontaneKeyEvent::setSpontaneous(&event);
    QApplication::instance()->notify(w, &event);
}

TEST_F(SettingsFormTest, TheWheelMovesOnlyTheFocusedScrollBar)
{
    DeviceHolds(kCalib);
    TSettingsForm &f = Open();
    Gen().ClearLog();
    for (QWidget *w : std::initializer_list<QWidget *>{f.sbCa, f.feCb, f.sbCc}) {
        Wheel(w);
    }
    EXPECT_TRUE(f.sbContr->hasFocus());
    EXPECT_TRUE(Writes().empty());
    Wheel(f.sbContr);
    EXPECT_GT(f.sbContr->value(), kContrast);
    EXPECT_EQ(Writes().size(), 1u);
}

TEST_F(SettingsFormTest, EnterClicksTheFocusedButtonAndOnlyCommitsAField)
{
    TSettingsForm &f = Open();
    Type(f.feCa, "0.5");
    Gen().ClearLog();
    Key(Qt::Key_Return);
    EXPECT_EQ(Writes(), (std::vector<Write>{{3, 0x81, 50}}));
    EXPECT_TRUE(f.isVisible());
    Focus(f.btSave);
    Key(Qt::Key_Return);
    EXPECT_EQ(Writes(), (std::vector<Write>{{3, 0x81, 50}, {3, 0x44, 0}}));
    Focus(f.btOk);
    Gen().ClearLog();
    Key(Qt::Key_Return);
    EXPECT_EQ(Writes(), (std::vector<Write>{{4, 3, 0}}));
    EXPECT_EQ(SettingsForm, nullptr);
}

// Failures of a chosen request, through the recording converter double.
class SettingsFormDoubleTest : public SettingsFormTest {
protected:
    void SetUp() override
    {
        SetErrorPresenter([this](const ErrorBox &box) { boxes.push_back(box); });
        Gen().Reset();
        d2xxdouble::Instance().Reset();
        d2xxdouble::Instance().AddConverter(d2xxdouble::Virtual(Gen()));
        D2xxInstall(&d2xxdouble::Api());
        ASSERT_TRUE(PX418_OpenDevice());
        d2xxdouble::Instance().ClearCalls();
        main.show();
    }

    static QString LastError()
    {
        const char *text = nullptr;
        PX418_GetLastError(&text);
        return WithFullStop(QString::fromLocal8Bit(text));
    }
};

TEST_F(SettingsFormDoubleTest, AFailedReadingAtOpeningKeepsWhatWasRead)
{
    DeviceHolds(kCalib);
    d2xxdouble::Instance().FailCall("FT_Write", FT_IO_ERROR, 3);  // the request of (3, 1)
    TSettingsForm &f = Open();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_FALSE(boxes[0].text.isEmpty());
    EXPECT_EQ(boxes[0].text, LastError());
    EXPECT_EQ(f.sbContr->value(), kContrast);
    EXPECT_EQ(f.sbCf->value(), 11);
    EXPECT_EQ(f.sbCa->value(), 0);
    EXPECT_EQ(f.feCc->text(), "0.00");
    EXPECT_EQ(f.FRecord.Row(0).restore, 11);
    for (int n = 0; n < 4; ++n) {
        EXPECT_EQ(f.FRecord.RowWasRead(n), n == 0) << n;
    }
    EXPECT_FALSE(f.FUpdate);
    EXPECT_TRUE(f.isVisible());
    EXPECT_TRUE(Writes().empty());
}

TEST_F(SettingsFormDoubleTest, AContrastNeverReadIsNotWrittenBack)
{
    DeviceHolds(kCalib);
    d2xxdouble::Instance().FailCall("FT_Write", FT_IO_ERROR, 1);  // the request of (4, 2)
    TSettingsForm &f = Open();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(f.sbContr->value(), 44);  // as designed, not read
    Gen().ClearLog();
    Click(f.btCancel);
    EXPECT_TRUE(Writes().empty());
    EXPECT_EQ(Gen().State().contrast, kContrast);
}

TEST_F(SettingsFormDoubleTest, RefreshStopsAtTheFirstFailure)
{
    TSettingsForm &f = Open();
    Gen().TurnKnob(3, 0, 7);
    Gen().TurnKnob(3, 2, 9);
    Gen().ClearLog();
    d2xxdouble::Instance().FailCall("FT_Write", FT_IO_ERROR, 2);  // writing 7 back
    Click(f.btRefresh);
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(Reads(), (std::vector<std::pair<int, int>>{{3, 0}}));
    EXPECT_EQ(f.sbCf->value(), 7);
    EXPECT_EQ(f.FRecord.Row(0).restore, 0);
    EXPECT_FALSE(f.FUpdate);
    EXPECT_FALSE(f.FRecord.CalibrationChanged());
    // Again: the device and the dialog agree on 7 now; only row 2 moves.
    Click(f.btRefresh);
    EXPECT_EQ(Writes(), (std::vector<Write>{{3, 0x82, 9}}));
    EXPECT_EQ(Restores(f), (std::array<int, 4>{7, 0, 9, 0}));
}

}  // namespace

// Opened from the main window's menu: shown modally, closed by Escape, freed.
TEST_F(MainWindowTest, SettingsMenuShowsTheDialogModallyUntilItCloses)
{
    CreateOnLine();
    QPointer<TSettingsForm> shown;
    bool modal = false;
    QTimer::singleShot(0, [&] {
        shown = SettingsForm;
        ASSERT_NE(shown, nullptr);
        modal = shown->isModal() && shown->isVisible();
        // The modal dialog is activated once its loop runs.
        EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == shown; }));
        shown->sbCa->setFocus(Qt::TabFocusReason);
        QTest::keyClick(shown->sbCa, Qt::Key_Right);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    });
    // Should the dialog not close, this ends the modal loop.
    QTimer::singleShot(10000, [&] {
        if (SettingsForm) {
            SettingsForm->reject();
        }
    });
    form->Settings->trigger();
    EXPECT_TRUE(modal);
    EXPECT_EQ(SettingsForm, nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(shown.isNull());
    const std::vector<Write> dialogWrites = {{3, 0xC1, 0}, {3, 0x81, 1}, {4, 2, 44},  {3, 1, 0},
                                             {3, 2, 0},    {3, 3, 0},    {3, 0xC0, 0}};
    const std::vector<Write> writes = Writes();
    ASSERT_GE(writes.size(), dialogWrites.size());
    EXPECT_EQ(std::vector<Write>(writes.begin(), writes.begin() + dialogWrites.size()),
              dialogWrites);
    EXPECT_TRUE(boxes.empty());
}

// Opened off line, the generator plugged in meanwhile: the dialog reads what
// it could not read at opening, and Escape puts back the real contrast.
TEST_F(MainWindowTest, TheDialogReadsTheDeviceThatComesOnLineWhileItIsOpen)
{
    auto state = TheVirtualGenerator().State();
    state.contrast = 60;
    state.calibration = {25, 50, 0, -3};
    TheVirtualGenerator().SetState(state);
    TheVirtualGenerator().SetPlugged(false);
    Create();
    Tick();
    ASSERT_EQ(form->StatusText(), QStringLiteral("OFF-Line"));
    std::array<int, 5> shownOffLine{}, shownOnLine{};
    QTimer::singleShot(0, [&] {
        TSettingsForm *dialog = SettingsForm;
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == dialog; }));
        auto shown = [dialog] {
            return std::array<int, 5>{dialog->sbContr->value(), dialog->sbCf->value(),
                                      dialog->sbCa->value(), dialog->sbCb->value(),
                                      dialog->sbCc->value()};
        };
        shownOffLine = shown();
        TheVirtualGenerator().SetPlugged(true);
        Tick();
        shownOnLine = shown();
        TheVirtualGenerator().ClearLog();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    });
    QTimer::singleShot(10000, [&] {
        if (SettingsForm) {
            SettingsForm->reject();
        }
    });
    form->Settings->trigger();
    EXPECT_EQ(shownOffLine, (std::array<int, 5>{0, 0, 0, 0, 0}));
    EXPECT_EQ(shownOnLine, (std::array<int, 5>{60, 25, 50, 0, -3}));
    const std::vector<Write> writes = Writes();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.front(), (Write{4, 2, 60}));  // Escape: the contrast it read
    EXPECT_EQ(TheVirtualGenerator().State().contrast, 60);
    EXPECT_EQ(TheVirtualGenerator().State().calibration, (std::array<int, 4>{25, 50, 0, -3}));
    EXPECT_TRUE(boxes.empty());
}

// TFloatEdit driven offscreen as an operator would: focus, typing, Enter and
// leaving the field.
#include "floatedit.h"

#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <QApplication>
#include <QDialog>
#include <QLocale>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include "errors.h"

namespace {

class FloatEditTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        previousPresenter_ =
            SetErrorPresenter([this](const ErrorBox &box) { boxes.push_back(box); });
        window = std::make_unique<QWidget>();
        auto *layout = new QVBoxLayout(window.get());
        edit = new TFloatEdit(window.get());
        other = new QLineEdit(window.get());
        layout->addWidget(edit);
        layout->addWidget(other);
        // The operator starts in the other control and moves into the field.
        other->setFocus();
        window->show();
        Activate(window.get());
        ASSERT_TRUE(other->hasFocus());
    }

    void TearDown() override { SetErrorPresenter(std::move(previousPresenter_)); }

    static void Activate(QWidget *w)
    {
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    }

    // Records every event with the value and text the handler sees.
    void Attach()
    {
        edit->OnChanged = [this](QObject *sender) { Record("changed", sender); };
        edit->OnEnterPress = [this](QObject *sender) { Record("enterpress", sender); };
        edit->OnEnter = [this](QObject *sender) {
            Record("enter", sender);
            selectedOnEnter = edit->selectedText();
        };
        edit->OnExit = [this](QObject *sender) { Record("exit", sender); };
        edit->OnError = [this](QObject *sender, const QString &msg, bool &handled) {
            Record("error", sender);
            errors.push_back(msg);
            EXPECT_FALSE(handled);
        };
    }

    void Record(const char *what, QObject *sender)
    {
        EXPECT_EQ(sender, edit);
        log.push_back(
            std::string(what) + " "
            + QString::number(edit->Value(), 'g', QLocale::FloatingPointShortest).toStdString()
            + " [" + edit->text().toStdString() + "]");
    }

    void FocusField() { edit->setFocus(Qt::TabFocusReason); }
    void FocusOther() { other->setFocus(Qt::TabFocusReason); }
    // Replaces whatever the field shows with the typed text.
    void Type(const QString &text)
    {
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, text);
    }
    void PressEnter() { QTest::keyClick(edit, Qt::Key_Return); }

    std::unique_ptr<QWidget> window;
    TFloatEdit *edit = nullptr;
    QLineEdit *other = nullptr;
    std::vector<std::string> log;
    std::vector<QString> errors;
    std::vector<ErrorBox> boxes;
    QString selectedOnEnter;

private:
    ErrorPresenter previousPresenter_;
};

using Log = std::vector<std::string>;

TEST_F(FloatEditTest, StartsWithItsDefaults)
{
    TFloatEdit fresh;
    EXPECT_EQ(fresh.text(), "0.00000");
    EXPECT_EQ(fresh.Value(), 0);
    EXPECT_EQ(fresh.MinValue(), 0);
    EXPECT_EQ(fresh.MaxValue(), 10);
    EXPECT_EQ(fresh.Format(), ffFixed);
    EXPECT_EQ(fresh.Digits(), 5);
    EXPECT_EQ(fresh.Precision(), 5);
    EXPECT_TRUE(fresh.MinMaxCheck);
    EXPECT_TRUE(fresh.ValueVisible());
}

TEST_F(FloatEditTest, SettersRerender)
{
    edit->SetValue(2.675);
    EXPECT_EQ(edit->text(), "2.67500");
    edit->SetDigits(2);
    EXPECT_EQ(edit->text(), "2.68");
    edit->SetPrec(2);
    EXPECT_EQ(edit->text(), "2.70");
    edit->SetFormat(ffGeneral);
    EXPECT_EQ(edit->text(), "2.7");
    edit->SetValueVisible(false);
    EXPECT_EQ(edit->text(), "");
    edit->SetValueVisible(true);
    EXPECT_EQ(edit->text(), "2.7");
    EXPECT_EQ(edit->Value(), 2.675);
}

TEST_F(FloatEditTest, EnterCommitsTypedNumber)
{
    Attach();
    FocusField();
    Type("7.25");
    PressEnter();
    EXPECT_EQ(edit->Value(), 7.25);
    EXPECT_EQ(edit->text(), "7.25000");
    EXPECT_EQ(edit->selectedText(), edit->text());
    EXPECT_EQ(log, (Log{"enter 0 [0.00000]", "changed 7.25 [7.25]", "enterpress 7.25 [7.25000]"}));
}

TEST_F(FloatEditTest, ClampedCommitFiresOnChangedTwice)
{
    edit->SetDigits(1);
    edit->SetMinValue(-99.9);
    edit->SetMaxValue(99.9);
    Attach();
    FocusField();
    Type("123");
    PressEnter();
    EXPECT_EQ(edit->Value(), 99.9);
    EXPECT_EQ(edit->text(), "99.9");
    EXPECT_EQ(log, (Log{"enter 0 [0.0]", "changed 99.9 [123]", "changed 99.9 [123]",
                        "enterpress 99.9 [99.9]"}));

    log.clear();
    Type("-1e3");
    FocusOther();
    EXPECT_EQ(edit->Value(), -99.9);
    EXPECT_EQ(edit->text(), "-99.9");
    EXPECT_EQ(log, (Log{"changed -99.9 [-1e3]", "changed -99.9 [-1e3]", "exit -99.9 [-99.9]"}));
}

TEST_F(FloatEditTest, UnchangedTextKeepsFullPrecision)
{
    edit->SetDigits(2);
    edit->SetValue(1.23456789);
    Attach();
    FocusField();
    PressEnter();
    EXPECT_EQ(edit->Value(), 1.23456789);
    EXPECT_EQ(edit->text(), "1.23");

    // Retyped as shown: still the very same text, so still the full value.
    Type("1.23");
    FocusOther();
    EXPECT_EQ(edit->Value(), 1.23456789);
    EXPECT_EQ(log, (Log{"enter 1.23456789 [1.23]", "changed 1.23456789 [1.23]",
                        "enterpress 1.23456789 [1.23]", "changed 1.23456789 [1.23]",
                        "exit 1.23456789 [1.23]"}));

    // Any other spelling of the number is converted.
    FocusField();
    Type("1.230");
    PressEnter();
    EXPECT_EQ(edit->Value(), 1.23);
}

TEST_F(FloatEditTest, RejectedTextRevertsWithTheConversionMessage)
{
    edit->SetValue(4.5);
    Attach();
    FocusField();
    Type("abc");
    FocusOther();
    EXPECT_EQ(edit->Value(), 4.5);
    EXPECT_EQ(edit->text(), "4.50000");
    EXPECT_EQ(errors, (std::vector<QString>{"'abc' is not a valid floating point value"}));
    EXPECT_EQ(log, (Log{"enter 4.5 [4.50000]", "error 4.5 [abc]", "changed 4.5 [abc]",
                        "exit 4.5 [4.50000]"}));
    EXPECT_TRUE(boxes.empty()) << "the control itself shows no box";
}

TEST_F(FloatEditTest, EmptyTextIsAConversionFailureNotZero)
{
    edit->SetValue(4.5);
    Attach();
    FocusField();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    PressEnter();
    EXPECT_EQ(edit->Value(), 4.5);
    EXPECT_EQ(errors, (std::vector<QString>{"'' is not a valid floating point value"}));
}

TEST_F(FloatEditTest, RejectedTextWithoutErrorHandlerRevertsQuietly)
{
    edit->SetValue(2);
    int changed = 0;
    edit->OnChanged = [&](QObject *) { ++changed; };
    FocusField();
    Type("1.2.3");
    PressEnter();
    EXPECT_EQ(edit->Value(), 2);
    EXPECT_EQ(edit->text(), "2.00000");
    EXPECT_EQ(changed, 1);
}

TEST_F(FloatEditTest, ErrorHandlerThatAssignsValueKeepsItsNumber)
{
    edit->SetValue(4.5);
    Attach();
    edit->OnError = [this](QObject *, const QString &, bool &) { edit->SetValue(6); };
    FocusField();
    Type("x");
    PressEnter();
    EXPECT_EQ(edit->Value(), 6);
    EXPECT_EQ(edit->text(), "6.00000");
    // The handler's own commit, then the one of the Enter key.
    EXPECT_EQ(log, (Log{"enter 4.5 [4.50000]", "changed 6 [x]", "changed 6 [6.00000]",
                        "enterpress 6 [6.00000]"}));
}

TEST_F(FloatEditTest, HandledErrorRestoresTheValueHeldBefore)
{
    edit->SetValue(4.5);
    Attach();
    edit->OnError = [this](QObject *, const QString &, bool &handled) {
        edit->SetValue(6);
        handled = true;
    };
    FocusField();
    Type("x");
    PressEnter();
    EXPECT_EQ(edit->Value(), 4.5);
    EXPECT_EQ(edit->text(), "4.50000");
}

TEST_F(FloatEditTest, InvisibleValueShowsEmptyTextAndKeepsTheValue)
{
    edit->SetValue(5);
    edit->SetValueVisible(false);
    EXPECT_EQ(edit->text(), "");
    Attach();
    FocusField();
    PressEnter();
    EXPECT_EQ(edit->Value(), 5);
    EXPECT_EQ(edit->text(), "");
    EXPECT_EQ(errors, (std::vector<QString>{"'' is not a valid floating point value"}));

    // A number typed into the invisible field is committed and hidden again.
    Type("2");
    FocusOther();
    EXPECT_EQ(edit->Value(), 2);
    EXPECT_EQ(edit->text(), "");
}

TEST_F(FloatEditTest, MovingABoundUnderTheHeldValueClampsAtOnce)
{
    edit->SetValue(8);
    Attach();
    edit->SetMaxValue(5);
    EXPECT_EQ(edit->Value(), 5);
    EXPECT_EQ(edit->text(), "5.00000");
    EXPECT_EQ(log, (Log{"changed 5 [8.00000]"}));

    log.clear();
    edit->SetMaxValue(20);
    edit->SetMinValue(1);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(edit->Value(), 5);
}

TEST_F(FloatEditTest, MinimumAboveMaximumMakesEveryValueInvalid)
{
    edit->SetMaxValue(5);
    edit->SetMinValue(6);
    EXPECT_EQ(edit->Value(), 6) << "0 is not above the maximum, so it becomes the minimum";
    Attach();

    const struct {
        const char *typed;
        double expected;
    } cases[] = {{"100", 5}, {"5.5", 5}, {"5", 6}, {"3", 6}, {"6", 5}};
    FocusField();
    for (const auto &c : cases) {
        log.clear();
        Type(c.typed);
        PressEnter();
        EXPECT_EQ(edit->Value(), c.expected) << c.typed;
        EXPECT_EQ(log.size(), 3u) << c.typed << ": clamp, commit, Enter; no second check";
    }
}

TEST_F(FloatEditTest, WithoutBoundsCheckEveryNumberIsAcceptedAsTyped)
{
    edit->MinMaxCheck = false;
    Attach();
    FocusField();
    Type("-1e6");
    PressEnter();
    EXPECT_EQ(edit->Value(), -1e6);
    EXPECT_EQ(log,
              (Log{"enter 0 [0.00000]", "changed -1e+06 [-1e6]", "enterpress -1e+06 [-1E+0006]"}));
}

TEST_F(FloatEditTest, ValidateHandlerDecidesOnlyWithoutBoundsCheck)
{
    std::vector<double> asked;
    edit->OnValidateValue = [&](QObject *sender, double value, bool &valid) {
        EXPECT_EQ(sender, edit);
        EXPECT_TRUE(valid);
        asked.push_back(value);
        valid = value != 13;
    };
    int outOfBounds = 0;
    edit->OnOutOfBounds = [&](QObject *) { ++outOfBounds; };

    edit->SetValue(3);
    EXPECT_TRUE(asked.empty()) << "never consulted while the bounds are checked";

    edit->MinMaxCheck = false;
    edit->SetValue(13);
    EXPECT_EQ(asked, (std::vector<double>{13}));
    EXPECT_EQ(outOfBounds, 1);
    EXPECT_EQ(edit->Value(), 13) << "the rejected value stays; only the event reports it";

    // Without OnOutOfBounds a rejected value simply stays.
    edit->OnOutOfBounds = nullptr;
    edit->SetValue(42);
    edit->SetValue(13);
    EXPECT_EQ(edit->Value(), 13);
    EXPECT_EQ(outOfBounds, 1);
}

TEST_F(FloatEditTest, OutOfBoundsHandlerReplacesClamping)
{
    int outOfBounds = 0;
    Attach();
    edit->OnOutOfBounds = [&](QObject *sender) {
        EXPECT_EQ(sender, edit);
        ++outOfBounds;
    };
    FocusField();
    Type("20");
    PressEnter();
    EXPECT_EQ(outOfBounds, 1);
    EXPECT_EQ(edit->Value(), 20);
    EXPECT_EQ(edit->text(), "20.00000");
    EXPECT_EQ(log, (Log{"enter 0 [0.00000]", "changed 20 [20]", "enterpress 20 [20.00000]"}));
}

TEST_F(FloatEditTest, AssigningTheHeldNumberFiresNothing)
{
    edit->SetValue(2.5);
    Attach();
    FocusField();
    Type("9");
    edit->SetValue(2.5);
    EXPECT_TRUE(log.size() == 1 && log[0].rfind("enter", 0) == 0);
    EXPECT_EQ(edit->text(), "9") << "the typed text is left alone";

    edit->SetValue(3);
    EXPECT_EQ(log.back(), "changed 3 [9]");
    EXPECT_EQ(edit->text(), "3.00000");
}

TEST_F(FloatEditTest, AssigningNanClampsToTheMinimum)
{
    edit->SetMinValue(1);
    Attach();
    edit->SetValue(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(edit->Value(), 1);
    EXPECT_EQ(log.size(), 2u);
}

TEST_F(FloatEditTest, KeyHandlerThatSwallowsReturnPreventsTheCommit)
{
    Attach();
    std::vector<int> seen;
    edit->OnKeyDown = [&](QObject *sender, int &key, Qt::KeyboardModifiers) {
        EXPECT_EQ(sender, edit);
        seen.push_back(key);
        if (key == Qt::Key_Return) {
            key = 0;
        }
    };
    FocusField();
    Type("3");
    PressEnter();
    EXPECT_EQ(edit->Value(), 0);
    EXPECT_EQ(edit->text(), "3");
    EXPECT_EQ(log, (Log{"enter 0 [0.00000]"}));
    EXPECT_EQ(seen, (std::vector<int>{Qt::Key_Backspace, Qt::Key_3, Qt::Key_Return}));
}

TEST_F(FloatEditTest, KeyHandlerCanTurnAKeyIntoEnterOrSwallowTyping)
{
    Attach();
    edit->OnKeyDown = [&](QObject *, int &key, Qt::KeyboardModifiers) {
        if (key == Qt::Key_Space) {
            key = Qt::Key_Return;
        } else if (key == Qt::Key_A) {
            key = 0;
        }
    };
    FocusField();
    Type("4a");
    EXPECT_EQ(edit->text(), "4");
    QTest::keyClick(edit, Qt::Key_Space);
    EXPECT_EQ(edit->Value(), 4);
    EXPECT_EQ(log.back(), "enterpress 4 [4.00000]");
}

TEST_F(FloatEditTest, ReturnNeverReachesTheDefaultButtonOfADialog)
{
    QDialog dialog;
    auto *layout = new QVBoxLayout(&dialog);
    auto *field = new TFloatEdit(&dialog);
    auto *button = new QPushButton(QStringLiteral("Ok"), &dialog);
    layout->addWidget(field);
    layout->addWidget(button);
    button->setDefault(true);
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
    int presses = 0;
    field->OnEnterPress = [&](QObject *) { ++presses; };
    dialog.show();
    Activate(&dialog);
    field->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(field, "1");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(presses, 1);
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(field->Value(), 1);

    // The keypad's Enter with modifiers commits too, and is consumed even
    // when a handler fails.
    field->OnChanged = [](QObject *) { throw Exception(QStringLiteral("no")); };
    QTest::keyClicks(field, "2");
    QTest::keyClick(field, Qt::Key_Enter, Qt::KeypadModifier | Qt::ShiftModifier);
    EXPECT_EQ(field->Value(), 2) << "the commit selected all, so typing replaced it";
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(presses, 1) << "the failed commit stops before OnEnterPress";
    EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(FloatEditTest, ThrowingChangeHandlerIsReportedOnceAndStopsTheCommit)
{
    SetApplicationTitle(QStringLiteral("PX-418"));
    int changed = 0;
    edit->OnChanged = [&](QObject *) {
        ++changed;
        throw Exception(QStringLiteral("Set parameter error: device not responding"));
    };
    int enterPresses = 0;
    edit->OnEnterPress = [&](QObject *) { ++enterPresses; };
    FocusField();
    Type("3");
    PressEnter();
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(enterPresses, 0);
    EXPECT_EQ(edit->Value(), 3);
    EXPECT_EQ(edit->text(), "3");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "PX-418");
    EXPECT_EQ(boxes[0].text, "Set parameter error: device not responding.");
}

TEST_F(FloatEditTest, ThrowingChangeHandlerOnLeavingSkipsTheExitEvent)
{
    int exits = 0;
    edit->OnExit = [&](QObject *) { ++exits; };
    edit->OnChanged = [](QObject *) { throw std::runtime_error("write failed"); };
    FocusField();
    Type("2");
    FocusOther();
    EXPECT_EQ(exits, 0);
    EXPECT_EQ(edit->Value(), 2);
    EXPECT_EQ(edit->text(), "2");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "write failed.");
    EXPECT_TRUE(other->hasFocus()) << "the focus moves on regardless";
}

TEST_F(FloatEditTest, ExceptionsPassThroughDirectCallsUnchanged)
{
    edit->OnChanged = [](QObject *) { throw Exception(QStringLiteral("stop"), 7); };
    try {
        edit->SetValue(5);
        FAIL() << "no exception";
    } catch (const Exception &e) {
        EXPECT_EQ(e.Message(), "stop");
        EXPECT_EQ(e.HelpContext(), 7);
    }
    EXPECT_EQ(edit->Value(), 5);
    EXPECT_EQ(edit->text(), "0.00000") << "the text is rendered after the change event";
    EXPECT_TRUE(boxes.empty());
}

TEST_F(FloatEditTest, EnterSelectsAllBeforeOnEnterAndExitCommitsBeforeOnExit)
{
    edit->SetValue(1.5);
    Attach();
    FocusField();
    EXPECT_EQ(selectedOnEnter, "1.50000");
    Type("2");
    FocusOther();
    EXPECT_EQ(log, (Log{"enter 1.5 [1.50000]", "changed 2 [2]", "exit 2 [2.00000]"}));

    // Focus given back by the program after an exit is an entry again.
    log.clear();
    edit->setFocus(Qt::OtherFocusReason);
    EXPECT_EQ(log, (Log{"enter 2 [2.00000]"}));
}

TEST_F(FloatEditTest, TabMovesTheFocusAndCommits)
{
    Attach();
    FocusField();
    Type("6");
    QTest::keyClick(edit, Qt::Key_Tab);
    EXPECT_TRUE(other->hasFocus());
    EXPECT_EQ(edit->Value(), 6);
    EXPECT_EQ(log.back(), "exit 6 [6.00000]");
}

TEST_F(FloatEditTest, WindowDeactivationIsNeitherExitNorEntry)
{
    Attach();
    FocusField();
    Type("7");
    log.clear();

    QWidget second;
    second.show();
    Activate(&second);
    EXPECT_FALSE(window->isActiveWindow());
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(edit->text(), "7") << "typed text survives a switch to another window";

    Activate(window.get());
    EXPECT_TRUE(edit->hasFocus());
    EXPECT_TRUE(log.empty());

    FocusOther();
    EXPECT_EQ(edit->Value(), 7);
    EXPECT_EQ(log, (Log{"changed 7 [7]", "exit 7 [7.00000]"}));
}

TEST_F(FloatEditTest, DisabledUnderTheFocusItDropsTypedText)
{
    edit->SetValue(1.5);
    Attach();
    FocusField();
    Type("7");
    log.clear();
    edit->setEnabled(false);
    EXPECT_FALSE(edit->hasFocus());
    EXPECT_TRUE(log.empty()) << "neither a commit nor an exit event";
    EXPECT_EQ(edit->Value(), 1.5);
    EXPECT_EQ(edit->text(), "1.50000");

    // It has left: enabled and focused again, it is entered.
    edit->setEnabled(true);
    FocusField();
    EXPECT_EQ(log, (Log{"enter 1.5 [1.50000]"}));
}

TEST_F(FloatEditTest, AltChordsInsertNothing)
{
    Attach();
    FocusField();
    Type("7");
    for (Qt::Key key : {Qt::Key_F, Qt::Key_5, Qt::Key_Period}) {
        QTest::keyClick(edit, key, Qt::AltModifier);
    }
    QTest::keyClick(edit, Qt::Key_E, Qt::AltModifier | Qt::ShiftModifier);
    EXPECT_EQ(edit->text(), "7");
    PressEnter();
    EXPECT_EQ(edit->Value(), 7);
}

TEST_F(FloatEditTest, GermanLocaleUsesTheCommaBothWays)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    TFloatEdit *field = new TFloatEdit(window.get());
    window->layout()->addWidget(field);
    field->show();
    EXPECT_EQ(field->text(), "0,00000");
    QString message;
    field->OnError = [&](QObject *, const QString &msg, bool &) { message = msg; };
    field->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(field, "1,5");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(field->Value(), 1.5);
    EXPECT_EQ(field->text(), "1,50000");

    field->selectAll();
    QTest::keyClicks(field, "2.5");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(field->Value(), 1.5);
    EXPECT_EQ(message, "'2.5' is not a valid floating point value");
}

}  // namespace

TEST(ConversionMessageTest, QuotesTheTextAsTyped)
{
    EXPECT_EQ(TFloatEdit::ConversionMessage(QStringLiteral("abc")),
              "'abc' is not a valid floating point value");
    EXPECT_EQ(TFloatEdit::ConversionMessage(QString()), "'' is not a valid floating point value");
    EXPECT_EQ(TFloatEdit::ConversionMessage(QStringLiteral("%1 %s")),
              "'%1 %s' is not a valid floating point value");
}

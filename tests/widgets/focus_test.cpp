// Entries and exits of a watched widget that is not a numeric field, and of
// both kinds of control when the menu bar takes the keyboard focus.
#include "focus.h"

#include <string>
#include <vector>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include "errors.h"
#include "floatedit.h"

namespace {

TEST(FocusWatcherTest, ComboBoxEntriesAndExitsIgnoreWindowActivation)
{
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *edit = new QLineEdit(&window);
    auto *combo = new QComboBox(&window);
    combo->addItems({QStringLiteral("A.B.C"), QStringLiteral("A+B+C")});
    layout->addWidget(edit);
    layout->addWidget(combo);
    std::vector<std::string> log;
    FocusWatcher::Watch(
        combo, [&] { log.push_back("enter"); }, [&] { log.push_back("exit"); });
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    edit->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(edit, Qt::Key_Tab);
    ASSERT_TRUE(combo->hasFocus());
    EXPECT_EQ(log, (std::vector<std::string>{"enter"}));

    QWidget second;
    second.show();
    second.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&second));
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    EXPECT_TRUE(combo->hasFocus());
    EXPECT_EQ(log, (std::vector<std::string>{"enter"})) << "deactivation is neither exit nor entry";

    QTest::keyClick(combo, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_TRUE(edit->hasFocus());
    EXPECT_EQ(log, (std::vector<std::string>{"enter", "exit"}));
}

TEST(FocusWatcherTest, AThrowingHandlerIsReported)
{
    std::vector<ErrorBox> boxes;
    ErrorPresenter previous = SetErrorPresenter([&](const ErrorBox &box) { boxes.push_back(box); });
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *edit = new QLineEdit(&window);
    auto *combo = new QComboBox(&window);
    layout->addWidget(edit);
    layout->addWidget(combo);
    FocusWatcher::Watch(combo, [] { throw Exception(QStringLiteral("Get parameter error")); });
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    combo->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Get parameter error.");
    EXPECT_TRUE(combo->hasFocus());
    SetErrorPresenter(std::move(previous));
}

// A window with a menu bar, a numeric field, a watched list and an edit.
class MenuBarFocusTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window.menuBar()->addMenu(QStringLiteral("File"))->addAction(QStringLiteral("Open"));
        auto *client = new QWidget(&window);
        auto *layout = new QVBoxLayout(client);
        field = new TFloatEdit(client);
        combo = new QComboBox(client);
        other = new QLineEdit(client);
        layout->addWidget(field);
        layout->addWidget(combo);
        layout->addWidget(other);
        window.setCentralWidget(client);
        field->OnChanged = [this](QObject *) {
            log.push_back("changed " + field->text().toStdString());
        };
        field->OnEnter = [this](QObject *) { log.push_back("field enter"); };
        FocusWatcher::Watch(
            combo, [this] { log.push_back("combo enter"); },
            [this] { log.push_back("combo exit"); });
        // The operator starts in the edit.
        other->setFocus();
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        ASSERT_TRUE(other->hasFocus());
    }

    // Alt pressed and released alone: the menu bar takes the focus.
    void TapAlt()
    {
        QWidget *w = QApplication::focusWidget();
        QTest::keyPress(w, Qt::Key_Alt, Qt::AltModifier);
        QTest::keyRelease(w, Qt::Key_Alt, Qt::NoModifier);
        ASSERT_TRUE(window.menuBar()->hasFocus());
    }

    void Escape() { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape); }

    QMainWindow window;
    TFloatEdit *field = nullptr;
    QComboBox *combo = nullptr;
    QLineEdit *other = nullptr;
    std::vector<std::string> log;
};

TEST_F(MenuBarFocusTest, TheMenuBarAndBackIsNeitherExitNorEntry)
{
    field->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(field, "7");
    TapAlt();
    Escape();
    EXPECT_TRUE(field->hasFocus());
    EXPECT_EQ(field->text(), "7");

    combo->setFocus(Qt::TabFocusReason);  // the field exits, the list is entered
    TapAlt();
    Escape();
    EXPECT_TRUE(combo->hasFocus());
    EXPECT_EQ(log, (std::vector<std::string>{"field enter", "changed 7", "combo enter"}));
}

TEST_F(MenuBarFocusTest, FromTheMenuBarToAnotherControlTheExitComesFirst)
{
    field->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(field, "7");
    TapAlt();
    combo->setFocus(Qt::MouseFocusReason);
    TapAlt();
    other->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(log,
              (std::vector<std::string>{"field enter", "changed 7", "combo enter", "combo exit"}));
    EXPECT_EQ(field->text(), "7.00000");
}

TEST_F(MenuBarFocusTest, DisabledWhileTheMenuBarHoldsItsFocusTheFieldDropsItsText)
{
    field->SetValue(2);
    log.clear();  // the change of value
    field->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(field, "7");
    TapAlt();
    field->setEnabled(false);
    EXPECT_EQ(field->text(), "2.00000");
    Escape();
    other->setFocus(Qt::MouseFocusReason);
    field->setEnabled(true);
    field->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(log, (std::vector<std::string>{"field enter", "field enter"}));
    EXPECT_EQ(field->Value(), 2);
}

}  // namespace

// Entries and exits of a watched widget that is not a numeric field.
#include "errors.h"
#include "focus.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

}  // namespace

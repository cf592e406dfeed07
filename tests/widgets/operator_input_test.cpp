// The input rules of the program's windows: the wheel acts only on the
// focused control, Enter clicks a focused button.
#include "operator_input.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QSpontaneKeyEvent>
#include <QTest>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include "floatedit.h"

namespace {

// One notch of the wheel, delivered as the window system delivers it (a
// spontaneous wheel event is the one that can give the focus).
void Wheel(QWidget *w)
{
    const QPoint at = w->rect().center();
    QWheelEvent event(at, w->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QSpontaneKeyEvent::setSpontaneous(&event);
    QApplication::instance()->notify(w, &event);
}

class OperatorInputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto *layout = new QVBoxLayout(&window);
        combo = new QComboBox(&window);
        combo->addItems({QStringLiteral("A.B.C"), QStringLiteral("A+B+C")});
        bar = new QScrollBar(Qt::Horizontal, &window);
        bar->setFocusPolicy(Qt::StrongFocus);
        field = new TFloatEdit(&window);
        button = new QPushButton(QStringLiteral("Save"), &window);
        for (QWidget *w : std::initializer_list<QWidget *>{combo, bar, field, button}) {
            layout->addWidget(w);
        }
        ApplyOperatorInputRules(&window);
        QObject::connect(button, &QPushButton::clicked, [this] { ++clicks; });
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        field->setFocus(Qt::TabFocusReason);
    }

    QWidget window;
    QComboBox *combo = nullptr;
    QScrollBar *bar = nullptr;
    TFloatEdit *field = nullptr;
    QPushButton *button = nullptr;
    int clicks = 0;
};

TEST_F(OperatorInputTest, TheWheelActsOnlyOnTheFocusedControl)
{
    Wheel(combo);
    Wheel(bar);
    EXPECT_TRUE(field->hasFocus());
    EXPECT_EQ(combo->currentIndex(), 0);
    EXPECT_EQ(bar->value(), 0);

    combo->setFocus(Qt::TabFocusReason);
    Wheel(combo);
    EXPECT_EQ(combo->currentIndex(), 1);
    bar->setFocus(Qt::TabFocusReason);
    Wheel(bar);
    EXPECT_GT(bar->value(), 0);
}

TEST_F(OperatorInputTest, ControlsOfOtherWindowsKeepTheirWays)
{
    QDialog dialog(&window);
    auto *other = new QComboBox(&dialog);
    ApplyOperatorInputRules(&window);
    EXPECT_EQ(other->focusPolicy(), Qt::WheelFocus);
    EXPECT_EQ(combo->focusPolicy(), Qt::StrongFocus);
}

TEST_F(OperatorInputTest, EnterClicksAFocusedButtonOncePerPress)
{
    QTest::keyClick(field, Qt::Key_Return);  // the field's own
    EXPECT_EQ(clicks, 0);
    EXPECT_FALSE(button->isDefault() || button->autoDefault());

    button->setFocus(Qt::TabFocusReason);
    QTest::keyClick(button, Qt::Key_Return);
    EXPECT_EQ(clicks, 1);
    QTest::keyClick(button, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(clicks, 2);
    // A held key repeats its press; the click does not repeat.
    QTest::keyPress(button, Qt::Key_Return);
    QTest::simulateEvent(button, true, Qt::Key_Return, Qt::NoModifier, QString(), true);
    QTest::keyRelease(button, Qt::Key_Return);
    EXPECT_EQ(clicks, 3);
}

}  // namespace

// TScrollBar: its focus mark, its keys, and a gesture ended by the program.
#include "scroll_bar.h"

#include <utility>

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace {

class ScrollBarTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto *layout = new QVBoxLayout(&window);
        other = new QLineEdit(&window);
        bar = new TScrollBar(Qt::Horizontal, &window);
        bar->setRange(-999, 999);
        bar->setFocusPolicy(Qt::StrongFocus);
        bar->setFixedSize(289, 17);
        layout->addWidget(other);
        layout->addWidget(bar);
        other->setFocus();
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    QPoint AddArrow() const
    {
        QStyleOptionSlider option;
        option.initFrom(bar);
        option.orientation = Qt::Horizontal;
        option.minimum = bar->minimum();
        option.maximum = bar->maximum();
        option.sliderPosition = option.sliderValue = bar->value();
        option.pageStep = bar->pageStep();
        option.state |= QStyle::State_Horizontal;
        return bar->style()
            ->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarAddLine, bar)
            .center();
    }

    QWidget window;
    QLineEdit *other = nullptr;
    TScrollBar *bar = nullptr;
};

TEST_F(ScrollBarTest, TheFocusedBarShowsAMark)
{
    const QImage unfocused = bar->grab().toImage();
    bar->setFocus(Qt::TabFocusReason);
    const QImage focused = bar->grab().toImage();
    EXPECT_NE(focused, unfocused);
    const QRgb highlight = bar->palette().color(QPalette::Highlight).rgb();
    EXPECT_EQ(focused.pixel(1, 8), highlight);
    EXPECT_EQ(focused.pixel(bar->width() / 2, 1), highlight);
    other->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(bar->grab().toImage(), unfocused);
}

TEST_F(ScrollBarTest, KeysStepLeftDownAndRightUp)
{
    bar->setPageStep(10);
    bar->setFocus(Qt::TabFocusReason);
    const std::pair<Qt::Key, int> steps[] = {
        {Qt::Key_Right, 1},     {Qt::Key_Down, 2},   {Qt::Key_Left, 1},  {Qt::Key_Up, 0},
        {Qt::Key_PageDown, 10}, {Qt::Key_PageUp, 0}, {Qt::Key_End, 999}, {Qt::Key_Home, -999}};
    for (const auto &[key, position] : steps) {
        QTest::keyClick(bar, key);
        EXPECT_EQ(bar->value(), position) << "key " << std::hex << int(key);
    }
}

TEST_F(ScrollBarTest, AKeyHeldSinceTheGestureEndedStepsNoMore)
{
    bar->setFocus(Qt::TabFocusReason);
    QObject::connect(bar, &QScrollBar::valueChanged, [this] { bar->EndGesture(); });
    QTest::keyPress(bar, Qt::Key_Right);
    for (int i = 0; i < 3; ++i) {  // the key's auto-repeat
        QTest::simulateEvent(bar, true, Qt::Key_Right, Qt::NoModifier, QString(), true);
    }
    EXPECT_EQ(bar->value(), 1);
    QTest::keyRelease(bar, Qt::Key_Right);
    QTest::keyClick(bar, Qt::Key_Right);
    EXPECT_EQ(bar->value(), 2);
}

TEST_F(ScrollBarTest, AnEndedGestureStepsNoMore)
{
    int moves = 0;
    bool ended = false;
    QObject::connect(bar, &QScrollBar::valueChanged, [&] {
        ++moves;
        if (!ended) {
            // What a move handler does before it shows an error box.
            ended = true;
            bar->EndGesture();
        }
    });
    QTest::mousePress(bar, Qt::LeftButton, {}, AddArrow());
    EXPECT_EQ(bar->value(), 1);
    // Past the auto-repeat's first delay: no step follows.
    QTest::qWait(800);
    QTest::mouseRelease(bar, Qt::LeftButton, {}, AddArrow());
    EXPECT_EQ(moves, 1);
    EXPECT_EQ(bar->value(), 1);
    // The next click steps once, as ever.
    QTest::mouseClick(bar, Qt::LeftButton, {}, AddArrow());
    EXPECT_EQ(bar->value(), 2);
}

}  // namespace

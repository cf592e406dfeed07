// A window whose title bar lies on no screen moves onto the nearest one.
#include "window_position.h"

#include <gtest/gtest.h>

TEST(WindowPositionTest, ATitleBarOnAScreenStaysAndOneOffEveryScreenMovesOntoTheNearest)
{
    const QRect left(0, 0, 1920, 1040);  // available area, a panel below
    const QRect right(1920, 0, 1280, 1024);
    const QList<QRect> two = {left, right};
    const QSize window(569, 240);
    const int title = 22;
    struct Case {
        const char *what;
        QPoint stored;
        QList<QRect> screens;
        QPoint expected;
    };
    const Case cases[] = {
        {"on the first screen", {443, 419}, two, {443, 419}},
        {"across both screens", {1700, 100}, two, {1700, 100}},
        {"mostly off the right edge, a grip left", {3200 - 64, 10}, two, {3200 - 64, 10}},
        {"less than a grip left", {3200 - 63, 10}, two, {3200 - 569, 10}},
        {"half of the title bar above the top", {100, -11}, two, {100, 0}},
        {"below the last screen's bottom", {2000, 5000}, two, {2000, 1024 - 240}},
        {"far left and up", {-100000, -100000}, two, {0, 0}},
        {"where an unplugged third screen was", {3300, 200}, two, {3200 - 569, 200}},
        {"nearest is the second screen", {2500, -500}, two, {2500, 0}},
        {"a screen too small for the window", {900, 900}, {QRect(0, 0, 400, 200)}, {0, 0}},
        {"no screens known", {-5000, 7}, {}, {-5000, 7}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(PositionOnScreens(QRect(c.stored, window), title, c.screens), c.expected);
    }
}

TEST(WindowPositionTest, ANarrowWindowNeedsItsWholeTitleBarShown)
{
    const QList<QRect> screen = {QRect(0, 0, 800, 600)};
    EXPECT_EQ(PositionOnScreens(QRect(760, 10, 40, 30), 20, screen), QPoint(760, 10));
    EXPECT_EQ(PositionOnScreens(QRect(761, 10, 40, 30), 20, screen), QPoint(760, 10));
}

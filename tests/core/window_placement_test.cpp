// Where windows stand: a title bar on no screen, and a window beside the
// main window.
#include "window_placement.h"

#include <gtest/gtest.h>

TEST(WindowPlacementTest, ATitleBarOnAScreenStaysAndOneOffEveryScreenMovesOntoTheNearest)
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

TEST(WindowPlacementTest, ANarrowWindowNeedsItsWholeTitleBarShown)
{
    const QList<QRect> screen = {QRect(0, 0, 800, 600)};
    EXPECT_EQ(PositionOnScreens(QRect(760, 10, 40, 30), 20, screen), QPoint(760, 10));
    EXPECT_EQ(PositionOnScreens(QRect(761, 10, 40, 30), 20, screen), QPoint(760, 10));
}

TEST(WindowPlacementTest, ATitleBarCountsOnScreenWhileAGripOfItShows)
{
    const QList<QRect> screens = {QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
    struct Case {
        QRect frame;
        bool reachable;
    };
    const Case cases[] = {
        {QRect(100, 100, 600, 640), true},
        {QRect(2500, 300, 600, 640), true},    // on the second screen
        {QRect(1850, 1050, 600, 640), true},   // mostly off, but a grip of the title bar shows
        {QRect(1860, 1050, 600, 640), false},  // 60 pixels of it: too little to take
        {QRect(5000, 5000, 600, 640), false},  // a screen that is gone
        {QRect(-590, 100, 600, 640), false},   // a 10-pixel sliver
        {QRect(100, 1080, 600, 640), false},   // below the screen
        {QRect(100, -700, 600, 640), false},   // title bar above the screen
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << c.frame.x() << "," << c.frame.y());
        EXPECT_EQ(TitleBarOnScreens(c.frame, 22, screens), c.reachable);
    }
    EXPECT_FALSE(TitleBarOnScreens(QRect(0, 0, 10, 10), 22, {}));
}

TEST(WindowPlacementTest, TheViewOpensOnTheSideWithTheMostRoomOrCoversTheLeast)
{
    // The main window's frame where it opens by default, and a view of
    // 680 x 640 (frame 688 x 676) that may shrink to 480 x 440 (488 x 476).
    const QRect main(443, 419, 577, 252);
    const QSize size(680, 640);
    const QSize minimum(480, 440);
    struct Case {
        const char *name;
        QRect anchor;
        QRect screen;
        QRect placed;  // frame top left, client size
        bool covers;   // its frame covers part of the main window's
    };
    const Case cases[] = {
        {"1920 x 1080: right, moved up to end on the screen", main, QRect(0, 0, 1920, 1080),
         QRect(1028, 404, 680, 640), false},
        {"1600 x 1000: right, narrowed to the 572 pixels there", main, QRect(0, 0, 1600, 1000),
         QRect(1028, 324, 564, 640), false},
        {"1024 x 768: no side holds it; its minimum in the corner that covers least", main,
         QRect(0, 0, 1024, 768), QRect(0, 0, 480, 440), true},
        {"both sides hold it: right", QRect(900, 400, 577, 252), QRect(0, 0, 2560, 1440),
         QRect(1485, 400, 680, 640), false},
        {"the main window at the right edge: left", QRect(1300, 100, 577, 252),
         QRect(0, 0, 1920, 1080), QRect(604, 100, 680, 640), false},
        {"more room left than right, neither whole: left, narrowed", QRect(650, 100, 577, 252),
         QRect(0, 0, 1280, 800), QRect(0, 100, 634, 640), false},
        {"a wide main window: below", QRect(300, 100, 1400, 220), QRect(0, 0, 1920, 1080),
         QRect(300, 328, 680, 640), false},
        {"a wide main window low on the screen: above", QRect(400, 800, 1200, 252),
         QRect(0, 0, 1920, 1080), QRect(400, 116, 680, 640), false},
        {"a second screen: below holds it whole, right only narrowed", QRect(2000, 50, 577, 252),
         QRect(1920, 0, 1280, 1024), QRect(2000, 310, 680, 640), false},
        {"a screen smaller than the minimum: its top left corner", main, QRect(0, 0, 400, 300),
         QRect(0, 0, 480, 440), true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QRect placed = PlaceBeside(c.anchor, size, minimum, c.screen);
        EXPECT_EQ(placed, c.placed);
        EXPECT_EQ(FrameOf(placed).intersects(c.anchor), c.covers);
    }
    // Less than the minimum asked for: the minimum.
    EXPECT_EQ(PlaceBeside(main, QSize(10, 10), minimum, QRect(0, 0, 1920, 1080)).size(), minimum);
}

TEST(WindowPlacementTest, AStoredSizeIsKeptWithinItsScreen)
{
    const QRect left(0, 0, 1920, 1080);
    const QRect right(1920, 0, 2560, 1440);
    const QList<QRect> screens{left, right};
    // The screen that shows the title bar; the main window's when none does.
    EXPECT_EQ(ScreenOfTitleBar(QRect(2000, 50, 600, 400), 30, screens, left), right);
    EXPECT_EQ(ScreenOfTitleBar(QRect(1800, 50, 600, 400), 30, screens, left), right);
    EXPECT_EQ(ScreenOfTitleBar(QRect(99999, 99999, 600, 400), 30, screens, left), left);

    const QSize minimum(420, 440);
    struct Case {
        const char *name;
        QSize stored;
        QRect screen;
        QSize expected;
    };
    const Case cases[] = {
        {"fits: kept", QSize(680, 640), left, QSize(680, 640)},
        {"wider than the screen", QSize(100000, 640), left, QSize(1920 - 8, 640)},
        {"taller than the screen", QSize(680, 5000), left, QSize(680, 1080 - 36)},
        {"fits the larger screen", QSize(2400, 1300), right, QSize(2400, 1300)},
        {"below the minimum", QSize(10, 10), left, minimum},
        {"screen smaller than the minimum", QSize(680, 640), QRect(0, 0, 400, 300), minimum},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SizeWithinScreen(c.stored, minimum, c.screen), c.expected);
    }
}

TEST(WindowPlacementTest, AStoredPlaceIsCutToItsScreenThenMovedWhollyOntoIt)
{
    const QRect screen(0, 0, 1600, 1000);
    const QSize minimum(480, 440);
    struct Case {
        const char *name;
        QRect stored;
        QRect expected;
    };
    const Case cases[] = {
        {"on the screen: kept", QRect(30, 40, 500, 480), QRect(30, 40, 500, 480)},
        {"wider than the screen: cut, then at its left edge", QRect(100, 10, 100000, 640),
         QRect(0, 10, 1592, 640)},
        {"fits, but its right part is off the screen", QRect(1000, 10, 1500, 640),
         QRect(92, 10, 1500, 640)},
        {"its bottom off the screen", QRect(10, 900, 680, 640), QRect(10, 324, 680, 640)},
        {"above and left of the screen", QRect(-50, -20, 680, 640), QRect(0, 0, 680, 640)},
        {"below the minimum: grown, and kept on the screen", QRect(1500, 10, 10, 10),
         QRect(1112, 10, 480, 440)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(KeptOnScreen(c.stored, minimum, screen), c.expected);
    }
    // A screen smaller than the minimum: the minimum at its top left corner.
    EXPECT_EQ(KeptOnScreen(QRect(50, 50, 680, 640), minimum, QRect(0, 0, 400, 300)),
              QRect(0, 0, 480, 440));
}

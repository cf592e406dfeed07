// Where the phasor view opens.
#include "view_placement.h"

#include <gtest/gtest.h>

TEST(ViewPlacementTest, AStoredPlaceCountsWhileItsTitleBarCanBeReached)
{
    const std::vector<QRect> screens = {QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
    struct Case {
        QRect frame;
        bool reachable;
    };
    const Case cases[] = {
        {QRect(100, 100, 600, 640), true},
        {QRect(2500, 300, 600, 640), true},    // on the second screen
        {QRect(1860, 1050, 600, 640), true},   // mostly off, but the title bar can be taken
        {QRect(5000, 5000, 600, 640), false},  // a screen that is gone
        {QRect(-590, 100, 600, 640), false},   // a 10-pixel sliver
        {QRect(100, 1080, 600, 640), false},   // below the screen
        {QRect(100, -700, 600, 640), false},   // title bar above the screen
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << c.frame.x() << "," << c.frame.y());
        EXPECT_EQ(ReachableOnScreens(c.frame, screens), c.reachable);
    }
    EXPECT_FALSE(ReachableOnScreens(QRect(0, 0, 10, 10), {}));
}

TEST(ViewPlacementTest, TheViewOpensBesideTheMainWindowWithinTheScreen)
{
    const QRect screen(0, 0, 1920, 1080);
    const QSize size(680, 640);
    struct Case {
        const char *name;
        QRect anchor;
        QPoint topLeft;
    };
    const Case cases[] = {
        {"right of it", QRect(443, 419, 569, 220), QPoint(1020, 404)},  // moved up to fit
        {"left of it", QRect(1300, 100, 569, 220), QPoint(1300 - 8 - 688, 100)},
        {"neither: as far right as it goes", QRect(300, 100, 1400, 220), QPoint(1920 - 688, 100)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QRect placed = PlaceBeside(c.anchor, size, screen);
        EXPECT_EQ(placed.topLeft(), c.topLeft);
        EXPECT_EQ(placed.size(), size);
    }
    // Larger than the screen: at its top left corner.
    EXPECT_EQ(PlaceBeside(QRect(10, 10, 100, 100), QSize(3000, 2000), screen).topLeft(),
              QPoint(0, 0));
}

// Where a window goes so that the operator can reach it. A stored position
// may lie off every screen (a monitor unplugged since, an edited settings
// file); a window whose title bar is on no screen cannot be moved by hand.
#pragma once

#include <QList>
#include <QPoint>
#include <QRect>

// The top-left corner for a window frame `frame` (desktop coordinates) whose
// title bar is its top titleBarHeight pixels, given the screens' available
// areas. Where some screen shows a piece of the title bar at least
// kTitleBarGrip pixels wide (or the whole bar, when it is narrower) and its
// full height, the window stays. Otherwise it moves onto the screen nearest
// to its title bar, as little as needed to lie wholly on it; a window larger
// than that screen is put at its top left corner. Without screens it stays.
QPoint PositionOnScreens(const QRect &frame, int titleBarHeight, const QList<QRect> &screens);

constexpr int kTitleBarGrip = 64;

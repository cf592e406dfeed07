// Where windows stand on the screens. A stored position may lie off every
// screen (a monitor unplugged since, an edited settings file), and a window
// whose title bar is on no screen cannot be moved by hand; a secondary
// window without a stored place opens beside the main window.
#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

// How much of a title bar must show for the operator to take it.
constexpr int kTitleBarGrip = 64;

// Whether some screen's available area shows a piece of the title bar (the
// top titleBarHeight pixels of `frame`, desktop coordinates) at least
// kTitleBarGrip pixels wide (or the whole bar, when it is narrower) and of
// its full height.
bool TitleBarOnScreens(const QRect &frame, int titleBarHeight, const QList<QRect> &screens);

// The top-left corner for `frame`: where it is while TitleBarOnScreens;
// otherwise on the screen nearest to its title bar, moved as little as
// needed to lie wholly on it (a window larger than that screen goes to its
// top left corner). Without screens it stays.
QPoint PositionOnScreens(const QRect &frame, int titleBarHeight, const QList<QRect> &screens);

// A window of client `size` beside `anchor` with a small gap, top edges
// level: right of it, else left of it, else as far right as `screen`
// allows; moved up as far as needed to end within the screen. Its title bar
// and borders count with an allowance (they are not known before the window
// shows). It keeps to the screen's left and top edges when it is larger
// than the screen. The result is the frame's top left and `size`.
QRect PlaceBeside(const QRect &anchor, const QSize &size, const QRect &screen);

// The screen that shows the largest piece of `frame`'s title bar, or
// `fallback` when none shows any.
QRect ScreenOfTitleBar(const QRect &frame, int titleBarHeight, const QList<QRect> &screens,
                       const QRect &fallback);

// A stored client size made to fit `screen` with the frame's allowance, so
// that the title bar's buttons and the borders stay within reach; never
// below `minimum`.
QSize SizeWithinScreen(const QSize &size, const QSize &minimum, const QRect &screen);

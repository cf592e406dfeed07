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

// What a usual window manager adds around a client area (title bar and
// borders): the frame is not known before a window shows, so it counts with
// this allowance.
constexpr QSize kFrameAllowance(8, 36);

// The frame of a window placed at `placed`: its frame's top left, its
// client size with the allowance.
QRect FrameOf(const QRect &placed);

// Where a window of client `size` (never below `minimum`) opens beside the
// frame `anchor` on `screen`, with a small gap: on the side (right, left,
// below, above) where the largest part of its size fits, the first of them
// in that order when several fit as well, shrunk as far as that side needs
// but not below `minimum`; level with the anchor's top (right, left) or
// left edge (below, above) as far as the screen allows. When no side holds
// even its minimum, it takes its minimum where it covers the least of the
// anchor. The result is the frame's top left and the client size.
QRect PlaceBeside(const QRect &anchor, const QSize &size, const QSize &minimum,
                  const QRect &screen);

// The screen that shows the largest piece of `frame`'s title bar, or
// `fallback` when none shows any.
QRect ScreenOfTitleBar(const QRect &frame, int titleBarHeight, const QList<QRect> &screens,
                       const QRect &fallback);

// A stored client size made to fit `screen` with the frame's allowance, so
// that the title bar's buttons and the borders stay within reach; never
// below `minimum`.
QSize SizeWithinScreen(const QSize &size, const QSize &minimum, const QRect &screen);

// A stored place (frame top left, client size) made to lie on `screen`: the
// size cut as SizeWithinScreen does, then the whole frame moved as little as
// needed to lie on the screen (to its top left corner when it is larger).
QRect KeptOnScreen(const QRect &placed, const QSize &minimum, const QRect &screen);

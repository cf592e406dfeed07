// Where a secondary window (the phasor view) stands: where the settings put
// it when the operator can still reach it there, else beside the main
// window, within the screen.
#pragma once

#include <QRect>

#include <vector>

// Whether at least a grip's worth of `frame` (a corner where the title bar
// can be taken) lies on one of the screens' available areas.
bool ReachableOnScreens(const QRect &frame, const std::vector<QRect> &screens);

// A window of client `size` beside `anchor` with a small gap, top edges
// level: right of it, else left of it, else as far right as `screen`
// allows; moved up as far as needed to end within the screen. Its title bar
// and borders count with an allowance (they are not known before the window
// shows). It keeps to the screen's left and top edges when it is larger
// than the screen. The result is the frame's top left and `size`.
QRect PlaceBeside(const QRect &anchor, const QSize &size, const QRect &screen);

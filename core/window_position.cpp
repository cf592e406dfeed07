#include "window_position.h"

#include <algorithm>
#include <limits>

namespace {

// Distance from a point to a rectangle, squared; 0 inside it.
qint64 DistanceSquared(const QPoint &p, const QRect &r)
{
    const qint64 dx =
        p.x() < r.left() ? r.left() - p.x() : (p.x() > r.right() ? p.x() - r.right() : 0);
    const qint64 dy =
        p.y() < r.top() ? r.top() - p.y() : (p.y() > r.bottom() ? p.y() - r.bottom() : 0);
    return dx * dx + dy * dy;
}

// The start of a span of `length` moved as little as needed into
// [low, low + room); a span longer than the room starts at low.
int Clamp(int start, int length, int low, int room)
{
    if (length >= room) {
        return low;
    }
    return std::clamp(start, low, low + room - length);
}

}  // namespace

QPoint PositionOnScreens(const QRect &frame, int titleBarHeight, const QList<QRect> &screens)
{
    const QRect titleBar(frame.topLeft(), QSize(frame.width(), std::max(1, titleBarHeight)));
    const int grip = std::min(kTitleBarGrip, titleBar.width());
    const QRect *nearest = nullptr;
    qint64 nearestDistance = std::numeric_limits<qint64>::max();
    for (const QRect &screen : screens) {
        const QRect shown = screen.intersected(titleBar);
        if (shown.width() >= grip && shown.height() >= titleBar.height()) {
            return frame.topLeft();
        }
        const qint64 distance = DistanceSquared(titleBar.center(), screen);
        if (distance < nearestDistance) {
            nearestDistance = distance;
            nearest = &screen;
        }
    }
    if (!nearest) {
        return frame.topLeft();
    }
    return QPoint(Clamp(frame.x(), frame.width(), nearest->x(), nearest->width()),
                  Clamp(frame.y(), frame.height(), nearest->y(), nearest->height()));
}

#include "window_placement.h"

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

// The top titleBarHeight pixels of a frame (at least one).
QRect TitleBar(const QRect &frame, int titleBarHeight)
{
    return QRect(frame.topLeft(), QSize(frame.width(), std::max(1, titleBarHeight)));
}

// Space between the main window and a window placed beside it, and what a
// usual window manager adds around a client area.
constexpr int kGap = 8;
constexpr int kFrameWidth = 8;
constexpr int kFrameHeight = 36;

}  // namespace

bool TitleBarOnScreens(const QRect &frame, int titleBarHeight, const QList<QRect> &screens)
{
    const QRect titleBar = TitleBar(frame, titleBarHeight);
    const int grip = std::min(kTitleBarGrip, titleBar.width());
    for (const QRect &screen : screens) {
        const QRect shown = screen.intersected(titleBar);
        if (shown.width() >= grip && shown.height() >= titleBar.height()) {
            return true;
        }
    }
    return false;
}

QPoint PositionOnScreens(const QRect &frame, int titleBarHeight, const QList<QRect> &screens)
{
    if (TitleBarOnScreens(frame, titleBarHeight, screens)) {
        return frame.topLeft();
    }
    const QRect titleBar = TitleBar(frame, titleBarHeight);
    const QRect *nearest = nullptr;
    qint64 nearestDistance = std::numeric_limits<qint64>::max();
    for (const QRect &screen : screens) {
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

QRect PlaceBeside(const QRect &anchor, const QSize &size, const QRect &screen)
{
    const QSize frame = size + QSize(kFrameWidth, kFrameHeight);
    int top = anchor.top();
    top = std::max(screen.top(), std::min(top, screen.bottom() + 1 - frame.height()));
    // Right of the anchor, else left of it, else as far right as the screen
    // allows.
    const int right = anchor.right() + 1 + kGap;
    const int left = anchor.left() - kGap - frame.width();
    int x = right;
    if (right + frame.width() > screen.right() + 1) {
        x = left >= screen.left() ? left : screen.right() + 1 - frame.width();
    }
    x = std::max(screen.left(), x);
    return {QPoint(x, top), size};
}

QRect ScreenOfTitleBar(const QRect &frame, int titleBarHeight, const QList<QRect> &screens,
                       const QRect &fallback)
{
    const QRect titleBar = TitleBar(frame, titleBarHeight);
    QRect best = fallback;
    qint64 bestArea = 0;
    for (const QRect &screen : screens) {
        const QRect shown = screen.intersected(titleBar);
        const qint64 area = qint64(shown.width()) * shown.height();
        if (area > bestArea) {
            bestArea = area;
            best = screen;
        }
    }
    return best;
}

QSize SizeWithinScreen(const QSize &size, const QSize &minimum, const QRect &screen)
{
    const int maxWidth = std::max(minimum.width(), screen.width() - kFrameWidth);
    const int maxHeight = std::max(minimum.height(), screen.height() - kFrameHeight);
    return {std::clamp(size.width(), minimum.width(), maxWidth),
            std::clamp(size.height(), minimum.height(), maxHeight)};
}

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

// Space between the main window and a window placed beside it.
constexpr int kGap = 8;

qint64 Area(const QRect &r)
{
    return r.isEmpty() ? 0 : qint64(r.width()) * r.height();
}

// A frame of `frame` size moved as little as needed to lie on `screen`.
QPoint Within(const QPoint &topLeft, const QSize &frame, const QRect &screen)
{
    return {Clamp(topLeft.x(), frame.width(), screen.x(), screen.width()),
            Clamp(topLeft.y(), frame.height(), screen.y(), screen.height())};
}

// The frame of `minimum` size among the usual places around `anchor` that
// covers the least of it; the first of equals.
QPoint LeastCovering(const QRect &anchor, const QSize &frame, const QRect &screen)
{
    const int xs[] = {anchor.right() + 1 + kGap, anchor.left() - kGap - frame.width(),
                      screen.left(), screen.right() + 1 - frame.width(), anchor.left()};
    const int ys[] = {anchor.top(), anchor.bottom() + 1 + kGap,
                      anchor.top() - kGap - frame.height(), screen.top(),
                      screen.bottom() + 1 - frame.height()};
    QPoint best = Within(QPoint(xs[0], ys[0]), frame, screen);
    qint64 bestArea = std::numeric_limits<qint64>::max();
    for (const int x : xs) {
        for (const int y : ys) {
            const QPoint at = Within(QPoint(x, y), frame, screen);
            const qint64 covered = Area(QRect(at, frame).intersected(anchor));
            if (covered < bestArea) {
                bestArea = covered;
                best = at;
            }
        }
    }
    return best;
}

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

QRect FrameOf(const QRect &placed)
{
    return {placed.topLeft(), placed.size() + kFrameAllowance};
}

QRect PlaceBeside(const QRect &anchor, const QSize &size, const QSize &minimum, const QRect &screen)
{
    const QSize least = minimum + kFrameAllowance;
    const QSize wanted = size.expandedTo(minimum) + kFrameAllowance;
    // The room on each side: the strip of the screen beyond the anchor and
    // the gap.
    enum { kRight, kLeft, kBelow, kAbove };
    const QSize rooms[] = {
        {screen.right() - anchor.right() - kGap, screen.height()},
        {anchor.left() - kGap - screen.left(), screen.height()},
        {screen.width(), screen.bottom() - anchor.bottom() - kGap},
        {screen.width(), anchor.top() - kGap - screen.top()},
    };
    int side = -1;
    QSize frame;
    for (int i = 0; i < 4; ++i) {
        const QSize fitted = wanted.boundedTo(rooms[i]);
        if (fitted.width() >= least.width() && fitted.height() >= least.height()
            && (side < 0 || Area(QRect(QPoint(), fitted)) > Area(QRect(QPoint(), frame)))) {
            side = i;
            frame = fitted;
        }
    }
    if (side < 0) {
        return {LeastCovering(anchor, least, screen), minimum};
    }
    QPoint at;
    switch (side) {
    case kRight:
        at = QPoint(anchor.right() + 1 + kGap, anchor.top());
        break;
    case kLeft:
        at = QPoint(anchor.left() - kGap - frame.width(), anchor.top());
        break;
    case kBelow:
        at = QPoint(anchor.left(), anchor.bottom() + 1 + kGap);
        break;
    default:
        at = QPoint(anchor.left(), anchor.top() - kGap - frame.height());
        break;
    }
    return {Within(at, frame, screen), frame - kFrameAllowance};
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
    const int maxWidth = std::max(minimum.width(), screen.width() - kFrameAllowance.width());
    const int maxHeight = std::max(minimum.height(), screen.height() - kFrameAllowance.height());
    return {std::clamp(size.width(), minimum.width(), maxWidth),
            std::clamp(size.height(), minimum.height(), maxHeight)};
}

QRect KeptOnScreen(const QRect &placed, const QSize &minimum, const QRect &screen)
{
    const QSize size = SizeWithinScreen(placed.size(), minimum, screen);
    return {Within(placed.topLeft(), size + kFrameAllowance, screen), size};
}

#include "view_placement.h"

#include <algorithm>

namespace {

// How much of a window must be on a screen for the operator to grab it.
constexpr int kGrip = 48;
constexpr int kGap = 8;
// Title bar and borders of a usual window manager.
constexpr int kFrameWidth = 8;
constexpr int kFrameHeight = 36;

}  // namespace

bool ReachableOnScreens(const QRect &frame, const std::vector<QRect> &screens)
{
    // The top band of the frame holds the title bar.
    const QRect titleBand(frame.left(), frame.top(), frame.width(),
                          std::min(kGrip, frame.height()));
    for (const QRect &screen : screens) {
        const QRect on = titleBand.intersected(screen);
        if (on.width() >= std::min(kGrip, frame.width()) && on.height() >= 1) {
            return true;
        }
    }
    return false;
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

// What the windows need to know of the screens to place themselves.
#pragma once

#include <QGuiApplication>
#include <QList>
#include <QRect>
#include <QScreen>
#include <QStyle>
#include <QWidget>

// Every screen's available area (without panels), desktop coordinates.
inline QList<QRect> AvailableScreenAreas()
{
    QList<QRect> areas;
    for (const QScreen *screen : QGuiApplication::screens()) {
        areas.append(screen->availableGeometry());
    }
    return areas;
}

// A window has no frame before it is shown: its title bar is taken as the
// style draws one.
inline int StyleTitleBarHeight(const QWidget *window)
{
    return window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window);
}

#include "scroll_bar.h"

#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

TScrollBar::TScrollBar(Qt::Orientation orientation, QWidget *parent)
    : QScrollBar(orientation, parent)
{}

void TScrollBar::EndGesture()
{
    setRepeatAction(SliderNoAction);
    const QPointF global = QCursor::pos();
    QMouseEvent release(QEvent::MouseButtonRelease, mapFromGlobal(global), global, Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QScrollBar::mouseReleaseEvent(&release);
    setSliderDown(false);
    FRepeatEnded = true;
}

bool TScrollBar::TakesStep(const QKeyEvent *event)
{
    if (!event->isAutoRepeat()) {
        FRepeatEnded = false;
    }
    return !FRepeatEnded;
}

bool TScrollBar::event(QEvent *event)
{
    if (event->type() == QEvent::KeyRelease && !static_cast<QKeyEvent *>(event)->isAutoRepeat()) {
        FRepeatEnded = false;
    }
    return QScrollBar::event(event);
}

void TScrollBar::paintEvent(QPaintEvent *event)
{
    QScrollBar::paintEvent(event);
    if (!hasFocus()) {
        return;
    }
    // The style draws no focus mark on a scroll bar: a frame in the
    // highlight colour around the whole bar.
    QPainter painter(this);
    QPen pen(palette().color(QPalette::Highlight));
    pen.setWidth(2);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
}

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

void TScrollBar::keyPressEvent(QKeyEvent *event)
{
    // QScrollBar's own keys run Left and Right the other way round on a
    // horizontal bar.
    SliderAction action = SliderNoAction;
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up:
        action = SliderSingleStepSub;
        break;
    case Qt::Key_Right:
    case Qt::Key_Down:
        action = SliderSingleStepAdd;
        break;
    case Qt::Key_PageUp:
        action = SliderPageStepSub;
        break;
    case Qt::Key_PageDown:
        action = SliderPageStepAdd;
        break;
    case Qt::Key_Home:
        action = SliderToMinimum;
        break;
    case Qt::Key_End:
        action = SliderToMaximum;
        break;
    default:
        QScrollBar::keyPressEvent(event);
        return;
    }
    event->accept();
    // A held key whose step failed steps no more until it is let go.
    if (TakesStep(event)) {
        triggerAction(action);
    }
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

// TScrollBar: a scroll bar that shows when it holds the focus, steps from the
// keyboard as the operator expects (Left and Up down, Right and Down up, the
// page keys by the page step, Home and End to the ends), and whose gesture (a
// held mouse button or key) the program can end.
#pragma once

#include <QScrollBar>

class QKeyEvent;

class TScrollBar : public QScrollBar {
public:
    explicit TScrollBar(Qt::Orientation orientation, QWidget *parent = nullptr);

    // Ends a running mouse gesture: the auto-repeat of a held arrow or
    // trough click stops, the pressed part and a dragged thumb are let go.
    // For use before a modal box is shown from a move handler: the box takes
    // the button's release, and the bar would otherwise go on stepping.
    // A key held since then no longer steps the bar: its auto-repeated
    // presses are refused until it is released.
    void EndGesture();

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    // Whether a key press may step the bar: false for the auto-repeat of a
    // key held since the gesture was ended.
    bool TakesStep(const QKeyEvent *event);

    bool FRepeatEnded = false;
};

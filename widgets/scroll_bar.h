// TScrollBar: a scroll bar that shows when it holds the focus (the keys move
// it then), and whose mouse gesture the program can end.
#pragma once

#include <QScrollBar>

class TScrollBar : public QScrollBar {
public:
    explicit TScrollBar(Qt::Orientation orientation, QWidget *parent = nullptr);

    // Ends a running mouse gesture: the auto-repeat of a held arrow or
    // trough click stops, the pressed part and a dragged thumb are let go.
    // For use before a modal box is shown from a move handler: the box takes
    // the button's release, and the bar would otherwise go on stepping.
    void EndGesture();

protected:
    void paintEvent(QPaintEvent *event) override;
};

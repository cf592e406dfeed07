// Focus entry and exit as the program's controls understand them: a move of
// the focus between controls of one window. A window losing or regaining
// activation, or a menu or popup opening and closing, is neither an entry
// nor an exit. Focus that the program itself gives back to a control (after
// a dialog, for instance) is an entry, because the control had exited.
#pragma once

#include <QObject>

#include <functional>

class QFocusEvent;
class QWidget;

class FocusEntryState {
public:
    // True when this focus-in event is an entry into the control.
    bool In(const QFocusEvent *event);
    // True when this focus-out event is an exit from the control.
    bool Out(const QFocusEvent *event);
    bool Entered() const { return entered_; }

private:
    bool entered_ = false;
};

// Watches a widget that is not a TFloatEdit (a drop-down list, a scroll bar)
// and calls onEnter / onExit on its entries and exits. Each call is an
// exception boundary. The watcher is a child of the widget.
class FocusWatcher : public QObject {
public:
    static FocusWatcher *Watch(QWidget *widget, std::function<void()> onEnter,
                               std::function<void()> onExit = {});

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    FocusWatcher(QWidget *widget, std::function<void()> onEnter, std::function<void()> onExit);
    FocusEntryState state_;
    std::function<void()> onEnter_;
    std::function<void()> onExit_;
};

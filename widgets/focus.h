// Focus entry and exit as the program's controls understand them: a move of
// the focus between controls of one window. A window losing or regaining
// activation, or a menu or popup opening and closing, is neither an entry
// nor an exit; nor is the menu bar taking the keyboard focus (Alt tapped, a
// menu left with Escape). Focus that the program itself gives back to a
// control (after a dialog, for instance) is an entry, because the control
// had exited.
#pragma once

#include <functional>

#include <QObject>
#include <QPointer>

class QFocusEvent;
class QWidget;

class FocusEntryState {
public:
    FocusEntryState() = default;
    ~FocusEntryState();
    FocusEntryState(const FocusEntryState &) = delete;
    FocusEntryState &operator=(const FocusEntryState &) = delete;

    // True when this focus-in event is an entry into the control.
    bool In(const QFocusEvent *event);
    // True when this focus-out event of `control` is an exit from it. When
    // the menu bar takes the focus the answer waits: should the focus then
    // move on to another control of the window instead of coming back,
    // `laterExit` runs (as an exception boundary) before that control sees
    // its focus-in, so that the exit still comes before the next entry.
    bool Out(QWidget *control, const QFocusEvent *event, std::function<void()> laterExit = {});
    bool Entered() const { return entered_; }
    // True while the menu bar holds the focus that this control gave it.
    bool Parked() const { return parked_; }
    // Ends a parked exit without running it: the control is no longer
    // entered (it was disabled under the menu bar, for instance).
    void Unpark();

private:
    friend class MenuBarFocus;
    bool entered_ = false;
    bool parked_ = false;
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

#include "focus.h"

#include "errors.h"

#include <QFocusEvent>
#include <QWidget>

namespace {

// Focus that comes and goes with the window's activation or with a popup
// does not move between the window's controls.
bool MovesBetweenControls(const QFocusEvent *event)
{
    const Qt::FocusReason reason = event->reason();
    return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
}

}  // namespace

bool FocusEntryState::In(const QFocusEvent *)
{
    // Any focus-in after an exit (or the first one) is an entry: the focus a
    // reactivated window hands back to a control that never exited is not.
    if (entered_) {
        return false;
    }
    entered_ = true;
    return true;
}

bool FocusEntryState::Out(const QFocusEvent *event)
{
    if (!entered_ || !MovesBetweenControls(event)) {
        return false;
    }
    entered_ = false;
    return true;
}

FocusWatcher::FocusWatcher(QWidget *widget, std::function<void()> onEnter,
                           std::function<void()> onExit)
    : QObject(widget), onEnter_(std::move(onEnter)), onExit_(std::move(onExit))
{
    widget->installEventFilter(this);
}

FocusWatcher *FocusWatcher::Watch(QWidget *widget, std::function<void()> onEnter,
                                  std::function<void()> onExit)
{
    return new FocusWatcher(widget, std::move(onEnter), std::move(onExit));
}

bool FocusWatcher::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn) {
        if (state_.In(static_cast<QFocusEvent *>(event)) && onEnter_) {
            Guarded(onEnter_);
        }
    } else if (event->type() == QEvent::FocusOut) {
        if (state_.Out(static_cast<QFocusEvent *>(event)) && onExit_) {
            Guarded(onExit_);
        }
    }
    return QObject::eventFilter(watched, event);
}

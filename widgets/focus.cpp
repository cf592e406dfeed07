#include "focus.h"

#include <QApplication>
#include <QFocusEvent>
#include <QMenu>
#include <QMenuBar>
#include <QWidget>

#include "errors.h"

namespace {

// Focus that comes and goes with the window's activation or with a popup
// does not move between the window's controls. A drop-down list hands the
// focus to the list in its own popup as an ordinary focus change, so a
// focus-out whose new holder sits in a popup window counts as a popup
// opening too, whatever its reason.
bool MovesBetweenControls(const QWidget *control, const QFocusEvent *event)
{
    const Qt::FocusReason reason = event->reason();
    if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) {
        return false;
    }
    const QWidget *now = QApplication::focusWidget();
    return now == nullptr || now->window() == control->window()
           || now->window()->windowType() != Qt::Popup;
}

bool IsMenu(const QWidget *widget)
{
    return qobject_cast<const QMenuBar *>(widget) != nullptr
           || qobject_cast<const QMenu *>(widget) != nullptr;
}

}  // namespace

// The one control whose focus the menu bar holds, if any. While there is one
// it watches every focus-in of the application: the focus coming back to the
// control ends the wait; the focus going to another control of the same
// window makes it an exit, run before that control sees its focus-in.
class MenuBarFocus : public QObject {
public:
    static void Park(FocusEntryState *state, QWidget *control, std::function<void()> laterExit)
    {
        MenuBarFocus &self = Instance();
        self.Resolve();
        self.state_ = state;
        self.control_ = control;
        self.laterExit_ = std::move(laterExit);
        state->parked_ = true;
        qApp->installEventFilter(&self);
    }

    static void Forget(FocusEntryState *state)
    {
        MenuBarFocus *self = instance_;
        if (self != nullptr && self->state_ == state) {
            self->Clear();
        }
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::FocusIn || !watched->isWidgetType()) {
            return false;
        }
        auto *widget = static_cast<QWidget *>(watched);
        if (control_.isNull()) {
            Clear();
        } else if (widget == control_) {
            // Back from the menu bar: neither exit nor entry.
            Clear();
        } else if (widget->window() == control_->window() && !IsMenu(widget)) {
            Resolve();
        }
        return false;
    }

private:
    explicit MenuBarFocus(QObject *parent) : QObject(parent) {}
    ~MenuBarFocus() override { instance_ = nullptr; }

    static MenuBarFocus &Instance()
    {
        if (instance_ == nullptr) {
            instance_ = new MenuBarFocus(qApp);
        }
        return *instance_;
    }

    void Clear()
    {
        if (state_ != nullptr) {
            state_->parked_ = false;
        }
        state_ = nullptr;
        control_ = nullptr;
        laterExit_ = nullptr;
        qApp->removeEventFilter(this);
    }

    // The parked control has exited.
    void Resolve()
    {
        if (state_ == nullptr) {
            return;
        }
        state_->entered_ = false;
        const bool alive = !control_.isNull();
        std::function<void()> exit = std::move(laterExit_);
        Clear();
        if (alive && exit) {
            Guarded(exit);
        }
    }

    static inline MenuBarFocus *instance_ = nullptr;
    FocusEntryState *state_ = nullptr;
    QPointer<QWidget> control_;
    std::function<void()> laterExit_;
};

FocusEntryState::~FocusEntryState()
{
    if (parked_) {
        MenuBarFocus::Forget(this);
    }
}

bool FocusEntryState::In(const QFocusEvent *)
{
    // Any focus-in after an exit (or the first one) is an entry: the focus a
    // reactivated window, a closed popup or the menu bar hands back to a
    // control that never exited is not.
    if (entered_) {
        return false;
    }
    entered_ = true;
    return true;
}

bool FocusEntryState::Out(QWidget *control, const QFocusEvent *event,
                          std::function<void()> laterExit)
{
    if (!entered_) {
        return false;
    }
    if (event->reason() == Qt::MenuBarFocusReason) {
        MenuBarFocus::Park(this, control, std::move(laterExit));
        return false;
    }
    if (!MovesBetweenControls(control, event)) {
        return false;
    }
    entered_ = false;
    return true;
}

void FocusEntryState::Unpark()
{
    if (parked_) {
        MenuBarFocus::Forget(this);
        entered_ = false;
    }
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
        auto *widget = static_cast<QWidget *>(watched);
        if (state_.Out(widget, static_cast<QFocusEvent *>(event), onExit_) && onExit_) {
            Guarded(onExit_);
        }
    }
    return QObject::eventFilter(watched, event);
}

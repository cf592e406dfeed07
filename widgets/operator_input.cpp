#include "operator_input.h"

#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

namespace {

bool TakesTheWheel(const QWidget *widget)
{
    return qobject_cast<const QComboBox *>(widget) != nullptr
           || qobject_cast<const QLineEdit *>(widget) != nullptr
           || qobject_cast<const QAbstractSlider *>(widget) != nullptr
           || qobject_cast<const QAbstractSpinBox *>(widget) != nullptr;
}

bool IsEnterKey(const QKeyEvent *event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    return (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
           && modifiers == Qt::NoModifier;
}

class InputRules : public QObject {
public:
    explicit InputRules(QObject *parent) : QObject(parent) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *widget = static_cast<QWidget *>(watched);
        if (event->type() == QEvent::Wheel) {
            if (!widget->hasFocus()) {
                // Swallowed here, so that it reaches neither the control nor
                // its parents.
                event->accept();
                return true;
            }
        } else if (event->type() == QEvent::KeyPress) {
            auto *button = qobject_cast<QPushButton *>(widget);
            auto *key = static_cast<QKeyEvent *>(event);
            if (button != nullptr && button->hasFocus() && IsEnterKey(key)) {
                if (!key->isAutoRepeat() && button->isEnabled()) {
                    button->click();
                }
                return true;
            }
        }
        return false;
    }
};

}  // namespace

void ApplyOperatorInputRules(QWidget *root)
{
    auto *rules = new InputRules(root);
    QWidget *window = root->window();
    for (QWidget *widget : root->findChildren<QWidget *>()) {
        if (widget->window() != window) {
            continue;
        }
        if (TakesTheWheel(widget)) {
            // A wheel would give the focus before any filter could refuse it.
            if ((widget->focusPolicy() & Qt::WheelFocus) == Qt::WheelFocus) {
                widget->setFocusPolicy(Qt::StrongFocus);
            }
            widget->installEventFilter(rules);
        } else if (qobject_cast<QPushButton *>(widget) != nullptr) {
            widget->installEventFilter(rules);
        }
    }
}

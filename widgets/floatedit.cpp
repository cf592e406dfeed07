#include "floatedit.h"

#include <QFocusEvent>
#include <QKeyEvent>

#include "errors.h"

TFloatEdit::TFloatEdit(QWidget *parent) : QLineEdit(parent)
{
    UpdateText();
}

TFloatEdit::~TFloatEdit() = default;

QString TFloatEdit::ConversionMessage(const QString &text)
{
    return QLatin1Char('\'') + text + QStringLiteral("' is not a valid floating point value");
}

QString TFloatEdit::Rendering() const
{
    return FloatToStrF(FValue, FFormat, FPrecision, FDigits, SystemDecimalSeparator());
}

void TFloatEdit::SetFormat(TFloatFormat value)
{
    FFormat = value;
    UpdateText();
}

void TFloatEdit::SetDigits(std::uint8_t value)
{
    FDigits = value;
    UpdateText();
}

void TFloatEdit::SetPrec(std::uint8_t value)
{
    FPrecision = value;
    UpdateText();
}

void TFloatEdit::SetMinValue(double value)
{
    FMinValue = value;
    CheckValue();
    UpdateText();
}

void TFloatEdit::SetMaxValue(double value)
{
    FMaxValue = value;
    CheckValue();
    UpdateText();
}

void TFloatEdit::SetValue(double value)
{
    // Exact comparison: only a different number is committed. A NaN never
    // equals the held value, so assigning one always commits (and, with the
    // bounds check on, is clamped).
    if (value != FValue) {
        SetValueAnyway(value);
    }
}

void TFloatEdit::SetValueVisible(bool value)
{
    FValueVisible = value;
    UpdateText();
}

void TFloatEdit::Setup(TFloatFormat format, std::uint8_t digits, std::uint8_t precision,
                       bool minMaxCheck, double minValue, double maxValue, double value,
                       bool valueVisible)
{
    SetFormat(format);
    SetDigits(digits);
    SetPrec(precision);
    MinMaxCheck = minMaxCheck;
    SetMinValue(minValue);
    SetMaxValue(maxValue);
    SetValue(value);
    SetValueVisible(valueVisible);
}

void TFloatEdit::SetValueAnyway(double value)
{
    FValue = value;
    CheckValue();
    if (OnChanged) {
        OnChanged(this);
    }
    UpdateText();
    repaint();
    // The whole text is selected. A field without the focus shows no
    // selection: it would highlight every field the program refreshes, and
    // gaining the focus selects the whole text anyway.
    if (hasFocus()) {
        selectAll();
    } else {
        deselect();
    }
}

void TFloatEdit::SetValueStr(const QString &text)
{
    const double held = FValue;
    double candidate = FValue;
    // Text the operator left as shown keeps the full-precision value.
    if (text != Rendering()) {
        double converted = 0;
        if (TextToFloat(text, converted, SystemDecimalSeparator())) {
            candidate = converted;
        } else {
            bool handled = false;
            if (OnError) {
                OnError(this, ConversionMessage(text), handled);
            }
            // An unhandled failure keeps whatever Value now holds, so a
            // handler that assigned a number keeps it.
            candidate = handled ? held : FValue;
        }
    }
    SetValueAnyway(candidate);
}

bool TFloatEdit::IsValidValue(double value)
{
    if (MinMaxCheck) {
        return FMinValue <= value && value <= FMaxValue;
    }
    bool valid = true;
    if (OnValidateValue) {
        OnValidateValue(this, value, valid);
    }
    return valid;
}

void TFloatEdit::CheckValue()
{
    if (IsValidValue(FValue)) {
        return;
    }
    if (OnOutOfBounds) {
        OnOutOfBounds(this);
        return;
    }
    if (MinMaxCheck) {
        FValue = FValue > FMaxValue ? FMaxValue : FMinValue;
        if (OnChanged) {
            OnChanged(this);
        }
    }
}

void TFloatEdit::UpdateText()
{
    setText(FValueVisible ? Rendering() : QString());
    update();
}

void TFloatEdit::KeyDown(int &key, Qt::KeyboardModifiers shift)
{
    if (OnKeyDown) {
        OnKeyDown(this, key, shift);
    }
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        SetValueStr(text());
        if (OnEnterPress) {
            OnEnterPress(this);
        }
    }
}

void TFloatEdit::MyOnEnter(QObject *)
{
    selectAll();
    if (OnEnter) {
        OnEnter(this);
    }
}

void TFloatEdit::MyOnExit(QObject *)
{
    SetValueStr(text());
    UpdateText();
    if (OnExit) {
        OnExit(this);
    }
}

void TFloatEdit::keyPressEvent(QKeyEvent *event)
{
    const int original = event->key();
    int key = original;
    bool passOn = false;
    // The event counts as consumed unless the edit's own handling takes it:
    // Return and Enter must not go on to a dialog's default button, even when
    // a handler failed.
    event->accept();
    Guarded([&] {
        KeyDown(key, event->modifiers());
        passOn = key != 0 && key != Qt::Key_Return && key != Qt::Key_Enter;
    });
    if (!passOn) {
        return;
    }
    // An Alt chord is aimed at a menu or a shortcut, never at the text.
    if (event->modifiers().testFlag(Qt::AltModifier) && !event->text().isEmpty()) {
        event->ignore();
        return;
    }
    if (key == original) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    // A handler replaced the key: the edit handles the replacement instead,
    // with the character the keyboard produced.
    QKeyEvent replaced(event->type(), key, event->modifiers(), event->text(), event->isAutoRepeat(),
                       static_cast<quint16>(event->count()));
    QLineEdit::keyPressEvent(&replaced);
    event->setAccepted(replaced.isAccepted());
}

void TFloatEdit::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    Guarded([&] {
        if (FFocus.In(event)) {
            MyOnEnter(this);
        }
    });
}

void TFloatEdit::Leave()
{
    if (isEnabled()) {
        MyOnExit(this);
    } else {
        UpdateText();
    }
}

void TFloatEdit::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    Guarded([&] {
        if (FFocus.Out(this, event, [this] { Leave(); })) {
            Leave();
        }
    });
}

void TFloatEdit::changeEvent(QEvent *event)
{
    QLineEdit::changeEvent(event);
    // Disabled while the menu bar holds its focus: the typed text goes.
    if (event->type() == QEvent::EnabledChange && !isEnabled() && FFocus.Parked()) {
        FFocus.Unpark();
        UpdateText();
    }
}

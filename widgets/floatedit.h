// TFloatEdit: a single-line edit control that holds one bounded
// floating-point number, Value, and shows it in a fixed format. The operator
// types freely; the text is converted and checked only when it is committed,
// by the Enter key or by leaving the field.
//
// Events are plain C++ callbacks: an exception thrown by a handler passes
// through the control's methods unchanged, and the rest of that commit does
// not run. The control's Qt entry points (key and focus events) are the
// exception boundaries that report it.
#pragma once

#include <cstdint>
#include <functional>

#include <QLineEdit>
#include <QString>

#include "decimal_text.h"
#include "focus.h"

using TNotifyEvent = std::function<void(QObject *Sender)>;
using TValidateValueEvent = std::function<void(QObject *Sender, double Value, bool &Valid)>;
using TErrorEvent = std::function<void(QObject *Sender, const QString &Msg, bool &Handled)>;
// Key is a Qt key code; a handler that sets it to 0 swallows the key.
using TKeyEvent = std::function<void(QObject *Sender, int &Key, Qt::KeyboardModifiers Shift)>;

class TFloatEdit : public QLineEdit {
public:
    explicit TFloatEdit(QWidget *parent = nullptr);
    ~TFloatEdit() override;

    // Properties.
    TFloatFormat Format() const { return FFormat; }
    void SetFormat(TFloatFormat value);
    std::uint8_t Digits() const { return FDigits; }
    void SetDigits(std::uint8_t value);
    std::uint8_t Precision() const { return FPrecision; }
    void SetPrec(std::uint8_t value);
    double MinValue() const { return FMinValue; }
    void SetMinValue(double value);
    double MaxValue() const { return FMaxValue; }
    void SetMaxValue(double value);
    double Value() const { return FValue; }
    void SetValue(double value);
    bool ValueVisible() const { return FValueVisible; }
    void SetValueVisible(bool value);

    // When true, Value must lie in [MinValue, MaxValue] and is clamped into
    // it; when false the bounds are ignored and OnValidateValue decides.
    bool MinMaxCheck = true;

    // Sets a field up the way forms do: Format, Digits, Precision,
    // MinMaxCheck, MinValue, MaxValue, Value and ValueVisible in this order,
    // so that the bounds and the first value are checked and rendered before
    // the form attaches its handlers.
    void Setup(TFloatFormat format, std::uint8_t digits, std::uint8_t precision, bool minMaxCheck,
               double minValue, double maxValue, double value, bool valueVisible = true);

    // Operations.
    void SetValueAnyway(double value);
    void SetValueStr(const QString &text);
    void CheckValue();
    bool IsValidValue(double value);
    void UpdateText();
    // Key handling: fires OnKeyDown, then commits on Return or Enter.
    void KeyDown(int &key, Qt::KeyboardModifiers shift);
    void MyOnEnter(QObject *Sender);
    void MyOnExit(QObject *Sender);

    // Events (fired only when set).
    TNotifyEvent OnChanged;
    TValidateValueEvent OnValidateValue;
    TNotifyEvent OnOutOfBounds;
    TErrorEvent OnError;
    TNotifyEvent OnEnterPress;
    TNotifyEvent OnExit;
    TNotifyEvent OnEnter;
    TKeyEvent OnKeyDown;

    // The conversion failure message, "'%s' is not a valid floating point value".
    static QString ConversionMessage(const QString &text);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QString Rendering() const;
    // The exit of a field that holds typed text: commits it, or, when the
    // field was disabled under the focus, drops it as if it had never been
    // typed (nothing is committed and OnChanged does not fire).
    void Leave();

    std::uint8_t FPrecision = 5;
    std::uint8_t FDigits = 5;
    double FMinValue = 0;
    double FValue = 0;
    double FMaxValue = 10;
    TFloatFormat FFormat = ffFixed;
    bool FValueVisible = true;
    FocusEntryState FFocus;
};

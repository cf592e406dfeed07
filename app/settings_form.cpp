#include "settings_form.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <utility>

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QStyle>

#include "commands.h"
#include "decimal_text.h"
#include "errors.h"
#include "flag_scope.h"
#include "focus.h"
#include "font_scale.h"
#include "operator_input.h"
#include "param_runs.h"
#include "px418_protocol.h"

TSettingsForm *SettingsForm = nullptr;

namespace {

constexpr int kLargeStep = 10;
// The contrast scroll bar stands here until the device has been read.
constexpr int kDesignedContrast = 44;

// Row 0 holds tenths of a PPM, rows 1 to 3 hundredths of a percent.
double Scale(int row)
{
    return row == PX418_CAL_FREQUENCY ? 0.1 : 0.01;
}

// Cuts the fraction off toward zero. Numbers beyond the int range (which the
// bounded fields never hold) saturate instead of being undefined; a NaN is 0.
int Trunc(double x)
{
    if (std::isnan(x)) {
        return 0;
    }
    if (x >= static_cast<double>(INT_MAX)) {
        return INT_MAX;
    }
    if (x <= static_cast<double>(INT_MIN)) {
        return INT_MIN;
    }
    return static_cast<int>(std::trunc(x));
}

// A field's value in device units: the number it shows, without its decimal
// separator, so that what is written is what the operator reads ("0.29" for
// a typed 0.285 writes 29). Halves round away from zero.
int ShownPosition(const TFloatEdit *field)
{
    std::int64_t units = 0;
    if (ShownUnits(field->Value(), field->Precision(), field->Digits(), units)) {
        return static_cast<int>(std::clamp<std::int64_t>(units, INT_MIN, INT_MAX));
    }
    // Not a fixed-point number (a bounded field never holds one).
    const double scaled = field->Value() * std::pow(10.0, field->Digits());
    return Trunc(scaled > 0 ? scaled + 0.5 : scaled - 0.5);
}

// The row's name in messages: its label without the colon.
QString RowName(int row)
{
    static const char *const names[PX418_CAL_ROWS] = {"Freq.", "Ampl. A", "Ampl. B", "Ampl. C"};
    return QString::fromLatin1(names[row]);
}

TScrollBar *NewScrollBar(QWidget *parent, int minimum, int maximum, int value)
{
    auto *bar = new TScrollBar(Qt::Horizontal, parent);
    bar->setRange(minimum, maximum);
    bar->setSingleStep(1);
    bar->setPageStep(kLargeStep);
    bar->setValue(value);
    // Scroll bars are stops of the tab order and take the focus when clicked.
    bar->setFocusPolicy(Qt::StrongFocus);
    return bar;
}

QLabel *NewLabel(QWidget *parent, const QString &text, int x, int y)
{
    auto *label = new QLabel(text, parent);
    label->move(x, y);
    label->adjustSize();
    return label;
}

// A button of the designed geometry, or wider where its caption needs it.
QPushButton *NewButton(QWidget *parent, const QString &text, const QRect &geometry)
{
    auto *button = new QPushButton(text, parent);
    button->setGeometry(geometry);
    const QStyle *style = button->style();
    const int margins = 2
                        * (style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button)
                           + style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button));
    button->resize(
        std::max(geometry.width(), button->fontMetrics().horizontalAdvance(text) + margins),
        geometry.height());
    // Enter in a field must only commit the field, so no button is a
    // default button, not even the focused one.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

}  // namespace

TSettingsForm::TSettingsForm(QWidget *parent, std::function<bool()> muteFlag,
                             std::function<bool()> onLine)
    : QDialog(parent), FRecord(SendWrite), FMuteFlag(std::move(muteFlag)),
      FOnLine(std::move(onLine))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Settings"));
    // A fixed client area; with the usual dialog frame the window measures
    // about 481 x 347 in the usual desktop font, and grows with a larger
    // one. QDialog centres it on its parent when it is shown.
    FScale = FontScale(font());
    setFixedSize(Scaled(473, FScale), Scaled(320, FScale));

    BuildControls();
    // Before the key preview is installed, so that the dialog sees each key
    // before the rules do.
    ApplyOperatorInputRules(this);
    BindHandlers();

    Guarded([this] { FormCreate(); });
}

TSettingsForm::~TSettingsForm()
{
    // The controls outlive this part of the object: detach every handler
    // that calls back into it.
    for (QWidget *widget : findChildren<QWidget *>()) {
        widget->removeEventFilter(this);
    }
    removeEventFilter(this);
    for (QObject *watcher : FBarWatchers) {
        delete watcher;
    }
    for (TFloatEdit *field : {feContr, feCf, feCa, feCb, feCc}) {
        field->OnChanged = nullptr;
        field->OnEnter = nullptr;
    }
    for (TScrollBar *bar : {sbContr, sbCf, sbCa, sbCb, sbCc}) {
        bar->disconnect(this);
    }
    if (SettingsForm == this) {
        SettingsForm = nullptr;
    }
}

// ---------------------------------------------------------------- controls

void TSettingsForm::SetUpField(TFloatEdit *field, std::uint8_t digits, double minValue,
                               double maxValue)
{
    field->Setup(ffFixed, digits, 5, true, minValue, maxValue, 0);
}

void TSettingsForm::BuildControls()
{
    // Each row: label, scroll bar, field, unit label. Designed for the usual
    // desktop font; a larger one scales every length (FScale).
    auto S = [this](int designed) { return Scaled(designed, FScale); };
    const int labelX = S(16);
    const int barX = S(72);
    const int barWidth = S(289);
    const int fieldX = S(372);
    const int fieldWidth = S(49);
    const int unitX = S(428);

    GroupBox1 = new QGroupBox(QStringLiteral(" Contrast "), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(S(8), S(8), S(457), S(57));
    Label4 = NewLabel(GroupBox1, QStringLiteral("Contr.:"), labelX, S(26));
    Label4->setObjectName(QStringLiteral("Label4"));
    sbContr = NewScrollBar(GroupBox1, PX418_CONTRAST_MIN, PX418_CONTRAST_MAX, kDesignedContrast);
    sbContr->setObjectName(QStringLiteral("sbContr"));
    sbContr->setGeometry(barX, S(26), barWidth, S(17));
    feContr = new TFloatEdit(GroupBox1);
    feContr->setObjectName(QStringLiteral("feContr"));
    feContr->setGeometry(fieldX, S(24), fieldWidth, S(21));
    SetUpField(feContr, 0, PX418_CONTRAST_MIN, PX418_CONTRAST_MAX);

    GroupBox2 = new QGroupBox(QStringLiteral(" Calibration "), this);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    GroupBox2->setGeometry(S(8), S(72), S(457), S(201));

    struct RowSetup {
        QLabel **label;
        const char *labelName;
        const char *caption;
        TScrollBar **bar;
        const char *barName;
        TFloatEdit **field;
        const char *fieldName;
        QLabel **unit;
        const char *unitName;
        const char *unitText;
    };
    const RowSetup rows[PX418_CAL_ROWS] = {
        {&Label5, "Label5", "Freq.:", &sbCf, "sbCf", &feCf, "feCf", &Label1, "Label1", "PPM"},
        {&Label6, "Label6", "Ampl. A:", &sbCa, "sbCa", &feCa, "feCa", &Label2, "Label2", "%"},
        {&Label7, "Label7", "Ampl. B:", &sbCb, "sbCb", &feCb, "feCb", &Label3, "Label3", "%"},
        {&Label8, "Label8", "Ampl. C:", &sbCc, "sbCc", &feCc, "feCc", &Label9, "Label9", "%"},
    };
    for (int n = 0; n < PX418_CAL_ROWS; ++n) {
        const RowSetup &row = rows[n];
        const int y = S(26 + 32 * n);
        *row.label = NewLabel(GroupBox2, QString::fromLatin1(row.caption), labelX, y);
        (*row.label)->setObjectName(QString::fromLatin1(row.labelName));
        *row.bar = NewScrollBar(GroupBox2, PX418_CALIBRATION_MIN, PX418_CALIBRATION_MAX, 0);
        (*row.bar)->setObjectName(QString::fromLatin1(row.barName));
        (*row.bar)->setGeometry(barX, y, barWidth, S(17));
        *row.field = new TFloatEdit(GroupBox2);
        (*row.field)->setObjectName(QString::fromLatin1(row.fieldName));
        (*row.field)->setGeometry(fieldX, y - S(2), fieldWidth, S(21));
        // The field shows the scroll bar's range in PPM or percent.
        SetUpField(*row.field, n == PX418_CAL_FREQUENCY ? 1 : 2, PX418_CALIBRATION_MIN * Scale(n),
                   PX418_CALIBRATION_MAX * Scale(n));
        *row.unit = NewLabel(GroupBox2, QString::fromLatin1(row.unitText), unitX, y);
        (*row.unit)->setObjectName(QString::fromLatin1(row.unitName));
    }

    btSave =
        NewButton(GroupBox2, QStringLiteral("Save Calib"), Scaled(QRect(272, 162, 89, 25), FScale));
    btSave->setObjectName(QStringLiteral("btSave"));
    btRefresh =
        NewButton(GroupBox2, QStringLiteral("Refresh"), Scaled(QRect(372, 162, 75, 25), FScale));
    btRefresh->setObjectName(QStringLiteral("btRefresh"));

    btOk = NewButton(this, QStringLiteral("Ok"), Scaled(QRect(152, 284, 75, 25), FScale));
    btOk->setObjectName(QStringLiteral("btOk"));
    btCancel = NewButton(this, QStringLiteral("Cancel"), Scaled(QRect(246, 284, 75, 25), FScale));
    btCancel->setObjectName(QStringLiteral("btCancel"));

    // Tab order: the contrast box, the calibration box (in its own order:
    // sbCf, sbCa, sbCb, feCf, feCa, feCb, "Save Calib", "Refresh", sbCc,
    // feCc), then "Ok" and "Cancel".
    QWidget *const order[] = {sbContr, feContr, sbCf,      sbCa, sbCb, feCf, feCa,
                              feCb,    btSave,  btRefresh, sbCc, feCc, btOk, btCancel};
    for (std::size_t i = 1; i < std::size(order); ++i) {
        QWidget::setTabOrder(order[i - 1], order[i]);
    }
    // The first stop of the tab order holds the focus when the dialog opens.
    sbContr->setFocus();
}

void TSettingsForm::BindHandlers()
{
    // Scroll bars: valueChanged also fires for moves made by the program,
    // which is how "Refresh" writes changed readings back.
    connect(sbContr, &QScrollBar::valueChanged, this,
            [this] { ScrollBarChanged(sbContr, [this] { sbContrChange(); }); });
    connect(sbCf, &QScrollBar::valueChanged, this,
            [this] { ScrollBarChanged(sbCf, [this] { sbCfChange(); }); });
    connect(sbCa, &QScrollBar::valueChanged, this,
            [this] { ScrollBarChanged(sbCa, [this] { sbCaChange(); }); });
    connect(sbCb, &QScrollBar::valueChanged, this,
            [this] { ScrollBarChanged(sbCb, [this] { sbCbChange(); }); });
    connect(sbCc, &QScrollBar::valueChanged, this,
            [this] { ScrollBarChanged(sbCc, [this] { sbCcChange(); }); });

    // A row's scroll bar and field share one enter handler. The contrast
    // controls have none. FocusWatcher reports what the handler throws.
    FBarWatchers[0] = FocusWatcher::Watch(sbCf, [this] { feCfEnter(sbCf); });
    FBarWatchers[1] = FocusWatcher::Watch(sbCa, [this] { feCaEnter(sbCa); });
    FBarWatchers[2] = FocusWatcher::Watch(sbCb, [this] { feCbEnter(sbCb); });
    FBarWatchers[3] = FocusWatcher::Watch(sbCc, [this] { feCcEnter(sbCc); });

    // The fields' events are plain callbacks: an exception passes through
    // the field to the field's own Qt entry point, which reports it.
    feContr->OnChanged = [this](QObject *sender) { feContrChanged(sender); };
    feCf->OnChanged = [this](QObject *sender) { feCfChanged(sender); };
    feCa->OnChanged = [this](QObject *sender) { feCaChanged(sender); };
    feCb->OnChanged = [this](QObject *sender) { feCbChanged(sender); };
    feCc->OnChanged = [this](QObject *sender) { feCcChanged(sender); };
    feCf->OnEnter = [this](QObject *sender) { feCfEnter(sender); };
    feCa->OnEnter = [this](QObject *sender) { feCaEnter(sender); };
    feCb->OnEnter = [this](QObject *sender) { feCbEnter(sender); };
    feCc->OnEnter = [this](QObject *sender) { feCcEnter(sender); };

    connect(btRefresh, &QPushButton::clicked, this,
            [this] { Guarded([this] { btRefreshClick(); }); });
    connect(btSave, &QPushButton::clicked, this, [this] { Guarded([this] { btSaveClick(); }); });
    // "Ok" gives its result before its handler runs: the dialog closes even
    // when the confirming write fails.
    connect(btOk, &QPushButton::clicked, this, [this] {
        Guarded([this] { btOkClick(); });
        if (!FClosed) {
            done(QDialog::Accepted);
        }
    });
    // "Cancel" likewise closes with its result even when its write fails.
    connect(btCancel, &QPushButton::clicked, this, [this] {
        Guarded([this] { btCancelClick(); });
        if (!FClosed) {
            done(QDialog::Rejected);
        }
    });

    // Key preview: the dialog sees every key press before the focused
    // control does.
    installEventFilter(this);
    for (QWidget *widget : findChildren<QWidget *>()) {
        widget->installEventFilter(this);
    }
}

TScrollBar *TSettingsForm::RowBar(int n) const
{
    TScrollBar *const bars[PX418_CAL_ROWS] = {sbCf, sbCa, sbCb, sbCc};
    return bars[n];
}

TFloatEdit *TSettingsForm::RowField(int n) const
{
    TFloatEdit *const fields[PX418_CAL_ROWS] = {feCf, feCa, feCb, feCc};
    return fields[n];
}

bool TSettingsForm::Muted() const
{
    return FMuteFlag && FMuteFlag();
}

bool TSettingsForm::OnLine() const
{
    return !FOnLine || FOnLine();
}

void TSettingsForm::SetPosition(QScrollBar *bar, int position)
{
    ++FOwnMoves;
    bar->setValue(position);
    --FOwnMoves;
    if (FMoveError) {
        std::rethrow_exception(std::exchange(FMoveError, nullptr));
    }
}

template <class F>
void TSettingsForm::ScrollBarChanged(TScrollBar *bar, F &&handler)
{
    if (FOwnMoves > 0) {
        // Moved by the dialog's own code: the failure belongs to the caller
        // (SetPosition passes it on), and no exception crosses Qt's frames.
        try {
            handler();
        } catch (...) {
            if (!FMoveError) {
                FMoveError = std::current_exception();
            }
        }
    } else {
        Guarded([&] {
            try {
                handler();
            } catch (...) {
                bar->EndGesture();
                throw;
            }
        });
    }
}

// ---------------------------------------------------------------- opening

void TSettingsForm::FormCreate()
{
    FlagScope guard(FUpdate);
    ReadContrast();
    ReadCalib();
}

void TSettingsForm::ReadContrast()
{
    std::int32_t contrast = 0;
    CheckedGetPar(PX418_GROUP_SYSTEM, PX418_SYS_CONTRAST, &contrast);
    SetPosition(sbContr, contrast);
    feContr->SetValue(contrast);
    FRecord.ContrastRead(contrast, OnLine());
}

void TSettingsForm::ReadCalib()
{
    for (int n = 0; n < PX418_CAL_ROWS; ++n) {
        ReadRow(n);
    }
}

void TSettingsForm::ReadRow(int n)
{
    std::int32_t reading = 0;
    CheckedGetPar(PX418_GROUP_CALIBRATION, n, &reading);
    FRecord.RowRead(n, reading, OnLine(), [&] {
        SetPosition(RowBar(n), reading);
        // The field shows the reading within its bounds, like the scroll bar.
        // Handing it an out-of-range number would make the field clamp it and
        // fire its change event, whose handler would then write the bound to
        // the device although nothing was moved.
        RowField(n)->SetValue(std::clamp(reading, PX418_CALIBRATION_MIN, PX418_CALIBRATION_MAX)
                              * Scale(n));
    });
}

void TSettingsForm::ReadWhatWasNotRead()
{
    if (!OnLine()) {
        return;
    }
    FlagScope guard(FUpdate);
    if (!FRecord.ContrastWasRead()) {
        ReadContrast();
    }
    for (int n = 0; n < PX418_CAL_ROWS; ++n) {
        if (!FRecord.RowWasRead(n)) {
            ReadRow(n);
        }
    }
}

// ---------------------------------------------------------------- contrast

void TSettingsForm::sbContrChange()
{
    if (FUpdate) {
        return;
    }
    FlagScope guard(FUpdate);
    feContr->SetValue(sbContr->value());
    FRecord.ContrastMoved(sbContr->value(), OnLine());
}

void TSettingsForm::feContrChanged(QObject *)
{
    if (FUpdate) {
        return;
    }
    FlagScope guard(FUpdate);
    const int before = sbContr->value();
    SetPosition(sbContr, ShownPosition(feContr));
    FRecord.ContrastCommitted(before, sbContr->value(), Muted(), OnLine());
}

// ---------------------------------------------------------------- calibration rows

void TSettingsForm::RowEnter(int n)
{
    if (FUpdate) {
        return;
    }
    FRecord.RowEntered(n, RowBar(n)->value(), Muted());
}

void TSettingsForm::RowBarChange(int n)
{
    if (FUpdate) {
        return;
    }
    FlagScope guard(FUpdate);
    const int position = RowBar(n)->value();
    RowField(n)->SetValue(position * Scale(n));
    FRecord.RowMoved(n, position, OnLine());
}

void TSettingsForm::RowFieldChanged(int n)
{
    if (FUpdate) {
        return;
    }
    FlagScope guard(FUpdate);
    TScrollBar *bar = RowBar(n);
    const int before = bar->value();
    SetPosition(bar, ShownPosition(RowField(n)));
    FRecord.RowCommitted(n, before, bar->value(), OnLine());
}

void TSettingsForm::feCfEnter(QObject *)
{
    RowEnter(0);
}

void TSettingsForm::feCaEnter(QObject *)
{
    RowEnter(1);
}

void TSettingsForm::feCbEnter(QObject *)
{
    RowEnter(2);
}

void TSettingsForm::feCcEnter(QObject *)
{
    RowEnter(3);
}

void TSettingsForm::sbCfChange()
{
    RowBarChange(0);
}

void TSettingsForm::sbCaChange()
{
    RowBarChange(1);
}

void TSettingsForm::sbCbChange()
{
    RowBarChange(2);
}

void TSettingsForm::sbCcChange()
{
    RowBarChange(3);
}

void TSettingsForm::feCfChanged(QObject *)
{
    RowFieldChanged(0);
}

void TSettingsForm::feCaChanged(QObject *)
{
    RowFieldChanged(1);
}

void TSettingsForm::feCbChanged(QObject *)
{
    RowFieldChanged(2);
}

void TSettingsForm::feCcChanged(QObject *)
{
    RowFieldChanged(3);
}

// ---------------------------------------------------------------- buttons and keys

void TSettingsForm::btRefreshClick()
{
    // Not under the update guard: a reading that moves a scroll bar is
    // written back by its move handler. The contrast is not read again.
    ReadCalib();
}

void TSettingsForm::btSaveClick()
{
    FRecord.CalibrationStored(Muted(), OnLine());
}

void TSettingsForm::btOkClick()
{
    FRecord.Confirmed();
}

void TSettingsForm::btCancelClick()
{
    FRecord.ContrastRestored();
    if (!FClosed) {
        done(QDialog::Rejected);
    }
}

void TSettingsForm::FormKeyPress(int key)
{
    if (key == 27) {
        btCancelClick();
    }
}

bool TSettingsForm::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress) {
        return QDialog::eventFilter(watched, event);
    }
    auto *keyEvent = static_cast<QKeyEvent *>(event);
    // A key that its receiver ignores travels on to the parents; the form
    // sees it once, at the widget that received it first.
    QWidget *first = focusWidget() ? focusWidget() : this;
    if (watched == first) {
        int character = 0;
        if (keyEvent->key() == Qt::Key_Escape) {
            character = 27;
        } else if (!keyEvent->text().isEmpty()) {
            character = keyEvent->text().at(0).unicode();
        }
        if (character != 0) {
            Guarded([this, character] { FormKeyPress(character); });
        }
    }
    // Escape belongs to FormKeyPress alone: QDialog must not reject on it.
    if (keyEvent->key() == Qt::Key_Escape) {
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------- closing

void TSettingsForm::FormClose()
{
    // Unsaved calibration goes back. Every write is tried; the failures make
    // one box.
    QStringList failures;
    for (const DeviceWrite &write : FRecord.RestoreWrites(Muted())) {
        try {
            SendWrite(write);
        } catch (const EHardwareException &e) {
            failures << RowName(write.number & PX418_NUMBER_MASK) + QStringLiteral(": ")
                            + WithFullStop(e.Message());
        }
    }
    if (SettingsForm == this) {
        SettingsForm = nullptr;
    }
    if (!failures.isEmpty()) {
        throw EHardwareException(QStringLiteral("The calibration was not restored:\n")
                                 + failures.join(QLatin1Char('\n')));
    }
}

void TSettingsForm::done(int result)
{
    if (FClosed) {
        return;
    }
    FClosed = true;
    // A failed restore is reported, and the dialog closes all the same: it
    // must not stay open because the device went away.
    Guarded([this] { FormClose(); });
    if (SettingsForm == this) {
        SettingsForm = nullptr;
    }
    QDialog::done(result);
}

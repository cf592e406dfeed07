#include "font_scale.h"

#include <algorithm>
#include <cmath>

#include <QFont>
#include <QFontMetricsF>
#include <QLineEdit>
#include <QRect>
#include <QStyle>
#include <QStyleOptionFrame>

namespace {

constexpr int kDesignedPixels = 12;
// The words of the windows whose widths decide; short words grow unevenly
// with a font's hinting.
const char *const kWords[] = {"Amplitude:", "Phase:",  "Mode:",    "Hz",         "Out A",
                              "Presets",    "Contr.:", "Ampl. A:", "Save Calib", "PPM",
                              "Refresh",    "Cancel",  "-360.0",   "3000.000",   "10.00"};

// What QLineEdit keeps free on each side of its text within its frame.
constexpr int kEditTextMargin = 2;

}  // namespace

double FontScale(const QFont &font)
{
    QFont designed(QStringLiteral("DejaVu Sans"));
    designed.setPixelSize(kDesignedPixels);
    const QFontMetricsF now(font);
    const QFontMetricsF then(designed);
    double scale = now.height() / then.height();
    for (const char *word : kWords) {
        const QString text = QString::fromLatin1(word);
        scale = std::max(scale, now.horizontalAdvance(text) / then.horizontalAdvance(text));
    }
    return std::max(1.0, scale);
}

int Scaled(int designed, double scale)
{
    return static_cast<int>(std::lround(designed * scale));
}

QRect Scaled(const QRect &designed, double scale)
{
    return {Scaled(designed.x(), scale), Scaled(designed.y(), scale),
            Scaled(designed.width(), scale), Scaled(designed.height(), scale)};
}

int EditWidthFor(const QLineEdit *edit, const QString &text)
{
    // The text and the cursor's pixel after it, the edit's own margins,
    // then the style's frame.
    const QMargins margins = edit->textMargins();
    const int inner =
        static_cast<int>(std::ceil(QFontMetricsF(edit->font()).horizontalAdvance(text))) + 1
        + 2 * kEditTextMargin + margins.left() + margins.right();
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.rect = edit->rect();
    option.lineWidth = edit->hasFrame()
                           ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit)
                           : 0;
    option.midLineWidth = 0;
    option.state |= QStyle::State_Sunken;
    option.features = QStyleOptionFrame::None;
    return edit->style()
        ->sizeFromContents(QStyle::CT_LineEdit, &option, QSize(inner, edit->height()), edit)
        .width();
}

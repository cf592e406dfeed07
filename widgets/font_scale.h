// The windows are laid out in pixels for the usual desktop font, DejaVu Sans
// at 12 pixels (9 points at 96 dpi). With a larger font they grow by the
// factor its texts need, so that they keep their arrangement and every text
// stays whole; with the usual font or a smaller one they keep their size.
#pragma once

class QFont;
class QLineEdit;
class QRect;
class QString;

// How many times the room of the designed font the font's texts need: the
// larger of its line height's ratio and the widths' of the windows' words,
// at least 1.
double FontScale(const QFont &font);

// A designed length or rectangle, in the font at hand.
int Scaled(int designed, double scale);
QRect Scaled(const QRect &designed, double scale);

// The width at which an edit field shows `text` whole, in its font and
// style, frame and margins included.
int EditWidthFor(const QLineEdit *edit, const QString &text);

// The picture of the phasor view: the phasor diagram, the figures beside it
// and the waveforms below, painted onto any QPainter (the window, an image
// to copy or save, an SVG file) from what the main window shows.
#pragma once

#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QSize>

#include "param_table.h"

class QPainter;

// What the view shows: the parameter table, whether amplitudes are shown as
// RMS, and whether the device is on line.
struct PhasorViewState {
    ParamTable table{};
    bool rms = false;
    bool onLine = false;
    bool operator==(const PhasorViewState &) const = default;
};

// Where the parts of a picture of the given size lie. The picture's text is
// in the desktop's font, and its sizes grow with that font.
struct PhasorLayout {
    QRectF diagram;     // the diagram with its labels
    QPointF centre;     // of the scale circle
    double radius = 0;  // of the scale circle, in pixels
    QRectF figures;     // the figures' lines, right of the diagram
    int noteLines = 1;  // under the diagram: the scale, and the snapshot note beside or below it
    QRectF plot;        // the waveforms' axes box
};
PhasorLayout LayoutPhasorPicture(QSize size);

// How much larger than the 12 pixels it is drawn for the picture's font is
// (at least 1); the picture's sizes grow by this factor.
double PictureScale();

// The smallest picture that shows every part: a diagram beside the figures,
// all of the figures' lines above a plot of a few divisions.
QSize MinimumPictureSize();

// An output's colour in the picture, its lines and arrows: its own, or grey
// while off line.
QColor OutputColour(int channel, bool onLine = true);
// The colour of an output's text: its own hue, dark enough to read on white.
QColor OutputTextColour(int channel, bool onLine = true);

// Paints the whole picture into the rectangle (0, 0, size).
void PaintPhasorPicture(QPainter &painter, QSize size, const PhasorViewState &state);

#include "phasor_picture.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include "decimal_text.h"
#include "output_colours.h"
#include "phasors.h"

namespace {

constexpr double kMargin = 8;
constexpr double kFontPixels = 12;
// Room around the scale circle for the labels, and below it for the note.
constexpr double kLabelGap = 8;
constexpr double kLabelRoomX = 76;
constexpr double kLabelRoomY = 22;
constexpr double kNoteHeight = 18;
const QString kSnapshotNote = QStringLiteral("frequencies differ: snapshot at t = 0");
// Axis label room of the waveform plot.
constexpr double kPlotLeft = 46;

constexpr double kPlotBottom = 32;
constexpr double kPlotRight = 12;
constexpr double kArrowWidth = 2.5;
constexpr double kHeadLength = 12;
constexpr double kHeadHalfWidth = 4.5;

const QColor kInk(32, 32, 32);
const QColor kOffInk(150, 150, 150);
const QColor kGrid(200, 200, 200);
const QColor kOffOutput(160, 160, 160);

const char *const kNames[PX418_OUTPUTS] = {"A", "B", "C"};
const Qt::PenStyle kStyles[PX418_OUTPUTS] = {Qt::SolidLine, Qt::DashLine, Qt::DashDotLine};

QString Fixed(double value, int decimals)
{
    return FloatToStrF(value, ffFixed, 15, decimals, SystemDecimalSeparator());
}

QString Volts(double value)
{
    return Fixed(value, 2) + QStringLiteral(" V");
}

QString Degrees(double value)
{
    return Fixed(value, 1) + QStringLiteral("\u00B0");
}

// Tick labels: as few decimals as the step needs.
QString TickText(double value, double step)
{
    const int decimals = std::clamp(static_cast<int>(std::ceil(-std::log10(step) - 1e-9)), 0, 6);
    return Fixed(value, decimals);
}

QFont PictureFont(bool bold = false)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(static_cast<int>(kFontPixels));
    font.setBold(bold);
    return font;
}

QFont NoteFont()
{
    QFont italic = PictureFont();
    italic.setItalic(true);
    return italic;
}

// Whether the scale note (at its widest) and the snapshot note fit side by
// side on one line of `width` pixels.
bool NotesFitOnOneLine(double width)
{
    const double scale =
        QFontMetricsF(PictureFont()).horizontalAdvance(QStringLiteral("scale circle 1000 V peak"));
    const double snapshot = QFontMetricsF(NoteFont()).horizontalAdvance(kSnapshotNote);
    return scale + 16 + snapshot <= width;
}

void DrawArrow(QPainter &p, QPointF from, QPointF to, const QColor &colour)
{
    const QPointF d = to - from;
    const double length = std::hypot(d.x(), d.y());
    if (length < 1) {
        return;
    }
    const QPointF u = d / length;
    const QPointF n(-u.y(), u.x());
    const double head = std::min(kHeadLength, length * 0.6);
    const double half = kHeadHalfWidth * head / kHeadLength;
    p.setPen(QPen(colour, kArrowWidth, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(from, to - u * head * 0.8);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    const QPolygonF triangle({to, to - u * head + n * half, to - u * head - n * half});
    p.drawPolygon(triangle);
    p.setBrush(Qt::NoBrush);
}

void PaintDiagram(QPainter &p, const PhasorLayout &l, const PhasorViewState &s)
{
    const PhasorSet phasors = PhasorsOf(s.table, s.rms);
    double largest = 0;
    for (const Phasor &v : phasors) {
        largest = std::max(largest, std::abs(v));
    }
    const double scale = NiceScale(largest);
    const QColor ink = s.onLine ? kInk : kOffInk;

    // Axes through the centre, the scale circle and its half.
    p.setPen(QPen(kGrid, 1));
    p.drawLine(QPointF(l.centre.x() - l.radius, l.centre.y()),
               QPointF(l.centre.x() + l.radius, l.centre.y()));
    p.drawLine(QPointF(l.centre.x(), l.centre.y() - l.radius),
               QPointF(l.centre.x(), l.centre.y() + l.radius));
    p.setPen(QPen(kGrid, 1, Qt::DashLine));
    p.drawEllipse(l.centre, l.radius / 2, l.radius / 2);
    p.setPen(QPen(kGrid.darker(130), 1.2));
    p.drawEllipse(l.centre, l.radius, l.radius);

    p.setFont(PictureFont());
    p.setPen(ink);
    const QString circle = QStringLiteral("scale circle ") + Fixed(scale, scale < 1 ? 2 : 0)
                           + (s.rms ? QStringLiteral(" V RMS") : QStringLiteral(" V peak"));
    // The scale on the last line; the snapshot note right of it, or on the
    // line below when the diagram is too narrow for both.
    const double notesTop = l.diagram.bottom() - l.noteLines * kNoteHeight;
    p.drawText(QRectF(l.diagram.left(), notesTop, l.diagram.width(), kNoteHeight),
               Qt::AlignLeft | Qt::AlignBottom, circle);
    if (FrequenciesDiffer(s.table)) {
        p.setFont(NoteFont());
        p.drawText(QRectF(l.diagram.left(), l.diagram.bottom() - kNoteHeight, l.diagram.width(),
                          kNoteHeight),
                   Qt::AlignRight | Qt::AlignBottom, kSnapshotNote);
    }

    for (int c = 0; c < PX418_OUTPUTS; ++c) {
        const Phasor &v = phasors[static_cast<std::size_t>(c)];
        DrawArrow(p, l.centre, PhasorTip(l.centre, l.radius, scale, v), OutputColour(c, s.onLine));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawEllipse(l.centre, 2.5, 2.5);
    p.setBrush(Qt::NoBrush);

    // The labels just outside the circle in each arrow's direction (at its
    // set phase when its amplitude is 0), moved down where they would cover
    // one another.
    const QFontMetricsF metrics(PictureFont(true));
    const PhasorOutputs outputs = PhasorOutputsOf(s.table);
    std::vector<QRectF> placed;
    p.setFont(PictureFont(true));
    for (int c = 0; c < PX418_OUTPUTS; ++c) {
        const auto i = static_cast<std::size_t>(c);
        const double angle = outputs[i].phase * std::numbers::pi / 180.0;
        const QString text =
            QString::fromLatin1(kNames[c]) + QStringLiteral(" ") + Volts(std::abs(phasors[i]));
        const double w = metrics.horizontalAdvance(text) + 2;
        const double h = metrics.height();
        const QPointF anchor(l.centre.x() + (l.radius + kLabelGap) * std::cos(angle),
                             l.centre.y() - (l.radius + kLabelGap) * std::sin(angle));
        QRectF box(0, 0, w, h);
        box.moveCenter(anchor + QPointF(w / 2 * std::cos(angle), -h / 2 * std::sin(angle)));
        for (bool moved = true; moved;) {
            moved = false;
            for (const QRectF &other : placed) {
                if (box.intersects(other)) {
                    box.moveTop(other.bottom() + 1);
                    moved = true;
                }
            }
        }
        placed.push_back(box);
        p.setPen(OutputColour(c, s.onLine));
        p.drawText(box, Qt::AlignCenter, text);
    }

    if (!s.onLine) {
        QFont big = PictureFont(true);
        big.setPixelSize(18);
        p.setFont(big);
        p.setPen(kOffInk);
        p.drawText(l.diagram, Qt::AlignLeft | Qt::AlignTop, QStringLiteral("OFF-Line"));
    }
}

void PaintFigures(QPainter &p, const PhasorLayout &l, const PhasorViewState &s)
{
    const QColor ink = s.onLine ? kInk : kOffInk;
    const QFontMetricsF metrics(PictureFont());
    const double line = metrics.height() + 3;
    const double x = l.figures.left();
    const double valueX = x + 96;
    double y = l.figures.top();
    auto row = [&](const QString &name, const QString &value) {
        p.drawText(QPointF(x + 8, y + metrics.ascent()), name);
        p.drawText(QRectF(valueX, y, 72, line), Qt::AlignRight | Qt::AlignTop, value);
        y += line;
    };
    auto heading = [&](const QString &text) {
        y += line / 2;
        p.setFont(PictureFont(true));
        p.setPen(ink);
        p.drawText(QPointF(x, y + metrics.ascent()), text);
        p.setFont(PictureFont());
        y += line;
    };

    // Each output: a piece of its line in the waveforms, its values.
    const PhasorSet phasors = PhasorsOf(s.table, s.rms);
    const PhasorOutputs outputs = PhasorOutputsOf(s.table);
    for (int c = 0; c < PX418_OUTPUTS; ++c) {
        const auto i = static_cast<std::size_t>(c);
        const QColor colour = OutputColour(c, s.onLine);
        const double mid = y + line / 2 - 1;
        p.setPen(QPen(colour, 2, kStyles[c], Qt::FlatCap));
        p.drawLine(QPointF(x, mid), QPointF(x + 22, mid));
        p.setFont(PictureFont(true));
        p.setPen(colour);
        p.drawText(QPointF(x + 28, y + metrics.ascent()), QString::fromLatin1(kNames[c]));
        p.setFont(PictureFont());
        p.drawText(QPointF(x + 44, y + metrics.ascent()), Volts(std::abs(phasors[i]))
                                                              + QStringLiteral("  \u2220 ")
                                                              + Degrees(outputs[i].phase));
        y += line;
        p.drawText(QPointF(x + 44, y + metrics.ascent()),
                   Fixed(outputs[i].frequency, 3) + QStringLiteral(" Hz"));
        y += line;
    }

    const PhaseDifferences d = PhaseDifferencesOf(s.table);
    heading(QStringLiteral("Phase differences"));
    p.setPen(ink);
    row(QStringLiteral("A to B"), Degrees(d.ab));
    row(QStringLiteral("B to C"), Degrees(d.bc));
    row(QStringLiteral("C to A"), Degrees(d.ca));
    p.setPen(kOffInk);
    p.drawText(QPointF(x + 8, y + metrics.ascent()),
               QStringLiteral("(A to B = \u2220A \u2212 \u2220B)"));
    y += line;

    const SequenceComponents seq = SymmetricalComponentsOf(phasors);
    heading(s.rms ? QStringLiteral("Symmetrical components (RMS)")
                  : QStringLiteral("Symmetrical components (peak)"));
    p.setPen(ink);
    row(QStringLiteral("Positive"), Volts(seq.positive));
    row(QStringLiteral("Negative"), Volts(seq.negative));
    row(QStringLiteral("Zero"), Volts(seq.zero));
    // Without a positive sequence the factor has no value.
    row(QStringLiteral("Unbalance"),
        seq.unbalance ? Fixed(*seq.unbalance, 1) + QStringLiteral(" %") : QStringLiteral("\u2014"));
    p.setPen(kOffInk);
    p.drawText(QPointF(x + 8, y + metrics.ascent()),
               seq.unbalance ? QStringLiteral("(VUF = negative / positive)")
                             : QStringLiteral("(no positive sequence)"));
}

void PaintWaveforms(QPainter &p, const PhasorLayout &l, const PhasorViewState &s)
{
    const Waveforms w = WaveformsOf(s.table);
    const QColor ink = s.onLine ? kInk : kOffInk;
    const QRectF &plot = l.plot;
    p.setFont(PictureFont());
    const QFontMetricsF metrics(PictureFont());

    // Grid and tick labels: time from 0, in seconds once it spans 10 s (at
    // the lowest frequencies), voltage both ways from 0.
    const bool seconds = w.spanMs >= 10000;
    const double msPerUnit = seconds ? 1000 : 1;
    const std::vector<double> times =
        AxisTicks(w.spanMs / msPerUnit, std::max(2, int(plot.width() / 70)));
    const std::vector<double> volts = AxisTicks(w.voltLimit, std::max(1, int(plot.height() / 60)));
    const double timeStep = times.size() > 1 ? times[1] : w.spanMs / msPerUnit;
    const double voltStep = volts.size() > 1 ? volts[1] : w.voltLimit;
    // Labels stay within the picture: the last one may not reach past
    // the plot's right edge by more than the margin beyond it.
    const double labelsRight = plot.right() + kPlotRight;
    for (double t : times) {
        const double x = PlotPoint(plot, w.spanMs, w.voltLimit, QPointF(t * msPerUnit, 0)).x();
        p.setPen(QPen(kGrid, 1, Qt::DotLine));
        p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        p.setPen(ink);
        const QString label = TickText(t, timeStep);
        const double half = metrics.horizontalAdvance(label) / 2;
        const double left = std::min(x - half, labelsRight - 2 * half);
        p.drawText(QRectF(left, plot.bottom() + 2, 2 * half + 1, metrics.height()),
                   Qt::AlignHCenter, label);
    }
    for (double v : volts) {
        for (double signedV : {v, -v}) {
            if (signedV == 0 && std::signbit(signedV)) {
                continue;  // 0 once
            }
            const double y = PlotPoint(plot, w.spanMs, w.voltLimit, QPointF(0, signedV)).y();
            p.setPen(QPen(kGrid, 1, v == 0 ? Qt::SolidLine : Qt::DotLine));
            p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
            p.setPen(ink);
            p.drawText(QRectF(plot.left() - kPlotLeft, y - metrics.height() / 2, kPlotLeft - 4,
                              metrics.height()),
                       Qt::AlignRight | Qt::AlignVCenter, TickText(signedV, voltStep));
        }
    }
    p.setPen(ink);
    p.drawText(
        QRectF(plot.left(), plot.bottom() + 2 + metrics.height(), plot.width(), metrics.height()),
        Qt::AlignRight, seconds ? QStringLiteral("t / s") : QStringLiteral("t / ms"));
    p.drawText(QRectF(l.plot.left() - kPlotLeft, plot.top() - metrics.height() - 2, kPlotLeft,
                      metrics.height()),
               Qt::AlignLeft, QStringLiteral("V"));
    p.setPen(QPen(kGrid.darker(130), 1));
    p.drawRect(plot);

    p.save();
    p.setClipRect(plot.adjusted(-2, -2, 2, 2));
    for (int c = PX418_OUTPUTS - 1; c >= 0; --c) {
        const Trace &t = w.traces[static_cast<std::size_t>(c)];
        const QColor colour = OutputColour(c, s.onLine);
        if (t.band) {
            // Too many cycles to tell apart: the band they fill.
            const QPointF top = PlotPoint(plot, w.spanMs, w.voltLimit, QPointF(0, t.peak));
            const QPointF bottom =
                PlotPoint(plot, w.spanMs, w.voltLimit, QPointF(w.spanMs, -t.peak));
            QColor fill = colour;
            fill.setAlpha(60);
            p.fillRect(QRectF(top, bottom), fill);
            p.setPen(QPen(colour, 1.8, kStyles[c]));
            p.drawLine(top, QPointF(bottom.x(), top.y()));
            p.drawLine(QPointF(top.x(), bottom.y()), bottom);
            continue;
        }
        QPolygonF line;
        line.reserve(static_cast<qsizetype>(t.points.size()));
        for (const QPointF &sample : t.points) {
            line << PlotPoint(plot, w.spanMs, w.voltLimit, sample);
        }
        p.setPen(QPen(colour, 1.8, kStyles[c], Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(line);
    }
    p.restore();
}

}  // namespace

PhasorLayout LayoutPhasorPicture(QSize size)
{
    const double width = size.width();
    const double height = size.height();
    PhasorLayout l;
    // The diagram takes what the figures leave of the width and up to about
    // 60 % of the height; the waveforms the rest of the height.
    // The figures' column is never narrower than its longest heading.
    const double figuresMin =
        QFontMetricsF(PictureFont(true))
            .horizontalAdvance(QStringLiteral("Symmetrical components (peak)"))
        + 2 * kMargin;
    const double figuresWidth = std::clamp(width * 0.36, figuresMin, std::max(figuresMin, 240.0));
    const double diagramWidth = std::max(100.0, width - 2 * kMargin - figuresWidth);
    l.noteLines = NotesFitOnOneLine(diagramWidth) ? 1 : 2;
    const double notes = l.noteLines * kNoteHeight;
    const double maxTop = std::max(100.0, height * 0.6 - kMargin);
    l.radius = std::max(
        10.0, std::min((maxTop - notes) / 2 - kLabelRoomY, diagramWidth / 2 - kLabelRoomX));
    const double topHeight = std::max(2 * (l.radius + kLabelRoomY) + notes, 280.0);
    l.diagram = QRectF(kMargin, kMargin, diagramWidth, topHeight);
    l.figures = QRectF(l.diagram.right() + kMargin, kMargin, figuresWidth - kMargin, topHeight);
    l.centre = QPointF(l.diagram.center().x(), l.diagram.top() + (topHeight - notes) / 2);
    const double waveTop = l.diagram.bottom() + kMargin;
    l.plot = QRectF(kMargin + kPlotLeft, waveTop + 20, width - 2 * kMargin - kPlotLeft - kPlotRight,
                    std::max(40.0, height - kMargin - waveTop - 20 - kPlotBottom));
    return l;
}

QColor OutputColour(int channel, bool onLine)
{
    if (!onLine) {
        return kOffOutput;
    }
    return QColor::fromRgb(kOutputRgb[static_cast<std::size_t>(channel)]);
}

void PaintPhasorPicture(QPainter &painter, QSize size, const PhasorViewState &state)
{
    const PhasorLayout layout = LayoutPhasorPicture(size);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
    PaintDiagram(painter, layout, state);
    PaintFigures(painter, layout, state);
    PaintWaveforms(painter, layout, state);
    painter.restore();
}

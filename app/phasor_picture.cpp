#include "phasor_picture.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include <QFontInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QStringList>

#include "decimal_text.h"
#include "output_colours.h"
#include "phasors.h"

namespace {

// The picture's sizes are drawn for a 12-pixel font and grow with the font.
constexpr double kDesignedFontPixels = 12;
const QString kSnapshotNote = QStringLiteral("frequencies differ: snapshot at t = 0");
constexpr double kArrowWidth = 2.5;
constexpr double kHeadLength = 12;
constexpr double kHeadHalfWidth = 4.5;
// Lines of the figures' column: two per output, each heading one and a
// half, three differences and their note, four components and their note,
// and the note on DC outputs.
constexpr double kFigureLines = 3 * 2 + 1.5 + 3 + 1 + 1.5 + 4 + 1 + 1;

const QColor kInk(32, 32, 32);
const QColor kNoteInk = QColor::fromRgb(kNoteTextRgb);
const QColor kGrid(200, 200, 200);

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

QString Degrees(const std::optional<double> &value)
{
    return value ? Degrees(*value) : QStringLiteral("\u2014");
}

// Tick labels: as few decimals as the step needs.
QString TickText(double value, double step)
{
    const int decimals = std::clamp(static_cast<int>(std::ceil(-std::log10(step) - 1e-9)), 0, 6);
    return Fixed(value, decimals);
}

// The picture's fonts and the sizes that follow them: the desktop's font
// at its pixel size, so that an image or an SVG file shows what the window
// does.
struct Metrics {
    QFont font;
    QFont bold;
    QFont italic;
    double k = 1;  // the font's size over the designed 12 pixels
    double line = 0;
    double margin = 0;
    double labelGap = 0;
    double labelRoomX = 0;
    double labelRoomY = 0;
    double noteHeight = 0;
    double plotLeft = 0;
    double plotTop = 0;
    double plotBottom = 0;
    double plotRight = 0;
    double S(double designed) const { return designed * k; }
};

Metrics PictureMetrics()
{
    Metrics m;
    const QFont desktop = QGuiApplication::font();
    m.font = QFont(desktop.family());
    m.font.setPixelSize(std::max(1, QFontInfo(desktop).pixelSize()));
    m.bold = m.font;
    m.bold.setBold(true);
    m.italic = m.font;
    m.italic.setItalic(true);
    m.k = std::max(1.0, m.font.pixelSize() / kDesignedFontPixels);
    const QFontMetricsF metrics(m.font);
    const QFontMetricsF bold(m.bold);
    m.line = metrics.height() + m.S(3);
    m.margin = m.S(8);
    m.labelGap = m.S(8);
    m.labelRoomX = bold.horizontalAdvance(QStringLiteral("C 10.00 V")) + m.labelGap + 2;
    m.labelRoomY = bold.height() + m.labelGap;
    m.noteHeight = metrics.height() + m.S(4);
    m.plotLeft = std::max(m.S(46), metrics.horizontalAdvance(QStringLiteral("-10.0")) + m.S(8));
    m.plotTop = metrics.height() + m.S(6);
    m.plotBottom = 2 * metrics.height() + m.S(4);
    m.plotRight = m.S(12);
    return m;
}

double FiguresHeight(const Metrics &m)
{
    return kFigureLines * m.line;
}

// Whether the scale note (at its widest) and the snapshot note fit side by
// side on one line of `width` pixels.
bool NotesFitOnOneLine(const Metrics &m, double width)
{
    const double scale =
        QFontMetricsF(m.font).horizontalAdvance(QStringLiteral("scale circle 1000 V peak"));
    const double snapshot = QFontMetricsF(m.italic).horizontalAdvance(kSnapshotNote);
    return scale + m.S(16) + snapshot <= width;
}

QColor InkOf(const PhasorViewState &s)
{
    return s.onLine ? kInk : kNoteInk;
}

// What the figures say of the outputs at 0 Hz: "(C is DC: left out)".
QString DcNote(const PhasorOutputs &outputs)
{
    QStringList names;
    for (int c = 0; c < PX418_OUTPUTS; ++c) {
        if (outputs[static_cast<std::size_t>(c)].Dc()) {
            names << QString::fromLatin1(kNames[c]);
        }
    }
    if (names.isEmpty()) {
        return {};
    }
    if (names.size() == PX418_OUTPUTS) {
        return QStringLiteral("(all outputs DC: no phasors)");
    }
    return QStringLiteral("(%1 %2 DC: left out)")
        .arg(names.join(QStringLiteral(" and ")),
             names.size() == 1 ? QStringLiteral("is") : QStringLiteral("are"));
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

void PaintDiagram(QPainter &p, const Metrics &m, const PhasorLayout &l, const PhasorViewState &s)
{
    const PhasorSet phasors = PhasorsOf(s.table, s.rms);
    const PhasorOutputs outputs = PhasorOutputsOf(s.table);
    double largest = 0;
    for (const Phasor &v : phasors) {
        largest = std::max(largest, std::abs(v));
    }
    const double scale = NiceScale(largest);
    const QColor ink = InkOf(s);

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

    p.setFont(m.font);
    p.setPen(ink);
    const QString circle = QStringLiteral("scale circle ") + Fixed(scale, scale < 1 ? 2 : 0)
                           + (s.rms ? QStringLiteral(" V RMS") : QStringLiteral(" V peak"));
    // The scale on the last line; the snapshot note right of it, or on the
    // line below when the diagram is too narrow for both.
    const double notesTop = l.diagram.bottom() - l.noteLines * m.noteHeight;
    p.drawText(QRectF(l.diagram.left(), notesTop, l.diagram.width(), m.noteHeight),
               Qt::AlignLeft | Qt::AlignBottom, circle);
    if (FrequenciesDiffer(s.table)) {
        p.setFont(m.italic);
        p.drawText(QRectF(l.diagram.left(), l.diagram.bottom() - m.noteHeight, l.diagram.width(),
                          m.noteHeight),
                   Qt::AlignRight | Qt::AlignBottom, kSnapshotNote);
    }

    // A DC output has no arrow and no label: the figures give its level.
    for (int c = 0; c < PX418_OUTPUTS; ++c) {
        const auto i = static_cast<std::size_t>(c);
        if (!outputs[i].Dc()) {
            DrawArrow(p, l.centre, PhasorTip(l.centre, l.radius, scale, phasors[i]),
                      OutputColour(c, s.onLine));
        }
    }
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawEllipse(l.centre, 2.5, 2.5);
    p.setBrush(Qt::NoBrush);

    // The labels just outside the circle in each arrow's direction (at its
    // set phase when its amplitude is 0), moved down where they would cover
    // one another.
    const QFontMetricsF metrics(m.bold);
    std::vector<QRectF> placed;
    p.setFont(m.bold);
    for (int c = 0; c < PX418_OUTPUTS; ++c) {
        const auto i = static_cast<std::size_t>(c);
        if (outputs[i].Dc()) {
            continue;
        }
        const double angle = outputs[i].phase * std::numbers::pi / 180.0;
        const QString text =
            QString::fromLatin1(kNames[c]) + QStringLiteral(" ") + Volts(std::abs(phasors[i]));
        const double w = metrics.horizontalAdvance(text) + 2;
        const double h = metrics.height();
        const QPointF anchor(l.centre.x() + (l.radius + m.labelGap) * std::cos(angle),
                             l.centre.y() - (l.radius + m.labelGap) * std::sin(angle));
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
        p.setPen(OutputTextColour(c, s.onLine));
        p.drawText(box, Qt::AlignCenter, text);
    }

    if (!s.onLine) {
        QFont big = m.bold;
        big.setPixelSize(static_cast<int>(std::lround(m.font.pixelSize() * 1.5)));
        p.setFont(big);
        p.setPen(kNoteInk);
        p.drawText(l.diagram, Qt::AlignLeft | Qt::AlignTop, QStringLiteral("OFF-Line"));
    }
}

void PaintFigures(QPainter &p, const Metrics &m, const PhasorLayout &l, const PhasorViewState &s)
{
    const QColor ink = InkOf(s);
    const QFontMetricsF metrics(m.font);
    const double line = m.line;
    const double x = l.figures.left();
    const double valueX = x + m.S(96);
    const double valueWidth =
        std::max(m.S(72), metrics.horizontalAdvance(QStringLiteral("100.00 V")));
    double y = l.figures.top();
    auto text = [&](double left, const QString &what) {
        p.drawText(QPointF(left, y + metrics.ascent()), what);
    };
    auto row = [&](const QString &name, const QString &value) {
        text(x + m.S(8), name);
        p.drawText(QRectF(valueX, y, valueWidth, line), Qt::AlignRight | Qt::AlignTop, value);
        y += line;
    };
    auto note = [&](const QString &what, const QColor &colour) {
        p.setPen(colour);
        text(x + m.S(8), what);
        y += line;
    };
    auto heading = [&](const QString &what) {
        y += line / 2;
        p.setFont(m.bold);
        p.setPen(ink);
        text(x, what);
        p.setFont(m.font);
        y += line;
    };

    // Each output: a piece of its line in the waveforms, its values; a DC
    // output its level.
    const PhasorSet phasors = PhasorsOf(s.table, s.rms);
    const PhasorOutputs outputs = PhasorOutputsOf(s.table);
    for (int c = 0; c < PX418_OUTPUTS; ++c) {
        const auto i = static_cast<std::size_t>(c);
        const double mid = y + line / 2 - 1;
        p.setPen(QPen(OutputColour(c, s.onLine), 2, kStyles[c], Qt::FlatCap));
        p.drawLine(QPointF(x, mid), QPointF(x + m.S(22), mid));
        p.setFont(m.bold);
        p.setPen(OutputTextColour(c, s.onLine));
        text(x + m.S(28), QString::fromLatin1(kNames[c]));
        p.setFont(m.font);
        text(x + m.S(44), outputs[i].Dc()
                              ? QStringLiteral("DC ") + Volts(outputs[i].DcLevel())
                              : Volts(std::abs(phasors[i])) + QStringLiteral("  \u2220 ")
                                    + Degrees(outputs[i].phase));
        y += line;
        text(x + m.S(44), Fixed(outputs[i].frequency, 3) + QStringLiteral(" Hz"));
        y += line;
    }

    const PhaseDifferences d = PhaseDifferencesOf(s.table);
    heading(QStringLiteral("Phase differences"));
    p.setPen(ink);
    row(QStringLiteral("A to B"), Degrees(d.ab));
    row(QStringLiteral("B to C"), Degrees(d.bc));
    row(QStringLiteral("C to A"), Degrees(d.ca));
    note(QStringLiteral("(A to B = \u2220A \u2212 \u2220B)"), kNoteInk);

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
    // Two outputs swapped is the usual wiring fault: said plainly.
    if (seq.rotation == Rotation::Reverse) {
        p.setFont(m.bold);
        note(QStringLiteral("Reverse sequence: A-C-B"), ink);
        p.setFont(m.font);
    } else if (seq.unbalance) {
        note(QStringLiteral("(VUF = negative / positive)"), kNoteInk);
    } else {
        note(QStringLiteral("(no positive sequence)"), kNoteInk);
    }
    note(DcNote(outputs), kNoteInk);
}

void PaintWaveforms(QPainter &p, const Metrics &m, const PhasorLayout &l, const PhasorViewState &s)
{
    const Waveforms w = WaveformsOf(s.table);
    const QColor ink = InkOf(s);
    const QRectF &plot = l.plot;
    p.setFont(m.font);
    const QFontMetricsF metrics(m.font);

    // Grid and tick labels: time from 0, in seconds once it spans 10 s (at
    // the lowest frequencies), voltage both ways from 0.
    const bool seconds = w.spanMs >= 10000;
    const double msPerUnit = seconds ? 1000 : 1;
    const std::vector<double> times =
        AxisTicks(w.spanMs / msPerUnit, std::max(2, int(plot.width() / m.S(70))));
    const std::vector<double> volts =
        AxisTicks(w.voltLimit, std::max(1, int(plot.height() / m.S(60))));
    const double timeStep = times.size() > 1 ? times[1] : w.spanMs / msPerUnit;
    const double voltStep = volts.size() > 1 ? volts[1] : w.voltLimit;
    // Labels stay within the picture: the last one may not reach past
    // the plot's right edge by more than the margin beyond it.
    const double labelsRight = plot.right() + m.plotRight;
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
            p.drawText(QRectF(plot.left() - m.plotLeft, y - metrics.height() / 2,
                              m.plotLeft - m.S(4), metrics.height()),
                       Qt::AlignRight | Qt::AlignVCenter, TickText(signedV, voltStep));
        }
    }
    p.setPen(ink);
    p.drawText(
        QRectF(plot.left(), plot.bottom() + 2 + metrics.height(), plot.width(), metrics.height()),
        Qt::AlignRight, seconds ? QStringLiteral("t / s") : QStringLiteral("t / ms"));
    p.drawText(QRectF(l.plot.left() - m.plotLeft, plot.top() - metrics.height() - 2, m.plotLeft,
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

// The layout for the given metrics.
PhasorLayout Layout(const Metrics &m, QSize size)
{
    const double width = size.width();
    const double height = size.height();
    PhasorLayout l;
    // The diagram takes what the figures leave of the width and up to about
    // 60 % of the height; the waveforms the rest of the height.
    // The figures' column is never narrower than its longest heading.
    const double figuresMin =
        QFontMetricsF(m.bold).horizontalAdvance(QStringLiteral("Symmetrical components (peak)"))
        + 2 * m.margin;
    const double figuresWidth =
        std::clamp(width * 0.36, figuresMin, std::max(figuresMin, m.S(240)));
    const double diagramWidth = std::max(m.S(100), width - 2 * m.margin - figuresWidth);
    l.noteLines = NotesFitOnOneLine(m, diagramWidth) ? 1 : 2;
    const double notes = l.noteLines * m.noteHeight;
    const double maxTop = std::max(m.S(100), height * 0.6 - m.margin);
    l.radius = std::max(
        m.S(10), std::min((maxTop - notes) / 2 - m.labelRoomY, diagramWidth / 2 - m.labelRoomX));
    // The top part holds the diagram and every line of the figures.
    const double topHeight = std::max(2 * (l.radius + m.labelRoomY) + notes, FiguresHeight(m));
    l.diagram = QRectF(m.margin, m.margin, diagramWidth, topHeight);
    l.figures =
        QRectF(l.diagram.right() + m.margin, m.margin, figuresWidth - m.margin, FiguresHeight(m));
    l.centre = QPointF(l.diagram.center().x(), l.diagram.top() + (topHeight - notes) / 2);
    const double waveTop = l.diagram.bottom() + m.margin;
    l.plot = QRectF(m.margin + m.plotLeft, waveTop + m.plotTop,
                    width - 2 * m.margin - m.plotLeft - m.plotRight,
                    std::max(m.S(40), height - m.margin - waveTop - m.plotTop - m.plotBottom));
    return l;
}

}  // namespace

PhasorLayout LayoutPhasorPicture(QSize size)
{
    return Layout(PictureMetrics(), size);
}

double PictureScale()
{
    return PictureMetrics().k;
}

QSize MinimumPictureSize()
{
    // The smallest width that still holds a diagram beside the figures, and
    // the height that holds every line of the figures above a plot of a
    // few divisions.
    const Metrics m = PictureMetrics();
    const double width = m.S(480);
    const double plotHeight = m.S(80);
    const PhasorLayout l = Layout(m, QSize(static_cast<int>(width), 0));
    const double height =
        l.diagram.bottom() + m.margin + m.plotTop + plotHeight + m.plotBottom + m.margin;
    return {static_cast<int>(std::ceil(width)), static_cast<int>(std::ceil(height))};
}

QColor OutputColour(int channel, bool onLine)
{
    return QColor::fromRgb(onLine ? kOutputRgb[static_cast<std::size_t>(channel)]
                                  : kOffLineLineRgb);
}

QColor OutputTextColour(int channel, bool onLine)
{
    return QColor::fromRgb(onLine ? kOutputTextRgb[static_cast<std::size_t>(channel)]
                                  : kNoteTextRgb);
}

void PaintPhasorPicture(QPainter &painter, QSize size, const PhasorViewState &state)
{
    const Metrics metrics = PictureMetrics();
    const PhasorLayout layout = Layout(metrics, size);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
    PaintDiagram(painter, metrics, layout, state);
    PaintFigures(painter, metrics, layout, state);
    PaintWaveforms(painter, metrics, layout, state);
    painter.restore();
}

#include "about_form.h"

#include <cmath>
#include <numbers>

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QShowEvent>

#include "font_scale.h"
#include "output_colours.h"

TAboutForm *AboutForm = nullptr;

namespace {

constexpr int kClientWidth = 459;
constexpr int kClientHeight = 223;

// One period-and-a-bit of a sine through the rectangle, shifted by `phase`
// degrees.
QPainterPath SinePath(const QRectF &r, double periods, double phaseDegrees)
{
    QPainterPath path;
    const int steps = std::max(2, static_cast<int>(r.width()));
    for (int i = 0; i <= steps; ++i) {
        const double x = r.left() + r.width() * i / steps;
        const double angle =
            2 * std::numbers::pi * periods * i / steps + phaseDegrees * std::numbers::pi / 180.0;
        const double y = r.center().y() - std::sin(angle) * r.height() / 2;
        if (i == 0) {
            path.moveTo(x, y);
        } else {
            path.lineTo(x, y);
        }
    }
    return path;
}

// The three outputs in their colours, 120 degrees apart.
void DrawPhases(QPainter &p, const QRectF &r, double periods, double penWidth)
{
    p.setBrush(Qt::NoBrush);
    for (int k = 0; k < 3; ++k) {
        p.setPen(QPen(QColor::fromRgb(kOutputRgb[static_cast<std::size_t>(k)]), penWidth));
        p.drawPath(SinePath(r, periods, -120.0 * k));
    }
}

}  // namespace

QPixmap TAboutForm::DrawIcon()
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 0, 96), 1.5));
    p.setBrush(QColor(224, 232, 255));
    p.drawRoundedRect(QRectF(1.5, 1.5, 29, 29), 5, 5);
    DrawPhases(p, QRectF(4, 8, 24, 16), 1.0, 1.6);
    return pm;
}

QPixmap TAboutForm::DrawTitle(int width, int height)
{
    QPixmap pm(width, height);
    pm.fill(Qt::white);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(height * 3 / 4);
    p.setFont(font);
    QLinearGradient g(0, 0, 0, height);
    g.setColorAt(0, QColor(0, 0, 160));
    g.setColorAt(1, QColor(0, 96, 200));
    QPainterPath text;
    text.addText(2, height * 0.8, font, QStringLiteral("PX-418"));
    p.fillPath(text, g);
    return pm;
}

QPixmap TAboutForm::DrawWaves(int width, int height)
{
    QPixmap pm(width, height);
    pm.fill(Qt::white);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(210, 210, 210), 1));
    p.drawLine(QPointF(0, height / 2.0), QPointF(width, height / 2.0));
    DrawPhases(p, QRectF(0, 4, width, height - 8), 2.5, 2);
    return pm;
}

TAboutForm::TAboutForm(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("AboutForm"));
    setWindowTitle(QStringLiteral("About"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setAttribute(Qt::WA_DeleteOnClose);
    // Designed for the usual desktop font; a larger one scales every length.
    const double scale = FontScale(font());
    auto S = [scale](int designed) { return Scaled(designed, scale); };
    const int width = S(kClientWidth);
    const int height = S(kClientHeight);
    setFixedSize(width, height);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setAutoFillBackground(true);
    QPalette pal = Panel1->palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, Qt::black);
    Panel1->setPalette(pal);
    Panel1->setGeometry(0, 0, width, height);

    Image1 = new QLabel(Panel1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(DrawIcon());
    Image1->setGeometry(S(12), S(12), 32, 32);

    Image2 = new QLabel(Panel1);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setPixmap(DrawTitle(S(180), S(36)));
    Image2->setGeometry(S(56), S(10), S(180), S(36));

    Image3 = new QLabel(Panel1);
    Image3->setObjectName(QStringLiteral("Image3"));
    Image3->setPixmap(DrawWaves(width - S(24), S(64)));
    Image3->setGeometry(S(12), S(56), width - S(24), S(64));

    Label1 = new QLabel(QStringLiteral("3-phase generator PX-418"), Panel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont bold = Label1->font();
    bold.setBold(true);
    bold.setPointSize(bold.pointSize() + 2);
    Label1->setFont(bold);
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setGeometry(S(12), S(126), width - S(24), S(22));

    Label2 = new QLabel(QString::fromLatin1(kWebAddress), Panel1);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setAlignment(Qt::AlignCenter);
    Label2->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Label2->setGeometry(S(12), S(150), width - S(24), S(18));

    Label3 = new QLabel(QStringLiteral("Uses the Wake serial protocol. E-mail: %1")
                            .arg(QString::fromLatin1(kMailAddress)),
                        Panel1);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setAlignment(Qt::AlignCenter);
    Label3->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Label3->setGeometry(S(12), S(170), width - S(24), S(18));

    btOk = new QPushButton(QStringLiteral("OK"), Panel1);
    btOk->setObjectName(QStringLiteral("btOk"));
    btOk->setGeometry((width - S(75)) / 2, S(192), S(75), S(25));
    btOk->setDefault(true);
    connect(btOk, &QPushButton::clicked, this, [this] { done(QDialog::Accepted); });
}

void TAboutForm::showEvent(QShowEvent *event)
{
    // Centred on the main window where it stands now, not where it stood
    // when the box was made (the first box is made at start-up).
    if (!event->spontaneous() && parentWidget()) {
        const QWidget *main = parentWidget()->window();
        // A box that was never shown has no frame yet: it will get one like
        // the main window's.
        const QWidget *framed = frameGeometry() != geometry() ? this : main;
        const QRect outer = framed->frameGeometry();
        const QRect inner = framed->geometry();
        const QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(),
                             outer.right() - inner.right(), outer.bottom() - inner.bottom());
        QRect box = geometry().marginsAdded(frame);
        box.moveCenter(main->frameGeometry().center());
        // The client area is placed: where the frame goes is the window
        // manager's, and not known before the box is first shown.
        setGeometry(box.marginsRemoved(frame));
    }
    QDialog::showEvent(event);
}

TAboutForm::~TAboutForm()
{
    if (AboutForm == this) {
        AboutForm = nullptr;
    }
}

void TAboutForm::done(int result)
{
    // Empty the global at once, so that the next click creates a new box even
    // before this one is deleted.
    if (AboutForm == this) {
        AboutForm = nullptr;
    }
    QDialog::done(result);
}

void TAboutForm::keyPressEvent(QKeyEvent *event)
{
    // Esc closes the box like OK does.
    if (event->key() == Qt::Key_Escape) {
        done(QDialog::Accepted);
        return;
    }
    QDialog::keyPressEvent(event);
}

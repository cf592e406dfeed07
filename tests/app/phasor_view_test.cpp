// The phasor view: its picture rendered offscreen, and the window beside the
// real main window on the virtual generator, driven as an operator does.
#include <cmath>
#include <numbers>

#include <QAction>
#include <QBuffer>
#include <QClipboard>
#include <QFileDialog>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSvgGenerator>
#include <QSvgRenderer>

#include "inifile.h"
#include "main_window_fixture.h"
#include "output_colours.h"
#include "param_file.h"
#include "phasor_form.h"

namespace {

ParamTable Balanced()
{
    return {0, 50000, 0, 1000, 0, 50000, -1200, 1000, 0, 50000, 1200, 1000};
}

QImage Render(const PhasorViewState &state, QSize size = QSize(680, 600))
{
    QImage image(size, QImage::Format_RGB32);
    QPainter p(&image);
    PaintPhasorPicture(p, size, state);
    return image;
}

// A point on the ray from the diagram's centre at `degrees` (textbook
// orientation: counter-clockwise, screen y downward), `fraction` of the
// scale circle's radius out, plus `pixels` further along.
QPoint OnRay(const PhasorLayout &l, double degrees, double fraction, double pixels = 0)
{
    const double a = degrees * std::numbers::pi / 180;
    const double r = l.radius * fraction + pixels;
    return QPoint(static_cast<int>(std::lround(l.centre.x() + r * std::cos(a))),
                  static_cast<int>(std::lround(l.centre.y() - r * std::sin(a))));
}

bool Near(QColor a, QColor b)
{
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green())
               + std::abs(a.blue() - b.blue())
           < 60;
}

QColor Output(int channel)
{
    return QColor::fromRgb(kOutputRgb[static_cast<std::size_t>(channel)]);
}

// The arrow of `channel` ends at `fraction` of the radius: it is drawn 6
// pixels before that point and not 6 pixels beyond it.
void ExpectTip(const QImage &image, int channel, double degrees, double fraction,
               QColor colour = QColor())
{
    const PhasorLayout l = LayoutPhasorPicture(image.size());
    const QColor c = colour.isValid() ? colour : Output(channel);
    SCOPED_TRACE(::testing::Message() << "output " << channel << " at " << degrees << " deg, "
                                      << fraction << " of the radius");
    EXPECT_TRUE(Near(image.pixelColor(OnRay(l, degrees, fraction, -6)), c));
    EXPECT_FALSE(Near(image.pixelColor(OnRay(l, degrees, fraction, 6)), c));
}

}  // namespace

// ---------------------------------------------------------------------------
// The picture

TEST(PhasorPictureTest, ArrowTipsLieWherePhasesAndAmplitudesPutThem)
{
    // 10 V peak fills the 10 V scale circle.
    PhasorViewState state{Balanced(), false, true};
    QImage image = Render(state);
    ExpectTip(image, 0, 0, 1);
    ExpectTip(image, 1, -120, 1);
    ExpectTip(image, 2, 120, 1);

    // RMS: the same circle, every arrow 1/sqrt(2) as long.
    state.rms = true;
    image = Render(state);
    for (int c = 0; c < 3; ++c) {
        const double degrees = (c == 0 ? 0 : c == 1 ? -120 : 120);
        ExpectTip(image, c, degrees, kInvSqrt2);
        EXPECT_FALSE(Near(
            image.pixelColor(OnRay(LayoutPhasorPicture(image.size()), degrees, 1, -6)), Output(c)));
    }

    // A at 5 V and 45 degrees, C at 2 V: on a 10 V circle.
    state = {Balanced(), false, true};
    state.table[ParamIndex(0, PX418_OUT_PHASE)] = 450;
    state.table[ParamIndex(0, PX418_OUT_AMPLITUDE)] = 500;
    state.table[ParamIndex(2, PX418_OUT_AMPLITUDE)] = 200;
    image = Render(state, QSize(500, 700));
    ExpectTip(image, 0, 45, 0.5);
    ExpectTip(image, 1, -120, 1);
    ExpectTip(image, 2, 120, 0.2);
}

TEST(PhasorPictureTest, AtTheSmallestSizeTheNotesStackAndTheFiguresKeepTheirWidth)
{
    const PhasorLayout smallest = LayoutPhasorPicture(MinimumPictureSize());
    EXPECT_EQ(smallest.noteLines, 2);
    EXPECT_GE(smallest.figures.width(), 200);
    EXPECT_LE(smallest.figures.right(), 480);
    // The circle's lower label ends above the two note lines.
    EXPECT_LE(smallest.centre.y() + smallest.radius + 22, smallest.diagram.bottom() - 2 * 18);
    EXPECT_EQ(LayoutPhasorPicture(QSize(680, 600)).noteLines, 1);

    ParamTable table = Balanced();
    table[ParamIndex(1, PX418_OUT_FREQUENCY)] = 60000;  // the snapshot note shows
    const QImage image = Render({table, false, true}, MinimumPictureSize());
    ExpectTip(image, 0, 0, 1);
    ExpectTip(image, 2, 120, 1);
}

TEST(PhasorPictureTest, OffLineTheOutputsAreGreyed)
{
    const QImage image = Render({Balanced(), false, false});
    for (int c = 0; c < 3; ++c) {
        const double degrees = (c == 0 ? 0 : c == 1 ? -120 : 120);
        ExpectTip(image, c, degrees, 1, OutputColour(c, false));
        EXPECT_FALSE(Near(OutputColour(c, false), Output(c)));
    }
}

// The picture's text, as an SVG document holds it.
QString PictureText(const PhasorViewState &state, QSize size = QSize(680, 600))
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(size);
    {
        QPainter p(&svg);
        PaintPhasorPicture(p, size, state);
    }
    return QString::fromUtf8(buffer.data());
}

TEST(PhasorPictureTest, TheFiguresShowADcLevelAndNameAReverseRotation)
{
    // C at 0 Hz, 30 degrees, 10 V holds 5 V: no phasor of 7.07 V RMS.
    ParamTable table = Balanced();
    table[ParamIndex(2, PX418_OUT_FREQUENCY)] = 0;
    table[ParamIndex(2, PX418_OUT_PHASE)] = 300;
    QString text = PictureText({table, true, true});
    EXPECT_TRUE(text.contains(QStringLiteral("DC 5.00 V")));
    EXPECT_TRUE(text.contains(QStringLiteral("(C is DC: left out)")));
    EXPECT_FALSE(text.contains(QStringLiteral("C 7.07 V")));
    EXPECT_FALSE(text.contains(QStringLiteral("\u2220 30.0")));

    // B and C swapped: said plainly, in place of the factor's legend.
    text =
        PictureText({{0, 50000, 0, 1000, 0, 50000, 1200, 1000, 0, 50000, -1200, 1000}, true, true});
    EXPECT_TRUE(text.contains(QStringLiteral("Reverse sequence: A-C-B")));
    EXPECT_FALSE(text.contains(QStringLiteral("(no positive sequence)")));
    text = PictureText({Balanced(), true, true});
    EXPECT_FALSE(text.contains(QStringLiteral("Reverse sequence")));
    EXPECT_TRUE(text.contains(QStringLiteral("(VUF = negative / positive)")));
    EXPECT_FALSE(text.contains(QStringLiteral("left out")));
}

TEST(PhasorPictureTest, AtItsSmallestInAnyFontThePictureKeepsTheFiguresAboveTheWaveforms)
{
    // The longest figures: a reverse rotation and two DC outputs.
    ParamTable table = {0, 50000, 0, 1000, 0, 0, 1200, 1000, 0, 0, -1200, 1000};
    const QFont desktop = QApplication::font();
    for (const double larger : {1.0, 1.25}) {
        SCOPED_TRACE(larger);
        QFont font = desktop;
        font.setPointSizeF(desktop.pointSizeF() * larger);
        QApplication::setFont(font);
        const QSize smallest = MinimumPictureSize();
        const PhasorLayout l = LayoutPhasorPicture(smallest);
        EXPECT_GE(smallest.width(), 480 * larger - 1);
        EXPECT_LT(l.figures.bottom(), l.plot.top());
        EXPECT_GE(l.plot.height(), 60);
        // Nothing is drawn between the figures' last line and the plot.
        const QImage image = Render({table, false, true}, smallest);
        int inked = 0;
        for (int y = static_cast<int>(l.figures.bottom()) + 1; y < l.plot.top() - 3; ++y) {
            for (int x = static_cast<int>(l.figures.left()); x < image.width(); ++x) {
                inked += image.pixel(x, y) != qRgb(255, 255, 255) ? 1 : 0;
            }
        }
        EXPECT_EQ(inked, 0);
    }
    QApplication::setFont(desktop);
}

// ---------------------------------------------------------------------------
// The window beside the main window

class PhasorViewTest : public MainWindowTest {
protected:
    // Shows the view with F2 and gives the main window the keyboard again.
    TPhasorForm *ShowView()
    {
        QTest::keyClick(form.get(), Qt::Key_F2);
        EXPECT_TRUE(form->PhasorForm->isVisible());
        EXPECT_TRUE(Activate(form.get()));
        return form->PhasorForm;
    }

    // Activates a window and waits until the application has it as its
    // active window (QWindow::isActive answers true for a transient child
    // of the active window already).
    static bool Activate(QWidget *window)
    {
        window->activateWindow();
        for (int i = 0; i < 200 && QApplication::activeWindow() != window; ++i) {
            QTest::qWait(10);
        }
        return QApplication::activeWindow() == window;
    }

    QImage Picture() { return form->PhasorForm->Picture(); }
};

TEST_F(PhasorViewTest, ViewMenuAndF2ShowAndHideTheViewWithoutDeviceTraffic)
{
    CreateOnLine();
    QStringList menus;
    for (const QAction *a : form->menuBar()->actions()) {
        menus << a->text();
    }
    EXPECT_EQ(menus, QStringList({"File", "Control", "View", "Help"}));
    EXPECT_EQ(form->mnView->objectName(), QStringLiteral("mnView"));
    EXPECT_EQ(form->mnPhasors->text(), QStringLiteral("Phasors"));
    EXPECT_EQ(form->mnPhasors->shortcut(), QKeySequence(Qt::Key_F2));
    EXPECT_TRUE(form->mnPhasors->isCheckable());
    EXPECT_FALSE(form->mnPhasors->isChecked());
    EXPECT_FALSE(form->PhasorForm->isVisible());

    TPhasorForm *view = ShowView();
    EXPECT_TRUE(form->mnPhasors->isChecked());
    EXPECT_EQ(view->windowTitle(), QStringLiteral("Phasors"));
    EXPECT_EQ(view->State().table, form->FParams);
    // The main window keeps its size.
    EXPECT_EQ(form->width(), 569);
    EXPECT_EQ(form->height() - form->menuBar()->height(), 195);

    // Closing the view clears the check mark; F2 in the view closes it too.
    view->close();
    EXPECT_FALSE(view->isVisible());
    EXPECT_FALSE(form->mnPhasors->isChecked());
    ShowView();
    ASSERT_TRUE(Activate(view));
    QTest::keyClick(view, Qt::Key_F2);
    EXPECT_FALSE(view->isVisible());
    EXPECT_FALSE(form->mnPhasors->isChecked());

    view->resize(500, 500);
    EXPECT_TRUE(TheVirtualGenerator().FrameLog().empty());
}

TEST_F(PhasorViewTest, TheViewFollowsATypedPhaseAndTheReviewPoll)
{
    CreateOnLine();
    ShowView();
    form->mnRms->trigger();  // peak: 10 V fills the circle
    TypeEnter(form->fePa, QStringLiteral("30"));
    // Only the field's own writes reached the device.
    EXPECT_EQ(Writes(), (std::vector<Write>{{0, 0xC2, 0}, {0, 0x82, 300}}));
    EXPECT_EQ(form->PhasorForm->State().table[ParamIndex(0, PX418_OUT_PHASE)], 300);
    ExpectTip(Picture(), 0, 30, 1);

    form->mnReview->trigger();
    TheVirtualGenerator().ClearLog();
    ASSERT_TRUE(TheVirtualGenerator().TurnKnob(1, 2, -900));
    Tick();
    ASSERT_TRUE(TheVirtualGenerator().TurnKnob(1, 3, 500));
    Tick();
    EXPECT_EQ(Commands(), (std::vector<int>{10, 10}));  // the polls, nothing else
    EXPECT_EQ(form->PhasorForm->State().table, form->FParams);
    ExpectTip(Picture(), 1, -90, 0.5);

    // RMS back on: the same arrows, 1/sqrt(2) as long.
    QTest::keyClick(form.get(), Qt::Key_A, Qt::AltModifier);
    EXPECT_TRUE(form->PhasorForm->State().rms);
    ExpectTip(Picture(), 0, 30, kInvSqrt2);
    ExpectTip(Picture(), 1, -90, 0.5 * kInvSqrt2);
    EXPECT_EQ(Commands(), (std::vector<int>{10, 10}));
}

TEST_F(PhasorViewTest, ALoadedFileAndTheOnLineStateReachTheView)
{
    WriteFile(FilePath(QStringLiteral("set.par")),
              "[OUT A]\r\nF=60000\r\nP=100\r\nA=800\r\n[OUT B]\r\nF=60000\r\nP=-1100\r\nA=800\r\n"
              "[OUT C]\r\nF=60000\r\nP=1300\r\nA=800\r\n");
    CreateOnLine();
    ShowView();
    EXPECT_TRUE(form->PhasorForm->State().onLine);
    form->ExecFileDialog = [this](QFileDialog &dialog) {
        dialog.selectFile(FilePath(QStringLiteral("set.par")));
        return true;
    };
    form->mnOpen->trigger();
    EXPECT_EQ(form->PhasorForm->State().table[ParamIndex(2, PX418_OUT_PHASE)], 1300);

    TheVirtualGenerator().SetPlugged(false);
    Tick();
    ASSERT_EQ(form->StatusText(), QStringLiteral("OFF-Line"));
    EXPECT_FALSE(form->PhasorForm->State().onLine);
    TheVirtualGenerator().SetPlugged(true);
    Tick();
    EXPECT_TRUE(form->PhasorForm->State().onLine);
}

TEST_F(PhasorViewTest, ShownStatePlaceAndSizeAreKeptInTheViewSection)
{
    TheVirtualGenerator().SetPlugged(false);
    WriteFile(IniPath(), "[General]\r\nLeft=5\r\nTop=6\r\n[OUT A]\r\nF=7\r\n");
    Create();
    EXPECT_FALSE(form->PhasorForm->isVisible());
    ShowView();
    form->PhasorForm->move(30, 40);
    form->PhasorForm->resize(520, 560);
    form->close();
    const QByteArray saved = ReadFile(IniPath());
    // The other sections keep their places and keys; the new ones follow.
    EXPECT_TRUE(saved.startsWith("[General]\r\nLeft=5\r\nTop=6\r\n\r\n[OUT A]\r\nF=7\r\nM=0\r\n"))
        << saved.toStdString();
    EXPECT_TRUE(saved.contains("[View]\r\nPhasors=1\r\nPhasorsLeft=30\r\nPhasorsTop=40\r\n"
                               "PhasorsWidth=520\r\nPhasorsHeight=560\r\n"))
        << saved.toStdString();

    // The next start shows the view where it was, with the check mark.
    Create();
    EXPECT_TRUE(form->mnPhasors->isChecked());
    EXPECT_TRUE(form->PhasorForm->isVisible());
    EXPECT_EQ(form->PhasorForm->pos(), QPoint(30, 40));
    EXPECT_EQ(form->PhasorForm->size(), QSize(520, 560));

    // A place on a screen that is gone, and a size no screen holds, on the
    // screen or off it: the view opens wholly on the screen, and that place
    // is what is kept.
    const QRect screen = form->screen()->availableGeometry();
    for (const char *place :
         {"PhasorsLeft=9000\r\nPhasorsTop=9000",
          "PhasorsLeft=100\r\nPhasorsTop=10\r\n"
          "PhasorsWidth=100000\r\nPhasorsHeight=70000",
          "PhasorsLeft=99999\r\nPhasorsTop=99999\r\nPhasorsWidth=100000\r\nPhasorsHeight=70000",
          "PhasorsLeft=500\r\nPhasorsTop=10\r\nPhasorsWidth=700\r\nPhasorsHeight=600"}) {
        SCOPED_TRACE(place);
        form.reset();
        WriteFile(IniPath(), QByteArray("[View]\r\nPhasors=0\r\n") + place + "\r\n");
        Create();
        EXPECT_FALSE(form->PhasorForm->isVisible());
        ShowView();
        const QRect shown = form->PhasorForm->frameGeometry();
        EXPECT_TRUE(screen.contains(shown))
            << shown.x() << "," << shown.y() << " " << shown.width() << "x" << shown.height();
        form->close();
        const ViewSettings kept = ReadViewSettings(SectionedText::Load(IniPath()), {});
        EXPECT_TRUE(screen.contains(QRect(kept.left, kept.top, kept.width, kept.height)));
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(PhasorViewTest, AViewOverTheMainWindowTakesTheKeyboardAndEscapeGivesItBack)
{
    // The offscreen screen is 800 x 800. Beside a main window in its top
    // left corner the view fits below it and opens without taking the
    // keyboard. (The offscreen platform activates every window it shows,
    // whatever it is asked; a window manager keeps the keyboard where it
    // was, which the installed program's screenshots show.)
    CreateOnLine();
    form->move(0, 0);
    ClickInto(form->fePa);
    TheVirtualGenerator().ClearLog();
    QTest::keyClick(form.get(), Qt::Key_F2);
    TPhasorForm *view = form->PhasorForm;
    ASSERT_TRUE(view->isVisible());
    EXPECT_FALSE(view->frameGeometry().intersects(form->frameGeometry()));
    EXPECT_TRUE(view->testAttribute(Qt::WA_ShowWithoutActivating));
    QTest::keyClick(form.get(), Qt::Key_F2);
    ASSERT_FALSE(view->isVisible());
    ASSERT_TRUE(Activate(form.get()));

    // Where it can only cover part of the main window, it takes the
    // keyboard: Tab goes between its buttons, never to the hidden controls.
    form->move(300, 300);
    QTest::keyClick(form.get(), Qt::Key_F2);
    ASSERT_TRUE(view->isVisible());
    EXPECT_TRUE(view->frameGeometry().intersects(form->frameGeometry()));
    EXPECT_FALSE(view->testAttribute(Qt::WA_ShowWithoutActivating));
    for (int i = 0; i < 200 && QApplication::activeWindow() != view; ++i) {
        QTest::qWait(10);
    }
    ASSERT_EQ(QApplication::activeWindow(), view);
    EXPECT_EQ(QApplication::focusWidget(), view->btCopy);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), view->btSaveImage);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), view->btCopy);

    // Escape closes it; the field that had the keyboard has it again, and
    // getting it back is no entry: nothing is sent.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_FALSE(view->isVisible());
    EXPECT_FALSE(form->mnPhasors->isChecked());
    for (int i = 0; i < 200 && QApplication::activeWindow() != form.get(); ++i) {
        QTest::qWait(10);
    }
    ASSERT_EQ(QApplication::activeWindow(), form.get());
    EXPECT_EQ(QApplication::focusWidget(), form->fePa);
    EXPECT_TRUE(Writes().empty());
}

TEST_F(PhasorViewTest, TheContextMenuOpensFromTheKeyboardAndNoShortcutMeansAnotherThing)
{
    Create();
    TPhasorForm *view = ShowView();
    ASSERT_TRUE(Activate(view));
    EXPECT_EQ(view->ContextMenu->actions(), (QList<QAction *>{view->acCopy, view->acSaveImage}));
    for (const QKeySequence &keys :
         {QKeySequence(Qt::Key_Menu), QKeySequence(Qt::SHIFT | Qt::Key_F10)}) {
        SCOPED_TRACE(keys.toString().toStdString());
        QTest::keySequence(view->windowHandle(), keys);
        ASSERT_TRUE(view->ContextMenu->isVisible());
        view->ContextMenu->close();
    }

    // The view's keys (F2 aside, which closes it from either window) are
    // none of the main window's: Ctrl+S stays "Save as...".
    auto keysOf = [view](const QWidget *window) {
        QList<QKeySequence> keys;
        for (const QAction *action : window->findChildren<QAction *>()) {
            if (window == view || !view->isAncestorOf(qobject_cast<QWidget *>(action->parent()))) {
                keys << action->shortcuts();
            }
        }
        for (const QShortcut *shortcut : window->findChildren<QShortcut *>()) {
            if (qobject_cast<QWidget *>(shortcut->parent())->window() == window) {
                keys << shortcut->key();
            }
        }
        return keys;
    };
    const QList<QKeySequence> mainKeys = keysOf(form.get());
    for (const QKeySequence &keys : keysOf(view)) {
        EXPECT_FALSE(mainKeys.contains(keys) && keys != QKeySequence(Qt::Key_F2))
            << keys.toString().toStdString();
    }
    EXPECT_EQ(view->acSaveImage->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_E));
    EXPECT_EQ(view->btSaveImage->focusPolicy(), Qt::StrongFocus);
}

TEST_F(PhasorViewTest, CopyAndSaveImageGiveThePicture)
{
    TheVirtualGenerator().SetPlugged(false);
    Create();
    TPhasorForm *view = ShowView();

    QGuiApplication::clipboard()->clear();
    ASSERT_TRUE(Activate(view));
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    const QImage copied = QGuiApplication::clipboard()->image();
    EXPECT_EQ(copied.size(), view->Canvas->size());
    EXPECT_EQ(copied.convertToFormat(QImage::Format_RGB32), view->Picture());
    // On a screen at scale factor 2 the picture has twice the pixels, the
    // same picture drawn finer: the scale circle's top where it was, at
    // twice the coordinates.
    const QImage fine = view->Picture(QSize(600, 520), 2);
    const QImage plain = view->Picture(QSize(600, 520));
    ASSERT_EQ(fine.size(), QSize(1200, 1040));
    const PhasorLayout l = LayoutPhasorPicture(plain.size());
    for (const double out : {-3.0, 0.0, 3.0}) {
        const QPoint at = OnRay(l, 90, 1, out);
        EXPECT_TRUE(Near(fine.pixelColor(at * 2), plain.pixelColor(at)))
            << out << ": " << fine.pixelColor(at * 2).name().toStdString() << " "
            << plain.pixelColor(at).name().toStdString();
    }
    EXPECT_NE(plain.pixelColor(OnRay(l, 90, 1)), plain.pixelColor(OnRay(l, 90, 1, 3)));

    // The name gets the type's suffix; SVG by its name.
    auto choose = [view](const QString &path) {
        view->ExecFileDialog = [path](QFileDialog &dialog) {
            dialog.selectFile(path);
            return true;
        };
    };
    choose(FilePath(QStringLiteral("phasors")));
    view->btSaveImage->click();
    QImage png(FilePath(QStringLiteral("phasors.png")));
    EXPECT_EQ(png.size(), view->Canvas->size());

    // An SVG file opens at the size the view showed.
    choose(FilePath(QStringLiteral("phasors.svg")));
    view->acSaveImage->trigger();
    const QByteArray svg = ReadFile(FilePath(QStringLiteral("phasors.svg")));
    EXPECT_TRUE(svg.startsWith("<?xml")) << svg.left(80).toStdString();
    EXPECT_TRUE(svg.contains("OFF-Line"));
    EXPECT_EQ(QSvgRenderer(svg).defaultSize(), view->Canvas->size());
    EXPECT_TRUE(svg.contains(QStringLiteral("<svg width=\"%1\" height=\"%2\"")
                                 .arg(view->Canvas->width())
                                 .arg(view->Canvas->height())
                                 .toLatin1()));

    // A folder that does not exist: the error box, nothing else.
    const QString bad = FilePath(QStringLiteral("missing/phasors.png"));
    choose(bad);
    view->acSaveImage->trigger();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, QStringLiteral("Error"));
    // With the system's reason after the name.
    EXPECT_TRUE(boxes[0].text.startsWith(QStringLiteral("Cannot create file ") + bad + ": "))
        << boxes[0].text.toStdString();
    EXPECT_EQ(boxes[0].owner, view);  // over the view, not the main window
}

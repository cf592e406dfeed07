// TMainForm's phasor view: the "View" menu with "Phasors" (F2), the window
// it shows and where it opens, what the window is told after every refresh
// of the controls and every change of the on-line state, and its keys in the
// settings file. The view only ever reads what the main window holds.
#include <limits>

#include <QAction>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>

#include "errors.h"
#include "inifile.h"
#include "main_form.h"
#include "param_file.h"
#include "phasor_form.h"
#include "screen_areas.h"
#include "window_placement.h"

void TMainForm::BuildView()
{
    mnView = menuBar()->addMenu(QStringLiteral("View"));
    mnView->setObjectName(QStringLiteral("mnView"));
    mnPhasors = mnView->addAction(QStringLiteral("Phasors"));
    mnPhasors->setObjectName(QStringLiteral("mnPhasors"));
    mnPhasors->setShortcut(QKeySequence(Qt::Key_F2));
    mnPhasors->setCheckable(true);
    connect(mnPhasors, &QAction::triggered, this,
            [this] { Guarded([this] { mnPhasorsClick(); }); });

    PhasorForm = new TPhasorForm(this);
    // F2 closes the view from its own window as well.
    PhasorForm->addAction(mnPhasors);
    PhasorForm->OnClosed = [this] {
        mnPhasors->setChecked(false);
        if (PhasorForm->isActiveWindow()) {
            activateWindow();
        }
    };
}

void TMainForm::ShowInView()
{
    if (PhasorForm) {
        PhasorForm->ShowState({FParams, mnRms->isChecked(), FOnLine});
    }
}

void TMainForm::mnPhasorsClick()
{
    if (mnPhasors->isChecked()) {
        ShowView();
    } else {
        HideView();
    }
}

QRect TMainForm::MainFrame() const
{
    // Before the window manager has framed the window, with the allowance.
    const QRect frame = frameGeometry();
    return frame != geometry() ? frame : FrameOf(QRect(pos(), size()));
}

QRect TMainForm::ViewBeside() const
{
    const QSize minimum = PhasorForm->minimumSize();
    return PlaceBeside(MainFrame(), PhasorForm->size(), minimum, screen()->availableGeometry());
}

void TMainForm::ShowView()
{
    if (!FViewPlaced) {
        const QRect place = ViewBeside();
        PhasorForm->resize(place.size());
        PhasorForm->move(place.topLeft());
        FViewPlaced = true;
    }
    ShowInView();
    // Beside the main window the keyboard stays there, to type values and
    // watch them; a view that covers part of it takes the keyboard, so that
    // no key acts on a control the operator cannot see.
    const bool covers =
        FrameOf(QRect(PhasorForm->pos(), PhasorForm->size())).intersects(MainFrame());
    PhasorForm->setAttribute(Qt::WA_ShowWithoutActivating, !covers);
    PhasorForm->show();
    PhasorForm->raise();
    if (covers) {
        // Its focused button shows the focus frame, as after Tab: the
        // operator sees where the keyboard went.
        PhasorForm->setAttribute(Qt::WA_KeyboardFocusChange);
        PhasorForm->activateWindow();
    }
}

void TMainForm::HideView()
{
    const bool active = PhasorForm->isActiveWindow();
    PhasorForm->hide();
    // The keyboard goes back to the main window's control that had it.
    if (active) {
        activateWindow();
    }
}

void TMainForm::ReadViewKeys(const SectionedText &ini)
{
    // Without a place the view opens beside the main window when it first
    // shows, wherever the main window then stands.
    constexpr int kNoPlace = std::numeric_limits<int>::min();
    const QSize size = PhasorForm->DefaultSize();
    const ViewSettings defaults{false, kNoPlace, kNoPlace, size.width(), size.height()};
    const ViewSettings view = ::ReadViewSettings(ini, defaults);
    mnPhasors->setChecked(view.phasors);
    PhasorForm->resize(QSize(view.width, view.height).expandedTo(PhasorForm->minimumSize()));
    FViewPlaced = false;
    if (view.left == kNoPlace || view.top == kNoPlace) {
        return;
    }
    // A place the operator cannot reach any more (a screen that is gone) is
    // given up for one beside the main window. Otherwise the size is cut to
    // the screen and the whole frame moved onto it, so that the title bar's
    // buttons and the view's own stay within reach.
    const QRect stored(view.left, view.top, view.width, view.height);
    const int titleBar = StyleTitleBarHeight(PhasorForm);
    const QList<QRect> screens = AvailableScreenAreas();
    const QRect withTitleBar(stored.topLeft(), QSize(stored.width(), stored.height() + titleBar));
    if (!TitleBarOnScreens(withTitleBar, titleBar, screens)) {
        return;
    }
    const QRect its =
        ScreenOfTitleBar(withTitleBar, titleBar, screens, screen()->availableGeometry());
    const QRect kept = KeptOnScreen(stored, PhasorForm->minimumSize(), its);
    PhasorForm->resize(kept.size());
    PhasorForm->move(kept.topLeft());
    FViewPlaced = true;
}

void TMainForm::WriteViewKeys(SectionedText &ini) const
{
    // A view never shown is kept where it would open now.
    const QRect place = FViewPlaced ? QRect(PhasorForm->pos(), PhasorForm->size()) : ViewBeside();
    const ViewSettings view{mnPhasors->isChecked(), place.left(), place.top(), place.width(),
                            place.height()};
    ::WriteViewSettings(ini, view);
}

void TMainForm::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (FViewRestored) {
        return;
    }
    // The first time the window shows: with it the view, if it was shown at
    // the last close.
    FViewRestored = true;
    if (mnPhasors->isChecked()) {
        ShowView();
    }
}

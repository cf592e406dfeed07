// TMainForm's phasor view: the "View" menu with "Phasors" (F2), the window
// it shows, what the window is told after every refresh of the controls and
// every change of the on-line state, and its keys in the settings file. The
// view only ever reads what the main window holds.
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
    PhasorForm->OnClosed = [this] { mnPhasors->setChecked(false); };
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
        ShowInView();
        PhasorForm->show();
        PhasorForm->raise();
    } else {
        PhasorForm->hide();
    }
}

void TMainForm::ReadViewKeys(const SectionedText &ini)
{
    // Without keys the view opens right of the main window, on its screen.
    const QRect screen = this->screen()->availableGeometry();
    const QRect main(pos(), size());
    const QRect beside =
        PlaceBeside(main, QSize(TPhasorForm::kDefaultWidth, TPhasorForm::kDefaultHeight), screen);
    const ViewSettings defaults{false, beside.left(), beside.top(), beside.width(),
                                beside.height()};
    const ViewSettings view = ::ReadViewSettings(ini, defaults);
    QRect frame(view.left, view.top, view.width, view.height);
    // A place the operator cannot reach any more (a screen that is gone) is
    // given up for the one beside the main window, and a size larger than
    // the screen is cut to it, so that the title bar's buttons stay in reach.
    const int titleBar = StyleTitleBarHeight(PhasorForm);
    const QList<QRect> screens = AvailableScreenAreas();
    const QRect withTitleBar(frame.topLeft(), QSize(frame.width(), frame.height() + titleBar));
    const QSize minimum = PhasorForm->minimumSizeHint().expandedTo(PhasorForm->minimumSize());
    if (!TitleBarOnScreens(withTitleBar, titleBar, screens)) {
        frame = PlaceBeside(main, SizeWithinScreen(frame.size(), minimum, screen), screen);
    } else {
        const QRect its = ScreenOfTitleBar(withTitleBar, titleBar, screens, screen);
        frame.setSize(SizeWithinScreen(frame.size(), minimum, its));
    }
    PhasorForm->resize(frame.size());
    PhasorForm->move(frame.topLeft());
    mnPhasors->setChecked(view.phasors);
    FViewPlaced = true;
}

void TMainForm::WriteViewKeys(SectionedText &ini) const
{
    const ViewSettings view{mnPhasors->isChecked(), PhasorForm->pos().x(), PhasorForm->pos().y(),
                            PhasorForm->width(), PhasorForm->height()};
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
    if (!FViewPlaced) {
        ReadViewKeys(SectionedText());
    }
    if (mnPhasors->isChecked()) {
        ShowInView();
        PhasorForm->show();
    }
}

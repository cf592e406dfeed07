// The program entry: the application titled "PX-418", the main window, the
// About box (hidden), and the event loop.
#include <QApplication>

#include "about_form.h"
#include "errors.h"
#include "main_form.h"
#include "termination.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("px418"));
    SetApplicationTitle(QStringLiteral("PX-418"));

    int result = 0;
    try {
        MainForm = new TMainForm();
        AboutForm = new TAboutForm(MainForm);
        CloseOnTerminationRequest(MainForm);
        MainForm->show();
        result = QApplication::exec();
    } catch (...) {
        ReportCurrentException();
        result = 1;
    }
    delete MainForm;
    return result;
}

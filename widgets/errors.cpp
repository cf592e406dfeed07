#include "errors.h"

#include <QApplication>
#include <QMessageBox>

namespace {

ErrorPresenter &Presenter()
{
    static ErrorPresenter presenter;
    return presenter;
}

QString &Title()
{
    static QString title = QStringLiteral("PX-418");
    return title;
}

void DefaultPresenter(const ErrorBox &box)
{
    if (!qApp) {
        return;
    }
    QMessageBox msg(QMessageBox::Critical, box.caption, box.text, QMessageBox::Ok,
                    box.owner ? box.owner->window() : QApplication::activeWindow());
    msg.exec();
}

}  // namespace

ErrorPresenter SetErrorPresenter(ErrorPresenter presenter)
{
    ErrorPresenter old = std::move(Presenter());
    Presenter() = std::move(presenter);
    return old;
}

void SetApplicationTitle(const QString &title)
{
    Title() = title;
}

QString ApplicationTitle()
{
    return Title();
}

QString WithFullStop(const QString &text)
{
    if (!text.isEmpty() && text.back() > QLatin1Char('.')) {
        return text + QLatin1Char('.');
    }
    return text;
}

void ShowErrorBox(const QString &caption, const QString &text, QWidget *owner)
{
    const ErrorBox box{caption, text, owner};
    if (Presenter()) {
        Presenter()(box);
    } else {
        DefaultPresenter(box);
    }
}

void ReportCurrentException() noexcept
{
    try {
        QString text;
        try {
            throw;
        } catch (const Exception &e) {
            text = e.Message();
        } catch (const std::exception &e) {
            text = QString::fromUtf8(e.what());
        } catch (...) {
            // Not of the exception family: an empty text.
        }
        ShowErrorBox(ApplicationTitle(), WithFullStop(text));
    } catch (...) {
        // Showing the box failed (no memory, a throwing presenter); nothing
        // more can be done without letting the exception reach Qt.
    }
}

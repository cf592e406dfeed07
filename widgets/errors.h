// The program's one error reporter.
//
// No C++ exception may cross a Qt frame. Every entry from Qt into the
// program's code (a slot, an event override, a timer) is a boundary that
// catches what its handler threw and hands it to ReportCurrentException(),
// which shows the error box: the application title as caption, the error
// icon, one OK button, and the text with a full stop added when its last
// character sorts after ".".
#pragma once

#include <exception>
#include <functional>

#include <QString>

#include "exception.h"

class QWidget;

// One message box with the error icon and one OK button, over `owner`'s
// window, or over the active window when there is no owner.
struct ErrorBox {
    QString caption;
    QString text;
    QWidget *owner = nullptr;
};

// Shows the boxes. The default presenter runs a modal QMessageBox; tests
// install one that records instead. Returns the presenter it replaces; an
// empty function restores the default.
using ErrorPresenter = std::function<void(const ErrorBox &)>;
ErrorPresenter SetErrorPresenter(ErrorPresenter presenter);

// The application title, caption of every exception's error box ("PX-418").
void SetApplicationTitle(const QString &title);
QString ApplicationTitle();

// The text with a full stop appended when its last character sorts after ".".
QString WithFullStop(const QString &text);

// Shows one box with the given caption and text, as they stand.
void ShowErrorBox(const QString &caption, const QString &text, QWidget *owner = nullptr);

// Shows an exception in the error box under the application title:
// Exception and every other std::exception with their message, anything
// else with an empty text. Call only inside a catch block.
void ReportCurrentException() noexcept;

// Runs f as an exception boundary.
template <class F>
void Guarded(F &&f) noexcept
{
    try {
        f();
    } catch (...) {
        ReportCurrentException();
    }
}

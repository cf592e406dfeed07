#include "termination.h"

#include <QApplication>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QWidget>

namespace {

// How often a pending close looks again whether the dialogs have returned.
constexpr int kRetryMs = 10;

int LoopLevel()
{
    return QThread::currentThread()->loopLevel();
}

// Closes the window the orderly way. A modal dialog is closed first, as its
// own Close would (the settings dialog then restores unsaved calibration),
// and the window only once the dialog's event loop has returned, so that the
// code that opened the dialog has finished: closing the window from inside
// that loop would run its close while the dialog's caller is still at work.
void CloseOrderly(const QPointer<QWidget> &window, int levelLeft)
{
    if (!window) {
        return;
    }
    if (LoopLevel() < levelLeft) {
        levelLeft = 0;
    }
    if (levelLeft == 0) {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            // The program's modal dialogs run their own event loop (exec):
            // the window waits until that loop has returned.
            levelLeft = LoopLevel();
            modal->close();
        } else {
            window->close();
            return;
        }
    }
    QTimer::singleShot(kRetryMs, window, [window, levelLeft] { CloseOrderly(window, levelLeft); });
}

}  // namespace

#if defined(__unix__)
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace {

int gSignalPipe[2] = {-1, -1};

extern "C" void OnTerminationSignal(int)
{
    // Only async-signal-safe work here: wake the event loop.
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[1], &byte, 1);
}

}  // namespace

void CloseOnTerminationRequest(QWidget *window)
{
    if (gSignalPipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM, 0, gSignalPipe) != 0) {
        return;
    }
    auto *notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, window);
    QPointer<QWidget> target(window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [target] {
        char byte = 0;
        [[maybe_unused]] const ssize_t n = ::read(gSignalPipe[0], &byte, 1);
        CloseOrderly(target, 0);
    });
    struct sigaction action = {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(sig, &action, nullptr);
    }
}

#else

void CloseOnTerminationRequest(QWidget *) {}

#endif

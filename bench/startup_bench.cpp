// The program's start-up next to an empty Qt window: the time from starting
// the process to its window being shown, and the resident memory and threads
// at that moment. Each sample is a fresh process (this program started
// again with --child), since a process holds one QApplication and its memory
// only grows.
//
//   px418_startup_bench [runs]        runs pairs of samples (default 15) and
//                                     prints medians and the ratios
//   px418_startup_bench --child main|empty
//
// The main window starts as the program does (settings read from a file of
// its own, the About box made hidden), on the virtual generator. Without a
// display the windows are shown on the offscreen platform.
#include <algorithm>
#include <cstdio>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QWindow>

#include "about_form.h"
#include "errors.h"
#include "main_form.h"

namespace {

// "VmRSS" (kB) or "Threads" from /proc/self/status; 0 where there is none.
long ProcStatus(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(prefix)) {
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLong();
        }
    }
    return 0;
}

int Child(int argc, char *argv[], const QByteArray &kind)
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QWidget *window = nullptr;
    if (kind == "main") {
        SetApplicationTitle(QStringLiteral("PX-418"));
        MainForm = new TMainForm(nullptr, dir.filePath(QStringLiteral("px418.ini")));
        AboutForm = new TAboutForm(MainForm);
        window = MainForm;
    } else {
        window = new QWidget;
        window->resize(569, 214);
    }
    window->show();
    QElapsedTimer guard;
    guard.start();
    while (!window->windowHandle() || !window->windowHandle()->isExposed()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (guard.elapsed() > 10000) {
            return 1;
        }
    }
    std::printf("shown %ld %ld\n", ProcStatus("VmRSS"), ProcStatus("Threads"));
    std::fflush(stdout);
    delete window;
    return 0;
}

struct Sample {
    double ms = 0;
    long rssKb = 0;
    long threads = 0;
};

bool Run(const QString &self, const QString &kind, Sample &sample)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PX418USB_DRIVER"), QStringLiteral("virtual"));
    if (!env.contains(QStringLiteral("DISPLAY"))
        && !env.contains(QStringLiteral("QT_QPA_PLATFORM"))) {
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    }
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer timer;
    timer.start();
    child.start(self, {QStringLiteral("--child"), kind});
    while (!child.canReadLine()) {
        if (!child.waitForReadyRead(20000)) {
            return false;
        }
    }
    sample.ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    const QList<QByteArray> fields = child.readLine().trimmed().split(' ');
    sample.rssKb = fields.value(1).toLong();
    sample.threads = fields.value(2).toLong();
    child.waitForFinished(20000);
    return fields.value(0) == "shown";
}

template <class T>
T Median(std::vector<T> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char *argv[])
{
    if (argc == 3 && QByteArray(argv[1]) == "--child") {
        return Child(argc, argv, argv[2]);
    }
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 15;
    const QString self = QCoreApplication::applicationFilePath();

    std::vector<double> ms[2];
    std::vector<long> rss[2];
    std::vector<long> threads[2];
    const QString kinds[2] = {QStringLiteral("main"), QStringLiteral("empty")};
    for (int i = 0; i < runs; ++i) {
        // Alternate, so that a change in the machine's load hits both alike.
        for (int k = 0; k < 2; ++k) {
            Sample s;
            if (!Run(self, kinds[k], s)) {
                std::fprintf(stderr, "the %s window was not shown\n", qPrintable(kinds[k]));
                return 1;
            }
            ms[k].push_back(s.ms);
            rss[k].push_back(s.rssKb);
            threads[k].push_back(s.threads);
        }
    }
    std::printf("%-14s %14s %14s %8s\n", "window", "start->shown", "resident", "threads");
    for (int k = 0; k < 2; ++k) {
        std::printf("%-14s %11.1f ms %11ld kB %8ld\n", qPrintable(kinds[k]), Median(ms[k]),
                    Median(rss[k]), Median(threads[k]));
    }
    std::printf("main / empty:  time %.2f, resident memory %.2f (medians of %d runs)\n",
                Median(ms[0]) / Median(ms[1]),
                static_cast<double>(Median(rss[0])) / static_cast<double>(Median(rss[1])), runs);
    return 0;
}

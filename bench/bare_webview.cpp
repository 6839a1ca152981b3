// The yardstick for Legisdisco's start-up: the least a Qt program needs to show
// the same home page, an application object and one QWebEngineView. When the
// page has loaded it prints the milliseconds since the process started and its
// resident memory, in the line format of the viewer's start-up probe, and quits.
//
//   bench-bare-webview PROGRAM_FOLDER
#include <QApplication>
#include <QFile>
#include <QScreen>
#include <QUrl>
#include <QWebEngineView>

#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace {

// Milliseconds since the kernel started this process (its fork), read from
// /proc/self/stat, whose start time counts clock ticks of the boot-time clock.
long long millisecondsSinceProcessStart()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QByteArray text = stat.readAll();
    // Fields after the command name, which may hold spaces, start at field 3;
    // the start time is field 22.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    const long long startTicks = fields.value(22 - 3).toLongLong();
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000 - startTicks * 1000 / sysconf(_SC_CLK_TCK);
}

// The resident memory of this process in KiB (VmRSS), or -1.
long long residentKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QByteArray text = status.readAll();
    const qsizetype at = text.indexOf("VmRSS:");
    if (at < 0) {
        return -1;
    }
    const qsizetype end = text.indexOf('\n', at);
    return text.mid(at + 6, end - at - 6).trimmed().split(' ').value(0).toLongLong();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench-bare-webview PROGRAM_FOLDER\n");
        return 2;
    }
    const QString page = QFile::decodeName(argv[1]) + QStringLiteral("/pagina/maincd.htm");

    QWebEngineView view;
    QObject::connect(&view, &QWebEngineView::loadFinished, &app, [] {
        std::printf("startup_ms=%lld rss_kb=%lld\n", millisecondsSinceProcessStart(),
                    residentKilobytes());
        std::fflush(stdout);
        QCoreApplication::quit();
    });
    view.load(QUrl::fromLocalFile(page));
    // The viewer opens at three quarters of the screen; so does this window.
    if (const QScreen *screen = view.screen()) {
        view.resize(screen->availableGeometry().size() * 3 / 4);
    }
    view.show();
    return QApplication::exec();
}

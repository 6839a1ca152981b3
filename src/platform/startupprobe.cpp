#include "startupprobe.h"

#include <QByteArray>
#include <QFile>

#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace {
QByteArray readProcFile(const char *path)
{
    QFile file{QLatin1String(path)};
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

StartupFigures currentStartupFigures()
{
    StartupFigures figures;
    // Field 22 of /proc/self/stat, the start time in clock ticks since boot; the
    // fields are counted after the command name, which may hold spaces.
    const QByteArray stat = readProcFile("/proc/self/stat");
    const long long startTicks =
        stat.mid(stat.lastIndexOf(')') + 2).split(' ').value(19).toLongLong();
    timespec now{};
    if (startTicks > 0 && clock_gettime(CLOCK_BOOTTIME, &now) == 0) {
        figures.elapsedMs =
            now.tv_sec * 1000LL + now.tv_nsec / 1000000 - startTicks * 1000 / sysconf(_SC_CLK_TCK);
    }
    const QByteArray status = readProcFile("/proc/self/status");
    const qsizetype rss = status.indexOf("VmRSS:");
    if (rss >= 0) {
        const qsizetype begin = rss + 6;
        figures.residentKiB = status.mid(begin, status.indexOf('\n', begin) - begin)
                                  .trimmed()
                                  .split(' ')
                                  .value(0)
                                  .toLongLong();
    }
    return figures;
}

void printStartupFigures(const StartupFigures &figures)
{
    std::printf("startup_ms=%lld rss_kb=%lld\n", figures.elapsedMs, figures.residentKiB);
    std::fflush(stdout);
}

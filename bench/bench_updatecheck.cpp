// The update check at collection sizes far beyond the demo: the server's list
// against the circulars folder, both with n identifiers, half of them shared.
#include "updatecheck.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {
QStringList serverList(int n)
{
    QStringList ids;
    ids.reserve(n);
    for (int i = 0; i < n; ++i) {
        ids.append(QString::number(100000 + i + n / 2));
    }
    return ids;
}

void makeFolder(const QString &folder, int n)
{
    QDir().mkpath(folder);
    for (int i = 0; i < n; ++i) {
        QFile(QDir(folder).filePath(QString::number(100000 + i) + QStringLiteral(".pdf")))
            .open(QIODevice::WriteOnly);
    }
}

// Split, list the folder, compare: what one press of the check button costs.
void wholeCheck(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("circulares"));
    makeFolder(folder, n);
    const QString label = serverList(n).join(QLatin1Char(','));
    for (auto _ : state) {
        const QStringList missing =
            missingCirculars(splitServerList(label), localCircularNames(folder));
        benchmark::DoNotOptimize(missing.size());
    }
    state.SetItemsProcessed(state.iterations() * n);
}

// The comparison alone, with the folder already listed.
void comparison(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    const QStringList server = serverList(n);
    QStringList local;
    for (int i = 0; i < n; ++i) {
        local.append(QString::number(100000 + i));
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(missingCirculars(server, local).size());
    }
}
} // namespace

BENCHMARK(wholeCheck)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);
BENCHMARK(comparison)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();

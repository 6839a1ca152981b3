// The settings-file routines on a file far larger than any real legisdis.ini:
// 2,000 lines in 100 sections, read and written through the file on disk as
// the windows do (every call opens the file afresh).
#include "iniprofilefile.h"
#include "utility.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

constexpr int sectionCount = 100;
constexpr int linesPerSection = 20; // the header and 19 keys

QString sectionName(int s)
{
    return QStringLiteral("section%1").arg(s);
}

QString keyName(int k)
{
    return QStringLiteral("key%1").arg(k);
}

QByteArray largeSettingsFile()
{
    QByteArray text;
    for (int s = 0; s < sectionCount; ++s) {
        text += '[' + sectionName(s).toUtf8() + "]\r\n";
        for (int k = 1; k < linesPerSection; ++k) {
            text += keyName(k).toUtf8() + "=value " + QByteArray::number(s * 100 + k) + "\r\n";
        }
    }
    return text;
}

// A temporary copy of the large file, made afresh for each benchmark.
class LargeFile {
public:
    LargeFile()
    {
        path = dir.filePath(QStringLiteral("legisdis.ini"));
        restore();
    }
    void restore() const
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(contents) != contents.size()) {
            qFatal("cannot write the settings file");
        }
    }
    QTemporaryDir dir;
    QString path;
    QByteArray contents = largeSettingsFile();
};

// Where the key lies in the file: its first section, the middle one, the last
// one, or nowhere (the whole file is searched and the default comes back).
void readValue(benchmark::State &state)
{
    const int section = static_cast<int>(state.range(0));
    const LargeFile file;
    IniProfileFile profile;
    const QString sectionText = section < 0 ? QStringLiteral("missing") : sectionName(section);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            ReadIniValue(profile, file.path, sectionText, keyName(19), QStringLiteral("?")));
    }
}

// Replacing the value of an existing key in place.
void writeExistingValue(benchmark::State &state)
{
    const int section = static_cast<int>(state.range(0));
    const LargeFile file;
    IniProfileFile profile;
    int round = 0;
    for (auto _ : state) {
        if (!WriteIniValue(profile, file.path, sectionName(section), keyName(19),
                           QString::number(++round))) {
            state.SkipWithError("cannot write the settings file");
            break;
        }
    }
}

// A key the file does not hold yet, added after the last line of the last
// section; the file is put back (untimed) after each round.
void writeNewKey(benchmark::State &state)
{
    const LargeFile file;
    IniProfileFile profile;
    for (auto _ : state) {
        if (!WriteIniValue(profile, file.path, sectionName(sectionCount - 1), QStringLiteral("new"),
                           QStringLiteral("x"))) {
            state.SkipWithError("cannot write the settings file");
            break;
        }
        state.PauseTiming();
        file.restore();
        state.ResumeTiming();
    }
}

} // namespace

BENCHMARK(readValue)
    ->Arg(0)
    ->Arg(sectionCount / 2)
    ->Arg(sectionCount - 1)
    ->Arg(-1)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(writeExistingValue)->Arg(0)->Arg(sectionCount - 1)->Unit(benchmark::kMicrosecond);
BENCHMARK(writeNewKey)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();

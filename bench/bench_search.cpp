// bench-search: times the collection index on a collection folder.
//
//   bench-search index DIR INDEXDIR       one update pass (full or incremental): time,
//                                         documents, files left out, index size
//   bench-search query DIR INDEXDIR       100 queries, 20 hits each with snippets:
//                                         median and 95th percentile
//
// bench/search.sh runs it against a generated collection, with pdftotext and
// pdfgrep over the same files as yardsticks.

#include "collection.h"
#include "documenttext.h"
#include "searchindex.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

qint64 folderBytes(const QString &folder)
{
    qint64 bytes = 0;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        bytes += it.fileInfo().size();
    }
    return bytes;
}

int runIndex(const Collection &collection, const QString &indexFolder)
{
    QElapsedTimer timer;
    timer.start();
    CollectionIndex index(collection, indexFolder);
    if (index.open() != CollectionIndex::OpenResult::Opened) {
        std::fprintf(stderr, "cannot open the index\n");
        return 1;
    }
    const IndexProgress progress = index.update();
    index.close();
    const qint64 ms = timer.elapsed();
    std::printf("index: %lld ms, %d documents, %d left out, index %.1f MiB\n",
                static_cast<long long>(ms), progress.total, progress.skipped,
                folderBytes(indexFolder) / 1048576.0);
    return 0;
}

int runQueries(const Collection &collection, const QString &indexFolder)
{
    // Common and rare words, inflections, accents left out, phrases and numbers.
    const QStringList base = {
        QStringLiteral("custodia"),
        QStringLiteral("regulacion"),
        QStringLiteral("tokenizado"),
        QStringLiteral("criptoactivos"),
        QStringLiteral("\"hecho esencial\""),
        QStringLiteral("artículo 15"),
        QStringLiteral("4321"),
        QStringLiteral("sostenibilidad fondos"),
        QStringLiteral("ciberseguridad"),
        QStringLiteral("fintech riesgo"),
        QStringLiteral("taxonomia"),
        QStringLiteral("blockchain"),
        QStringLiteral("auditoria externa"),
        QStringLiteral("inversionista"),
        QStringLiteral("\"gestión de riesgos\""),
        QStringLiteral("sanciones multa"),
        QStringLiteral("pólizas seguros"),
        QStringLiteral("comisión"),
        QStringLiteral("5999"),
        QStringLiteral("derivados compensación"),
    };
    CollectionSearch search(collection, indexFolder);
    search.search(base.front(), 20); // open the index once before timing
    std::vector<double> times;
    int hits = 0;
    for (int round = 0; round < 5; ++round) {
        for (const QString &query : base) {
            QElapsedTimer timer;
            timer.start();
            hits += static_cast<int>(search.search(query, 20).size());
            times.push_back(timer.nsecsElapsed() / 1e6);
        }
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    const double p95 = times[static_cast<size_t>(times.size() * 95 / 100)];
    std::printf("query: %zu queries, median %.2f ms, p95 %.2f ms, max %.2f ms, %d hits\n",
                times.size(), median, p95, times.back(), hits);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: bench-search index|query DIR INDEXDIR\n");
        return 2;
    }
    if (args.at(1) == QLatin1String("text")) {
        const DocumentText doc = readPdfText(args.at(2));
        std::printf("skip: %s\n", qPrintable(doc.skipReason));
        for (const DocumentText::Page &page : doc.pages)
            std::printf("-- %d\n%s\n", page.number, qPrintable(page.text));
        return 0;
    }
    const Collection collection(args.at(2), QString());
    if (args.at(1) == QLatin1String("index")) {
        return runIndex(collection, args.at(3));
    }
    if (args.at(1) == QLatin1String("query")) {
        return runQueries(collection, args.at(3));
    }
    std::fprintf(stderr, "unknown mode %s\n", qPrintable(args.at(1)));
    return 2;
}

// bench-search: times the collection index on a collection folder.
//
//   bench-search index DIR INDEXDIR       one update pass (full or incremental): time,
//                                         documents, files left out, index size
//   bench-search query DIR INDEXDIR       100 queries, 20 hits each with snippets:
//                                         median and 95th percentile; then checks that
//                                         a word typed without its accents finds the
//                                         pages where it stands with them (exit 1 if not)
//   bench-search fts5 DIR DBFILE          the same collection and queries in SQLite FTS5
//   bench-search extract DIR              reading alone: every PDF through one reader process
//   bench-search text FILE                the text of one PDF, page by page
//
// bench/search.sh runs it against a generated collection, with pdftotext and
// pdfgrep over the same files as yardsticks.

// Xapian must come before Qt: it names a member "slots".
#include <xapian.h>

#include "collection.h"
#include "documenttext.h"
#include "pdftextprocess.h"
#include "searchindex.h"
#include "searchtext.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <sqlite3.h>

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

    // The generator writes "taxonomía" on page 6 of every 53rd circular and nowhere else:
    // typed without its accent, in capitals or with another accent, it finds exactly those
    // pages, and only an index that folds accents finds them at all.
    int expected = 0;
    for (const CollectionFile &file : collection.files(QStringLiteral("circulares"))) {
        const int number = QFileInfo(file.relativePath).completeBaseName().toInt();
        expected += number > 4000 && (number - 4000) % 53 == 0 ? 1 : 0;
    }
    bool folded = expected > 0;
    for (const QString &query : {QStringLiteral("taxonomia"), QStringLiteral("TAXONOMIA"),
                                 QStringLiteral("taxonomía"), QStringLiteral("taxónomia")}) {
        const std::vector<SearchHit> found = search.search(query, 1000000);
        const bool right =
            static_cast<int>(found.size()) == expected &&
            std::all_of(found.begin(), found.end(), [](const SearchHit &hit) {
                return hit.page == 6 && hit.snippet.contains(QStringLiteral("taxonomía"));
            });
        std::printf("accents folded: '%s' finds %zu of %d pages%s\n", qPrintable(query),
                    found.size(), expected, right ? "" : ": FAILED");
        folded = folded && right;
    }
    return folded ? 0 : 1;
}

// The same collection in SQLite FTS5, for the choice of engine: the page text
// in a column with FTS5's own folding of case and accents (unicode61,
// remove_diacritics 2) and a column of the Spanish stems, which FTS5 cannot make
// itself (its only stemmer is Porter's, for English).
int runFts5(const QString &folder, const QString &dbPath)
{
    QFile::remove(dbPath);
    sqlite3 *db = nullptr;
    if (sqlite3_open(QFile::encodeName(dbPath).constData(), &db) != SQLITE_OK) {
        return 1;
    }
    const auto exec = [db](const char *sql) {
        return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    };
    if (exec("CREATE VIRTUAL TABLE pages USING fts5(path UNINDEXED, page UNINDEXED, title, "
             "body, stems, tokenize = 'unicode61 remove_diacritics 2')") != SQLITE_OK) {
        std::fprintf(stderr, "FTS5: %s\n", sqlite3_errmsg(db));
        return 1;
    }
    sqlite3_stmt *insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO pages VALUES (?, ?, ?, ?, ?)", -1, &insert, nullptr);
    Xapian::Stem stem("spanish");
    QElapsedTimer total;
    total.start();
    qint64 insertNs = 0;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    int files = 0;
    exec("BEGIN");
    while (it.hasNext()) {
        const QString path = it.next();
        const QString kind = documentKind(QDir(folder).relativeFilePath(path));
        if (kind.isEmpty()) {
            continue;
        }
        const DocumentText doc =
            path.endsWith(QLatin1String(".pdf")) ? readPdfText(path) : readHtmlText(path);
        QElapsedTimer timer;
        timer.start();
        for (const DocumentText::Page &page : doc.pages) {
            QString stems;
            for (const TextWord &word : splitWords(page.text)) {
                stems += QString::fromStdString(
                             stem(page.text.mid(word.start, word.length).toLower().toStdString())) +
                         u' ';
            }
            const QByteArray p = path.toUtf8(), t = doc.title.toUtf8(), b = page.text.toUtf8(),
                             st = stems.toUtf8();
            sqlite3_bind_text(insert, 1, p.constData(), int(p.size()), SQLITE_TRANSIENT);
            sqlite3_bind_int(insert, 2, page.number);
            sqlite3_bind_text(insert, 3, t.constData(), int(t.size()), SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, 4, b.constData(), int(b.size()), SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, 5, st.constData(), int(st.size()), SQLITE_TRANSIENT);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
        if (++files % 100 == 0) {
            exec("COMMIT");
            exec("BEGIN");
        }
        insertNs += timer.nsecsElapsed();
    }
    exec("COMMIT");
    sqlite3_finalize(insert);
    std::printf("fts5 index: %lld ms (of which FTS5 and stemming %lld ms), %d files, %.1f MiB\n",
                static_cast<long long>(total.elapsed()), static_cast<long long>(insertNs / 1000000),
                files, QFileInfo(dbPath).size() / 1048576.0);

    // The benchmark's queries as FTS5 sees them: stems for single words.
    const QStringList queries = {QStringLiteral("stems:custodi"),
                                 QStringLiteral("stems:regul"),
                                 QStringLiteral("stems:tokeniz"),
                                 QStringLiteral("stems:criptoactiv"),
                                 QStringLiteral("body:\"hecho esencial\""),
                                 QStringLiteral("stems:articul AND body:15"),
                                 QStringLiteral("body:4321"),
                                 QStringLiteral("stems:sostenibil AND stems:fond"),
                                 QStringLiteral("stems:ciberseguridad"),
                                 QStringLiteral("stems:fintech AND stems:riesg"),
                                 QStringLiteral("stems:taxonom"),
                                 QStringLiteral("stems:blockchain"),
                                 QStringLiteral("stems:auditori AND stems:extern"),
                                 QStringLiteral("stems:inversion"),
                                 QStringLiteral("body:\"gestion de riesgos\""),
                                 QStringLiteral("stems:sancion AND stems:mult"),
                                 QStringLiteral("stems:poliz AND stems:segur"),
                                 QStringLiteral("stems:comision"),
                                 QStringLiteral("body:5999"),
                                 QStringLiteral("stems:deriv AND stems:compens")};
    sqlite3_stmt *select = nullptr;
    sqlite3_prepare_v2(
        db,
        "SELECT path, page, title, snippet(pages, 3, '[', ']', '...', 30) FROM pages "
        "WHERE pages MATCH ? ORDER BY bm25(pages) LIMIT 20",
        -1, &select, nullptr);
    std::vector<double> times;
    int hits = 0;
    for (int round = 0; round < 5; ++round) {
        for (const QString &query : queries) {
            const QByteArray q = query.toUtf8();
            QElapsedTimer timer;
            timer.start();
            sqlite3_bind_text(select, 1, q.constData(), int(q.size()), SQLITE_TRANSIENT);
            while (sqlite3_step(select) == SQLITE_ROW) {
                ++hits;
            }
            sqlite3_reset(select);
            times.push_back(timer.nsecsElapsed() / 1e6);
        }
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
    std::sort(times.begin(), times.end());
    std::printf("fts5 query: %zu queries, median %.2f ms, p95 %.2f ms, max %.2f ms, %d hits "
                "(pages, not collapsed per document)\n",
                times.size(), times[times.size() / 2], times[times.size() * 95 / 100], times.back(),
                hits);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const bool oneArgument = args.size() > 1 && (args.at(1) == QLatin1String("extract") ||
                                                 args.at(1) == QLatin1String("text"));
    if (args.size() != (oneArgument ? 3 : 4)) {
        std::fprintf(stderr, "usage: bench-search index|query|fts5 DIR INDEXDIR|DBFILE, "
                             "bench-search extract DIR, bench-search text FILE\n");
        return 2;
    }
    if (args.at(1) == QLatin1String("extract")) {
        // Reading alone: every PDF of the folder through one of the index's reader processes,
        // as one lane of a pass reads them, nothing indexed.
        QElapsedTimer timer;
        timer.start();
        qint64 characters = 0;
        QDirIterator it(args.at(2), {QStringLiteral("*.pdf")}, QDir::Files,
                        QDirIterator::Subdirectories);
        int files = 0;
        PdfTextProcess reader(pdfTextReaderProgram());
        while (it.hasNext()) {
            QString problem;
            QString title;
            int pages = 0;
            reader.open(it.next(), 60000, {}, &problem, &pages, &title);
            for (int page = 0; problem.isEmpty() && page < pages; ++page) {
                QString text;
                reader.pageText(page, 60000, {}, &text);
                characters += text.size();
            }
            ++files;
        }
        reader.kill();
        std::printf("extract: %lld ms, %d files, %lld characters\n",
                    static_cast<long long>(timer.elapsed()), files,
                    static_cast<long long>(characters));
        return 0;
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
    if (args.at(1) == QLatin1String("fts5")) {
        return runFts5(args.at(2), args.at(3));
    }
    if (args.at(1) == QLatin1String("query")) {
        return runQueries(collection, args.at(3));
    }
    std::fprintf(stderr, "unknown mode %s\n", qPrintable(args.at(1)));
    return 2;
}

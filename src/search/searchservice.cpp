#include "searchservice.h"

#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <exception>
#include <utility>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {
// A pass that finds the index held by another process (a command-line search)
// tries again after this long.
constexpr int busyRetryMilliseconds = 3000;
// The status line hears of a pass's pages at most this often.
constexpr qint64 progressMilliseconds = 250;

// The index works for the reader without being waited for: its thread, and the reader
// threads it starts, get the least share of the processor. Thread priorities of the
// ordinary scheduling class mean nothing on Linux; a thread's own nice value does, and
// the threads it starts inherit it.
void yieldToEveryoneElse()
{
#ifdef Q_OS_LINUX
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
#endif
}

QString grouped(int number)
{
    QString digits = QString::number(number);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3) {
        digits.insert(at, u'.');
    }
    return digits;
}
} // namespace

// Lives on the indexing thread: one pass at a time, in the order asked for.
class SearchService::Indexer : public QObject {
public:
    Indexer(SearchBackend &backend, Collection collection, QString indexFolder,
            SearchService *service)
        : m_backend(backend)
        , m_collection(std::move(collection))
        , m_folder(std::move(indexFolder))
        , m_service(service)
    {
    }

    void finish()
    {
        if (m_index) {
            m_index->close();
        }
    }

    // Requests arrive as queued calls and a pass runs to its end, so passes
    // never overlap. Nothing the index throws gets past this point.
    void requestPass()
    {
        if (m_service->m_cancel) {
            return;
        }
        if (!std::exchange(m_yielding, true)) {
            yieldToEveryoneElse();
        }
        try {
            pass();
        } catch (const std::exception &error) {
            emit m_service->indexUnavailable(QStringLiteral("error inesperado del índice (%1)")
                                                 .arg(QString::fromLocal8Bit(error.what())));
        } catch (...) {
            emit m_service->indexUnavailable(QStringLiteral("error inesperado del índice"));
        }
    }

private:
    void pass()
    {
        // A folder that is not a collection (the root of the file system, say) gets no
        // index at all.
        if (!hasCollectionLayout(m_collection)) {
            emit m_service->indexUnavailable(notACollectionText(m_collection.programFolder()));
            return;
        }
        if (!m_index) {
            // The index's code is loaded here, off the window's thread, at the first pass.
            QString problem;
            m_index = m_backend.newWriter(m_collection, m_folder, &problem);
            if (!m_index) {
                emit m_service->indexUnavailable(problem);
                return;
            }
        }
        if (!m_opened) {
            const IndexWriter::OpenResult result = m_index->open();
            if (result == IndexWriter::OpenResult::Busy) {
                QTimer::singleShot(busyRetryMilliseconds, this, [this] { requestPass(); });
                return;
            }
            if (result == IndexWriter::OpenResult::Failed) {
                emit m_service->indexUnavailable(QStringLiteral("no se puede crear el índice en %1")
                                                     .arg(QDir::toNativeSeparators(m_folder)));
                return;
            }
            m_opened = true;
        }
        QElapsedTimer sinceReport;
        int reportedDone = -1;
        const IndexProgress result = m_index->update(
            [&](const IndexProgress &p) {
                // Every document counts; pages only now and then.
                if (p.done != reportedDone || !sinceReport.isValid() ||
                    sinceReport.elapsed() >= progressMilliseconds) {
                    reportedDone = p.done;
                    sinceReport.start();
                    emit m_service->progressChanged(p.done, p.total, p.skipped, false);
                }
            },
            &m_service->m_cancel, QDeadlineTimer(QDeadlineTimer::Forever));
        if (!result.error.isEmpty()) {
            emit m_service->indexUnavailable(result.error);
        } else {
            emit m_service->progressChanged(result.done, result.total, result.skipped,
                                            result.finished);
        }
    }

    SearchBackend &m_backend;
    Collection m_collection;
    QString m_folder;
    std::unique_ptr<IndexWriter> m_index;
    SearchService *m_service;
    bool m_opened = false;
    bool m_yielding = false;
};

// Lives on the search thread, so that a slow query or the snippets of many hits never
// hold up the window.
class SearchService::Searcher : public QObject {
public:
    Searcher(SearchBackend &backend, Collection collection, QString indexFolder,
             SearchService *service)
        : m_backend(backend)
        , m_collection(std::move(collection))
        , m_folder(std::move(indexFolder))
        , m_service(service)
    {
    }

    void run(quint64 serial, const QString &text, int maxHits)
    {
        SearchService *service = m_service;
        const auto outdated = [service, serial] {
            return service->m_newestSearch.load() != serial || service->m_cancel.load();
        };
        if (outdated()) {
            return; // a newer request is on its way
        }
        if (!m_search) {
            // Without the index's code there is nothing to search: the index's status
            // already says why.
            QString problem;
            m_search = m_backend.newReader(m_collection, m_folder, &problem);
        }
        std::vector<SearchHit> hits;
        try {
            if (m_search) {
                hits = m_search->search(text, maxHits, outdated, nullptr);
            }
        } catch (const std::exception &) {
            hits.clear();
        }
        if (outdated()) {
            return;
        }
        QMetaObject::invokeMethod(service, [service, serial, text, hits = std::move(hits)] {
            // A newer request may have been made while this answer was on its way.
            if (service->m_newestSearch.load() == serial) {
                emit service->hitsFound(text, hits);
            }
        });
    }

private:
    SearchBackend &m_backend;
    Collection m_collection;
    QString m_folder;
    std::unique_ptr<IndexReader> m_search;
    SearchService *m_service;
};

SearchService::SearchService(SearchBackend &backend, Collection collection, QString indexFolder,
                             QObject *parent)
    : QObject(parent)
    , m_indexThread(new QThread(this))
    , m_searchThread(new QThread(this))
    , m_indexer(new Indexer(backend, collection, indexFolder, this))
    , m_searcher(new Searcher(backend, std::move(collection), std::move(indexFolder), this))
{
    m_indexThread->setObjectName(QStringLiteral("indexador"));
    m_searchThread->setObjectName(QStringLiteral("buscador"));
    m_indexer->moveToThread(m_indexThread);
    m_searcher->moveToThread(m_searchThread);
    connect(m_indexThread, &QThread::finished, m_indexer, &QObject::deleteLater);
    connect(m_searchThread, &QThread::finished, m_searcher, &QObject::deleteLater);
    connect(this, &SearchService::progressChanged, this,
            [this](int, int, int, bool finished) { m_indexing = !finished; });
    connect(this, &SearchService::indexUnavailable, this, [this] { m_indexing = false; });
    m_indexThread->start(QThread::LowestPriority);
    m_searchThread->start();
}

SearchService::~SearchService()
{
    // The pass and the search see this between two pages or two hits; the pass leaves
    // a page being read to its reader.
    m_cancel = true;
    Indexer *indexer = m_indexer;
    QMetaObject::invokeMethod(indexer, [indexer] { indexer->finish(); });
    m_indexThread->quit();
    m_searchThread->quit();
    m_indexThread->wait();
    m_searchThread->wait();
}

void SearchService::reindex()
{
    m_indexing = true;
    Indexer *indexer = m_indexer;
    QMetaObject::invokeMethod(indexer, [indexer] { indexer->requestPass(); });
}

void SearchService::search(const QString &text, int maxHits)
{
    const quint64 serial = ++m_newestSearch;
    Searcher *searcher = m_searcher;
    QMetaObject::invokeMethod(
        searcher, [searcher, serial, text, maxHits] { searcher->run(serial, text, maxHits); });
}

QString indexStatusText(int done, int total, int skipped, bool finished)
{
    QString text =
        finished
            ? QStringLiteral("Colección indexada")
            : QStringLiteral("Indexando la colección: %1 de %2").arg(grouped(done), grouped(total));
    if (skipped == 1) {
        text += QStringLiteral(" (1 archivo no se pudo leer)");
    } else if (skipped > 1) {
        text += QStringLiteral(" (%1 archivos no se pudieron leer)").arg(grouped(skipped));
    }
    return text;
}

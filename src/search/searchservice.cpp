#include "searchservice.h"

#include <QThread>
#include <QTimer>

namespace {
// A pass that finds the index held by another process (a command-line search)
// tries again after this long.
constexpr int busyRetryMilliseconds = 3000;

QString grouped(int number)
{
    QString digits = QString::number(number);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3) {
        digits.insert(at, u'.');
    }
    return digits;
}
} // namespace

class SearchService::Worker : public QObject {
public:
    Worker(Collection collection, QString indexFolder, SearchService *service)
        : m_index(std::move(collection), std::move(indexFolder))
        , m_service(service)
    {
    }

    void finish() { m_index.close(); }

    // On the worker thread. Requests arrive as queued calls and a pass runs to its end,
    // so passes never overlap.
    void requestPass()
    {
        if (!m_opened) {
            const CollectionIndex::OpenResult result = m_index.open();
            if (result == CollectionIndex::OpenResult::Busy) {
                QTimer::singleShot(busyRetryMilliseconds, this, [this] { requestPass(); });
                return;
            }
            if (result == CollectionIndex::OpenResult::Failed) {
                emit m_service->indexUnavailable();
                return;
            }
            m_opened = true;
        }
        m_index.update(
            [this](const IndexProgress &p) {
                emit m_service->progressChanged(p.done, p.total, p.skipped, p.finished);
            },
            &m_service->m_cancel);
    }

private:
    CollectionIndex m_index;
    SearchService *m_service;
    bool m_opened = false;
};

SearchService::SearchService(Collection collection, QString indexFolder, QObject *parent)
    : QObject(parent)
    , m_search(collection, indexFolder)
    , m_thread(new QThread(this))
    , m_worker(new Worker(std::move(collection), std::move(indexFolder), this))
{
    m_thread->setObjectName(QStringLiteral("indexador"));
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(this, &SearchService::progressChanged, this,
            [this](int, int, int, bool finished) { m_indexing = !finished; });
    connect(this, &SearchService::indexUnavailable, this, [this] { m_indexing = false; });
    m_thread->start(QThread::LowPriority);
}

SearchService::~SearchService()
{
    m_cancel = true;
    Worker *worker = m_worker;
    QMetaObject::invokeMethod(worker, [worker] { worker->finish(); });
    m_thread->quit();
    m_thread->wait();
}

void SearchService::reindex()
{
    m_indexing = true;
    Worker *worker = m_worker;
    QMetaObject::invokeMethod(worker, [worker] { worker->requestPass(); });
}

std::vector<SearchHit> SearchService::search(const QString &text, int maxHits)
{
    return m_search.search(text, maxHits);
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

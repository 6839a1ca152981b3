#pragma once

#include "searchindex.h"

#include <QObject>

#include <atomic>
#include <memory>
#include <vector>

class QThread;

// The index of the collection kept up to date on a thread of its own, and the
// searches answered from it on another, so that neither holds up the caller's
// thread. A pass runs at each reindex() (at start, and after an update was
// installed); searches made meanwhile answer from what is indexed so far.
class SearchService : public QObject {
    Q_OBJECT
public:
    // The index comes from backend, made at the first pass or search, on their threads.
    SearchService(SearchBackend &backend, Collection collection, QString indexFolder,
                  QObject *parent = nullptr);
    // Stops the pass under way between two pages, and the search under way
    // between two hits. A page that is slow to read is not waited for: the
    // reader is left to finish it alone.
    ~SearchService() override;

    void reindex();
    // Asks for the best hits of text; hitsFound answers on the caller's thread.
    // Only the newest request is answered: an older one still running or queued
    // is dropped, and so is an answer that arrives after a newer request.
    void search(const QString &text, int maxHits = 200);
    bool indexing() const { return m_indexing; }

signals:
    // From the indexing thread, delivered on the caller's.
    void progressChanged(int done, int total, int skipped, bool finished);
    // The index cannot be used: it could not be made, it failed and could not
    // be built again, or the folder is not a collection. reason says why.
    void indexUnavailable(const QString &reason);
    // The answer to the newest search.
    void hitsFound(const QString &text, const std::vector<SearchHit> &hits);

private:
    class Indexer;
    class Searcher;
    QThread *m_indexThread;
    QThread *m_searchThread;
    Indexer *m_indexer;
    Searcher *m_searcher;
    std::atomic_bool m_cancel{false};
    std::atomic<quint64> m_newestSearch{0};
    bool m_indexing = false;
};

// The status line of an index pass: "Indexando la colección: 1.234 de 5.000"
// while it runs, then what was left out, if anything.
QString indexStatusText(int done, int total, int skipped, bool finished);

#pragma once

#include "searchindex.h"

#include <QObject>

#include <atomic>
#include <memory>

class QThread;

// The index of the collection kept up to date on a thread of its own, and the
// searches answered from it on the caller's thread. A pass runs at each
// reindex() (at start, and after an update was installed); searches made
// meanwhile answer from what is indexed so far.
class SearchService : public QObject {
    Q_OBJECT
public:
    SearchService(Collection collection, QString indexFolder, QObject *parent = nullptr);
    // Stops the pass under way after its current file and waits for it.
    ~SearchService() override;

    void reindex();
    std::vector<SearchHit> search(const QString &text, int maxHits = 200);
    bool indexing() const { return m_indexing; }

signals:
    // From the indexing thread, delivered on the caller's.
    void progressChanged(int done, int total, int skipped, bool finished);
    // The index could not be opened or made (a cache folder that cannot be written).
    void indexUnavailable();

private:
    class Worker;
    CollectionSearch m_search;
    QThread *m_thread;
    Worker *m_worker;
    std::atomic_bool m_cancel{false};
    bool m_indexing = false;
};

// The status line of an index pass: "Indexando la colección: 1.234 de 5.000"
// while it runs, then what was left out, if anything.
QString indexStatusText(int done, int total, int skipped, bool finished);

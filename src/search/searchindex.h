#pragma once

#include "collection.h"

#include <QDeadlineTimer>
#include <QList>
#include <QPair>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

// How far an index pass has come: documents of the collection indexed (or
// found up to date) out of all of them, and files left out because they could
// not be read (a damaged, locked or empty PDF).
struct IndexProgress {
    int done = 0;
    int total = 0;
    int skipped = 0;
    int pages = 0; // pages taken in by this pass
    bool finished = false;
    // Why the index cannot be used, in Spanish ("no queda espacio en el disco"): it failed
    // and could not be built again, or the folder is not a collection. Empty otherwise.
    QString error;
};

// How much of one document the index reads at most, over all the passes that read it.
// A PDF of thousands of pages, or one whose pages are slow to read (a page can cost its
// reader seconds), is indexed up to there and recorded as read: later passes leave it
// alone until the file changes. Reading time is the PDF reader's processor time, not the
// time waited for it.
struct DocumentBounds {
    int maxPages = 10000;
    qint64 maxCharacters = qint64(16) << 20;
    qint64 maxReadMilliseconds = 60000;
    // The most processor time the PDF reader may take over opening a document or reading one
    // of its pages (or ten times that waited in all): past that it is taken for hung, killed,
    // and the document keeps what was read.
    qint64 readerMilliseconds = 60000;
};

// One document found, a PDF or an HTML page: for a PDF, the page that answers the query
// best (where its words, or most of them, stand, and stand together).
struct SearchHit {
    QString relativePath; // "circulares/4001.pdf"
    QString absolutePath; // what the reader sees there now
    int page = 0;         // the PDF page, from 1; 0 for an HTML page
    QString title;
    QString kind;                 // "página", "circular", "manual"
    QString snippet;              // one line of the text around the words found
    QList<QPair<int, int>> marks; // start and length of each word found in snippet
    QString findText;             // the words as they stand on the page, for finding them there
    int morePages = 0;            // other pages of the same PDF that hold every word too
    QString status;               // a circular's standing in the catalog ("Vigente", ...)
};

// The kind of a file of the collection as the reader sees it ("circular",
// "manual", "página"), or empty for a file that is not searched.
QString documentKind(const QString &relativePath);

// The folder of the index of a collection under the user's cache folder: one
// per collection, named after its identity. An index left under the name earlier
// versions gave it is moved there.
QString indexFolderFor(const Collection &collection, const QString &cacheFolder);

// Whether the collection has the layout of one: a pagina/ or a circulares/ folder, in
// its program folder or its per-user folder. Anything else (the root of the file system,
// a home folder) is not searched.
bool hasCollectionLayout(const Collection &collection);
// "La carpeta ... no es una colección ...", for a folder without that layout.
QString notACollectionText(const QString &folder);

// The writing side of an index of a collection (CollectionIndex), as the search service
// sees it.
class IndexWriter {
public:
    enum class OpenResult { Opened, Busy, Failed };
    using ProgressFn = std::function<void(const IndexProgress &)>;

    virtual ~IndexWriter() = default;
    virtual OpenResult open() = 0;
    virtual IndexProgress update(const ProgressFn &progress, const std::atomic_bool *cancel,
                                 QDeadlineTimer deadline) = 0;
    virtual void close() = 0;
};

// The reading side of an index of a collection (CollectionSearch).
class IndexReader {
public:
    virtual ~IndexReader() = default;
    virtual std::vector<SearchHit> search(const QString &text, int maxHits,
                                          const std::function<bool()> &stop, int *matching) = 0;
};

// Makes the two sides of the index of collection kept in indexFolder; nullptr, with
// *problem said in Spanish, when the index cannot be had at all.
class SearchBackend {
public:
    virtual ~SearchBackend() = default;
    virtual std::unique_ptr<IndexWriter>
    newWriter(const Collection &collection, const QString &indexFolder, QString *problem) = 0;
    virtual std::unique_ptr<IndexReader>
    newReader(const Collection &collection, const QString &indexFolder, QString *problem) = 0;
};

// The writing side of the full-text index of a collection, kept in
// indexFolder. One pass of update() brings it up to date with the collection:
// files added or changed since the last pass (by size, modification time and
// location) are read again, files gone are dropped. Work is committed in
// batches, so that a search sees what is indexed so far and a killed program
// loses at most one batch. An index that cannot be opened is built anew.
class CollectionIndex final : public IndexWriter {
public:
    // PDFs are read by the reader program readerProgram (by default the one beside the
    // running program, see pdfTextReaderProgram).
    CollectionIndex(Collection collection, QString indexFolder, DocumentBounds bounds = {},
                    QString readerProgram = {});
    ~CollectionIndex() override;
    CollectionIndex(const CollectionIndex &) = delete;
    CollectionIndex &operator=(const CollectionIndex &) = delete;

    // Busy when another process writes to the index.
    OpenResult open() override;

    // Requires open(). Calls progress before reading, after each page and each
    // document taken in, and at the end. Stops between two pages when *cancel
    // becomes true or the deadline passes, without waiting for a page being read
    // (which can take minutes): what was taken in of the document stays, and the
    // next pass goes on from there. Never throws: an index that fails under the
    // pass (damaged, a full disk) is built anew once, and when that fails too,
    // the answer's error says why.
    IndexProgress
    update(const ProgressFn &progress = {}, const std::atomic_bool *cancel = nullptr,
           QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever)) override;

    // Closes the index, committing what was done.
    void close() override;

private:
    IndexProgress pass(const ProgressFn &progress, const std::function<bool()> &stop);

    struct Private;
    Collection m_collection;
    QString m_folder;
    DocumentBounds m_bounds;
    QString m_readerProgram;
    std::unique_ptr<Private> d;
};

// The reading side: answers queries from what the index holds, while a
// CollectionIndex may be writing to it in another thread or process.
class CollectionSearch final : public IndexReader {
public:
    CollectionSearch(Collection collection, QString indexFolder);
    ~CollectionSearch() override;
    CollectionSearch(const CollectionSearch &) = delete;
    CollectionSearch &operator=(const CollectionSearch &) = delete;

    // The best hits first, one per document (the best page of a PDF). Empty
    // when nothing matches, the text holds no word, or there is no index yet,
    // and when stop answers true (asked between hits: the answer is no longer
    // wanted). When matching is given, it receives how many documents match in
    // all, however many of them are answered.
    std::vector<SearchHit> search(const QString &text, int maxHits = 200,
                                  const std::function<bool()> &stop = {},
                                  int *matching = nullptr) override;

private:
    struct Private;
    Collection m_collection;
    QString m_folder;
    std::unique_ptr<Private> d;
};

// The index on Xapian: CollectionIndex and CollectionSearch.
class XapianSearchBackend final : public SearchBackend {
public:
    std::unique_ptr<IndexWriter> newWriter(const Collection &collection, const QString &indexFolder,
                                           QString *problem) override;
    std::unique_ptr<IndexReader> newReader(const Collection &collection, const QString &indexFolder,
                                           QString *problem) override;
};

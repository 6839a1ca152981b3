// Xapian must come before Qt: it names a member "slots".
#include <xapian.h>

#include "searchindex.h"

#include "documenttext.h"
#include "searchquery.h"
#include "searchtext.h"
#include "updatecontract.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QScopeGuard>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace {

// Raised whenever the terms or the stored data change meaning: an index of
// another format is built anew.
const std::string formatVersion = "4";

const QString kindCircular = QStringLiteral("circular");
const QString kindManual = QStringLiteral("manual");
const QString kindPage = QStringLiteral("página");

// Value slot of the relative path: hits are collapsed on it to one per file.
constexpr Xapian::valueno pathSlot = 0;
// Files per commit, and the longest time between two commits.
constexpr int filesPerBatch = 500;
constexpr qint64 batchMilliseconds = 5000;
// Words standing together as typed weigh this much more.
constexpr double phraseBoost = 3.0;
// Title words weigh as much as this many mentions in the text.
constexpr Xapian::termcount titleWeight = 4;

std::string utf8(const QString &text)
{
    return text.toStdString();
}

QString fromUtf8(const std::string &text)
{
    return QString::fromStdString(text);
}

// A term naming a file: the path itself, or its hash where it would be too
// long for a term.
std::string pathTerm(char prefix, const QString &relativePath)
{
    std::string term = std::string(1, prefix) + utf8(relativePath);
    if (term.size() > 200) {
        term = std::string(1, prefix) + "#" +
               QCryptographicHash::hash(relativePath.toUtf8(), QCryptographicHash::Sha1)
                   .toHex()
                   .toStdString();
    }
    return term;
}

// The Spanish stemmer over words as they stand in the text (lower case,
// accents kept: the stemmer's suffixes carry them), giving the folded stem.
class SpanishStems {
public:
    SpanishStems()
        : m_stem("spanish")
    {
    }

    const std::string &stemOf(const QString &lowerWord)
    {
        auto found = m_cache.find(lowerWord);
        if (found != m_cache.end()) {
            return found->second;
        }
        if (m_cache.size() > 200000) {
            m_cache.clear();
        }
        std::string stem = "Z" + utf8(foldText(fromUtf8(m_stem(utf8(lowerWord)))));
        return m_cache.emplace(lowerWord, std::move(stem)).first->second;
    }

private:
    Xapian::Stem m_stem;
    std::unordered_map<QString, std::string> m_cache;
};

// A word that is its own stem ("de", "mercado" is not) gets no stem term of
// its own: the word's term stands for it, and queries look for both.
bool isBareStem(const std::string &stem, const std::string &folded)
{
    return stem.size() == folded.size() + 1 && stem.compare(1, std::string::npos, folded) == 0;
}

// Stored data holds its fields one after the other, separated by a NUL: no
// file name, kind or number can hold one, so a name with a tab or a line
// break in it comes back whole. A page's text comes last, and is all the rest.
constexpr QChar fieldSeparator = u'\0';

std::string joinFields(const QStringList &fields)
{
    return utf8(fields.join(fieldSeparator));
}

// The fields of stored data; the last one takes the rest when there are more
// than count.
QStringList splitFields(const std::string &data, int count)
{
    const QString all = fromUtf8(data);
    QStringList fields;
    qsizetype at = 0;
    while (fields.size() < count - 1) {
        const qsizetype end = all.indexOf(fieldSeparator, at);
        if (end < 0) {
            break;
        }
        fields.append(all.mid(at, end - at));
        at = end + 1;
    }
    fields.append(all.mid(at));
    return fields;
}

struct StoredPage {
    QString relativePath;
    int page = 0;
    QString kind;
    QString title;
    QString text;
};

std::string storePage(const StoredPage &page)
{
    return joinFields(
        {page.relativePath, QString::number(page.page), page.kind, page.title, page.text});
}

StoredPage loadPage(const std::string &data)
{
    const QStringList fields = splitFields(data, 5);
    StoredPage page;
    if (fields.size() == 5) {
        page = {fields[0], fields[1].toInt(), fields[2], fields[3], fields[4]};
    }
    return page;
}

// What a file was when it was last indexed.
QString stampOf(const CollectionFile &file)
{
    return QStringLiteral("%1 %2 %3")
        .arg(file.size)
        .arg(file.modified.toMSecsSinceEpoch())
        .arg(file.absolutePath);
}

// The record of one file in the index: the stamp the file had when it was read, and how
// far it was read. A file is read again only when its stamp changes, or to go on where a
// pass stopped inside it.
struct FileRecord {
    enum class State {
        Read,        // all of it
        Unreadable,  // damaged, locked, empty or without text: nothing of it
        Bounded,     // up to a bound of DocumentBounds: the rest is never read
        Interrupted, // a pass stopped inside it: the next one goes on from nextPage
    };
    QString relativePath;
    QString stamp;
    State state = State::Read;
    int nextPage = 0;        // the first page (from 0) not read yet
    qint64 milliseconds = 0; // spent reading it, over all passes
    qint64 characters = 0;   // of text read from it, over all passes
};

const QString stateNames[] = {QStringLiteral("ok"), QStringLiteral("skipped"),
                              QStringLiteral("bounded"), QStringLiteral("resume")};

std::string storeRecord(const FileRecord &record)
{
    return joinFields({record.relativePath, record.stamp,
                       stateNames[static_cast<int>(record.state)], QString::number(record.nextPage),
                       QString::number(record.milliseconds), QString::number(record.characters)});
}

std::optional<FileRecord> loadRecord(const std::string &data)
{
    const QStringList fields = splitFields(data, 6);
    if (fields.size() != 6) {
        return std::nullopt;
    }
    FileRecord record;
    record.relativePath = fields[0];
    record.stamp = fields[1];
    const auto *name = std::find(std::begin(stateNames), std::end(stateNames), fields[2]);
    if (name == std::end(stateNames)) {
        return std::nullopt;
    }
    record.state = static_cast<FileRecord::State>(name - std::begin(stateNames));
    record.nextPage = qMax(0, fields[3].toInt());
    record.milliseconds = qMax<qint64>(0, fields[4].toLongLong());
    record.characters = qMax<qint64>(0, fields[5].toLongLong());
    return record;
}

QString circularTitle(const QString &relativePath, const QString &ownTitle)
{
    const QString number = QFileInfo(relativePath).completeBaseName();
    // The circular's number always shows: it is how readers name circulars.
    if (ownTitle.contains(number)) {
        return ownTitle;
    }
    const QString title = QStringLiteral("Circular %1").arg(number);
    return ownTitle.isEmpty() ? title : title + QStringLiteral(": ") + ownTitle;
}

// One file a pass reads: from its first page, or from where an earlier pass stopped.
struct WorkItem {
    CollectionFile file;
    bool html = false;
    int fromPage = 0;
    qint64 milliseconds = 0;
    qint64 characters = 0;
};

// What the reader hands over, in order: a document begins (with its title), each of
// its pages, and its end (how it ended).
struct ReadEvent {
    enum class Kind { Begin, Page, End };
    enum class Ending { Read, Bounded, Unreadable };
    Kind kind = Kind::Begin;
    size_t item = 0;
    QString title;           // Begin
    int pageNumber = 0;      // Page: from 1 for a PDF, 0 for an HTML page
    QString text;            // Page: empty when the page has no text
    int nextPage = 0;        // Page: the index of the page after it
    qint64 milliseconds = 0; // Page and End: spent reading the document, over all passes
    qint64 characters = 0;   // Page and End: of text read from it, over all passes
    Ending ending = Ending::Read;
    QString skipReason; // End, when unreadable
};

// Reads the files of a pass, in order and page by page, on a thread of its own, a little
// ahead of the one taking the pages in. The reader stops between two pages when asked to.
// A page can take minutes to read and cannot be interrupted: when the one taking the pages
// gives up, it does not wait for such a page, but leaves the thread to end it alone. The
// thread's state is shared for that, and once left alone the thread touches nothing after
// its page (not even the PDF library, which may be going away with the program): it waits
// for the end of the process.
class DocumentReader {
public:
    DocumentReader(std::vector<WorkItem> work, const DocumentBounds &bounds)
        : m_state(std::make_shared<State>())
    {
        m_state->work = std::move(work);
        m_state->bounds = bounds;
        std::thread(&DocumentReader::run, m_state).detach();
    }

    ~DocumentReader()
    {
        std::unique_lock<std::mutex> lock(m_state->mutex);
        m_state->stop = true;
        m_state->changed.notify_all();
        // A page that ends soon is waited for; a slow one is left behind.
        if (!m_state->changed.wait_for(lock, leaveAfter, [this] { return m_state->ended; })) {
            m_state->leftAlone = true;
        }
    }

    DocumentReader(const DocumentReader &) = delete;
    DocumentReader &operator=(const DocumentReader &) = delete;

    const WorkItem &item(size_t index) const { return m_state->work[index]; }

    // The next event; none when everything is read, or once stop() answers true
    // (asked while waiting for the reader).
    std::optional<ReadEvent> next(const std::function<bool()> &stop)
    {
        std::unique_lock<std::mutex> lock(m_state->mutex);
        for (;;) {
            if (stop()) {
                return std::nullopt;
            }
            if (!m_state->ready.empty()) {
                break;
            }
            if (m_state->ended) {
                return std::nullopt;
            }
            m_state->changed.wait_for(lock, askStopEvery);
        }
        ReadEvent event = std::move(m_state->ready.front());
        m_state->ready.pop_front();
        m_state->queuedCharacters -= event.text.size();
        m_state->changed.notify_all();
        return event;
    }

    // How long the reader has been on page index of item, when that is the page it is
    // reading now; 0 otherwise.
    qint64 unfinishedPageMilliseconds(size_t item, int page) const
    {
        const std::lock_guard<std::mutex> lock(m_state->mutex);
        if (!m_state->busy || m_state->currentItem != item || m_state->currentPage != page) {
            return 0;
        }
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() -
                                                                     m_state->busySince)
            .count();
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr auto leaveAfter = std::chrono::milliseconds(200);
    static constexpr auto askStopEvery = std::chrono::milliseconds(50);
    // The reader keeps at most this much read and not yet taken.
    static constexpr size_t maxQueued = 64;
    static constexpr qint64 maxQueuedCharacters = 4 << 20;

    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<WorkItem> work;
        DocumentBounds bounds;
        std::deque<ReadEvent> ready;
        qint64 queuedCharacters = 0;
        bool stop = false;      // the one taking the pages wants no more
        bool leftAlone = false; // and did not wait for the thread to end
        bool ended = false;     // the thread has ended, or waits for the process to
        // The page being read (-1: the document being opened), and since when.
        bool busy = false;
        size_t currentItem = 0;
        int currentPage = -1;
        Clock::time_point busySince;
    };
    using StatePtr = std::shared_ptr<State>;

    // Waits for room for one more event; false when asked to stop.
    static bool waitForRoom(const StatePtr &s, std::unique_lock<std::mutex> &lock)
    {
        s->changed.wait(lock, [&s] {
            return s->stop || s->ready.empty() ||
                   (s->ready.size() < maxQueued && s->queuedCharacters < maxQueuedCharacters);
        });
        return !s->stop;
    }

    static void push(const StatePtr &s, ReadEvent event)
    {
        const std::lock_guard<std::mutex> lock(s->mutex);
        s->queuedCharacters += event.text.size();
        s->ready.push_back(std::move(event));
        s->changed.notify_all();
    }

    // Once left alone, the thread waits for the end of the process (holding on to the
    // document it has open).
    static void stayIfLeftAlone(const StatePtr &s, std::unique_lock<std::mutex> &lock)
    {
        if (s->leftAlone) {
            s->ended = true;
            s->changed.notify_all();
            s->changed.wait(lock, [] { return false; });
        }
    }

    static void stayIfLeftAlone(const StatePtr &s)
    {
        std::unique_lock<std::mutex> lock(s->mutex);
        stayIfLeftAlone(s, lock);
    }

    // Marks the start of a piece of work that cannot be interrupted; false when asked to
    // stop first.
    static bool begin(const StatePtr &s, size_t item, int page)
    {
        std::unique_lock<std::mutex> lock(s->mutex);
        stayIfLeftAlone(s, lock);
        if (!waitForRoom(s, lock)) {
            return false;
        }
        s->busy = true;
        s->currentItem = item;
        s->currentPage = page;
        s->busySince = Clock::now();
        return true;
    }

    // Marks its end. The one taking the pages may have given up meanwhile: the program is
    // ending, or the pass is, and the thread then touches nothing more.
    static void finish(const StatePtr &s)
    {
        std::unique_lock<std::mutex> lock(s->mutex);
        s->busy = false;
        stayIfLeftAlone(s, lock);
    }

    static void readHtml(const StatePtr &s, size_t index)
    {
        const WorkItem &item = s->work[index];
        if (!begin(s, index, 0)) {
            return;
        }
        QElapsedTimer timer;
        timer.start();
        DocumentText doc = readHtmlText(item.file.absolutePath);
        finish(s);
        ReadEvent event;
        event.item = index;
        event.title = doc.title;
        push(s, event);
        event.kind = ReadEvent::Kind::Page;
        event.milliseconds = timer.elapsed();
        if (!doc.pages.empty()) {
            event.text = std::move(doc.pages.front().text);
            event.characters = event.text.size();
        }
        event.nextPage = 1;
        push(s, event);
        event.kind = ReadEvent::Kind::End;
        event.text.clear();
        if (!doc.skipReason.isEmpty()) {
            event.ending = ReadEvent::Ending::Unreadable;
            event.skipReason = doc.skipReason;
        }
        push(s, event);
    }

    // False when asked to stop.
    static bool readPdf(const StatePtr &s, size_t index)
    {
        const WorkItem &item = s->work[index];
        const DocumentBounds &bounds = s->bounds;
        PdfTextReader reader;
        PdfTextReader *pdf = &reader;
        // Closing the document calls the PDF library: not once the thread is left alone.
        const auto beforeClosing = qScopeGuard([&s] { stayIfLeftAlone(s); });
        if (!begin(s, index, -1)) {
            return false;
        }
        QElapsedTimer timer;
        timer.start();
        const QString problem = pdf->open(item.file.absolutePath);
        finish(s);
        ReadEvent event;
        event.item = index;
        event.title = pdf->title();
        event.milliseconds = item.milliseconds + timer.elapsed();
        event.characters = item.characters;
        push(s, event);
        if (!problem.isEmpty()) {
            event.kind = ReadEvent::Kind::End;
            event.ending = ReadEvent::Ending::Unreadable;
            event.skipReason = problem;
            push(s, event);
            return true;
        }
        const int pages = pdf->pageCount();
        const int last = qMin(pages, bounds.maxPages);
        event.kind = ReadEvent::Kind::Page;
        event.ending = pages > last ? ReadEvent::Ending::Bounded : ReadEvent::Ending::Read;
        for (int page = item.fromPage; page < last; ++page) {
            // The first page is always read: it names the document.
            if (page > 0 && (event.milliseconds >= bounds.maxReadMilliseconds ||
                             event.characters >= bounds.maxCharacters)) {
                event.ending = ReadEvent::Ending::Bounded;
                break;
            }
            if (!begin(s, index, page)) {
                return false;
            }
            timer.restart();
            QString text = pdf->pageText(page);
            finish(s);
            event.milliseconds += timer.elapsed();
            event.text = text.trimmed().isEmpty() ? QString() : std::move(text);
            event.characters += event.text.size();
            event.pageNumber = page + 1;
            event.nextPage = page + 1;
            push(s, event);
        }
        event.kind = ReadEvent::Kind::End;
        event.text.clear();
        push(s, event);
        return true;
    }

    static void run(StatePtr s)
    {
        for (size_t index = 0; index < s->work.size(); ++index) {
            if (s->work[index].html) {
                readHtml(s, index);
            } else if (!readPdf(s, index)) {
                break;
            }
            const std::lock_guard<std::mutex> lock(s->mutex);
            if (s->stop) {
                break;
            }
        }
        const std::lock_guard<std::mutex> lock(s->mutex);
        s->ended = true;
        s->changed.notify_all();
    }

    StatePtr m_state;
};

} // namespace

QString documentKind(const QString &relativePath)
{
    const QString lower = relativePath.toLower();
    if (lower.endsWith(QLatin1String(".pdf"))) {
        return lower.startsWith(QLatin1String("circulares/")) ? kindCircular : kindManual;
    }
    if (lower.endsWith(QLatin1String(".htm")) || lower.endsWith(QLatin1String(".html"))) {
        return kindPage;
    }
    return {};
}

QString indexFolderFor(const Collection &collection, const QString &cacheFolder)
{
    const QDir cache(cacheFolder);
    const QString folder = cache.filePath(QStringLiteral("indice-") + collection.id().key());
    if (QFileInfo::exists(folder)) {
        return folder;
    }
    // Earlier versions named the index after the paths the collection was opened by; an
    // index under that name is taken over rather than built again.
    const QString earlierKey =
        QDir(collection.programFolder()).absolutePath() + u'\n' +
        (collection.userFolder().isEmpty() ? QString()
                                           : QDir(collection.userFolder()).absolutePath());
    const QString earlier = cache.filePath(
        QStringLiteral("indice-") +
        QString::fromLatin1(QCryptographicHash::hash(earlierKey.toUtf8(), QCryptographicHash::Sha1)
                                .toHex()
                                .left(16)));
    if (QFileInfo(earlier).isDir() && !QFileInfo(earlier).isSymLink()) {
        QDir().rename(earlier, folder);
    }
    return folder;
}

bool hasCollectionLayout(const Collection &collection)
{
    for (const QString &root : {collection.programFolder(), collection.userFolder()}) {
        if (root.isEmpty()) {
            continue;
        }
        for (const QLatin1String folder :
             {UpdateContract::pagesFolder, UpdateContract::circularsFolder}) {
            if (QFileInfo(QDir(root).filePath(folder)).isDir()) {
                return true;
            }
        }
    }
    return false;
}

QString notACollectionText(const QString &folder)
{
    return QStringLiteral("la carpeta %1 no es una colección: no tiene %2/ ni %3/")
        .arg(QDir::toNativeSeparators(folder), UpdateContract::pagesFolder,
             UpdateContract::circularsFolder);
}

// ---------------------------------------------------------------------------
// Writing

namespace {

// Why the index failed, in Spanish, for the reader.
QString indexErrorText(const Xapian::Error &error)
{
    // Xapian gives the system's error as text, on its own or within the message of an
    // error that wraps it; compared with the system's own text, in the same language.
    const char *system = error.get_error_string();
    const std::string description = error.get_description();
    const auto is = [system, &description](int code) {
        const char *text = std::strerror(code);
        return (system && std::strcmp(system, text) == 0) ||
               description.find(std::string("(") + text + ")") != std::string::npos;
    };
    if (is(ENOSPC) || is(EDQUOT) || is(EFBIG)) {
        return QStringLiteral("no queda espacio en el disco para el índice");
    }
    if (is(EACCES) || is(EPERM) || is(EROFS)) {
        return QStringLiteral("no se puede escribir en la carpeta del índice");
    }
    if (is(EIO)) {
        return QStringLiteral("error de lectura o escritura en el disco del índice");
    }
    const std::string type = error.get_type();
    if (type == "DatabaseLockError") {
        return QStringLiteral("otro programa está escribiendo en el índice");
    }
    if (type == "DatabaseCorruptError") {
        return QStringLiteral("el índice está dañado y no se pudo crear de nuevo");
    }
    return QStringLiteral("error del índice (%1)")
        .arg(QString::fromStdString(error.get_description()));
}

} // namespace

struct CollectionIndex::Private {
    std::optional<Xapian::WritableDatabase> db;
    SpanishStems stems;
    // Folded words already given a synonym in this pass.
    std::unordered_set<std::string> synonymsAdded;

    // The words of text with their stems: the page's at their positions
    // (position counts on), or with no position the title's, weighted.
    void addWords(Xapian::Document &doc, const QString &text, Xapian::termpos *position)
    {
        const Xapian::termcount weight = position ? 1 : titleWeight;
        for (const TextWord &word : splitWords(text)) {
            const std::string folded = utf8(word.folded);
            const QString lower =
                QStringView(text).mid(word.start, word.length).toString().toLower();
            const std::string &stem = stems.stemOf(lower);
            if (position) {
                doc.add_posting(folded, ++*position);
            } else {
                doc.add_term(folded, weight);
            }
            if (!isBareStem(stem, folded)) {
                doc.add_term(stem, weight);
            }
            if (lower != word.folded) {
                noteSynonym(folded, stem);
            }
        }
    }

    // A reader types "regulacion" for "regulación": where the stem of the
    // word without its accents differs from the stem of the word, the folded
    // word leads to the right stem through the synonym table.
    void noteSynonym(const std::string &folded, const std::string &stem)
    {
        if (synonymsAdded.count(folded) != 0) {
            return;
        }
        synonymsAdded.insert(folded);
        if (stems.stemOf(fromUtf8(folded)) != stem) {
            db->add_synonym(folded, stem);
        }
    }
};

CollectionIndex::CollectionIndex(Collection collection, QString indexFolder, DocumentBounds bounds)
    : m_collection(std::move(collection))
    , m_folder(std::move(indexFolder))
    , m_bounds(bounds)
    , d(std::make_unique<Private>())
{
}

CollectionIndex::~CollectionIndex()
{
    close();
}

CollectionIndex::OpenResult CollectionIndex::open()
{
    QDir().mkpath(m_folder);
    const std::string path = QFile::encodeName(m_folder).toStdString();
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            d->db.emplace(path, Xapian::DB_CREATE_OR_OPEN);
            if (d->db->get_metadata("format") != formatVersion) {
                // Another format, or a new index: start from nothing.
                d->db.reset();
                d->db.emplace(path, Xapian::DB_CREATE_OR_OVERWRITE);
                d->db->set_metadata("format", formatVersion);
                d->db->commit();
            }
            return OpenResult::Opened;
        } catch (const Xapian::DatabaseLockError &) {
            d->db.reset();
            return OpenResult::Busy;
        } catch (const Xapian::Error &) {
            // Damaged beyond opening (a crash in an unlucky moment, a full
            // disk): the index is only a cache, so it is built again.
            d->db.reset();
            QDir(m_folder).removeRecursively();
            QDir().mkpath(m_folder);
        }
    }
    return OpenResult::Failed;
}

void CollectionIndex::close()
{
    if (!d->db) {
        return;
    }
    try {
        d->db->commit();
        d->db->close();
    } catch (const Xapian::Error &) {
    }
    d->db.reset();
}

IndexProgress CollectionIndex::update(const ProgressFn &progress, const std::atomic_bool *cancel,
                                      QDeadlineTimer deadline)
{
    IndexProgress state;
    if (!hasCollectionLayout(m_collection)) {
        state.error = notACollectionText(m_collection.programFolder());
        return state;
    }
    if (!d->db) {
        state.finished = true;
        return state;
    }
    const std::function<bool()> stop = [cancel, deadline] {
        return (cancel && cancel->load()) || deadline.hasExpired();
    };
    try {
        return pass(progress, stop);
    } catch (const Xapian::Error &error) {
        qWarning("Índice de la colección dañado o inutilizable, se crea de nuevo: %s",
                 error.get_description().c_str());
    }
    // The index failed under the pass (damaged, a full disk): it is only a cache, so it is
    // built anew, once.
    try {
        d->db.reset();
        QDir(m_folder).removeRecursively();
        QDir().mkpath(m_folder);
        d->db.emplace(QFile::encodeName(m_folder).toStdString(), Xapian::DB_CREATE_OR_OVERWRITE);
        d->db->set_metadata("format", formatVersion);
        d->db->commit();
        return pass(progress, stop);
    } catch (const Xapian::Error &error) {
        d->db.reset();
        state.error = indexErrorText(error);
    }
    return state;
}

IndexProgress CollectionIndex::pass(const ProgressFn &progress, const std::function<bool()> &stop)
{
    IndexProgress state;
    Xapian::WritableDatabase &db = *d->db;
    d->synonymsAdded.clear();

    // What the index holds: one record per file.
    std::map<QString, FileRecord> recorded;
    for (auto it = db.allterms_begin("R"); it != db.allterms_end("R"); ++it) {
        Xapian::PostingIterator post = db.postlist_begin(*it);
        if (post == db.postlist_end(*it)) {
            continue;
        }
        if (std::optional<FileRecord> record = loadRecord(db.get_document(*post).get_data())) {
            recorded[record->relativePath] = std::move(*record);
        }
    }

    // The documents of the collection live in its three folders; nothing else of the
    // folder is read.
    std::vector<CollectionFile> files;
    for (const QLatin1String folder : {UpdateContract::pagesFolder, UpdateContract::manualsFolder,
                                       UpdateContract::circularsFolder}) {
        for (CollectionFile &file : m_collection.files(folder)) {
            if (!documentKind(file.relativePath).isEmpty()) {
                files.push_back(std::move(file));
            }
        }
    }
    std::sort(files.begin(), files.end(), [](const CollectionFile &a, const CollectionFile &b) {
        return a.relativePath < b.relativePath;
    });
    state.total = static_cast<int>(files.size());

    // Files gone from the collection.
    QSet<QString> present;
    for (const CollectionFile &file : files) {
        present.insert(file.relativePath);
    }
    bool changed = false;
    for (const auto &entry : recorded) {
        if (!present.contains(entry.first)) {
            db.delete_document(pathTerm('F', entry.first));
            changed = true;
        }
    }

    std::vector<WorkItem> work;
    for (const CollectionFile &file : files) {
        WorkItem item{file, documentKind(file.relativePath) == kindPage};
        const auto found = recorded.find(file.relativePath);
        if (found != recorded.end() && found->second.stamp == stampOf(file)) {
            const FileRecord &record = found->second;
            if (record.state != FileRecord::State::Interrupted) {
                ++state.done;
                state.skipped += record.state == FileRecord::State::Unreadable ? 1 : 0;
                continue;
            }
            item.fromPage = record.nextPage;
            item.milliseconds = record.milliseconds;
            item.characters = record.characters;
        }
        work.push_back(std::move(item));
    }
    if (changed) {
        db.commit();
    }
    if (progress) {
        progress(state);
    }

    if (work.empty() || stop()) {
        state.finished = state.done == state.total;
        if (progress && !work.empty()) {
            progress(state);
        }
        return state;
    }
    // The files are read on a thread of their own while the index takes in the pages
    // read before: reading a PDF and indexing its words then overlap.
    DocumentReader reader(std::move(work), m_bounds);
    QElapsedTimer sinceCommit;
    sinceCommit.start();
    int inBatch = 0;
    // The document whose pages are being taken in.
    std::optional<FileRecord> current;
    size_t currentItem = 0;
    QString title;
    const auto writeRecord = [&db](const FileRecord &record) {
        db.delete_document(pathTerm('R', record.relativePath));
        Xapian::Document doc;
        doc.add_boolean_term(pathTerm('R', record.relativePath));
        doc.add_boolean_term(pathTerm('F', record.relativePath));
        doc.set_data(storeRecord(record));
        db.add_document(doc);
    };
    while (std::optional<ReadEvent> event = reader.next(stop)) {
        const WorkItem &item = reader.item(event->item);
        const QString &relativePath = item.file.relativePath;
        const QString kind = documentKind(relativePath);
        switch (event->kind) {
        case ReadEvent::Kind::Begin:
            current = FileRecord{relativePath,  stampOf(item.file),  FileRecord::State::Interrupted,
                                 item.fromPage, event->milliseconds, event->characters};
            currentItem = event->item;
            title = event->title;
            if (kind == kindCircular) {
                title = circularTitle(relativePath, title);
            } else if (title.isEmpty()) {
                title = QFileInfo(relativePath).completeBaseName();
            }
            title = oneLine(title);
            // Going on inside a document keeps the pages read before; anything else
            // starts it afresh.
            db.delete_document(pathTerm(item.fromPage > 0 ? 'R' : 'F', relativePath));
            break;
        case ReadEvent::Kind::Page:
            if (!event->text.isEmpty()) {
                Xapian::Document doc;
                Xapian::termpos position = 0;
                d->addWords(doc, title, nullptr);
                d->addWords(doc, event->text, &position);
                doc.add_boolean_term(pathTerm('F', relativePath));
                doc.add_value(pathSlot, utf8(relativePath));
                doc.set_data(
                    storePage({relativePath, event->pageNumber, kind, title, event->text}));
                db.add_document(doc);
            }
            current->nextPage = event->nextPage;
            current->milliseconds = event->milliseconds;
            current->characters = event->characters;
            ++state.pages;
            if (progress) {
                progress(state);
            }
            break;
        case ReadEvent::Kind::End: {
            current->milliseconds = event->milliseconds;
            current->characters = event->characters;
            const bool unreadable =
                event->ending == ReadEvent::Ending::Unreadable ||
                (event->ending == ReadEvent::Ending::Read && current->characters == 0);
            current->state = unreadable ? FileRecord::State::Unreadable
                             : event->ending == ReadEvent::Ending::Bounded
                                 ? FileRecord::State::Bounded
                                 : FileRecord::State::Read;
            writeRecord(*current);
            current.reset();
            ++state.done;
            state.skipped += unreadable ? 1 : 0;
            ++inBatch;
            if (progress) {
                progress(state);
            }
            break;
        }
        }
        if (inBatch >= filesPerBatch || sinceCommit.elapsed() >= batchMilliseconds) {
            // Inside a long document, what is committed of it goes with a record of how far
            // it came: a program killed now goes on from there, and a file removed meanwhile
            // takes its pages out of the index.
            if (current) {
                writeRecord(*current);
            }
            db.commit();
            inBatch = 0;
            sinceCommit.restart();
        }
    }
    // Stopped inside a document: what was taken in of it stays, and the next pass goes on
    // from there, counting the time already spent on it (the page being read too).
    if (current) {
        current->milliseconds += reader.unfinishedPageMilliseconds(currentItem, current->nextPage);
        writeRecord(*current);
    }
    db.commit();
    state.finished = state.done == state.total;
    if (progress) {
        progress(state);
    }
    return state;
}

// ---------------------------------------------------------------------------
// Reading

namespace {

// The words that the query matches in a text, as folded words (exact) and
// stems.
struct WordMatcher {
    std::unordered_set<std::string> exact;
    std::unordered_set<std::string> stems;
    SpanishStems *stemmer = nullptr;

    bool matches(const QString &text, const TextWord &word) const
    {
        const std::string folded = utf8(word.folded);
        if (exact.count(folded) != 0) {
            return true;
        }
        return stems.count(stemmer->stemOf(
                   QStringView(text).mid(word.start, word.length).toString().toLower())) != 0;
    }
};

struct Snippet {
    QString text;
    QList<QPair<int, int>> marks;
    QString findText;
};

// About this many characters of text around the best cluster of words found.
constexpr qsizetype snippetLength = 220;

Snippet makeSnippet(const QString &text, const WordMatcher &matcher, const ParsedQuery &query)
{
    const std::vector<TextWord> words = splitWords(text);
    std::vector<size_t> hits;
    for (size_t i = 0; i < words.size(); ++i) {
        if (matcher.matches(text, words[i])) {
            hits.push_back(i);
        }
    }
    Snippet snippet;
    if (words.empty()) {
        return snippet;
    }
    // The window of text with the most words found, by their start.
    size_t bestFirst = 0;
    size_t bestCount = 0;
    for (size_t a = 0, b = 0; a < hits.size(); ++a) {
        while (b < hits.size() &&
               words[hits[b]].start - words[hits[a]].start < snippetLength * 2 / 3) {
            ++b;
        }
        if (b - a > bestCount) {
            bestCount = b - a;
            bestFirst = a;
        }
    }
    qsizetype from = 0;
    if (!hits.empty()) {
        const size_t firstWord = hits[bestFirst];
        from = words[firstWord > 4 ? firstWord - 4 : 0].start;
        if (words[hits[bestFirst]].start - from > snippetLength / 3) {
            from = words[hits[bestFirst]].start - snippetLength / 4;
        }
    }
    qsizetype to = std::min(text.size(), from + snippetLength);
    // End at a word's end.
    for (const TextWord &word : words) {
        if (word.start < to && word.start + word.length > to) {
            to = word.start + word.length;
            break;
        }
    }
    // Keep word boundaries at the start too.
    for (const TextWord &word : words) {
        if (word.start < from && word.start + word.length > from) {
            from = word.start;
            break;
        }
    }
    // Build the one-line text, mapping the marked words into it.
    QString out;
    if (from > 0) {
        out += QStringLiteral("… ");
    }
    const auto append = [&out](QStringView part) {
        const QString line = oneLine(part);
        if (line.isEmpty()) {
            if (!part.isEmpty() && !out.isEmpty() && !out.endsWith(u' ')) {
                out += u' ';
            }
            return;
        }
        if (!part.isEmpty() && part.front().isSpace() && !out.isEmpty() && !out.endsWith(u' ')) {
            out += u' ';
        }
        out += line;
        if (part.back().isSpace()) {
            out += u' ';
        }
    };
    qsizetype at = from;
    for (const size_t index : hits) {
        const TextWord &word = words[index];
        if (word.start < from || word.start + word.length > to) {
            continue;
        }
        append(QStringView(text).mid(at, word.start - at));
        const QString shown = oneLine(QStringView(text).mid(word.start, word.length));
        snippet.marks.append({static_cast<int>(out.size()), static_cast<int>(shown.size())});
        if (snippet.findText.isEmpty()) {
            snippet.findText = shown;
        }
        out += shown;
        at = word.start + word.length;
    }
    append(QStringView(text).mid(at, to - at));
    if (to < text.size()) {
        out = out.trimmed() + QStringLiteral(" …");
    }
    snippet.text = out;

    // For a phrase, the find bar looks for the whole phrase as it stands.
    for (const ParsedQuery::Part &part : query.parts) {
        if (!part.phrase || part.words.size() < 2) {
            continue;
        }
        for (size_t i = 0; i + part.words.size() <= words.size(); ++i) {
            bool all = true;
            for (qsizetype w = 0; w < part.words.size() && all; ++w) {
                all = words[i + w].folded == part.words.at(w);
            }
            if (all) {
                const TextWord &last = words[i + part.words.size() - 1];
                snippet.findText = oneLine(QStringView(text).mid(
                    words[i].start, last.start + last.length - words[i].start));
                return snippet;
            }
        }
    }
    return snippet;
}

} // namespace

struct CollectionSearch::Private {
    std::optional<Xapian::Database> db;
    SpanishStems stems;
};

CollectionSearch::CollectionSearch(Collection collection, QString indexFolder)
    : m_collection(std::move(collection))
    , m_folder(std::move(indexFolder))
    , d(std::make_unique<Private>())
{
}

CollectionSearch::~CollectionSearch() = default;

std::vector<SearchHit> CollectionSearch::search(const QString &text, int maxHits,
                                                const std::function<bool()> &stop)
{
    const ParsedQuery parsed = parseQuery(text);
    if (parsed.isEmpty() || maxHits <= 0) {
        return {};
    }
    for (int attempt = 0; attempt < 3; ++attempt) {
        try {
            if (!d->db) {
                if (!QFileInfo::exists(QDir(m_folder).filePath(QStringLiteral("iamglass")))) {
                    return {};
                }
                d->db.emplace(QFile::encodeName(m_folder).toStdString());
            } else {
                d->db->reopen(); // see what the writer has committed since
            }
            Xapian::Database &db = *d->db;

            WordMatcher matcher;
            matcher.stemmer = &d->stems;
            std::vector<Xapian::Query> required;
            std::vector<Xapian::Query> exactWords;
            for (const ParsedQuery::Part &part : parsed.parts) {
                if (part.phrase) {
                    std::vector<Xapian::Query> terms;
                    for (const QString &word : part.words) {
                        terms.emplace_back(utf8(word));
                        matcher.exact.insert(utf8(word));
                    }
                    required.emplace_back(
                        terms.size() == 1
                            ? terms.front()
                            : Xapian::Query(Xapian::Query::OP_PHRASE, terms.begin(), terms.end(),
                                            static_cast<Xapian::termcount>(terms.size())));
                    continue;
                }
                const std::string folded = utf8(part.words.front());
                std::vector<std::string> forms{folded, d->stems.stemOf(part.typed.front()),
                                               d->stems.stemOf(part.words.front())};
                for (auto it = db.synonyms_begin(folded); it != db.synonyms_end(folded); ++it) {
                    forms.push_back(*it);
                }
                for (size_t i = 0, stems = forms.size(); i < stems; ++i) {
                    if (forms[i].size() > 1 && forms[i].front() == 'Z') {
                        forms.push_back(forms[i].substr(1)); // see isBareStem
                    }
                }
                std::sort(forms.begin(), forms.end());
                forms.erase(std::unique(forms.begin(), forms.end()), forms.end());
                for (const std::string &form : forms) {
                    (form.front() == 'Z' ? matcher.stems : matcher.exact).insert(form);
                }
                required.emplace_back(Xapian::Query::OP_SYNONYM, forms.begin(), forms.end());
                exactWords.emplace_back(folded);
            }
            Xapian::Query query(Xapian::Query::OP_AND, required.begin(), required.end());
            // The words as typed, and standing together, rank higher.
            if (!exactWords.empty()) {
                query = Xapian::Query(
                    Xapian::Query::OP_AND_MAYBE, query,
                    Xapian::Query(Xapian::Query::OP_OR, exactWords.begin(), exactWords.end()));
            }
            if (exactWords.size() > 1) {
                const Xapian::Query together(Xapian::Query::OP_PHRASE, exactWords.begin(),
                                             exactWords.end(),
                                             static_cast<Xapian::termcount>(exactWords.size()));
                query = Xapian::Query(
                    Xapian::Query::OP_AND_MAYBE, query,
                    Xapian::Query(Xapian::Query::OP_SCALE_WEIGHT, together, phraseBoost));
            }

            Xapian::Enquire enquire(db);
            enquire.set_query(query);
            enquire.set_collapse_key(pathSlot);
            enquire.set_docid_order(Xapian::Enquire::ASCENDING);
            const Xapian::MSet mset = enquire.get_mset(0, static_cast<Xapian::doccount>(maxHits));

            std::vector<SearchHit> hits;
            hits.reserve(mset.size());
            for (auto it = mset.begin(); it != mset.end(); ++it) {
                if (stop && stop()) {
                    return {};
                }
                const StoredPage page = loadPage(it.get_document().get_data());
                const Snippet snippet = makeSnippet(page.text, matcher, parsed);
                SearchHit hit;
                hit.relativePath = page.relativePath;
                hit.absolutePath = m_collection.resolve(page.relativePath);
                hit.page = page.page;
                hit.title = page.title;
                hit.kind = page.kind;
                hit.snippet = snippet.text;
                hit.marks = snippet.marks;
                hit.findText = snippet.findText;
                hit.morePages = static_cast<int>(it.get_collapse_count());
                hits.push_back(std::move(hit));
            }
            return hits;
        } catch (const Xapian::DatabaseModifiedError &) {
            continue; // the writer moved on meanwhile: read again
        } catch (const Xapian::Error &) {
            d->db.reset(); // rebuilt or removed under us; no index to read now
            return {};
        } catch (const std::exception &) {
            return {}; // out of memory for the answer
        }
    }
    return {};
}

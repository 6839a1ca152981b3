// Xapian must come before Qt: it names a member "slots".
#include <xapian.h>

#include "searchindex.h"

#include "documenttext.h"
#include "pdftextprocess.h"
#include "searchquery.h"
#include "searchtext.h"
#include "updatecontract.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

namespace {

// Raised whenever the terms or the stored data change meaning: an index of
// another format is built anew. 8: the text of PDFs from Poppler, ligatures written out.
const std::string formatVersion = "8";

const QString kindCircular = QStringLiteral("circular");
const QString kindPage = QStringLiteral("página");

// Metadata of a pass that took in the whole collection: the fingerprint of its files
// (collectionFingerprint), and how many of them could not be read.
const std::string completeKey = "complete";
const std::string skippedKey = "skipped";

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

// One page of a stored document: its number (from 1; 0 for an HTML page) and its text.
struct StoredPage {
    int number = 0;
    QString text;
};

// A document's stored data: its path and title, a table of its pages (each page's number
// and the length of its text in bytes), then the pages' texts one after the other. The
// texts are there to find the page of each hit shown and to make its snippet; they are
// read back for those hits alone. The kind follows from the path. The index compresses
// stored data itself.
struct StoredDocument {
    QString relativePath;
    QString title;
    std::vector<StoredPage> pages;
};

std::string storeDocument(const QString &relativePath, const QString &title,
                          const std::string &table, const std::string &texts)
{
    std::string data = joinFields({relativePath, title});
    data += '\0';
    data += table;
    data += '\0';
    data += texts;
    return data;
}

// The document as stored; withText false leaves the pages out. A table that does not
// fit the texts (data damaged on the disk) ends the pages where it stops fitting.
StoredDocument loadDocument(const std::string &data, bool withText)
{
    StoredDocument doc;
    size_t at = 0;
    std::string fields[3];
    for (std::string &field : fields) {
        const size_t end = data.find('\0', at);
        if (end == std::string::npos) {
            return {};
        }
        field = data.substr(at, end - at);
        at = end + 1;
    }
    doc.relativePath = fromUtf8(fields[0]);
    doc.title = fromUtf8(fields[1]);
    if (!withText) {
        return doc;
    }
    const QList<QByteArray> table = QByteArray::fromStdString(fields[2]).split(' ');
    for (qsizetype i = 0; i + 1 < table.size(); i += 2) {
        bool numberOk = false;
        bool lengthOk = false;
        const int number = table[i].toInt(&numberOk);
        const qulonglong length = table[i + 1].toULongLong(&lengthOk);
        if (!numberOk || !lengthOk || length > data.size() - at) {
            break;
        }
        doc.pages.push_back(
            {number, QString::fromUtf8(data.data() + at, static_cast<qsizetype>(length))});
        at += length;
    }
    return doc;
}

// What a file was when it was last indexed.
QString stampOf(const CollectionFile &file)
{
    return QStringLiteral("%1 %2 %3")
        .arg(file.size)
        .arg(file.modified.toMSecsSinceEpoch())
        .arg(file.absolutePath);
}

// The names and stamps of the files of a collection, in their order, summed up.
std::string collectionFingerprint(const std::vector<CollectionFile> &files)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const CollectionFile &file : files) {
        hash.addData((file.relativePath + u'\0' + stampOf(file) + u'\0').toUtf8());
    }
    return hash.result().toHex().toStdString();
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

// The terms of the words of pages, made on one thread. Each word as it stands in the text
// is folded and stemmed once; after that it is found again by its letters alone, without
// making a string.
class TermMaker {
public:
    // Words whose folded form stems otherwise than the word: the folded word leads to the
    // word's stem through the index's synonym table (a reader types "regulacion" for
    // "regulación"). Filled by addWords, taken by the one writing to the index.
    std::vector<std::pair<std::string, std::string>> synonyms;

    // The words of text with their stems: the page's at their positions (position counts
    // on), or with no position the title's, weighted.
    void addWords(Xapian::Document &doc, QStringView text, Xapian::termpos *position)
    {
        const Xapian::termcount weight = position ? 1 : titleWeight;
        qsizetype length = 0;
        for (qsizetype at = nextWord(text, 0, &length); at >= 0;
             at = nextWord(text, at + length, &length)) {
            const Terms &terms = termsOf(text.mid(at, length));
            if (position) {
                doc.add_posting(terms.folded, ++*position);
            } else {
                doc.add_term(terms.folded, weight);
            }
            if (!terms.stem.empty()) {
                doc.add_term(terms.stem, weight);
            }
            if (!terms.synonym.empty() && m_synonymsNoted.insert(terms.folded).second) {
                synonyms.emplace_back(terms.folded, terms.synonym);
            }
        }
    }

    struct Terms {
        std::string folded;
        std::string stem;    // empty when the word is its own stem (see isBareStem)
        std::string synonym; // the stem the folded word leads to, when it stems otherwise
    };

    // The terms of one word as it stands in a text; valid until the next call.
    const Terms &termsOf(QStringView word)
    {
        m_key.assign(reinterpret_cast<const char16_t *>(word.utf16()),
                     static_cast<size_t>(word.size()));
        const auto found = m_words.find(m_key);
        if (found != m_words.end()) {
            return found->second;
        }
        if (m_words.size() > 200000) {
            m_words.clear();
        }
        const QString folded = foldWord(word);
        const QString lower = word.toString().toLower();
        Terms terms;
        terms.folded = utf8(folded);
        const std::string &stem = m_stems.stemOf(lower);
        if (!isBareStem(stem, terms.folded)) {
            terms.stem = stem;
        }
        if (lower != folded && m_stems.stemOf(folded) != stem) {
            terms.synonym = stem;
        }
        return m_words.emplace(m_key, std::move(terms)).first->second;
    }

private:
    SpanishStems m_stems;
    std::u16string m_key;
    std::unordered_map<std::u16string, Terms> m_words;
    std::unordered_set<std::string> m_synonymsNoted;
};

// One file a pass reads: from its first page, or from where an earlier pass stopped.
struct WorkItem {
    CollectionFile file;
    bool html = false;
    int fromPage = 0;
    qint64 milliseconds = 0;
    qint64 characters = 0;
};

// The title a document is found by: a circular's always names its number.
QString documentTitle(const QString &relativePath, const QString &ownTitle)
{
    QString title = ownTitle;
    if (documentKind(relativePath) == kindCircular) {
        title = circularTitle(relativePath, title);
    } else if (title.isEmpty()) {
        title = QFileInfo(relativePath).completeBaseName();
    }
    return oneLine(title);
}

// Words on two pages never stand this close together: a phrase does not run on from
// the end of one page into the next.
constexpr Xapian::termpos pageGap = 100;
// A document being read is handed over in parts once a part holds this much text: a long
// PDF cut short by a killed program loses at most that. The cut depends on the text alone,
// never on how long reading took, so that what a search finds does not depend on how busy
// the machine was while the index was made.
constexpr qint64 partCharacters = qint64(4) << 20;

// One document of the index in the making: the pages of one file read one after the
// other (all of it, unless the file is long or a pass stopped inside it). Its words carry
// positions across its pages, with a gap between two pages.
struct DocumentPart {
    size_t item = 0;
    QString relativePath;
    QString title;
    int nextPage = 0; // the index (from 0) of the page after its last one
    Xapian::Document doc;
    Xapian::termpos position = 0;
    std::string table; // see storeDocument
    std::string texts;
    qint64 characters = 0;
    qint64 milliseconds = 0; // spent reading its pages
    // The synonyms its words brought.
    std::vector<std::pair<std::string, std::string>> synonyms;

    bool empty() const { return table.empty(); }
};

std::unique_ptr<DocumentPart> newPart(TermMaker &terms, size_t item, const QString &relativePath,
                                      const QString &title)
{
    auto part = std::make_unique<DocumentPart>();
    part->item = item;
    part->relativePath = relativePath;
    part->title = title;
    terms.addWords(part->doc, title, nullptr);
    return part;
}

void addPage(TermMaker &terms, DocumentPart &part, int pageNumber, const QString &text)
{
    if (!part.empty()) {
        part.position += pageGap;
    }
    terms.addWords(part.doc, text, &part.position);
    const QByteArray bytes = text.toUtf8();
    part.table += std::to_string(pageNumber) + ' ' + std::to_string(bytes.size()) + ' ';
    part.texts.append(bytes.constData(), static_cast<size_t>(bytes.size()));
    part.characters += text.size();
    for (auto &synonym : terms.synonyms) {
        part.synonyms.push_back(std::move(synonym));
    }
    terms.synonyms.clear();
}

// The index's document of a part, ready to add.
std::shared_ptr<Xapian::Document> finishPart(DocumentPart &part)
{
    auto doc = std::make_shared<Xapian::Document>(std::move(part.doc));
    doc->add_boolean_term(pathTerm('F', part.relativePath));
    doc->add_value(pathSlot, utf8(part.relativePath));
    doc->set_data(storeDocument(part.relativePath, part.title, part.table, part.texts));
    return doc;
}

// What the reader hands over, in order: a document begins, each of its pages (how far
// the reading came), the parts of it made ready for the index (one for most files), and
// its end (how it ended).
struct ReadEvent {
    enum class Kind { Begin, Page, Part, End };
    enum class Ending { Read, Bounded, Unreadable };
    Kind kind = Kind::Begin;
    size_t item = 0;
    // Part: the document made of the pages read since the last part, ready for the index,
    // with the synonyms its words brought.
    std::shared_ptr<Xapian::Document> document;
    std::vector<std::pair<std::string, std::string>> synonyms;
    qint64 size = 0;         // Part: characters of its text, as the queue counts them
    int nextPage = 0;        // Page and Part: the index of the page after it
    qint64 milliseconds = 0; // Page and End: spent reading the document, over all passes
    qint64 characters = 0;   // Page and End: of text read from it, over all passes
    Ending ending = Ending::Read;
    QString skipReason; // End, when unreadable
};

ReadEvent partEvent(std::unique_ptr<DocumentPart> part)
{
    ReadEvent event;
    event.kind = ReadEvent::Kind::Part;
    event.item = part->item;
    event.size = part->characters;
    event.nextPage = part->nextPage;
    event.synonyms = std::move(part->synonyms);
    event.document = finishPart(*part);
    return event;
}

// Reads the files of a pass, page by page, a little ahead of the one taking the pages in,
// on two threads ("lanes") that take every other file. Each lane asks a PDF reader process
// of its own for the pages (PdfTextProcess), so both read at once, and turns the pages into
// the index's terms itself: the one taking the pages only adds finished documents. Each
// lane gathers the pages of a file into one document of the index, handed over when the
// file ends (or in parts, see partCharacters). The events come out in the order of the
// files all the same. The lanes stop between two pages when asked to, and the pages gathered
// so far are then taken from them (takeRest). A page being read when the lanes are told to
// stop is not waited for: its reader is killed. A reader that dies is given one more try in a
// new reader (see PdfTextProcess): it may have been killed from outside. A reader that crashes
// on a file again, or takes more than DocumentBounds::readerMilliseconds of its processor
// time over one page (or does nothing for ten times that), is killed too: the file keeps the
// pages read before and is never read further until it changes (with none read, it is
// unreadable); the next file gets a new reader.
class DocumentReader {
public:
    DocumentReader(std::vector<WorkItem> work, const DocumentBounds &bounds,
                   const QString &readerProgram)
        : m_work(std::move(work))
    {
        const size_t lanes = std::min<size_t>(laneCount, std::max<size_t>(1, m_work.size()));
        for (size_t lane = 0; lane < lanes; ++lane) {
            auto state = std::make_unique<State>();
            state->work = &m_work;
            state->bounds = bounds;
            state->readerProgram = readerProgram;
            state->first = lane;
            state->step = lanes;
            m_lanes.push_back(std::move(state));
        }
        for (const StatePtr &s : m_lanes) {
            m_threads.emplace_back(&DocumentReader::run, s.get());
        }
    }

    // Stops the lanes and waits for them: none is ever inside a page it cannot leave, and
    // each kills its reader on the way out.
    ~DocumentReader()
    {
        for (const StatePtr &s : m_lanes) {
            const std::lock_guard<std::mutex> lock(s->mutex);
            s->stop = true;
            s->changed.notify_all();
        }
        for (std::thread &thread : m_threads) {
            thread.join();
        }
    }

    DocumentReader(const DocumentReader &) = delete;
    DocumentReader &operator=(const DocumentReader &) = delete;

    const WorkItem &item(size_t index) const { return m_work[index]; }

    // Why a lane could not read PDFs at all (its reader cannot be started); empty
    // otherwise. next() then ends early.
    QString unavailable() const
    {
        for (const StatePtr &s : m_lanes) {
            const std::lock_guard<std::mutex> lock(s->mutex);
            if (!s->unavailable.isEmpty()) {
                return s->unavailable;
            }
        }
        return {};
    }

    // The next event; none when everything is read, or once stop() answers true
    // (asked while waiting for the reader).
    std::optional<ReadEvent> next(const std::function<bool()> &stop)
    {
        if (m_nextItem >= m_work.size()) {
            return std::nullopt;
        }
        State *s = m_lanes[m_nextItem % m_lanes.size()].get();
        std::unique_lock<std::mutex> lock(s->mutex);
        for (;;) {
            if (stop()) {
                return std::nullopt;
            }
            if (!s->ready.empty()) {
                break;
            }
            if (s->ended) {
                return std::nullopt;
            }
            s->changed.wait_for(lock, askStopEvery);
        }
        ReadEvent event = std::move(s->ready.front());
        s->ready.pop_front();
        s->queuedCharacters -= event.size;
        s->changed.notify_all();
        if (event.kind == ReadEvent::Kind::End) {
            ++m_nextItem;
        }
        return event;
    }

    // Once next() has given up inside item: what is left of it, the events ready and the
    // pages gathered since the last part, so that nothing read is lost. Waits for a page
    // being turned into terms (not for one being read).
    std::vector<ReadEvent> takeRest(size_t item)
    {
        State *s = m_lanes[item % m_lanes.size()].get();
        std::unique_lock<std::mutex> lock(s->mutex);
        s->changed.wait_for(lock, takeRestWait, [s] { return !s->building; });
        std::vector<ReadEvent> rest;
        while (!s->ready.empty() && s->ready.front().item == item) {
            rest.push_back(std::move(s->ready.front()));
            s->ready.pop_front();
        }
        if (!s->building && s->part && s->part->item == item && !s->part->empty()) {
            rest.push_back(partEvent(std::move(s->part)));
        }
        s->changed.notify_all();
        return rest;
    }

    // How long the reader has been on page index of item, when that is the page it is
    // reading now; 0 otherwise.
    qint64 unfinishedPageMilliseconds(size_t item, int page) const
    {
        State *s = m_lanes[item % m_lanes.size()].get();
        const std::lock_guard<std::mutex> lock(s->mutex);
        if (!s->busy || s->currentItem != item || s->currentPage != page) {
            return 0;
        }
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - s->busySince)
            .count();
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr size_t laneCount = 2;
    static constexpr auto takeRestWait = std::chrono::milliseconds(200);
    static constexpr auto askStopEvery = std::chrono::milliseconds(50);
    // Each lane keeps at most this much read and not yet taken.
    static constexpr size_t maxQueued = 64;
    static constexpr qint64 maxQueuedCharacters = 2 << 20;

    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        const std::vector<WorkItem> *work = nullptr;
        size_t first = 0; // the lane reads work[first], work[first + step], ...
        size_t step = 1;
        DocumentBounds bounds;
        QString readerProgram;
        TermMaker terms; // the lane's own: used by its thread alone
        // The document the lane is gathering, between two of its pages; out of here while
        // the lane adds a page to it (building).
        std::unique_ptr<DocumentPart> part;
        bool building = false;
        std::deque<ReadEvent> ready;
        qint64 queuedCharacters = 0;
        std::atomic_bool stop{false}; // the one taking the pages wants no more
        bool ended = false;           // the thread has ended
        QString unavailable;          // why the lane's PDF reader cannot be started
        // The page being read (-1: the document being opened), and since when.
        bool busy = false;
        size_t currentItem = 0;
        int currentPage = -1;
        Clock::time_point busySince;
    };
    using StatePtr = std::unique_ptr<State>;

    // Waits for room for one more event, then marks the start of reading page of item;
    // false when asked to stop first.
    static bool begin(State *s, size_t item, int page)
    {
        std::unique_lock<std::mutex> lock(s->mutex);
        s->changed.wait(lock, [s] {
            return s->stop || s->ready.empty() ||
                   (s->ready.size() < maxQueued && s->queuedCharacters < maxQueuedCharacters);
        });
        if (s->stop) {
            return false;
        }
        s->busy = true;
        s->currentItem = item;
        s->currentPage = page;
        s->busySince = Clock::now();
        return true;
    }

    static void finish(State *s)
    {
        const std::lock_guard<std::mutex> lock(s->mutex);
        s->busy = false;
    }

    static void push(State *s, ReadEvent &&event)
    {
        const std::lock_guard<std::mutex> lock(s->mutex);
        s->queuedCharacters += event.size;
        s->ready.push_back(std::move(event));
        s->changed.notify_all();
    }

    // Adds a page read to the lane's document in the making (a new one when there is
    // none, or the one taking the pages took it), and hands that over when it is full.
    static void gather(State *s, size_t index, const QString &title, int pageNumber,
                       const QString &text, qint64 milliseconds)
    {
        if (text.trimmed().isEmpty()) {
            return;
        }
        std::unique_ptr<DocumentPart> part;
        {
            const std::lock_guard<std::mutex> lock(s->mutex);
            part = std::move(s->part);
            s->building = true;
        }
        if (!part || part->item != index) {
            part = newPart(s->terms, index, (*s->work)[index].file.relativePath, title);
        }
        addPage(s->terms, *part, pageNumber, text);
        part->nextPage = qMax(pageNumber, 1);
        part->milliseconds += milliseconds;
        const bool full = part->characters >= partCharacters;
        {
            const std::lock_guard<std::mutex> lock(s->mutex);
            s->building = false;
            if (full) {
                s->queuedCharacters += part->characters;
                s->ready.push_back(partEvent(std::move(part)));
            } else {
                s->part = std::move(part);
            }
            s->changed.notify_all();
        }
    }

    // Hands over what is gathered of the document, at its end.
    static void handOver(State *s, size_t index)
    {
        const std::lock_guard<std::mutex> lock(s->mutex);
        if (s->part && s->part->item == index && !s->part->empty()) {
            s->queuedCharacters += s->part->characters;
            s->ready.push_back(partEvent(std::move(s->part)));
            s->changed.notify_all();
        }
        s->part.reset();
    }

    // False when asked to stop.
    static bool readHtml(State *s, size_t index)
    {
        const WorkItem &item = (*s->work)[index];
        if (!begin(s, index, 0)) {
            return false;
        }
        QElapsedTimer timer;
        timer.start();
        DocumentText doc = readHtmlText(item.file.absolutePath);
        finish(s);
        ReadEvent begun;
        begun.item = index;
        push(s, std::move(begun));
        const qint64 milliseconds = timer.elapsed();
        qint64 characters = 0;
        if (!doc.pages.empty()) {
            const QString &text = doc.pages.front().text;
            characters = text.size();
            gather(s, index, documentTitle(item.file.relativePath, doc.title), 0, text,
                   milliseconds);
        }
        handOver(s, index);
        ReadEvent page;
        page.kind = ReadEvent::Kind::Page;
        page.item = index;
        page.nextPage = 1;
        page.milliseconds = milliseconds;
        page.characters = characters;
        push(s, std::move(page));
        ReadEvent end;
        end.kind = ReadEvent::Kind::End;
        end.item = index;
        end.milliseconds = milliseconds;
        end.characters = characters;
        if (!doc.skipReason.isEmpty()) {
            end.ending = ReadEvent::Ending::Unreadable;
            end.skipReason = doc.skipReason;
        }
        push(s, std::move(end));
        return true;
    }

    // True when the lane ends at the reader's answer: asked to stop, or no reader can be
    // started (which says nothing of the file being read: it is not recorded).
    static bool endsLane(State *s, const PdfTextProcess &pdf, PdfTextProcess::Outcome outcome)
    {
        if (outcome == PdfTextProcess::Outcome::Unavailable) {
            const std::lock_guard<std::mutex> lock(s->mutex);
            s->unavailable = pdf.unavailable();
            return true;
        }
        return outcome == PdfTextProcess::Outcome::Stopped;
    }

    // False when asked to stop, or when the reader cannot be started.
    static bool readPdf(State *s, PdfTextProcess &pdf, size_t index)
    {
        using Outcome = PdfTextProcess::Outcome;
        const WorkItem &item = (*s->work)[index];
        const DocumentBounds &bounds = s->bounds;
        const std::function<bool()> stop = [s] { return s->stop.load(); };
        if (!begin(s, index, -1)) {
            return false;
        }
        QString problem;
        QString ownTitle;
        int pages = 0;
        const Outcome opened = pdf.open(item.file.absolutePath, bounds.readerMilliseconds, stop,
                                        &problem, &pages, &ownTitle);
        finish(s);
        if (endsLane(s, pdf, opened)) {
            return false;
        }
        if (opened == Outcome::Failed) {
            problem = QStringLiteral("el lector de PDF falló con este archivo");
        }
        const QString title = documentTitle(item.file.relativePath, ownTitle);
        // Reading time is the reader's processor time: at low priority on a busy machine it
        // may wait long for a processor, which says nothing of the file.
        qint64 milliseconds =
            item.milliseconds + (opened == Outcome::Answered ? pdf.lastMilliseconds() : 0);
        qint64 characters = item.characters;
        ReadEvent begun;
        begun.item = index;
        push(s, std::move(begun));
        ReadEvent end;
        end.kind = ReadEvent::Kind::End;
        end.item = index;
        if (!problem.isEmpty()) {
            end.milliseconds = milliseconds;
            end.characters = characters;
            end.ending = ReadEvent::Ending::Unreadable;
            end.skipReason = problem;
            push(s, std::move(end));
            return true;
        }
        const int last = qMin(pages, bounds.maxPages);
        end.ending = pages > last ? ReadEvent::Ending::Bounded : ReadEvent::Ending::Read;
        for (int page = item.fromPage; page < last; ++page) {
            // The first page is always read: it names the document.
            if (page > 0 && (milliseconds >= bounds.maxReadMilliseconds ||
                             characters >= bounds.maxCharacters)) {
                end.ending = ReadEvent::Ending::Bounded;
                break;
            }
            if (!begin(s, index, page)) {
                return false;
            }
            QString text;
            const Outcome read = pdf.pageText(page, bounds.readerMilliseconds, stop, &text);
            finish(s);
            const qint64 spent = read == Outcome::Answered ? pdf.lastMilliseconds() : 0;
            milliseconds += spent;
            if (endsLane(s, pdf, read)) {
                return false; // the next pass goes on from this page
            }
            if (read != Outcome::Answered) {
                // The reader crashed or hung on this page, and is gone: the pages read so
                // far stay, the rest is never read (unless the file changes).
                end.ending =
                    characters > 0 ? ReadEvent::Ending::Bounded : ReadEvent::Ending::Unreadable;
                end.skipReason = QStringLiteral("el lector de PDF falló con este archivo");
                break;
            }
            gather(s, index, title, page + 1, text, spent);
            if (!text.trimmed().isEmpty()) {
                characters += text.size();
            }
            ReadEvent event;
            event.kind = ReadEvent::Kind::Page;
            event.item = index;
            event.nextPage = page + 1;
            event.milliseconds = milliseconds;
            event.characters = characters;
            push(s, std::move(event));
        }
        handOver(s, index);
        end.milliseconds = milliseconds;
        end.characters = characters;
        push(s, std::move(end));
        return true;
    }

    static void run(State *s)
    {
        PdfTextProcess pdf(s->readerProgram);
        for (size_t index = s->first; index < s->work->size(); index += s->step) {
            const bool goOn = (*s->work)[index].html ? readHtml(s, index) : readPdf(s, pdf, index);
            if (!goOn || s->stop) {
                break;
            }
        }
        pdf.kill();
        const std::lock_guard<std::mutex> lock(s->mutex);
        s->ended = true;
        s->changed.notify_all();
    }

    const std::vector<WorkItem> m_work;
    std::vector<StatePtr> m_lanes;
    std::vector<std::thread> m_threads;
    size_t m_nextItem = 0; // the item whose events come next
};

} // namespace

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
    // Folded words already given a synonym in this pass.
    std::unordered_set<std::string> synonymsAdded;
};

CollectionIndex::CollectionIndex(Collection collection, QString indexFolder, DocumentBounds bounds,
                                 QString readerProgram)
    : m_collection(std::move(collection))
    , m_folder(std::move(indexFolder))
    , m_bounds(bounds)
    , m_readerProgram(readerProgram.isEmpty() ? pdfTextReaderProgram() : std::move(readerProgram))
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

    // A collection as it was when a pass last took in all of it needs nothing more: its
    // files' names and stamps, summed up, are what that pass recorded.
    const std::string fingerprint = collectionFingerprint(files);
    if (db.get_metadata(completeKey) == fingerprint) {
        state.done = state.total;
        state.skipped = QString::fromStdString(db.get_metadata(skippedKey)).toInt();
        state.finished = true;
        if (progress) {
            progress(state);
        }
        return state;
    }
    // Whatever this pass changes, it no longer is the collection that was complete: the
    // mark goes with the first change committed.
    db.set_metadata(completeKey, std::string());
    const auto markIfComplete = [&] {
        state.finished = state.done == state.total;
        if (state.finished) {
            db.set_metadata(completeKey, fingerprint);
            db.set_metadata(skippedKey, std::to_string(state.skipped));
        }
        db.commit();
    };

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
        markIfComplete();
        if (progress && !work.empty()) {
            progress(state);
        }
        return state;
    }
    // The files are read on threads of their own, each with its PDF reader process, while
    // the index takes in the pages read before: reading and indexing overlap.
    DocumentReader reader(std::move(work), m_bounds, m_readerProgram);
    QElapsedTimer sinceCommit;
    sinceCommit.start();
    int inBatch = 0;
    // The document whose pages are being taken in.
    std::optional<FileRecord> current;
    size_t currentItem = 0;
    const auto writeRecord = [&db](const FileRecord &record) {
        db.delete_document(pathTerm('R', record.relativePath));
        Xapian::Document doc;
        doc.add_boolean_term(pathTerm('R', record.relativePath));
        doc.add_boolean_term(pathTerm('F', record.relativePath));
        doc.set_data(storeRecord(record));
        db.add_document(doc);
    };
    const auto take = [&](ReadEvent &event) {
        const WorkItem &item = reader.item(event.item);
        const QString &relativePath = item.file.relativePath;
        switch (event.kind) {
        case ReadEvent::Kind::Begin:
            current = FileRecord{relativePath,  stampOf(item.file), FileRecord::State::Interrupted,
                                 item.fromPage, event.milliseconds, event.characters};
            currentItem = event.item;
            // Going on inside a document keeps the pages read before; anything else
            // starts it afresh.
            db.delete_document(pathTerm(item.fromPage > 0 ? 'R' : 'F', relativePath));
            break;
        case ReadEvent::Kind::Part:
            db.add_document(*event.document);
            event.document.reset();
            for (const auto &[folded, stem] : event.synonyms) {
                if (d->synonymsAdded.insert(folded).second) {
                    db.add_synonym(folded, stem);
                }
            }
            current->nextPage = event.nextPage;
            break;
        case ReadEvent::Kind::Page:
            current->milliseconds = event.milliseconds;
            current->characters = event.characters;
            ++state.pages;
            if (progress) {
                progress(state);
            }
            break;
        case ReadEvent::Kind::End: {
            current->milliseconds = event.milliseconds;
            current->characters = event.characters;
            const bool unreadable =
                event.ending == ReadEvent::Ending::Unreadable ||
                (event.ending == ReadEvent::Ending::Read && current->characters == 0);
            current->state = unreadable ? FileRecord::State::Unreadable
                             : event.ending == ReadEvent::Ending::Bounded
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
    };
    while (std::optional<ReadEvent> event = reader.next(stop)) {
        take(*event);
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
    // Stopped inside a document: what was read of it stays (the pages the reader gathered
    // too), and the next pass goes on from there, counting the time already spent on it
    // (the page being read too).
    if (current) {
        for (ReadEvent &event : reader.takeRest(currentItem)) {
            take(event);
        }
    }
    if (current) {
        current->milliseconds += reader.unfinishedPageMilliseconds(currentItem, current->nextPage);
        writeRecord(*current);
    }
    // Without a PDF reader no PDF is recorded at all: they are read once there is one.
    state.error = reader.unavailable();
    markIfComplete();
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

// What one part of a query looks for on a page: a word in any of its forms, or the words
// of a phrase in a row.
struct PartForms {
    std::unordered_set<std::string> exact; // folded words
    std::unordered_set<std::string> stems;
    std::vector<std::string> phrase; // folded words in order; empty for a single word
};

// How well a page answers a query, best last.
struct PageScore {
    int parts = 0;         // parts of the query that stand on the page
    bool together = false; // the single words as typed, in a row
    int words = 0;         // words of the page that the query looks for
    bool operator<(const PageScore &other) const
    {
        return std::tie(parts, together, words) <
               std::tie(other.parts, other.together, other.words);
    }
};

// Whether the words seen last (recent, the newest at position newest of the ring) end
// with the words of phrase.
bool endsWith(const std::vector<std::string> &recent, size_t newest, size_t seen,
              const std::vector<std::string> &phrase)
{
    if (phrase.empty() || phrase.size() > seen || phrase.size() > recent.size()) {
        return false;
    }
    for (size_t back = 0; back < phrase.size(); ++back) {
        const size_t at = (newest + recent.size() - back) % recent.size();
        if (recent[at] != phrase[phrase.size() - 1 - back]) {
            return false;
        }
    }
    return true;
}

// The first two letters of a word (one for a word of one), as a key: 0 when they are not
// plain ASCII letters or digits, whose folded form is not told without folding.
quint32 leadOf(QStringView word)
{
    const auto plain = [](char16_t c) {
        return (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9');
    };
    const auto lower = [](char16_t c) {
        return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + (u'a' - u'A')) : c;
    };
    const char16_t first = lower(word[0].unicode());
    const char16_t second = word.size() > 1 ? lower(word[1].unicode()) : u'\0';
    if (!plain(first) || (word.size() > 1 && !plain(second))) {
        return 0;
    }
    return (quint32(first) << 16) | second;
}

// The leads of the words a query looks for: a word of the text with another lead is
// none of them, nor has a stem among them (a Spanish stem begins as its word does,
// folded), and is passed over without its terms.
std::vector<quint32> leadsOf(const std::vector<PartForms> &parts,
                             const std::vector<std::string> &together)
{
    std::vector<quint32> leads;
    const auto add = [&leads](const std::string &form) {
        const QString word = fromUtf8(form.front() == 'Z' ? form.substr(1) : form);
        if (!word.isEmpty()) {
            leads.push_back(leadOf(word));
        }
    };
    for (const PartForms &part : parts) {
        std::for_each(part.exact.begin(), part.exact.end(), add);
        std::for_each(part.stems.begin(), part.stems.end(), add);
        std::for_each(part.phrase.begin(), part.phrase.end(), add);
    }
    std::for_each(together.begin(), together.end(), add);
    std::sort(leads.begin(), leads.end());
    leads.erase(std::unique(leads.begin(), leads.end()), leads.end());
    return leads;
}

PageScore scorePage(QStringView text, const std::vector<PartForms> &parts,
                    const std::vector<std::string> &together, const std::vector<quint32> &leads,
                    TermMaker &terms)
{
    // A lead of 0 stands for words that cannot be told by their lead: all are looked at.
    const bool everyWord = !leads.empty() && leads.front() == 0;
    size_t longest = together.size();
    for (const PartForms &part : parts) {
        longest = std::max(longest, part.phrase.size());
    }
    // The last words seen, folded, for the phrases.
    std::vector<std::string> recent(longest);
    size_t newest = 0;
    size_t seen = 0;
    std::vector<bool> found(parts.size(), false);
    PageScore score;
    qsizetype length = 0;
    for (qsizetype at = nextWord(text, 0, &length); at >= 0;
         at = nextWord(text, at + length, &length)) {
        const QStringView raw = text.mid(at, length);
        if (!everyWord) {
            const quint32 lead = leadOf(raw);
            if (lead != 0 && !std::binary_search(leads.begin(), leads.end(), lead)) {
                // None of the words looked for; it breaks a phrase all the same.
                if (longest > 0) {
                    newest = (newest + 1) % longest;
                    recent[newest].clear();
                    ++seen;
                }
                continue;
            }
        }
        const TermMaker::Terms &word = terms.termsOf(raw);
        if (longest > 0) {
            newest = (newest + 1) % longest;
            recent[newest] = word.folded;
            ++seen;
        }
        for (size_t i = 0; i < parts.size(); ++i) {
            const PartForms &part = parts[i];
            const bool match = part.phrase.empty()
                                   ? part.exact.count(word.folded) != 0 ||
                                         (!word.stem.empty() && part.stems.count(word.stem) != 0)
                                   : endsWith(recent, newest, seen, part.phrase);
            if (match) {
                found[i] = true;
                ++score.words;
            }
        }
        if (together.size() > 1 && endsWith(recent, newest, seen, together)) {
            score.together = true;
        }
    }
    score.parts = static_cast<int>(std::count(found.begin(), found.end(), true));
    return score;
}

} // namespace

struct CollectionSearch::Private {
    std::optional<Xapian::Database> db;
    SpanishStems stems;
    TermMaker terms;
};

CollectionSearch::CollectionSearch(Collection collection, QString indexFolder)
    : m_collection(std::move(collection))
    , m_folder(std::move(indexFolder))
    , d(std::make_unique<Private>())
{
}

CollectionSearch::~CollectionSearch() = default;

std::vector<SearchHit> CollectionSearch::search(const QString &text, int maxHits,
                                                const std::function<bool()> &stop, int *matching)
{
    if (matching) {
        *matching = 0;
    }
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
            // An index of another format is about to be built anew: nothing to read yet.
            if (db.get_metadata("format") != formatVersion) {
                return {};
            }

            WordMatcher matcher;
            matcher.stemmer = &d->stems;
            std::vector<PartForms> partForms;
            std::vector<Xapian::Query> required;
            std::vector<Xapian::Query> exactWords;
            std::vector<std::string> together;
            for (const ParsedQuery::Part &part : parsed.parts) {
                PartForms &forms = partForms.emplace_back();
                if (part.phrase) {
                    std::vector<Xapian::Query> terms;
                    for (const QString &word : part.words) {
                        terms.emplace_back(utf8(word));
                        matcher.exact.insert(utf8(word));
                        forms.phrase.push_back(utf8(word));
                    }
                    required.emplace_back(
                        terms.size() == 1
                            ? terms.front()
                            : Xapian::Query(Xapian::Query::OP_PHRASE, terms.begin(), terms.end(),
                                            static_cast<Xapian::termcount>(terms.size())));
                    continue;
                }
                const std::string folded = utf8(part.words.front());
                std::vector<std::string> words{folded, d->stems.stemOf(part.typed.front()),
                                               d->stems.stemOf(part.words.front())};
                for (auto it = db.synonyms_begin(folded); it != db.synonyms_end(folded); ++it) {
                    words.push_back(*it);
                }
                for (size_t i = 0, stems = words.size(); i < stems; ++i) {
                    if (words[i].size() > 1 && words[i].front() == 'Z') {
                        words.push_back(words[i].substr(1)); // see isBareStem
                    }
                }
                std::sort(words.begin(), words.end());
                words.erase(std::unique(words.begin(), words.end()), words.end());
                for (const std::string &word : words) {
                    const bool stem = word.front() == 'Z';
                    (stem ? matcher.stems : matcher.exact).insert(word);
                    (stem ? forms.stems : forms.exact).insert(word);
                }
                required.emplace_back(Xapian::Query::OP_SYNONYM, words.begin(), words.end());
                exactWords.emplace_back(folded);
                together.push_back(folded);
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
            // Counting the documents that match means ranking all of them (Xapian's counts
            // are estimates once hits are collapsed): only when asked. Snippets are made
            // for the best maxHits alone all the same.
            const Xapian::MSet mset = enquire.get_mset(
                0, matching ? std::max(db.get_doccount(), static_cast<Xapian::doccount>(maxHits))
                            : static_cast<Xapian::doccount>(maxHits));
            if (matching) {
                *matching = static_cast<int>(qMin<Xapian::doccount>(mset.size(), INT_MAX));
            }

            const std::vector<quint32> leads = leadsOf(partForms, together);
            std::vector<SearchHit> hits;
            const auto answered = std::min<Xapian::doccount>(mset.size(), maxHits);
            hits.reserve(answered);
            for (auto it = mset.begin(); hits.size() < answered; ++it) {
                if (stop && stop()) {
                    return {};
                }
                // One document holds the pages of a file: the hit names the page that
                // answers the query best, and its snippet comes from there.
                const StoredDocument doc = loadDocument(it.get_document().get_data(), true);
                size_t best = 0;
                PageScore bestScore;
                int answering = 0; // pages with every part of the query
                for (size_t page = 0; page < doc.pages.size(); ++page) {
                    const PageScore score =
                        scorePage(doc.pages[page].text, partForms, together, leads, d->terms);
                    answering += score.parts == static_cast<int>(partForms.size()) ? 1 : 0;
                    if (page == 0 || bestScore < score) {
                        best = page;
                        bestScore = score;
                    }
                }
                const bool bestAnswers = bestScore.parts == static_cast<int>(partForms.size());
                SearchHit hit;
                if (!doc.pages.empty()) {
                    const Snippet snippet = makeSnippet(doc.pages[best].text, matcher, parsed);
                    hit.page = doc.pages[best].number;
                    hit.snippet = snippet.text;
                    hit.marks = snippet.marks;
                    hit.findText = snippet.findText;
                }
                hit.relativePath = doc.relativePath;
                hit.absolutePath = m_collection.resolve(doc.relativePath);
                hit.title = doc.title;
                hit.kind = documentKind(doc.relativePath);
                // A file read in parts may match in other parts too.
                hit.morePages =
                    answering - (bestAnswers ? 1 : 0) + static_cast<int>(it.get_collapse_count());
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

std::unique_ptr<IndexWriter> XapianSearchBackend::newWriter(const Collection &collection,
                                                            const QString &indexFolder, QString *)
{
    return std::make_unique<CollectionIndex>(collection, indexFolder);
}

std::unique_ptr<IndexReader> XapianSearchBackend::newReader(const Collection &collection,
                                                            const QString &indexFolder, QString *)
{
    return std::make_unique<CollectionSearch>(collection, indexFolder);
}

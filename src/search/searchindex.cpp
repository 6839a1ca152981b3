// Xapian must come before Qt: it names a member "slots".
#include <xapian.h>

#include "searchindex.h"

#include "documenttext.h"
#include "searchquery.h"
#include "searchtext.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <condition_variable>
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
const std::string formatVersion = "3";

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

struct StoredPage {
    QString relativePath;
    int page = 0;
    QString kind;
    QString title;
    QString text;
};

std::string storePage(const StoredPage &page)
{
    return utf8(page.relativePath + u'\n' + QString::number(page.page) + u'\n' + page.kind + u'\n' +
                page.title + u'\n' + page.text);
}

StoredPage loadPage(const std::string &data)
{
    const QString all = fromUtf8(data);
    StoredPage page;
    qsizetype at = 0;
    const auto field = [&all, &at]() {
        const qsizetype end = all.indexOf(u'\n', at);
        const QString value = all.mid(at, end < 0 ? -1 : end - at);
        at = end < 0 ? all.size() : end + 1;
        return value;
    };
    page.relativePath = field();
    page.page = field().toInt();
    page.kind = field();
    page.title = field();
    page.text = all.mid(at);
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

// Reads the files of a pass, in order, on a thread of its own, a few files
// ahead of the one taking them.
class DocumentReader {
public:
    struct Read {
        const CollectionFile *file = nullptr;
        DocumentText text;
    };

    DocumentReader(const std::vector<const CollectionFile *> &files, const std::atomic_bool *cancel)
        : m_files(files)
        , m_cancel(cancel)
        , m_thread([this] { run(); })
    {
    }

    ~DocumentReader()
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }

    // The next file read; none when all are, or the pass was cancelled.
    std::optional<Read> next()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_ready.empty() || m_finished; });
        if (m_ready.empty() || cancelled()) {
            return std::nullopt;
        }
        Read read = std::move(m_ready.front());
        m_ready.pop_front();
        lock.unlock();
        m_changed.notify_all();
        return read;
    }

private:
    static constexpr size_t readAhead = 8;

    bool cancelled() const { return m_cancel && m_cancel->load(); }

    void run()
    {
        for (const CollectionFile *file : m_files) {
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_changed.wait(lock, [this] { return m_ready.size() < readAhead || m_stop; });
                if (m_stop) {
                    break;
                }
            }
            if (cancelled()) {
                break;
            }
            Read read{file, documentKind(file->relativePath) == kindPage
                                ? readHtmlText(file->absolutePath)
                                : readPdfText(file->absolutePath)};
            {
                const std::lock_guard<std::mutex> lock(m_mutex);
                m_ready.push_back(std::move(read));
            }
            m_changed.notify_all();
        }
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_finished = true;
        }
        m_changed.notify_all();
    }

    const std::vector<const CollectionFile *> &m_files;
    const std::atomic_bool *m_cancel;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Read> m_ready;
    bool m_stop = false;
    bool m_finished = false;
    std::thread m_thread; // last: it starts once everything above is there
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

// ---------------------------------------------------------------------------
// Writing

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

CollectionIndex::CollectionIndex(Collection collection, QString indexFolder)
    : m_collection(std::move(collection))
    , m_folder(std::move(indexFolder))
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

IndexProgress CollectionIndex::update(const ProgressFn &progress, const std::atomic_bool *cancel)
{
    IndexProgress state;
    if (!d->db) {
        state.finished = true;
        return state;
    }
    Xapian::WritableDatabase &db = *d->db;
    d->synonymsAdded.clear();

    // What the index holds: one record per file, with the stamp it had.
    std::map<QString, std::pair<QString, bool>> recorded; // path -> stamp, skipped
    for (auto it = db.allterms_begin("R"); it != db.allterms_end("R"); ++it) {
        Xapian::PostingIterator post = db.postlist_begin(*it);
        if (post == db.postlist_end(*it)) {
            continue;
        }
        const std::string data = db.get_document(*post).get_data();
        const QString text = fromUtf8(data);
        const QStringList lines = text.split(u'\n');
        if (lines.size() >= 3) {
            recorded[lines.at(0)] = {lines.at(1), lines.at(2) == QLatin1String("skipped")};
        }
    }

    std::vector<CollectionFile> files;
    for (CollectionFile &file : m_collection.files(QString())) {
        if (!documentKind(file.relativePath).isEmpty()) {
            files.push_back(std::move(file));
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

    std::vector<const CollectionFile *> work;
    for (const CollectionFile &file : files) {
        const auto found = recorded.find(file.relativePath);
        if (found != recorded.end() && found->second.first == stampOf(file)) {
            ++state.done;
            state.skipped += found->second.second ? 1 : 0;
        } else {
            work.push_back(&file);
        }
    }
    if (changed) {
        db.commit();
    }
    if (progress) {
        progress(state);
    }

    // The files are read on a thread of their own while the index takes in the
    // ones read before: reading a PDF and indexing its words then overlap.
    DocumentReader reader(work, cancel);
    QElapsedTimer sinceCommit;
    sinceCommit.start();
    int inBatch = 0;
    for (;;) {
        std::optional<DocumentReader::Read> next = reader.next();
        if (!next) {
            break;
        }
        const CollectionFile *file = next->file;
        const DocumentText &text = next->text;
        const QString kind = documentKind(file->relativePath);
        QString title = text.title;
        if (kind == kindCircular) {
            title = circularTitle(file->relativePath, title);
        } else if (title.isEmpty()) {
            title = QFileInfo(file->relativePath).completeBaseName();
        }
        const std::string fileTerm = pathTerm('F', file->relativePath);
        db.delete_document(fileTerm);
        for (const DocumentText::Page &page : text.pages) {
            Xapian::Document doc;
            Xapian::termpos position = 0;
            d->addWords(doc, title, nullptr);
            d->addWords(doc, page.text, &position);
            doc.add_boolean_term(fileTerm);
            doc.add_value(pathSlot, utf8(file->relativePath));
            doc.set_data(storePage({file->relativePath, page.number, kind, title, page.text}));
            db.add_document(doc);
        }
        const bool skipped = !text.skipReason.isEmpty();
        Xapian::Document record;
        record.add_boolean_term(pathTerm('R', file->relativePath));
        record.add_boolean_term(fileTerm);
        record.set_data(utf8(file->relativePath + u'\n' + stampOf(*file) + u'\n' +
                             (skipped ? QStringLiteral("skipped") : QStringLiteral("ok"))));
        db.add_document(record);

        ++state.done;
        state.skipped += skipped ? 1 : 0;
        if (++inBatch >= filesPerBatch || sinceCommit.elapsed() >= batchMilliseconds) {
            db.commit();
            inBatch = 0;
            sinceCommit.restart();
            if (progress) {
                progress(state);
            }
        }
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

std::vector<SearchHit> CollectionSearch::search(const QString &text, int maxHits)
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
        }
    }
    return {};
}

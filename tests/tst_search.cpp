// Xapian must come before Qt: it names a member "slots".
#include <xapian.h>

#include "collection.h"
#include "documenttext.h"
#include "filesizelimit.h"
#include "heavypdf.h"
#include "searchcommand.h"
#include "searchindex.h"
#include "searchquery.h"
#include "searchservice.h"
#include "searchtext.h"
#include "testfiles.h"
#include "testpdf.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QThread>

#include <csignal>

#include <sys/prctl.h>
#include <sys/wait.h>

Q_DECLARE_METATYPE(DocumentBounds)

namespace {

QStringList foldedWords(const QString &text)
{
    QStringList words;
    for (const TextWord &word : splitWords(text)) {
        words.append(word.folded);
    }
    return words;
}

QStringList paths(const std::vector<SearchHit> &hits)
{
    QStringList list;
    for (const SearchHit &hit : hits) {
        list.append(hit.page > 0 ? QStringLiteral("%1#%2").arg(hit.relativePath).arg(hit.page)
                                 : hit.relativePath);
    }
    return list;
}

// Pages of a heavy PDF cost its reader a long parse each.
constexpr int heavyPage = 1000000;

// The processes whose parent is parent, and still there (zombies too).
QList<qint64> childProcessesOf(qint64 parent)
{
    QList<qint64> children;
    const QByteArray wanted = QByteArray::number(parent);
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly)) {
            continue;
        }
        // "pid (name) state ppid ...": the name may hold spaces and parentheses.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1] == wanted) {
            children.append(pid.toLongLong());
        }
    }
    return children;
}

int childProcesses()
{
    return static_cast<int>(childProcessesOf(QCoreApplication::applicationPid()).size());
}

QString filler(int sentences)
{
    QString text;
    for (int i = 0; i < sentences; ++i) {
        text += QStringLiteral("El mercado de valores opera con normalidad. ");
    }
    return text;
}

} // namespace

class tst_Search : public QObject {
    Q_OBJECT

private slots:
    void init();

    void wordsAreFoldedAndSplit();
    void queriesSplitIntoWordsAndPhrases();
    void htmlPagesAreDecodedByTheirCharset();
    void pdfTextComesPageByPage();
    void badPdfsAreSkipped();

    void queriesFindWhatTheyShould();
    void hitsCarryTitleKindPageAndSnippet();
    void addedChangedAndRemovedFilesAreFollowed();
    void theUserFolderIsSearchedWhereItWins();
    void aDamagedIndexIsBuiltAgain();
    void anIndexOfAnotherFormatIsBuiltAgain_data();
    void anIndexOfAnotherFormatIsBuiltAgain();
    void aHitNamesThePageWhereItsWordsStand_data();
    void aHitNamesThePageWhereItsWordsStand();
    void searchingWithoutAnIndexFindsNothing();
    void aCommandLineSearchWithoutRoomForItsIndexFails();

    void aDocumentIsReadUpToItsBounds_data();
    void aDocumentIsReadUpToItsBounds();
    void aStoppedPassGoesOnWhereItStopped();
    void aReaderThatFailsCostsOnlyItsFile_data();
    void aReaderThatFailsCostsOnlyItsFile();
    void noReaderOutlivesAKilledProgram();
    void aFailingIndexIsBuiltAgainOrSaysWhy_data();
    void aFailingIndexIsBuiltAgainOrSaysWhy();
    void theNewestSearchWins();
    void namesWithTabsAndLineBreaksKeepTheirPlace_data();
    void namesWithTabsAndLineBreaksKeepTheirPlace();
    void theCommandLinePrintsTheBestAndCountsTheRest_data();
    void theCommandLinePrintsTheBestAndCountsTheRest();

private:
    void writeCollection();
    IndexProgress index();
    std::vector<SearchHit> find(const QString &text);
    QString file(const QString &relativePath) const
    {
        return QDir(m_dir->path()).filePath(relativePath);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QTemporaryDir> m_cache;
    Collection m_collection;
    QString m_indexFolder;
};

void tst_Search::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_cache = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid() && m_cache->isValid());
    m_collection = Collection(m_dir->path(), QString());
    m_indexFolder = indexFolderFor(m_collection, m_cache->path());
}

// Known words on known pages; one page of Windows-1252; two files that are no
// PDF at all.
void tst_Search::writeCollection()
{
    QVERIFY(writeTestPdf(file(QStringLiteral("circulares/3019.pdf")),
                         {QStringLiteral("CIRCULAR N° 3019. Imparte instrucciones. ") + filler(3),
                          filler(2) +
                              QStringLiteral("Sobre la regulación de los activos tokenizados "
                                             "en el mercado. ") +
                              filler(2),
                          filler(3) +
                              QStringLiteral("Según el artículo 15 del reglamento, las "
                                             "entidades informarán cada hecho esencial. ") +
                              filler(3)},
                         QStringLiteral("Activos digitales")));
    QVERIFY(writeTestPdf(
        file(QStringLiteral("circulares/3020.pdf")),
        {QStringLiteral("CIRCULAR N° 3020. Modifica las regulaciones de custodia. ") +
         QStringLiteral("Se deroga el artículo 7 y se mantiene el 15. ") + filler(4)}));
    QVERIFY(writeTestPdf(file(QStringLiteral("circulares/3021.pdf")),
                         {QStringLiteral("CIRCULAR N° 3021. Custodia de valores: la custodia, los "
                                         "custodios y la custodia electrónica. Custodia."),
                          QStringLiteral("Esencial es el hecho de informar.")}));
    QVERIFY(writeTestPdf(file(QStringLiteral("sistemas/manuales.pdf")),
                         {filler(2), QStringLiteral("Manual del sistema de envío de información.")},
                         QStringLiteral("Manual de sistemas")));
    const QByteArray windows1252 =
        "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
        "charset=windows-1252\"><title>Regulaci\xF3n del mercado</title></head><body>"
        "<p>Informaci\xF3n sobre la regulaci\xF3n \x93vigente\x94 y el a\xF1o.</p>"
        "<script>var oculto = 'palabrasecreta';</script></body></html>";
    QDir().mkpath(file(QStringLiteral("pagina")));
    QVERIFY(writeAll(file(QStringLiteral("pagina/normas.htm")), windows1252));
    QVERIFY(
        writeAll(file(QStringLiteral("pagina/estilo.css")), "p { color: red } /* regulación */"));
    QVERIFY(writeAll(file(QStringLiteral("circulares/9998.pdf")), QByteArray()));
    QVERIFY(writeAll(file(QStringLiteral("circulares/9999.pdf")),
                     "%PDF-1.4\n1 0 obj << /Type /Catalog >> garbage garbage\n"));
}

IndexProgress tst_Search::index()
{
    CollectionIndex index(m_collection, m_indexFolder);
    if (index.open() != CollectionIndex::OpenResult::Opened) {
        return {};
    }
    return index.update();
}

std::vector<SearchHit> tst_Search::find(const QString &text)
{
    CollectionSearch search(m_collection, m_indexFolder);
    return search.search(text);
}

void tst_Search::wordsAreFoldedAndSplit()
{
    QCOMPARE(foldText(QStringLiteral("REGULACIÓN Pingüino Año")),
             QStringLiteral("regulacion pinguino año"));
    // A combining accent written after its letter.
    QCOMPARE(foldText(QStringLiteral("regulacio\u0301n")), QStringLiteral("regulacion"));
    QCOMPARE(foldedWords(QStringLiteral("Circular N°3.019, art.15: 1.250.000 y 3.5")),
             QStringList({QStringLiteral("circular"), QStringLiteral("n"), QStringLiteral("3019"),
                          QStringLiteral("art"), QStringLiteral("15"), QStringLiteral("1250000"),
                          QStringLiteral("y"), QStringLiteral("3"), QStringLiteral("5")}));
    const QString text = QStringLiteral("  «Regulación»\tvigente ");
    const std::vector<TextWord> words = splitWords(text);
    QCOMPARE(words.size(), size_t(2));
    QCOMPARE(text.mid(words[0].start, words[0].length), QStringLiteral("Regulación"));
    QCOMPARE(oneLine(text), QStringLiteral("«Regulación» vigente"));
    QCOMPARE(splitWords(QString(300, u'a')).front().folded.size(), qsizetype(64));
}

void tst_Search::queriesSplitIntoWordsAndPhrases()
{
    const ParsedQuery query =
        parseQuery(QStringLiteral("Regulación \"hecho  Esencial\" artículo 15 “activos digitales"));
    QCOMPARE(query.parts.size(), size_t(5));
    QCOMPARE(query.parts[0].words, QStringList{QStringLiteral("regulacion")});
    QCOMPARE(query.parts[0].typed, QStringList{QStringLiteral("regulación")});
    QVERIFY(!query.parts[0].phrase);
    QVERIFY(query.parts[1].phrase);
    QCOMPARE(query.parts[1].words,
             QStringList({QStringLiteral("hecho"), QStringLiteral("esencial")}));
    QCOMPARE(query.parts[3].words, QStringList{QStringLiteral("15")});
    // An unclosed typographic quote runs to the end.
    QVERIFY(query.parts[4].phrase);
    QCOMPARE(query.parts[4].words,
             QStringList({QStringLiteral("activos"), QStringLiteral("digitales")}));
    QVERIFY(parseQuery(QStringLiteral(" \"\" ¿? ")).isEmpty());
    // Pasted from a PDF, with the font's ligature.
    QCOMPARE(parseQuery(QStringLiteral("Oﬁcina")).parts[0].words,
             QStringList{QStringLiteral("oficina")});
}

void tst_Search::htmlPagesAreDecodedByTheirCharset()
{
    const DocumentText declared =
        htmlText("<html><head><META charset=\"ISO-8859-1\"><title> Regulaci\xF3n\n vigente </title>"
                 "<style>p { x: 1 }</style></head><body>Informaci<b>\xF3n</b> &aacute;gil &amp; "
                 "&#8220;ok&#x201D; &#150; &bogus; a\xF1o<!-- comentario --></body></html>");
    QCOMPARE(declared.title, QStringLiteral("Regulación vigente"));
    QCOMPARE(declared.pages.size(), size_t(1));
    const QString text = declared.pages.front().text;
    QVERIFY2(text.contains(QStringLiteral("Información ágil & “ok” – &bogus; año")),
             qPrintable(text));
    QVERIFY(!text.contains(QStringLiteral("comentario")));
    QVERIFY(!text.contains(QStringLiteral("x: 1")));

    // Declared UTF-8, and undeclared: UTF-8 when valid, else Windows-1252.
    QCOMPARE(decodeHtmlBytes("<meta charset=utf-8>regulaci\xC3\xB3n"),
             QStringLiteral("<meta charset=utf-8>regulación"));
    QCOMPARE(decodeHtmlBytes("regulaci\xC3\xB3n"), QStringLiteral("regulación"));
    QCOMPARE(decodeHtmlBytes("regulaci\xF3n \x80"), QStringLiteral("regulación €"));
    // A page that never closes a tag or a script ends its text there.
    QCOMPARE(htmlText("texto <script>nunca cerrado").pages.front().text.trimmed(),
             QStringLiteral("texto"));
    QCOMPARE(htmlText("texto <b sin cerrar").pages.front().text.trimmed(), QStringLiteral("texto"));
    // A huge page is cut.
    const QByteArray huge = "<title>Grande</title><p>" + QByteArray(3 << 20, 'a') + " fin</p>";
    const DocumentText cut = htmlText(huge);
    QCOMPARE(cut.pages.front().text.size(), DocumentLimits::maxPageText);
    QCOMPARE(cut.title, QStringLiteral("Grande"));
}

void tst_Search::pdfTextComesPageByPage()
{
    const QString path = file(QStringLiteral("doc.pdf"));
    QVERIFY(writeTestPdf(path,
                         {QStringLiteral("Primera página"), QString(),
                          QStringLiteral("Tercera página con regulación de la Oﬁcina")},
                         QStringLiteral("Documento de prueba")));
    const DocumentText doc = readPdfText(path);
    QVERIFY(doc.skipReason.isEmpty());
    QCOMPARE(doc.title, QStringLiteral("Documento de prueba"));
    // The empty second page gives nothing to index.
    QCOMPARE(doc.pages.size(), size_t(2));
    QCOMPARE(doc.pages[0].number, 1);
    QCOMPARE(doc.pages[1].number, 3);
    QVERIFY2(doc.pages[1].text.contains(QStringLiteral("regulación")),
             qPrintable(doc.pages[1].text));
    // A font's ligature stands for its letters: "Oficina" is found as typed.
    QVERIFY2(doc.pages[1].text.contains(QStringLiteral("Oficina")), qPrintable(doc.pages[1].text));
}

void tst_Search::badPdfsAreSkipped()
{
    QVERIFY(writeAll(file(QStringLiteral("empty.pdf")), QByteArray()));
    QVERIFY(writeAll(file(QStringLiteral("junk.pdf")), QByteArray(5000, 'x')));
    QVERIFY(writeAll(file(QStringLiteral("cut.pdf")), "%PDF-1.7\n1 0 obj\n<< /Type /Pages"));
    QVERIFY(writeTestPdf(file(QStringLiteral("blank.pdf")), {QString(), QString()}));
    // A PDF that needs a password to open, as qpdf encrypts it (AES-256).
    QVERIFY(writeTestPdf(file(QStringLiteral("plain.pdf")), {QStringLiteral("secreto guardado")}));
    QProcess qpdf;
    qpdf.start(QStringLiteral("qpdf"),
               {QStringLiteral("--encrypt"), QStringLiteral("clave"), QStringLiteral("duena"),
                QStringLiteral("256"), QStringLiteral("--"), file(QStringLiteral("plain.pdf")),
                file(QStringLiteral("locked.pdf"))});
    QVERIFY2(qpdf.waitForFinished(30000) && qpdf.exitCode() == 0,
             "qpdf, installed by the project's scripts, encrypts the test PDF");
    for (const char *name :
         {"empty.pdf", "junk.pdf", "cut.pdf", "blank.pdf", "missing.pdf", "locked.pdf"}) {
        const DocumentText doc = readPdfText(file(QLatin1String(name)));
        QVERIFY2(!doc.skipReason.isEmpty(), name);
        QVERIFY(doc.pages.empty());
    }
}

// What each query finds: accents and case left out, the forms of a word found together,
// phrases kept whole, numbers as words; in order where the best hit is plain.
void tst_Search::queriesFindWhatTheyShould()
{
    writeCollection();
    const IndexProgress progress = index();
    QVERIFY(progress.finished);
    QCOMPARE(progress.total, 7); // five documents and two bad PDFs; no style sheet
    QCOMPARE(progress.skipped, 2);

    const struct {
        const char *query;
        bool ordered;
        const char *hits; // separated by spaces
    } cases[] = {
        // Accents and case; the singular, the plural, the feminine, a verb's forms.
        {"REGULACIÓN", false, "circulares/3019.pdf#2 circulares/3020.pdf#1 pagina/normas.htm"},
        {"regulacion", false, "circulares/3019.pdf#2 circulares/3020.pdf#1 pagina/normas.htm"},
        {"regulaciones", false, "circulares/3019.pdf#2 circulares/3020.pdf#1 pagina/normas.htm"},
        {"tokenizado", false, "circulares/3019.pdf#2"},
        {"informar", false,
         "circulares/3019.pdf#3 circulares/3021.pdf#2 pagina/normas.htm sistemas/manuales.pdf#2"},
        {"custodio", false, "circulares/3021.pdf#1 circulares/3020.pdf#1"},
        // The Windows-1252 page read as such; "ñ" a letter of its own; scripts are no text.
        {"informacion vigente", false, "pagina/normas.htm"},
        {"año", false, "pagina/normas.htm"},
        {"ano", false, ""},
        {"palabrasecreta", false, ""},
        // Phrases: in their order, their words as written; the words together rank first.
        {"\"activos tokenizados\"", false, "circulares/3019.pdf#2"},
        {"\"tokenizados activos\"", false, ""},
        {"\"activo tokenizado\"", false, ""},
        {"\"hecho esencial\"", false, "circulares/3019.pdf#3"},
        {"hecho esencial", true, "circulares/3019.pdf#3 circulares/3021.pdf#2"},
        // Numbers are whole words, with or without their thousands point.
        {"3019", false, "circulares/3019.pdf#1"},
        {"3.019", false, "circulares/3019.pdf#1"},
        {"301", false, ""},
        {"artículo 15", true, "circulares/3019.pdf#3 circulares/3020.pdf#1"},
        {"\"articulo 15\"", false, "circulares/3019.pdf#3"},
        // A circular about custody from end to end above one that mentions it once.
        {"custodia", true, "circulares/3021.pdf#1 circulares/3020.pdf#1"},
    };
    for (const auto &c : cases) {
        QStringList found = paths(find(QString::fromUtf8(c.query)));
        QStringList expected = QString::fromUtf8(c.hits).split(u' ', Qt::SkipEmptyParts);
        if (!c.ordered) {
            found.sort();
            expected.sort();
        }
        QVERIFY2(found == expected,
                 qPrintable(QString::fromUtf8(c.query) + QStringLiteral(": ") + found.join(u' ')));
    }
}

void tst_Search::hitsCarryTitleKindPageAndSnippet()
{
    writeCollection();
    index();
    std::vector<SearchHit> hits = find(QStringLiteral("tokenizado"));
    QCOMPARE(hits.size(), size_t(1));
    const SearchHit &hit = hits.front();
    QCOMPARE(hit.title, QStringLiteral("Circular 3019: Activos digitales"));
    QCOMPARE(hit.kind, QStringLiteral("circular"));
    QCOMPARE(hit.page, 2);
    QCOMPARE(hit.absolutePath, file(QStringLiteral("circulares/3019.pdf")));
    QVERIFY2(hit.snippet.contains(QStringLiteral("activos tokenizados en el mercado")),
             qPrintable(hit.snippet));
    QVERIFY(!hit.snippet.contains(u'\n') && !hit.snippet.contains(u'\t'));
    QCOMPARE(hit.marks.size(), 1);
    QCOMPARE(hit.snippet.mid(hit.marks[0].first, hit.marks[0].second),
             QStringLiteral("tokenizados"));
    QCOMPARE(hit.findText, QStringLiteral("tokenizados"));

    hits = find(QStringLiteral("regulacion"));
    for (const SearchHit &each : hits) {
        if (each.relativePath == QLatin1String("pagina/normas.htm")) {
            QCOMPARE(each.kind, QStringLiteral("página"));
            QCOMPARE(each.page, 0);
            QCOMPARE(each.title, QStringLiteral("Regulación del mercado"));
            QCOMPARE(each.findText, QStringLiteral("regulación"));
        }
    }
    hits = find(QStringLiteral("\"HECHO esencial\""));
    QCOMPARE(hits.size(), size_t(1));
    QCOMPARE(hits.front().findText, QStringLiteral("hecho esencial"));
    // One hit per document: the best page, and how many more match.
    hits = find(QStringLiteral("mercado"));
    QStringList files;
    for (const SearchHit &each : hits) {
        QVERIFY(!files.contains(each.relativePath));
        files.append(each.relativePath);
        if (each.relativePath == QLatin1String("circulares/3019.pdf")) {
            QCOMPARE(each.morePages, 2);
        }
    }
    QCOMPARE(find(QStringLiteral("manual")).front().kind, QStringLiteral("manual"));
}

void tst_Search::addedChangedAndRemovedFilesAreFollowed()
{
    writeCollection();
    index();
    QVERIFY(find(QStringLiteral("criptoactivos")).empty());
    QVERIFY(writeTestPdf(file(QStringLiteral("circulares/3022.pdf")),
                         {QStringLiteral("Circular sobre criptoactivos.")}));
    QVERIFY(QFile::remove(file(QStringLiteral("circulares/3021.pdf"))));
    // A changed page: new words, a new size.
    QVERIFY(writeAll(file(QStringLiteral("pagina/normas.htm")),
                     "<title>Normas</title><p>Texto renovado sobre sostenibilidad.</p>"));

    QList<IndexProgress> reports;
    CollectionIndex writer(m_collection, m_indexFolder);
    QCOMPARE(writer.open(), CollectionIndex::OpenResult::Opened);
    const IndexProgress done =
        writer.update([&reports](const IndexProgress &p) { reports.append(p); });
    writer.close();
    // Only the two new or changed files were read again.
    QVERIFY(!reports.isEmpty());
    QCOMPARE(reports.front().done, 5);
    QCOMPARE(reports.front().total, 7);
    QCOMPARE(done.done, 7);
    QCOMPARE(done.skipped, 2);

    QCOMPARE(paths(find(QStringLiteral("criptoactivos"))),
             QStringList{QStringLiteral("circulares/3022.pdf#1")});
    QCOMPARE(paths(find(QStringLiteral("custodia"))),
             QStringList{QStringLiteral("circulares/3020.pdf#1")});
    QCOMPARE(paths(find(QStringLiteral("sostenibilidad"))),
             QStringList{QStringLiteral("pagina/normas.htm")});
    QVERIFY(
        !paths(find(QStringLiteral("regulacion"))).contains(QStringLiteral("pagina/normas.htm")));
}

void tst_Search::theUserFolderIsSearchedWhereItWins()
{
    QTemporaryDir user;
    QVERIFY(writeTestPdf(file(QStringLiteral("circulares/4001.pdf")),
                         {QStringLiteral("Texto antiguo de la circular.")}));
    QVERIFY(writeTestPdf(QDir(user.path()).filePath(QStringLiteral("circulares/4001.pdf")),
                         {QStringLiteral("Texto corregido de la circular.")}));
    QVERIFY(writeTestPdf(QDir(user.path()).filePath(QStringLiteral("circulares/4002.pdf")),
                         {QStringLiteral("Circular instalada por el usuario.")}));
    // The user's copy is the newer one.
    QFile program(file(QStringLiteral("circulares/4001.pdf")));
    QVERIFY(program.open(QIODevice::ReadWrite));
    QVERIFY(program.setFileTime(QDateTime::currentDateTime().addDays(-2),
                                QFileDevice::FileModificationTime));
    program.close();

    m_collection = Collection(m_dir->path(), user.path());
    m_indexFolder = indexFolderFor(m_collection, m_cache->path());
    index();
    QVERIFY(find(QStringLiteral("antiguo")).empty());
    const std::vector<SearchHit> hits = find(QStringLiteral("corregido"));
    QCOMPARE(hits.size(), size_t(1));
    QCOMPARE(hits.front().relativePath, QStringLiteral("circulares/4001.pdf"));
    QCOMPARE(hits.front().absolutePath,
             QDir(user.path()).filePath(QStringLiteral("circulares/4001.pdf")));
    QCOMPARE(paths(find(QStringLiteral("instalada"))),
             QStringList{QStringLiteral("circulares/4002.pdf#1")});
}

void tst_Search::aDamagedIndexIsBuiltAgain()
{
    writeCollection();
    index();
    // What a crash at the worst moment, or a broken disk, could leave behind.
    const QStringList files = QDir(m_indexFolder).entryList(QDir::Files);
    QVERIFY(!files.isEmpty());
    for (const QString &name : files) {
        QVERIFY(writeAll(QDir(m_indexFolder).filePath(name), QByteArray(64, '\xFF')));
    }
    QVERIFY(find(QStringLiteral("tokenizado")).empty());
    const IndexProgress progress = index();
    QVERIFY(progress.finished);
    QCOMPARE(paths(find(QStringLiteral("tokenizado"))),
             QStringList{QStringLiteral("circulares/3019.pdf#2")});
}

void tst_Search::anIndexOfAnotherFormatIsBuiltAgain_data()
{
    QTest::addColumn<QString>("format");
    QTest::newRow("earlier") << QStringLiteral("7");
    QTest::newRow("none") << QString();
    QTest::newRow("later") << QStringLiteral("99");
}

// An index left by another version, whose stored data means something else: it is never
// read as this version's, and the next pass builds it anew.
void tst_Search::anIndexOfAnotherFormatIsBuiltAgain()
{
    QFETCH(QString, format);
    writeCollection();
    {
        // One document per page, its data the path, the page, the title and the text.
        Xapian::WritableDatabase old(QFile::encodeName(m_indexFolder).toStdString(),
                                     Xapian::DB_CREATE_OR_OVERWRITE);
        Xapian::Document page;
        page.add_posting("tokenizados", 1);
        page.add_boolean_term("Fcirculares/3019.pdf");
        page.add_value(0, "circulares/3019.pdf");
        page.set_data(std::string("circulares/3019.pdf") + '\0' + "7" + '\0' + "Antigua" + '\0' +
                      "texto viejo");
        old.add_document(page);
        if (!format.isNull()) {
            old.set_metadata("format", format.toStdString());
        }
        old.commit();
    }
    QVERIFY(find(QStringLiteral("tokenizados")).empty());
    QVERIFY(index().finished);
    const std::vector<SearchHit> hits = find(QStringLiteral("tokenizados"));
    QCOMPARE(paths(hits), QStringList{QStringLiteral("circulares/3019.pdf#2")});
    QCOMPARE(hits.front().title, QStringLiteral("Circular 3019: Activos digitales"));
}

void tst_Search::aHitNamesThePageWhereItsWordsStand_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("page"); // 0: not found
    QTest::addColumn<QString>("snippet");
    QTest::newRow("a word on one page")
        << QStringLiteral("extranjeros") << 3 << QStringLiteral("depósitos extranjeros");
    QTest::newRow("a word on one page, found by its stem")
        << QStringLiteral("auditor") << 5 << QStringLiteral("auditores externos");
    QTest::newRow("the page with all the words")
        << QStringLiteral("custodia registro") << 4 << QStringLiteral("custodia en el registro");
    QTest::newRow("the page with the words together")
        << QStringLiteral("depósitos centrales") << 5 << QStringLiteral("depósitos centrales");
    QTest::newRow("the page with the phrase")
        << QStringLiteral("\"custodia de valores\"") << 3 << QStringLiteral("custodia de valores");
    QTest::newRow("a phrase across two pages")
        << QStringLiteral("\"modalidad fiduciaria electrónica\"") << 0 << QString();
}

// One document of the index holds all the pages of a file: a hit names the page where
// the words it was found by stand, its snippet comes from that page, and a phrase never
// runs on from one page into the next.
void tst_Search::aHitNamesThePageWhereItsWordsStand()
{
    QFETCH(QString, query);
    QFETCH(int, page);
    QFETCH(QString, snippet);
    QVERIFY(writeTestPdf(
        file(QStringLiteral("circulares/6001.pdf")),
        {QStringLiteral("CIRCULAR N° 6001. Introducción sobre el mercado y sus centrales."),
         QStringLiteral("Los depósitos se llevan en el registro bajo la modalidad"),
         QStringLiteral("fiduciaria electrónica de los depósitos extranjeros y la custodia de "
                        "valores en las centrales."),
         QStringLiteral("Se anota la custodia en el registro de la entidad."),
         QStringLiteral("Los auditores externos revisan los depósitos centrales.")}));
    QVERIFY(index().finished);
    const std::vector<SearchHit> hits = find(query);
    if (page == 0) {
        QVERIFY2(hits.empty(), qPrintable(paths(hits).join(u' ')));
        return;
    }
    QCOMPARE(paths(hits), QStringList{QStringLiteral("circulares/6001.pdf#%1").arg(page)});
    QVERIFY2(hits.front().snippet.contains(snippet), qPrintable(hits.front().snippet));
}

void tst_Search::searchingWithoutAnIndexFindsNothing()
{
    writeCollection();
    QVERIFY(find(QStringLiteral("regulacion")).empty());
    QVERIFY(!QFileInfo::exists(m_indexFolder));
    // A reader opened before the first pass sees the index once it is there.
    CollectionSearch early(m_collection, m_indexFolder);
    QVERIFY(early.search(QStringLiteral("tokenizado")).empty());
    index();
    QCOMPARE(early.search(QStringLiteral("tokenizado")).size(), size_t(1));
}

// What the command prints is tested on the program (tst_commandline); here,
// the one outcome that needs a folder the program cannot be given.
void tst_Search::aCommandLineSearchWithoutRoomForItsIndexFails()
{
    writeCollection();
    QString outText;
    QString errText;
    QTextStream out(&outText);
    QTextStream err(&errText);
    QVERIFY(writeAll(QDir(m_cache->path()).filePath(QStringLiteral("archivo")), "x"));
    const QString blocked = QDir(m_cache->path()).filePath(QStringLiteral("archivo/indice"));
    QCOMPARE(runSearchCommand(m_collection, blocked, QStringLiteral("tokenizado"), 20, out, err),
             1);
    QVERIFY(errText.contains(QStringLiteral("No se puede crear el índice")));
    QCOMPARE(outText, QString());
}

void tst_Search::aDocumentIsReadUpToItsBounds_data()
{
    QTest::addColumn<DocumentBounds>("bounds");
    QTest::addColumn<int>("pages");
    QTest::newRow("pages") << DocumentBounds{3, qint64(1) << 30, 3600000} << 3;
    QTest::newRow("characters") << DocumentBounds{10000, 1, 3600000} << 1;
    QTest::newRow("time") << DocumentBounds{10000, qint64(1) << 30, 0} << 1;
}

// A PDF whose pages are slow to read is read up to a bound, and recorded as read: the
// next pass does not start it again.
void tst_Search::aDocumentIsReadUpToItsBounds()
{
    QFETCH(DocumentBounds, bounds);
    QFETCH(int, pages);
    QVERIFY(QDir().mkpath(file(QStringLiteral("circulares"))));
    QVERIFY(writeAll(file(QStringLiteral("circulares/5001.pdf")),
                     heavyTestPdf(40, heavyPage, "inicio", "final")));
    QVERIFY(writeTestPdf(file(QStringLiteral("circulares/5002.pdf")),
                         {QStringLiteral("Circular siguiente.")}));
    {
        CollectionIndex index(m_collection, m_indexFolder, bounds);
        QCOMPARE(index.open(), CollectionIndex::OpenResult::Opened);
        const IndexProgress first = index.update();
        QVERIFY(first.finished);
        QCOMPARE(first.pages, pages + 1);
        QCOMPARE(first.skipped, 0);
    }
    QCOMPARE(paths(find(QStringLiteral("inicio"))),
             QStringList{QStringLiteral("circulares/5001.pdf#1")});
    QVERIFY(find(QStringLiteral("final")).empty());
    QCOMPARE(paths(find(QStringLiteral("siguiente"))),
             QStringList{QStringLiteral("circulares/5002.pdf#1")});

    CollectionIndex again(m_collection, m_indexFolder, bounds);
    QCOMPARE(again.open(), CollectionIndex::OpenResult::Opened);
    const IndexProgress second = again.update();
    QVERIFY(second.finished);
    QCOMPARE(second.pages, 0);
}

// A pass stopped inside a PDF of thousands of slow pages (the program quits) stops
// between two pages; what it took in stays, and the next pass goes on from there.
void tst_Search::aStoppedPassGoesOnWhereItStopped()
{
    QVERIFY(QDir().mkpath(file(QStringLiteral("circulares"))));
    QVERIFY(writeAll(file(QStringLiteral("circulares/5001.pdf")),
                     heavyTestPdf(4000, heavyPage, "inicio", "final")));
    std::atomic_bool cancel{false};
    {
        CollectionIndex index(m_collection, m_indexFolder);
        QCOMPARE(index.open(), CollectionIndex::OpenResult::Opened);
        const IndexProgress stopped = index.update(
            [&cancel](const IndexProgress &p) {
                if (p.pages > 0) {
                    cancel = true;
                }
            },
            &cancel);
        QVERIFY(!stopped.finished);
        QCOMPARE(stopped.done, 0);
        QCOMPARE(stopped.pages, 1);
    }
    QCOMPARE(paths(find(QStringLiteral("inicio"))),
             QStringList{QStringLiteral("circulares/5001.pdf#1")});

    CollectionIndex index(m_collection, m_indexFolder, DocumentBounds{3, qint64(1) << 30, 3600000});
    QCOMPARE(index.open(), CollectionIndex::OpenResult::Opened);
    const IndexProgress resumed = index.update();
    QVERIFY(resumed.finished);
    QCOMPARE(resumed.pages, 2);
    QCOMPARE(paths(find(QStringLiteral("inicio"))),
             QStringList{QStringLiteral("circulares/5001.pdf#1")});
}

void tst_Search::aReaderThatFailsCostsOnlyItsFile_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("reader");
    QTest::addColumn<int>("skipped");
    QTest::addColumn<int>("pages"); // read by the first pass, two a file the reader reads
    QTest::addColumn<QStringList>("found");
    QTest::addColumn<int>("pagesOfNextPass");
    const QString fake = QStringLiteral(FAKE_PDFTEXT);
    const QString missing = QStringLiteral(FAKE_PDFTEXT) + QStringLiteral("-no-existe");
    QTest::newRow("dies opening a file")
        << QStringList{QStringLiteral("1001"), QStringLiteral("rompe"), QStringLiteral("1003")}
        << fake << 1 << 4 << QStringList{QStringLiteral("1001"), QStringLiteral("1003")} << 0;
    QTest::newRow("hangs opening a file")
        << QStringList{QStringLiteral("cuelga"), QStringLiteral("1002"), QStringLiteral("1003")}
        << fake << 1 << 4 << QStringList{QStringLiteral("1002"), QStringLiteral("1003")} << 0;
    // Waiting long for a processor is not hanging: only the reader's own work counts.
    QTest::newRow("slow to answer, without working")
        << QStringList{QStringLiteral("lento"), QStringLiteral("1002")} << fake << 0 << 4
        << QStringList{QStringLiteral("1002"), QStringLiteral("lento")} << 0;
    QTest::newRow("dies inside a file")
        << QStringList{QStringLiteral("1001"), QStringLiteral("rompe2")} << fake << 0 << 3
        << QStringList{QStringLiteral("1001"), QStringLiteral("rompe2")} << 0;
    // Killed from outside while it waited: a new reader reads on. (Files go to the two reading
    // lanes in turn: "sale" and "uno" are one lane's.)
    QTest::newRow("killed between two files")
        << QStringList{QStringLiteral("sale"), QStringLiteral("tarde"), QStringLiteral("uno")}
        << fake << 0 << 6
        << QStringList{QStringLiteral("sale"), QStringLiteral("tarde"), QStringLiteral("uno")} << 0;
    QTest::newRow("killed between two pages") << QStringList{QStringLiteral("corta")} << fake << 0
                                              << 2 << QStringList{QStringLiteral("corta")} << 0;
    // Without a reader, nothing is recorded as read or unreadable: the next pass reads all.
    QTest::newRow("cannot be started")
        << QStringList{QStringLiteral("1001"), QStringLiteral("1002")} << missing << 0 << 0
        << QStringList() << 4;
}

// A reader that crashes or hangs on a hostile PDF is killed: the pass goes on with the next
// file, that file is left out (or keeps the pages read before), the next pass does not try
// it again, and no reader outlives the pass.
void tst_Search::aReaderThatFailsCostsOnlyItsFile()
{
    QFETCH(QStringList, files);
    QFETCH(QString, reader);
    QFETCH(int, skipped);
    QFETCH(int, pages);
    QFETCH(QStringList, found);
    QFETCH(int, pagesOfNextPass);
    QVERIFY(QDir().mkpath(file(QStringLiteral("circulares"))));
    for (const QString &name : files) {
        QVERIFY(writeAll(file(QStringLiteral("circulares/%1.pdf").arg(name)), "%PDF-1.4\n"));
    }
    DocumentBounds bounds;
    // Processor time of the reader: a busy machine never makes a good answer take it. A reader
    // that does nothing is taken for hung after ten times as long.
    bounds.readerMilliseconds = 400;
    const bool starts = reader == QLatin1String(FAKE_PDFTEXT);
    {
        CollectionIndex index(m_collection, m_indexFolder, bounds, reader);
        QCOMPARE(index.open(), CollectionIndex::OpenResult::Opened);
        const IndexProgress first = index.update();
        QCOMPARE(first.finished, starts);
        QCOMPARE(first.error.isEmpty(), starts);
        QCOMPARE(first.skipped, skipped);
        QCOMPARE(first.pages, pages);
        QCOMPARE(childProcesses(), 0);
    }
    QStringList names;
    for (const SearchHit &hit : find(QStringLiteral("texto"))) {
        names.append(QFileInfo(hit.relativePath).completeBaseName());
    }
    names.sort();
    QCOMPARE(names, found);

    CollectionIndex again(m_collection, m_indexFolder, bounds, QStringLiteral(FAKE_PDFTEXT));
    QCOMPARE(again.open(), CollectionIndex::OpenResult::Opened);
    const IndexProgress second = again.update();
    QVERIFY(second.finished);
    QCOMPARE(second.pages, pagesOfNextPass);
}

// The program killed in the middle of a pass (a crash) leaves none of its PDF readers
// running. The readers it leaves are made this test's children when their parent dies, so
// that they can be looked for.
void tst_Search::noReaderOutlivesAKilledProgram()
{
    QVERIFY(QDir().mkpath(file(QStringLiteral("circulares"))));
    for (const char *name : {"5001", "5002"}) {
        QVERIFY(writeAll(file(QStringLiteral("circulares/%1.pdf").arg(QLatin1String(name))),
                         heavyTestPdf(2, 4 * heavyPage, "inicio", "final")));
    }
    QCOMPARE(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    const auto notSubreaper = qScopeGuard([] { prctl(PR_SET_CHILD_SUBREAPER, 0); });
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), m_cache->path());
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(LEGISDISCO_PROGRAM),
                  {QStringLiteral("--collection"), m_dir->path(), QStringLiteral("--search"),
                   QStringLiteral("inicio")});
    QVERIFY(program.waitForStarted());
    // One reader for each of the two files.
    const QList<qint64> readers = [&program] {
        QList<qint64> found;
        for (int tries = 0; tries < 200 && found.size() < 2; ++tries) {
            QThread::msleep(25);
            found = childProcessesOf(program.processId());
        }
        return found;
    }();
    QCOMPARE(readers.size(), 2);
    ::kill(static_cast<pid_t>(program.processId()), SIGKILL);
    QVERIFY(program.waitForFinished());
    for (const qint64 reader : readers) {
        // Orphaned, the reader is this process's child: dead once it can be reaped. It dies
        // with the program, well before it would have ended its page (seconds) and found
        // nobody to answer.
        pid_t reaped = 0;
        for (int tries = 0; tries < 50 && reaped == 0; ++tries) {
            reaped = waitpid(static_cast<pid_t>(reader), nullptr, WNOHANG);
            QThread::msleep(reaped == 0 ? 20 : 0);
        }
        QCOMPARE(reaped, static_cast<pid_t>(reader));
    }
}

void tst_Search::aFailingIndexIsBuiltAgainOrSaysWhy_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("error");
    QTest::newRow("damaged table") << QStringLiteral("table") << QString();
    QTest::newRow("full disk") << QStringLiteral("disk")
                               << QStringLiteral("no queda espacio en el disco para el índice");
}

// The index fails under a pass, where opening it did not: it is built anew, or the pass
// says why it cannot be, and nothing is thrown at the caller.
void tst_Search::aFailingIndexIsBuiltAgainOrSaysWhy()
{
    QFETCH(QString, damage);
    QFETCH(QString, error);
    writeCollection();
    // Enough text for the tables to hold more than the blocks read at opening.
    QVERIFY(writeTestPdf(file(QStringLiteral("circulares/3022.pdf")),
                         {filler(300), filler(300), filler(300)}));
    index();
    QVERIFY(writeTestPdf(file(QStringLiteral("circulares/3023.pdf")),
                         {QStringLiteral("Circular sobre criptoactivos.")}));
    CollectionIndex writer(m_collection, m_indexFolder);
    QCOMPARE(writer.open(), CollectionIndex::OpenResult::Opened);
    IndexProgress progress;
    if (damage == QLatin1String("table")) {
        // The table of the terms, behind the back of the open index: the blocks it has
        // not read yet read as nonsense.
        QFile table(QDir(m_indexFolder).filePath(QStringLiteral("postlist.glass")));
        QVERIFY(table.size() > 0 && table.open(QIODevice::ReadWrite));
        QVERIFY(table.write(QByteArray(table.size(), '\x5A')) == table.size());
        table.close();
        progress = writer.update();
    } else {
        const FileSizeLimit full(4096);
        QVERIFY(full.isSet());
        progress = writer.update();
    }
    writer.close();
    QCOMPARE(progress.error, error);
    QCOMPARE(progress.finished, error.isEmpty());
    if (error.isEmpty()) {
        QCOMPARE(paths(find(QStringLiteral("criptoactivos"))),
                 QStringList{QStringLiteral("circulares/3023.pdf#1")});
        QCOMPARE(paths(find(QStringLiteral("tokenizado"))),
                 QStringList{QStringLiteral("circulares/3019.pdf#2")});
    }
}

// Searches run on a thread of their own; of two asked for one after the other, only
// the newer is answered, even when the older one's answer comes first.
void tst_Search::theNewestSearchWins()
{
    writeCollection();
    index();
    XapianSearchBackend backend;
    SearchService service(backend, m_collection, m_indexFolder);
    QStringList answered;
    std::vector<SearchHit> hits;
    connect(&service, &SearchService::hitsFound, this,
            [&](const QString &text, const std::vector<SearchHit> &found) {
                answered.append(text);
                hits = found;
            });
    service.search(QStringLiteral("custodia"));
    service.search(QStringLiteral("tokenizado"));
    QVERIFY(answered.isEmpty());
    QTRY_VERIFY(!answered.isEmpty());
    QCOMPARE(answered, QStringList{QStringLiteral("tokenizado")});
    QCOMPARE(paths(hits), QStringList{QStringLiteral("circulares/3019.pdf#2")});
}

void tst_Search::namesWithTabsAndLineBreaksKeepTheirPlace_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("printed");
    QTest::newRow("tab") << QStringLiteral("circulares/30\t19.pdf")
                         << QStringLiteral("circulares/30\\t19.pdf#page=1");
    QTest::newRow("line feed") << QStringLiteral("circulares/30\n19.pdf")
                               << QStringLiteral("circulares/30\\n19.pdf#page=1");
    QTest::newRow("carriage return and backslash")
        << QStringLiteral("pagina/a\\b\r.htm") << QStringLiteral("pagina/a\\\\b\\r.htm");
    QTest::newRow("escape") << QStringLiteral("pagina/\x1b[31mrojo.htm")
                            << QStringLiteral("pagina/\\x1b[31mrojo.htm");
}

// A file name may hold any character but "/": one with a tab or a line break is found
// under its whole name, read once, and printed on one line with its columns in place.
void tst_Search::namesWithTabsAndLineBreaksKeepTheirPlace()
{
    QFETCH(QString, name);
    QFETCH(QString, printed);
    if (name.endsWith(QLatin1String(".pdf"))) {
        QVERIFY(writeTestPdf(file(name), {QStringLiteral("Texto sobre criptoactivos.")}));
    } else {
        QVERIFY(QDir().mkpath(file(QStringLiteral("pagina"))));
        QVERIFY(writeAll(file(name), "<p>Texto sobre criptoactivos.</p>"));
    }
    QVERIFY(index().finished);
    const std::vector<SearchHit> hits = find(QStringLiteral("criptoactivos"));
    QCOMPARE(hits.size(), size_t(1));
    QCOMPARE(hits.front().relativePath, name);
    QCOMPARE(hits.front().absolutePath, file(name));
    // Its record is read back as written: the next pass has nothing to do.
    QList<IndexProgress> reports;
    CollectionIndex writer(m_collection, m_indexFolder);
    QCOMPARE(writer.open(), CollectionIndex::OpenResult::Opened);
    writer.update([&reports](const IndexProgress &p) { reports.append(p); });
    QCOMPARE(reports.front().done, 1);
    writer.close();

    QString outText;
    QString errText;
    QTextStream out(&outText);
    QTextStream err(&errText);
    QCOMPARE(runSearchCommand(m_collection, m_indexFolder, QStringLiteral("criptoactivos"), 20, out,
                              err),
             0);
    QVERIFY(outText.endsWith(u'\n'));
    const QStringList lines = outText.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 1);
    const QStringList fields = lines.front().split(u'\t');
    QCOMPARE(fields.size(), 4);
    QCOMPARE(fields[0], printed);
}

void tst_Search::theCommandLinePrintsTheBestAndCountsTheRest_data()
{
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("printed");
    QTest::addColumn<QString>("said");
    // "regulacion" is in 3019, 3020 (as "regulaciones") and pagina/normas.htm.
    QTest::newRow("all") << 0 << 3 << QString();
    QTest::newRow("more than there are") << 20 << 3 << QString();
    QTest::newRow("as many as there are") << 3 << 3 << QString();
    QTest::newRow("one left") << 2 << 2
                              << QStringLiteral("Hay 1 resultado más; --limit 0 los muestra "
                                                "todos.\n");
    QTest::newRow("two left") << 1 << 1
                              << QStringLiteral("Hay 2 resultados más; --limit 0 los muestra "
                                                "todos.\n");
}

// The best hits only, the same as the first lines of the whole answer, and how many more
// there are on standard error alone.
void tst_Search::theCommandLinePrintsTheBestAndCountsTheRest()
{
    QFETCH(int, limit);
    QFETCH(int, printed);
    QFETCH(QString, said);
    writeCollection();
    QString allText;
    QString outText;
    QString errText;
    QTextStream all(&allText);
    QTextStream out(&outText);
    QTextStream err(&errText);
    QCOMPARE(
        runSearchCommand(m_collection, m_indexFolder, QStringLiteral("regulacion"), 0, all, err),
        0);
    QCOMPARE(errText, QString());
    QCOMPARE(runSearchCommand(m_collection, m_indexFolder, QStringLiteral("regulacion"), limit, out,
                              err),
             0);
    QCOMPARE(errText, said);
    const QStringList lines = outText.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), printed);
    QCOMPARE(lines, allText.split(u'\n', Qt::SkipEmptyParts).first(printed));
}

QTEST_MAIN(tst_Search)
#include "tst_search.moc"

// The circular index page and what an install tells the reader.
#include "indexpage.h"
#include "indexrefresh.h"
#include "pdfprinting.h"
#include "testzip.h"
#include "zippackageinstaller.h"

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

using Seen = std::optional<QSet<QString>>;

QStringList L(std::initializer_list<const char *> texts)
{
    QStringList list;
    for (const char *text : texts) {
        list.append(QString::fromUtf8(text));
    }
    return list;
}

QSet<QString> S(std::initializer_list<const char *> texts)
{
    const QStringList list = L(texts);
    return QSet<QString>(list.cbegin(), list.cend());
}

PresentCircular F(const char *number, const char *title, QDate date = {})
{
    return {QString::fromUtf8(number), QString::fromUtf8(title), date};
}

CatalogCircular circular(const char *number, const char *date, const char *title,
                         const QStringList &repeals = {}, const QStringList &amends = {})
{
    CatalogCircular c;
    c.number = QLatin1String(number);
    c.date = QDate::fromString(QLatin1String(date), Qt::ISODate);
    c.title = QString::fromUtf8(title);
    c.repeals = repeals;
    c.amends = amends;
    return c;
}

Catalog demoCatalog()
{
    Catalog catalog;
    catalog.circulars = {
        circular("1001", "2024-01-15", "Registro de emisores"),
        circular("1002", "2024-03-04", "Horario de las sesiones"),
        circular("1003", "2024-05-20", "Información trimestral"),
        circular("1004", "2024-07-08", "Hechos relevantes", {}, L({"1003"})),
        circular("1007", "2024-12-02", "Conservación de registros", L({"1002"})),
    };
    return catalog;
}

QList<PresentCircular> present(const QStringList &numbers)
{
    QList<PresentCircular> files;
    for (const QString &number : numbers) {
        files.append(
            {number, QStringLiteral("Título propio de %1").arg(number), QDate(2020, 1, 1)});
    }
    return files;
}

// The table row of circular number, empty when the page has none.
QString rowOf(const QString &html, const QString &number)
{
    const QString start = QStringLiteral("<tr><td><a href=\"../circulares/%1.pdf\">").arg(number);
    const qsizetype at = html.indexOf(start);
    return at < 0 ? QString() : html.mid(at, html.indexOf(QLatin1String("</tr>"), at) - at);
}

} // namespace

class TestIndexPage : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void page_data()
    {
        QTest::addColumn<std::optional<Catalog>>("catalog");
        QTest::addColumn<QList<PresentCircular>>("files");
        QTest::addColumn<Seen>("seen");
        QTest::addColumn<QStringList>("order");  // numbers, newest first
        QTest::addColumn<QStringList>("rows");   // "number|text the row holds"
        QTest::addColumn<QStringList>("absent"); // texts the page never holds

        const QStringList all = L({"1001", "1002", "1003", "1004", "1007"});
        QTest::newRow("repealed, amended and in force")
            << std::optional(demoCatalog()) << present(all) << Seen()
            << L({"1007", "1004", "1003", "1002", "1001"})
            << L({"1002|Derogada por la Circular <a href=\"../circulares/1007.pdf\">1007</a>",
                  "1003|Modificada por la Circular <a href=\"../circulares/1004.pdf\">1004</a>",
                  "1001|Vigente", "1007|04/03/2024|", "1007|Vigente",
                  "1002|Horario de las sesiones"})
            << L({"Nueva", "Título propio"});
        QTest::newRow("repealed by a circular the collection lacks: named, not linked")
            << std::optional(demoCatalog()) << present(L({"1001", "1002"})) << Seen()
            << L({"1002", "1001"}) << L({"1002|Derogada por la Circular 1007"}) << L({"1007.pdf"});
        QTest::newRow("new since the last visit")
            << std::optional(demoCatalog()) << present(all) << Seen(S({"1001", "1002", "1003"}))
            << L({"1007", "1004"}) << L({"1007|Nueva", "1004|Nueva"})
            << L({"1001|Nueva", "1002|Nueva", "1003|Nueva"});
        QTest::newRow("no catalog: the files' own titles and dates, no status")
            << std::optional<Catalog>()
            << QList<PresentCircular>{F("9", "Nueve", QDate(2023, 2, 1)),
                                      F("10", "", QDate(2023, 2, 1)),
                                      F("8", "Ocho", QDate(2023, 3, 1))}
            << Seen(S({"8", "9"})) << L({"8", "10", "9"})
            << L({"9|Nueve", "9|01/02/2023", "10|Circular 10", "10|Nueva"})
            << L({"Vigente", "Estado", "Derogada"});
        Catalog hostile;
        hostile.circulars = {
            circular("1", "2024-01-01", "<script>alert(1)</script>"),
            circular("2", "2024-01-02", "\"><img src=x onerror=alert(1)> & 'x'\x01"),
        };
        QTest::newRow("hostile titles and file names are text")
            << std::optional(hostile)
            << QList<PresentCircular>{F("1", ""), F("2", ""), F("a\"<b>'", "<i>")} << Seen()
            << L({"2", "1"})
            << L({"1|&lt;script&gt;alert(1)&lt;/script&gt;",
                  "2|&quot;&gt;&lt;img src=x onerror=alert(1)&gt; &amp; &#39;x&#39; "})
            << L({"<script", "<img", "<b>", "<i>", "'x'", "a\"<"});
    }

    void page()
    {
        QFETCH(std::optional<Catalog>, catalog);
        QFETCH(QList<PresentCircular>, files);
        QFETCH(Seen, seen);
        QFETCH(QStringList, order);
        QFETCH(QStringList, rows);
        QFETCH(QStringList, absent);
        const QString html = circularIndexPage(catalog, files, seen);
        qsizetype last = -1;
        for (const QString &number : order) {
            const qsizetype at = html.indexOf(rowOf(html, number));
            QVERIFY2(!rowOf(html, number).isEmpty() && at > last, qPrintable(number));
            last = at;
        }
        for (const QString &expected : rows) {
            const QString number = expected.section(u'|', 0, 0);
            const QString text = expected.section(u'|', 1);
            const bool negated = text.endsWith(u'|');
            const bool holds = rowOf(html, number).contains(negated ? text.chopped(1) : text);
            QVERIFY2(holds != negated, qPrintable(expected + QStringLiteral("\n") + html));
        }
        for (const QString &text : absent) {
            const QString number = text.section(u'|', 0, 0);
            const QString inRow = text.section(u'|', 1);
            QVERIFY2(text.contains(u'|') ? !rowOf(html, number).contains(inRow)
                                         : !html.contains(text),
                     qPrintable(text + QStringLiteral("\n") + html));
        }
    }

    void installMessage_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("holds");
        QTest::addColumn<QStringList>("lacks");
        QTest::newRow("none") << 0 << L({"no trae circulares nuevas"}) << L({"•"});
        QTest::newRow("one") << 1 << L({"Se instaló 1 circular nueva", "• Circular 2001: T2001"})
                             << L({"más"});
        QTest::newRow("ten named")
            << 10 << L({"Se instalaron 10", "Circular 2010: T2010"}) << L({"más"});
        QTest::newRow("twelve: ten named, then the rest counted")
            << 12 << L({"Se instalaron 12", "Circular 2010: T2010", "\ny 2 más"})
            << L({"Circular 2011", "Circular 2012"});
    }

    void installMessage()
    {
        QFETCH(int, count);
        QFETCH(QStringList, holds);
        QFETCH(QStringList, lacks);
        QStringList numbers;
        QHash<QString, QString> titles;
        for (int i = count; i >= 1; --i) {
            numbers.append(QString::number(2000 + i));
            titles.insert(numbers.last(), QStringLiteral("T%1").arg(2000 + i));
        }
        const QString text = newCircularsText(numbers, titles, 3);
        for (const QString &part : holds) {
            QVERIFY2(text.contains(part), qPrintable(text));
        }
        for (const QString &part : lacks) {
            QVERIFY2(!text.contains(part), qPrintable(text));
        }
    }

    // A package that brings circulars the collection has counts none of them as new, and
    // the index is written beside them.
    void reinstallBringsNothingNew()
    {
        QTemporaryDir folder;
        QTemporaryDir work;
        const QString package = work.filePath(QStringLiteral("p.zip"));
        QVERIFY(writeTestZip(package, {{"circulares/4001.pdf", testPdf("4001")},
                                       {"circulares/4002.pdf", testPdf("4002")}}));
        const Collection collection(folder.path());
        ZipPackageInstaller installer;
        QtPdfDocuments pdf;
        PackageTrust trust;
        trust.today = QDate::currentDate();

        const QSet<QString> empty = collectionCirculars(collection);
        const InstallNews first =
            installNews(collection, empty, installer.install(package, folder.path(), trust), pdf);
        QVERIFY2(first.circulars.size() == 2, qPrintable(first.message));
        QVERIFY2(first.message.startsWith(QStringLiteral("Se instalaron 2 circulares nuevas")),
                 qPrintable(first.message));
        QVERIFY(first.message.contains(QStringLiteral("legisdis.pub")));

        const QSet<QString> both = collectionCirculars(collection);
        const InstallNews again =
            installNews(collection, both, installer.install(package, folder.path(), trust), pdf);
        QVERIFY(again.circulars.isEmpty());
        QVERIFY2(again.message.startsWith(
                     QStringLiteral("Se instaló la actualización (2 archivos); no trae "
                                    "circulares nuevas.")),
                 qPrintable(again.message));
        const QString index = folder.filePath(QStringLiteral("pagina/circulares.htm"));
        QVERIFY(QFile::exists(index));
    }
};

QTEST_GUILESS_MAIN(TestIndexPage)
#include "tst_indexpage.moc"

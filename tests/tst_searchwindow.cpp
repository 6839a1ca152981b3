#include "filesizelimit.h"
#include "findbar.h"
#include "frmbrowser.h"
#include "heavypdf.h"
#include "qtwebbrowser.h"
#include "searchpane.h"
#include "searchservice.h"
#include "searchtools.h"
#include "testfiles.h"
#include "testpdf.h"
#include "testplatform.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <QToolButton>
#include <QWebEngineHistory>
#include <QWebEngineView>

#include <memory>

namespace {
constexpr int loadTimeout = 30000;

QString sentences(int count)
{
    QString text;
    for (int i = 0; i < count; ++i) {
        text += QStringLiteral("El mercado de valores opera con normalidad cada día hábil. ");
    }
    return text;
}
} // namespace

// The search of the collection and the find bar, driven through the main
// window on the real browser.
class TestSearchWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<TestPlatform> p;
    std::unique_ptr<frmBrowser> window;

    QString local(const QString &relative) const { return QDir(p->folder()).filePath(relative); }
    QWebEnginePage *page() const
    {
        return static_cast<QtWebBrowser *>(window->WebBrowser1)->view()->page();
    }

    // With the fake browser, the home page completes at once unless pageShown is false.
    void open(bool realBrowser = true, bool pageShown = true)
    {
        window = std::make_unique<frmBrowser>(
            realBrowser ? p->withRealBrowser() : p->withFakeBrowser(), p->folder());
        window->resize(1000, 700);
        QVERIFY(window->Form_Load());
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        if (!realBrowser && pageShown) {
            emit window->WebBrowser1->DocumentComplete(local(QStringLiteral("pagina/maincd.htm")));
        }
    }

    void waitForIndex()
    {
        QTRY_VERIFY_WITH_TIMEOUT(
            window->search->lblIndexStatus->text().startsWith(QStringLiteral("Colección indexada")),
            loadTimeout);
    }

    void typeFind(const QString &text)
    {
        window->search->findBar->txtFind->clear();
        QTest::keyClicks(window->search->findBar->txtFind, text);
    }

private slots:
    void init()
    {
        p = std::make_unique<TestPlatform>();
        p->writeFile(QStringLiteral("pagina/maincd.htm"),
                     "<html><head><meta charset='utf-8'><title>Inicio</title></head><body>"
                     "<h1>Normativa</h1><p>Las normas del mercado. Otras normas. "
                     "Unas normas más.</p></body></html>");
        p->writeFile(QStringLiteral("pagina/custodia.htm"),
                     "<html><head><meta charset='windows-1252'><title>Custodia de valores"
                     "</title></head><body><p>" +
                         sentences(3).toLatin1() +
                         "</p><p>Normas sobre la custodia de los t\xEDtulos tokenizados.</p>"
                         "</body></html>");
        QVERIFY(writeTestPdf(local(QStringLiteral("circulares/3019.pdf")),
                             {sentences(8), sentences(4) +
                                                QStringLiteral("Activos tokenizados en custodia "
                                                               "electrónica. ") +
                                                sentences(4)},
                             QStringLiteral("Activos digitales")));
    }

    void cleanup()
    {
        window.reset();
        p.reset();
    }

    void indexStatusKeepsToItsOwnPlace()
    {
        open(false);
        QVERIFY(!window->search->findBar->isVisible());
        QVERIFY(!window->search->searchPane->isVisible());

        // The index's progress keeps to its own part of the status bar.
        waitForIndex();
        emit window->WebBrowser1->StatusTextChange(QStringLiteral("file:///enlace.htm"));
        QCOMPARE(window->statusText(), QStringLiteral("file:///enlace.htm"));
        QVERIFY(window->search->lblIndexStatus->text().startsWith(
            QStringLiteral("Colección indexada")));
        QCOMPARE(indexStatusText(1234, 5000, 0, false),
                 QStringLiteral("Indexando la colección: 1.234 de 5.000"));
        QCOMPARE(indexStatusText(12, 12, 1, true),
                 QStringLiteral("Colección indexada (1 archivo no se pudo leer)"));
    }

    void findBarOnAPage()
    {
        open();
        QTRY_COMPARE_WITH_TIMEOUT(window->txtURL->text(),
                                  local(QStringLiteral("pagina/maincd.htm")), loadTimeout);
        window->WebBrowser1->setFocus();
        QTest::keyClick(window.get(), Qt::Key_F, Qt::ControlModifier);
        QTRY_VERIFY(window->search->findBar->isVisible());
        QVERIFY(window->search->findBar->txtFind->hasFocus());
        // Under the address bar, over the page's top.
        QCOMPARE(window->search->findBar->y(), window->WebBrowser1->y());

        QLabel *count = window->search->findBar->lblFindCount;
        typeFind(QStringLiteral("normas"));
        QTRY_COMPARE_WITH_TIMEOUT(count->text(), QStringLiteral("1 de 3"), loadTimeout);
        QTest::keyClick(window->search->findBar->txtFind, Qt::Key_Return);
        QTRY_COMPARE(count->text(), QStringLiteral("2 de 3"));
        QTest::keyClick(window.get(), Qt::Key_F3);
        QTRY_COMPARE(count->text(), QStringLiteral("3 de 3"));
        QTest::keyClick(window.get(), Qt::Key_F3);
        QTRY_COMPARE(count->text(), QStringLiteral("1 de 3"));
        QTest::keyClick(window.get(), Qt::Key_F3, Qt::ShiftModifier);
        QTRY_COMPARE(count->text(), QStringLiteral("3 de 3"));
        QTest::mouseClick(window->search->findBar->cmdFindPrevious, Qt::LeftButton);
        QTRY_COMPARE(count->text(), QStringLiteral("2 de 3"));

        typeFind(QStringLiteral("inexistente"));
        QTRY_COMPARE_WITH_TIMEOUT(count->text(), QStringLiteral("Sin resultados"), loadTimeout);

        QTest::keyClick(window->search->findBar->txtFind, Qt::Key_Escape);
        QVERIFY(!window->search->findBar->isVisible());
    }

    void findBarOnAPdf()
    {
        open();
        window->WebBrowser1->Navigate2(local(QStringLiteral("circulares/3019.pdf")));
        QTRY_COMPARE_WITH_TIMEOUT(window->txtURL->text(),
                                  local(QStringLiteral("circulares/3019.pdf")), loadTimeout);
        QTest::keyClick(window.get(), Qt::Key_F, Qt::ControlModifier);
        QTRY_VERIFY(window->search->findBar->isVisible());
        // The viewer reads the document in the background: ask until it answers.
        QLabel *count = window->search->findBar->lblFindCount;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                typeFind(QStringLiteral("tokenizados"));
                QTest::qWait(300);
                return count->text() == QStringLiteral("1 de 1");
            }(),
            loadTimeout);
        typeFind(QStringLiteral("mercado"));
        // The viewer counts page by page: wait for all 16, wherever it stands.
        QTRY_VERIFY_WITH_TIMEOUT(count->text().endsWith(QStringLiteral(" de 16")), loadTimeout);
    }

    void resultsPaneOpensTheHits()
    {
        open();
        waitForIndex();
        QTest::keyClicks(window->search->txtSearch, QStringLiteral("tokenizado"));
        QTest::keyClick(window->search->txtSearch, Qt::Key_Return);
        SearchPane *pane = window->search->searchPane;
        // The search runs off the window's thread: the pane opens at once and says so.
        QVERIFY(pane->isVisible());
        QCOMPARE(pane->lblSearchSummary->text(), QStringLiteral("Buscando «tokenizado»…"));
        QTRY_COMPARE(pane->lblSearchSummary->text(),
                     QStringLiteral("2 resultados para «tokenizado»"));
        QCOMPARE(pane->lstResults->count(), 2);
        QTRY_VERIFY(pane->lstResults->hasFocus());
        // Beside the browser, which gives up the room.
        QCOMPARE(window->WebBrowser1->width() + pane->width(), window->centralWidget()->width());
        QCOMPARE(pane->x(), window->WebBrowser1->width());
        QVERIFY(pane->width() <= window->centralWidget()->width() / 3);

        // Best first: the circular's words are the words typed's forms both.
        int pdfRow = -1;
        int pageRow = -1;
        for (int row = 0; row < 2; ++row) {
            (pane->hits()[row].page > 0 ? pdfRow : pageRow) = row;
        }
        QVERIFY(pdfRow >= 0 && pageRow >= 0);
        QCOMPARE(pane->hits()[pdfRow].title, QStringLiteral("Circular 3019: Activos digitales"));
        QCOMPARE(SearchPane::describe(pane->hits()[pdfRow]), QStringLiteral("circular · página 2"));
        QCOMPARE(SearchPane::describe(pane->hits()[pageRow]), QStringLiteral("página"));
        QVERIFY(SearchPane::snippetHtml(pane->hits()[pdfRow])
                    .contains(QStringLiteral("<b>tokenizados</b>")));

        // Enter on the PDF opens it at its page, as wide as the browser and without the
        // viewer's bars (beside the results they would leave it too narrow), with the
        // words found by the find bar once the viewer has its text.
        pane->lstResults->setFocus();
        pane->lstResults->setCurrentRow(pdfRow);
        QTest::keyClick(pane->lstResults, Qt::Key_Return);
        QUrl expected = QUrl::fromLocalFile(local(QStringLiteral("circulares/3019.pdf")));
        expected.setFragment(QStringLiteral("page=2&view=FitH&toolbar=0"));
        QTRY_COMPARE_WITH_TIMEOUT(page()->url(), expected, loadTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(window->search->findBar->isVisible(), loadTimeout);
        QCOMPARE(window->search->findBar->txtFind->text(), QStringLiteral("tokenizados"));
        QTRY_VERIFY_WITH_TIMEOUT(
            window->search->findBar->lblFindCount->text().contains(QLatin1String(" de ")),
            loadTimeout);

        // The zoom keys reach the document wherever the keyboard is: it opens again at its
        // page and the zoom chosen, in place in the history; Ctrl+0 gives it the width back.
        const int steps = page()->history()->count();
        QTest::keySequence(window.get(), QKeySequence(Qt::CTRL | Qt::Key_Plus));
        QTRY_VERIFY_WITH_TIMEOUT(page()->url().fragment().startsWith(QLatin1String("page=2&zoom=")),
                                 loadTimeout);
        QTest::keySequence(window.get(), QKeySequence(Qt::CTRL | Qt::Key_0));
        expected.setFragment(QStringLiteral("page=2&view=FitH&toolbar=0"));
        QTRY_COMPARE_WITH_TIMEOUT(page()->url(), expected, loadTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(!window->WebBrowser1->Busy(), loadTimeout);
        QCOMPARE(page()->history()->count(), steps);

        // A click on the page opens it with the words found by the find bar.
        const QRect rect = pane->lstResults->visualItemRect(pane->lstResults->item(pageRow));
        QTest::mouseClick(pane->lstResults->viewport(), Qt::LeftButton, {}, rect.center());
        QTRY_COMPARE_WITH_TIMEOUT(window->txtURL->text(),
                                  local(QStringLiteral("pagina/custodia.htm")), loadTimeout);
        QTRY_VERIFY(window->search->findBar->isVisible());
        QCOMPARE(window->search->findBar->txtFind->text(), QStringLiteral("tokenizados"));
        QTRY_COMPARE_WITH_TIMEOUT(window->search->findBar->lblFindCount->text(),
                                  QStringLiteral("1 de 1"), loadTimeout);

        // Closing the pane gives the browser its width back; F9 shows the results again.
        QTest::mouseClick(pane->cmdSearchClose, Qt::LeftButton);
        QVERIFY(!pane->isVisible());
        QCOMPARE(window->WebBrowser1->width(), window->centralWidget()->width());
        window->mnuResults->trigger();
        QVERIFY(pane->isVisible());
        QCOMPARE(pane->lstResults->count(), 2);
        window->mnuResults->trigger();
        QVERIFY(!pane->isVisible());

        // Nothing found.
        window->search->txtSearch->setText(QStringLiteral("inexistente"));
        QTest::keyClick(window->search->txtSearch, Qt::Key_Return);
        QTRY_VERIFY(pane->isVisible());
        QTRY_COMPARE(pane->lblSearchSummary->text(),
                     QStringLiteral("Sin resultados para «inexistente»"));
        QCOMPARE(pane->lstResults->count(), 0);
    }

    // The start-up does nothing with the collection's files until its first page is there.
    void theIndexWaitsForTheFirstPage()
    {
        open(false, false);
        QTest::qWait(1500);
        QVERIFY(window->search->lblIndexStatus->text().isEmpty());
        emit window->WebBrowser1->DocumentComplete(local(QStringLiteral("pagina/maincd.htm")));
        waitForIndex();
    }

    void anInstalledFileIsFoundAfterReindexing()
    {
        open(false);
        waitForIndex();
        QVERIFY(writeTestPdf(local(QStringLiteral("circulares/3020.pdf")),
                             {sentences(6) + QStringLiteral("Norma sobre criptoactivos.")}));
        window->search->lblIndexStatus->clear();
        window->reindexCollection();
        waitForIndex();
        window->search->txtSearch->setText(QStringLiteral("criptoactivos"));
        QTest::keyClick(window->search->txtSearch, Qt::Key_Return);
        QTRY_COMPARE(window->search->searchPane->lstResults->count(), 1);
        QCOMPARE(window->search->searchPane->hits().front().relativePath,
                 QStringLiteral("circulares/3020.pdf"));
    }

    void searchSaysWhyItIsUnavailable_data()
    {
        QTest::addColumn<QString>("cause");
        QTest::addColumn<QString>("status");
        QTest::newRow("full disk") << QStringLiteral("disk")
                                   << QStringLiteral("Búsqueda no disponible: no queda espacio en "
                                                     "el disco para el índice");
        QTest::newRow("not a collection") << QStringLiteral("folder")
                                          << QStringLiteral("Búsqueda no disponible: la carpeta %1 "
                                                            "no es una colección: no tiene pagina/ "
                                                            "ni circulares/");
        QTest::newRow("no services module")
            << QStringLiteral("module")
            << QStringLiteral("Búsqueda no disponible: no hay módulo de servicios en esta prueba");
    }

    // The index fails under a pass, or the folder is no collection: the window goes on,
    // and its status says why there is no search.
    void searchSaysWhyItIsUnavailable()
    {
        QFETCH(QString, cause);
        QFETCH(QString, status);
        std::unique_ptr<FileSizeLimit> full;
        if (cause == QLatin1String("disk")) {
            open(false);
            waitForIndex();
            QVERIFY(writeTestPdf(local(QStringLiteral("circulares/3020.pdf")),
                                 {QStringLiteral("Norma sobre criptoactivos.")}));
            full = std::make_unique<FileSizeLimit>(4096);
            QVERIFY(full->isSet());
            window->reindexCollection();
        } else if (cause == QLatin1String("module")) {
            p->features.missing = true;
            open(false);
        } else {
            QVERIFY(QDir(local(QStringLiteral("pagina"))).removeRecursively());
            QVERIFY(QDir(local(QStringLiteral("circulares"))).removeRecursively());
            status = status.arg(p->folder());
            open(false);
        }
        QTRY_COMPARE_WITH_TIMEOUT(window->search->lblIndexStatus->text(), status, loadTimeout);
        full.reset();
        // A search asked for all the same finds nothing, and the window goes on.
        window->search->search(QStringLiteral("mercado"));
        QTest::qWait(200);
        QCOMPARE(window->search->searchPane->lstResults->count(), 0);
        QVERIFY(window->isVisible());
    }

    // Quitting while the index reads a PDF whose thousands of pages are each slow to
    // read: the window goes at once, without waiting for the rest of the document.
    void quittingDoesNotWaitForASlowDocument()
    {
        QVERIFY(writeAll(local(QStringLiteral("circulares/5001.pdf")),
                         heavyTestPdf(4000, 1000000, "inicio", "final")));
        open(false);
        // The circular before it is indexed: the slow one is being read.
        QTRY_COMPARE_WITH_TIMEOUT(window->search->lblIndexStatus->text(),
                                  QStringLiteral("Indexando la colección: 1 de 4"), loadTimeout);
        window->mnuClose->trigger();
        QTRY_VERIFY(!window->isVisible());
        window.reset();
    }
};

QTEST_MAIN(TestSearchWindow)
#include "tst_searchwindow.moc"

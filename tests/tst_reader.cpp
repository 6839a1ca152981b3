// What a reader does with the documents: the address typed, the address shared, the
// browser's keys, and a circular printed and saved as itself.
#include "collection.h"
#include "findbar.h"
#include "frmbrowser.h"
#include "pdfview.h"
#include "qtwebbrowser.h"
#include "readeraddress.h"
#include "searchpane.h"
#include "searchtools.h"
#include "testpdf.h"
#include "testplatform.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPainter>
#include <QPdfDocument>
#include <QProcess>
#include <QProgressDialog>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

namespace {
constexpr int loadTimeout = 30000;
const QString web = QStringLiteral("https://example.org/legisdisco/");

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The output of a poppler tool on file.
QString poppler(const char *tool, const QStringList &arguments)
{
    QProcess process;
    process.start(QLatin1String(tool), arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0) {
        return QStringLiteral("(%1 failed)").arg(QLatin1String(tool));
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

int pageCount(const QString &pdf)
{
    const QString info = poppler("pdfinfo", {pdf});
    const qsizetype at = info.indexOf(QLatin1String("Pages:"));
    return at < 0 ? -1 : info.mid(at + 6).section(u'\n', 0, 0).trimmed().toInt();
}

// The dark pixels of each page of pdf, drawn at 72 dpi, and whether each lies on its side.
struct Printed {
    QList<int> ink;
    QList<bool> landscape;
};
Printed printedPages(const QString &pdf)
{
    Printed printed;
    QPdfDocument document;
    if (document.load(pdf) != QPdfDocument::Error::None) {
        return printed;
    }
    for (int page = 0; page < document.pageCount(); ++page) {
        const QSizeF size = document.pagePointSize(page);
        // On white paper: the page's own background may be transparent.
        QImage image(size.toSize(), QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter(&image).drawImage(0, 0, document.render(page, size.toSize()));
        int ink = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                ink += qGray(image.pixel(x, y)) < 160 ? 1 : 0;
            }
        }
        printed.ink.append(ink);
        printed.landscape.append(size.width() > size.height());
    }
    return printed;
}

// A circular whose page n holds n * n * 4 blocks: each page known by its ink.
bool writeInkedCircular(const QString &path, int pages)
{
    QStringList texts;
    for (int page = 1; page <= pages; ++page) {
        texts.append(QString(page * page * 4, QChar(0x2588)));
    }
    return writeTestPdf(path, texts);
}

// A collection whose per-user folder holds circular 1007, as an installed program's does
// once an update came.
struct OverlaidCollection {
    QTemporaryDir program;
    QTemporaryDir user;
    Collection collection;

    OverlaidCollection()
        : collection(program.path(), user.path())
    {
        write(program.path(), QStringLiteral("pagina/maincd.htm"), "<html></html>");
        write(program.path(), QStringLiteral("circulares/1001.pdf"), "%PDF-1.4\n");
        write(user.path(), QStringLiteral("circulares/1007.pdf"), "%PDF-1.4\n");
        write(program.path(), QStringLiteral("legisdis.ini"), "[http]\r\nweb=" + web.toUtf8());
    }
    static void write(const QString &folder, const QString &relative, const QByteArray &bytes)
    {
        const QString path = QDir(folder).filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
};
} // namespace

class TestReader : public QObject {
    Q_OBJECT

private slots:
    void typedAddresses_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("opened"); // "P/" for the program folder
        QTest::newRow("path in the collection") << "circulares/1001.pdf"
                                                << "P/circulares/1001.pdf";
        QTest::newRow("path of the per-user copy") << "circulares/1007.pdf"
                                                   << "P/circulares/1007.pdf";
        QTest::newRow("number of a circular") << "1001"
                                              << "P/circulares/1001.pdf";
        QTest::newRow("number, spaces around") << " 1007 "
                                               << "P/circulares/1007.pdf";
        QTest::newRow("number of no circular") << "1003"
                                               << "1003";
        QTest::newRow("missing file") << "circulares/9999.pdf"
                                      << "circulares/9999.pdf";
        QTest::newRow("leaves the collection") << "circulares/../legisdis.ini"
                                               << "circulares/../legisdis.ini";
        QTest::newRow("hidden part") << "circulares/.x/1001.pdf"
                                     << "circulares/.x/1001.pdf";
        QTest::newRow("web address") << "http://h/1001"
                                     << "http://h/1001";
        QTest::newRow("host without scheme") << "ejemplo.org/a.htm"
                                             << "ejemplo.org/a.htm";
        QTest::newRow("empty") << ""
                               << "";
    }

    void typedAddresses()
    {
        QFETCH(QString, typed);
        QFETCH(QString, opened);
        const OverlaidCollection c;
        opened.replace(QLatin1String("P/"), c.program.path() + u'/');
        QCOMPARE(typedAddress(c.collection, typed), opened);
    }

    void sharedAddresses_data()
    {
        QTest::addColumn<QString>("text"); // "P/" the program folder, "U/" the per-user one
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("expected");
        QTest::newRow("circular of the program folder")
            << "P/circulares/1001.pdf" << 0 << web + QStringLiteral("circulares/1001.pdf");
        QTest::newRow("circular of the per-user copy")
            << "U/circulares/1007.pdf" << 0 << web + QStringLiteral("circulares/1007.pdf");
        QTest::newRow("file URL of the per-user copy")
            << "file://U/circulares/1007.pdf" << 0 << web + QStringLiteral("circulares/1007.pdf");
        QTest::newRow("at a page")
            << "U/circulares/1007.pdf" << 3 << web + QStringLiteral("circulares/1007.pdf#page=3");
        QTest::newRow("a page is for PDF documents only")
            << "P/pagina/maincd.htm" << 3 << web + QStringLiteral("pagina/maincd.htm");
        QTest::newRow("web address as it is") << "http://h/a.pdf" << 2 << "http://h/a.pdf";
        QTest::newRow("outside both folders is cut")
            << "/otro/lugar/pagina/a.htm" << 0 << web + QStringLiteral("pagina/a.htm");
    }

    void sharedAddresses()
    {
        QFETCH(QString, text);
        QFETCH(int, page);
        QFETCH(QString, expected);
        const QString program = QStringLiteral("/opt/legisdisco");
        const QString user = QStringLiteral("/home/ana/.local/share/Legisdisco/Legisdisco/ab12");
        text.replace(QLatin1String("P/"), program + u'/').replace(QLatin1String("U/"), user + u'/');
        QCOMPARE(sharedPageAddress(text, web, program, user, page), expected);
    }

    // How a local PDF document is opened: at the reader's zoom, as wide as the viewer at
    // zoom 1, without the viewer's thumbnails where they would leave it too narrow.
    void pdfOpenings_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<int>("page");
        QTest::addColumn<double>("zoom");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("openedAt"); // the page the result opens at, 0 for none
        QTest::newRow("whole window") << "" << 0 << 1.0 << 1366 << "view=FitH" << 0;
        QTest::newRow("beside the results") << "" << 0 << 1.0 << 946 << "view=FitH&toolbar=0" << 0;
        QTest::newRow("search hit")
            << "page=2&view=FitH" << 0 << 1.0 << 946 << "page=2&view=FitH&toolbar=0" << 2;
        QTest::newRow("opened again")
            << "page=2&view=FitH&toolbar=0" << 0 << 1.0 << 946 << "page=2&view=FitH&toolbar=0" << 2;
        QTest::newRow("reader's zoom")
            << "page=2&view=FitH" << 0 << 1.5 << 946 << "page=2&zoom=174&toolbar=0" << 2;
        QTest::newRow("zoom changed on another page")
            << "page=2&zoom=174&toolbar=0" << 4 << 1.1 << 946 << "page=4&zoom=127&toolbar=0" << 4;
        QTest::newRow("back to the width")
            << "page=4&zoom=127&toolbar=0" << 4 << 1.0 << 946 << "page=4&view=FitH&toolbar=0" << 4;
        QTest::newRow("address's own zoom") << "zoom=200" << 0 << 1.0 << 1366 << "zoom=200" << 0;
        QTest::newRow("other parameters stay") << "nameddest=art5&NavPanes=0&Toolbar=1" << 0 << 1.0
                                               << 1366 << "nameddest=art5&view=FitH" << 0;
        QTest::newRow("largest zoom") << "" << 0 << 5.0 << 1366 << "zoom=500" << 0;
        QTest::newRow("smallest zoom") << "" << 0 << 0.25 << 300 << "zoom=25&toolbar=0" << 0;
    }

    void pdfOpenings()
    {
        QFETCH(QString, given);
        QFETCH(int, page);
        QFETCH(double, zoom);
        QFETCH(int, width);
        QFETCH(QString, expected);
        QFETCH(int, openedAt);
        // A zoom key opens the document again at the reader's page.
        const bool zoomKey = page > 0;
        const QString fragment = pdfOpenFragment(given, {page, zoom, width, 595, zoomKey});
        QCOMPARE(fragment, expected);
        QCOMPARE(pdfFragmentPage(fragment), openedAt);
    }

    // The page the reader is on, followed through the viewer's reports of the page it
    // shows most of (pages of 595 x 842 points; at zoom 0.5 one is 396.7 pixels wide and
    // 566.3 pixels from the start of the next).
    void pdfPlaces_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<double>("top");
        QTest::addColumn<double>("zoom");
        QTest::addColumn<double>("reportedTop");
        QTest::addColumn<double>("reportedWidth");
        QTest::addColumn<bool>("landscapeSecond");
        QTest::addColumn<int>("expected");
        const double width = 595 * 4.0 / 3 * 0.5;
        QTest::newRow("scrolled within") << 1 << 3.0 << 0.5 << -40.0 << width << false << 1;
        QTest::newRow("into the next") << 1 << -270.0 << 0.5 << 276.3 << width << false << 2;
        QTest::newRow("back") << 2 << 276.3 << 0.5 << -270.0 << width << false << 1;
        QTest::newRow("down the last") << 5 << -100.0 << 0.5 << -180.0 << width << false << 5;
        QTest::newRow("zoom changed") << 3 << -10.0 << 0.5 << -30.0 << 2 * width << false << 3;
        QTest::newRow("first report") << 4 << 0.0 << 0.0 << -30.0 << width << false << 4;
        QTest::newRow("into a wider page")
            << 1 << -270.0 << 0.5 << 276.3 << 842 * 4.0 / 3 * 0.5 << true << 2;
        QTest::newRow("not known") << 0 << 0.0 << 0.5 << -30.0 << width << false << 0;
        QTest::newRow("beyond the end") << 9 << 0.0 << 0.5 << -30.0 << width << false << 0;
    }

    void pdfPlaces()
    {
        QFETCH(int, page);
        QFETCH(double, top);
        QFETCH(double, zoom);
        QFETCH(double, reportedTop);
        QFETCH(double, reportedWidth);
        QFETCH(bool, landscapeSecond);
        QFETCH(int, expected);
        QList<QSizeF> pages(5, QSizeF(595, 842));
        if (landscapeSecond) {
            pages[1] = QSizeF(842, 595);
        }
        QCOMPARE(followPdfViewport({page, top, zoom}, reportedTop, reportedWidth, pages).page,
                 expected);
    }

    // The keys act wherever the keyboard is in the window.
    void keys_data()
    {
        QTest::addColumn<QKeySequence>("key");
        QTest::addColumn<QString>("expected");
        QTest::newRow("Ctrl+L") << QKeySequence(Qt::CTRL | Qt::Key_L) << "focus txtURL";
        QTest::newRow("Alt+D") << QKeySequence(Qt::ALT | Qt::Key_D) << "focus txtURL";
        QTest::newRow("F6") << QKeySequence(Qt::Key_F6) << "focus txtURL";
        QTest::newRow("Alt+Left") << QKeySequence(Qt::ALT | Qt::Key_Left) << "GoBack";
        QTest::newRow("Alt+Right") << QKeySequence(Qt::ALT | Qt::Key_Right) << "GoForward";
        QTest::newRow("F5") << QKeySequence(Qt::Key_F5) << "Refresh";
        QTest::newRow("Ctrl+R") << QKeySequence(Qt::CTRL | Qt::Key_R) << "Refresh";
        QTest::newRow("Escape") << QKeySequence(Qt::Key_Escape) << "Stop";
        QTest::newRow("Alt+Home") << QKeySequence(Qt::ALT | Qt::Key_Home) << "home";
        QTest::newRow("Ctrl+plus") << QKeySequence(Qt::CTRL | Qt::Key_Plus) << "zoom 1.1";
        QTest::newRow("Ctrl+=") << QKeySequence(Qt::CTRL | Qt::Key_Equal) << "zoom 1.1";
        QTest::newRow("Ctrl+minus") << QKeySequence(Qt::CTRL | Qt::Key_Minus) << "zoom 0.9";
        QTest::newRow("Ctrl+0") << QKeySequence(Qt::CTRL | Qt::Key_0) << "zoom 1";
        QTest::newRow("Ctrl+P") << QKeySequence(Qt::CTRL | Qt::Key_P) << "ExecWB 6 1";
        QTest::newRow("Ctrl+Shift+F")
            << QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F) << "focus txtSearch";
    }

    void keys()
    {
        QFETCH(QKeySequence, key);
        QFETCH(QString, expected);
        TestPlatform p;
        frmBrowser window(p.withFakeBrowser(), p.folder());
        FakeWebBrowser *browser = p.lastFakeBrowser;
        emit browser->CommandStateChange(1, true);
        emit browser->CommandStateChange(2, true);
        browser->zoom = 1.5;
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        window.search->txtSearch->setText(QStringLiteral("circular"));
        window.txtURL->setText(QStringLiteral("escrita"));
        // The keyboard starts on a toolbar button, the other end of the window.
        QWidget *home = window.Toolbar1->widgetForAction(window.Toolbar1->actions().at(4));
        home->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), home);
        if (expected.startsWith(QLatin1String("zoom")) && expected != QLatin1String("zoom 1")) {
            browser->zoom = 1.0;
        }
        QTest::keySequence(&window, key);

        if (expected.startsWith(QLatin1String("focus "))) {
            QLineEdit *field = expected.endsWith(QLatin1String("txtURL"))
                                   ? window.txtURL
                                   : window.search->txtSearch;
            QCOMPARE(QApplication::focusWidget(), field);
            QCOMPARE(field->selectedText(), field->text());
            // The field is only reached: nothing is opened or searched.
            QVERIFY(browser->navigations.isEmpty());
            QVERIFY(!window.search->searchPane->isVisible());
        } else if (expected == QLatin1String("home")) {
            QCOMPARE(browser->navigations,
                     QStringList{QDir(p.folder()).filePath(QStringLiteral("pagina/maincd.htm"))});
        } else if (expected.startsWith(QLatin1String("zoom "))) {
            QCOMPARE(browser->zoom, expected.mid(5).toDouble());
        } else {
            QCOMPARE(browser->operations, QStringList{expected});
        }
    }

    // The window's fields offer a named button that clears what the reader typed.
    void typedTextClearsWithTheFieldsButton_data()
    {
        QTest::addColumn<bool>("findBar");
        QTest::newRow("search field") << false;
        QTest::newRow("find bar") << true;
    }
    void typedTextClearsWithTheFieldsButton()
    {
        QFETCH(bool, findBar);
        TestPlatform p;
        frmBrowser window(p.withFakeBrowser(), p.folder());
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        if (findBar) {
            window.search->findBar->openBar(QString());
        }
        QLineEdit *field = findBar ? window.search->findBar->txtFind : window.search->txtSearch;
        field->setFocus();
        QTest::keyClicks(field, QStringLiteral("circular"));
        QToolButton *clear = nullptr;
        for (QToolButton *button : field->findChildren<QToolButton *>()) {
            if (button->accessibleName() == QLatin1String("Borrar el texto")) {
                clear = button;
            }
        }
        QVERIFY(clear);
        QTRY_VERIFY(clear->isVisible());
        QTest::mouseClick(clear, Qt::LeftButton);
        QCOMPARE(field->text(), QString());
    }

    void zoomStaysWithinTheScale()
    {
        TestPlatform p;
        frmBrowser window(p.withFakeBrowser(), p.folder());
        for (int i = 0; i < 30; ++i) {
            window.keyZoomIn->trigger();
        }
        QCOMPARE(p.lastFakeBrowser->zoom, 5.0);
        for (int i = 0; i < 30; ++i) {
            window.keyZoomOut->trigger();
        }
        QCOMPARE(p.lastFakeBrowser->zoom, 0.25);
    }

    // Tab goes from the address bar to the toolbar's buttons, which Space presses.
    void toolbarButtonsTakeTheKeyboard()
    {
        TestPlatform p;
        frmBrowser window(p.withFakeBrowser(), p.folder());
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        window.txtURL->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), window.txtURL);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        auto *button = qobject_cast<QToolButton *>(QApplication::focusWidget());
        QVERIFY(button);
        QCOMPARE(button->defaultAction(), window.Toolbar1->actions().at(0));
        QTest::keyClick(button, Qt::Key_Space);
        QCOMPARE(p.lastFakeBrowser->operations, QStringList{QStringLiteral("GoBack")});
    }

    void windowPlaceIsKept()
    {
        TestPlatform p;
        QRect kept;
        {
            frmBrowser window(p.withFakeBrowser(), p.folder());
            QVERIFY(!window.restorePlacement());
            QVERIFY(window.Form_Load());
            window.setGeometry(40, 50, 700, 500);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            kept = window.geometry();
            window.close();
        }
        QVERIFY(!p.placement.stored.isEmpty());
        frmBrowser window(p.withFakeBrowser(), p.folder());
        QVERIFY(window.restorePlacement());
        QCOMPARE(window.geometry().size(), kept.size());
    }

    void sendingWithoutAMailProgramSaysSoAndCopies()
    {
        TestPlatform p;
        const OverlaidCollection c;
        p.shell.handlerFound = false;
        p.writeSettings("[http]\r\nweb=" + web.toUtf8());
        frmBrowser window(p.withFakeBrowser(), Collection(p.folder(), c.user.path()));
        const QString shown = QDir(c.user.path()).filePath(QStringLiteral("circulares/1007.pdf"));
        emit p.lastFakeBrowser->DocumentComplete(shown);
        p.lastFakeBrowser->pdfPage = 2;
        window.mnuSendto_Click();
        const QString expected = web + QStringLiteral("circulares/1007.pdf#page=2");
        QCOMPARE(p.messages.shown.size(), 1);
        QVERIFY(p.messages.shown.first().text.contains(QLatin1String("programa de correo")));
        QCOMPARE(QGuiApplication::clipboard()->text(), expected);
        QGuiApplication::clipboard()->clear();
        window.mnuCopyAddress->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), expected);
    }

    // The range, the copies (collated or page by page) and the page order chosen, in that
    // order and no page blank: drawn at a printer's resolution, fitted to its paper in the
    // orientation chosen, or to a file as the document's own pages (upright on landscape
    // sheets when landscape is chosen).
    void circularPrintedAsChosen_data()
    {
        QTest::addColumn<bool>("toFile");
        QTest::addColumn<int>("from"); // 0: every page
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("copies");
        QTest::addColumn<bool>("collate");
        QTest::addColumn<bool>("lastFirst");
        QTest::addColumn<bool>("landscape");
        QTest::addColumn<QList<int>>("pages"); // of the circular, in the order printed
        QTest::newRow("printer, every page")
            << false << 0 << 0 << 1 << true << false << false << QList<int>{1, 2, 3};
        QTest::newRow("printer, range, two copies collated")
            << false << 2 << 3 << 2 << true << false << false << QList<int>{2, 3, 2, 3};
        QTest::newRow("printer, range, two copies page by page, last first, landscape")
            << false << 2 << 3 << 2 << false << true << true << QList<int>{3, 3, 2, 2};
        QTest::newRow("file, range, two copies page by page, last first")
            << true << 2 << 3 << 2 << false << true << false << QList<int>{3, 3, 2, 2};
        QTest::newRow("file, every page, landscape")
            << true << 0 << 0 << 1 << true << false << true << QList<int>{1, 2, 3};
    }
    void circularPrintedAsChosen()
    {
        QFETCH(bool, toFile);
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(int, copies);
        QFETCH(bool, collate);
        QFETCH(bool, lastFirst);
        QFETCH(bool, landscape);
        QFETCH(QList<int>, pages);
        TestPlatform p;
        const QString circular = QDir(p.folder()).filePath(QStringLiteral("circulares/1007.pdf"));
        QVERIFY(writeInkedCircular(circular, 3));
        const QString paper = QDir(p.folder()).filePath(QStringLiteral("impresora.pdf"));
        p.dialogs.choice = toFile ? PrintChoice::File : PrintChoice::Printer;
        p.dialogs.printFile = paper;
        p.dialogs.lastPageFirst = lastFirst;
        p.dialogs.fromPage = from;
        p.dialogs.toPage = to;
        p.dialogs.copies = copies;
        p.dialogs.collate = collate;
        p.dialogs.orientation = landscape ? QPageLayout::Landscape : QPageLayout::Portrait;
        QtPdfDocuments pdf;
        QtWebBrowser browser(testEngineProfile(), p.dialogs, pdf);
        QCOMPARE(browser.PrintPdfFile(circular), QString());

        QCOMPARE(pageCount(paper), pages.size());
        const Printed printed = printedPages(paper);
        QCOMPARE(printed.landscape, QList<bool>(pages.size(), landscape));
        QStringList inks;
        for (const int ink : printed.ink) {
            inks.append(QString::number(ink));
        }
        const QString seen = QStringLiteral("ink per page: ") + inks.join(u' ');
        for (int i = 0; i < pages.size(); ++i) {
            QVERIFY2(printed.ink[i] > 0, qPrintable(QStringLiteral("page %1 is blank").arg(i + 1)));
            for (int j = 0; j < pages.size(); ++j) {
                if (pages[i] < pages[j]) {
                    QVERIFY2(printed.ink[i] * 3 / 2 < printed.ink[j],
                             qPrintable(QStringLiteral("pages %1 and %2 out of order; %3")
                                            .arg(i + 1)
                                            .arg(j + 1)
                                            .arg(seen)));
                } else if (pages[i] == pages[j]) {
                    QVERIFY2(qAbs(printed.ink[i] - printed.ink[j]) * 10 <= printed.ink[i],
                             qPrintable(QStringLiteral("pages %1 and %2 differ; %3")
                                            .arg(i + 1)
                                            .arg(j + 1)
                                            .arg(seen)));
                }
            }
        }
    }

    // A long circular shows how far printing has come; stopped there, nothing is left that
    // passes for the print, and no message claims anything.
    void longPrintShowsProgressAndStops()
    {
        TestPlatform p;
        const QString circular = QDir(p.folder()).filePath(QStringLiteral("circulares/1010.pdf"));
        QVERIFY(writeInkedCircular(circular, 60));
        const QString paper = QDir(p.folder()).filePath(QStringLiteral("impresora.pdf"));
        p.dialogs.choice = PrintChoice::Printer;
        p.dialogs.printFile = paper;
        QtPdfDocuments pdf;
        QtWebBrowser browser(testEngineProfile(), p.dialogs, pdf);
        int shownAt = -1;
        QTimer watch;
        watch.setInterval(50);
        QObject::connect(&watch, &QTimer::timeout, [&shownAt] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                auto *progress = qobject_cast<QProgressDialog *>(w);
                if (progress && progress->isVisible() && shownAt < 0) {
                    shownAt = progress->value();
                    progress->cancel();
                }
            }
        });
        watch.start();
        QCOMPARE(browser.PrintPdfFile(circular), QString());
        QVERIFY2(shownAt > 0 && shownAt < 60, qPrintable(QString::number(shownAt)));
        QVERIFY(!QFile::exists(paper));
        QVERIFY(QDir(p.folder()).entryList({QStringLiteral("impresora*")}).isEmpty());
    }

    // A three-page circular of the per-user copy, on the real browser, printed to a PDF
    // file that keeps its text, and saved. (Ranges are the printing table's.)
    void circularPrintsAndSavesAsItself()
    {
        TestPlatform p;
        QTemporaryDir user;
        const QString circular = QDir(user.path()).filePath(QStringLiteral("circulares/1007.pdf"));
        QVERIFY(writeTestPdf(circular, {QStringLiteral("Primera hoja de la circular"),
                                        QStringLiteral("Segunda hoja de la circular"),
                                        QStringLiteral("Tercera hoja de la circular")}));
        p.writeFile(QStringLiteral("pagina/maincd.htm"), "<html><body>Inicio</body></html>");
        frmBrowser window(p.withRealBrowser(), Collection(p.folder(), user.path()));
        window.resize(800, 600);
        QVERIFY(window.Form_Load());
        window.show();
        QTRY_VERIFY_WITH_TIMEOUT(!window.txtURL->text().isEmpty(), loadTimeout);
        window.WebBrowser1->Navigate2(circular);
        QTRY_COMPARE_WITH_TIMEOUT(window.txtURL->text(), circular, loadTimeout);
        QVERIFY(window.mnuSave->isEnabled());

        const QString whole = QDir(p.folder()).filePath(QStringLiteral("entera.pdf"));
        p.dialogs.printFile = whole;
        window.mnuPrint->trigger();
        QCOMPARE(p.dialogs.offeredPages, 3);
        QCOMPARE(pageCount(whole), 3);
        const QString text = poppler("pdftotext", {whole, QStringLiteral("-")});
        QVERIFY2(text.contains(QLatin1String("Primera hoja")) &&
                     text.contains(QLatin1String("Tercera hoja")),
                 qPrintable(text));

        const QString saved = QDir(p.folder()).filePath(QStringLiteral("guardada.pdf"));
        p.dialogs.savePath = saved;
        window.mnuSave->trigger();
        QCOMPARE(p.dialogs.suggested.last(), QStringLiteral("1007.pdf"));
        QCOMPARE(readAll(saved), readAll(circular));
        QVERIFY(p.messages.shown.isEmpty());
    }
};

QTEST_MAIN(TestReader)
#include "tst_reader.moc"

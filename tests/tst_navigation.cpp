#include "frmbrowser.h"
#include "qtwebbrowser.h"
#include "testhttpserver.h"
#include "testplatform.h"

#include <QAction>
#include <QDir>
#include <QLineEdit>
#include <QPainter>
#include <QPdfWriter>
#include <QSignalSpy>
#include <QTest>
#include <QToolBar>
#include <QWebEngineView>

#include <memory>

namespace {
constexpr int loadTimeout = 30000;

void writePdf(const QString &path)
{
    QDir().mkpath(QFileInfo(path).path());
    QPdfWriter writer(path);
    QPainter painter(&writer);
    painter.drawText(QPointF(200, 200), QStringLiteral("Circular de prueba"));
}
} // namespace

// The main window on a real browser, over pages of a temporary program folder
// and of a web server inside the test.
class TestNavigation : public QObject {
    Q_OBJECT

    std::unique_ptr<TestPlatform> p;
    std::unique_ptr<TestHttpServer> server;
    std::unique_ptr<frmBrowser> window;

    QString local(const QString &relative) const { return QDir(p->folder()).filePath(relative); }
    QString home() const { return local(QStringLiteral("pagina/maincd.htm")); }
    QWebEnginePage *page() const
    {
        return static_cast<QtWebBrowser *>(window->WebBrowser1)->view()->page();
    }
    QWidget *surface() const
    {
        return static_cast<QtWebBrowser *>(window->WebBrowser1)->view()->focusProxy();
    }

    // Where a link of the page lies on the browser's surface; a null point when
    // the page could not tell.
    QPoint linkCenter(const char *id)
    {
        QVariant rect;
        bool answered = false;
        page()->runJavaScript(
            QStringLiteral(
                "(function(){var r=document.getElementById('%1').getBoundingClientRect();"
                "return [r.left + r.width / 2, r.top + r.height / 2];})()")
                .arg(QLatin1String(id)),
            [&](const QVariant &result) {
                rect = result;
                answered = true;
            });
        if (!QTest::qWaitFor([&] { return answered; }, loadTimeout)) {
            return {};
        }
        const QVariantList xy = rect.toList();
        if (xy.size() != 2) {
            return {};
        }
        return {qRound(xy[0].toDouble()), qRound(xy[1].toDouble())};
    }

    // Clicks a link with the mouse, as a person does: the engine keeps script
    // clicks out of the history that back and forward walk.
    bool clickLink(const char *id)
    {
        const QPoint at = linkCenter(id);
        if (at.isNull()) {
            return false;
        }
        QTest::mouseMove(surface(), at);
        QTest::mouseClick(surface(), Qt::LeftButton, {}, at);
        return true;
    }
    QAction *button(int position) const { return window->Toolbar1->actions().at(position - 1); }
    void press(int position)
    {
        QTest::mouseClick(window->Toolbar1->widgetForAction(button(position)), Qt::LeftButton);
    }

private slots:
    void init()
    {
        p = std::make_unique<TestPlatform>();
        server = std::make_unique<TestHttpServer>();
        QVERIFY(server->start());
        server->serve(QStringLiteral("/web.htm"),
                      "<html><body><p>Sitio web</p><a id='back' href='#'>x</a></body></html>");
        const QByteArray links = "<a id='local' href='segunda.htm'>Segunda</a> "
                                 "<a id='web' href='" +
                                 server->url(QStringLiteral("/web.htm")).toUtf8() +
                                 "'>Web</a> "
                                 "<a id='secure' href='https://127.0.0.1:1/seguro.htm'>Segura</a> "
                                 "<a id='pdflocal' href='../circulares/1001.pdf'>Circular</a>";
        p->writeFile(QStringLiteral("pagina/maincd.htm"),
                     "<html><head><meta charset='utf-8'></head><body><h1>Inicio</h1>" + links +
                         "</body></html>");
        p->writeFile(QStringLiteral("pagina/segunda.htm"),
                     "<html><body><h1>Segunda</h1><a id='home' href='maincd.htm'>Inicio</a>"
                     "</body></html>");
        writePdf(local(QStringLiteral("circulares/1001.pdf")));
        writePdf(local(QStringLiteral("circulares/MAYUS.PDF")));

        window = std::make_unique<frmBrowser>(p->withRealBrowser(), p->folder());
        window->resize(800, 600);
        QVERIFY(window->Form_Load());
        window->show();
        QTRY_COMPARE_WITH_TIMEOUT(window->txtURL->text(), home(), loadTimeout);
    }

    void cleanup()
    {
        window.reset();
        server.reset();
        p.reset();
    }

    void backAndForwardFollowTheHistory()
    {
        QVERIFY(!button(1)->isEnabled());
        QVERIFY(!button(2)->isEnabled());
        press(1); // nothing to go back to: nothing happens, nothing is shown
        QTest::qWait(200);
        QCOMPARE(window->txtURL->text(), home());
        QVERIFY(p->messages.shown.isEmpty());

        QVERIFY(clickLink("local"));
        QTRY_COMPARE_WITH_TIMEOUT(window->txtURL->text(),
                                  local(QStringLiteral("pagina/segunda.htm")), loadTimeout);
        QTRY_VERIFY(button(1)->isEnabled());
        QVERIFY(!button(2)->isEnabled());

        press(1);
        QTRY_COMPARE_WITH_TIMEOUT(window->txtURL->text(), home(), loadTimeout);
        QTRY_VERIFY(button(2)->isEnabled());
        QVERIFY(!button(1)->isEnabled());

        press(2);
        QTRY_COMPARE_WITH_TIMEOUT(window->txtURL->text(),
                                  local(QStringLiteral("pagina/segunda.htm")), loadTimeout);
        QTRY_VERIFY(!button(2)->isEnabled());

        press(5); // home, built afresh from the program folder
        QTRY_COMPARE_WITH_TIMEOUT(window->txtURL->text(), home(), loadTimeout);
        press(4); // refresh and stop keep the page
        press(3);
        QTest::qWait(300);
        QCOMPARE(page()->url(), QUrl::fromLocalFile(home()));
    }

    void webAddressesNeedAConnection()
    {
        p->probe.online = false;
        QSignalSpy before(window->WebBrowser1, &WebBrowser::BeforeNavigate2);
        QVERIFY(clickLink("web"));
        QTRY_COMPARE(p->messages.shown.size(), 1);
        QCOMPARE(p->messages.shown.first().text, QStringLiteral("Revise su conexión a Internet"));
        QCOMPARE(p->messages.shown.first().icon, MessageIcon::Critical);
        QCOMPARE(p->messages.shown.first().title, QStringLiteral("Legisdisco"));
        QTest::qWait(500);
        QCOMPARE(p->messages.shown.size(), 1);
        QCOMPARE(window->txtURL->text(), home());
        QCOMPARE(page()->url(), QUrl::fromLocalFile(home()));
        QVERIFY(!server->requests.contains(QStringLiteral("/web.htm")));
        QVERIFY(p->probe.calls >= 1);

        p->probe.online = true;
        QVERIFY(clickLink("web"));
        QTRY_COMPARE_WITH_TIMEOUT(window->txtURL->text(), server->url(QStringLiteral("/web.htm")),
                                  loadTimeout);
        QCOMPARE(p->messages.shown.size(), 1);
    }

    void anAddressWithoutSchemeIsJudgedAsTheWebAddressItBecomes()
    {
        // Typed without "http://", the address is the web address the browser
        // will open, and offline it is stopped like one.
        p->probe.online = false;
        QSignalSpy before(window->WebBrowser1, &WebBrowser::BeforeNavigate2);
        window->txtURL->setText(QStringLiteral("ejemplo.org/pagina.htm"));
        QTest::keyClick(window->txtURL, Qt::Key_Return);
        QTRY_COMPARE(p->messages.shown.size(), 1);
        QCOMPARE(p->messages.shown.first().text, QStringLiteral("Revise su conexión a Internet"));
        QCOMPARE(before.first().first().toString(),
                 QStringLiteral("http://ejemplo.org/pagina.htm"));
        QTest::qWait(300);
        QCOMPARE(page()->url(), QUrl::fromLocalFile(home()));

        // Online, the same goes to the server (a loopback name here).
        p->probe.online = true;
        before.clear();
        const QString typed = QStringLiteral("127.0.0.1:%1/web.htm").arg(server->port());
        window->txtURL->setText(typed);
        QTest::keyClick(window->txtURL, Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(window->txtURL->text(), server->url(QStringLiteral("/web.htm")),
                                  loadTimeout);
        QCOMPARE(before.first().first().toString(), QStringLiteral("http://") + typed);
        QCOMPARE(p->messages.shown.size(), 1);
    }

    void onlyLowerCaseHttpIsProbed()
    {
        p->probe.online = false;
        QSignalSpy before(window->WebBrowser1, &WebBrowser::BeforeNavigate2);
        QVERIFY(clickLink("secure"));
        QTRY_VERIFY(!before.isEmpty());
        QVERIFY(before.first().first().toString().startsWith(QLatin1String("https://")));
        // Its failure settles first; typed over while pending, the two loads race.
        QTRY_VERIFY_WITH_TIMEOUT(window->txtURL->text().startsWith(QLatin1String("https://")),
                                 loadTimeout);

        // Typed exactly as shown: capitals are not the web prefix.
        const QString typed = QStringLiteral("HTTP://127.0.0.1:%1/web.htm").arg(server->port());
        window->txtURL->setText(typed);
        QTest::keyClick(window->txtURL, Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(window->txtURL->text(), server->url(QStringLiteral("/web.htm")),
                                  loadTimeout);
        QVERIFY(server->requests.contains(QStringLiteral("/web.htm")));
        bool sawTyped = false;
        for (const QList<QVariant> &args : before) {
            sawTyped = sawTyped || args.first().toString() == typed;
        }
        QVERIFY(sawTyped);
        QCOMPARE(p->probe.calls, 0);
        QVERIFY(p->messages.shown.isEmpty());
    }

    void onlyWebPdfAddressesDisableSaving()
    {
        // A PDF document on the disk is saved as itself.
        QVERIFY(window->mnuSave->isEnabled());
        QVERIFY(clickLink("pdflocal"));
        QTRY_COMPARE_WITH_TIMEOUT(window->txtURL->text(),
                                  local(QStringLiteral("circulares/1001.pdf")), loadTimeout);
        QVERIFY(window->mnuSave->isEnabled());

        // A web one is not, also for a navigation that the connection check cancels.
        p->probe.online = false;
        window->txtURL->setText(server->url(QStringLiteral("/doc.pdf")));
        QTest::keyClick(window->txtURL, Qt::Key_Return);
        QTRY_COMPARE(p->messages.shown.size(), 1);
        QVERIFY(!window->mnuSave->isEnabled());
        window->txtURL->setText(server->url(QStringLiteral("/web.htm")));
        QTest::keyClick(window->txtURL, Qt::Key_Return);
        QTRY_COMPARE(p->messages.shown.size(), 2);
        QVERIFY(window->mnuSave->isEnabled());
        QVERIFY(!server->requests.contains(QStringLiteral("/doc.pdf")));
    }

    // What a listener of the completion events finds when they come: the page no longer
    // loading, and its document read when the browser reads documents (the update window
    // reads the server's list from it there).
    void completionFindsThePageLoaded_data()
    {
        QTest::addColumn<bool>("reads");
        QTest::newRow("reads documents") << true;
        QTest::newRow("reads nothing (main window)") << false;
    }
    void completionFindsThePageLoaded()
    {
        QFETCH(bool, reads);
        p->writeFile(
            QStringLiteral("pagina/lista.htm"),
            "<html><body><label>1001,1002</label><a href='maincd.htm'>x</a></body></html>");
        QtWebBrowser browser(testEngineProfile(), p->dialogs, p->pdf);
        browser.SetReadsDocuments(reads);
        QList<bool> busy;
        QList<HtmlDocument> seen;
        QStringList order;
        const auto record = [&](const char *event) {
            order.append(QLatin1String(event));
            busy.append(browser.Busy());
            seen.append(browser.Document());
        };
        connect(&browser, &WebBrowser::NavigateComplete2, this, [&] { record("navigate"); });
        connect(&browser, &WebBrowser::DocumentComplete, this, [&] { record("document"); });
        browser.Navigate2(local(QStringLiteral("pagina/lista.htm")));
        QTRY_COMPARE_WITH_TIMEOUT(order.size(), 2, loadTimeout);
        QCOMPARE(order, QStringList({QStringLiteral("navigate"), QStringLiteral("document")}));
        QCOMPARE(busy, QList<bool>({false, false}));
        for (const HtmlDocument &document : seen) {
            QCOMPARE(document.present, reads);
            QCOMPARE(document.labelChildValues,
                     reads ? QList<QStringList>{{QStringLiteral("1001,1002")}}
                           : QList<QStringList>{});
        }
        // A navigation cancelled before it starts completes nothing.
        connect(&browser, &WebBrowser::BeforeNavigate2, this,
                [](const QString &, bool *cancel) { *cancel = true; });
        browser.Navigate2(home());
        QTest::qWait(500);
        QCOMPARE(order.size(), 2);
        QVERIFY(!browser.Busy());
    }

    // Asked for before the window is built, the home page leaves the window as it is when
    // asked for at the window's load: the same keyboard round, from the same first stop,
    // each stop taking the keyboard as before.
    void theEarlyHomePageKeepsTheKeyboardRound()
    {
        const auto round = [this](frmBrowser::HomePage homePage) {
            frmBrowser built(p->withRealBrowser(), p->folder(), homePage);
            if (!built.Form_Load()) {
                return QStringList{QStringLiteral("no start")};
            }
            QStringList stops;
            for (QWidget *widget = built.nextInFocusChain(); widget && widget != &built;
                 widget = widget->nextInFocusChain()) {
                stops.append(
                    QStringLiteral("%1 %2 %3")
                        .arg(QLatin1String(widget->metaObject()->className()), widget->objectName())
                        .arg(int(widget->focusPolicy())));
            }
            return stops;
        };
        QCOMPARE(round(frmBrowser::HomePage::BeforeBuilding),
                 round(frmBrowser::HomePage::AtFormLoad));
    }

    void statusBarFollowsTheLinkUnderThePointer()
    {
        const QPoint at = linkCenter("local");
        QVERIFY(!at.isNull());
        QTest::mouseMove(surface(), at);
        QTRY_COMPARE_WITH_TIMEOUT(
            window->statusText(),
            QUrl::fromLocalFile(local(QStringLiteral("pagina/segunda.htm"))).toString(),
            loadTimeout);
        QTest::mouseMove(surface(), QPoint(surface()->width() - 20, surface()->height() - 20));
        QTRY_COMPARE_WITH_TIMEOUT(window->statusText(), QString(), loadTimeout);
    }
};

QTEST_MAIN(TestNavigation)
#include "tst_navigation.moc"

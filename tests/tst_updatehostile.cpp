#include "downloadanswerer.h"
#include "frmactualiza.h"
#include "testfiles.h"
#include "testhttpserver.h"
#include "testplatform.h"
#include "testzip.h"

#include <QDir>
#include <QDirIterator>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {
constexpr int loadTimeout = 30000;
const QByteArray listPage = "<html><body><label>1001,9001</label></body></html>";
// The request leads on to the answer page, as the regulator's server does.
const QByteArray requestPage =
    "<html><body><script>location.replace('archivo.asp?p=1')</script></body></html>";

// Opens the update window's road as far as the package: the list page, the
// check, the answer page.
void untilPackageOffered(frmActualiza &form)
{
    form.show();
    QTRY_VERIFY_WITH_TIMEOUT(form.btnOK->isEnabled(), loadTimeout);
    QTest::mouseClick(form.btnOK, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(form.btnActualiza->isEnabled(), loadTimeout);
}

} // namespace

// The update window against a server that misbehaves: hostile link names,
// missing packages, pages without links, endless scripts, huge lists.
class TestUpdateHostile : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_outside = std::make_unique<QTemporaryDir>();
        m_p = std::make_unique<TestPlatform>();
        m_server = std::make_unique<TestHttpServer>();
        QVERIFY(m_server->start());
        m_p->writeSettings(
            "[http]\r\nactualizacion=" + m_server->url(QStringLiteral("/act/")).toUtf8() + "\r\n");
        m_p->writeFile(QStringLiteral("legisdisco"), "#!programa original");
        m_p->writeFile(QStringLiteral("circulares/1001.pdf"), "%PDF-1.4 1001");
        m_server->serve(QStringLiteral("/act/actualizacionesValores.asp"), listPage);
        m_server->serve(QStringLiteral("/act/archivoValores.asp"), requestPage);
        const QString zipPath = m_outside->filePath(QStringLiteral("p.zip"));
        QVERIFY(writeTestZip(zipPath, {{"circulares/9001.pdf", testPdf("9001")}}));
        m_package = readAll(zipPath);
        QFile::remove(zipPath);
    }

    void cleanup()
    {
        m_server.reset();
        m_p.reset();
        m_outside.reset();
    }

    void hostileAnswers_data()
    {
        QTest::addColumn<QByteArray>("link");    // the answer page's first link
        QTest::addColumn<QString>("servedPath"); // where the package is served; empty: nowhere
        QTest::addColumn<QString>("message");    // a part of the one message shown
        QTest::addColumn<bool>("installed");

        QTest::newRow("named like the program")
            << QByteArray("paq/legisdisco") << QStringLiteral("/act/paq/legisdisco")
            << QStringLiteral("Se instaló 1 circular") << true;
        QTest::newRow("named like the settings file")
            << QByteArray("paq/legisdis.ini") << QStringLiteral("/act/paq/legisdis.ini")
            << QStringLiteral("Se instaló 1 circular") << true;
        QTest::newRow("named like a folder of the collection")
            << QByteArray("circulares") << QStringLiteral("/act/circulares")
            << QStringLiteral("Se instaló 1 circular") << true;
        QTest::newRow("decodes to the parent folder")
            << QByteArray("paq/%2E%2E") << QString() << QStringLiteral("No se ") << false;
        QTest::newRow("package not found")
            << QByteArray("paq/no-existe.zip") << QString()
            << QStringLiteral("el servidor no entregó el paquete") << false;
        QTest::newRow("a script instead of a link")
            << QByteArray("javascript:void(0)") << QString()
            << QStringLiteral("no es una dirección web") << false;
        QTest::newRow("an error page for a package")
            << QByteArray("paq/error.zip") << QStringLiteral("/act/paq/error.zip*")
            << QStringLiteral("no es un paquete zip válido") << false;
    }

    void hostileAnswers()
    {
        QFETCH(QByteArray, link);
        QFETCH(QString, servedPath);
        QFETCH(QString, message);
        QFETCH(bool, installed);
        m_server->serve(QStringLiteral("/act/archivo.asp"),
                        "<html><body><a href='" + link + "'>Paquete</a></body></html>");
        if (servedPath.endsWith(u'*')) {
            m_server->serve(servedPath.chopped(1), "<html><body>Error interno</body></html>",
                            "application/zip");
        } else if (!servedPath.isEmpty()) {
            m_server->serve(servedPath, m_package, "application/zip");
        }
        const QMap<QString, QByteArray> before = filesBelow(m_p->folder());
        const QMap<QString, QByteArray> outsideBefore = filesBelow(m_outside->path());

        frmActualiza form(m_p->withRealBrowser(), m_p->folder(), nullptr);
        untilPackageOffered(form);
        if (QTest::currentTestFailed()) {
            return;
        }
        DownloadAnswerer answerer("saveButton");
        QTest::mouseClick(form.btnActualiza, Qt::LeftButton);

        QVERIFY(!form.isVisible());
        QCOMPARE(m_p->messages.shown.size(), 1);
        QVERIFY2(m_p->messages.texts().first().contains(message),
                 qPrintable(m_p->messages.texts().first()));
        QVERIFY(m_p->shell.calls.isEmpty());
        QCOMPARE(form.installed(), installed);

        // Nothing of the collection was replaced; only the new circular came in.
        QMap<QString, QByteArray> expected = before;
        QMap<QString, QByteArray> after = filesBelow(m_p->folder());
        if (installed) {
            expected.insert(QStringLiteral("circulares/9001.pdf"), testPdf("9001"));
            // The circular index is rewritten after every install.
            QVERIFY(after.take(QStringLiteral("pagina/circulares.htm")).contains("9001.pdf"));
        }
        QCOMPARE(after, expected);
        QCOMPARE(filesBelow(m_outside->path()), outsideBefore);
        QCOMPARE(filesBelow(QFileInfo(m_p->folder()).absolutePath() + QStringLiteral("/x")),
                 (QMap<QString, QByteArray>()));
    }

    void aHugeListIsReadAndTheRequestStaysSmall()
    {
        // About 10 MB of identifiers.
        QByteArray list;
        for (int i = 0; i < 1000000; ++i) {
            list += QByteArray::number(10000000 + i) + ',';
        }
        list.chop(1);
        m_server->serve(QStringLiteral("/act/actualizacionesValores.asp"),
                        "<html><body><label>" + list + "</label></body></html>");
        m_server->serve(QStringLiteral("/act/archivo.asp"), "<html><body>sin enlace</body></html>");
        frmActualiza form(m_p->withRealBrowser(), m_p->folder(), nullptr);
        form.show();
        QTRY_VERIFY_WITH_TIMEOUT(form.btnOK->isEnabled(), loadTimeout);
        QTest::mouseClick(form.btnOK, Qt::LeftButton);
        QCOMPARE(form.listVersion->count(), 1000000);
        QVERIFY(form.actURL.toUtf8().size() <= 8192);
        QVERIFY(form.actURL.contains(QLatin1String("Numeros=10000000,10000001,")));
        QTRY_VERIFY_WITH_TIMEOUT(
            m_server->requests.contains(QStringLiteral("/act/archivoValores.asp")), loadTimeout);
        QVERIFY(m_p->messages.shown.isEmpty());
    }

    void closingWhileAScriptStillRunsIsSafe()
    {
        // A list page that keeps its renderer busy: whatever the browser asks of
        // it is still owed when the window goes away.
        m_server->serve(
            QStringLiteral("/act/actualizacionesValores.asp"),
            "<html><body><label>1001,9001</label><script>"
            "setInterval(function () { var t = Date.now(); while (Date.now() - t < 40) {} }, 1);"
            "</script></body></html>");
        for (int round = 0; round < 25; ++round) {
            auto form =
                std::make_unique<frmActualiza>(m_p->withRealBrowser(), m_p->folder(), nullptr);
            form->show();
            QTest::qWait(QRandomGenerator::global()->bounded(10, 400));
            form->close();
            form.reset();
        }
        // And a script that never ends at all.
        m_server->serve(QStringLiteral("/act/actualizacionesValores.asp"),
                        "<html><body><label>1</label><script>for (;;) {}</script></body></html>");
        for (int round = 0; round < 5; ++round) {
            auto form =
                std::make_unique<frmActualiza>(m_p->withRealBrowser(), m_p->folder(), nullptr);
            form->show();
            QTest::qWait(QRandomGenerator::global()->bounded(50, 500));
            QVERIFY(!form->btnActualiza->isEnabled());
            form.reset(); // destroyed without closing first
        }
    }

    void offlineAtLoadLeavesBothButtonsDisabled()
    {
        m_p->probe.online = false;
        frmActualiza form(m_p->withRealBrowser(), m_p->folder(), nullptr);
        form.show();
        QTRY_COMPARE(m_p->messages.texts(),
                     QStringList{QStringLiteral("Verifique su conexión a Internet")});
        QTest::qWait(500); // the engine reports the cancelled load meanwhile
        QVERIFY(!form.btnOK->isEnabled());
        QVERIFY(!form.btnActualiza->isEnabled());
        QVERIFY(m_server->requests.isEmpty());
    }

    void aFrameAddedLaterDoesNotLeaveTheBrowserBusy()
    {
        m_server->serve(QStringLiteral("/act/marco.htm"), "<html><body>marco</body></html>");
        m_server->serve(QStringLiteral("/act/actualizacionesValores.asp"),
                        "<html><body><label>1001,9001</label><script>"
                        "setTimeout(function () { var f = document.createElement('iframe');"
                        " f.src = 'marco.htm'; document.body.appendChild(f); }, 300);"
                        "</script></body></html>");
        frmActualiza form(m_p->withRealBrowser(), m_p->folder(), nullptr);
        form.show();
        QTRY_VERIFY_WITH_TIMEOUT(form.btnOK->isEnabled(), loadTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(m_server->requests.contains(QStringLiteral("/act/marco.htm")),
                                 loadTimeout);
        QTest::qWait(300);
        QVERIFY(!form.wbrowserAct->Busy());
        QTest::mouseClick(form.btnOK, Qt::LeftButton);
        QCOMPARE(form.listVersion->count(), 1); // the check ran
    }

    void theLinkInTheAnswerStripInstallsToo()
    {
        m_server->serve(QStringLiteral("/act/archivo.asp"),
                        "<html><body style='margin:0'><a id='p' href='paq/p.zip' "
                        "style='display:block;width:100%;height:60px'>Paquete</a></body></html>");
        m_server->serve(QStringLiteral("/act/paq/p.zip"), m_package, "application/zip");
        frmActualiza form(m_p->withRealBrowser(), m_p->folder(), nullptr);
        untilPackageOffered(form);
        if (QTest::currentTestFailed()) {
            return;
        }
        QTest::qWait(300);
        DownloadAnswerer answerer("saveButton");
        // A real click on the link, as the label tells the user.
        QWidget *strip = form.wbrEjecutable->focusProxy();
        QVERIFY(strip);
        QWidget *target = strip->childAt(20, 20) ? strip->childAt(20, 20) : strip;
        QTest::mouseMove(target, QPoint(20, 20));
        QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(20, 20));
        QTRY_VERIFY_WITH_TIMEOUT(!form.isVisible(), loadTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(
            m_p->messages.texts(),
            QStringList{
                QStringLiteral("Se instaló 1 circular nueva en la colección:\n• Circular 9001\n\n"
                               "No se pudo verificar que el paquete sea del publicador: esta "
                               "instalación no tiene su clave pública (legisdis.pub).")},
            loadTimeout);
        QCOMPARE(readAll(m_p->folder() + QStringLiteral("/circulares/9001.pdf")), testPdf("9001"));
    }

    // The list page sends the hidden browser on to another page, as a server's
    // pages may: the last page the engine completes decides the buttons.
    void theLastPageCompletedDecidesTheButtons_data()
    {
        QTest::addColumn<QString>("next");
        QTest::addColumn<bool>("packageOffered");
        QTest::newRow("answer page") << QStringLiteral("archivo.asp?p=1") << true;
        QTest::newRow("request page") << QStringLiteral("archivoValores.asp?Numeros=1") << false;
        QTest::newRow("capitals") << QStringLiteral("ARCHIVO.ASP") << false;
    }

    void theLastPageCompletedDecidesTheButtons()
    {
        QFETCH(QString, next);
        QFETCH(bool, packageOffered);
        const QString path = QStringLiteral("/act/") + next.section(u'?', 0, 0);
        m_server->serve(QStringLiteral("/act/actualizacionesValores.asp"),
                        "<html><body><script>location.replace('" + next.toUtf8() +
                            "')</script></body></html>");
        m_server->serve(path, "<html><body><a href='x.zip'>x</a></body></html>");
        frmActualiza form(m_p->withRealBrowser(), m_p->folder(), nullptr);
        form.show();
        QTRY_VERIFY_WITH_TIMEOUT(m_server->requests.contains(path), loadTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(!form.wbrowserAct->Busy(), loadTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(form.btnActualiza->isEnabled(), packageOffered, loadTimeout);
        QCOMPARE(form.btnOK->isEnabled(), !packageOffered);
    }

    void aDroppedOrStalledPackageEndsCleanly_data()
    {
        QTest::addColumn<bool>("drop"); // drop the connection, or stall until cancelled
        QTest::newRow("connection dropped") << true;
        QTest::newRow("stalled, then cancelled") << false;
    }

    void aDroppedOrStalledPackageEndsCleanly()
    {
        QFETCH(bool, drop);
        // A package server that promises a megabyte and sends a few bytes of it.
        QTcpServer packages;
        QVERIFY(packages.listen(QHostAddress::LocalHost));
        QList<QTcpSocket *> open;
        connect(&packages, &QTcpServer::newConnection, this, [&packages, &open, drop] {
            QTcpSocket *socket = packages.nextPendingConnection();
            open.append(socket);
            connect(socket, &QTcpSocket::readyRead, socket, [socket, drop] {
                socket->readAll();
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\n"
                              "Content-Length: 1048576\r\n\r\nPK\x03\x04" +
                              QByteArray(2000, 'x'));
                socket->flush();
                if (drop) {
                    QTimer::singleShot(300, socket, [socket] { socket->abort(); });
                }
            });
        });
        const QByteArray link =
            QStringLiteral("http://127.0.0.1:%1/paquete.zip").arg(packages.serverPort()).toUtf8();
        m_server->serve(QStringLiteral("/act/archivo.asp"),
                        "<html><body><a href='" + link + "'>Paquete</a></body></html>");
        const QMap<QString, QByteArray> before = filesBelow(m_p->folder());

        frmActualiza form(m_p->withRealBrowser(), m_p->folder(), nullptr);
        untilPackageOffered(form);
        if (QTest::currentTestFailed()) {
            return;
        }
        DownloadAnswerer answerer("saveButton");
        QTimer canceller;
        if (!drop) {
            connect(&canceller, &QTimer::timeout, this, [] {
                for (QWidget *w : QApplication::topLevelWidgets()) {
                    auto *status = w->findChild<QLabel *>(QStringLiteral("status"));
                    if (w->isVisible() && status && status->text().contains(QLatin1String("KB"))) {
                        QTest::mouseClick(
                            w->findChild<QPushButton *>(QStringLiteral("cancelButton")),
                            Qt::LeftButton);
                    }
                }
            });
            canceller.start(100);
        }
        QTest::mouseClick(form.btnActualiza, Qt::LeftButton);
        if (drop) {
            QCOMPARE(m_p->messages.texts(),
                     QStringList{QStringLiteral("No se descargó el paquete de actualización: se "
                                                "cortó la conexión con el servidor durante la "
                                                "descarga.")});
        } else {
            QVERIFY(m_p->messages.shown.isEmpty()); // the user's own cancel needs no word
        }
        QVERIFY(!form.installed());
        QTest::qWait(200);
        QCOMPARE(filesBelow(m_p->folder()), before); // no part of the file is left
    }

    void aPackageLargerThanAnnouncedIsStopped_data()
    {
        QTest::addColumn<bool>("endless"); // streams without end, or declares 10 MB
        QTest::addColumn<QByteArray>("announced");
        QTest::addColumn<QString>("reason");
        const QString larger = QStringLiteral("el paquete es más grande de lo que anunció el "
                                              "servidor");
        QTest::newRow("endless stream") << true << QByteArray("20,0 KB") << larger;
        QTest::newRow("declares 10 MB") << false << QByteArray("20,0 KB") << larger;
        // More than any disk holds: nothing is asked of the server.
        QTest::newRow("no room for it")
            << true << QByteArray("8.000.000.000,0 MB")
            << QStringLiteral("no hay espacio libre suficiente en el disco para el paquete (se "
                              "necesitan 8000000001 MB)");
    }

    void aPackageLargerThanAnnouncedIsStopped()
    {
        QFETCH(bool, endless);
        QFETCH(QByteArray, announced);
        QFETCH(QString, reason);
        QTcpServer packages;
        QVERIFY(packages.listen(QHostAddress::LocalHost));
        QTimer feeder;
        QList<QTcpSocket *> open;
        connect(&packages, &QTcpServer::newConnection, this, [&] {
            QTcpSocket *socket = packages.nextPendingConnection();
            open.append(socket);
            connect(socket, &QTcpSocket::readyRead, socket, [&, socket] {
                socket->readAll();
                socket->write(endless ? QByteArray("HTTP/1.1 200 OK\r\nContent-Type: "
                                                   "application/zip\r\nConnection: close\r\n\r\n")
                                      : QByteArray("HTTP/1.1 200 OK\r\nContent-Type: "
                                                   "application/zip\r\nContent-Length: "
                                                   "10485760\r\n\r\n"));
                connect(&feeder, &QTimer::timeout, socket,
                        [socket] { socket->write(QByteArray(64 * 1024, 'x')); });
                feeder.start(5);
            });
        });
        const QByteArray link =
            QStringLiteral("http://127.0.0.1:%1/paquete.zip").arg(packages.serverPort()).toUtf8();
        m_server->serve(QStringLiteral("/act/archivo.asp"),
                        "<html><body><p><a href='" + link +
                            "'>paquete.zip</a></p><p>El paquete de actualización contiene 1 "
                            "circular (" +
                            announced + ").</p></body></html>");
        const QMap<QString, QByteArray> before = filesBelow(m_p->folder());

        frmActualiza form(m_p->withRealBrowser(), m_p->folder(), nullptr);
        untilPackageOffered(form);
        if (QTest::currentTestFailed()) {
            return;
        }
        DownloadAnswerer answerer("saveButton");
        QTest::mouseClick(form.btnActualiza, Qt::LeftButton);
        feeder.stop();
        QCOMPARE(
            m_p->messages.texts(),
            QStringList{
                QStringLiteral("No se descargó el paquete de actualización: %1.").arg(reason)});
        QVERIFY(!form.installed());
        QTest::qWait(200);
        QCOMPARE(filesBelow(m_p->folder()), before); // no part of the file is left
    }

    void aCheckIsRetriedAfterAServerError_data()
    {
        QTest::addColumn<QString>("failing");    // the page that answers 503 at first
        QTest::addColumn<QByteArray>("working"); // what it answers once the server is back
        QTest::newRow("the list page") << QStringLiteral("actualizacionesValores.asp") << listPage;
        QTest::newRow("the request") << QStringLiteral("archivoValores.asp") << requestPage;
    }

    void aCheckIsRetriedAfterAServerError()
    {
        // The server is down for a while; once it is back, one more press of
        // "Revisar Actualizaciones" lists what is missing and asks for it.
        QFETCH(QString, failing);
        QFETCH(QByteArray, working);
        const QString path = QStringLiteral("/act/") + failing;
        m_server->serve(QStringLiteral("/act/archivo.asp"),
                        "<html><body><a href='paq/p.zip'>Paquete</a></body></html>");
        m_server->serve(path, "<html><body><h1>Servicio no disponible</h1></body></html>",
                        "text/html; charset=utf-8", 503);
        frmActualiza form(m_p->withRealBrowser(), m_p->folder(), nullptr);
        form.show();
        QTRY_VERIFY_WITH_TIMEOUT(form.btnOK->isEnabled(), loadTimeout);
        QTest::mouseClick(form.btnOK, Qt::LeftButton);
        // The error page is what the server answered; the press can be made again.
        QTRY_VERIFY_WITH_TIMEOUT(form.btnOK->isEnabled() && !form.wbrowserAct->Busy(), loadTimeout);
        QVERIFY(!form.btnActualiza->isEnabled());

        m_server->serve(path, working);
        const QStringList messagesBefore = m_p->messages.texts();
        QTest::mouseClick(form.btnOK, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(form.btnActualiza->isEnabled(), loadTimeout);
        QCOMPARE(form.listVersion->count(), 1);
        QCOMPARE(form.listVersion->item(0)->text(), QStringLiteral("9001"));
        QCOMPARE(form.actURL,
                 m_server->url(QStringLiteral("/act/archivoValores.asp?Numeros=9001")));
        QCOMPARE(m_p->messages.texts(), messagesBefore);
    }

private:
    std::unique_ptr<QTemporaryDir> m_outside;
    std::unique_ptr<TestPlatform> m_p;
    std::unique_ptr<TestHttpServer> m_server;
    QByteArray m_package;
};

QTEST_MAIN(TestUpdateHostile)
#include "tst_updatehostile.moc"

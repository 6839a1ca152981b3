// The update window's button states as the real browser drives them: only a
// navigation the engine completes moves them, so these run on the real
// browser against pages served on 127.0.0.1.

#include "frmactualiza.h"
#include "testhttpserver.h"
#include "testplatform.h"
#include "updateserver.h"

#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace {
constexpr int loadTimeout = 30000;

QStringList items(const QListWidget *list)
{
    QStringList all;
    for (int row = 0; row < list->count(); ++row) {
        all.append(list->item(row)->text());
    }
    return all;
}
} // namespace

class TestUpdateStates : public QObject {
    Q_OBJECT

private slots:
    void theListPageMakesTheCheckAvailable()
    {
        QTemporaryDir circulars;
        QFile pdf(circulars.filePath(QStringLiteral("2001.pdf")));
        QVERIFY(pdf.open(QIODevice::WriteOnly));
        pdf.write("%PDF-1.4 circular");
        pdf.close();
        UpdateServer server(circulars.path());
        QVERIFY(server.listen());

        TestPlatform p;
        p.writeSettings("[http]\r\nactualizacion=" + server.baseUrl().toString().toUtf8() + "\r\n");
        frmActualiza form(p.withRealBrowser(), p.folder(), nullptr);
        form.show();
        QVERIFY(!form.btnOK->isEnabled());
        QVERIFY(!form.btnActualiza->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(form.btnOK->isEnabled(), loadTimeout);
        QVERIFY(!form.btnActualiza->isEnabled());
        QVERIFY(p.messages.shown.isEmpty());
    }

    void offlineAtLoadLeavesBothButtonsOff()
    {
        TestHttpServer server;
        QVERIFY(server.start());
        server.serve(QStringLiteral("/act/actualizacionesValores.asp"),
                     "<html><body><label>1,2</label></body></html>");
        TestPlatform p;
        p.probe.online = false;
        p.writeSettings("[http]\r\nactualizacion=" + server.url(QStringLiteral("/act/")).toUtf8() +
                        "\r\n");
        frmActualiza form(p.withRealBrowser(), p.folder(), nullptr);
        form.show();
        QTRY_COMPARE(p.messages.texts(),
                     QStringList{QStringLiteral("Verifique su conexión a Internet")});
        QCOMPARE(p.messages.shown.first().icon, MessageIcon::Critical);
        QTest::qWait(1000); // time enough for a page to load, had one been let through
        QVERIFY(!form.btnOK->isEnabled());
        QVERIFY(!form.btnActualiza->isEnabled());
        QVERIFY(server.requests.isEmpty());
    }

    void escapeLeavesTheWindowOpen()
    {
        // The window has no cancel button: only its close box closes it.
        TestPlatform p;
        p.writeSettings("[http]\r\nactualizacion=http://127.0.0.1:1/\r\n");
        frmActualiza form(p.withFakeBrowser(), p.folder(), nullptr);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.listVersion->setFocus();
        QTest::keyClick(form.listVersion, Qt::Key_Escape);
        QTest::keyClick(&form, Qt::Key_Escape);
        QVERIFY(form.isVisible());
        QVERIFY(form.close());
    }

    void theServersPagesDecideTheButtons_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("packageOffered");
        QTest::newRow("answer page") << QStringLiteral("archivo.asp?p=1") << true;
        QTest::newRow("request page") << QStringLiteral("archivoValores.asp?Numeros=1") << false;
        QTest::newRow("capitals") << QStringLiteral("ARCHIVO.ASP") << false;
    }

    void theServersPagesDecideTheButtons()
    {
        // The list page sends the hidden browser on to another page, as a
        // server's pages may; the last completed address decides.
        QFETCH(QString, answer);
        QFETCH(bool, packageOffered);
        TestHttpServer server;
        QVERIFY(server.start());
        const QString path = answer.section(u'?', 0, 0);
        server.serve(QStringLiteral("/act/actualizacionesValores.asp"),
                     "<html><body><script>location.replace('" + answer.toUtf8() +
                         "')</script></body></html>");
        server.serve(QStringLiteral("/act/") + path,
                     "<html><body><a href='x.zip'>x</a></body></html>");
        TestPlatform p;
        p.writeSettings("[http]\r\nactualizacion=" + server.url(QStringLiteral("/act/")).toUtf8() +
                        "\r\n");
        frmActualiza form(p.withRealBrowser(), p.folder(), nullptr);
        form.show();
        QTRY_VERIFY_WITH_TIMEOUT(server.requests.contains(QStringLiteral("/act/") + path),
                                 loadTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(!form.wbrowserAct->Busy(), loadTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(form.btnActualiza->isEnabled(), packageOffered, loadTimeout);
        QCOMPARE(form.btnOK->isEnabled(), !packageOffered);
    }

    void aCheckIsRetriedAfterAServerError_data()
    {
        QTest::addColumn<QString>("failing"); // the page that answers 503 at first
        QTest::newRow("the list page") << QStringLiteral("actualizacionesValores.asp");
        QTest::newRow("the request") << QStringLiteral("archivoValores.asp");
    }

    void aCheckIsRetriedAfterAServerError()
    {
        // The server is down for a while; once it is back, one more press of
        // "Revisar Actualizaciones" lists what is missing and asks for it.
        QFETCH(QString, failing);
        const QString act = QStringLiteral("/act/");
        const QByteArray list = "<html><body><label>1001,9001</label></body></html>";
        const QByteArray request =
            "<html><body><script>location.replace('archivo.asp?p=1')</script></body></html>";
        TestHttpServer server;
        QVERIFY(server.start());
        server.serve(act + QStringLiteral("actualizacionesValores.asp"), list);
        server.serve(act + QStringLiteral("archivoValores.asp"), request);
        server.serve(act + QStringLiteral("archivo.asp"),
                     "<html><body><a href='paq/p.zip'>Paquete</a></body></html>");
        server.serve(act + failing, "<html><body><h1>Servicio no disponible</h1></body></html>",
                     "text/html; charset=utf-8", 503);
        TestPlatform p;
        p.writeFile(QStringLiteral("circulares/1001.pdf"), "%PDF-1.4 1001");
        p.writeSettings("[http]\r\nactualizacion=" + server.url(act).toUtf8() + "\r\n");
        frmActualiza form(p.withRealBrowser(), p.folder(), nullptr);
        form.show();
        QTRY_VERIFY_WITH_TIMEOUT(form.btnOK->isEnabled(), loadTimeout);
        QTest::mouseClick(form.btnOK, Qt::LeftButton);
        // The error page is what the server answered; the press can be made again.
        QTRY_VERIFY_WITH_TIMEOUT(form.btnOK->isEnabled() && !form.wbrowserAct->Busy(), loadTimeout);
        QVERIFY(!form.btnActualiza->isEnabled());

        server.serve(act + failing,
                     failing == QLatin1String("archivoValores.asp") ? request : list);
        const QStringList messagesBefore = p.messages.texts();
        QTest::mouseClick(form.btnOK, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(form.btnActualiza->isEnabled(), loadTimeout);
        QCOMPARE(items(form.listVersion), QStringList{QStringLiteral("9001")});
        QCOMPARE(form.actURL, server.url(act + QStringLiteral("archivoValores.asp?Numeros=9001")));
        QCOMPARE(p.messages.texts(), messagesBefore);
    }
};

QTEST_MAIN(TestUpdateStates)
#include "tst_updatestates.moc"

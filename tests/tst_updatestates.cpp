// The update window's button states as the real browser drives them: only a
// navigation the engine completes moves them, so these run on the real
// browser against pages served on 127.0.0.1.

#include "frmactualiza.h"
#include "testhttpserver.h"
#include "testplatform.h"
#include "updateserver.h"

#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace {
constexpr int loadTimeout = 30000;
}

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
};

QTEST_MAIN(TestUpdateStates)
#include "tst_updatestates.moc"

// The browser engine's own pages and texts speak Spanish, like the rest of
// the program: the language is set up as the program does it, before the
// engine starts, and the engine's error page, its menu texts and what it asks
// web servers for are read back.

#include "spanishlanguage.h"

#include <QAction>
#include <QApplication>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

namespace {
constexpr int loadTimeout = 60000;

QString pageText(QWebEnginePage *page)
{
    QString text;
    bool done = false;
    page->toPlainText([&](const QString &result) {
        text = result;
        done = true;
    });
    for (int waited = 0; !done && waited < loadTimeout; waited += 20) {
        QTest::qWait(20);
    }
    return text;
}
} // namespace

class TestEngineLanguage : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_profile = new QWebEngineProfile(this);
        SpanishLanguage::applyTo(m_profile);
        m_view = new QWebEngineView;
        m_view->setPage(new QWebEnginePage(m_profile, m_view));
        m_view->resize(600, 400);
        m_view->show();
    }

    void cleanupTestCase() { delete m_view; }

    void theErrorPageIsInSpanish()
    {
        // Nothing listens on port 1 of this machine: the engine shows its page
        // for a refused connection.
        QSignalSpy finished(m_view->page(), &QWebEnginePage::loadFinished);
        m_view->load(QUrl(QStringLiteral("http://127.0.0.1:1/pagina.htm")));
        QVERIFY(finished.wait(loadTimeout));
        QString text;
        QTRY_VERIFY_WITH_TIMEOUT((text = pageText(m_view->page())).contains(u"127.0.0.1"),
                                 loadTimeout);
        qInfo("%s", qPrintable(text.simplified()));
        QVERIFY2(text.contains(QStringLiteral("No se puede acceder a este sitio")),
                 qPrintable(text));
    }

    void theMenuTextsAreInSpanish()
    {
        QCOMPARE(m_view->page()->action(QWebEnginePage::Back)->text(), QStringLiteral("Atrás"));
        QCOMPARE(m_view->page()->action(QWebEnginePage::Reload)->text(),
                 QStringLiteral("Volver a cargar"));
        QCOMPARE(m_view->page()->action(QWebEnginePage::SavePage)->text(),
                 QStringLiteral("Guardar página como..."));
        // What the engine puts into the context menu of a page.
        QCOMPARE(QCoreApplication::translate("RenderViewContextMenuQt", "View page source"),
                 QStringLiteral("Ver código fuente de la página"));
        // Other texts are left to the other translations.
        QCOMPARE(QCoreApplication::translate("QWebEnginePage", "Not an engine text"),
                 QStringLiteral("Not an engine text"));
    }

    void webServersAreAskedForSpanish()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QByteArray request;
        connect(&server, &QTcpServer::newConnection, this, [&] {
            QTcpSocket *socket = server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [&request, socket] {
                request += socket->readAll();
                if (request.contains("\r\n\r\n")) {
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
                                  "Content-Length: 2\r\nConnection: close\r\n\r\nok");
                    socket->disconnectFromHost();
                }
            });
        });
        QSignalSpy finished(m_view->page(), &QWebEnginePage::loadFinished);
        m_view->load(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(server.serverPort())));
        QVERIFY(finished.wait(loadTimeout));
        QVERIFY2(request.contains("\r\nAccept-Language: es\r\n"), request.constData());
    }

private:
    QWebEngineProfile *m_profile = nullptr;
    QWebEngineView *m_view = nullptr;
};

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    const SpanishLanguage spanish; // before the engine starts, as the program does
    TestEngineLanguage test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_enginelanguage.moc"

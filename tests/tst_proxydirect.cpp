// A stored direct connection is direct even when the environment names a
// proxy: the engine is started from a direct record the way the program
// starts, with http_proxy pointing at a server of the test that plays the
// proxy, and a page must come from the web server itself.

#include "chromiumproxy.h"
#include "enginearguments.h"
#include "fileproxystore.h"

#include <QApplication>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

namespace {

constexpr int loadTimeout = 60000;

// Records the first line of every request and answers with a page titled
// with the server's name.
class RecordingServer : public QObject {
public:
    explicit RecordingServer(const QByteArray &name)
        : m_name(name)
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
            }
        });
    }

    bool listen() { return m_server.listen(QHostAddress::LocalHost); }
    quint16 port() const { return m_server.serverPort(); }

    QStringList requests;

private:
    void read(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        if (!buffer.contains("\r\n\r\n")) {
            return;
        }
        requests.append(QString::fromLatin1(buffer.left(buffer.indexOf("\r\n"))));
        m_buffers.remove(socket);
        const QByteArray page = "<html><head><title>" + m_name + "</title></head></html>";
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                      QByteArray::number(page.size()) + "\r\nConnection: close\r\n\r\n" + page);
        socket->disconnectFromHost();
    }

    QByteArray m_name;
    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};

} // namespace

class TestProxyDirect : public QObject {
    Q_OBJECT
public:
    TestProxyDirect(RecordingServer &proxy, const QStringList &switches)
        : m_proxy(proxy)
        , m_switches(switches)
    {
    }

private slots:
    void aDirectRecordIgnoresTheEnvironmentsProxy()
    {
        QCOMPARE(m_switches.value(0), QStringLiteral("--no-proxy-server"));
        RecordingServer web("directo");
        QVERIFY(web.listen());

        QWebEngineProfile profile;
        QWebEngineView view;
        view.setPage(new QWebEnginePage(&profile, &view));
        view.resize(400, 300);
        view.show();
        // A name outside this machine, which the resolver rule below sends to
        // 127.0.0.1: the engine would never take a proxy for a loopback name.
        const QString url =
            QStringLiteral("http://legisdisco-test.invalid:%1/pagina.htm").arg(web.port());
        QSignalSpy finished(view.page(), &QWebEnginePage::loadFinished);
        view.load(QUrl(url));
        QVERIFY(finished.wait(loadTimeout));
        QCOMPARE(web.requests, QStringList{QStringLiteral("GET /pagina.htm HTTP/1.1")});
        QCOMPARE(m_proxy.requests, QStringList());
        QCOMPARE(view.title(), QStringLiteral("directo"));
    }

private:
    RecordingServer &m_proxy;
    QStringList m_switches;
};

int main(int argc, char *argv[])
{
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("proxy.json"));
    if (!FileProxyStore(path, QProcessEnvironment()).set({ProxyAccess::Direct, {}, {}})) {
        qCritical("cannot store the proxy record");
        return 1;
    }

    // The proxy of the environment is a server of this test; its port is known
    // only once it listens, which needs the application object, so the
    // variable is set before the engine starts (at the first page).
    const QStringList switches =
        engineProxySwitches(FileProxyStore(path, QProcessEnvironment()).storedRecord());
    QStringList engineSwitches = switches;
    engineSwitches.append(QStringLiteral(
        "--host-resolver-rules=MAP legisdisco-test.invalid 127.0.0.1, MAP * ~NOTFOUND"));
    BrowserEngineArguments engine(argc, argv, engineSwitches);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(engine.argc(), engine.argv());

    RecordingServer proxy("proxy");
    if (!proxy.listen()) {
        qCritical("cannot listen on 127.0.0.1");
        return 1;
    }
    const QByteArray proxyAddress = "http://127.0.0.1:" + QByteArray::number(proxy.port());
    qputenv("http_proxy", proxyAddress);
    qputenv("HTTP_PROXY", proxyAddress);
    qunsetenv("no_proxy");
    qunsetenv("NO_PROXY");

    TestProxyDirect test(proxy, switches);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_proxydirect.moc"

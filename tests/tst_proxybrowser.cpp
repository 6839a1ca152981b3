// The browser goes through the stored proxy: a record is stored as the proxy
// dialog stores it, and the browser engine is started from it the way the
// program starts, before the application object exists. Small servers inside
// the test, on 127.0.0.1, play the proxies and a web server.

#include "chromiumproxy.h"
#include "enginearguments.h"
#include "fileproxystore.h"
#include "proxylists.h"

#include <QApplication>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int loadTimeout = 60000;

// A socket listening on 127.0.0.1 before the application object exists, so
// that its port can go into the record the engine is started with.
int listenOnLoopback(quint16 &port)
{
    const int descriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0) {
        return -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(descriptor, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(descriptor, 16) != 0 ||
        ::getsockname(descriptor, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        ::close(descriptor);
        return -1;
    }
    port = ntohs(address.sin_port);
    return descriptor;
}

// Records the first line of every request and answers it with a small page
// titled with the server's name; a CONNECT request is refused.
class TinyServer : public QObject {
public:
    explicit TinyServer(const QString &name)
        : m_name(name)
    {
        connect(&m_server, &QTcpServer::newConnection, this, &TinyServer::accept);
    }

    bool listen() { return m_server.listen(QHostAddress::LocalHost); }
    bool take(int descriptor) { return m_server.setSocketDescriptor(descriptor); }
    quint16 port() const { return m_server.serverPort(); }

    QStringList requests;

private:
    void accept()
    {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        }
    }

    void read(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        if (!buffer.contains("\r\n\r\n")) {
            return;
        }
        const QString line = QString::fromLatin1(buffer.left(buffer.indexOf("\r\n")));
        m_buffers.remove(socket);
        requests.append(line);
        if (line.startsWith(QLatin1String("CONNECT "))) {
            socket->write("HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n"
                          "Connection: close\r\n\r\n");
        } else {
            const QByteArray page = "<html><head><title>" + m_name.toUtf8() +
                                    "</title></head><body>" + m_name.toUtf8() + "</body></html>";
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                          "Content-Length: " +
                          QByteArray::number(page.size()) + "\r\nConnection: close\r\n\r\n" + page);
        }
        socket->disconnectFromHost();
    }

    QString m_name;
    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};

struct Startup {
    int proxySocket = -1;
    int secureProxySocket = -1;
    QStringList switches;
};

} // namespace

class TestProxyBrowser : public QObject {
    Q_OBJECT
public:
    explicit TestProxyBrowser(const Startup &startup)
        : m_startup(startup)
    {
    }

private:
    // Loads url and waits until the engine has finished with it.
    bool load(const QString &url)
    {
        QSignalSpy finished(m_view->page(), &QWebEnginePage::loadFinished);
        m_view->load(QUrl(url));
        return finished.wait(loadTimeout);
    }

    Startup m_startup;
    TinyServer m_proxy{QStringLiteral("proxy")};
    TinyServer m_secureProxy{QStringLiteral("secure proxy")};
    TinyServer m_web{QStringLiteral("directo")};
    QWebEngineProfile *m_profile = nullptr;
    QWebEngineView *m_view = nullptr;
    bool m_proxyInEffect = false;

private slots:
    void initTestCase()
    {
        QVERIFY(m_proxy.take(m_startup.proxySocket));
        QVERIFY(m_secureProxy.take(m_startup.secureProxySocket));
        QVERIFY(m_web.listen());
        m_profile = new QWebEngineProfile(this);
        m_view = new QWebEngineView;
        m_view->setPage(new QWebEnginePage(m_profile, m_view));
        m_view->page()->settings()->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
        m_view->resize(400, 300);
        m_view->show();
    }

    void cleanupTestCase() { delete m_view; }

    void theEngineWasGivenTheStoredProxy()
    {
        const QString expected =
            QStringLiteral("--proxy-server=https=127.0.0.1:%1;http=127.0.0.1:%2")
                .arg(m_secureProxy.port())
                .arg(m_proxy.port());
        QCOMPARE(m_startup.switches.value(0), expected);
        QCOMPARE(m_startup.switches.value(1),
                 QStringLiteral("--proxy-bypass-list=<-loopback>;127.0.0.1"));
        const bool inArguments = QCoreApplication::arguments().contains(expected);
        const bool inFlags = qEnvironmentVariable("QTWEBENGINE_CHROMIUM_FLAGS").contains(expected);
        QVERIFY(inArguments != inFlags);
        qInfo("switches passed in %s", inFlags ? "QTWEBENGINE_CHROMIUM_FLAGS" : "the arguments");
    }

    // The engine would go direct to every loopback address on its own;
    // "<-loopback>" in the stored bypass list turns that off, so that a
    // loopback name not in the list goes through the proxy, and the bypass of
    // 127.0.0.1 below is the list's doing.
    void aLoopbackNameNotInTheListGoesThroughTheProxy()
    {
        const int before = m_web.requests.size();
        const QString url = QStringLiteral("http://localhost:%1/otro.htm").arg(m_web.port());
        QVERIFY(load(url));
        QVERIFY(m_proxy.requests.contains(QStringLiteral("GET %1 HTTP/1.1").arg(url)));
        QCOMPARE(m_view->title(), QStringLiteral("proxy"));
        QCOMPARE(m_web.requests.size(), before);
        m_proxyInEffect = true;
    }

    void aBypassedHostIsReachedDirectly()
    {
        const int before = m_proxy.requests.size();
        const QString url = QStringLiteral("http://127.0.0.1:%1/directo.htm").arg(m_web.port());
        QVERIFY(load(url));
        QVERIFY(m_web.requests.contains(QStringLiteral("GET /directo.htm HTTP/1.1")));
        QCOMPARE(m_view->title(), QStringLiteral("directo"));
        QCOMPARE(m_proxy.requests.size(), before);
    }

    void anHttpPageComesThroughTheProxy()
    {
        // Names outside this machine are loaded only once the proxy is known
        // to be in effect, and with it the rule that the engine resolves no
        // name: should the proxy be missed, nothing is looked up elsewhere.
        if (!m_proxyInEffect) {
            QFAIL("the engine does not use the stored proxy");
        }
        const QString url = QStringLiteral("http://legisdisco-test.invalid/pagina.htm");
        QVERIFY(load(url));
        QVERIFY(m_proxy.requests.contains(QStringLiteral("GET %1 HTTP/1.1").arg(url)));
        QCOMPARE(m_view->title(), QStringLiteral("proxy"));
        QVERIFY(m_secureProxy.requests.isEmpty());
        QCOMPARE(m_web.requests, QStringList{QStringLiteral("GET /directo.htm HTTP/1.1")});
    }

    void anHttpsPageGoesToTheSecureProxy()
    {
        if (!m_proxyInEffect) {
            QFAIL("the engine does not use the stored proxy");
        }
        const int before = m_proxy.requests.size();
        load(QStringLiteral("https://legisdisco-test.invalid/segura.htm"));
        QTRY_VERIFY_WITH_TIMEOUT(m_secureProxy.requests.contains(QStringLiteral(
                                     "CONNECT legisdisco-test.invalid:443 HTTP/1.1")),
                                 loadTimeout);
        QCOMPARE(m_proxy.requests.size(), before);
    }
};

int main(int argc, char *argv[])
{
    QStandardPaths::setTestModeEnabled(true);
    Startup startup;
    quint16 proxyPort = 0;
    quint16 secureProxyPort = 0;
    startup.proxySocket = listenOnLoopback(proxyPort);
    startup.secureProxySocket = listenOnLoopback(secureProxyPort);
    if (startup.proxySocket < 0 || startup.secureProxySocket < 0) {
        qCritical("cannot listen on 127.0.0.1");
        return 1;
    }

    // The record as the dialog stores it.
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("config/proxy.json"));
    ProxyFields fields;
    fields.useProxy = true;
    fields.http = {QStringLiteral("127.0.0.1"), QString::number(proxyPort)};
    fields.secure = {QStringLiteral("127.0.0.1"), QString::number(secureProxyPort)};
    fields.exceptions = QStringLiteral("127.0.0.1;<-loopback>");
    if (!FileProxyStore(path, QProcessEnvironment()).set(buildProxyRecord(fields))) {
        qCritical("cannot store the proxy record");
        return 1;
    }

    // The start of the program: the stored record becomes switches before the
    // application object is made.
    const FileProxyStore store(path, QProcessEnvironment::systemEnvironment());
    startup.switches = engineProxySwitches(store.storedRecord());
    // Not the program's: the engine may look up no name at all, so that
    // nothing here can reach beyond this machine even if the proxy is missed.
    QStringList switches = startup.switches;
    switches.append(QStringLiteral(
        "--host-resolver-rules=MAP * ~NOTFOUND,EXCLUDE localhost,EXCLUDE 127.0.0.1"));
    BrowserEngineArguments engine(argc, argv, switches);

    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(engine.argc(), engine.argv());
    TestProxyBrowser test(startup);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_proxybrowser.moc"

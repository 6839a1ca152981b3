#include "chromiumproxy.h"
#include "enginearguments.h"
#include "fileproxystore.h"
#include "proxylists.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(ProxyFields)
Q_DECLARE_METATYPE(ProxyRecord)

char *toString(const ProxyFields &f)
{
    auto row = [](const ProxyRow &r) { return QStringLiteral("'%1'/'%2'").arg(r.host, r.port); };
    return QTest::toString(
        QStringLiteral("{use %1, local %2, exceptions '%3', http %4, secure %5, ftp %6, "
                       "gopher %7, socks %8}")
            .arg(f.useProxy)
            .arg(f.bypassLocal)
            .arg(f.exceptions, row(f.http), row(f.secure), row(f.ftp), row(f.gopher),
                 row(f.socks)));
}

namespace {

QString s(const char *text)
{
    return QString::fromUtf8(text);
}

ProxyRecord record(quint32 accessType, const char *proxy, const char *bypass)
{
    return {accessType, s(proxy), s(bypass)};
}

// Fields that every row and box fills, to see what reading leaves alone.
ProxyFields filled()
{
    ProxyFields f;
    f.exceptions = s("old;list");
    f.http = {s("oh"), s("1")};
    f.secure = {s("os"), s("2")};
    f.ftp = {s("of"), s("3")};
    f.gopher = {s("og"), s("4")};
    f.socks = {s("ok"), s("5")};
    return f;
}

QProcessEnvironment environment(const QStringList &assignments)
{
    QProcessEnvironment env;
    for (const QString &assignment : assignments) {
        const qsizetype equals = assignment.indexOf(u'=');
        env.insert(assignment.left(equals), assignment.mid(equals + 1));
    }
    return env;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

} // namespace

class TestProxy : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // Applying: the fields become the record.
    void applying_data()
    {
        QTest::addColumn<ProxyFields>("fields");
        QTest::addColumn<ProxyRecord>("expected");

        QTest::newRow("all empty, both boxes unchecked") << ProxyFields() << record(1, "", "");

        ProxyFields f;
        f.useProxy = true;
        f.http = {s("10.0.0.1"), s("8080")};
        f.ftp = {s("10.0.0.2"), s("21")};
        f.socks = {s("s"), QString()};
        QTest::newRow("a row without its port is left out")
            << f << record(3, "http=10.0.0.1:8080 ftp=10.0.0.2:21", "");

        f = ProxyFields();
        f.socks = {s("h"), s("1080")};
        QTest::newRow("only socks, no trailing space") << f << record(1, "socks=h:1080", "");

        f = ProxyFields();
        f.secure = {s("h"), s("443")};
        f.gopher = {s("g"), s("70")};
        QTest::newRow("secure and gopher") << f << record(1, "https=h:443 gopher=g:70", "");

        f = ProxyFields();
        f.useProxy = true;
        f.http = {s("a"), s("1")};
        f.secure = {s("b"), s("2")};
        f.ftp = {s("c"), s("3")};
        f.gopher = {s("d"), s("4")};
        f.socks = {s("e"), s("5")};
        QTest::newRow("order socks, secure, http, gopher, ftp")
            << f << record(3, "socks=e:5 https=b:2 http=a:1 gopher=d:4 ftp=c:3", "");

        f = ProxyFields();
        f.http = {QString(), s("80")};
        f.secure = {s("x y"), s(" 443 ")};
        f.ftp = {s(" f "), s("21  ")};
        QTest::newRow("texts as they stand, trailing spaces of the list dropped")
            << f << record(1, "https=x y: 443  ftp= f :21", "");

        f = ProxyFields();
        f.useProxy = true;
        QTest::newRow("use proxy with nothing to use") << f << record(3, "", "");

        f = ProxyFields();
        f.exceptions = s("intranet;10.*");
        f.bypassLocal = true;
        QTest::newRow("exceptions and local") << f << record(1, "", "intranet 10.* <local>");

        f = ProxyFields();
        f.bypassLocal = true;
        QTest::newRow("local alone") << f << record(1, "", "<local>");

        f = ProxyFields();
        f.exceptions = s("a; b");
        QTest::newRow("inner spaces stay") << f << record(1, "", "a  b");

        f = ProxyFields();
        f.exceptions = s(" ;a;; b;");
        QTest::newRow("outer spaces go") << f << record(1, "", "a   b");

        f = ProxyFields();
        f.exceptions = s("\tx;y\n");
        QTest::newRow("only the space character is trimmed") << f << record(1, "", "\tx y\n");
    }

    void applying()
    {
        QFETCH(ProxyFields, fields);
        QFETCH(ProxyRecord, expected);
        QCOMPARE(buildProxyRecord(fields), expected);
    }

    // Reading: the record updates the fields it mentions.
    void reading_data()
    {
        QTest::addColumn<ProxyFields>("before");
        QTest::addColumn<ProxyRecord>("stored");
        QTest::addColumn<ProxyFields>("expected");

        ProxyFields e = filled();
        QTest::newRow("a failed query changes nothing") << filled() << record(0, "", "") << e;
        QTest::newRow("access type 1 leaves the box unchecked")
            << filled() << record(1, "", "") << e;
        e.useProxy = true;
        QTest::newRow("access type 3 checks the box") << filled() << record(3, "", "") << e;
        ProxyFields checked = filled();
        checked.useProxy = true;
        QTest::newRow("access type 1 leaves a checked box checked")
            << checked << record(1, "", "") << e;
        QTest::newRow("other access types are ignored") << checked << record(2, "", "") << e;

        e = ProxyFields();
        e.secure = {s("s"), s("443")};
        e.http = {s("h"), s("80")};
        QTest::newRow("keywords in any order")
            << ProxyFields() << record(1, "https=s:443 http=h:80", "") << e;

        QTest::newRow("keywords are case-sensitive")
            << filled() << record(1, "HTTP=h:80 Socks=s:1", "") << filled();

        e = filled();
        e.http = {s("h"), s("80;https=s:443")};
        QTest::newRow("semicolons do not separate entries")
            << filled() << record(1, "http=h:80;https=s:443", "") << e;

        e.http = {QString(), s("8080")};
        QTest::newRow("empty host") << filled() << record(1, "http=:8080", "") << e;
        e.http = {s("h"), QString()};
        QTest::newRow("empty port") << filled() << record(1, "http=h:", "") << e;
        QTest::newRow("no colon: the host alone, an empty port")
            << filled() << record(1, "http=h", "") << e;
        e.http = {s("["), s(":1]:8080")};
        QTest::newRow("split at the first colon")
            << filled() << record(1, "http=[::1]:8080", "") << e;
        e.http = {s("b"), s("2")};
        QTest::newRow("a later entry wins") << filled() << record(1, "http=a:1 http=b:2", "") << e;

        e = filled();
        e.gopher = {s("g"), s("70")};
        e.socks = {s("k"), s("1080")};
        e.ftp = {s("f"), s("21")};
        QTest::newRow("gopher, socks, ftp; the other rows keep their texts")
            << filled() << record(1, "gopher=g:70 socks=k:1080 ftp=f:21", "") << e;

        e = filled();
        e.http = {s("h"), s("1")};
        e.ftp = {s("f"), s("2")};
        QTest::newRow("two spaces make an empty entry")
            << filled() << record(1, "http=h:1  ftp=f:2 ", "") << e;

        QTest::newRow("a list without keywords fills no row")
            << filled() << record(3, "h:8080", "") << [] {
                   ProxyFields f = filled();
                   f.useProxy = true;
                   return f;
               }();

        e = filled();
        e.bypassLocal = true;
        QTest::newRow("<local> alone keeps the exceptions")
            << filled() << record(1, "", "<local>") << e;
        e = filled();
        e.exceptions = s("a");
        QTest::newRow("one entry is shown") << filled() << record(1, "", "a") << e;
        e.exceptions = s("b;c");
        e.bypassLocal = true;
        QTest::newRow("the first entry is dropped")
            << filled() << record(1, "", "a b c <local>") << e;
        e.exceptions = s("y");
        QTest::newRow("<local> anywhere") << filled() << record(1, "", "x <local> y") << e;
        e = filled();
        e.exceptions = s(";b");
        QTest::newRow("empty entries are kept") << filled() << record(1, "", "a  b") << e;
        e.exceptions = s("<LOCAL>");
        QTest::newRow("<local> is case-sensitive") << filled() << record(1, "", "a <LOCAL>") << e;
        QTest::newRow("a trailing space alone changes nothing")
            << filled() << record(1, "", "a ") << filled();
    }

    void reading()
    {
        QFETCH(ProxyFields, before);
        QFETCH(ProxyRecord, stored);
        QFETCH(ProxyFields, expected);
        QCOMPARE(readProxyRecord(before, stored), expected);
    }

    void chromiumSwitches_data()
    {
        QTest::addColumn<ProxyRecord>("stored");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("direct") << record(1, "http=h:80", "a")
                                << QStringList{s("--no-proxy-server")};
        QTest::newRow("unreadable") << record(0, "http=h:80", "a") << QStringList();
        QTest::newRow("proxy without a list") << record(3, "", "a") << QStringList();
        QTest::newRow("gopher alone") << record(3, "gopher=g:70", "a") << QStringList();
        QTest::newRow("http") << record(3, "http=h:80", "")
                              << QStringList{s("--proxy-server=http=h:80")};
        QTest::newRow("every row and a bypass list")
            << record(3, "socks=k:1080 https=s:443 http=h:80 gopher=g:70 ftp=f:21",
                      "intranet 10.* <local>")
            << QStringList{s("--proxy-server=socks=socks5://k:1080;https=s:443;http=h:80;ftp=f:21"),
                           s("--proxy-bypass-list=intranet;10.*;<local>")};
        QTest::newRow("one proxy for every protocol")
            << record(3, "h:8080", "<local>")
            << QStringList{s("--proxy-server=h:8080"), s("--proxy-bypass-list=<local>")};
        QTest::newRow("unknown keywords and empty entries are left out")
            << record(3, " HTTP=x:1  telnet=t:23 http=h:80 ", "  a  b ")
            << QStringList{s("--proxy-server=http=h:80"), s("--proxy-bypass-list=a;b")};
        QTest::newRow("<-loopback> goes first")
            << record(3, "http=h:80", "a 127.0.0.1 <-loopback> b")
            << QStringList{s("--proxy-server=http=h:80"),
                           s("--proxy-bypass-list=<-loopback>;a;127.0.0.1;b")};
        QTest::newRow("a socks entry with its own scheme")
            << record(3, "socks=socks4://k:1080", "")
            << QStringList{s("--proxy-server=socks=socks4://k:1080")};
    }

    void chromiumSwitches()
    {
        QFETCH(ProxyRecord, stored);
        QFETCH(QStringList, expected);
        QCOMPARE(chromiumProxySwitches(stored), expected);
    }

    void theEngineFollowsTheSystemUntilTheReaderChooses_data()
    {
        QTest::addColumn<QStringList>("variables"); // the proxy variables of the environment
        QTest::addColumn<QByteArray>("file");       // what is stored; empty: no file
        QTest::addColumn<QStringList>("expected");
        const QStringList none;
        const QStringList http{s("http_proxy=envhost:3128")};
        QTest::newRow("nothing stored, no variables") << none << QByteArray() << QStringList();
        QTest::newRow("nothing stored, a proxy variable") << http << QByteArray() << QStringList();
        QTest::newRow("a direct connection stored")
            << http << QByteArray(R"({"accessType": 1, "proxy": "", "bypass": ""})")
            << QStringList{s("--no-proxy-server")};
        QTest::newRow("a proxy stored")
            << none << QByteArray(R"({"accessType": 3, "proxy": "http=h:80", "bypass": "a"})")
            << QStringList{s("--proxy-server=http=h:80"), s("--proxy-bypass-list=a")};
        QTest::newRow("a damaged record") << http << QByteArray("{") << QStringList();
    }

    void theEngineFollowsTheSystemUntilTheReaderChooses()
    {
        // Without a choice of the reader's, the engine gets no switch and
        // follows the system's own settings (the desktop's, a PAC file, the
        // proxy variables); a choice stored with the dialog overrides them.
        QFETCH(QStringList, variables);
        QFETCH(QByteArray, file);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("proxy.json"));
        if (!file.isEmpty()) {
            writeAll(path, file);
        }
        const FileProxyStore store(path, environment(variables));
        QCOMPARE(engineProxySwitches(store.storedRecord()), expected);
    }

    void engineArguments()
    {
        const QStringList sw{s("--proxy-server=http=h:80"), s("--proxy-bypass-list=a;<local>")};
        QCOMPARE(engineArgumentsToAppend({s("prog")}, {}), QStringList());
        QCOMPARE(engineArgumentsToAppend({s("prog"), s("-style"), s("fusion")}, sw),
                 QStringList{s("--webEngineArgs")} + sw);
        QCOMPARE(engineArgumentsToAppend({s("prog"), s("--webEngineArgs"), s("--x")}, sw), sw);

        QCOMPARE(engineFlagsWithSwitches(QString(), sw),
                 s("--proxy-server=http=h:80 --proxy-bypass-list=a;<local>"));
        QCOMPARE(engineFlagsWithSwitches(s("--disable-gpu"), {s("--a=b c"), s("--q=\"x\"")}),
                 s("--disable-gpu \"--a=b c\" --q=x"));
    }

    void engineArgumentsGoWhereTheEngineLooks()
    {
        const QByteArray saved = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
        const bool wasSet = qEnvironmentVariableIsSet("QTWEBENGINE_CHROMIUM_FLAGS");
        QByteArray a0("prog"), a1("-x");
        char *argv[] = {a0.data(), a1.data(), nullptr};
        const QStringList sw{s("--proxy-server=http=h:80")};

        qunsetenv("QTWEBENGINE_CHROMIUM_FLAGS");
        {
            BrowserEngineArguments engine(2, argv, sw);
            QCOMPARE(engine.argc(), 4);
            QCOMPARE(QByteArray(engine.argv()[0]), QByteArray("prog"));
            QCOMPARE(QByteArray(engine.argv()[1]), QByteArray("-x"));
            QCOMPARE(QByteArray(engine.argv()[2]), QByteArray("--webEngineArgs"));
            QCOMPARE(QByteArray(engine.argv()[3]), QByteArray("--proxy-server=http=h:80"));
            QCOMPARE(engine.argv()[4], nullptr);
            QVERIFY(!qEnvironmentVariableIsSet("QTWEBENGINE_CHROMIUM_FLAGS"));
        }
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
        {
            BrowserEngineArguments engine(2, argv, sw);
            QCOMPARE(engine.argc(), 2);
            QCOMPARE(QByteArray(engine.argv()[1]), QByteArray("-x"));
            QCOMPARE(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"),
                     QByteArray("--disable-gpu --proxy-server=http=h:80"));
        }
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
        {
            BrowserEngineArguments engine(2, argv, {});
            QCOMPARE(engine.argc(), 2);
            QCOMPARE(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"), QByteArray("--disable-gpu"));
        }
        if (wasSet)
            qputenv("QTWEBENGINE_CHROMIUM_FLAGS", saved);
        else
            qunsetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    }

    void fromTheEnvironment_data()
    {
        QTest::addColumn<QStringList>("variables");
        QTest::addColumn<ProxyRecord>("expected");

        QTest::newRow("nothing") << QStringList() << record(1, "", "");
        QTest::newRow("unrelated and empty variables")
            << QStringList{s("HOME=/root"), s("http_proxy="), s("all_proxy=  ")}
            << record(1, "", "");
        QTest::newRow("http with scheme and path")
            << QStringList{s("http_proxy=http://proxy.example:3128/")}
            << record(3, "http=proxy.example:3128", "");
        QTest::newRow("no scheme")
            << QStringList{s("http_proxy=proxy:3128")} << record(3, "http=proxy:3128", "");
        QTest::newRow("credentials dropped")
            << QStringList{s("http_proxy=http://user:p@ss@proxy:3128")}
            << record(3, "http=proxy:3128", "");
        QTest::newRow("default port")
            << QStringList{s("http_proxy=http://proxy")} << record(3, "http=proxy:80", "");
        QTest::newRow("IPv6") << QStringList{s("http_proxy=http://[::1]:3128"),
                                             s("https_proxy=[::1]")}
                              << record(3, "https=[::1]:80 http=[::1]:3128", "");
        QTest::newRow("per protocol, in list order")
            << QStringList{s("ftp_proxy=fp:21"), s("http_proxy=hp:80"),
                           s("https_proxy=http://sp:8443")}
            << record(3, "https=sp:8443 http=hp:80 ftp=fp:21", "");
        QTest::newRow("all_proxy with socks")
            << QStringList{s("all_proxy=socks5://s:1080"), s("http_proxy=h:80")}
            << record(3, "socks=s:1080 http=h:80", "");
        QTest::newRow("all_proxy with socks5h and no port")
            << QStringList{s("ALL_PROXY=socks5h://s")} << record(3, "socks=s:1080", "");
        QTest::newRow("all_proxy over http fills the missing protocols")
            << QStringList{s("all_proxy=http://a:3128"), s("https_proxy=http://b:1")}
            << record(3, "https=b:1 http=a:3128 ftp=a:3128", "");
        QTest::newRow("upper-case names")
            << QStringList{s("HTTPS_PROXY=s:443"), s("FTP_PROXY=f:21"), s("NO_PROXY=x")}
            << record(3, "https=s:443 ftp=f:21", "x");
        QTest::newRow("HTTP_PROXY is not trusted")
            << QStringList{s("HTTP_PROXY=evil:80")} << record(1, "", "");
        QTest::newRow("lower case first") << QStringList{s("https_proxy=a:1"), s("HTTPS_PROXY=b:2")}
                                          << record(3, "https=a:1", "");
        QTest::newRow("no_proxy")
            << QStringList{s("http_proxy=h:80"),
                           s("no_proxy=localhost, 127.0.0.1,.example.org  intranet,*")}
            << record(3, "http=h:80", "localhost 127.0.0.1 *.example.org intranet *");
        QTest::newRow("no_proxy alone")
            << QStringList{s("no_proxy=localhost")} << record(1, "", "localhost");
        QTest::newRow("socks for one protocol, TLS proxies and odd schemes are left out")
            << QStringList{s("http_proxy=socks5://s:1"), s("https_proxy=https://p:443"),
                           s("ftp_proxy=ftp://f:21")}
            << record(1, "", "");
    }

    void fromTheEnvironment()
    {
        QFETCH(QStringList, variables);
        QFETCH(ProxyRecord, expected);
        QCOMPARE(proxyRecordFromEnvironment(environment(variables)), expected);
    }

    void fileStoreKeepsTheRecord()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("a/b/proxy.json"));
        const QProcessEnvironment env = environment({s("http_proxy=envhost:3128")});
        FileProxyStore store(path, env);
        QCOMPARE(store.query(), record(3, "http=envhost:3128", ""));

        const ProxyRecord stored = record(1, "http=José:80 socks=k:1", "a b <local>");
        QVERIFY(store.set(stored));
        QCOMPARE(store.query(), stored);
        QCOMPARE(FileProxyStore(path, env).query(), stored);

        const QJsonObject object = QJsonDocument::fromJson(readAll(path)).object();
        QCOMPARE(object.value(QStringLiteral("accessType")).toInt(), 1);
        QCOMPARE(object.value(QStringLiteral("proxy")).toString(), stored.proxy);
        QCOMPARE(object.value(QStringLiteral("bypass")).toString(), stored.bypass);

        QVERIFY(store.set(record(3, "", "")));
        QCOMPARE(FileProxyStore(path, env).query(), record(3, "", ""));
        QVERIFY(store.set(record(0xFFFFFFFF, "x", "")));
        QCOMPARE(store.query(), record(0xFFFFFFFF, "x", ""));
        QCOMPARE(QDir(dir.filePath(QStringLiteral("a/b"))).entryList(QDir::Files),
                 QStringList{s("proxy.json")});
    }

    void fileStoreRefusesWhatItCannotWrite()
    {
        QTemporaryDir dir;
        const QProcessEnvironment env = environment({s("https_proxy=s:1")});

        writeAll(dir.filePath(QStringLiteral("plain")), "x");
        FileProxyStore underAFile(dir.filePath(QStringLiteral("plain/proxy.json")), env);
        QVERIFY(!underAFile.set(record(3, "http=h:80", "")));
        QCOMPARE(underAFile.query(), record(3, "https=s:1", ""));

        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
        FileProxyStore onAFolder(dir.filePath(QStringLiteral("folder")), env);
        QVERIFY(!onAFolder.set(record(3, "http=h:80", "")));
        QVERIFY(QFileInfo(dir.filePath(QStringLiteral("folder"))).isDir());
        // There is something, but it cannot be read: no record, and no
        // environment either.
        QCOMPARE(onAFolder.query(), record(0, "", ""));
    }

    void fileStoreReadsADamagedFileAsNothing_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("not JSON") << QByteArray("accessType=3");
        QTest::newRow("an array") << QByteArray("[3, \"http=h:80\", \"\"]");
        QTest::newRow("a missing member") << QByteArray(R"({"accessType": 3, "proxy": "x"})");
        QTest::newRow("a text for a number")
            << QByteArray(R"({"accessType": "3", "proxy": "x", "bypass": ""})");
        QTest::newRow("a fraction")
            << QByteArray(R"({"accessType": 2.5, "proxy": "x", "bypass": ""})");
        QTest::newRow("negative") << QByteArray(
            R"({"accessType": -1, "proxy": "x", "bypass": ""})");
    }

    void fileStoreReadsADamagedFileAsNothing()
    {
        QFETCH(QByteArray, contents);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("proxy.json"));
        writeAll(path, contents);
        FileProxyStore store(path, environment({s("http_proxy=h:80")}));
        QCOMPARE(store.query(), record(0, "", ""));
    }
};

QTEST_GUILESS_MAIN(TestProxy)
#include "tst_proxy.moc"

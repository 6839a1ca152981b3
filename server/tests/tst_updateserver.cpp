// The reference update server, run in-process on 127.0.0.1 and a free port, and its
// command-line program. Its defences against hostile clients are in
// tst_updateserverlimits.cpp.

#include "catalog.h"
#include "circularcatalog.h"
#include "packagesets.h"
#include "updateserver.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <zip.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

struct Answer {
    int status = 0;
    QByteArray body;
    QByteArray type;
    QByteArray location;
    QByteArray disposition;
    QUrl finalUrl;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
};

// The text of the page's first <label>, with the HTML character references it may hold
// turned back into characters; a null text when the page has no label.
QString firstLabelText(const QByteArray &page)
{
    const QString html = QString::fromUtf8(page);
    static const QRegularExpression label(QStringLiteral("<label\\b[^>]*>([^<]*)</label>"));
    const QRegularExpressionMatch match = label.match(html);
    if (!match.hasMatch() || html.indexOf(QLatin1String("<label")) != match.capturedStart())
        return {};
    QString text = match.captured(1);
    text.replace(QLatin1String("&lt;"), QLatin1String("<"));
    text.replace(QLatin1String("&gt;"), QLatin1String(">"));
    text.replace(QLatin1String("&quot;"), QLatin1String("\""));
    text.replace(QLatin1String("&#39;"), QLatin1String("'"));
    text.replace(QLatin1String("&amp;"), QLatin1String("&"));
    return text;
}

// The href of the page's first link (<a> or <area>), or an empty text.
QString firstLinkHref(const QByteArray &page)
{
    static const QRegularExpression link(QStringLiteral("<(a|area)\\b[^>]*\\bhref=\"([^\"]*)\""),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = link.match(QString::fromUtf8(page));
    return match.hasMatch() ? match.captured(2).replace(QLatin1String("&amp;"), QLatin1String("&"))
                            : QString();
}

// Every entry of a zip archive, name -> bytes, read back with libzip; empty when the
// archive cannot be opened.
QMap<QString, QByteArray> unzip(const QByteArray &archive)
{
    QMap<QString, QByteArray> entries;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *source =
        zip_source_buffer_create(archive.constData(), zip_uint64_t(archive.size()), 0, &error);
    if (!source)
        return entries;
    zip_t *zip = zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error);
    zip_error_fini(&error);
    if (!zip) {
        zip_source_free(source);
        return entries;
    }
    const zip_int64_t count = zip_get_num_entries(zip, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(zip, zip_uint64_t(i), 0, &stat) < 0)
            continue;
        QByteArray data(qsizetype(stat.size), Qt::Uninitialized);
        zip_file_t *file = zip_fopen_index(zip, zip_uint64_t(i), 0);
        if (!file)
            continue;
        const zip_int64_t read = zip_fread(file, data.data(), stat.size);
        zip_fclose(file);
        if (read == zip_int64_t(stat.size))
            entries.insert(QString::fromUtf8(stat.name), data);
    }
    zip_close(zip);
    return entries;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// The first link of an answer page, resolved against the page's address.
QUrl linkOf(const Answer &answer)
{
    return answer.finalUrl.resolved(QUrl(firstLinkHref(answer.body)));
}

// A percent-encoded identifier list for Numeros=...
QString encodedList(const QStringList &identifiers)
{
    QStringList encoded;
    for (const QString &identifier : identifiers)
        encoded.append(QString::fromLatin1(QUrl::toPercentEncoding(identifier)));
    return encoded.join(u',');
}

// One GET on a connection of its own to 127.0.0.1, as a client thread makes it: the status,
// the headers and the body, read until the server closes; status 0 when the exchange breaks.
// Each wait for the server is bounded.
struct Fetched {
    int status = 0;
    QByteArray headers;
    QByteArray body;

    QByteArray header(const QByteArray &name) const
    {
        for (const QByteArray &line : headers.split('\n')) {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
                return line.mid(colon + 1).trimmed();
        }
        return {};
    }
};

Fetched fetch(quint16 port, const QByteArray &target)
{
    Fetched fetched;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return fetched;
    timeval timeout{60, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const QByteArray request =
        "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    QByteArray data;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) == request.size()) {
        char buffer[65536];
        ssize_t n = 0;
        while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
            data.append(buffer, n);
    }
    ::close(fd);
    const qsizetype end = data.indexOf("\r\n\r\n");
    if (!data.startsWith("HTTP/1.1 ") || end < 0)
        return fetched;
    fetched.status = data.mid(9, 3).toInt();
    fetched.headers = data.left(end);
    fetched.body = data.mid(end + 4);
    return fetched;
}

// What a client that was refused was told: "refused: REASON" when the page names a reason,
// else what is wrong with the page.
QString refusalOf(const Fetched &reply)
{
    static const QRegularExpression named(
        QStringLiteral("No se pudo preparar el paquete de actualización \\(([^)]*)\\)"));
    const QString reason = named.match(QString::fromUtf8(reply.body)).captured(1).trimmed();
    if (reply.header("Retry-After").isEmpty() || reason.isEmpty())
        return QStringLiteral("503 without a reason: ") + QString::fromUtf8(reply.body.left(400));
    return QStringLiteral("refused: ") + reason;
}

// One honest client's round for a set, as the viewer makes it: the request, its answer
// page, its package. Empty when the package comes whole with every circular asked for;
// "refused: REASON" when a page says why it cannot be had now; else what went wrong.
QString honestRound(quint16 port, const QStringList &set,
                    const QHash<QString, QByteArray> &contents)
{
    const Fetched redirect =
        fetch(port, "/Normativa/archivoValores.asp?Numeros=" + set.join(u',').toLatin1());
    if (redirect.status != 303)
        return QStringLiteral("request answered %1").arg(redirect.status);
    const Fetched answer = fetch(port, "/Normativa/" + redirect.header("Location"));
    if (answer.status == 503)
        return refusalOf(answer);
    if (answer.status != 200)
        return QStringLiteral("answer page answered %1").arg(answer.status);
    const Fetched package = fetch(port, "/Normativa/" + firstLinkHref(answer.body).toLatin1());
    if (package.status == 503)
        return refusalOf(package);
    if (package.status != 200)
        return QStringLiteral("package answered %1").arg(package.status);
    if (package.header("Content-Length").toLongLong() != package.body.size())
        return QStringLiteral("package cut short");
    const QMap<QString, QByteArray> entries = unzip(package.body);
    for (const QString &identifier : set) {
        if (entries.value(QStringLiteral("circulares/%1.pdf").arg(identifier)) !=
            contents.value(identifier))
            return QStringLiteral("package without circular %1 whole").arg(identifier);
    }
    return {};
}

} // namespace

class TestUpdateServer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void listPageOffersEveryCircularInNaturalOrder();
    void listFollowsTheFolder();
    void requestLeadsToAnswerPageAndPackage();
    void samePackageForTheSameSet();
    void numbersAndLookalikesAreDistinct_data();
    void numbersAndLookalikesAreDistinct();
    void aNameWithAnotherSetIsGone_data();
    void aNameWithAnotherSetIsGone();
    void badRequestsGetAClearPage_data();
    void badRequestsGetAClearPage();
    void percentEncodedIdentifiersRoundTrip();
    void missingFolderAnswers503();
    void otherAddressesAndMethods();
    void packageLinkOutlivesOtherRequests();
    void packagesReachTheDiskWhenAskedForAgain();
    void honestClientsUnderAFloodOfLargeSets();
    void twoServersGiveTheSameAddresses();
    void aPackageKeptByAnotherServerIsServedFromItsFile();
    void changedCircularIsSeenAtOnce_data();
    void changedCircularIsSeenAtOnce();
    void removedCircularIsNotHeldOpen();
    void setsTravelInTheirAddresses();
    void redirectsNeverTakeTheHostHeader();
    void fiftyThousandCirculars();
    void circularIndexListsTitlesNewestFirst();
    void naturalOrder_data();
    void naturalOrder();
    void identifierRules();
    void baseUrlNamesTheListeningPort();
    void programReportsBadFolderAndBusyPort();
    void helpReadsAsAManualPage();
    void aSignedCatalogTravelsWithEveryPackage();
    void stopFinishesDownloadsInFlight_data();
    void stopFinishesDownloadsInFlight();

private:
    QString circular(const QString &identifier) const;
    void addCircular(const QString &fileName, const QByteArray &bytes);
    void startServer(const QString &folder);
    QUrl url(const QString &pathAndQuery) const;
    Answer get(const QUrl &url, bool followRedirects = false, const QByteArray &verb = "GET");
    Answer request(const QString &numerosQuery, bool followRedirects = false);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<UpdateServer> m_server;
    QNetworkAccessManager m_network;
};

void TestUpdateServer::initTestCase()
{
    m_network.setProxy(QNetworkProxy::NoProxy);
    m_network.setAutoDeleteReplies(false);
}

void TestUpdateServer::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    addCircular(QStringLiteral("1001.pdf"), circular(QStringLiteral("1001")).toLatin1());
    addCircular(QStringLiteral("1002.pdf"), circular(QStringLiteral("1002")).toLatin1());
    addCircular(QStringLiteral("1003.pdf"), circular(QStringLiteral("1003")).toLatin1());
    startServer(m_dir->path());
}

void TestUpdateServer::cleanup()
{
    m_server.reset();
    m_dir.reset();
}

QString TestUpdateServer::circular(const QString &identifier) const
{
    return QStringLiteral("%PDF-1.4 circular %1\n%%EOF\n").arg(identifier);
}

void TestUpdateServer::addCircular(const QString &fileName, const QByteArray &bytes)
{
    QVERIFY(writeFile(QDir(m_dir->path()).filePath(fileName), bytes));
}

void TestUpdateServer::startServer(const QString &folder)
{
    m_server = std::make_unique<UpdateServer>(folder);
    QVERIFY2(m_server->listen(QHostAddress(QHostAddress::LocalHost), 0),
             qPrintable(m_server->errorString()));
    QVERIFY(m_server->serverPort() != 0);
}

QUrl TestUpdateServer::url(const QString &pathAndQuery) const
{
    return QUrl(m_server->baseUrl().toString() + pathAndQuery, QUrl::StrictMode);
}

Answer TestUpdateServer::get(const QUrl &url, bool followRedirects, const QByteArray &verb)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         followRedirects ? QNetworkRequest::NoLessSafeRedirectPolicy
                                         : QNetworkRequest::ManualRedirectPolicy);
    std::unique_ptr<QNetworkReply> reply(
        verb == "HEAD" ? m_network.head(request) : m_network.sendCustomRequest(request, verb));
    Answer answer;
    if (!reply->isFinished()) {
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        if (!finished.wait(60000)) {
            answer.error = QNetworkReply::TimeoutError;
            return answer;
        }
    }
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.body = reply->readAll();
    answer.type = reply->rawHeader("Content-Type");
    answer.location = reply->rawHeader("Location");
    answer.disposition = reply->rawHeader("Content-Disposition");
    answer.finalUrl = reply->url();
    answer.error = reply->error();
    return answer;
}

Answer TestUpdateServer::request(const QString &numerosQuery, bool followRedirects)
{
    return get(url(QStringLiteral("archivoValores.asp") + numerosQuery), followRedirects);
}

void TestUpdateServer::listPageOffersEveryCircularInNaturalOrder()
{
    addCircular(QStringLiteral("9.pdf"), "nine");
    addCircular(QStringLiteral("10.PDF"), "ten, upper-case extension");
    addCircular(QStringLiteral("notes.txt"), "not a circular");
    addCircular(QStringLiteral(".hidden.pdf"), "hidden");
    addCircular(QStringLiteral("1001.pdf.bak"), "not a circular");
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("folder.pdf")));

    const Answer page = get(url(QStringLiteral("actualizacionesValores.asp")));
    QCOMPARE(page.status, 200);
    QVERIFY(page.type.startsWith("text/html"));
    QVERIFY(page.type.contains("utf-8"));
    QVERIFY(page.body.startsWith("<!DOCTYPE html>"));
    QVERIFY(page.body.contains("lang=\"es\""));
    QCOMPARE(firstLabelText(page.body), QStringLiteral("9,10,1001,1002,1003"));
    QCOMPARE(page.body.count("<label"), 1);

    // Addresses are matched without regard to letter case, as on the regulator's server.
    const Answer lower = get(url(QStringLiteral("ACTUALIZACIONESVALORES.ASP")));
    QCOMPARE(lower.status, 200);
    QCOMPARE(firstLabelText(lower.body), QStringLiteral("9,10,1001,1002,1003"));
}

void TestUpdateServer::listFollowsTheFolder()
{
    QCOMPARE(firstLabelText(get(url(QStringLiteral("actualizacionesValores.asp"))).body),
             QStringLiteral("1001,1002,1003"));
    addCircular(QStringLiteral("1004.pdf"), "new");
    QVERIFY(QFile::remove(QDir(m_dir->path()).filePath(QStringLiteral("1001.pdf"))));
    QCOMPARE(firstLabelText(get(url(QStringLiteral("actualizacionesValores.asp"))).body),
             QStringLiteral("1002,1003,1004"));
    QCOMPARE(request(QStringLiteral("?Numeros=1004")).status, 303);
    QCOMPARE(request(QStringLiteral("?Numeros=1001")).status, 404);

    // An empty folder offers nothing: the label is there and empty.
    for (const QString &name : QDir(m_dir->path()).entryList(QDir::Files))
        QVERIFY(QFile::remove(QDir(m_dir->path()).filePath(name)));
    const Answer empty = get(url(QStringLiteral("actualizacionesValores.asp")));
    QCOMPARE(empty.status, 200);
    QVERIFY(empty.body.contains("<label"));
    QCOMPARE(firstLabelText(empty.body), QString(u""_qs));
}

void TestUpdateServer::requestLeadsToAnswerPageAndPackage()
{
    // Without following: a redirect to the answer page.
    const Answer redirect = request(QStringLiteral("?Numeros=1001,1003"));
    QVERIFY(redirect.status == 302 || redirect.status == 303);
    const QUrl answerUrl = redirect.finalUrl.resolved(QUrl(QString::fromUtf8(redirect.location)));
    QVERIFY2(answerUrl.toString().contains(QLatin1String("archivo.asp")),
             redirect.location.constData());
    QVERIFY(!answerUrl.toString().contains(QLatin1String("archivoValores.asp")));

    // Followed, as the browser does: the answer page, whose first link is the package.
    const Answer answer = request(QStringLiteral("?Numeros=1001,1003"), true);
    QCOMPARE(answer.status, 200);
    QVERIFY(answer.finalUrl.toString().contains(QLatin1String("archivo.asp")));
    QCOMPARE(answer.finalUrl, answerUrl);
    QVERIFY(answer.type.startsWith("text/html"));
    QVERIFY(answer.body.contains("lang=\"es\""));
    // Relative, so that it follows whatever address the client used.
    QVERIFY(!firstLinkHref(answer.body).contains(QLatin1String("://")));
    QVERIFY(!redirect.location.contains("://"));
    const QUrl packageUrl = answer.finalUrl.resolved(QUrl(firstLinkHref(answer.body)));
    QCOMPARE(packageUrl.host(), QStringLiteral("127.0.0.1"));
    QCOMPARE(packageUrl.port(), int(m_server->serverPort()));
    QVERIFY(packageUrl.path().startsWith(QLatin1String("/Normativa/paquetes/")));
    QVERIFY(packageUrl.path().endsWith(QLatin1String(".zip")));

    const Answer package = get(packageUrl);
    QCOMPARE(package.status, 200);
    QCOMPARE(package.type, QByteArray("application/zip"));
    const QString fileName = packageUrl.fileName();
    QCOMPARE(package.disposition, "attachment; filename=\"" + fileName.toLatin1() + "\"");
    const QMap<QString, QByteArray> entries = unzip(package.body);
    QCOMPARE(entries.keys(), (QStringList{QStringLiteral("circulares/1001.pdf"),
                                          QStringLiteral("circulares/1003.pdf"),
                                          QStringLiteral("pagina/circulares.htm")}));
    QCOMPARE(entries.value(QStringLiteral("circulares/1001.pdf")),
             circular(QStringLiteral("1001")).toLatin1());
    QCOMPARE(entries.value(QStringLiteral("circulares/1003.pdf")),
             circular(QStringLiteral("1003")).toLatin1());
    // The index lists every circular served, not only those asked for, newest first.
    const QString index = QString::fromUtf8(entries.value(QStringLiteral("pagina/circulares.htm")));
    QVERIFY(index.contains(QLatin1String("<meta charset=\"utf-8\">")));
    const qsizetype at1003 = index.indexOf(QLatin1String("href=\"../circulares/1003.pdf\""));
    const qsizetype at1002 = index.indexOf(QLatin1String("href=\"../circulares/1002.pdf\""));
    const qsizetype at1001 = index.indexOf(QLatin1String("href=\"../circulares/1001.pdf\""));
    QVERIFY(at1003 > 0 && at1003 < at1002 && at1002 < at1001);

    // HEAD gets the headers and no body.
    const Answer head = get(packageUrl, false, "HEAD");
    QCOMPARE(head.status, 200);
    QCOMPARE(head.type, QByteArray("application/zip"));
    QVERIFY(head.body.isEmpty());
}

void TestUpdateServer::samePackageForTheSameSet()
{
    const QByteArray first = request(QStringLiteral("?Numeros=1001,1003")).location;
    QVERIFY(!first.isEmpty());
    QCOMPARE(request(QStringLiteral("?Numeros=1003,1001")).location, first);
    QCOMPARE(request(QStringLiteral("?Numeros=1003,1001,1003,")).location, first);
    QVERIFY(request(QStringLiteral("?Numeros=1001")).location != first);
    QVERIFY(request(QStringLiteral("?Numeros=1001,1002,1003")).location != first);

    // A changed file makes a new package with the new contents.
    QTest::qWait(20);
    addCircular(QStringLiteral("1003.pdf"), "changed, and longer than before");
    const Answer changed = request(QStringLiteral("?Numeros=1001,1003"), true);
    QCOMPARE(changed.status, 200);
    QVERIFY(changed.finalUrl.toString().toUtf8() != first);
    const QMap<QString, QByteArray> entries = unzip(get(linkOf(changed)).body);
    QCOMPARE(entries.value(QStringLiteral("circulares/1003.pdf")),
             QByteArray("changed, and longer than before"));
}

// Identifiers that read as the same number are different circulars: each request gets the
// files it names, and one the folder lacks is unknown.
void TestUpdateServer::numbersAndLookalikesAreDistinct_data()
{
    QTest::addColumn<QString>("asked");
    QTest::addColumn<QStringList>("files"); // in the package, or empty for a 404

    QTest::newRow("number") << u"7"_qs << QStringList{u"7"_qs};
    QTest::newRow("leading zero") << u"07"_qs << QStringList{u"07"_qs};
    QTest::newRow("both") << u"07,7"_qs << QStringList{u"7"_qs, u"07"_qs};
    QTest::newRow("another leading zero") << u"007"_qs << QStringList{};
}

void TestUpdateServer::numbersAndLookalikesAreDistinct()
{
    QFETCH(QString, asked);
    QFETCH(QStringList, files);

    for (const QString &identifier : {u"7"_qs, u"07"_qs})
        addCircular(identifier + u".pdf"_qs, circular(identifier).toLatin1());
    const Answer answer = request(u"?Numeros="_qs + asked, true);
    QCOMPARE(answer.status, files.isEmpty() ? 404 : 200);
    if (files.isEmpty())
        return;
    const QMap<QString, QByteArray> entries = unzip(get(linkOf(answer)).body);
    QCOMPARE(entries.size(), files.size() + 1); // and the index
    for (const QString &identifier : std::as_const(files))
        QCOMPARE(entries.value(u"circulares/"_qs + identifier + u".pdf"_qs),
                 circular(identifier).toLatin1());
}

// A package offered is found again by its name: an address that pairs that name with the
// code of another set names no package, and never gets the offered one.
void TestUpdateServer::aNameWithAnotherSetIsGone_data()
{
    QTest::addColumn<bool>("package"); // the package's address, else its answer page's

    QTest::newRow("answer page") << false;
    QTest::newRow("package") << true;
}

void TestUpdateServer::aNameWithAnotherSetIsGone()
{
    QFETCH(bool, package);

    const Answer offered = request(QStringLiteral("?Numeros=1001,1003"), true);
    const Answer other = request(QStringLiteral("?Numeros=1002"), true);
    QCOMPARE(offered.status, 200);
    QCOMPARE(other.status, 200);
    // paquetes/SET/actualizacion-NAME.zip
    QStringList path = linkOf(offered).path().split(u'/');
    const QString otherSet = linkOf(other).path().split(u'/').at(path.size() - 2);
    const QString name = path.last().mid(QStringLiteral("actualizacion-").size(), 32);
    QUrl mixed = offered.finalUrl;
    if (package) {
        path[path.size() - 2] = otherSet;
        mixed = linkOf(offered);
        mixed.setPath(path.join(u'/'));
    } else {
        mixed.setQuery(QStringLiteral("paquete=%1-%2").arg(name, otherSet));
    }
    QCOMPARE(get(mixed).status, 404);
    QCOMPARE(get(package ? linkOf(offered) : offered.finalUrl).status, 200);
}

void TestUpdateServer::badRequestsGetAClearPage_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("named"); // what the page must name

    QTest::newRow("unknown") << u"?Numeros=1001,9999"_qs << 404 << u"9999"_qs;
    QTest::newRow("several unknown") << u"?Numeros=7777,8888"_qs << 404 << u"7777, 8888"_qs;
    QTest::newRow("case differs") << u"?Numeros=X1001"_qs << 404 << u"X1001"_qs;
    QTest::newRow("parent folder") << u"?Numeros=../x"_qs << 400 << u"../x"_qs;
    QTest::newRow("parent folder, encoded") << u"?Numeros=..%2Fx"_qs << 400 << u"../x"_qs;
    QTest::newRow("dot dot") << u"?Numeros=.."_qs << 400 << u"«..»"_qs;
    QTest::newRow("path") << u"?Numeros=a%2F1001"_qs << 400 << u"a/1001"_qs;
    QTest::newRow("backslash") << u"?Numeros=..%5C1001"_qs << 400 << u"..\\1001"_qs;
    QTest::newRow("nul") << u"?Numeros=1001%00"_qs << 400 << u"1001%00"_qs;
    QTest::newRow("not utf-8") << u"?Numeros=%C3"_qs << 400 << u"UTF-8"_qs;
    QTest::newRow("empty") << u"?Numeros="_qs << 400 << u"Numeros"_qs;
    QTest::newRow("only commas") << u"?Numeros=,,"_qs << 400 << u"Numeros"_qs;
    QTest::newRow("missing") << u""_qs << 400 << u"Numeros"_qs;
    QTest::newRow("other parameter") << u"?Numero=1001"_qs << 400 << u"Numeros"_qs;
    QTest::newRow("many unknown") << (u"?Numeros="_qs +
                                      QStringList(20000, u"424242"_qs).join(u',') + u",1"_qs)
                                  << 404 << u"424242, 1"_qs;
}

void TestUpdateServer::badRequestsGetAClearPage()
{
    QFETCH(QString, query);
    QFETCH(int, status);
    QFETCH(QString, named);

    const Answer answer = request(query);
    QCOMPARE(answer.status, status);
    QVERIFY(answer.location.isEmpty());
    QVERIFY(answer.type.startsWith("text/html"));
    QVERIFY(answer.body.contains("lang=\"es\""));
    const QString page = QString::fromUtf8(answer.body);
    QVERIFY2(page.contains(named.toHtmlEscaped()), qPrintable(page));
    // The server is still there for the next request.
    QCOMPARE(request(QStringLiteral("?Numeros=1002")).status, 303);
}

void TestUpdateServer::percentEncodedIdentifiersRoundTrip()
{
    const QStringList odd = {u"A&B"_qs, u"año 2024"_qs, u"50%"_qs, u"x+y"_qs, u"#7"_qs, u"<b>"_qs};
    for (const QString &identifier : odd)
        addCircular(identifier + u".pdf"_qs, identifier.toUtf8());

    const Answer list = get(url(QStringLiteral("actualizacionesValores.asp")));
    const QStringList offered = firstLabelText(list.body).split(u',');
    for (const QString &identifier : odd)
        QVERIFY2(offered.contains(identifier), qPrintable(identifier));

    const Answer answer = request(u"?Numeros="_qs + encodedList(odd), true);
    QCOMPARE(answer.status, 200);
    QVERIFY(answer.finalUrl.toString().contains(QLatin1String("archivo.asp")));
    const QMap<QString, QByteArray> entries = unzip(get(linkOf(answer)).body);
    QCOMPARE(entries.size(), odd.size() + 1);
    for (const QString &identifier : odd) {
        QCOMPARE(entries.value(u"circulares/"_qs + identifier + u".pdf"_qs), identifier.toUtf8());
    }

    // "+" is taken as it stands, not as a space.
    QCOMPARE(request(QStringLiteral("?Numeros=x+y")).status, 303);
    QCOMPARE(request(QStringLiteral("?Numeros=a%C3%B1o+2024")).status, 404);
    // An "&" left unencoded ends the list there: "A" is unknown.
    QCOMPARE(request(QStringLiteral("?Numeros=A&B")).status, 404);
}

void TestUpdateServer::missingFolderAnswers503()
{
    const QString folder = m_dir->path();
    const Answer before = request(QStringLiteral("?Numeros=1002"), true);
    QCOMPARE(before.status, 200);
    const QUrl packageUrl = linkOf(before);

    QVERIFY(m_dir->remove());
    const Answer list = get(url(QStringLiteral("actualizacionesValores.asp")));
    QCOMPARE(list.status, 503);
    QVERIFY(list.body.contains("lang=\"es\""));
    QVERIFY(QString::fromUtf8(list.body).contains(QStringLiteral("no está disponible")));
    QCOMPARE(request(QStringLiteral("?Numeros=1002")).status, 503);
    // A package is sent from the circulars: not while they are away, and never cut short.
    const Answer package = get(packageUrl);
    QCOMPARE(package.status, 503);
    QVERIFY(QString::fromUtf8(package.body).contains(QStringLiteral("no está disponible")));

    // Back again: served again.
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(writeFile(QDir(folder).filePath(QStringLiteral("2001.pdf")), "again"));
    const Answer again = get(url(QStringLiteral("actualizacionesValores.asp")));
    QCOMPARE(again.status, 200);
    QCOMPARE(firstLabelText(again.body), QStringLiteral("2001"));
    QVERIFY(QDir(folder).removeRecursively());

    // A server started on a folder that is not there.
    startServer(folder + QStringLiteral("/absent"));
    QCOMPARE(get(url(QStringLiteral("actualizacionesValores.asp"))).status, 503);
}

void TestUpdateServer::otherAddressesAndMethods()
{
    const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(m_server->serverPort());
    for (const QString &path :
         {u"/"_qs, u"/Normativa/"_qs, u"/Normativa/otra.asp"_qs, u"/actualizacionesValores.asp"_qs,
          u"/Normativa/paquetes/actualizacion-0123456789abcdef.zip"_qs, u"/Normativa/paquetes/"_qs,
          u"/Normativa/archivo.asp?paquete=0123456789abcdef"_qs, u"/Normativa/../Normativa/x"_qs}) {
        const Answer answer = get(QUrl(origin + path));
        QVERIFY2(answer.status == 404, qPrintable(path));
        QVERIFY(answer.body.contains("lang=\"es\""));
    }
    QCOMPARE(get(url(QStringLiteral("archivo.asp"))).status, 400);

    for (const QByteArray &verb : {QByteArray("POST"), QByteArray("PUT"), QByteArray("DELETE")}) {
        const Answer answer = get(url(QStringLiteral("actualizacionesValores.asp")), false, verb);
        QCOMPARE(answer.status, 405);
        QVERIFY(answer.body.contains("GET"));
    }
    const Answer head = get(url(QStringLiteral("actualizacionesValores.asp")), false, "HEAD");
    QCOMPARE(head.status, 200);
    QVERIFY(head.body.isEmpty());
    // The server answers on after the HEAD, on the same connection.
    QCOMPARE(get(url(QStringLiteral("actualizacionesValores.asp"))).status, 200);
}

void TestUpdateServer::packageLinkOutlivesOtherRequests()
{
    for (int i = 1; i <= 40; ++i)
        addCircular(QStringLiteral("%1.pdf").arg(2000 + i),
                    circular(QString::number(2000 + i)).toLatin1());
    // A cache folder of one byte, whose packages may go as soon as they are built.
    UpdateServerOptions options;
    options.cacheBytes = 1;
    options.cacheKeepSeconds = 0;
    m_server = std::make_unique<UpdateServer>(m_dir->path(), options);
    QVERIFY(m_server->listen());

    const Answer first = request(QStringLiteral("?Numeros=1001,2005"), true);
    QCOMPARE(first.status, 200);
    const QUrl firstPackage = linkOf(first);
    QRandomGenerator random(13);
    for (int n = 0; n < 1000; ++n) {
        QStringList set;
        const int size = 1 + random.bounded(5);
        for (int k = 0; k < size; ++k)
            set.append(QString::number(2001 + random.bounded(40)));
        // Each answer page builds its package.
        QCOMPARE(request(u"?Numeros="_qs + set.join(u','), true).status, 200);
    }
    QVERIFY2(m_server->cacheFolder().isEmpty() ||
                 QDir(m_server->cacheFolder()).entryList(QDir::Files).size() < 50,
             "the cache is not trimmed");

    // The answer page and the package are there still: built again on demand.
    const Answer again = get(first.finalUrl);
    QCOMPARE(again.status, 200);
    QCOMPARE(linkOf(again), firstPackage);
    const QMap<QString, QByteArray> entries = unzip(get(firstPackage).body);
    QCOMPARE(entries.value(QStringLiteral("circulares/2005.pdf")),
             circular(QStringLiteral("2005")).toLatin1());
    QVERIFY(entries.contains(QStringLiteral("pagina/circulares.htm")));

    // Once a file changes, the old name no longer builds: the client is told to check again.
    QVERIFY(writeFile(QDir(m_dir->path()).filePath(QStringLiteral("2005.pdf")), "changed"));
    for (int n = 0; n < 3; ++n) // pushes the old one out
        QCOMPARE(request(QStringLiteral("?Numeros=%1").arg(2030 + n), true).status, 200);
    const Answer gone = get(firstPackage);
    QCOMPARE(gone.status, 404);
    QVERIFY(QString::fromUtf8(gone.body).contains(QStringLiteral("Vuelva a revisar")));
    QCOMPARE(get(first.finalUrl).status, 404);
}

void TestUpdateServer::packagesReachTheDiskWhenAskedForAgain()
{
    const auto packagesOnDisk = [this] {
        return QDir(m_server->cacheFolder()).entryList({u"*.zip"_qs}, QDir::Files).size();
    };
    // The usual round: the answer page, then the package once. Nothing is written.
    const Answer answer = request(QStringLiteral("?Numeros=1001,1003"), true);
    QCOMPARE(answer.status, 200);
    const Answer package = get(linkOf(answer));
    QCOMPARE(package.status, 200);
    QCOMPARE(get(answer.finalUrl).status, 200);
    QCOMPARE(packagesOnDisk(), 0);
    // Fetched again (another client, a retry): kept on disk from now on, the same bytes.
    QCOMPARE(get(linkOf(answer)).body, package.body);
    QCOMPARE(packagesOnDisk(), 1);
    const Answer head = get(linkOf(answer), false, "HEAD");
    QCOMPARE(head.status, 200);
    QVERIFY(head.body.isEmpty());
}

void TestUpdateServer::honestClientsUnderAFloodOfLargeSets()
{
    // A hundred circulars of 40 KB and distinct sets of fifty: packages of 2 MB, each
    // fetched twice, so written to a cache folder of 2.5 MB (5 MB at most) that holds two.
    // Eight clients at once, each going through its sets one after another.
    constexpr int circulars = 100;
    constexpr int circularBytes = 40 * 1024;
    constexpr int setSize = 50;
    constexpr int sets = 24;
    constexpr int clients = 8;
    constexpr qint64 cacheBytes = 5 * 1024 * 1024 / 2;
    QRandomGenerator random(22);
    QHash<QString, QByteArray> contents;
    QStringList identifiers;
    for (int i = 1; i <= circulars; ++i) {
        QByteArray bytes(circularBytes, Qt::Uninitialized);
        random.fillRange(reinterpret_cast<quint32 *>(bytes.data()), circularBytes / 4);
        const QString identifier = QString::number(3000 + i);
        addCircular(identifier + u".pdf"_qs, bytes);
        contents.insert(identifier, bytes);
        identifiers.append(identifier);
    }
    QList<QStringList> wanted;
    for (int n = 0; n < sets; ++n) {
        std::shuffle(identifiers.begin(), identifiers.end(), random);
        wanted.append(identifiers.mid(0, setSize));
    }
    QTemporaryDir cache;
    UpdateServerOptions options;
    options.cacheFolder = cache.path();
    options.cacheBytes = cacheBytes;
    options.limits.workers = clients;
    m_server = std::make_unique<UpdateServer>(m_dir->path(), options);
    QVERIFY(m_server->listen());
    const quint16 port = m_server->serverPort();

    // The folder as anyone looking at it sees it, files being written included.
    std::atomic<bool> done{false};
    std::atomic<qint64> largest{0};
    std::thread watcher([&] {
        while (!done) {
            qint64 total = 0;
            for (const QFileInfo &file :
                 QDir(cache.path()).entryInfoList(QDir::Files | QDir::Hidden))
                total += file.size();
            largest = std::max<qint64>(largest, total);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::vector<QString> outcomes(sets);
    std::atomic<int> next{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&] {
            // Each set twice: a package asked for again is written to the folder.
            for (int n = next++; n < sets; n = next++) {
                QString &outcome = outcomes[std::size_t(n)];
                outcome = honestRound(port, wanted.at(n), contents);
                if (outcome.isEmpty())
                    outcome = honestRound(port, wanted.at(n), contents);
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    done = true;
    watcher.join();

    int refused = 0;
    for (const QString &outcome : outcomes) {
        QVERIFY2(outcome.isEmpty() || outcome.startsWith(u"refused: "_qs), qPrintable(outcome));
        refused += outcome.isEmpty() ? 0 : 1;
    }
    qInfo("%d of %d sets refused with a reason; the cache folder held at most %lld bytes", refused,
          sets, qint64(largest));
    QVERIFY2(largest <= 2 * cacheBytes, qPrintable(QString::number(largest)));
}

void TestUpdateServer::twoServersGiveTheSameAddresses()
{
    const Answer fromFirst = request(QStringLiteral("?Numeros=1003,1001"), true);
    QCOMPARE(fromFirst.status, 200);

    // A second server over the same folder, with a cache of its own.
    UpdateServer second(m_dir->path());
    QVERIFY(second.listen());
    QVERIFY(second.cacheFolder() != m_server->cacheFolder());
    const QUrl secondBase = second.baseUrl();
    const Answer redirect =
        get(QUrl(secondBase.toString() + u"archivoValores.asp?Numeros=1001,1003"_qs));
    QCOMPARE(redirect.status, 303);
    QCOMPARE(request(QStringLiteral("?Numeros=1001,1003")).location, redirect.location);

    // The second server builds, from its address alone, the package the first one named.
    const QString path = linkOf(fromFirst).toString(QUrl::RemoveScheme | QUrl::RemoveAuthority);
    UpdateServer third(m_dir->path());
    QVERIFY(third.listen());
    const Answer package = get(QUrl(third.baseUrl().toString(QUrl::RemovePath) + path));
    QCOMPARE(package.status, 200);
    QCOMPARE(package.body, get(linkOf(fromFirst)).body);

    // Addresses that were not made by a server are refused.
    QString tampered = path;
    const qsizetype at = tampered.indexOf(QLatin1String("actualizacion-")) + 14;
    tampered[at] = tampered.at(at) == u'0' ? u'1' : u'0';
    QCOMPARE(get(QUrl(secondBase.toString(QUrl::RemovePath) + tampered)).status, 404);
}

// Servers behind one address share a cache folder: a package one of them kept there is
// sent by the other from that very file, not built again.
void TestUpdateServer::aPackageKeptByAnotherServerIsServedFromItsFile()
{
    QTemporaryDir shared;
    UpdateServerOptions options;
    options.cacheFolder = shared.path();
    m_server = std::make_unique<UpdateServer>(m_dir->path(), options);
    QVERIFY(m_server->listen());
    UpdateServer second(m_dir->path(), options);
    QVERIFY(second.listen());

    const QUrl link = linkOf(request(QStringLiteral("?Numeros=1001,1002"), true));
    const QByteArray package = get(link).body;
    QVERIFY(!unzip(package).isEmpty());
    QCOMPARE(get(link).body, package); // asked for again: kept
    const QStringList kept = QDir(shared.path()).entryList({u"*.zip"_qs}, QDir::Files);
    QCOMPARE(kept.size(), 1);
    const QString keptPath = QDir(shared.path()).filePath(kept.first());
    const auto inodeOf = [](const QString &path) {
        struct stat info {};
        return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
    };
    const auto inode = inodeOf(keptPath);
    {
        QFile file(keptPath);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC),
                                 QFileDevice::FileModificationTime));
    }

    const Answer fromSecond = get(QUrl(second.baseUrl().toString(QUrl::RemovePath) + link.path()));
    QCOMPARE(fromSecond.status, 200);
    QCOMPARE(fromSecond.body, package);
    // The same file (a build renames a new one into place), marked as asked for.
    QCOMPARE(inodeOf(keptPath), inode);
    QVERIFY(QFileInfo(keptPath).lastModified().date().year() > 2001);
    QCOMPARE(QDir(shared.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

// A circular whose contents change, even keeping its size and time, is seen at the next
// request: the address given before is gone, a new one carries the new contents.
void TestUpdateServer::changedCircularIsSeenAtOnce_data()
{
    QTest::addColumn<bool>("byRename");
    QTest::newRow("rewritten in place") << false;
    QTest::newRow("replaced by a rename") << true;
}

void TestUpdateServer::changedCircularIsSeenAtOnce()
{
    QFETCH(bool, byRename);
    const QString path = QDir(m_dir->path()).filePath(QStringLiteral("1002.pdf"));
    const Answer before = request(QStringLiteral("?Numeros=1002"), true);
    QCOMPARE(unzip(get(linkOf(before)).body).value(QStringLiteral("circulares/1002.pdf")),
             circular(QStringLiteral("1002")).toLatin1());

    const QByteArray changed = circular(QStringLiteral("1002")).toUpper().toLatin1();
    const QDateTime modified = QFileInfo(path).lastModified();
    const QString written =
        byRename ? QDir(m_dir->path()).filePath(QStringLiteral(".nueva.tmp")) : path;
    QVERIFY(writeFile(written, changed));
    {
        QFile file(written);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
    }
    if (byRename)
        QVERIFY(::rename(QFile::encodeName(written).constData(),
                         QFile::encodeName(path).constData()) == 0);

    QCOMPARE(get(linkOf(before)).status, 404);
    const Answer after = request(QStringLiteral("?Numeros=1002"), true);
    QCOMPARE(after.status, 200);
    QVERIFY(linkOf(after) != linkOf(before));
    QCOMPARE(unzip(get(linkOf(after)).body).value(QStringLiteral("circulares/1002.pdf")), changed);
}

// The files this process holds open whose names are gone from the folder.
static QStringList heldDeleted(const QString &folder)
{
    QStringList held;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::Files | QDir::System)) {
        const QString target = QFile::symLinkTarget(fds.filePath(fd));
        if (target.startsWith(folder) && target.endsWith(QLatin1String(" (deleted)")))
            held.append(target);
    }
    return held;
}

void TestUpdateServer::removedCircularIsNotHeldOpen()
{
    const Answer before = request(QStringLiteral("?Numeros=1002"), true);
    QCOMPARE(get(linkOf(before)).status, 200);
    QVERIFY(QFile::remove(QDir(m_dir->path()).filePath(QStringLiteral("1002.pdf"))));
    QTRY_VERIFY_WITH_TIMEOUT(
        (request(QStringLiteral("?Numeros=1001"), true), heldDeleted(m_dir->path()).isEmpty()),
        5000);
}

void TestUpdateServer::setsTravelInTheirAddresses()
{
    const QList<QStringList> sets = {
        {u"1"_qs},
        {u"7"_qs, u"10"_qs, u"1001"_qs, u"999999999999999999"_qs},
        {u"0"_qs, u"5"_qs},
        {u"07"_qs},
        {u"9"_qs, u"10"_qs, u"A&B"_qs, u"año 2024"_qs},
    };
    for (const QStringList &set : sets) {
        const QString code = PackageSets::encode(set);
        QVERIFY2(QRegularExpression(QStringLiteral("^[A-Za-z0-9_-]+$")).match(code).hasMatch(),
                 qPrintable(code));
        QStringList back;
        QVERIFY2(PackageSets::decode(code, set.size(), &back), qPrintable(code));
        QCOMPARE(back, set);
    }
    QStringList out;
    for (const QString &bad : {u""_qs, u"n"_qs, u"x"_qs, u"n!!"_qs, u"nAA"_qs, u"n_____w"_qs,
                               PackageSets::encode({u"2"_qs}) + u"A"_qs,
                               u"t"_qs + QString::fromLatin1(QByteArray("b,a").toBase64()),
                               u"t"_qs + QString::fromLatin1(QByteArray("../x").toBase64()),
                               u"t"_qs + QString::fromLatin1(QByteArray("1,2").toBase64())})
        QVERIFY2(!PackageSets::decode(bad, 1000, &out), qPrintable(bad));
    // A set larger than the caller allows is refused, however short its code.
    QStringList many;
    for (int n = 1; n <= 100000; ++n)
        many.append(QString::number(n));
    const QString manyCode = PackageSets::encode(many);
    QVERIFY(manyCode.size() < 10);
    QVERIFY(PackageSets::decode(manyCode, 100000, &out));
    QVERIFY(!PackageSets::decode(manyCode, 99999, &out));
    QVERIFY(!PackageSets::decode(PackageSets::encode({u"a"_qs, u"b"_qs}), 1, &out));
}

void TestUpdateServer::redirectsNeverTakeTheHostHeader()
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_server->serverPort());
    QVERIFY(socket.waitForConnected(5000));
    socket.write("GET /Normativa/archivoValores.asp?Numeros=1002 HTTP/1.1\r\n"
                 "Host: evil.example:666\r\nX-Forwarded-Host: evil.example\r\n\r\n");
    QByteArray reply;
    while (!reply.contains("\r\n\r\n") && socket.waitForReadyRead(5000))
        reply += socket.readAll();
    QVERIFY(reply.startsWith("HTTP/1.1 303"));
    QVERIFY(reply.contains("\r\nLocation: archivo.asp?paquete="));
    QVERIFY(!reply.contains("evil"));

    // With a public address, redirects and links are built from it.
    UpdateServerOptions options;
    options.publicUrl = QUrl(QStringLiteral("https://normativa.example.org/"));
    UpdateServer server(m_dir->path(), options);
    QVERIFY(server.listen());
    const Answer redirect =
        get(QUrl(server.baseUrl().toString() + u"archivoValores.asp?Numeros=1002"_qs));
    QCOMPARE(redirect.status, 303);
    QVERIFY2(redirect.location.startsWith(
                 "https://normativa.example.org/Normativa/archivo.asp?paquete="),
             redirect.location.constData());
    const QUrl publicAnswer(QString::fromUtf8(redirect.location));
    const Answer answer = get(QUrl(server.baseUrl().toString(QUrl::RemovePath) +
                                   publicAnswer.path() + u"?"_qs + publicAnswer.query()));
    QCOMPARE(answer.status, 200);
    QVERIFY(firstLinkHref(answer.body)
                .startsWith(QLatin1String("https://normativa.example.org/Normativa/paquetes/")));
}

void TestUpdateServer::fiftyThousandCirculars()
{
    constexpr int count = 50000;
    QTemporaryDir big;
    QVERIFY(big.isValid());
    QElapsedTimer timer;
    timer.start();
    for (int i = count; i >= 1; --i) {
        QFile file(big.filePath(QString::number(i) + u".pdf"_qs));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    qInfo("made %d empty circulars in %lld ms", count, timer.elapsed());
    startServer(big.path());

    timer.restart();
    const Answer first = get(url(QStringLiteral("actualizacionesValores.asp")));
    const qint64 firstMs = timer.elapsed();
    QCOMPARE(first.status, 200);
    const QStringList offered = firstLabelText(first.body).split(u',');
    QCOMPARE(offered.size(), count);
    QCOMPARE(offered.constFirst(), QStringLiteral("1"));
    QCOMPARE(offered.at(9), QStringLiteral("10"));
    QCOMPARE(offered.constLast(), QString::number(count));

    // A folder changed within a moment of its listing is listed again; let it settle so
    // that the next requests are answered from the listing kept.
    QTest::qWait(2100);
    get(url(QStringLiteral("actualizacionesValores.asp")));
    timer.restart();
    constexpr int rounds = 10;
    for (int i = 0; i < rounds; ++i)
        QCOMPARE(get(url(QStringLiteral("actualizacionesValores.asp"))).status, 200);
    const qint64 keptMs = timer.elapsed() / rounds;
    qInfo("list page of %d circulars: %lld ms when listing the folder, %lld ms from the "
          "listing kept",
          count, firstMs, keptMs);

    // One request naming every circular.
    QStringList all;
    for (int i = 1; i <= count; ++i)
        all.append(QString::number(i));
    timer.restart();
    const Answer answer = request(u"?Numeros="_qs + all.join(u','), true);
    QCOMPARE(answer.status, 200);
    const Answer package = get(linkOf(answer));
    QCOMPARE(package.status, 200);
    qInfo("package of %d circulars requested and fetched in %lld ms", count, timer.elapsed());
    const QMap<QString, QByteArray> entries = unzip(package.body);
    QCOMPARE(entries.size(), count + 1);
    QVERIFY(entries.contains(QStringLiteral("circulares/50000.pdf")));
}

void TestUpdateServer::circularIndexListsTitlesNewestFirst()
{
    const QByteArray page = circularIndexPage({{u"9"_qs, u"Circular 9: Nueve"_qs},
                                               {u"1001a"_qs, QString()},
                                               {u"10"_qs, u"Tarifas <2025> & \"otras\""_qs}});
    const QString html = QString::fromUtf8(page);
    QVERIFY(html.contains(QLatin1String("<meta charset=\"utf-8\">")));
    QVERIFY(html.contains(QLatin1String("<title>Circulares</title>")));
    QVERIFY(html.contains(QLatin1String("href=\"estilo.css\"")));
    // Highest number first; titles escaped; a leading "Circular N:" is not said twice.
    const qsizetype a = html.indexOf(QLatin1String("../circulares/1001a.pdf"));
    const qsizetype b = html.indexOf(QLatin1String("../circulares/10.pdf"));
    const qsizetype c = html.indexOf(QLatin1String("../circulares/9.pdf"));
    QVERIFY(a > 0 && a < b && b < c);
    QVERIFY(html.contains(QLatin1String("Tarifas &lt;2025&gt; &amp; &quot;otras&quot;")));
    QVERIFY(html.contains(QLatin1String(">Nueve<")));
    QVERIFY(html.contains(QLatin1String(">Circular 1001a<")));

    // Titles come from the PDF itself; broken or foreign files give none and no crash.
    QCOMPARE(pdfTitle(QStringLiteral(DEMO_CIRCULAR)),
             QStringLiteral("Circular 1001: Registro de emisores de valores electrónicos"));
    QFile demo(QStringLiteral(DEMO_CIRCULAR));
    QVERIFY(demo.open(QIODevice::ReadOnly));
    const QByteArray pdf = demo.readAll();
    const QString broken = m_dir->filePath(u"broken.bin"_qs);
    for (const QByteArray &bytes : {pdf.left(pdf.size() / 2), pdf.mid(64),
                                    QByteArray("%PDF-1.7\n") + QByteArray(5000, '\xff'),
                                    QByteArray("%PDF-"), QByteArray(), QByteArray("not a pdf")}) {
        QVERIFY(writeFile(broken, bytes));
        QVERIFY(pdfTitle(broken).size() < 400);
    }
    QVERIFY(pdfTitle(m_dir->filePath(u"absent.pdf"_qs)).isEmpty());
}

// Each row's first identifier sorts strictly before its second; the list page, the index and
// the set codes all rely on one strict order.
void TestUpdateServer::naturalOrder_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::newRow("by value, not by text") << u"9"_qs << u"10"_qs;
    QTest::newRow("a suffix after the number") << u"1001"_qs << u"1001a"_qs;
    QTest::newRow("numbers inside text") << u"a2"_qs << u"a10"_qs;
    QTest::newRow("letter case") << u"A"_qs << u"a"_qs;
    QTest::newRow("leading zeros, same value") << u"007"_qs << u"7"_qs;
    QTest::newRow("leading zero, larger value") << u"7"_qs << u"08"_qs;
    QTest::newRow("beyond 64 bits") << u"99999999999999999999"_qs << u"100000000000000000000"_qs;
    QTest::newRow("empty") << u""_qs << u"0"_qs;
}

void TestUpdateServer::naturalOrder()
{
    QFETCH(QString, before);
    QFETCH(QString, after);
    QVERIFY(CircularCatalog::naturalLess(before, after));
    QVERIFY(!CircularCatalog::naturalLess(after, before));
    QVERIFY(!CircularCatalog::naturalLess(before, before));
}

void TestUpdateServer::identifierRules()
{
    for (const QString &good : {u"1001"_qs, u"A&B"_qs, u"año 2024"_qs, u"50%"_qs, u"a.b"_qs})
        QVERIFY2(CircularCatalog::isValidIdentifier(good), qPrintable(good));
    for (const QString &bad :
         {u""_qs, u"."_qs, u".."_qs, u".x"_qs, u"a..b"_qs, u"../x"_qs, u"a/b"_qs, u"a\\b"_qs,
          u"1,2"_qs, QString(QChar(0)), u"a\nb"_qs, u"a\tb"_qs})
        QVERIFY2(!CircularCatalog::isValidIdentifier(bad), qPrintable(bad));
}

// A busy port is refused in programReportsBadFolderAndBusyPort, through the program.
void TestUpdateServer::baseUrlNamesTheListeningPort()
{
    QCOMPARE(m_server->baseUrl(),
             QUrl(QStringLiteral("http://127.0.0.1:%1/Normativa/").arg(m_server->serverPort())));
}

void TestUpdateServer::programReportsBadFolderAndBusyPort()
{
    const QString program = QStringLiteral(UPDATE_SERVER_PROGRAM);

    QProcess missing;
    missing.start(program, {QStringLiteral("--circulars"), m_dir->filePath(u"absent"_qs),
                            QStringLiteral("--port"), QStringLiteral("0")});
    QVERIFY(missing.waitForFinished(30000));
    QVERIFY(missing.exitCode() != 0);
    QVERIFY2(missing.readAllStandardError().contains("does not exist"), "no clear message");

    QProcess busy;
    busy.start(program, {QStringLiteral("--circulars"), m_dir->path(), QStringLiteral("--port"),
                         QString::number(m_server->serverPort())});
    QVERIFY(busy.waitForFinished(30000));
    QVERIFY(busy.exitCode() != 0);
    QVERIFY2(busy.readAllStandardError().contains("cannot listen"), "no clear message");

    QProcess help;
    help.start(program, {QStringLiteral("--help")});
    QVERIFY(help.waitForFinished(30000));
    const QByteArray helpText = help.readAllStandardOutput();
    for (const char *option : {"--circulars", "--bind", "--port", "--public-url", "--cache",
                               "--max-connections", "--request-timeout", "--idle-timeout"})
        QVERIFY2(helpText.contains(option), option);

    QProcess badPort;
    badPort.start(program, {QStringLiteral("--circulars"), m_dir->path(), QStringLiteral("--port"),
                            QStringLiteral("70000")});
    QVERIFY(badPort.waitForFinished(30000));
    QVERIFY(badPort.exitCode() != 0);

    // Started well, it serves the list page until it is stopped.
    QProcess good;
    good.start(program, {QStringLiteral("--circulars"), m_dir->path(), QStringLiteral("--port"),
                         QStringLiteral("0")});
    QVERIFY(good.waitForStarted(30000));
    QByteArray out;
    QElapsedTimer timer;
    timer.start();
    while (!out.contains('\n') && timer.elapsed() < 30000) {
        good.waitForReadyRead(1000);
        out += good.readAllStandardOutput();
    }
    const QRegularExpression base(QStringLiteral("http://127\\.0\\.0\\.1:(\\d+)/Normativa/"));
    const QRegularExpressionMatch match = base.match(QString::fromUtf8(out));
    QVERIFY2(match.hasMatch(), out.constData());
    const Answer list = get(QUrl(match.captured(0) + u"actualizacionesValores.asp"_qs));
    QCOMPARE(list.status, 200);
    QCOMPARE(firstLabelText(list.body), QStringLiteral("1001,1002,1003"));
    // One line per request: time, address, method, address asked for, status, bytes, ms.
    out.clear();
    timer.restart();
    while (!out.contains("actualizacionesValores.asp") && timer.elapsed() < 30000) {
        good.waitForReadyRead(1000);
        out += good.readAllStandardOutput();
    }
    const QRegularExpression line(
        QStringLiteral(
            "\\n\\S+Z 127\\.0\\.0\\.1 GET /Normativa/actualizacionesValores\\.asp 200 %1 "
            "[0-9]+\\.[0-9]\\n")
            .arg(list.body.size()));
    QVERIFY2(line.match(QString::fromUtf8(u"\n"_qs.toUtf8() + out)).hasMatch(), out.constData());
    good.terminate();
    QVERIFY(good.waitForFinished(30000));
}

// The help is the server's manual: the sections of a manual page in their order, every
// option with its default, and nothing wider than an 80-column terminal.
void TestUpdateServer::helpReadsAsAManualPage()
{
    QProcess help;
    help.start(QStringLiteral(UPDATE_SERVER_PROGRAM), {QStringLiteral("--help")});
    QVERIFY(help.waitForFinished(30000));
    QCOMPARE(help.exitStatus(), QProcess::NormalExit);
    QCOMPARE(help.exitCode(), 0);
    const QString text = u'\n' + QString::fromUtf8(help.readAllStandardOutput());

    qsizetype at = 0;
    for (const char *heading :
         {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "FILES", "EXIT STATUS", "EXAMPLES"}) {
        at = text.indexOf(u'\n' + QLatin1String(heading) + u'\n', at);
        QVERIFY2(at >= 0, heading);
    }
    for (const QString &line : text.split(u'\n'))
        QVERIFY2(line.size() < 80, qPrintable(line));

    // Each option is a line of its own, indented by four, with its text below it.
    const qsizetype options = text.indexOf(u"\nOPTIONS\n"_qs);
    const QString section =
        text.mid(options + 9, text.indexOf(u"\n\n"_qs, options + 9) - (options + 9));
    const QStringList entries =
        section.split(QRegularExpression(QStringLiteral("\n(?=    -)")), Qt::SkipEmptyParts);
    QVERIFY2(entries.size() >= 14, qPrintable(section));
    for (const QString &entry : entries) {
        const QString syntax = entry.section(u'\n', 0, 0).trimmed();
        if (syntax.startsWith(u"-h,"_qs) || syntax.startsWith(u"--write-index"_qs) ||
            syntax.startsWith(u"--write-catalog"_qs))
            continue; // actions, not settings
        QVERIFY2(entry.contains(u"default"_qs), qPrintable(entry));
    }
}

// The publisher's catalog: written by the program, served beside the circulars, carried at
// the root of every package in place of the index page, and a guard against serving
// circulars it does not describe.
void TestUpdateServer::aSignedCatalogTravelsWithEveryPackage()
{
    const QString program = QStringLiteral(UPDATE_SERVER_PROGRAM);
    const QString table = m_dir->filePath(u"../tabla.tsv"_qs);
    QVERIFY(writeFile(table, "numero\tfecha\ttitulo\tderoga\tmodifica\n"
                             "1003\t2024-05-20\tRemisi\xc3\xb3n trimestral\t1001\t1002\n"));
    QProcess write;
    write.start(program, {u"--write-catalog"_qs, m_dir->path(), u"--sequence"_qs, u"9"_qs,
                          u"--valid-until"_qs, u"2030-01-31"_qs, u"--metadata"_qs, table});
    QVERIFY(write.waitForFinished(30000));
    QCOMPARE(write.exitCode(), 0);
    QString error;
    const std::optional<Catalog> catalog = parseCatalog(write.readAllStandardOutput(), &error);
    QVERIFY2(catalog, qPrintable(error));
    QCOMPARE(catalog->sequence, 9u);
    QCOMPARE(catalog->validUntil, QDate(2030, 1, 31));
    QCOMPARE(catalog->circulars.size(), 3);
    const CatalogCircular &listed = catalog->circulars.at(2);
    QCOMPARE(listed.number, u"1003"_qs);
    QCOMPARE(listed.title, u"Remisión trimestral"_qs);
    QCOMPARE(listed.repeals, QStringList{u"1001"_qs});
    QCOMPARE(listed.amends, QStringList{u"1002"_qs});
    QCOMPARE(listed.sha256,
             QCryptographicHash::hash(circular(u"1003"_qs).toLatin1(), QCryptographicHash::Sha256)
                 .toHex());
    QVERIFY(writeFile(m_dir->filePath(u"catalogo.txt"_qs), catalog->text()));
    QVERIFY(writeFile(m_dir->filePath(u"catalogo.txt.minisig"_qs), "firma"));

    const Answer answer = request(QStringLiteral("?Numeros=1001,1003"), true);
    QCOMPARE(answer.status, 200);
    const Answer package = get(answer.finalUrl.resolved(QUrl(firstLinkHref(answer.body))));
    const QMap<QString, QByteArray> entries = unzip(package.body);
    QCOMPARE(entries.keys(), (QStringList{u"catalogo.txt"_qs, u"catalogo.txt.minisig"_qs,
                                          u"circulares/1001.pdf"_qs, u"circulares/1003.pdf"_qs}));
    QCOMPARE(entries.value(u"catalogo.txt"_qs), catalog->text());
    QCOMPARE(get(url(u"catalogo.txt.minisig"_qs)).body, QByteArray("firma"));

    // A circular the catalog does not describe keeps the program from serving.
    addCircular(QStringLiteral("1004.pdf"), circular(QStringLiteral("1004")).toLatin1());
    QProcess serve;
    serve.start(program, {u"--circulars"_qs, m_dir->path(), u"--port"_qs, u"0"_qs});
    QVERIFY(serve.waitForFinished(30000));
    QCOMPARE(serve.exitCode(), 2);
    QVERIFY2(serve.readAllStandardError().contains("circular 1004 is not in the catalog"),
             "no clear message");
}

void TestUpdateServer::stopFinishesDownloadsInFlight_data()
{
    QTest::addColumn<QString>("drainSeconds");
    QTest::addColumn<bool>("readsOn"); // the client reads the rest after the stop
    QTest::newRow("the client reads the rest") << u"60"_qs << true;
    QTest::newRow("the client stops reading") << u"1"_qs << false;
}

// SIGTERM in the middle of a download: the server stops accepting at once, sends the rest
// of the package to a client that goes on reading, and exits when that is done, or when
// the drain time is up.
void TestUpdateServer::stopFinishesDownloadsInFlight()
{
    QFETCH(QString, drainSeconds);
    QFETCH(bool, readsOn);
    // 12 MB: more than the sockets' buffers take, so that the package is still being sent
    // when the stop comes.
    QByteArray big(12 * 1024 * 1024, Qt::Uninitialized);
    QRandomGenerator(5).fillRange(reinterpret_cast<quint32 *>(big.data()), big.size() / 4);
    addCircular(u"2001.pdf"_qs, big);

    QProcess server;
    server.start(QStringLiteral(UPDATE_SERVER_PROGRAM),
                 {u"--circulars"_qs, m_dir->path(), u"--port"_qs, u"0"_qs, u"--quiet"_qs,
                  u"--drain-timeout"_qs, drainSeconds});
    QVERIFY(server.waitForStarted(30000));
    QByteArray out;
    QElapsedTimer timer;
    timer.start();
    while (!out.contains('\n') && timer.elapsed() < 30000) {
        server.waitForReadyRead(1000);
        out += server.readAllStandardOutput();
    }
    const QRegularExpressionMatch served =
        QRegularExpression(u"http://127\\.0\\.0\\.1:(\\d+)/Normativa/"_qs)
            .match(QString::fromUtf8(out));
    QVERIFY2(served.hasMatch(), out.constData());
    const quint16 port = quint16(served.captured(1).toUInt());
    const Fetched redirect = fetch(port, "/Normativa/archivoValores.asp?Numeros=2001");
    const Fetched answer = fetch(port, "/Normativa/" + redirect.header("Location"));
    QCOMPARE(answer.status, 200);

    // A client with a small receive buffer asks for the package and takes its headers.
    const auto connectTo = [port](int receiveBuffer) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (receiveBuffer > 0)
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    };
    const int client = connectTo(16 * 1024);
    QVERIFY(client >= 0);
    const auto closeClient = qScopeGuard([client] { ::close(client); });
    const QByteArray request = "GET /Normativa/" + firstLinkHref(answer.body).toLatin1() +
                               " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    QCOMPARE(::send(client, request.constData(), size_t(request.size()), MSG_NOSIGNAL),
             ssize_t(request.size()));
    // Reads what comes within the time, until the server closes when whole is set, else
    // until the headers are in; false when the server stops sending for that long.
    QByteArray received;
    const auto readFor = [client, &received](int timeoutMs, bool whole) {
        char buffer[16384];
        while (whole || !received.contains("\r\n\r\n")) {
            pollfd poller{client, POLLIN, 0};
            if (::poll(&poller, 1, timeoutMs) <= 0)
                return false;
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0)
                return n == 0;
            received.append(buffer, n);
        }
        return true;
    };
    QVERIFY(readFor(30000, false));
    QVERIFY(received.startsWith("HTTP/1.1 200"));

    server.terminate(); // SIGTERM
    // New connections are refused from the stop on; those made before it are closed by
    // this side at once.
    bool refused = false;
    timer.restart();
    while (!refused && timer.elapsed() < 30000) {
        const int probe = connectTo(0);
        refused = probe < 0;
        if (!refused) {
            ::close(probe);
            QTest::qWait(20);
        }
    }
    QVERIFY2(refused, "the server still accepts connections after SIGTERM");

    if (readsOn) {
        QVERIFY2(readFor(30000, true), "the server stopped sending");
        const qsizetype headersEnd = received.indexOf("\r\n\r\n") + 4;
        const QByteArray body = received.mid(headersEnd);
        const Fetched headers{200, received.left(headersEnd), {}};
        QCOMPARE(body.size(), headers.header("Content-Length").toLongLong());
        QCOMPARE(unzip(body).value(u"circulares/2001.pdf"_qs), big);
    }
    QVERIFY2(server.state() == QProcess::NotRunning || server.waitForFinished(60000),
             "the server did not exit");
    QCOMPARE(server.exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestUpdateServer)
#include "tst_updateserver.moc"

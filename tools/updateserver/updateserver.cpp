#include "updateserver.h"

#include "serverpages.h"

#include <QAbstractHttpServer>
#include <QCryptographicHash>
#include <QDateTime>
#include <QFileInfo>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrlQuery>

#include <algorithm>
#include <functional>
#include <utility>

// What the server sends back for one request.
struct UpdateServerReply {
    int status = 200;
    QByteArray type = QByteArrayLiteral("text/html; charset=utf-8");
    QByteArray body;
    QList<std::pair<QByteArray, QByteArray>> headers;
};

namespace {

using Reply = UpdateServerReply;

// The longest query the request page reads; longer ones are refused with 414.
constexpr qsizetype maxQueryLength = 16 * 1024 * 1024;
// How much of an address the log line shows.
constexpr qsizetype maxLoggedTarget = 200;
// How many identifiers an error page names before it only counts the rest.
constexpr int namedInErrors = 20;

const QLatin1String listName("actualizacionesValores.asp");
const QLatin1String requestName("archivoValores.asp");
const QLatin1String answerName("archivo.asp");
const QLatin1String packagePrefix("paquetes/actualizacion-");
const QLatin1String packageSuffix(".zip");

// Hands each parsed request to the update server, which answers every one of them, so the
// missing handler is never reached.
class HttpFront : public QAbstractHttpServer {
public:
    using Handler = std::function<void(const QHttpServerRequest &, QTcpSocket *)>;

    explicit HttpFront(Handler handler)
        : m_handler(std::move(handler))
    {
    }

    static QHttpServerResponder responderFor(const QHttpServerRequest &request, QTcpSocket *socket)
    {
        return makeResponder(request, socket);
    }

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override
    {
        m_handler(request, socket);
        return true;
    }

    void missingHandler(const QHttpServerRequest &, QTcpSocket *) override {}

private:
    Handler m_handler;
};

QString methodName(QHttpServerRequest::Method method)
{
    switch (method) {
    case QHttpServerRequest::Method::Get:
        return QStringLiteral("GET");
    case QHttpServerRequest::Method::Put:
        return QStringLiteral("PUT");
    case QHttpServerRequest::Method::Delete:
        return QStringLiteral("DELETE");
    case QHttpServerRequest::Method::Post:
        return QStringLiteral("POST");
    case QHttpServerRequest::Method::Head:
        return QStringLiteral("HEAD");
    case QHttpServerRequest::Method::Options:
        return QStringLiteral("OPTIONS");
    case QHttpServerRequest::Method::Patch:
        return QStringLiteral("PATCH");
    case QHttpServerRequest::Method::Connect:
        return QStringLiteral("CONNECT");
    case QHttpServerRequest::Method::Trace:
        return QStringLiteral("TRACE");
    default:
        return QStringLiteral("?");
    }
}

Reply htmlReply(int status, QByteArray body)
{
    Reply reply;
    reply.status = status;
    reply.body = std::move(body);
    // The list changes with the folder, and a package is named anew for every request:
    // nothing here is worth keeping in a browser's cache.
    reply.headers.append({QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-store")});
    return reply;
}

Reply errorReply(int status, const QString &title, const QString &message)
{
    return htmlReply(status, ServerPages::errorPage(status, title, message));
}

Reply notFound()
{
    return errorReply(404, QStringLiteral("Página no encontrada"),
                      QStringLiteral("La dirección solicitada no existe en el servidor de "
                                     "actualizaciones. La lista de circulares disponibles "
                                     "está en %1%2.")
                          .arg(UpdateServer::pathPrefix(), listName));
}

Reply folderUnavailable()
{
    return errorReply(503, QStringLiteral("Servicio no disponible"),
                      QStringLiteral("La carpeta de circulares del servidor no está disponible "
                                     "en este momento. Inténtelo de nuevo más tarde."));
}

// "http://host:port" for the absolute addresses of the answers: the Host header the request
// came with when it is a plain host name or address with an optional port, otherwise the
// address and port the connection arrived at.
QString originOf(const QHttpServerRequest &request, QTcpSocket *socket)
{
    static const QRegularExpression plainHost(QStringLiteral(
        "^(?:[A-Za-z0-9](?:[A-Za-z0-9.-]{0,252}[A-Za-z0-9])?|\\[[0-9A-Fa-f:.]{2,45}\\])"
        "(?::[0-9]{1,5})?$"));
    const QString host = QString::fromLatin1(request.value(QByteArrayLiteral("Host")));
    if (plainHost.match(host).hasMatch())
        return QStringLiteral("http://") + host;

    QHostAddress address = socket->localAddress();
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4)
        address = QHostAddress(v4);
    const QString hostText = address.protocol() == QAbstractSocket::IPv6Protocol
                                 ? QStringLiteral("[%1]").arg(address.toString())
                                 : address.toString();
    return QStringLiteral("http://%1:%2").arg(hostText).arg(socket->localPort());
}

// Percent-decodes one identifier of a request; false when the bytes are not UTF-8.
bool decodeIdentifier(QStringView encoded, QString *identifier)
{
    const QByteArray bytes = QByteArray::fromPercentEncoding(encoded.toLatin1());
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    *identifier = utf8(bytes);
    return !utf8.hasError();
}

// A piece of a request shown on an error page: cut when very long, and with every control
// character written as its percent-encoded form.
QString shown(const QString &text)
{
    constexpr qsizetype limit = 80;
    QString result;
    for (const QChar c : QStringView(text).left(limit)) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            result += QLatin1Char('%') +
                      QString::number(c.unicode(), 16).rightJustified(2, u'0').toUpper();
        else
            result += c;
    }
    if (text.size() > limit)
        result += QStringLiteral("…");
    return result;
}

} // namespace

UpdateServer::UpdateServer(const QString &circularsFolder, QObject *parent)
    : QObject(parent)
    , m_catalog(circularsFolder)
{
}

UpdateServer::~UpdateServer() = default;

bool UpdateServer::listen(const QHostAddress &address, quint16 port)
{
    if (m_http) {
        m_error = QStringLiteral("the server is already listening");
        return false;
    }
    auto tcp = std::make_unique<QTcpServer>();
    if (!tcp->listen(address, port)) {
        m_error = tcp->errorString();
        return false;
    }
    m_http = std::make_unique<HttpFront>(
        [this](const QHttpServerRequest &request, QTcpSocket *socket) { handle(request, socket); });
    m_tcp = tcp.get();
    m_tcp->setParent(m_http.get());
    tcp.release();
    m_http->bind(m_tcp);
    m_error.clear();
    return true;
}

bool UpdateServer::isListening() const
{
    return m_tcp && m_tcp->isListening();
}

quint16 UpdateServer::serverPort() const
{
    return m_tcp ? m_tcp->serverPort() : 0;
}

QHostAddress UpdateServer::serverAddress() const
{
    return m_tcp ? m_tcp->serverAddress() : QHostAddress();
}

QUrl UpdateServer::baseUrl() const
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    QHostAddress address = serverAddress();
    if (address == QHostAddress::Any || address == QHostAddress::AnyIPv4)
        address = QHostAddress::LocalHost;
    else if (address == QHostAddress::AnyIPv6)
        address = QHostAddress::LocalHostIPv6;
    url.setHost(address.toString());
    url.setPort(serverPort());
    url.setPath(pathPrefix());
    return url;
}

void UpdateServer::setPackageLimits(int maxPackages, qint64 maxBytes)
{
    m_packages.setLimits(maxPackages, maxBytes);
}

void UpdateServer::handle(const QHttpServerRequest &request, QTcpSocket *socket)
{
    const Reply reply = route(request, socket);
    if (socket->isOpen()) {
        QHttpServerResponder responder = HttpFront::responderFor(request, socket);
        responder.writeStatusLine(QHttpServerResponder::StatusCode(reply.status));
        responder.writeHeader(QByteArrayLiteral("Content-Type"), reply.type);
        responder.writeHeader(QByteArrayLiteral("Content-Length"),
                              QByteArray::number(reply.body.size()));
        for (const auto &header : reply.headers)
            responder.writeHeader(header.first, header.second);
        // A HEAD request gets the headers of the GET answer and no body.
        if (request.method() == QHttpServerRequest::Method::Head)
            responder.writeBody("", 0);
        else
            responder.writeBody(reply.body);
    }

    QString target =
        request.url().toString(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::FullyEncoded);
    if (target.size() > maxLoggedTarget)
        target =
            target.left(maxLoggedTarget) + QStringLiteral("… (%1 characters)").arg(target.size());
    emit requestAnswered(methodName(request.method()), target, reply.status);
}

UpdateServer::Reply UpdateServer::route(const QHttpServerRequest &request, QTcpSocket *socket)
{
    enum class Page { List, Request, Answer, Package };

    const QUrl url = request.url();
    const QString path = url.path(QUrl::FullyDecoded);
    const QString prefix = pathPrefix();
    // Addresses are matched without regard to letter case, as the regulator's server does.
    if (!path.startsWith(prefix, Qt::CaseInsensitive))
        return notFound();
    const QStringView name = QStringView(path).mid(prefix.size());

    Page page;
    QString token;
    if (name.compare(listName, Qt::CaseInsensitive) == 0) {
        page = Page::List;
    } else if (name.compare(requestName, Qt::CaseInsensitive) == 0) {
        page = Page::Request;
    } else if (name.compare(answerName, Qt::CaseInsensitive) == 0) {
        page = Page::Answer;
    } else if (name.startsWith(packagePrefix, Qt::CaseInsensitive) &&
               name.endsWith(packageSuffix, Qt::CaseInsensitive) &&
               name.size() > packagePrefix.size() + packageSuffix.size()) {
        page = Page::Package;
        token = name.mid(packagePrefix.size(),
                         name.size() - packagePrefix.size() - packageSuffix.size())
                    .toString();
    } else {
        return notFound();
    }

    if (request.method() != QHttpServerRequest::Method::Get &&
        request.method() != QHttpServerRequest::Method::Head) {
        Reply reply = errorReply(405, QStringLiteral("Método no permitido"),
                                 QStringLiteral("Esta dirección solo admite solicitudes GET."));
        reply.headers.append({QByteArrayLiteral("Allow"), QByteArrayLiteral("GET, HEAD")});
        return reply;
    }

    switch (page) {
    case Page::List:
        return listPage();
    case Page::Request:
        return requestPage(url, originOf(request, socket));
    case Page::Answer:
        return answerPage(url, originOf(request, socket));
    case Page::Package:
        return package(token);
    }
    return notFound();
}

UpdateServer::Reply UpdateServer::listPage()
{
    if (!m_catalog.refresh())
        return folderUnavailable();
    return htmlReply(200, ServerPages::listPage(m_catalog.identifiers()));
}

UpdateServer::Reply UpdateServer::requestPage(const QUrl &url, const QString &origin)
{
    const QString query = url.query(QUrl::FullyEncoded);
    if (query.size() > maxQueryLength) {
        return errorReply(414, QStringLiteral("Solicitud demasiado larga"),
                          QStringLiteral("La lista de circulares solicitadas es demasiado "
                                         "larga. Solicítelas en varias veces."));
    }

    // Numeros=ID,ID,...: the pieces are split at "," before they are percent-decoded.
    // A "+" stays a "+"; a space is sent as %20. Pieces left empty (",," or a "," at the
    // end) are passed over.
    bool named = false;
    QStringList pieces;
    for (const QStringView pair : QStringView(query).split(u'&')) {
        const qsizetype equals = pair.indexOf(u'=');
        QString key;
        if (!decodeIdentifier(equals < 0 ? pair : pair.left(equals), &key) ||
            key.compare(QLatin1String("Numeros"), Qt::CaseInsensitive) != 0)
            continue;
        named = true;
        if (equals < 0)
            continue;
        for (const QStringView piece : pair.mid(equals + 1).split(u',')) {
            if (!piece.isEmpty())
                pieces.append(piece.toString());
        }
    }
    if (pieces.isEmpty()) {
        return errorReply(400, QStringLiteral("Solicitud incompleta"),
                          named ? QStringLiteral("El parámetro Numeros está vacío: indique "
                                                 "al menos una circular, por ejemplo "
                                                 "archivoValores.asp?Numeros=1001,1002.")
                                : QStringLiteral("Falta el parámetro Numeros con las "
                                                 "circulares solicitadas, por ejemplo "
                                                 "archivoValores.asp?Numeros=1001,1002."));
    }

    if (!m_catalog.refresh())
        return folderUnavailable();

    QSet<QString> seen;
    QStringList identifiers;
    QStringList unknown;
    for (const QString &piece : std::as_const(pieces)) {
        QString identifier;
        if (!decodeIdentifier(piece, &identifier)) {
            return errorReply(400, QStringLiteral("Identificador no válido"),
                              QStringLiteral("El identificador «%1» no está codificado en "
                                             "UTF-8.")
                                  .arg(shown(piece)));
        }
        if (!CircularCatalog::isValidIdentifier(identifier)) {
            return errorReply(400, QStringLiteral("Identificador no válido"),
                              QStringLiteral("El identificador «%1» no es válido: los "
                                             "identificadores no pueden estar vacíos, empezar "
                                             "por un punto ni contener «..», «/», «\\», comas "
                                             "ni caracteres de control.")
                                  .arg(shown(identifier)));
        }
        if (seen.contains(identifier))
            continue;
        seen.insert(identifier);
        if (m_catalog.contains(identifier))
            identifiers.append(identifier);
        else
            unknown.append(shown(identifier));
    }
    if (!unknown.isEmpty()) {
        return errorReply(404,
                          unknown.size() == 1 ? QStringLiteral("Circular desconocida")
                                              : QStringLiteral("Circulares desconocidas"),
                          QStringLiteral("El servidor no tiene %1: %2. Consulte la lista de "
                                         "circulares disponibles.")
                              .arg(unknown.size() == 1 ? QStringLiteral("esta circular")
                                                       : QStringLiteral("estas circulares"),
                                   ServerPages::shortList(unknown, namedInErrors)));
    }
    std::sort(identifiers.begin(), identifiers.end(), CircularCatalog::naturalLess);

    const QString token = packageToken(identifiers);
    if (!m_packages.find(token)) {
        QList<PackageEntry> entries;
        entries.reserve(identifiers.size());
        for (const QString &identifier : std::as_const(identifiers)) {
            entries.append({QStringLiteral("circulares/%1.pdf").arg(identifier),
                            m_catalog.filePath(identifier)});
        }
        QString error;
        QByteArray zip = buildZipArchive(entries, &error);
        if (zip.isEmpty()) {
            return errorReply(500, QStringLiteral("Error del servidor"),
                              QStringLiteral("No se pudo preparar el paquete de "
                                             "actualización (%1). Inténtelo de nuevo más "
                                             "tarde.")
                                  .arg(error));
        }
        m_packages.insert({token, identifiers, std::move(zip)});
    }

    const QString target =
        QStringLiteral("%1%2%3?paquete=%4").arg(origin, pathPrefix(), answerName, token);
    Reply reply = htmlReply(303, ServerPages::redirectPage(target));
    reply.headers.append({QByteArrayLiteral("Location"), target.toUtf8()});
    return reply;
}

UpdateServer::Reply UpdateServer::answerPage(const QUrl &url, const QString &origin)
{
    const QString token =
        QUrlQuery(url).queryItemValue(QStringLiteral("paquete"), QUrl::FullyDecoded);
    if (token.isEmpty()) {
        return errorReply(400, QStringLiteral("Solicitud incompleta"),
                          QStringLiteral("Falta el parámetro paquete. Solicite las circulares "
                                         "con archivoValores.asp?Numeros=..."));
    }
    const UpdatePackage *package = m_packages.find(token);
    if (!package) {
        return errorReply(404, QStringLiteral("Paquete no disponible"),
                          QStringLiteral("El paquete «%1» no existe o ya no está disponible. "
                                         "Vuelva a revisar las actualizaciones.")
                              .arg(shown(token)));
    }
    const QString fileName = QStringLiteral("actualizacion-%1.zip").arg(token);
    const QString packageUrl =
        QStringLiteral("%1%2%3%4%5").arg(origin, pathPrefix(), packagePrefix, token, packageSuffix);
    return htmlReply(200, ServerPages::answerPage(packageUrl, fileName, package->identifiers,
                                                  package->zip.size()));
}

UpdateServer::Reply UpdateServer::package(const QString &token)
{
    const UpdatePackage *package = m_packages.find(token);
    if (!package) {
        return errorReply(404, QStringLiteral("Paquete no disponible"),
                          QStringLiteral("El paquete solicitado no existe o ya no está "
                                         "disponible. Vuelva a revisar las actualizaciones."));
    }
    Reply reply;
    reply.type = QByteArrayLiteral("application/zip");
    reply.body = package->zip;
    reply.headers.append({QByteArrayLiteral("Content-Disposition"),
                          QByteArrayLiteral("attachment; filename=\"actualizacion-") +
                              token.toLatin1() + QByteArrayLiteral(".zip\"")});
    return reply;
}

// The token names the set of circulars and the state of their files (size and time of
// change): the same request gives the same package until one of its files changes.
QString UpdateServer::packageToken(const QStringList &identifiers) const
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const QString &identifier : identifiers) {
        const QFileInfo file(m_catalog.filePath(identifier));
        hash.addData(identifier.toUtf8());
        hash.addData(QByteArrayView("\0", 1));
        hash.addData(QByteArray::number(file.size()));
        hash.addData(QByteArrayView(" "));
        hash.addData(QByteArray::number(file.lastModified().toMSecsSinceEpoch()));
        hash.addData(QByteArrayView("\n"));
    }
    return QString::fromLatin1(hash.result().toHex().left(16));
}

#include "updateserver.h"

#include "packagesets.h"
#include "publishedcatalog.h"
#include "serverpages.h"
#include "updatecontract.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QUrlQuery>

#include <QSet>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <utility>

// What the server sends back for one request.
struct UpdateServerReply {
    int status = 200;
    QByteArray type = QByteArrayLiteral("text/html; charset=utf-8");
    QByteArray body;
    int file = -1;                            // an open file, sent instead of body
    std::shared_ptr<const std::string> bytes; // or bytes held elsewhere, sent as they are
    std::vector<HttpPiece> pieces;            // or these, one after another
    QList<std::pair<QByteArray, QByteArray>> headers;
};

namespace {

using Reply = UpdateServerReply;

// Set while the network thread itself calls the handler: what would wait (a file to read,
// the folder to list, a lock held by a worker) throws NeedsWorker, and the request goes to
// a worker, which makes the answer in full.
thread_local bool onNetworkThread = false;
struct NeedsWorker {};

void needsWorker()
{
    if (onNetworkThread)
        throw NeedsWorker();
}

// Takes the lock, or, on the network thread, only when it is free.
std::unique_lock<std::mutex> lockFor(std::mutex &mutex)
{
    std::unique_lock<std::mutex> lock(mutex, std::defer_lock);
    if (!onNetworkThread)
        lock.lock();
    else if (!lock.try_lock())
        throw NeedsWorker();
    return lock;
}

// How many identifiers an error page names before it only counts the rest.
constexpr int namedInErrors = 20;
// How long the index page is trusted before the files' stamps are looked at again.
constexpr qint64 indexRecheckMs = 5000;
// The longest set code: it travels in the Location header, which HTTP libraries and
// proxies cap (Beast at 64 KiB, common proxies lower). Consecutive numbers take a few
// bytes per run; only tens of thousands of scattered circulars come near it.
constexpr qsizetype maxSetCode = 32 * 1024;
// Hexadecimal digits of a package's name.
constexpr int nameLength = 32;
// The sets whose names and parts are kept between requests, and the parts they may hold in
// all: a set may name thousands of circulars, and a few thousand such sets would otherwise
// hold gigabytes.
constexpr qsizetype namedSets = 4096;
constexpr qsizetype namedParts = 100000;

// The pages and folders the viewer knows by name.
constexpr QLatin1String listName = UpdateContract::listPage;
constexpr QLatin1String requestName = UpdateContract::requestPage;
constexpr QLatin1String answerName = UpdateContract::answerPage;
constexpr QLatin1String packagesFolder = UpdateContract::packagesFolder;
constexpr QLatin1String indexEntry = UpdateContract::indexPage;
const QLatin1String packagePrefix("actualizacion-");
// A catalog larger than this is not served (a few hundred bytes a circular).
constexpr qint64 maxCatalogBytes = 64 * 1024 * 1024;
const QLatin1String packageSuffix(".zip");

Reply htmlReply(int status, QByteArray body)
{
    Reply reply;
    reply.status = status;
    reply.body = std::move(body);
    // The list changes with the folder: pages are not worth keeping in a browser's cache.
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

Reply packageGone()
{
    return errorReply(404, QStringLiteral("Paquete no disponible"),
                      QStringLiteral("El paquete solicitado no existe o sus circulares han "
                                     "cambiado desde que se preparó. Vuelva a revisar las "
                                     "actualizaciones."));
}

Reply folderUnavailable()
{
    return errorReply(503, QStringLiteral("Servicio no disponible"),
                      QStringLiteral("La carpeta de circulares del servidor no está disponible "
                                     "en este momento. Inténtelo de nuevo más tarde."));
}

Reply buildFailed(const QString &error)
{
    // Never an empty reason: the page is all the client's user gets to see.
    const QString reason =
        error.trimmed().isEmpty() ? QStringLiteral("error interno del servidor") : error;
    Reply reply = errorReply(503, QStringLiteral("Error del servidor"),
                             QStringLiteral("No se pudo preparar el paquete de actualización "
                                            "(%1). Inténtelo de nuevo más tarde.")
                                 .arg(reason));
    reply.headers.append({QByteArrayLiteral("Retry-After"), QByteArrayLiteral("5")});
    return reply;
}

bool isName(QStringView text)
{
    return text.size() == nameLength && std::all_of(text.begin(), text.end(), [](QChar c) {
               return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f');
           });
}

// Percent-decodes one identifier of a request; false when the bytes are not UTF-8.
bool decodeIdentifier(QStringView encoded, QString *identifier)
{
    // Most are plain ASCII with nothing encoded: they are what they say.
    if (std::all_of(encoded.begin(), encoded.end(),
                    [](QChar c) { return c.unicode() < 0x80 && c != u'%'; })) {
        *identifier = encoded.toString();
        return true;
    }
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

// Where each identifier of a listing stands in it: the numbers by value, which is cheaper to
// look up than by text, the others by text.
class CatalogPositions {
public:
    explicit CatalogPositions(const QStringList &identifiers)
    {
        m_numbers.reserve(identifiers.size());
        for (qsizetype i = 0; i < identifiers.size(); ++i) {
            quint64 number = 0;
            if (PackageSets::plainNumber(identifiers.at(i), &number))
                m_numbers.insert(number, i);
            else
                m_others.insert(identifiers.at(i), i);
        }
    }

    // -1 when the identifier is not in the listing.
    qsizetype ofNumber(quint64 number) const { return m_numbers.value(number, -1); }
    qsizetype of(const QString &identifier) const
    {
        quint64 number = 0;
        if (PackageSets::plainNumber(identifier, &number))
            return m_numbers.value(number, -1);
        return m_others.value(identifier, -1);
    }

private:
    QHash<quint64, qsizetype> m_numbers;
    QHash<QString, qsizetype> m_others;
};

UpdateServer::UpdateServer(const QString &circularsFolder, QObject *parent)
    : UpdateServer(circularsFolder, UpdateServerOptions(), parent)
{
}

UpdateServer::UpdateServer(const QString &circularsFolder, UpdateServerOptions options,
                           QObject *parent)
    : QObject(parent)
    , m_folder(circularsFolder)
    , m_options(std::move(options))
    , m_catalog(circularsFolder)
{
    // The circulars' files stay open with their facts, so that a package is sent without
    // opening them, within the descriptors the connections and the cache leave over.
    constexpr long long spareDescriptors = 512;
    constexpr long long mostKeptOpen = 1 << 18;
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
        const long long available =
            files.rlim_cur == RLIM_INFINITY ? mostKeptOpen : (long long)files.rlim_cur;
        m_facts.setOpenLimit(int(std::clamp<long long>(
            available - HttpFront::connectionLimitFor(m_options.limits.maxConnections) -
                HttpFront::reservedDescriptors - spareDescriptors,
            0, mostKeptOpen)));
    }
}

UpdateServer::~UpdateServer()
{
    // Builds still in progress give up, so that the workers end at once; then the network
    // thread and the workers stop before what they use goes.
    if (m_cache)
        m_cache->stop();
    m_http.reset();
}

bool UpdateServer::listen(const QHostAddress &address, quint16 port)
{
    if (m_http) {
        m_error = QStringLiteral("the server is already listening");
        return false;
    }
    QString cacheFolder = m_options.cacheFolder;
    if (cacheFolder.isEmpty()) {
        m_temporaryCache = std::make_unique<QTemporaryDir>();
        if (!m_temporaryCache->isValid()) {
            m_error = QStringLiteral("cannot create a temporary cache folder: %1")
                          .arg(m_temporaryCache->errorString());
            return false;
        }
        cacheFolder = m_temporaryCache->path();
    }
    m_cache = std::make_unique<PackageCache>(cacheFolder, m_options.cacheBytes,
                                             m_options.cacheKeepSeconds);
    if (!m_cache->open(&m_error))
        return false;

    auto http =
        std::make_unique<HttpFront>([this](const HttpRequest &request) { return answer(request); },
                                    m_options.log, m_options.limits);
    QHostAddress bindAddress = address;
    if (address == QHostAddress::Any)
        bindAddress = QHostAddress::AnyIPv6;
    std::string error;
    if (!http->listen(bindAddress.toString().toStdString(), port, &error)) {
        m_error = QString::fromStdString(error);
        return false;
    }
    m_http = std::move(http);
    m_error.clear();
    return true;
}

quint16 UpdateServer::serverPort() const
{
    return m_http ? m_http->port() : 0;
}

QHostAddress UpdateServer::serverAddress() const
{
    return m_http ? QHostAddress(QString::fromStdString(m_http->address())) : QHostAddress();
}

int UpdateServer::connectionLimit() const
{
    return m_http ? m_http->connectionLimit() : 0;
}

int UpdateServer::openConnections() const
{
    return m_http ? m_http->openConnections() : 0;
}

void UpdateServer::stopAccepting()
{
    if (m_http)
        m_http->stopAccepting();
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

QString UpdateServer::publicPrefix() const
{
    if (m_options.publicUrl.isEmpty())
        return {};
    QString base =
        m_options.publicUrl.toString(QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::FullyEncoded);
    if (!base.endsWith(u'/'))
        base += u'/';
    return base + pathPrefix().mid(1);
}

HttpAnswer UpdateServer::answer(const HttpRequest &request)
{
    onNetworkThread = !request.onWorker;
    Reply reply;
    try {
        reply = route(QString::fromStdString(request.method),
                      QString::fromLatin1(request.target.data(), qsizetype(request.target.size())));
    } catch (const NeedsWorker &) {
        onNetworkThread = false;
        HttpAnswer answer;
        answer.onWorker = true;
        return answer;
    }
    onNetworkThread = false;
    HttpAnswer answer;
    answer.status = reply.status;
    answer.type = reply.type.toStdString();
    answer.body = reply.body.toStdString();
    answer.file = reply.file;
    answer.shared = reply.bytes;
    answer.pieces = std::move(reply.pieces);
    for (const auto &header : reply.headers)
        answer.headers.emplace_back(header.first.toStdString(), header.second.toStdString());
    return answer;
}

UpdateServer::Reply UpdateServer::route(const QString &method, const QString &target)
{
    enum class Page { List, Request, Answer, Package, Catalog };

    const qsizetype question = target.indexOf(u'?');
    const QString query = question < 0 ? QString() : target.mid(question + 1);
    const QString path = QString::fromUtf8(QByteArray::fromPercentEncoding(
        target.left(question < 0 ? target.size() : question).toLatin1()));
    const QString prefix = pathPrefix();
    // Addresses are matched without regard to letter case, as the regulator's server does.
    if (!path.startsWith(prefix, Qt::CaseInsensitive))
        return notFound();
    const QStringView name = QStringView(path).mid(prefix.size());

    Page page;
    QString set;
    QString packageName;
    if (name.compare(listName, Qt::CaseInsensitive) == 0) {
        page = Page::List;
    } else if (name.compare(requestName, Qt::CaseInsensitive) == 0) {
        page = Page::Request;
    } else if (name.compare(answerName, Qt::CaseInsensitive) == 0) {
        page = Page::Answer;
    } else if (name.compare(UpdateContract::catalogFile, Qt::CaseInsensitive) == 0 ||
               name.compare(UpdateContract::catalogSignatureFile, Qt::CaseInsensitive) == 0) {
        page = Page::Catalog;
        set = name.toString().toLower();
    } else if (name.startsWith(packagesFolder, Qt::CaseInsensitive)) {
        // paquetes/SET/actualizacion-NAME.zip
        const QStringView rest = name.mid(packagesFolder.size());
        const qsizetype slash = rest.indexOf(u'/');
        const QStringView file = slash < 0 ? QStringView() : rest.mid(slash + 1);
        if (slash <= 0 || !file.startsWith(packagePrefix) || !file.endsWith(packageSuffix) ||
            !isName(file.mid(packagePrefix.size(),
                             file.size() - packagePrefix.size() - packageSuffix.size())))
            return notFound();
        page = Page::Package;
        set = rest.left(slash).toString();
        packageName = file.mid(packagePrefix.size(), nameLength).toString();
    } else {
        return notFound();
    }

    if (method != QLatin1String("GET") && method != QLatin1String("HEAD")) {
        Reply reply = errorReply(405, QStringLiteral("Método no permitido"),
                                 QStringLiteral("Esta dirección solo admite solicitudes GET."));
        reply.headers.append({QByteArrayLiteral("Allow"), QByteArrayLiteral("GET, HEAD")});
        return reply;
    }

    switch (page) {
    case Page::List:
        return listPage();
    case Page::Request:
        return requestPage(query);
    case Page::Answer:
        return answerPage(query);
    case Page::Package:
        return package(set, packageName);
    case Page::Catalog:
        return catalogFile(set);
    }
    return notFound();
}

UpdateServer::Catalog UpdateServer::catalog()
{
    const std::unique_lock<std::mutex> lock = lockFor(m_catalogMutex);
    // A folder missing at start, or whose watch ended: watched again once it is there.
    if (!m_watch.isWatching())
        m_watch.watch(m_folder);
    // Read before the folder is: a change made while it is read shows in the next epoch.
    const quint64 epoch = m_watch.epoch();
    if (m_view.available && m_view.epoch == epoch)
        return m_view;
    needsWorker();
    Catalog view;
    view.epoch = epoch;
    view.available = m_catalog.refresh();
    view.generation = m_catalog.generation();
    view.identifiers = m_catalog.identifiers();
    view.fileNames = m_catalog.fileNames();
    // The places follow the listing, which an epoch without a change leaves as it was.
    view.positions = view.available && m_view.available && m_view.positions &&
                             m_view.generation == view.generation
                         ? m_view.positions
                         : std::make_shared<const CatalogPositions>(view.identifiers);
    QSet<QString> present;
    for (const QString &name : std::as_const(view.fileNames))
        present.insert(m_folder + QLatin1Char('/') + name);
    m_facts.keepOnly(present);
    view.signedCatalog = view.available && QFileInfo::exists(catalogPathIn(m_folder));
    m_largestCatalog = qMax(m_largestCatalog, view.identifiers.size());
    m_view = view;
    return view;
}

qsizetype UpdateServer::largestSet()
{
    const std::unique_lock<std::mutex> lock = lockFor(m_catalogMutex);
    return m_largestCatalog;
}

UpdateServer::Index UpdateServer::index(const Catalog &catalog)
{
    const std::unique_lock<std::mutex> lock = lockFor(m_indexMutex);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (!m_index.page.isEmpty() && m_index.generation == catalog.generation &&
        (m_index.epoch == catalog.epoch || now - m_index.checkedMs < indexRecheckMs))
        return m_index;
    needsWorker();

    // Titles live in the files: look at their stamps before trusting the page made.
    QList<FileStamp> stamps;
    stamps.reserve(catalog.identifiers.size());
    qint64 newest = 0;
    for (const QString &identifier : catalog.identifiers) {
        stamps.append(fileStamp(m_folder + QLatin1Char('/') + catalog.fileNames.value(identifier)));
        newest = qMax(newest, stamps.constLast().modifiedNs / 1000000000);
    }
    if (m_index.page.isEmpty() || m_index.generation != catalog.generation ||
        m_index.stamps != stamps) {
        m_index.page = circularIndexFor(m_folder, catalog.identifiers, catalog.fileNames, m_facts);
        m_index.digest = QCryptographicHash::hash(m_index.page, QCryptographicHash::Sha256);
        m_index.part = PackagePart::compressed(indexEntry, m_index.page, newest);
        // Kept in a file in memory too, so that every package sends it from there by the
        // kernel, without copies; from memory as before where none can be had.
        const int memory = ::memfd_create("legisdisco-index", MFD_CLOEXEC);
        if (memory >= 0) {
            auto file = std::make_shared<const OpenFile>(memory);
            const QByteArray &data = m_index.part->deflated;
            qsizetype written = 0;
            while (written < data.size()) {
                const ssize_t n =
                    ::write(memory, data.constData() + written, std::size_t(data.size() - written));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    break;
                written += n;
            }
            if (written == data.size()) {
                PackageEntry entry = *m_index.part;
                entry.open = std::move(file);
                m_index.part = PackagePart(std::move(entry));
            }
        }
        m_index.stamps = std::move(stamps);
        m_index.generation = catalog.generation;
        m_index.newestModified = newest;
    }
    m_index.checkedMs = now;
    m_index.epoch = catalog.epoch;
    return m_index;
}

int UpdateServer::warmUp()
{
    const Catalog view = catalog();
    if (!view.available)
        return 0;
    index(view);
    for (const QString &identifier : view.identifiers)
        m_facts.digest(m_folder + QLatin1Char('/') + view.fileNames.value(identifier), view.epoch);
    return int(view.identifiers.size());
}

QByteArray UpdateServer::indexPageOf(const QString &folder)
{
    CircularCatalog catalog(folder);
    catalog.refresh();
    FileFacts facts;
    return circularIndexFor(folder, catalog.identifiers(), catalog.fileNames(), facts);
}

QString UpdateServer::packageName(const Catalog &catalog, const QList<qsizetype> &positions,
                                  const Index &index, QList<PackagePart> *parts, bool *remembered)
{
    if (remembered)
        *remembered = false;
    // A set named lately, in this same epoch of the folder and from this same index, has
    // the same name and parts still: a request, its answer page and its package work them
    // out once.
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArrayView("legisdisco package 1\n"));
    parts->clear();
    parts->reserve(positions.size() + 1);
    QList<std::shared_ptr<const NamedCircular>> made;
    bool whole = false; // every circular's part made already in this epoch
    {
        const std::unique_lock<std::mutex> lock = lockFor(m_namedMutex);
        if (m_namedEpoch != catalog.epoch) {
            m_named.clear(); // and the files its parts hold open go
            m_namedCirculars.assign(std::size_t(catalog.identifiers.size()), nullptr);
            m_offered.clear();
            m_namedHeld = m_offeredHeld = 0;
            m_namedEpoch = catalog.epoch;
        }
        const auto it = m_named.constFind(positions);
        if (it != m_named.constEnd() && it->indexDigest == index.digest &&
            it->signedCatalog == catalog.signedCatalog) {
            *parts = it->parts;
            if (remembered)
                *remembered = true;
            return it->name;
        }
        // The circulars' parts made in this epoch, in the order asked for: taken here when
        // all are, as they mostly are.
        whole = std::all_of(positions.cbegin(), positions.cend(), [this](qsizetype position) {
            return m_namedCirculars.at(std::size_t(position)) != nullptr;
        });
        for (const qsizetype position : positions) {
            const std::shared_ptr<const NamedCircular> &circular =
                m_namedCirculars.at(std::size_t(position));
            if (!whole) {
                made.append(circular);
                continue;
            }
            hash.addData(circular->named);
            parts->append(circular->part);
        }
    }
    // Every digest taken as kept in this epoch: only then is the name worth keeping (a file
    // behind a link, say, is looked at every time).
    bool trusted = true;
    // The file's facts as kept, or read now (off the network thread).
    const auto digestOf = [this, &catalog, &trusted](const QString &path) {
        FileFacts::Digest digest;
        if (!m_facts.kept(path, catalog.epoch, &digest)) {
            needsWorker();
            trusted = false;
            digest = m_facts.digest(path, catalog.epoch);
        }
        return digest;
    };
    // Remembers the name worked out, when trusted.
    const auto named = [&](QString name) {
        if (!trusted || name.isEmpty())
            return name;
        const std::unique_lock<std::mutex> lock = lockFor(m_namedMutex);
        if (m_namedEpoch != catalog.epoch)
            return name;
        // A bounded memory, forgotten all at once when full.
        if (m_named.size() >= namedSets || m_namedHeld + parts->size() > namedParts) {
            m_named.clear();
            m_namedHeld = 0;
        }
        m_named.insert(positions, {name, index.digest, catalog.signedCatalog, *parts});
        m_namedHeld += parts->size();
        if (remembered)
            *remembered = true;
        return name;
    };
    // The circulars made here whose facts hold for the whole epoch: kept for other sets.
    QList<bool> fresh(whole ? 0 : positions.size(), false);
    for (qsizetype i = 0; i < made.size(); ++i) {
        if (!made.at(i)) {
            const QString &identifier = catalog.identifiers.at(positions.at(i));
            const QString path = m_folder + QLatin1Char('/') + catalog.fileNames.value(identifier);
            const bool trustedBefore = trusted;
            trusted = true;
            const FileFacts::Digest digest = digestOf(path);
            if (digest.sha256.isEmpty())
                return {};
            auto circular = std::make_shared<NamedCircular>();
            circular->named = identifier.toUtf8() + '\0' + digest.sha256;
            circular->part = PackagePart::file(UpdateContract::circularsFolder + u'/' + identifier +
                                                   QStringLiteral(".pdf"),
                                               path, digest.stamp, digest.crc, digest.file);
            made[i] = std::move(circular);
            fresh[i] = trusted;
            trusted = trusted && trustedBefore;
        }
        const NamedCircular &circular = *made.at(i);
        hash.addData(circular.named);
        parts->append(circular.part);
    }
    if (fresh.contains(true)) {
        const std::unique_lock<std::mutex> lock = lockFor(m_namedMutex);
        if (m_namedEpoch == catalog.epoch) {
            for (qsizetype i = 0; i < positions.size(); ++i) {
                if (fresh.at(i))
                    m_namedCirculars.at(std::size_t(positions.at(i))) = made.at(i);
            }
        }
    }
    // A folder with the publisher's signed catalog sends it, and its signature, in place of
    // the index page: the viewer writes its index from the catalog.
    if (catalog.signedCatalog) {
        const QString catalogPath = catalogPathIn(m_folder);
        const std::pair<QLatin1String, QString> files[] = {
            {UpdateContract::catalogFile, catalogPath},
            {UpdateContract::catalogSignatureFile, catalogSignaturePathIn(m_folder)}};
        for (const auto &[entry, path] : files) {
            const FileFacts::Digest digest = digestOf(path);
            if (digest.sha256.isEmpty())
                return {};
            hash.addData(QByteArrayView(entry.data(), entry.size() + 1)); // with its NUL
            hash.addData(digest.sha256);
            parts->append(PackagePart::file(entry, path, digest.stamp, digest.crc, digest.file));
        }
        return named(QString::fromLatin1(hash.result().toHex().left(nameLength)));
    }
    hash.addData(QByteArrayView("index\0", 6));
    hash.addData(index.digest);
    parts->append(index.part);
    return named(QString::fromLatin1(hash.result().toHex().left(nameLength)));
}

void UpdateServer::offer(const Catalog &catalog, const Index &index, const QString &name,
                         const QString &set, const QStringList &identifiers,
                         const QList<PackagePart> &parts, qint64 size)
{
    const std::unique_lock<std::mutex> lock = lockFor(m_namedMutex);
    if (m_namedEpoch != catalog.epoch)
        return;
    // A bounded memory, forgotten all at once when full, as the names are.
    if (m_offered.size() >= namedSets || m_offeredHeld + parts.size() > namedParts) {
        m_offered.clear();
        m_offeredHeld = 0;
    }
    m_offered.insert(name, {set, identifiers, index.digest, catalog.signedCatalog, parts, size});
    m_offeredHeld += parts.size();
}

UpdateServer::Reply UpdateServer::catalogFile(const QString &name)
{
    needsWorker();
    QFile file(QDir(m_folder).filePath(name));
    if (!QFileInfo(file.fileName()).isFile() || !file.open(QIODevice::ReadOnly) ||
        file.size() > maxCatalogBytes)
        return notFound();
    Reply reply = htmlReply(200, file.readAll());
    reply.type = QByteArrayLiteral("text/plain; charset=utf-8");
    return reply;
}

UpdateServer::Reply UpdateServer::listPage()
{
    const Catalog view = catalog();
    if (!view.available)
        return folderUnavailable();
    // Made once per listing: tens of thousands of circulars make a page of some hundred KB.
    Reply reply = htmlReply(200, QByteArray());
    {
        const std::unique_lock<std::mutex> lock = lockFor(m_catalogMutex);
        if (m_listPage && m_listGeneration == view.generation) {
            reply.bytes = m_listPage;
            return reply;
        }
    }
    needsWorker();
    const QByteArray page = ServerPages::listPage(view.identifiers);
    auto made = std::make_shared<const std::string>(page.constData(), std::size_t(page.size()));
    {
        const std::unique_lock<std::mutex> lock = lockFor(m_catalogMutex);
        m_listPage = made;
        m_listGeneration = view.generation;
    }
    reply.bytes = std::move(made);
    return reply;
}

UpdateServer::Reply UpdateServer::requestPage(const QString &query)
{
    // Numeros=ID,ID,...: the pieces are split at "," before they are percent-decoded.
    // A "+" stays a "+"; a space is sent as %20. Pieces left empty (",," or a "," at the
    // end) are passed over.
    bool named = false;
    QList<QStringView> pieces; // of the query, which outlives them
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
                pieces.append(piece);
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

    const Catalog view = catalog();
    if (!view.available)
        return folderUnavailable();

    // Each circular by its place in the catalog, which is in natural order.
    QList<qsizetype> positions;
    positions.reserve(pieces.size());
    QSet<QString> unknownSeen;
    QStringList unknown;
    for (const QStringView piece : std::as_const(pieces)) {
        // A plain number, as most are: valid, and the same once decoded.
        quint64 number = 0;
        if (PackageSets::plainNumber(piece, &number)) {
            const qsizetype at = view.positions->ofNumber(number);
            if (at >= 0) {
                positions.append(at);
                continue;
            }
        }
        QString identifier;
        if (!decodeIdentifier(piece, &identifier)) {
            return errorReply(400, QStringLiteral("Identificador no válido"),
                              QStringLiteral("El identificador «%1» no está codificado en "
                                             "UTF-8.")
                                  .arg(shown(piece.toString())));
        }
        if (!CircularCatalog::isValidIdentifier(identifier)) {
            return errorReply(400, QStringLiteral("Identificador no válido"),
                              QStringLiteral("El identificador «%1» no es válido: los "
                                             "identificadores no pueden estar vacíos, empezar "
                                             "por un punto ni contener «..», «/», «\\», comas "
                                             "ni caracteres de control.")
                                  .arg(shown(identifier)));
        }
        const qsizetype at = view.positions->of(identifier);
        if (at >= 0) {
            positions.append(at);
        } else if (!unknownSeen.contains(identifier)) {
            unknownSeen.insert(identifier);
            unknown.append(shown(identifier));
        }
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
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    QStringList identifiers;
    identifiers.reserve(positions.size());
    for (const qsizetype position : std::as_const(positions))
        identifiers.append(view.identifiers.at(position));

    QList<PackagePart> parts;
    const Index current = index(view);
    bool remembered = false;
    const QString name = packageName(view, positions, current, &parts, &remembered);
    if (name.isEmpty())
        return buildFailed(QStringLiteral("no se pudo leer una de las circulares"));
    const QString set = PackageSets::encode(identifiers);
    if (set.size() > maxSetCode) {
        return errorReply(414, QStringLiteral("Solicitud demasiado larga"),
                          QStringLiteral("La lista de circulares solicitadas es demasiado "
                                         "larga. Solicítelas en varias veces."));
    }
    // Built when it is fetched; refused now if it could never be.
    const qint64 size = PackageZip::sizeOf(parts);
    if (size < 0) {
        return errorReply(400, QStringLiteral("Paquete demasiado grande"),
                          QStringLiteral("El paquete de las circulares solicitadas superaría "
                                         "los 4 GB. Solicítelas en varias veces."));
    }
    // Its answer page and the package itself come next: they find it by name.
    if (remembered)
        offer(view, current, name, set, identifiers, parts, size);

    const QString target =
        QStringLiteral("%1%2?paquete=%3-%4").arg(publicPrefix(), answerName, name, set);
    Reply reply = htmlReply(303, ServerPages::redirectPage(target));
    reply.headers.append({QByteArrayLiteral("Location"), target.toUtf8()});
    return reply;
}

UpdateServer::Reply UpdateServer::answerPage(const QString &query)
{
    const QString token =
        QUrlQuery(query).queryItemValue(QStringLiteral("paquete"), QUrl::FullyDecoded);
    if (token.isEmpty()) {
        return errorReply(400, QStringLiteral("Solicitud incompleta"),
                          QStringLiteral("Falta el parámetro paquete. Solicite las circulares "
                                         "con archivoValores.asp?Numeros=..."));
    }
    const qsizetype dash = token.indexOf(u'-');
    const QString name = token.left(dash);
    const QString set = dash < 0 ? QString() : token.mid(dash + 1);
    // Checked now, so that the page offers only a package that can be sent, and gives its
    // size; nothing is built; the package is sent from the circulars' files when fetched.
    QStringList identifiers;
    QList<PackagePart> parts;
    qint64 size = 0;
    if (const std::optional<Reply> failure = packageParts(name, set, &identifiers, &parts, &size))
        return *failure;
    const QString fileName = packagePrefix + name + packageSuffix;
    const QString packageUrl =
        QStringLiteral("%1%2%3/%4").arg(publicPrefix(), packagesFolder, set, fileName);
    return htmlReply(200, ServerPages::answerPage(packageUrl, fileName, identifiers, size));
}

std::optional<UpdateServer::Reply>
UpdateServer::packageParts(const QString &name, const QString &set, QStringList *identifiers,
                           QList<PackagePart> *parts, qint64 *size)
{
    if (!isName(name))
        return packageGone();
    const Catalog view = catalog();
    if (view.available) {
        // Offered in this epoch of the folder, from this same index: the files make this
        // name still.
        const Index current = index(view);
        const std::unique_lock<std::mutex> lock = lockFor(m_namedMutex);
        const auto it = m_namedEpoch == view.epoch ? m_offered.constFind(name) : m_offered.cend();
        if (it != m_offered.cend() && it->set == set && it->indexDigest == current.digest &&
            it->signedCatalog == view.signedCatalog) {
            *identifiers = it->identifiers;
            *parts = it->parts;
            *size = it->size;
            return std::nullopt;
        }
    }
    if (!PackageSets::decode(set, largestSet(), identifiers))
        return packageGone();
    if (!view.available)
        return folderUnavailable();
    // The name must still be the one the files make: else they changed since it was given.
    QList<qsizetype> positions;
    positions.reserve(identifiers->size());
    for (const QString &identifier : std::as_const(*identifiers)) {
        const qsizetype at = view.positions->of(identifier);
        if (at < 0)
            return packageGone();
        positions.append(at);
    }
    const Index current = index(view);
    bool remembered = false;
    if (packageName(view, positions, current, parts, &remembered) != name)
        return packageGone();
    *size = PackageZip::sizeOf(*parts);
    if (*size < 0)
        return buildFailed(
            QStringLiteral("el paquete superaría el tamaño máximo de un archivo zip"));
    if (remembered)
        offer(view, current, name, set, *identifiers, *parts, *size);
    return std::nullopt;
}

UpdateServer::Reply UpdateServer::package(const QString &set, const QString &name)
{
    QStringList identifiers;
    QList<PackagePart> parts;
    qint64 size = 0;
    if (const std::optional<Reply> failure = packageParts(name, set, &identifiers, &parts, &size))
        return *failure;

    Reply reply;
    reply.type = QByteArrayLiteral("application/zip");
    // A package kept in the folder, by this server or another sharing it, goes out whole
    // from its file; one asked for again is written there first, for every server to find.
    // Any other is sent straight from the circulars' files, its headers made here.
    PackageData kept;
    QString ignored;
    bool found = m_cache->findKept(name, size, &kept);
    if (!found && m_cache->askedBefore(name)) {
        needsWorker(); // writing it waits on the disk
        found = m_cache->keep(name, parts, size, &kept, &ignored);
    }
    if (found) {
        reply.file = kept.file;
    } else {
        QList<PackageZip::Piece> pieces = PackageZip::layout(parts);
        if (pieces.isEmpty())
            return buildFailed(QStringLiteral("no se pudo comprimir el índice del paquete"));
        reply.pieces.reserve(std::size_t(pieces.size()));
        for (PackageZip::Piece &piece : pieces) {
            HttpPiece out;
            if (piece.part < 0) {
                out.bytes = std::move(piece.bytes);
            } else {
                const PackageEntry &part = *parts.at(piece.part);
                if (part.path.isEmpty()) {
                    // The deflated index, from its file in memory, which never changes.
                    out.file = part.open->fd();
                    out.kept = part.open;
                    out.size = std::uint64_t(part.deflated.size());
                    reply.pieces.push_back(std::move(out));
                    continue;
                }
                if (part.open) {
                    out.file = part.open->fd();
                    out.kept = part.open;
                } else {
                    out.path = QFile::encodeName(part.path).toStdString();
                }
                out.size = std::uint64_t(part.size);
                // The file the facts were read from, as it was: else the answer is cut
                // short, and the facts are read again for the next request.
                out.unchanged = [this, stamp = part.stamp](int fd) {
                    if (fileStamp(fd) == stamp)
                        return true;
                    m_watch.invalidate();
                    return false;
                };
            }
            reply.pieces.push_back(std::move(out));
        }
    }
    reply.headers.append({QByteArrayLiteral("Content-Disposition"),
                          QByteArrayLiteral("attachment; filename=\"") +
                              (packagePrefix + name + packageSuffix).toLatin1() + '"'});
    // The address names the contents: caches in front of the server may keep it for good.
    reply.headers.append({QByteArrayLiteral("Cache-Control"),
                          QByteArrayLiteral("public, max-age=31536000, immutable")});
    reply.headers.append({QByteArrayLiteral("ETag"), '"' + name.toLatin1() + '"'});
    return reply;
}

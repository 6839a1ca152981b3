#pragma once

#include "circularcatalog.h"
#include "circularindex.h"
#include "folderwatch.h"
#include "httpfront.h"
#include "packagecache.h"

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

struct UpdateServerReply;
class CatalogPositions;

// How one update server runs, beyond its folder of circulars.
struct UpdateServerOptions {
    // Folder of the built packages; empty for a temporary folder removed with the server.
    QString cacheFolder;
    qint64 cacheBytes = PackageCache::defaultMaxBytes;
    qint64 cacheKeepSeconds = PackageCache::defaultKeepSeconds;
    // The address the clients reach the server at, such as "https://example.org/" (where
    // "Normativa/" is found): the redirect and the package link are then absolute addresses
    // under it. Empty: they are relative, and follow whatever address the client used.
    QUrl publicUrl;
    HttpLimits limits;
    // Hears every answer, on the network thread.
    std::function<void(const HttpLogEntry &)> log;
};

// The reference update server: serves the circulars of one folder the way the regulator's
// server does. Every address lies under the prefix "/Normativa/":
//
//   GET actualizacionesValores.asp
//       the list page; its first <label> holds the identifiers of every circular in the
//       folder, in natural order, separated by "," with no spaces
//   GET archivoValores.asp?Numeros=ID,ID,...
//       checks the list (percent-encoded identifiers are decoded; "+" is a plain "+"),
//       builds the package and answers 303 See Other to archivo.asp?paquete=NAME-SET
//   GET archivo.asp?paquete=NAME-SET
//       the answer page; its first link is the package, paquetes/SET/actualizacion-NAME.zip
//   GET paquetes/SET/actualizacion-NAME.zip
//       the package: a zip of the requested circulars as "circulares/<id>.pdf", and the
//       index of every circular served, "pagina/circulares.htm"; where the folder holds
//       the publisher's signed catalog, the catalog and its signature at the root instead
//   GET catalogo.txt, catalogo.txt.minisig
//       the signed catalog of the folder, where it has one
//
// SET is the requested set of circulars, written compactly (PackageSets); NAME is a hash of
// that set, of the contents of its files and of the index. Both are derived from the files
// alone, so every server over the same folder gives the same addresses for the same
// request, and any of them can build a package from its address while the files stay as
// they are. Packages are sent straight from the circulars' files, and kept on disk when
// asked for again (PackageCache); one no longer kept is built again from its address.
//
// Bad requests get a 4xx page in Spanish naming the problem; a missing folder gets 503;
// other addresses 404. HEAD is answered like GET without the body; other methods get 405;
// requests with a body 413. The network side is HttpFront: answers are prepared on worker
// threads, so a large package never holds up other clients.
class UpdateServer : public QObject {
    Q_OBJECT

public:
    static constexpr quint16 defaultPort = 8731;

    explicit UpdateServer(const QString &circularsFolder, QObject *parent = nullptr);
    UpdateServer(const QString &circularsFolder, UpdateServerOptions options,
                 QObject *parent = nullptr);
    ~UpdateServer() override;

    // Starts listening on the address and port; port 0 takes any free port. False, with
    // errorString() saying why, when the port or the cache folder cannot be had. Call once.
    bool listen(const QHostAddress &address = QHostAddress(QHostAddress::LocalHost),
                quint16 port = 0);
    bool isListening() const { return m_http != nullptr; }
    // The port and address listened on (the port chosen when 0 was asked for).
    quint16 serverPort() const;
    QHostAddress serverAddress() const;
    QString errorString() const { return m_error; }
    // The connection limit in force, and the connections open now.
    int connectionLimit() const;
    int openConnections() const;
    // The first step of a graceful stop: new connections are refused from now on, and those
    // waiting for a request of which nothing has come are closed; the requests in progress are
    // answered in full, each connection closing after its answer. openConnections() tells
    // when they are done; destroying the server ends whatever is left at once.
    void stopAccepting();

    // The prefix to put into the viewer's settings, "http://ADDRESS:PORT/Normativa/".
    QUrl baseUrl() const;
    static QString pathPrefix() { return QStringLiteral("/Normativa/"); }

    QString circularsFolder() const { return m_folder; }
    QString cacheFolder() const { return m_cache ? m_cache->folder() : QString(); }

    // Reads the folder ahead of the first requests: the index page (every circular's title)
    // and every circular's digest, so that the first clients do not wait for them. Returns
    // the number of circulars read. Optional; safe to call while serving.
    int warmUp();

    // The index page of the circulars in folder, as the packages carry it.
    static QByteArray indexPageOf(const QString &folder);

private:
    using Reply = UpdateServerReply;

    // A moment's view of the folder.
    struct Catalog {
        bool available = false;
        quint64 generation = 0;
        quint64 epoch = 0;          // of the folder's watch, read before the listing
        bool signedCatalog = false; // the folder holds the publisher's catalog
        QStringList identifiers;
        QHash<QString, QString> fileNames;
        // Where each identifier stands in identifiers: a set is worked out by positions,
        // each looked up once.
        std::shared_ptr<const CatalogPositions> positions;
    };
    // The index page as last made, and what it was made from.
    struct Index {
        quint64 generation = 0;
        quint64 epoch = 0; // the files' stamps were last looked at in this epoch
        qint64 checkedMs = 0;
        QList<FileStamp> stamps;
        QByteArray page;
        PackagePart part; // the page as a package entry, compressed once
        QByteArray digest;
        qint64 newestModified = 0; // seconds since the epoch
    };

    HttpAnswer answer(const HttpRequest &request);
    Reply route(const QString &method, const QString &target);
    Reply listPage();
    Reply requestPage(const QString &query);
    Reply answerPage(const QString &query);
    Reply package(const QString &set, const QString &name);
    // catalogo.txt or catalogo.txt.minisig, as the folder holds it.
    Reply catalogFile(const QString &name);

    Catalog catalog();
    // The most circulars a set may name: as many as the folder has held (packages made
    // before a circular was removed are kept still), as of the last catalog().
    qsizetype largestSet();
    Index index(const Catalog &catalog);
    // The package's name for the set, given by its circulars' positions in the catalog's
    // identifiers (in natural order); empty when a file cannot be read. *remembered, when
    // given, tells whether the name is one trusted for the whole epoch.
    QString packageName(const Catalog &catalog, const QList<qsizetype> &positions,
                        const Index &index, QList<PackagePart> *parts, bool *remembered = nullptr);
    // The set, parts and size of the package at paquetes/SET/actualizacion-NAME.zip, while
    // the files still make that name; the answer to give instead when they do not, or when
    // the package would be too large.
    std::optional<Reply> packageParts(const QString &name, const QString &set,
                                      QStringList *identifiers, QList<PackagePart> *parts,
                                      qint64 *size);
    QString publicPrefix() const;

    QString m_folder;
    UpdateServerOptions m_options;
    FolderWatch m_watch;
    std::mutex m_catalogMutex;
    CircularCatalog m_catalog;
    Catalog m_view;                                // the listing as of m_view.epoch
    std::shared_ptr<const std::string> m_listPage; // made from the listing of m_listGeneration
    quint64 m_listGeneration = 0;
    qsizetype m_largestCatalog = 0;
    std::mutex m_indexMutex;
    Index m_index;
    FileFacts m_facts;
    // The names and parts of the sets named lately (packageName), all of one epoch.
    struct Named {
        QString name;
        QByteArray indexDigest;
        bool signedCatalog = false;
        QList<PackagePart> parts;
    };
    // And of each circular named in them, by its position in the catalog.
    struct NamedCircular {
        QByteArray named; // what the package's name is made of: identifier, NUL, SHA-256
        PackagePart part;
    };
    // And the packages offered lately, by name: their answer pages and the packages
    // themselves find them at once, without reading their sets or naming them again.
    struct Offered {
        QString set; // as the addresses write it
        QStringList identifiers;
        QByteArray indexDigest;
        bool signedCatalog = false;
        QList<PackagePart> parts;
        qint64 size = 0;
    };
    // Remembers a package offered, when its name holds for the whole epoch.
    void offer(const Catalog &catalog, const Index &index, const QString &name, const QString &set,
               const QStringList &identifiers, const QList<PackagePart> &parts, qint64 size);
    std::mutex m_namedMutex;
    quint64 m_namedEpoch = 0;
    QHash<QList<qsizetype>, Named> m_named;
    std::vector<std::shared_ptr<const NamedCircular>> m_namedCirculars;
    QHash<QString, Offered> m_offered;
    qsizetype m_namedHeld = 0;   // parts in m_named (an entry named again counts twice)
    qsizetype m_offeredHeld = 0; // parts in m_offered, the same way
    std::unique_ptr<QTemporaryDir> m_temporaryCache;
    std::unique_ptr<PackageCache> m_cache;
    std::unique_ptr<HttpFront> m_http;
    QString m_error;
};

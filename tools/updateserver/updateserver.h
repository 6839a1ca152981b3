#pragma once

#include "circularcatalog.h"
#include "packagestore.h"

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>

class QAbstractHttpServer;
class QHttpServerRequest;
class QTcpServer;
class QTcpSocket;
struct UpdateServerReply;

// The reference update server: serves the circulars of one folder the way the regulator's
// server does. Every address lies under the prefix "/Normativa/":
//
//   GET actualizacionesValores.asp
//       the list page; its first <label> holds the identifiers of every circular in the
//       folder, in natural order, separated by "," with no spaces
//   GET archivoValores.asp?Numeros=ID,ID,...
//       checks the list (percent-encoded identifiers are decoded; "+" is a plain "+"),
//       builds the package and answers 303 See Other to archivo.asp?paquete=TOKEN
//   GET archivo.asp?paquete=TOKEN
//       the answer page; its first link is the package's absolute http address
//   GET paquetes/actualizacion-TOKEN.zip
//       the package: a zip of the requested circulars as "circulares/<id>.pdf"
//
// The token names the set of circulars and the state of their files, so the same request
// gives the same package while the files stay as they are. Bad requests get a 4xx page in
// Spanish naming the problem; a missing folder gets 503; other addresses 404. HEAD is
// answered like GET without the body; other methods get 405.
class UpdateServer : public QObject {
    Q_OBJECT

public:
    static constexpr quint16 defaultPort = 8731;

    explicit UpdateServer(const QString &circularsFolder, QObject *parent = nullptr);
    ~UpdateServer() override;

    // Starts listening on the address and port; port 0 takes any free port. False, with
    // errorString() saying why, when the port cannot be had. Call once.
    bool listen(const QHostAddress &address = QHostAddress(QHostAddress::LocalHost),
                quint16 port = 0);
    bool isListening() const;
    // The port and address listened on (the port chosen when 0 was asked for).
    quint16 serverPort() const;
    QHostAddress serverAddress() const;
    QString errorString() const { return m_error; }

    // The prefix to put into the viewer's settings, "http://ADDRESS:PORT/Normativa/".
    QUrl baseUrl() const;
    static QString pathPrefix() { return QStringLiteral("/Normativa/"); }

    QString circularsFolder() const { return m_catalog.folder(); }
    // Limits of the packages kept in memory (defaults: 32 packages, 256 MiB).
    void setPackageLimits(int maxPackages, qint64 maxBytes);

signals:
    // After every answer: the method, the address asked for (cut when very long) and the
    // status sent.
    void requestAnswered(const QString &method, const QString &target, int status);

private:
    using Reply = UpdateServerReply;

    void handle(const QHttpServerRequest &request, QTcpSocket *socket);
    Reply route(const QHttpServerRequest &request, QTcpSocket *socket);
    Reply listPage();
    Reply requestPage(const QUrl &url, const QString &origin);
    Reply answerPage(const QUrl &url, const QString &origin);
    Reply package(const QString &token);

    QString packageToken(const QStringList &identifiers) const;

    CircularCatalog m_catalog;
    PackageStore m_packages;
    std::unique_ptr<QAbstractHttpServer> m_http;
    QTcpServer *m_tcp = nullptr; // owned by m_http
    QString m_error;
};

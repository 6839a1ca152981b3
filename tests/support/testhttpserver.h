#pragma once

#include <QByteArray>
#include <QHash>
#include <QHttpServer>
#include <QStringList>

// Serves fixed pages on 127.0.0.1 at a free port and notes every path asked for.
class TestHttpServer {
public:
    // Starts listening; false when no port could be had.
    bool start();
    quint16 port() const { return m_port; }
    // The address of path on this server, such as "http://127.0.0.1:4711/x.htm".
    QString url(const QString &path) const;

    // Serves body at path, with status as the HTTP status (200, or 503 for a
    // server that is down for a while, say).
    void serve(const QString &path, const QByteArray &body,
               const QByteArray &type = QByteArrayLiteral("text/html; charset=utf-8"),
               int status = 200);

    QStringList requests;

private:
    struct Page {
        QByteArray body;
        QByteArray type;
        int status = 200;
    };
    QHttpServer m_server;
    QHash<QString, Page> m_pages;
    quint16 m_port = 0;
};

#include "testhttpserver.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>

bool TestHttpServer::start()
{
    m_server.setMissingHandler(
        [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
            const QString path = request.url().path();
            requests.append(path);
            const auto page = m_pages.constFind(path);
            if (page == m_pages.constEnd()) {
                responder.write(QByteArrayLiteral("<html><body>404</body></html>"),
                                QByteArrayLiteral("text/html"),
                                QHttpServerResponder::StatusCode::NotFound);
                return;
            }
            responder.write(page->body, page->type,
                            static_cast<QHttpServerResponder::StatusCode>(page->status));
        });
    m_port = m_server.listen(QHostAddress::LocalHost, 0);
    return m_port != 0;
}

QString TestHttpServer::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path);
}

void TestHttpServer::serve(const QString &path, const QByteArray &body, const QByteArray &type,
                           int status)
{
    m_pages.insert(path, {body, type, status});
}

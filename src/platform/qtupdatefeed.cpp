#include "qtupdatefeed.h"

#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QRegularExpression>

#include <memory>

namespace {

// Whether host is one the bypass list sends straight to the server.
bool bypassed(const QString &bypass, const QString &host)
{
    for (const QString &entry : bypass.split(u' ', Qt::SkipEmptyParts)) {
        if (entry == QLatin1String("<local>")) {
            if (!host.contains(u'.')) {
                return true;
            }
            continue;
        }
        const QRegularExpression pattern(
            QRegularExpression::wildcardToRegularExpression(entry.section(u':', 0, 0)),
            QRegularExpression::CaseInsensitiveOption);
        if (pattern.isValid() && pattern.match(host).hasMatch()) {
            return true;
        }
    }
    return false;
}

} // namespace

QtUpdateFeed::QtUpdateFeed(const std::optional<ProxyRecord> &proxy, int timeoutMs)
    : m_proxy(proxy)
    , m_timeoutMs(timeoutMs)
{
}

std::optional<QNetworkProxy> QtUpdateFeed::proxyFor(const std::optional<ProxyRecord> &record,
                                                    const QUrl &address)
{
    if (!record) {
        return std::nullopt;
    }
    if (record->accessType != ProxyAccess::Proxy || bypassed(record->bypass, address.host())) {
        return QNetworkProxy(QNetworkProxy::NoProxy);
    }
    // "http=host:port" serves plain addresses; an entry without a keyword serves every one.
    QString chosen;
    for (const QString &entry : record->proxy.split(u' ', Qt::SkipEmptyParts)) {
        if (entry.startsWith(address.scheme() + u'=', Qt::CaseInsensitive)) {
            chosen = entry.section(u'=', 1);
            break;
        }
        if (!entry.contains(u'=') && chosen.isEmpty()) {
            chosen = entry;
        }
    }
    const qsizetype colon = chosen.lastIndexOf(u':');
    bool portRead = false;
    const int port = colon < 0 ? 80 : chosen.mid(colon + 1).toInt(&portRead);
    const QString host = colon < 0 ? chosen : chosen.left(colon);
    if (host.isEmpty() || (colon >= 0 && (!portRead || port <= 0 || port > 65535))) {
        return QNetworkProxy(QNetworkProxy::NoProxy);
    }
    return QNetworkProxy(QNetworkProxy::HttpProxy, host, quint16(port));
}

void QtUpdateFeed::fetch(const QUrl &address, qint64 limit,
                         std::function<void(std::optional<QByteArray>)> done)
{
    const std::optional<QNetworkProxy> proxy = proxyFor(m_proxy, address);
    if (proxy) {
        m_network.setProxy(*proxy);
    } else {
        const QList<QNetworkProxy> system =
            QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery(address));
        m_network.setProxy(system.isEmpty() ? QNetworkProxy(QNetworkProxy::NoProxy)
                                            : system.first());
    }
    QNetworkRequest request(address);
    request.setTransferTimeout(m_timeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(3);
    QNetworkReply *reply = m_network.get(request);
    auto answer = std::make_shared<std::function<void(std::optional<QByteArray>)>>(std::move(done));
    // More than limit ends the transfer at once: nothing is kept beyond it.
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                     [reply, limit](qint64 received, qint64 total) {
                         if (received > limit || total > limit) {
                             reply->setProperty("tooLarge", true);
                             reply->abort();
                         }
                     });
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, limit, answer] {
        reply->deleteLater();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (reply->error() != QNetworkReply::NoError || status != 200 ||
            reply->property("tooLarge").toBool()) {
            (*answer)(std::nullopt);
            return;
        }
        const QByteArray body = reply->read(limit + 1);
        (*answer)(body.size() > limit ? std::nullopt : std::optional<QByteArray>(body));
    });
}

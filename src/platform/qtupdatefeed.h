#pragma once

#include "proxystore.h"
#include "updatefeed.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>

// The update feed over Qt Network, through the proxy the browser engine uses: the
// reader's stored record, or the system's configuration while none is stored.
class QtUpdateFeed final : public UpdateFeed {
public:
    explicit QtUpdateFeed(const std::optional<ProxyRecord> &proxy, int timeoutMs = 15000);

    void fetch(const QUrl &address, qint64 limit,
               std::function<void(std::optional<QByteArray>)> done) override;

    // The proxy record's answer for address: no proxy, one proxy, or nullopt when the
    // record leaves it to the system.
    static std::optional<QNetworkProxy> proxyFor(const std::optional<ProxyRecord> &record,
                                                 const QUrl &address);

private:
    QNetworkAccessManager m_network;
    std::optional<ProxyRecord> m_proxy;
    int m_timeoutMs;
};

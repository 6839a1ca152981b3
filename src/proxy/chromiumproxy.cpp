#include "chromiumproxy.h"

#include <algorithm>

namespace {
const QLatin1String socksKeyword("socks=");
const QLatin1String noLoopback("<-loopback>");
} // namespace

QStringList chromiumProxySwitches(const ProxyRecord &record)
{
    // Without a switch the engine would follow the system's settings, so a
    // stored direct connection says so explicitly.
    if (record.accessType == ProxyAccess::Direct) {
        return {QStringLiteral("--no-proxy-server")};
    }
    if (record.accessType != ProxyAccess::Proxy) {
        return {};
    }
    QStringList rules;
    for (const QString &entry : record.proxy.split(u' ', Qt::SkipEmptyParts)) {
        if (entry.startsWith(socksKeyword)) {
            const QString server = entry.mid(socksKeyword.size());
            rules.append(socksKeyword + (server.contains(QLatin1String("://"))
                                             ? server
                                             : QLatin1String("socks5://") + server));
        } else if (entry.startsWith(QLatin1String("http=")) ||
                   entry.startsWith(QLatin1String("https=")) ||
                   entry.startsWith(QLatin1String("ftp=")) || !entry.contains(u'=')) {
            rules.append(entry);
        }
    }
    if (rules.isEmpty()) {
        return {};
    }
    QStringList switches{QLatin1String("--proxy-server=") + rules.join(u';')};
    // The list is a set; Chromium reads its rules in order, later ones winning,
    // which matters only for the one rule that takes something away.
    QStringList bypass = record.bypass.split(u' ', Qt::SkipEmptyParts);
    std::stable_partition(bypass.begin(), bypass.end(),
                          [](const QString &entry) { return entry == noLoopback; });
    if (!bypass.isEmpty()) {
        switches.append(QLatin1String("--proxy-bypass-list=") + bypass.join(u';'));
    }
    return switches;
}

QStringList engineProxySwitches(const std::optional<ProxyRecord> &stored)
{
    return stored ? chromiumProxySwitches(*stored) : QStringList();
}

#include "collectioninterceptor.h"

#include "pageconfinement.h"

namespace {
// Schemes the engine serves from itself (the PDF viewer's pages among them):
// nothing of them leaves the machine.
bool servedByEngine(const QUrl &url)
{
    const QString scheme = url.scheme();
    return scheme == QLatin1String("data") || scheme == QLatin1String("blob") ||
           scheme == QLatin1String("about") || scheme == QLatin1String("chrome") ||
           scheme == QLatin1String("chrome-extension") || scheme == QLatin1String("qrc");
}
} // namespace

CollectionInterceptor::CollectionInterceptor(const Collection &collection, QObject *parent)
    : QWebEngineUrlRequestInterceptor(parent)
    , m_collection(collection)
{
}

QUrl CollectionInterceptor::resolve(const QUrl &url) const
{
    if (!url.isLocalFile() || m_collection.userFolder().isEmpty()) {
        return url;
    }
    const QString path = url.toLocalFile();
    const QString relative = m_collection.relativePathOf(path);
    if (relative.isEmpty()) {
        return url;
    }
    const QString resolved = m_collection.resolve(relative);
    if (resolved == path) {
        return url;
    }
    QUrl target = QUrl::fromLocalFile(resolved);
    target.setQuery(url.query());
    target.setFragment(url.fragment());
    return target;
}

void CollectionInterceptor::interceptRequest(QWebEngineUrlRequestInfo &info)
{
    const QUrl url = info.requestUrl();
    if (url.scheme() == QLatin1String("file")) {
        const QUrl target = resolve(url);
        if (!collectionMayServe(m_collection, target)) {
            info.block(true);
        } else if (target != url) {
            info.redirect(target);
        }
        return;
    }
    // A page's initiator is its origin ("file://" for every local page); the
    // first party is the page on screen, which a frame's or a worker's
    // request carries too.
    const bool fromCollection =
        info.initiator().scheme() == QLatin1String("file") || info.firstPartyUrl().isLocalFile();
    if (fromCollection && !servedByEngine(url) &&
        info.resourceType() != QWebEngineUrlRequestInfo::ResourceTypeMainFrame) {
        info.block(true);
    }
}

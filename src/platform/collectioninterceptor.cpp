#include "collectioninterceptor.h"

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
    const QUrl target = resolve(info.requestUrl());
    if (target != info.requestUrl()) {
        info.redirect(target);
    }
}

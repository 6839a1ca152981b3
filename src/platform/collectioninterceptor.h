#pragma once

#include "collection.h"

#include <QWebEngineUrlRequestInterceptor>

// Shows the collection as the reader sees it, and keeps its pages to it.
// A request for a file of the program folder or of the per-user folder is sent
// to the copy that wins (the newer one), so a page installed by an update, and
// the circulars it links to, open wherever they lie. A request for any other
// file, or for a folder, is refused; and what a page of the collection asks of
// the network for itself (images, scripts, frames, XMLHttpRequest, fetch,
// beacons) is refused too: only whole-page navigations, which the page's
// navigation rules have let through, leave the collection.
class CollectionInterceptor final : public QWebEngineUrlRequestInterceptor {
    Q_OBJECT
public:
    explicit CollectionInterceptor(const Collection &collection, QObject *parent = nullptr);

    void interceptRequest(QWebEngineUrlRequestInfo &info) override;

    // Where a request for url goes: the winning copy of a collection file,
    // url itself otherwise.
    QUrl resolve(const QUrl &url) const;

private:
    Collection m_collection;
};

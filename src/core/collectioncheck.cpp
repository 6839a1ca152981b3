#include "collectioncheck.h"

#include "collection.h"
#include "updatecontract.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

QByteArray fileSha256(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly) || !hash.addData(&file)) {
        return {};
    }
    return hash.result().toHex();
}

QList<CatalogDifference> differencesFrom(const Collection &collection, const Catalog &catalog)
{
    QList<CatalogDifference> differences;
    const QHash<QString, CatalogFile> listed = catalog.filesByPath();
    QList<CatalogFile> inOrder;
    for (const CatalogCircular &circular : catalog.circulars) {
        inOrder.append(listed.value(circularPath(circular.number)));
    }
    inOrder += catalog.files;
    for (const CatalogFile &file : inOrder) {
        const QString path = collection.resolve(file.path);
        const QFileInfo info(path);
        if (!info.isFile()) {
            differences.append({CatalogDifference::Kind::Missing, file.path});
        } else if (info.size() != file.size || fileSha256(path) != file.sha256) {
            differences.append({CatalogDifference::Kind::Changed, file.path});
        }
    }
    QStringList unlisted;
    for (const CollectionFile &file : collection.files(UpdateContract::circularsFolder)) {
        if (!listed.contains(file.relativePath)) {
            unlisted.append(file.relativePath);
        }
    }
    std::sort(unlisted.begin(), unlisted.end());
    for (const QString &path : unlisted) {
        differences.append({CatalogDifference::Kind::Unlisted, path});
    }
    return differences;
}

// Where the index of a collection lives and what it takes in: apart from the index itself,
// so that the window names them without the index's libraries.

#include "searchindex.h"

#include "updatecontract.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

namespace {
const QString kindCircular = QStringLiteral("circular");
const QString kindManual = QStringLiteral("manual");
const QString kindPage = QStringLiteral("página");
} // namespace

QString documentKind(const QString &relativePath)
{
    const QString lower = relativePath.toLower();
    if (lower.endsWith(QLatin1String(".pdf"))) {
        return lower.startsWith(QLatin1String("circulares/")) ? kindCircular : kindManual;
    }
    if (lower.endsWith(QLatin1String(".htm")) || lower.endsWith(QLatin1String(".html"))) {
        return kindPage;
    }
    return {};
}

QString indexFolderFor(const Collection &collection, const QString &cacheFolder)
{
    const QDir cache(cacheFolder);
    const QString folder = cache.filePath(QStringLiteral("indice-") + collection.id().key());
    if (QFileInfo::exists(folder)) {
        return folder;
    }
    // Earlier versions named the index after the paths the collection was opened by; an
    // index under that name is taken over rather than built again.
    const QString earlierKey =
        QDir(collection.programFolder()).absolutePath() + u'\n' +
        (collection.userFolder().isEmpty() ? QString()
                                           : QDir(collection.userFolder()).absolutePath());
    const QString earlier = cache.filePath(
        QStringLiteral("indice-") +
        QString::fromLatin1(QCryptographicHash::hash(earlierKey.toUtf8(), QCryptographicHash::Sha1)
                                .toHex()
                                .left(16)));
    if (QFileInfo(earlier).isDir() && !QFileInfo(earlier).isSymLink()) {
        QDir().rename(earlier, folder);
    }
    return folder;
}

bool hasCollectionLayout(const Collection &collection)
{
    for (const QString &root : {collection.programFolder(), collection.userFolder()}) {
        if (root.isEmpty()) {
            continue;
        }
        for (const QLatin1String folder :
             {UpdateContract::pagesFolder, UpdateContract::circularsFolder}) {
            if (QFileInfo(QDir(root).filePath(folder)).isDir()) {
                return true;
            }
        }
    }
    return false;
}

QString notACollectionText(const QString &folder)
{
    return QStringLiteral("la carpeta %1 no es una colección: no tiene %2/ ni %3/")
        .arg(QDir::toNativeSeparators(folder), UpdateContract::pagesFolder,
             UpdateContract::circularsFolder);
}

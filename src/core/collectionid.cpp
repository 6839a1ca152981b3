#include "collectionid.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

CollectionId CollectionId::of(const QString &folder)
{
    const QFileInfo info(folder);
    const QString canonical = info.canonicalFilePath();
    CollectionId id;
    id.m_folder = QDir::cleanPath(canonical.isEmpty() ? info.absoluteFilePath() : canonical);
    const QString settings = QDir(id.m_folder).filePath(QStringLiteral("legisdis.ini"));
    id.m_key = QString::fromLatin1(
        QCryptographicHash::hash(settings.toUtf8(), QCryptographicHash::Sha256).toHex().left(16));
    return id;
}

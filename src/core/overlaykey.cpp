#include "overlaykey.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

QString overlayKey(const QString &file)
{
    const QFileInfo info(file);
    const QString canonicalFolder = QFileInfo(info.absolutePath()).canonicalFilePath();
    const QString folder = canonicalFolder.isEmpty() ? info.absolutePath() : canonicalFolder;
    const QString original = QDir(folder).filePath(info.fileName());
    return QString::fromLatin1(
        QCryptographicHash::hash(original.toUtf8(), QCryptographicHash::Sha256).toHex().left(16));
}

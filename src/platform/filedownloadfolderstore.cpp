#include "filedownloadfolderstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

FileDownloadFolderStore::FileDownloadFolderStore(const QString &file)
    : m_file(file)
{
}

QString FileDownloadFolderStore::defaultFile()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation))
        .filePath(QStringLiteral("download-directory"));
}

std::optional<QString> FileDownloadFolderStore::folder() const
{
    QFile file(m_file);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    QString text = QString::fromUtf8(file.readAll());
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r'))) {
        text.chop(1);
    }
    return text;
}

bool FileDownloadFolderStore::setFolder(const QString &folder)
{
    if (!QDir().mkpath(QFileInfo(m_file).path())) {
        return false;
    }
    QSaveFile file(m_file);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    const QByteArray data = folder.toUtf8() + '\n';
    // commit() alone can report success after a failed write.
    if (file.write(data) != data.size() || !file.flush()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

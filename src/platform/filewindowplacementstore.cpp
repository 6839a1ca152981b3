#include "filewindowplacementstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace {
// A saved geometry is some sixty bytes; anything much larger is not one.
constexpr qint64 maxPlacementBytes = 4096;
} // namespace

FileWindowPlacementStore::FileWindowPlacementStore(const QString &path)
    : m_path(path)
{
}

QString FileWindowPlacementStore::defaultPath()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
        .filePath(QStringLiteral("ventana.dat"));
}

QByteArray FileWindowPlacementStore::load() const
{
    const QFileInfo info(m_path);
    if (!info.isFile() || info.size() > maxPlacementBytes) {
        return {};
    }
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.read(maxPlacementBytes);
}

bool FileWindowPlacementStore::save(const QByteArray &placement)
{
    if (placement.size() > maxPlacementBytes || !QDir().mkpath(QFileInfo(m_path).path())) {
        return false;
    }
    QSaveFile file(m_path);
    return file.open(QIODevice::WriteOnly) && file.write(placement) == placement.size() &&
           file.commit();
}

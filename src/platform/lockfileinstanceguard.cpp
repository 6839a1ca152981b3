#include "lockfileinstanceguard.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

LockFileInstanceGuard::LockFileInstanceGuard(const QString &programFolder)
    : m_programFolder(programFolder)
{
}

bool LockFileInstanceGuard::previousInstance()
{
    if (m_lock) {
        return false;
    }
    auto lock = std::make_unique<QLockFile>(lockPathFor(m_programFolder));
    // A running instance may hold the lock for days: only a dead owner makes it stale.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        // An unusable runtime folder must not keep the program from starting.
        return lock->error() == QLockFile::LockFailedError;
    }
    m_lock = std::move(lock);
    return false;
}

QString LockFileInstanceGuard::lockPathFor(const QString &programFolder)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        folder = QDir::tempPath();
    }
    const QString canonical = QFileInfo(programFolder).absoluteFilePath();
    const QByteArray hash =
        QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return QDir(folder).filePath(QStringLiteral("legisdisco-") + QString::fromLatin1(hash) +
                                 QStringLiteral(".lock"));
}

#include "installlock.h"

#include "collectionid.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

InstallLock::InstallLock(const QString &collectionFolder)
    : m_path(lockPathFor(collectionFolder))
{
}

InstallLock::~InstallLock()
{
    unlock();
}

InstallLock::Attempt InstallLock::tryLock()
{
    if (m_descriptor >= 0) {
        return Attempt::Held;
    }
    // Close-on-exec: a program started meanwhile must not keep the lock alive.
    const int descriptor =
        ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        return Attempt::Failed;
    }
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        const bool busy = errno == EWOULDBLOCK;
        ::close(descriptor);
        return busy ? Attempt::Busy : Attempt::Failed;
    }
    m_descriptor = descriptor;
    return Attempt::Held;
}

void InstallLock::unlock()
{
    if (m_descriptor >= 0) {
        ::close(m_descriptor); // the only descriptor: closing it drops the lock
        m_descriptor = -1;
    }
}

QString InstallLock::lockPathFor(const QString &collectionFolder)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        folder = QDir::tempPath();
    }
    return QDir(folder).filePath(QStringLiteral("legisdisco-") +
                                 CollectionId::of(collectionFolder).key() +
                                 QStringLiteral("-instalacion.lock"));
}

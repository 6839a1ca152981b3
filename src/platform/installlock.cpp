#include "installlock.h"

#include "collectionid.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// Locks descriptor without waiting; closes it unless the lock is now held.
InstallLock::Attempt lockOrClose(int descriptor, int *held)
{
    if (::flock(descriptor, LOCK_EX | LOCK_NB) == 0) {
        *held = descriptor;
        return InstallLock::Attempt::Held;
    }
    const bool busy = errno == EWOULDBLOCK;
    ::close(descriptor);
    return busy ? InstallLock::Attempt::Busy : InstallLock::Attempt::Failed;
}

} // namespace

InstallLock::InstallLock(const QString &collectionFolder)
    : m_folder(collectionFolder)
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
    const int folder =
        ::open(QFile::encodeName(m_folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        return Attempt::Failed;
    }
    const Attempt attempt = lockOrClose(folder, &m_descriptor);
    if (attempt != Attempt::Failed) {
        return attempt;
    }
    // A file system that locks no folders (some network ones) locks a file all the same.
    const int file = ::open(QFile::encodeName(lockPathFor(m_folder)).constData(),
                            O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    return file < 0 ? Attempt::Failed : lockOrClose(file, &m_descriptor);
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

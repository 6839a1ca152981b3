#include "lockfileinstanceguard.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

LockFileInstanceGuard::LockFileInstanceGuard(const CollectionId &collection)
    : m_collection(collection)
{
}

LockFileInstanceGuard::~LockFileInstanceGuard()
{
    release();
}

bool LockFileInstanceGuard::previousInstance()
{
    if (m_descriptor >= 0) {
        return false;
    }
    const QByteArray path = QFile::encodeName(lockPathFor(m_collection));
    // Close-on-exec: a program started from this one must not inherit the lock.
    const int descriptor = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        // An unusable runtime folder must not keep the program from starting.
        return false;
    }
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(descriptor);
        return held;
    }
    m_descriptor = descriptor;
    const QByteArray pid = QByteArray::number(QCoreApplication::applicationPid()) + '\n';
    if (::ftruncate(descriptor, 0) == 0) {
        [[maybe_unused]] const ssize_t written =
            ::pwrite(descriptor, pid.constData(), size_t(pid.size()), 0);
    }
    return false;
}

void LockFileInstanceGuard::release()
{
    if (m_descriptor >= 0) {
        ::close(m_descriptor); // closing the only descriptor drops the lock
        m_descriptor = -1;
    }
}

QString LockFileInstanceGuard::lockPathFor(const CollectionId &collection)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        folder = QDir::tempPath();
    }
    return QDir(folder).filePath(QStringLiteral("legisdisco-") + collection.key() +
                                 QStringLiteral(".lock"));
}

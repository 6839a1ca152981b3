#include "packagecache.h"

#include "openread.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <vector>

namespace {

const QLatin1String zipSuffix(".zip");
const QLatin1String temporarySuffix(".tmp");
// Temporary files older than this are left over from a build that died: removed at start.
constexpr qint64 staleTemporaryMs = 3600 * 1000;
// Once over its limit, the folder is trimmed to this share of it, so that it is not trimmed
// again at the very next package.
constexpr double trimTo = 0.9;
// Past this many times its limit, the folder loses recently asked-for packages too.
constexpr qint64 hardLimitFactor = 2;
// How many package names are remembered as asked for.
constexpr qsizetype askedNames = 100000;

QString stoppingReason()
{
    return QStringLiteral("el servidor se está deteniendo");
}

bool writeAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t done = ::write(fd, data, size_t(size));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        data += done;
        size -= done;
    }
    return true;
}

} // namespace

PackageCache::PackageCache(const QString &folder, qint64 maxBytes, qint64 keepSeconds)
    : m_folder(folder)
    , m_maxBytes(qMax<qint64>(1, maxBytes))
    , m_keepMs(qMax<qint64>(0, keepSeconds) * 1000)
{
}

bool PackageCache::open(QString *error)
{
    if (!QDir().mkpath(m_folder)) {
        *error = QStringLiteral("cannot create the cache folder %1").arg(m_folder);
        return false;
    }
    const QFileInfo info(m_folder);
    if (!info.isDir() || !info.isWritable()) {
        *error = QStringLiteral("the cache folder %1 is not writable").arg(m_folder);
        return false;
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_kept.clear();
    m_bytes = 0;
    QDirIterator it(m_folder, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QFileInfo file = it.fileInfo();
        const qint64 modified = file.lastModified().toMSecsSinceEpoch();
        if (file.fileName().endsWith(temporarySuffix)) {
            if (now - modified > staleTemporaryMs)
                QFile::remove(file.filePath());
        } else if (file.fileName().endsWith(zipSuffix)) {
            const QString name = file.fileName().chopped(zipSuffix.size());
            m_kept.insert(name, {file.size(), modified});
            m_bytes += file.size();
        }
    }
    return true;
}

QString PackageCache::pathOf(const QString &name) const
{
    return m_folder + QLatin1Char('/') + name + zipSuffix;
}

bool PackageCache::openKept(const QString &name, qint64 size, PackageData *package)
{
    // Opened at once: once open, the file stays the request's whatever happens to its name.
    const QByteArray path = QFile::encodeName(pathOf(name));
    const int fd = openToRead(path.constData());
    if (fd < 0)
        return false; // not there, or removed meanwhile: built again
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return false;
    }
    if (qint64(info.st_size) != size) {
        // Cut short (renamed into place by a process that died before its data reached the
        // disk) or not a package at all: never served, and removed, unless another process
        // has put a whole one in its place meanwhile. Built again.
        struct stat now {};
        if (::stat(path.constData(), &now) == 0 && now.st_ino == info.st_ino &&
            now.st_dev == info.st_dev)
            ::unlink(path.constData());
        ::close(fd);
        forget(name);
        return false;
    }
    // The file's time says when it was last asked for, to every process sharing the folder.
    ::futimens(fd, nullptr);
    record(name, size);
    package->file = fd;
    package->size = size;
    return true;
}

bool PackageCache::findKept(const QString &name, qint64 size, PackageData *package)
{
    return openKept(name, size, package);
}

bool PackageCache::askedBefore(const QString &name)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_asked.contains(name))
        return true;
    // A bounded memory of names: forgotten all at once when full, which only delays
    // writing a few packages asked for again.
    if (m_asked.size() >= askedNames)
        m_asked.clear();
    m_asked.insert(name);
    return false;
}

bool PackageCache::keep(const QString &name, const QList<PackagePart> &parts, qint64 size,
                        PackageData *package, QString *error)
{
    std::mutex &building = m_building[qHash(name) % m_building.size()];
    const std::lock_guard<std::mutex> buildLock(building);
    // Written meanwhile by another request, or another server.
    if (openKept(name, size, package))
        return true;
    if (!reserve(size, error))
        return false;
    const int fd = store(
        name, size,
        [this, &parts](int fd, QString *writeError) {
            return PackageZip::write(
                parts,
                [this, fd, writeError](const char *data, qint64 length) {
                    return writeOut(fd, data, length, writeError);
                },
                writeError);
        },
        error);
    if (fd < 0)
        return false;
    package->file = fd;
    package->size = size;
    return true;
}

bool PackageCache::writeOut(int fd, const char *data, qint64 size, QString *error) const
{
    if (m_stopping) {
        *error = stoppingReason();
        return false;
    }
    if (!writeAll(fd, data, size)) {
        *error = QStringLiteral("no se pudo escribir el paquete en el disco");
        return false;
    }
    return true;
}

bool PackageCache::reserve(qint64 size, QString *error)
{
    QStringList doomed;
    bool reserved = false;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping) {
            *error = stoppingReason();
        } else if (makeRoom(size, &doomed)) {
            m_reserved += size;
            reserved = true;
        } else {
            *error = QStringLiteral("el servidor está preparando muchos otros paquetes");
        }
    }
    // Removed outside the lock, so that other requests go on meanwhile; requests sending
    // these packages have them open and go on reading them.
    for (const QString &path : std::as_const(doomed))
        QFile::remove(path);
    return reserved;
}

bool PackageCache::makeRoom(qint64 size, QStringList *doomed)
{
    const qint64 limit = hardLimitFactor * m_maxBytes;
    if (m_bytes + m_reserved + size <= limit)
        return true;
    // Every package kept may go; builds in progress stay. A package larger than the limit
    // on its own needs an empty folder.
    if (m_reserved > 0 && m_reserved + size > limit)
        return false;
    std::vector<std::pair<qint64, QString>> candidates;
    candidates.reserve(std::size_t(m_kept.size()));
    for (auto it = m_kept.cbegin(); it != m_kept.cend(); ++it)
        candidates.emplace_back(it->usedMs, it.key());
    std::sort(candidates.begin(), candidates.end());
    for (const auto &candidate : candidates) {
        if (m_bytes + m_reserved + size <= limit)
            break;
        doomed->append(pathOf(candidate.second));
        m_bytes -= m_kept.value(candidate.second).size;
        m_kept.remove(candidate.second);
    }
    return true;
}

int PackageCache::store(const QString &name, qint64 size, const Writer &write, QString *error)
{
    static std::atomic<quint64> serial{0};
    const QString temporary = QStringLiteral("%1/.%2-%3-%4%5")
                                  .arg(m_folder, name, QString::number(::getpid()),
                                       QString::number(++serial), temporarySuffix);
    const QByteArray temporaryName = QFile::encodeName(temporary);
    // Opened for reading too: the request sends the package from this very file.
    int fd = ::open(temporaryName.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    bool stored = fd >= 0;
    if (!stored)
        *error = QStringLiteral("no se pudo crear el paquete en el disco");
    if (stored && !write(fd, error)) {
        stored = false;
        if (error->isEmpty())
            *error = QStringLiteral("no se pudo escribir el paquete en el disco");
    }
    struct stat info {};
    if (stored && (::fstat(fd, &info) != 0 || qint64(info.st_size) != size)) {
        stored = false;
        *error = QStringLiteral("el paquete no tiene el tamaño previsto");
    }
    // On the disk before it takes its name: after a power cut, a package's name never holds
    // less than the package.
    if (stored && ::fsync(fd) != 0) {
        stored = false;
        *error = QStringLiteral("no se pudo escribir el paquete en el disco");
    }
    if (stored &&
        ::rename(temporaryName.constData(), QFile::encodeName(pathOf(name)).constData()) != 0) {
        stored = false;
        *error = QStringLiteral("no se pudo guardar el paquete");
    }
    if (stored)
        syncFolder(); // and the name itself, so that the package is found after a restart
    if (!stored && fd >= 0) {
        ::close(fd);
        ::unlink(temporaryName.constData());
        fd = -1;
    }
    QStringList doomed;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_reserved -= size;
        if (stored) {
            recordLocked(name, size);
            doomed = trim(name);
        }
    }
    for (const QString &path : std::as_const(doomed))
        QFile::remove(path);
    if (fd >= 0)
        ::lseek(fd, 0, SEEK_SET);
    return fd;
}

void PackageCache::syncFolder() const
{
    const int folder =
        ::open(QFile::encodeName(m_folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

void PackageCache::forget(const QString &name)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_kept.constFind(name);
    if (it == m_kept.constEnd())
        return;
    m_bytes -= it->size;
    m_kept.erase(it);
}

void PackageCache::record(const QString &name, qint64 size)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    recordLocked(name, size);
}

void PackageCache::recordLocked(const QString &name, qint64 size)
{
    Kept &kept = m_kept[name];
    m_bytes += size - kept.size;
    kept.size = size;
    kept.usedMs = QDateTime::currentMSecsSinceEpoch();
}

QStringList PackageCache::trim(const QString &spared)
{
    QStringList doomed;
    // Builds in progress count: they are about to land.
    qint64 total = m_bytes + m_reserved;
    if (total <= m_maxBytes)
        return doomed;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    // Past twice the limit (packages found at start, or recorded from other processes
    // sharing the folder), recent packages go too, oldest first: the disk must not fill,
    // and a package removed is built again from its address.
    const bool overHard = total > hardLimitFactor * m_maxBytes;
    if (now < m_nextTrimMs && !overHard)
        return doomed;
    std::vector<std::pair<qint64, QString>> candidates;
    std::size_t old = 0;
    qint64 oldestKept = now;
    for (auto it = m_kept.cbegin(); it != m_kept.cend(); ++it) {
        if (it.key() == spared)
            continue;
        if (now - it->usedMs >= m_keepMs) {
            candidates.emplace_back(it->usedMs, it.key());
            ++old;
        } else {
            oldestKept = qMin(oldestKept, it->usedMs);
            if (overHard)
                candidates.emplace_back(it->usedMs, it.key());
        }
    }
    // Everything asked for too recently: nothing can go before the oldest of it is old
    // enough (or a second from now, to look again at packages shared with other servers).
    if (old == 0 && !overHard) {
        m_nextTrimMs = qMax(now + 1000, oldestKept + m_keepMs);
        return doomed;
    }
    std::sort(candidates.begin(), candidates.end());
    const qint64 target = qint64(double(m_maxBytes) * trimTo);
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        // Recent packages only while over the hard limit.
        if (total <= target || (i >= old && total <= m_maxBytes))
            break;
        const QString &name = candidates[i].second;
        doomed.append(pathOf(name));
        const qint64 size = m_kept.value(name).size;
        m_bytes -= size;
        total -= size;
        m_kept.remove(name);
    }
    return doomed;
}

void PackageCache::stop()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
}

qint64 PackageCache::bytes() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_bytes;
}

#include "packagecache.h"

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
// The largest package built in memory, as a share of the memory allowed: larger ones go
// to the folder, so that a few of them cannot push every other package out.
constexpr qint64 heldShare = 8;

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

PackageCache::PackageCache(const QString &folder, qint64 maxBytes, qint64 keepSeconds,
                           qint64 memoryBytes)
    : m_folder(folder)
    , m_maxBytes(qMax<qint64>(1, maxBytes))
    , m_keepMs(qMax<qint64>(0, keepSeconds) * 1000)
    , m_memoryBytes(qMax<qint64>(0, memoryBytes))
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

QString PackageCache::existing(const QString &name)
{
    const QString path = pathOf(name);
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return {};
    // The file's time says when it was last asked for, to every process sharing the folder.
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), nullptr, 0);
    record(name, qint64(info.st_size));
    return path;
}

bool PackageCache::obtain(const QString &name, const PartsMaker &makeParts, PackageData *package,
                          QString *error)
{
    return find(name, makeParts, true, package, error);
}

qint64 PackageCache::prepare(const QString &name, const PartsMaker &makeParts, QString *error)
{
    PackageData package;
    if (!find(name, makeParts, false, &package, error))
        return -1;
    if (package.file >= 0)
        ::close(package.file);
    return package.size;
}

bool PackageCache::find(const QString &name, const PartsMaker &makeParts, bool asked,
                        PackageData *package, QString *error)
{
    std::mutex &building = m_building[qHash(name) % m_building.size()];
    const std::lock_guard<std::mutex> buildLock(building);

    std::shared_ptr<const std::string> held;
    bool writeHeld = false;
    bool inFolder = false;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_heldByName.constFind(name);
        if (it != m_heldByName.constEnd()) {
            // Asked for again: to the front, and into the folder the second time.
            m_held.splice(m_held.begin(), m_held, *it);
            Held &entry = m_held.front();
            held = entry.bytes;
            if (asked)
                ++entry.uses;
            writeHeld = entry.uses >= 2 && !entry.written;
            inFolder = entry.written;
            entry.written = entry.written || writeHeld;
        }
    }
    if (held) {
        if (writeHeld) {
            QString ignored; // kept in memory still: a failed write costs nothing now
            store(
                name,
                [&held](int fd, QString *) {
                    return writeAll(fd, held->data(), qint64(held->size()));
                },
                &ignored);
        } else if (inFolder && asked) {
            existing(name); // for the books of every process sharing the folder
        }
        package->bytes = std::move(held);
        package->size = qint64(package->bytes->size());
        return true;
    }

    // In the folder; or removed between finding and opening it, and built again.
    const QString there = existing(name);
    if (!there.isEmpty() && openFile(there, package))
        return true;

    QList<PackagePart> parts;
    if (!makeParts(&parts, error))
        return false;
    return build(name, parts, asked ? 1 : 0, package, error);
}

bool PackageCache::build(const QString &name, const QList<PackagePart> &parts, int uses,
                         PackageData *package, QString *error)
{
    const qint64 size = PackageZip::sizeOf(parts);
    if (size < 0) {
        *error = QStringLiteral("el paquete superaría el tamaño máximo de un archivo zip");
        return false;
    }
    if (size <= m_memoryBytes / heldShare) {
        auto bytes = std::make_shared<std::string>();
        bytes->reserve(std::size_t(size));
        const bool written = PackageZip::write(
            parts,
            [&bytes](const char *data, qint64 length) {
                bytes->append(data, std::size_t(length));
                return true;
            },
            error);
        if (!written)
            return false;
        if (qint64(bytes->size()) != size) {
            *error = QStringLiteral("el paquete no tiene el tamaño previsto");
            return false;
        }
        package->bytes = bytes;
        package->size = size;
        hold(name, std::move(bytes), uses);
        return true;
    }
    const bool stored = store(
        name,
        [&parts](int fd, QString *writeError) {
            return PackageZip::write(
                parts, [fd](const char *data, qint64 length) { return writeAll(fd, data, length); },
                writeError);
        },
        error);
    return stored && openFile(pathOf(name), package);
}

bool PackageCache::store(const QString &name,
                         const std::function<bool(int fd, QString *error)> &write, QString *error)
{
    static std::atomic<quint64> serial{0};
    const QString temporary = QStringLiteral("%1/.%2-%3-%4%5")
                                  .arg(m_folder, name, QString::number(::getpid()),
                                       QString::number(++serial), temporarySuffix);
    const QByteArray temporaryName = QFile::encodeName(temporary);
    const int fd = ::open(temporaryName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = QStringLiteral("no se pudo crear el paquete en el disco");
        return false;
    }
    struct stat info {};
    bool written = write(fd, error) && ::fstat(fd, &info) == 0;
    written = ::close(fd) == 0 && written;
    if (!written && error->isEmpty())
        *error = QStringLiteral("no se pudo escribir el paquete en el disco");
    if (written &&
        ::rename(temporaryName.constData(), QFile::encodeName(pathOf(name)).constData()) != 0) {
        *error = QStringLiteral("no se pudo guardar el paquete");
        written = false;
    }
    if (!written) {
        ::unlink(temporaryName.constData());
        return false;
    }
    record(name, qint64(info.st_size));
    // Removed outside the lock, so that other requests go on meanwhile.
    for (const QString &doomed : trim(name))
        QFile::remove(doomed);
    return true;
}

bool PackageCache::openFile(const QString &path, PackageData *package)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    package->file = fd;
    package->size = qint64(info.st_size);
    return true;
}

void PackageCache::hold(const QString &name, std::shared_ptr<const std::string> bytes, int uses)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_heldBytes += qint64(bytes->size());
    m_held.push_front({name, std::move(bytes), uses, false});
    m_heldByName.insert(name, m_held.begin());
    // Least recently asked for first; the package just built stays.
    while (m_heldBytes > m_memoryBytes && m_held.size() > 1) {
        const Held &last = m_held.back();
        m_heldBytes -= qint64(last.bytes->size());
        m_heldByName.remove(last.name);
        m_held.pop_back();
    }
}

void PackageCache::record(const QString &name, qint64 size)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    Kept &kept = m_kept[name];
    m_bytes += size - kept.size;
    kept.size = size;
    kept.usedMs = QDateTime::currentMSecsSinceEpoch();
}

QStringList PackageCache::trim(const QString &spared)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    QStringList doomed;
    if (m_bytes <= m_maxBytes)
        return doomed;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    // Past twice the limit (a flood of new sets), recent packages go too, oldest first:
    // the disk must not fill, and a package removed is built again from its address.
    const bool overHard = m_bytes > hardLimitFactor * m_maxBytes;
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
        if (m_bytes <= target || (i >= old && m_bytes <= m_maxBytes))
            break;
        const QString &name = candidates[i].second;
        doomed.append(pathOf(name));
        m_bytes -= m_kept.value(name).size;
        m_kept.remove(name);
    }
    return doomed;
}

qint64 PackageCache::bytes() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_bytes;
}

qint64 PackageCache::memoryBytes() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_heldBytes;
}

#include "packagecache.h"

#include "circularcatalog.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <zip.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <memory>
#include <thread>
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

QString zipError(zip_t *archive)
{
    return QString::fromLocal8Bit(zip_strerror(archive));
}

bool isNumber(const QString &identifier)
{
    if (identifier.isEmpty() || identifier.size() > 18 ||
        (identifier.size() > 1 && identifier.at(0) == u'0'))
        return false;
    return std::all_of(identifier.cbegin(), identifier.cend(),
                       [](QChar c) { return c >= u'0' && c <= u'9'; });
}

constexpr auto base64Url = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

} // namespace

bool writeZipArchive(const QList<PackagePart> &parts, const QString &path, QString *error)
{
    int code = 0;
    zip_t *archive =
        zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!archive) {
        zip_error_t zipError;
        zip_error_init_with_code(&zipError, code);
        *error = QStringLiteral("no se pudo crear %1: %2")
                     .arg(path, QString::fromLocal8Bit(zip_error_strerror(&zipError)));
        zip_error_fini(&zipError);
        return false;
    }
    // Archives of parts compressed already, open until the package is closed.
    std::vector<std::unique_ptr<zip_t, void (*)(zip_t *)>> copied;
    for (const PackagePart &part : parts) {
        if (!part.zipped.isEmpty()) {
            zip_error_t zipError;
            zip_error_init(&zipError);
            zip_source_t *buffer = zip_source_buffer_create(
                part.zipped.constData(), zip_uint64_t(part.zipped.size()), 0, &zipError);
            zip_t *from = buffer ? zip_open_from_source(buffer, ZIP_RDONLY, &zipError) : nullptr;
            zip_error_fini(&zipError);
            if (!from) {
                if (buffer)
                    zip_source_free(buffer);
                *error = QStringLiteral("no se pudo leer %1").arg(part.name);
                zip_discard(archive);
                return false;
            }
            copied.emplace_back(from, zip_discard);
            zip_source_t *source = zip_source_zip(archive, from, 0, 0, 0, -1);
            const zip_int64_t index =
                source ? zip_file_add(archive, part.name.toUtf8().constData(), source,
                                      ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE)
                       : -1;
            if (index < 0) {
                if (source)
                    zip_source_free(source);
                *error = QStringLiteral("no se pudo añadir %1 al paquete").arg(part.name);
                zip_discard(archive);
                return false;
            }
            zip_file_set_mtime(archive, zip_uint64_t(index), time_t(part.modified), 0);
            continue;
        }
        zip_source_t *source =
            part.path.isEmpty()
                ? zip_source_buffer(archive, part.data.constData(), zip_uint64_t(part.data.size()),
                                    0)
                : zip_source_file(archive, QFile::encodeName(part.path).constData(), 0, 0);
        const zip_int64_t index = source ? zip_file_add(archive, part.name.toUtf8().constData(),
                                                        source, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE)
                                         : -1;
        if (index < 0) {
            if (source)
                zip_source_free(source);
            *error = QStringLiteral("no se pudo añadir %1 al paquete: %2")
                         .arg(part.name, zipError(archive));
            zip_discard(archive);
            return false;
        }
        const bool pdf = part.name.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive);
        zip_set_file_compression(archive, zip_uint64_t(index), pdf ? ZIP_CM_STORE : ZIP_CM_DEFLATE,
                                 0);
        const qint64 modified =
            part.path.isEmpty() ? part.modified : part.stamp.modifiedNs / 1000000000;
        zip_file_set_mtime(archive, zip_uint64_t(index), time_t(modified), 0);
    }
    if (zip_close(archive) < 0) {
        *error = QStringLiteral("no se pudo escribir el paquete: %1").arg(zipError(archive));
        zip_discard(archive);
        QFile::remove(path);
        return false;
    }
    // A file that changed while it was packed would give the package contents other than
    // the ones it is named after.
    for (const PackagePart &part : parts) {
        if (!part.path.isEmpty() && fileStamp(part.path) != part.stamp) {
            *error = QStringLiteral("%1 cambió mientras se preparaba el paquete").arg(part.name);
            QFile::remove(path);
            return false;
        }
    }
    return true;
}

QByteArray zipOneEntry(const PackagePart &part, QString *error)
{
    zip_error_t zipError;
    zip_error_init(&zipError);
    zip_source_t *buffer = zip_source_buffer_create(nullptr, 0, 0, &zipError);
    zip_t *archive = buffer ? zip_open_from_source(buffer, ZIP_TRUNCATE, &zipError) : nullptr;
    zip_error_fini(&zipError);
    if (!archive) {
        if (buffer)
            zip_source_free(buffer);
        *error = QStringLiteral("no se pudo preparar %1").arg(part.name);
        return {};
    }
    zip_source_keep(buffer);
    const std::unique_ptr<zip_source_t, void (*)(zip_source_t *)> guard(buffer, zip_source_free);
    zip_source_t *source =
        zip_source_buffer(archive, part.data.constData(), zip_uint64_t(part.data.size()), 0);
    const zip_int64_t index =
        source ? zip_file_add(archive, part.name.toUtf8().constData(), source, ZIP_FL_ENC_UTF_8)
               : -1;
    if (index < 0 ||
        zip_set_file_compression(archive, zip_uint64_t(index), ZIP_CM_DEFLATE, 0) < 0 ||
        zip_close(archive) < 0) {
        if (index < 0 && source)
            zip_source_free(source);
        *error = QStringLiteral("no se pudo preparar %1").arg(part.name);
        zip_discard(archive);
        return {};
    }
    zip_stat_t stat;
    zip_stat_init(&stat);
    QByteArray bytes;
    if (zip_source_stat(buffer, &stat) == 0 && (stat.valid & ZIP_STAT_SIZE) &&
        zip_source_open(buffer) == 0) {
        bytes.resize(qsizetype(stat.size));
        const zip_int64_t read = zip_source_read(buffer, bytes.data(), stat.size);
        zip_source_close(buffer);
        if (read != zip_int64_t(stat.size))
            bytes.clear();
    }
    if (bytes.isEmpty())
        *error = QStringLiteral("no se pudo preparar %1").arg(part.name);
    return bytes;
}

namespace PackageSets {

namespace {

// The most circulars one code may stand for: a bound on what decoding a code may cost.
constexpr quint64 maxIdentifiers = 1000000;
constexpr quint64 maxNumber = 999999999999999999ULL;

void appendNumber(QByteArray *bytes, quint64 value)
{
    do {
        const char digit = char(value & 0x7f);
        value >>= 7;
        bytes->append(value ? char(digit | 0x80) : digit);
    } while (value);
}

bool takeNumber(const QByteArray &bytes, qsizetype *at, quint64 *value)
{
    *value = 0;
    for (int shift = 0; *at < bytes.size() && shift <= 56; shift += 7) {
        const uchar byte = uchar(bytes.at((*at)++));
        *value |= quint64(byte & 0x7f) << shift;
        if (!(byte & 0x80))
            return true;
    }
    return false;
}

} // namespace

QString encode(const QStringList &identifiers)
{
    if (!identifiers.isEmpty() && std::all_of(identifiers.cbegin(), identifiers.cend(), isNumber)) {
        // Numbers, as runs of consecutive ones: the gap since the end of the previous run,
        // then the run's length less one, each in base-128 digits. A whole collection
        // asked for at once is a handful of bytes.
        QByteArray bytes;
        quint64 next = 0; // the number after the previous run
        qsizetype i = 0;
        while (i < identifiers.size()) {
            const quint64 start = identifiers.at(i).toULongLong();
            quint64 length = 1;
            while (i + qsizetype(length) < identifiers.size() &&
                   identifiers.at(i + qsizetype(length)).toULongLong() == start + length)
                ++length;
            appendNumber(&bytes, start - next);
            appendNumber(&bytes, length - 1);
            next = start + length;
            i += qsizetype(length);
        }
        return QLatin1Char('n') + QString::fromLatin1(bytes.toBase64(base64Url));
    }
    return QLatin1Char('t') +
           QString::fromLatin1(identifiers.join(u',').toUtf8().toBase64(base64Url));
}

bool decode(const QString &code, QStringList *identifiers)
{
    identifiers->clear();
    if (code.size() < 2)
        return false;
    const auto decoded = QByteArray::fromBase64Encoding(
        code.mid(1).toLatin1(), base64Url | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return false;
    const QByteArray &bytes = decoded.decoded;
    if (code.at(0) == u'n') {
        quint64 next = 0;
        qsizetype at = 0;
        while (at < bytes.size()) {
            quint64 gap = 0;
            quint64 extra = 0;
            if (!takeNumber(bytes, &at, &gap) || !takeNumber(bytes, &at, &extra))
                return false;
            if (gap > maxNumber - next || extra > maxIdentifiers ||
                quint64(identifiers->size()) + extra + 1 > maxIdentifiers ||
                extra > maxNumber - (next + gap))
                return false;
            const quint64 start = next + gap;
            for (quint64 k = 0; k <= extra; ++k)
                identifiers->append(QString::number(start + k));
            next = start + extra + 1;
        }
    } else if (code.at(0) == u't') {
        const QString text = QString::fromUtf8(bytes);
        if (text.toUtf8() != bytes)
            return false;
        *identifiers = text.split(u',');
        for (const QString &identifier : std::as_const(*identifiers)) {
            if (!CircularCatalog::isValidIdentifier(identifier))
                return false;
        }
        for (qsizetype i = 1; i < identifiers->size(); ++i) {
            if (!CircularCatalog::naturalLess(identifiers->at(i - 1), identifiers->at(i)))
                return false;
        }
    } else {
        return false;
    }
    // One set, one code: anything else was not made here.
    return !identifiers->isEmpty() && encode(*identifiers) == code;
}

} // namespace PackageSets

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

QString PackageCache::obtain(const QString &name, const PartsMaker &makeParts, QString *error)
{
    std::mutex &building = m_building[qHash(name) % m_building.size()];
    const std::lock_guard<std::mutex> buildLock(building);
    const QString there = existing(name);
    if (!there.isEmpty())
        return there;

    QList<PackagePart> parts;
    if (!makeParts(&parts, error))
        return {};
    static std::atomic<quint64> serial{0};
    const QString temporary = QStringLiteral("%1/.%2-%3-%4%5")
                                  .arg(m_folder, name, QString::number(::getpid()),
                                       QString::number(++serial), temporarySuffix);
    if (!writeZipArchive(parts, temporary, error)) {
        QFile::remove(temporary);
        return {};
    }
    const QString path = pathOf(name);
    if (::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()) !=
        0) {
        *error = QStringLiteral("no se pudo guardar el paquete");
        QFile::remove(temporary);
        return {};
    }
    record(name, QFileInfo(path).size());
    // Removed outside the lock, so that other requests go on meanwhile.
    for (const QString &doomed : trim(name))
        QFile::remove(doomed);
    return path;
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

int PackageCache::count() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_kept.size());
}

qint64 PackageCache::bytes() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_bytes;
}

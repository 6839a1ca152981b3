#include "circularindex.h"

#include "circularcatalog.h"
#include "openread.h"

#include <QCryptographicHash>
#include <QFile>
#include <QPdfDocument>
#include <QRegularExpression>
#include <QUrl>

#include <zlib.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

// Titles longer than this are cut: the index is a list, not a place for whole paragraphs.
constexpr qsizetype maxTitleLength = 300;

// A leading "Circular 1234:" (or "-", "." or "–") that repeats the number shown beside it.
QString withoutNumber(const QString &title, const QString &identifier)
{
    static const QRegularExpression prefix(
        QStringLiteral("^circular\\s+(?:n\\.?[º°o]\\s*)?(\\S+?)\\s*[:.\\-–—]\\s*"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = prefix.match(title);
    if (match.hasMatch() && match.captured(1) == identifier && match.capturedEnd() < title.size())
        return title.mid(match.capturedEnd());
    return title;
}

} // namespace

namespace {

FileStamp stampOf(const struct stat &info)
{
    FileStamp stamp;
    if (!S_ISREG(info.st_mode))
        return stamp;
    stamp.device = quint64(info.st_dev);
    stamp.inode = quint64(info.st_ino);
    stamp.size = qint64(info.st_size);
    stamp.modifiedNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    stamp.changedNs = qint64(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
    return stamp;
}

} // namespace

FileStamp fileStamp(const QString &path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    return stampOf(info);
}

FileStamp fileStamp(int fd)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return {};
    return stampOf(info);
}

QString pdfTitle(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.read(5) != "%PDF-")
        return {};
    file.close();
    QPdfDocument document;
    if (document.load(path) != QPdfDocument::Error::None)
        return {};
    QString title = document.metaData(QPdfDocument::MetaDataField::Title).toString();
    title.remove(QChar(0));
    title = title.simplified();
    if (title.size() > maxTitleLength)
        title = title.left(maxTitleLength - 1).trimmed() + QStringLiteral("…");
    return title;
}

QByteArray circularIndexPage(QList<IndexEntry> entries)
{
    std::sort(entries.begin(), entries.end(), [](const IndexEntry &a, const IndexEntry &b) {
        return CircularCatalog::naturalLess(b.identifier, a.identifier);
    });
    QString rows;
    for (const IndexEntry &entry : std::as_const(entries)) {
        const QString link =
            QString::fromLatin1(QUrl::toPercentEncoding(entry.identifier + QStringLiteral(".pdf")));
        const QString title = withoutNumber(entry.title, entry.identifier);
        rows +=
            QStringLiteral("    <tr><td><a href=\"../circulares/%1\">%2</a></td><td>%3</td></tr>\n")
                .arg(link.toHtmlEscaped(), entry.identifier.toHtmlEscaped(),
                     title.isEmpty()
                         ? QStringLiteral("Circular %1").arg(entry.identifier.toHtmlEscaped())
                         : title.toHtmlEscaped());
    }
    const QString count = entries.size() == 1 ? QStringLiteral("1 circular")
                                              : QStringLiteral("%1 circulares").arg(entries.size());
    const QString page =
        QStringLiteral("<!DOCTYPE html>\n"
                       "<html lang=\"es\">\n"
                       "<head>\n"
                       "<meta charset=\"utf-8\">\n"
                       "<title>Circulares</title>\n"
                       "<link rel=\"stylesheet\" href=\"estilo.css\">\n"
                       "</head>\n"
                       "<body>\n"
                       "<header>\n"
                       "  <h1>Circulares</h1>\n"
                       "  <p>Índice de las circulares de la colección, de la más reciente a la más "
                       "antigua</p>\n"
                       "</header>\n"
                       "<nav>\n"
                       "  <a href=\"maincd.htm\">Inicio</a>\n"
                       "</nav>\n"
                       "<main>\n"
                       "  <p>La colección contiene %1.</p>\n"
                       "  <table>\n"
                       "    <tr><th>Número</th><th>Título</th></tr>\n"
                       "%2"
                       "  </table>\n"
                       "</main>\n"
                       "</body>\n"
                       "</html>\n")
            .arg(count, rows);
    return page.toUtf8();
}

bool FileFacts::kept(const QString &path, quint64 epoch, Digest *digest)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_digests.constFind(path);
    if (epoch == 0 || it == m_digests.constEnd() || it->epoch != epoch || it->linked)
        return false;
    *digest = it->digest;
    return true;
}

OpenFile::~OpenFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void FileFacts::setOpenLimit(int files)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_openLimit = qMax(0, files);
}

void FileFacts::keepOnly(const QSet<QString> &paths)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_digests.begin(); it != m_digests.end();) {
        if (paths.contains(it.key())) {
            ++it;
            continue;
        }
        if (it->digest.file)
            --m_open;
        it = m_digests.erase(it);
    }
}

FileFacts::Digest FileFacts::digest(const QString &path, quint64 epoch)
{
    if (epoch != 0) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_digests.constFind(path);
        if (it != m_digests.constEnd() && it->epoch == epoch && !it->linked)
            return it->digest;
    }
    Digest found;
    found.stamp = fileStamp(path);
    if (!found.stamp.isValid())
        return found;
    const QByteArray name = QFile::encodeName(path);
    struct stat link {};
    const bool linked = ::lstat(name.constData(), &link) != 0 || !S_ISREG(link.st_mode);
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_digests.find(path);
        if (it != m_digests.end() && it->digest.stamp == found.stamp) {
            it->epoch = epoch;
            it->linked = linked;
            return it->digest;
        }
    }
    // Read through one descriptor, which is then the very file the sums belong to: the one
    // kept open to send it from. O_NONBLOCK: a special file put in its place never blocks.
    auto file = std::make_shared<const OpenFile>(openToRead(name.constData()));
    if (file->fd() < 0 || fileStamp(file->fd()) != found.stamp)
        return found;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    uLong crc = crc32_z(0, nullptr, 0);
    QByteArray buffer(256 * 1024, Qt::Uninitialized);
    qint64 total = 0;
    ssize_t read = 0;
    while ((read = ::pread(file->fd(), buffer.data(), std::size_t(buffer.size()), off_t(total))) !=
           0) {
        if (read < 0 && errno == EINTR)
            continue;
        if (read < 0)
            return found;
        hash.addData(QByteArrayView(buffer.constData(), read));
        crc = crc32_z(crc, reinterpret_cast<const Bytef *>(buffer.constData()), z_size_t(read));
        total += read;
    }
    // Changed while it was read, or no longer the file at this path: the sums may belong to
    // no state of the file the path names.
    if (total != found.stamp.size || fileStamp(file->fd()) != found.stamp ||
        fileStamp(path) != found.stamp)
        return found;
    found.sha256 = hash.result();
    found.crc = quint32(crc);
    const std::lock_guard<std::mutex> lock(m_mutex);
    const auto old = m_digests.constFind(path);
    if (old != m_digests.constEnd() && old->digest.file)
        --m_open;
    if (m_open < m_openLimit) {
        found.file = std::move(file);
        ++m_open;
    }
    m_digests.insert(path, {found, epoch, linked});
    return found;
}

QString FileFacts::title(const QString &path)
{
    const FileStamp stamp = fileStamp(path);
    if (!stamp.isValid())
        return {};
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_titles.constFind(path);
        if (it != m_titles.constEnd() && it->stamp == stamp)
            return it->value;
    }
    const QString value = pdfTitle(path);
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_titles.insert(path, {stamp, value});
    return value;
}

QByteArray circularIndexFor(const QString &folder, const QStringList &identifiers,
                            const QHash<QString, QString> &fileNames, FileFacts &facts)
{
    QList<IndexEntry> entries;
    entries.reserve(identifiers.size());
    for (const QString &identifier : identifiers) {
        entries.append(
            {identifier, facts.title(folder + QLatin1Char('/') + fileNames.value(identifier))});
    }
    return circularIndexPage(std::move(entries));
}

#include "packagezip.h"

#include "openread.h"

#include <QFile>

#include <zlib.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace {

constexpr quint32 localSignature = 0x04034b50;
constexpr quint32 centralSignature = 0x02014b50;
constexpr quint32 endSignature = 0x06054b50;
constexpr qint64 localHeaderSize = 30;
constexpr qint64 centralHeaderSize = 46;
constexpr qint64 endRecordSize = 22;
// A plain zip file counts entries in 16 bits and offsets in 32; the top values mean "see
// the 64-bit record" to readers, so they are not used.
constexpr qint64 maxEntries = 0xfffe;
constexpr qint64 maxArchive = 0xfffffffeLL;
constexpr quint16 stored = 0;
constexpr quint16 deflated = 8;
constexpr quint16 versionNeeded = 20;
// Made on Unix, so that readers take the mode from the external attributes.
constexpr quint16 versionMadeBy = (3 << 8) | versionNeeded;
constexpr quint32 regularFileMode = 0100644;
constexpr quint16 utf8NamesFlag = 1 << 11;
constexpr qint64 readChunk = 256 * 1024;

void put16(QByteArray *bytes, quint32 value)
{
    bytes->append(char(value & 0xff));
    bytes->append(char((value >> 8) & 0xff));
}

void put32(QByteArray *bytes, quint32 value)
{
    put16(bytes, value & 0xffff);
    put16(bytes, value >> 16);
}

void put16(std::string *bytes, quint32 value)
{
    bytes->push_back(char(value & 0xff));
    bytes->push_back(char((value >> 8) & 0xff));
}

void put32(std::string *bytes, quint32 value)
{
    put16(bytes, value & 0xffff);
    put16(bytes, value >> 16);
}

void append(std::string *bytes, const QByteArray &more)
{
    bytes->append(more.constData(), std::size_t(more.size()));
}

// The MS-DOS date and time of an entry, in UTC so that servers in every time zone write the
// same bytes; clamped to what the format can hold (1980 to 2107).
std::pair<quint16, quint16> dosDateTime(qint64 seconds)
{
    std::tm parts{};
    const std::time_t at = std::time_t(seconds);
    if (!gmtime_r(&at, &parts) || parts.tm_year < 80)
        return {quint16((0 << 9) | (1 << 5) | 1), 0};
    if (parts.tm_year > 80 + 127)
        return {quint16((127 << 9) | (12 << 5) | 31), quint16((23 << 11) | (59 << 5) | 29)};
    const quint16 date =
        quint16(((parts.tm_year - 80) << 9) | ((parts.tm_mon + 1) << 5) | parts.tm_mday);
    const quint16 time = quint16((parts.tm_hour << 11) | (parts.tm_min << 5) | (parts.tm_sec / 2));
    return {date, time};
}

bool isDeflated(const PackageEntry &part)
{
    return part.path.isEmpty();
}

qint64 storedSize(const PackageEntry &part)
{
    return isDeflated(part) ? qint64(part.deflated.size()) : part.size;
}

// The fields the local and the central header share, from "version needed" to the name's
// length.
QByteArray commonFields(const PackageEntry &part, const QByteArray &name)
{
    QByteArray bytes;
    const bool ascii =
        std::all_of(name.cbegin(), name.cend(), [](char c) { return uchar(c) < 0x80; });
    const auto [date, time] = dosDateTime(part.modified);
    put16(&bytes, versionNeeded);
    put16(&bytes, ascii ? 0 : utf8NamesFlag);
    put16(&bytes, isDeflated(part) ? deflated : stored);
    put16(&bytes, time);
    put16(&bytes, date);
    put32(&bytes, part.crc);
    put32(&bytes, quint32(storedSize(part)));
    put32(&bytes, quint32(part.size));
    put16(&bytes, quint32(name.size()));
    put16(&bytes, 0); // extra field
    return bytes;
}

// Sends the file's contents to sink, as long as the file is the one the part was made from.
bool copyFile(const PackageEntry &part, const PackageZip::Sink &sink, QString *error)
{
    const int fd = openToRead(QFile::encodeName(part.path).constData());
    if (fd < 0) {
        *error = QStringLiteral("no se pudo leer %1").arg(part.name);
        return false;
    }
    QByteArray buffer(qMin(readChunk, qMax<qint64>(part.size, 1)), Qt::Uninitialized);
    qint64 left = part.size;
    bool sent = true;
    while (left > 0 && sent) {
        const ssize_t got = ::read(fd, buffer.data(), size_t(qMin<qint64>(left, buffer.size())));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        left -= got;
        sent = sink(buffer.constData(), got);
    }
    // Whatever follows the size the stamp gave means the file grew meanwhile.
    char after = 0;
    const bool longer = left == 0 && ::read(fd, &after, 1) > 0;
    ::close(fd);
    if (!sent) {
        *error = QStringLiteral("no se pudo enviar %1").arg(part.name);
        return false;
    }
    if (left != 0 || longer || fileStamp(part.path) != part.stamp) {
        *error = QStringLiteral("%1 cambió mientras se preparaba el paquete").arg(part.name);
        return false;
    }
    return true;
}

void makeEntry(PackageEntry *part)
{
    part->entryName = part->name.toUtf8();
    part->entryFields = commonFields(*part, part->entryName);
}

} // namespace

PackagePart::PackagePart()
    : m_entry(std::make_shared<const PackageEntry>())
{
}

PackagePart::PackagePart(PackageEntry entry)
    : m_entry(std::make_shared<const PackageEntry>(std::move(entry)))
{
}

PackagePart PackagePart::file(const QString &name, const QString &path, const FileStamp &stamp,
                              quint32 crc, std::shared_ptr<const OpenFile> open)
{
    PackageEntry part;
    part.name = name;
    part.size = stamp.size;
    part.crc = crc;
    part.modified = stamp.modifiedNs / 1000000000;
    part.path = path;
    part.stamp = stamp;
    part.open = std::move(open);
    makeEntry(&part);
    return PackagePart(std::move(part));
}

PackagePart PackagePart::compressed(const QString &name, const QByteArray &data, qint64 modified)
{
    PackageEntry part;
    part.name = name;
    part.size = data.size();
    part.crc = quint32(
        crc32_z(0, reinterpret_cast<const Bytef *>(data.constData()), z_size_t(data.size())));
    part.modified = modified;

    z_stream stream{};
    // Raw deflate data, as a zip entry holds it (no zlib header).
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(qsizetype(deflateBound(&stream, uLong(data.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.truncate(qsizetype(stream.total_out));
    deflateEnd(&stream);
    // deflateBound leaves room for the whole input in one call: Z_STREAM_END always.
    part.deflated = result == Z_STREAM_END ? out : QByteArray();
    makeEntry(&part);
    return PackagePart(std::move(part));
}

namespace PackageZip {

qint64 sizeOf(const QList<PackagePart> &parts)
{
    if (parts.size() > maxEntries)
        return -1;
    qint64 total = endRecordSize;
    for (const PackagePart &each : parts) {
        const PackageEntry &part = *each;
        const qint64 name =
            part.entryFields.isEmpty() ? part.name.toUtf8().size() : part.entryName.size();
        total += localHeaderSize + name + storedSize(part) + centralHeaderSize + name;
        if (part.size < 0 || part.size > maxArchive || total > maxArchive)
            return -1;
    }
    return total;
}

QList<Piece> layout(const QList<PackagePart> &parts)
{
    QList<Piece> pieces;
    if (sizeOf(parts) < 0)
        return pieces;
    pieces.reserve(2 * parts.size() + 1);
    // The piece of bytes at the end, begun (with room for a local header) when the last
    // piece is a file.
    const auto bytesAtEnd = [&pieces]() -> std::string & {
        if (pieces.isEmpty() || pieces.constLast().part >= 0) {
            pieces.append({std::string(), -1});
            pieces.last().bytes.reserve(128);
        }
        return pieces.last().bytes;
    };
    std::string central;
    central.reserve(std::size_t(parts.size()) * (centralHeaderSize + 32) + endRecordSize);
    qint64 offset = 0;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const PackageEntry &part = *parts.at(i);
        if (isDeflated(part) && part.deflated.isEmpty() && part.size > 0)
            return {};
        // As made with the part, or made now for a part put together by hand.
        QByteArray madeName;
        QByteArray madeFields;
        const bool made = !part.entryFields.isEmpty();
        if (!made) {
            madeName = part.name.toUtf8();
            madeFields = commonFields(part, madeName);
        }
        const QByteArray &name = made ? part.entryName : madeName;
        const QByteArray &fields = made ? part.entryFields : madeFields;

        std::string &local = bytesAtEnd();
        const std::size_t before = local.size();
        put32(&local, localSignature);
        append(&local, fields);
        append(&local, name);
        const qint64 localSize = qint64(local.size() - before);
        if (isDeflated(part) && !part.open)
            append(&local, part.deflated);
        else
            pieces.append({std::string(), i});

        put32(&central, centralSignature);
        put16(&central, versionMadeBy);
        append(&central, fields);
        put16(&central, 0); // comment
        put16(&central, 0); // disk
        put16(&central, 0); // internal attributes
        put32(&central, regularFileMode << 16);
        put32(&central, quint32(offset));
        append(&central, name);
        offset += localSize + storedSize(part);
    }
    const quint32 centralSize = quint32(central.size());
    put32(&central, endSignature);
    put16(&central, 0);
    put16(&central, 0);
    put16(&central, quint32(parts.size()));
    put16(&central, quint32(parts.size()));
    put32(&central, centralSize);
    put32(&central, quint32(offset));
    put16(&central, 0); // comment
    if (pieces.isEmpty() || pieces.constLast().part >= 0)
        pieces.append({std::move(central), -1});
    else
        pieces.last().bytes += central;
    return pieces;
}

bool write(const QList<PackagePart> &parts, const Sink &sink, QString *error)
{
    if (sizeOf(parts) < 0) {
        *error = QStringLiteral("el paquete superaría el tamaño máximo de un archivo zip");
        return false;
    }
    const QList<Piece> pieces = layout(parts);
    if (pieces.isEmpty()) {
        *error = QStringLiteral("no se pudo comprimir el índice del paquete");
        return false;
    }
    for (const Piece &piece : pieces) {
        if (piece.part >= 0 && isDeflated(*parts.at(piece.part))) {
            const QByteArray &bytes = parts.at(piece.part)->deflated;
            if (!sink(bytes.constData(), bytes.size())) {
                *error = QStringLiteral("no se pudo enviar el paquete");
                return false;
            }
        } else if (piece.part >= 0) {
            if (!copyFile(*parts.at(piece.part), sink, error))
                return false;
        } else if (!sink(piece.bytes.data(), qint64(piece.bytes.size()))) {
            *error = QStringLiteral("no se pudo enviar el paquete");
            return false;
        }
    }
    return true;
}

} // namespace PackageZip

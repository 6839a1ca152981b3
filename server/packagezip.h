#pragma once

#include "circularindex.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <string>

// What one entry of a package archive is made from: a circular's file, stored as it is (PDF
// files are compressed inside already), or bytes given, deflated once when the part is made.
struct PackageEntry {
    QString name;        // inside the archive
    qint64 size = 0;     // of the contents, uncompressed
    quint32 crc = 0;     // CRC-32 of the contents
    qint64 modified = 0; // seconds since the epoch
    // A file: read when the archive is written, and only while it keeps this stamp.
    QString path;
    FileStamp stamp;
    // The file, kept open with its facts; null when it is to be opened by path. For bytes
    // given, a file holding the deflated data, sent from there.
    std::shared_ptr<const OpenFile> open;
    // Or the contents as raw deflate data.
    QByteArray deflated;
    // The entry's name in UTF-8 and the header fields it has in both directories (version
    // needed to the name's length), made with the part so that every archive of it reuses
    // them; empty in an entry put together by hand, for which they are made when written.
    QByteArray entryName;
    QByteArray entryFields;
};

// One entry of a package archive, as sets of circulars list it. The entry is shared and
// never changes: a set's list copies a reference per circular, not the entry's strings.
class PackagePart {
public:
    // An empty entry.
    PackagePart();
    explicit PackagePart(PackageEntry entry);

    // A file whose contents have this CRC-32 (read along with its digest, FileFacts), sent
    // from open when given.
    static PackagePart file(const QString &name, const QString &path, const FileStamp &stamp,
                            quint32 crc, std::shared_ptr<const OpenFile> open = nullptr);
    // Bytes, deflated now.
    static PackagePart compressed(const QString &name, const QByteArray &data, qint64 modified);

    const PackageEntry &operator*() const { return *m_entry; }
    const PackageEntry *operator->() const { return m_entry.get(); }

private:
    std::shared_ptr<const PackageEntry> m_entry;
};

// Package archives: plain zip files, written by this server alone, so that the same parts
// always make the same bytes and every server over the same folder gives the same package.
// The size is known before a byte is written, for the answer page and the Content-Length.
namespace PackageZip {
// Where the archive's bytes go; false when they cannot be taken.
using Sink = std::function<bool(const char *data, qint64 size)>;

// The size of the archive of the parts; -1 when it would not fit a plain zip file
// (4 GiB, or 65,535 entries).
qint64 sizeOf(const QList<PackagePart> &parts);

// The archive in order, as pieces: bytes made here (headers, the central directory,
// compressed entries), or the contents of one stored file, part of parts, sent from the
// file itself (or, for deflated bytes kept in an open file, from that file). Adjacent bytes
// make one piece. Empty when the archive would not fit a plain
// zip file (see sizeOf) or a part could not be compressed.
struct Piece {
    std::string bytes;
    qsizetype part = -1; // the file of parts.at(part) when not negative
};
QList<Piece> layout(const QList<PackagePart> &parts);

// Writes the archive of the parts to sink. False with *error set when a file cannot be read,
// is not as its stamp says, or changed while it was read, and when the sink refuses.
bool write(const QList<PackagePart> &parts, const Sink &sink, QString *error);
} // namespace PackageZip

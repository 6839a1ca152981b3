#pragma once

#include "circularindex.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <mutex>

// One file of a package: its name inside the archive, and either the file to read (with
// the stamp its contents were named at) or the bytes themselves.
struct PackagePart {
    QString name;
    QString path;
    FileStamp stamp;
    QByteArray data;
    qint64 modified = 0; // seconds since the epoch, for entries given as bytes
    // Or: a zip archive whose one entry is this part, compressed already (see
    // zipOneEntry); copied as it is, so that a large page is compressed once, not per
    // package.
    QByteArray zipped;
};

// A zip archive, in memory, holding the part alone (deflated).
QByteArray zipOneEntry(const PackagePart &part, QString *error);

// Writes a zip archive of the parts to path. PDF files are stored as they are (they are
// compressed inside already), other parts deflated; every entry keeps its file's time, so
// that the same files always make the same archive. False with *error set when a file
// cannot be read or changed while it was packed (its stamp is no longer the one given).
bool writeZipArchive(const QList<PackagePart> &parts, const QString &path, QString *error);

// How a set of circulars travels in the package's addresses: a short text made only of
// letters, digits, "-" and "_" from which the set can be read back, so that any server over
// the same folder can build the package again from its address alone.
namespace PackageSets {
// identifiers must be in natural order, without repetitions.
QString encode(const QStringList &identifiers);
// The set back, in natural order; false when code is not the encoding of a set.
bool decode(const QString &code, QStringList *identifiers);
} // namespace PackageSets

// The packages built so far, as files named <name>.zip in one folder. A package is built
// when it is first asked for and kept while it is asked for; when the folder holds more
// than maxBytes, the packages not asked for within keepSeconds are removed, least recently
// asked for first, and a removed package is built again when it is asked for again. Past
// twice maxBytes (a flood of new sets), recently asked-for packages go too, so that the
// disk never fills.
// Several processes may share the folder: each package is written under a temporary name
// and renamed into place whole.
class PackageCache {
public:
    static constexpr qint64 defaultMaxBytes = qint64(1024) * 1024 * 1024;
    static constexpr qint64 defaultKeepSeconds = 600;

    PackageCache(const QString &folder, qint64 maxBytes = defaultMaxBytes,
                 qint64 keepSeconds = defaultKeepSeconds);

    // Makes the folder if need be and takes stock of the packages already there.
    bool open(QString *error);
    QString folder() const { return m_folder; }

    // The file of the package with this name (a hexadecimal hash), built from the parts
    // that makeParts gives when it is not there; counts as asked for now. An empty text with
    // *error set when it cannot be built. Safe to call from several threads.
    using PartsMaker = std::function<bool(QList<PackagePart> *parts, QString *error)>;
    QString obtain(const QString &name, const PartsMaker &makeParts, QString *error);
    // The file of the package when it is there already (counted as asked for), or empty.
    QString existing(const QString &name);

    int count() const;
    qint64 bytes() const;

private:
    struct Kept {
        qint64 size = 0;
        qint64 usedMs = 0; // when last asked for, ms since the epoch
    };
    QString pathOf(const QString &name) const;
    void record(const QString &name, qint64 size);
    // Takes packages off the books; returns their files, for the caller to remove.
    QStringList trim(const QString &spared);

    QString m_folder;
    qint64 m_maxBytes;
    qint64 m_keepMs;
    mutable std::mutex m_mutex; // guards m_kept and m_bytes
    QHash<QString, Kept> m_kept;
    qint64 m_bytes = 0;
    qint64 m_nextTrimMs = 0; // over the limit with nothing old enough: no trim before this
    // Builds of the same name wait for each other (names spread over a few locks).
    std::array<std::mutex, 64> m_building;
};

#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// One file to put into a package: its name inside the archive and where to read it.
struct PackageEntry {
    QString name;
    QString path;
};

// Writes a zip archive in memory holding the given files (in the given order). Returns the
// archive, or an empty array with *error set when a file cannot be read or the archive
// cannot be made.
QByteArray buildZipArchive(const QList<PackageEntry> &entries, QString *error);

// A built update package.
struct UpdatePackage {
    QString token;           // names the package in its addresses
    QStringList identifiers; // the circulars it holds, in natural order
    QByteArray zip;
};

// The packages built so far, kept in memory within two limits, a number of packages and
// a number of bytes; when either is passed, the packages used least recently are dropped.
// A single package larger than the byte limit is still kept, alone, until the next one
// arrives, so that the answer page that names it can be followed.
class PackageStore {
public:
    static constexpr int defaultMaxPackages = 32;
    static constexpr qint64 defaultMaxBytes = qint64(256) * 1024 * 1024;

    void setLimits(int maxPackages, qint64 maxBytes);

    // The package with this token, or nullptr. A package found counts as just used.
    const UpdatePackage *find(const QString &token);
    void insert(UpdatePackage package);

    int count() const { return int(m_packages.size()); }
    qint64 bytes() const { return m_bytes; }

private:
    static qint64 costOf(const UpdatePackage &package);
    void trim();

    QList<UpdatePackage> m_packages; // least recently used first
    qint64 m_bytes = 0;
    int m_maxPackages = defaultMaxPackages;
    qint64 m_maxBytes = defaultMaxBytes;
};

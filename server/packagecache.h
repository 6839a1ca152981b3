#pragma once

#include "packagezip.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <array>
#include <atomic>
#include <functional>
#include <mutex>

// A package ready to be sent: its file in the cache folder, open.
struct PackageData {
    int file = -1; // for the caller to close
    qint64 size = 0;
};

// The packages kept in a folder, as <name>.zip: a package is written there when it is
// asked for again, and kept there while it is asked for. When the folder holds more than
// maxBytes, the packages not asked for within keepSeconds are removed, least recently asked
// for first.
//
// The folder never holds more than twice maxBytes, writes in progress counted: a write
// first reserves its size, making room by removing the least recently asked-for packages,
// recent ones too (a flood of large sets), and gives up with a reason when it would have to
// wait for the writes ahead of it. A package larger than that limit on its own is written
// only when the folder holds nothing else. A request keeps the file of its package open
// from the moment it is written or found, so that removing it from the folder never takes
// it from the request. A package that is no longer kept anywhere is built again when it is
// asked for again.
//
// Several processes may share the folder: each package is written under a temporary name,
// synced to the disk and renamed into place whole. A file whose size is not its package's
// (cut short by a power cut, say) is never served: it is removed and built again.
class PackageCache {
public:
    static constexpr qint64 defaultMaxBytes = qint64(1024) * 1024 * 1024;
    static constexpr qint64 defaultKeepSeconds = 600;

    PackageCache(const QString &folder, qint64 maxBytes = defaultMaxBytes,
                 qint64 keepSeconds = defaultKeepSeconds);

    // Makes the folder if need be and takes stock of the packages already there.
    bool open(QString *error);
    // Ends the builds in progress, which then fail saying that the server is stopping; so
    // do the builds asked for after.
    void stop();
    QString folder() const { return m_folder; }

    // Gives the parts of a package; false with *error set when they cannot be had.
    using PartsMaker = std::function<bool(QList<PackagePart> *parts, QString *error)>;

    // The package's file in the folder, written by this server or by another sharing the
    // folder, when it is there whole (size bytes); counts as asked for.
    bool findKept(const QString &name, qint64 size, PackageData *package);
    // Notes that the package is asked for; true when it was asked for before (lately).
    bool askedBefore(const QString &name);
    // Writes the package of the parts (size bytes) into the folder, unless it is there
    // already, when there is room for it without waiting. False when it is not written.
    bool keep(const QString &name, const QList<PackagePart> &parts, qint64 size,
              PackageData *package, QString *error);

    // The bytes of the packages in the folder (builds in progress not counted).
    qint64 bytes() const;

private:
    struct Kept {
        qint64 size = 0;
        qint64 usedMs = 0; // when last asked for, ms since the epoch
    };
    using Writer = std::function<bool(int fd, QString *error)>;

    QString pathOf(const QString &name) const;
    // Opens the package's file in the folder when it is there whole (size bytes), and counts
    // it as asked for; a file of another size is removed. False when it is not there whole.
    bool openKept(const QString &name, qint64 size, PackageData *package);
    // Reserves room for size bytes in the folder; false with *error set when there is none
    // without waiting for the builds in progress.
    bool reserve(qint64 size, QString *error);
    // Puts a package of size bytes, for which room is reserved, into the folder: written by
    // write under a temporary name, synced, then renamed. Its file, open and at its start,
    // for the caller to close; or -1 with *error set. The reservation ends either way.
    int store(const QString &name, qint64 size, const Writer &write, QString *error);
    // Writes bytes to the file, unless the cache is stopping.
    bool writeOut(int fd, const char *data, qint64 size, QString *error) const;
    void record(const QString &name, qint64 size);
    void forget(const QString &name);
    void syncFolder() const;
    // The following take m_mutex held.
    void recordLocked(const QString &name, qint64 size);
    // Takes the least recently asked-for packages off the books until size more bytes fit
    // within the hard limit, their files added to *doomed; false, taking nothing, when they
    // cannot fit before builds in progress finish.
    bool makeRoom(qint64 size, QStringList *doomed);
    // Takes packages off the books past the limit; returns their files, for the caller to
    // remove.
    QStringList trim(const QString &spared);

    QString m_folder;
    qint64 m_maxBytes;
    qint64 m_keepMs;
    std::atomic<bool> m_stopping{false};
    mutable std::mutex m_mutex; // guards what follows
    QHash<QString, Kept> m_kept;
    qint64 m_bytes = 0;
    qint64 m_reserved = 0;   // by builds into the folder in progress
    qint64 m_nextTrimMs = 0; // over the limit with nothing old enough: no trim before this
    // The packages asked for lately (names only), to tell a second request from a first.
    QSet<QString> m_asked;
    // Builds of the same name wait for each other (names spread over a few locks).
    std::array<std::mutex, 64> m_building;
};

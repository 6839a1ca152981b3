#pragma once

#include "packagezip.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>

// A package ready to be sent: its bytes in memory, or its file, open.
struct PackageData {
    std::shared_ptr<const std::string> bytes;
    int file = -1; // for the caller to close
    qint64 size = 0;
};

// The packages built so far, in two places.
//
// A package is built in memory when it is first asked for, and kept there while memory
// allows, least recently asked for going first: most packages are fetched once, right after
// their answer page, and never touch the disk. A package asked for again, or one too large
// to hold in memory, is written to the folder as <name>.zip, and kept there while it is
// asked for. When the folder holds more than maxBytes, the packages not asked for within
// keepSeconds are removed, least recently asked for first.
//
// The folder never holds more than twice maxBytes, builds in progress counted: a build
// into the folder first reserves its size, making room by removing the least recently
// asked-for packages, recent ones too (a flood of large sets), or waits in turn for the
// builds ahead of it to finish, and gives up with a reason after a while. A package larger
// than that limit on its own is built only when the folder holds nothing else. A request
// keeps the file of its package open from the moment it is written or found, so that
// removing it from the folder never takes it from the request. A package that is no longer
// kept anywhere is built again when it is asked for again.
//
// Several processes may share the folder: each package is written under a temporary name,
// synced to the disk and renamed into place whole. A file whose size is not its package's
// (cut short by a power cut, say) is never served: it is removed and built again.
class PackageCache {
public:
    static constexpr qint64 defaultMaxBytes = qint64(1024) * 1024 * 1024;
    static constexpr qint64 defaultKeepSeconds = 600;
    static constexpr qint64 defaultMemoryBytes = qint64(64) * 1024 * 1024;

    PackageCache(const QString &folder, qint64 maxBytes = defaultMaxBytes,
                 qint64 keepSeconds = defaultKeepSeconds, qint64 memoryBytes = defaultMemoryBytes);

    // Makes the folder if need be and takes stock of the packages already there.
    bool open(QString *error);
    // Ends the waits for room and the builds in progress, which then fail saying that the
    // server is stopping; so do the builds asked for after.
    void stop();
    QString folder() const { return m_folder; }

    // The package with this name (a hexadecimal hash), kept or built from the parts that
    // makeParts gives; counts as asked for now. False with *error set when it cannot be
    // built. Safe to call from several threads.
    using PartsMaker = std::function<bool(QList<PackagePart> *parts, QString *error)>;
    bool obtain(const QString &name, const PartsMaker &makeParts, PackageData *package,
                QString *error);
    // Makes sure the package is kept, building it if need be, without counting it as asked
    // for (an answer page offers it; the client fetches it next). Its size, or -1 with
    // *error set.
    qint64 prepare(const QString &name, const PartsMaker &makeParts, QString *error);

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
    // The bytes of the packages held in memory.
    qint64 memoryBytes() const;

private:
    struct Kept {
        qint64 size = 0;
        qint64 usedMs = 0; // when last asked for, ms since the epoch
    };
    struct Held {
        QString name;
        std::shared_ptr<const std::string> bytes;
        int uses = 0;
        bool written = false; // in the folder too
    };

    using Writer = std::function<bool(int fd, QString *error)>;

    bool find(const QString &name, const PartsMaker &makeParts, bool asked, PackageData *package,
              QString *error);
    QString pathOf(const QString &name) const;
    // Opens the package's file in the folder when it is there whole (size bytes), and counts
    // it as asked for; a file of another size is removed. False when it is not there whole.
    bool openKept(const QString &name, qint64 size, PackageData *package);
    // Counts the package's file as asked for; false when it is not in the folder.
    bool touch(const QString &name, qint64 size);
    // Builds the package: into memory when it is small enough, else into the folder.
    bool build(const QString &name, const QList<PackagePart> &parts, qint64 size, int uses,
               PackageData *package, QString *error);
    // Reserves room for size bytes in the folder, in turn, waiting for it when wait is set;
    // false with *error set when there is none.
    bool reserve(qint64 size, bool wait, QString *error);
    // Puts a package of size bytes, for which room is reserved, into the folder: written by
    // write under a temporary name, synced, then renamed. Its file, open and at its start,
    // for the caller to close; or -1 with *error set. The reservation ends either way.
    int store(const QString &name, qint64 size, const Writer &write, QString *error);
    // Writes bytes to the file, unless the cache is stopping.
    bool writeOut(int fd, const char *data, qint64 size, QString *error) const;
    void hold(const QString &name, std::shared_ptr<const std::string> bytes, int uses);
    void markWritten(const QString &name, bool written);
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
    qint64 m_memoryBytes;
    std::atomic<bool> m_stopping{false};
    mutable std::mutex m_mutex; // guards what follows
    QHash<QString, Kept> m_kept;
    qint64 m_bytes = 0;
    qint64 m_reserved = 0;         // by builds into the folder in progress
    std::deque<quint64> m_waiting; // builds waiting for room, in turn
    quint64 m_lastTicket = 0;
    std::condition_variable m_roomChanged;
    qint64 m_nextTrimMs = 0; // over the limit with nothing old enough: no trim before this
    std::list<Held> m_held;  // most recently asked for first
    QHash<QString, std::list<Held>::iterator> m_heldByName;
    qint64 m_heldBytes = 0;
    // The packages asked for lately (names only), to tell a second request from a first.
    QSet<QString> m_asked;
    // Builds of the same name wait for each other (names spread over a few locks).
    std::array<std::mutex, 64> m_building;
};

#pragma once

#include "packagezip.h"

#include <QHash>
#include <QList>
#include <QString>

#include <array>
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
// keepSeconds are removed, least recently asked for first; past twice maxBytes (a flood of
// large sets), recently asked-for packages go too, so that the disk never fills. A package
// that is no longer kept anywhere is built again when it is asked for again.
//
// Several processes may share the folder: each package is written under a temporary name
// and renamed into place whole.
class PackageCache {
public:
    static constexpr qint64 defaultMaxBytes = qint64(1024) * 1024 * 1024;
    static constexpr qint64 defaultKeepSeconds = 600;
    static constexpr qint64 defaultMemoryBytes = qint64(64) * 1024 * 1024;

    PackageCache(const QString &folder, qint64 maxBytes = defaultMaxBytes,
                 qint64 keepSeconds = defaultKeepSeconds, qint64 memoryBytes = defaultMemoryBytes);

    // Makes the folder if need be and takes stock of the packages already there.
    bool open(QString *error);
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

    // The bytes of the packages in the folder.
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

    bool find(const QString &name, const PartsMaker &makeParts, bool asked, PackageData *package,
              QString *error);
    QString pathOf(const QString &name) const;
    // The package's file when it is in the folder (counted as asked for), or empty.
    QString existing(const QString &name);
    bool openFile(const QString &path, PackageData *package);
    // Builds the package: into memory when it is small enough, else into the folder.
    bool build(const QString &name, const QList<PackagePart> &parts, int uses, PackageData *package,
               QString *error);
    // Puts a package into the folder: written by write under a temporary name, then renamed.
    bool store(const QString &name, const std::function<bool(int fd, QString *error)> &write,
               QString *error);
    void hold(const QString &name, std::shared_ptr<const std::string> bytes, int uses);
    void record(const QString &name, qint64 size);
    // Takes packages off the books; returns their files, for the caller to remove.
    QStringList trim(const QString &spared);

    QString m_folder;
    qint64 m_maxBytes;
    qint64 m_keepMs;
    qint64 m_memoryBytes;
    mutable std::mutex m_mutex; // guards what follows
    QHash<QString, Kept> m_kept;
    qint64 m_bytes = 0;
    qint64 m_nextTrimMs = 0; // over the limit with nothing old enough: no trim before this
    std::list<Held> m_held;  // most recently asked for first
    QHash<QString, std::list<Held>::iterator> m_heldByName;
    qint64 m_heldBytes = 0;
    // Builds of the same name wait for each other (names spread over a few locks).
    std::array<std::mutex, 64> m_building;
};

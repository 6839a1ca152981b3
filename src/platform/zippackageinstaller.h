#pragma once

#include "packageinstaller.h"

#include <QtGlobal>

#include <functional>

// Installs zip packages with libzip, one install into a collection folder at a
// time (InstallLock). Every entry is unpacked into a hidden staging folder
// inside the collection folder (the same file system) and checked there; only
// when the whole package has passed are the files moved into place, one rename
// each, an existing file of the same name replaced and kept aside until the
// end. A journal written before the first move lets the moves be undone when
// one fails, or when the process dies before the commit point, by the next
// reader of the collection (recoverInterruptedInstall). The staging folder is
// removed at the end, unless an undo failed: then it stays for the next try.
class ZipPackageInstaller final : public PackageInstaller {
public:
    // Tells the free bytes of the file system holding a folder; the default
    // asks the file system. Tests hand in their own.
    using FreeSpace = std::function<quint64(const QString &folder)>;
    // Moves one staged file into place; the default is rename(2). Tests hand
    // in one that fails on purpose.
    using Move = std::function<bool(const QString &from, const QString &to)>;

    // Gives an existing file a second name; the default is link(2). Tests hand in one that
    // fails as on a file system without links.
    using Link = std::function<bool(const QString &existing, const QString &link)>;
    // Called at each step of an install (each file unpacked, the journal written, each file
    // placed, the commit point), numbered from 1, so that a test can stop the process there.
    using Checkpoint = std::function<void(int step)>;

    struct Seams {
        FreeSpace freeSpace;
        Move move;
        Link link;
        Checkpoint checkpoint;
    };

    ZipPackageInstaller(FreeSpace freeSpace = {}, Move move = {}, Link link = {},
                        Checkpoint checkpoint = {});

    using PackageInstaller::install;
    InstallOutcome install(const QString &packagePath, const QString &collectionFolder,
                           const PackageTrust &trust, const InstallWait &wait) override;

    // The outcome message for n circulars and files installed.
    static QString installedMessage(int circulars, int files);
    // What an install without the publisher's key adds to its outcome.
    static QString unverifiedNotice();
    // The outcome message for a refused package.
    static QString refusedMessage(const QString &reason);
    // The outcome message for a package refused halfway whose files could not all be put back.
    static QString undoFailedMessage(const QString &reason);

private:
    Seams m_seams;
};

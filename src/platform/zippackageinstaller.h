#pragma once

#include "packageinstaller.h"

#include <QtGlobal>

#include <functional>

// Installs zip packages with libzip. Every entry is unpacked into a hidden
// staging folder inside the collection folder (the same file system) and
// checked there; only when the whole package has passed are the files moved
// into place, one rename each, an existing file of the same name replaced.
// When a move fails, the files already moved are put back as they were. The
// staging folder is always removed.
class ZipPackageInstaller final : public PackageInstaller {
public:
    // Tells the free bytes of the file system holding a folder; the default
    // asks the file system. Tests hand in their own.
    using FreeSpace = std::function<quint64(const QString &folder)>;
    // Moves one staged file into place; the default is rename(2). Tests hand
    // in one that fails on purpose.
    using Move = std::function<bool(const QString &from, const QString &to)>;

    ZipPackageInstaller(FreeSpace freeSpace = {}, Move move = {});

    InstallOutcome install(const QString &packagePath, const QString &collectionFolder,
                           const PackageTrust &trust) override;

    // The outcome message for n circulars and files installed.
    static QString installedMessage(int circulars, int files);
    // What an install without the publisher's key adds to its outcome.
    static QString unverifiedNotice();
    // The outcome message for a refused package.
    static QString refusedMessage(const QString &reason);

private:
    FreeSpace m_freeSpace;
    Move m_move;
};

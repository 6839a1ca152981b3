#pragma once

#include "installjournal.h"

#include <QString>
#include <QStringList>

// What the look for installs cut short found in a collection folder.
struct InstallRecovery {
    int finished = 0;     // installs that had placed every file: their leftovers went
    int undone = 0;       // installs cut short while placing files: put back as they were
    int discarded = 0;    // installs that never reached the collection: their staging went
    bool running = false; // an install into the folder is running: nothing was looked at
    QStringList problems; // what could not be put back, in Spanish; tried again next time
};

// Finishes or undoes every install into collectionFolder that was cut short
// (its process killed, the machine stopped) and removes its staging folder,
// so that the collection holds a package whole or not at all. Every reader of
// the collection calls it before reading. While another install into the
// folder runs (its lock is held) nothing is touched: its staging folder is alive.
InstallRecovery recoverInterruptedInstall(const QString &collectionFolder);

// The same, for an installer that holds the folder's install lock already.
InstallRecovery recoverStagingFolders(const QString &collectionFolder);

// Puts back what the install journalled in stagingFolder moved into
// collectionFolder, newest first; true when everything is as it was before.
bool rollBackInstall(const QString &collectionFolder, const QString &stagingFolder,
                     const InstallJournal::Journal &journal);

// Whether something (a file, a folder, a link) is at path; a link is not followed.
bool pathPresent(const QString &path);
// Writes a file's data, or a folder's entries, to the disk; true when done.
bool syncToDisk(const QString &path);

#pragma once

#include <QString>

// The lock every install into a collection folder holds from its first look at
// the folder to its end, so that two installs never mix: an advisory lock
// (flock) on the folder itself, which every route to the folder and every user
// share, and which the system drops when the process ends, however it ends; so
// a held lock always means a live install. Where the file system cannot lock a
// folder, a lock file in the user's runtime folder named by the folder's
// CollectionId stands in, as for the single-instance lock.
class InstallLock {
public:
    explicit InstallLock(const QString &collectionFolder);
    ~InstallLock();
    InstallLock(const InstallLock &) = delete;
    InstallLock &operator=(const InstallLock &) = delete;

    enum class Attempt {
        Held,   // this object holds the lock now
        Busy,   // another install holds it
        Failed, // neither the folder nor a lock file could be locked: nothing is known
    };
    // Takes the lock without waiting.
    Attempt tryLock();
    bool isLocked() const { return m_descriptor >= 0; }
    void unlock();

    // The lock file that stands in where the folder itself cannot be locked.
    static QString lockPathFor(const QString &collectionFolder);

private:
    QString m_folder;
    int m_descriptor = -1;
};

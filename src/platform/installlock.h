#pragma once

#include <QString>

// The lock every install into a collection folder holds from its first look at
// the folder to its end, so that two installs never mix: an advisory lock
// (flock) on a file in the user's runtime folder named by the folder's
// CollectionId, as the single-instance lock is. The system drops it when the
// process ends, however it ends, so a held lock always means a live install.
class InstallLock {
public:
    explicit InstallLock(const QString &collectionFolder);
    ~InstallLock();
    InstallLock(const InstallLock &) = delete;
    InstallLock &operator=(const InstallLock &) = delete;

    enum class Attempt {
        Held,   // this object holds the lock now
        Busy,   // another install holds it
        Failed, // the lock file cannot be opened: nothing is known
    };
    // Takes the lock without waiting.
    Attempt tryLock();
    bool isLocked() const { return m_descriptor >= 0; }
    void unlock();

    static QString lockPathFor(const QString &collectionFolder);

private:
    QString m_path;
    int m_descriptor = -1;
};

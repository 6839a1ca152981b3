#pragma once

#include <QString>

#include <QtGlobal>

#include <atomic>
#include <mutex>

// Tells whether anything in one folder may have changed since a moment, without looking at
// its files: the kernel reports every change to the folder's entries and to the files in it
// (inotify), and each check reads what it reported, one system call when nothing did.
//
// epoch() counts the changes seen: facts read from the folder's files while the epoch was
// E (E read before the facts) hold while epoch() still returns E. Without a watch (the
// system's watch limit reached, say) every call returns a new epoch, so that nothing is
// trusted and the files are looked at every time, as they would be without it.
class FolderWatch {
public:
    FolderWatch() = default;
    ~FolderWatch();
    FolderWatch(const FolderWatch &) = delete;
    FolderWatch &operator=(const FolderWatch &) = delete;

    // Starts watching the folder; false when it cannot be watched.
    bool watch(const QString &folder);
    bool isWatching() const { return m_fd >= 0; }
    // The current epoch, after reading what the kernel reported.
    quint64 epoch();
    // Counts a change found some other way (a file that no longer matches what was read).
    void invalidate() { ++m_epoch; }

private:
    std::atomic<int> m_fd{-1};
    std::mutex m_readMutex;
    std::atomic<quint64> m_epoch{1};
};

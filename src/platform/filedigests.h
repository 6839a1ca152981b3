#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

// The SHA-256 of files, read on a thread of its own while the caller goes on with other
// work: an install unpacks the next entry while the last one is hashed. OpenSSL's SHA-256
// uses the processor's SHA instructions where it has them.
class FileDigests {
public:
    FileDigests();
    // Stops after the file being read; the others are not wanted any more.
    ~FileDigests();
    FileDigests(const FileDigests &) = delete;
    FileDigests &operator=(const FileDigests &) = delete;

    // Hashes path once the files added before it are done.
    void add(const QString &path);
    // Waits for every file added; their digests by path, in lower-case hex, empty for a
    // file that could not be read.
    QHash<QString, QByteArray> results();

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<QString> m_waiting;
    QHash<QString, QByteArray> m_done;
    bool m_busy = false;
    bool m_stopping = false;
    std::thread m_thread;
};

// The SHA-256 of one file, in lower-case hex; empty when it cannot be read.
QByteArray sha256OfFile(const QString &path);

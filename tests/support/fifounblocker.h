#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <atomic>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Keeps a test from hanging on the named pipe at path: whoever waits to read
// it is freed (the pipe is opened for writing and closed again, which reads
// as an empty file), and freed() counts how often that was needed. A reader
// that never waits on the pipe needs it never.
class FifoUnblocker {
public:
    explicit FifoUnblocker(const QString &path)
        : m_path(QFile::encodeName(path))
        , m_thread([this] { run(); })
    {
    }
    ~FifoUnblocker()
    {
        m_stop = true;
        m_thread.join();
    }
    FifoUnblocker(const FifoUnblocker &) = delete;
    FifoUnblocker &operator=(const FifoUnblocker &) = delete;

    int freed() const { return m_freed; }

private:
    void run()
    {
        while (!m_stop) {
            // Opening a pipe for writing without waiting works only while someone reads it.
            const int descriptor = ::open(m_path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (descriptor >= 0) {
                struct stat info {};
                if (::fstat(descriptor, &info) == 0 && S_ISFIFO(info.st_mode)) {
                    ++m_freed;
                }
                ::close(descriptor);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    QByteArray m_path;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_freed{0};
    std::thread m_thread;
};

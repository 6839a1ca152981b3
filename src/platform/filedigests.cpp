#include "filedigests.h"

#include <QFile>

#include <openssl/evp.h>

#include <memory>

namespace {
constexpr qint64 chunkSize = 1 << 20;

struct DigestContextFree {
    void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};
} // namespace

QByteArray sha256OfFile(const QString &path)
{
    QFile file(path);
    const std::unique_ptr<EVP_MD_CTX, DigestContextFree> context(EVP_MD_CTX_new());
    if (!context || !file.open(QIODevice::ReadOnly) ||
        EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        return {};
    }
    QByteArray buffer(chunkSize, Qt::Uninitialized);
    for (;;) {
        const qint64 got = file.read(buffer.data(), buffer.size());
        if (got < 0) {
            return {};
        }
        if (got == 0) {
            break;
        }
        if (EVP_DigestUpdate(context.get(), buffer.constData(), size_t(got)) != 1) {
            return {};
        }
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) {
        return {};
    }
    return QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex();
}

FileDigests::FileDigests()
    : m_thread([this] { run(); })
{
}

FileDigests::~FileDigests()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void FileDigests::add(const QString &path)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_waiting.push_back(path);
    }
    m_changed.notify_all();
}

QHash<QString, QByteArray> FileDigests::results()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_waiting.empty() && !m_busy; });
    return m_done;
}

void FileDigests::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopping || !m_waiting.empty(); });
        if (m_stopping) {
            return; // what is still waiting is no longer wanted
        }
        const QString path = m_waiting.front();
        m_waiting.pop_front();
        m_busy = true;
        lock.unlock();
        const QByteArray digest = sha256OfFile(path);
        lock.lock();
        m_done.insert(path, digest);
        m_busy = false;
        m_changed.notify_all();
    }
}

#include "folderwatch.h"

#include <QFile>

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Everything that can change a file's contents, its stamp or the folder's listing; the
// watch ending (the folder removed or moved away) arrives as IN_IGNORED, and a queue that
// overflowed as IN_Q_OVERFLOW, both without asking.
constexpr quint32 changes = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE |
                            IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;

} // namespace

FolderWatch::~FolderWatch()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool FolderWatch::watch(const QString &folder)
{
    if (m_fd >= 0)
        return true;
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0)
        return false;
    if (::inotify_add_watch(fd, QFile::encodeName(folder).constData(), changes) < 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    // Whatever changed before the watch began went unseen: nothing read so far is trusted.
    ++m_epoch;
    return true;
}

quint64 FolderWatch::epoch()
{
    const std::lock_guard<std::mutex> lock(m_readMutex);
    if (m_fd < 0)
        return ++m_epoch;
    alignas(inotify_event) char buffer[16 * 1024];
    bool changed = false;
    bool ended = false;
    for (;;) {
        const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
        if (got > 0) {
            changed = true; // which file does not matter: every fact is looked at again
            // The folder itself gone or moved: its watch has ended, and a folder made in
            // its place would go unwatched. Nothing is trusted from now on.
            for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= got;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
                if (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT))
                    ended = true;
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
            if (!ended)
                continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        // EAGAIN: nothing more reported. Anything else: the watch cannot be trusted.
        if (ended || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
            ::close(m_fd.exchange(-1));
            changed = true;
        }
        break;
    }
    if (changed)
        ++m_epoch;
    return m_epoch;
}

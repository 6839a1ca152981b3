#include "openread.h"

#include <fcntl.h>

#include <cerrno>

int openToRead(const char *path)
{
    constexpr int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
    int fd = -1;
    do {
        fd = ::open(path, flags | O_NOATIME);
    } while (fd < 0 && errno == EINTR);
    // O_NOATIME is refused (EPERM) on a file of another owner: opened as usual then.
    if (fd < 0 && errno == EPERM) {
        do {
            fd = ::open(path, flags);
        } while (fd < 0 && errno == EINTR);
    }
    return fd;
}

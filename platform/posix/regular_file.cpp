// Opens regular files only: the program's own files, the backup and mission files are never a
// FIFO, device or folder, and reaching one must neither hang the run nor read from a device.
#include "platform/posix/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform::posix {

namespace {

int OpenRetrying(const std::string& host, int flags, mode_t mode) {
    int fd;
    do {
        fd = open(host.c_str(), flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool IsRegularFile(const std::string& host) {
    struct stat info;
    return stat(host.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

int CloseWithError(int fd, int error) {
    close(fd);
    errno = error;
    return -1;
}

// The permission bits a file created with mode gets. The program never changes its umask.
mode_t CreatedMode(mode_t mode) {
    static const mode_t mask = [] {
        const mode_t current = umask(0);
        umask(current);
        return current;
    }();
    return mode & ~mask & 07777;
}

}  // namespace

int OpenRegularFile(const std::string& host, int flags, mode_t mode, mode_t* opened) {
    // Without O_NONBLOCK, opening a FIFO waits for its other end, possibly for ever.
    const int plain = flags | O_CLOEXEC | O_NOCTTY;
    if ((flags & O_CREAT) != 0 && (flags & O_EXCL) == 0) {
        const int created = OpenRetrying(host, plain | O_EXCL | O_NONBLOCK, mode);
        if (created >= 0 || errno != EEXIST) {
            if (created >= 0 && opened)
                *opened = CreatedMode(mode);
            return created;
        }
    }
    int fd = OpenRetrying(host, plain | O_NONBLOCK, mode);
    // A regular file under a lease refuses a non-blocking open; a plain open waits for the lease
    // to be broken, which ends, so that wait is kept.
    if (fd < 0 && errno == EWOULDBLOCK && IsRegularFile(host))
        fd = OpenRetrying(host, plain, mode);
    if (fd < 0)
        return -1;
    struct stat info;
    if (fstat(fd, &info) != 0)
        return CloseWithError(fd, errno);
    if (!S_ISREG(info.st_mode))
        return CloseWithError(fd, S_ISDIR(info.st_mode) ? EISDIR : ENXIO);
    if (opened)
        *opened = info.st_mode & 07777;
    // O_NONBLOCK stays: it changes nothing for a regular file's reads and writes.
    return fd;
}

}  // namespace platform::posix

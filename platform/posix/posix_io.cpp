// Shared Linux helpers: attribute mapping, the last error, a rename that never replaces.
#include "platform/posix/posix_io.h"

#include <fcntl.h>
#include <stdio.h>

#include <cerrno>

#include "platform/posix/host_path.h"
#include "platform/posix/name_cache.h"

namespace platform {

namespace {
long lastError = 0;
}

long LastError() {
    return lastError;
}

namespace posix {

uint32_t AttributesOf(const struct stat& info) {
    if (S_ISDIR(info.st_mode))
        return 0x10;
    return (info.st_mode & S_IWUSR) ? 0x20 : 0x01;
}

mode_t ModeWithAttributes(mode_t mode, uint32_t attributes) {
    // Only the read-only bit has a counterpart: the write permissions.
    return (attributes & 0x01) != 0 ? (mode & ~0222) : (mode | S_IWUSR);
}

bool Fail() {
    return FailWith(errno);
}

bool FailWith(int error) {
    lastError = error;
    errno = error;
    return false;
}

namespace {

bool RenameHostNoReplace(const std::string& hostFrom, const std::string& hostTo) {
    if (renameat2(AT_FDCWD, hostFrom.c_str(), AT_FDCWD, hostTo.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS)
        return Fail();
    // File systems without the no-replace flag: check first (a narrow race, accepted there).
    struct stat info;
    if (lstat(hostTo.c_str(), &info) == 0)
        return FailWith(EEXIST);
    if (rename(hostFrom.c_str(), hostTo.c_str()) != 0)
        return Fail();
    return true;
}

}  // namespace

int RemoveName(const std::string& path, int (*call)(const char*)) {
    return CallOnExistingPath(path, [call](const std::string& host) {
        const EntryChange change(host);
        const int result = call(host.c_str());
        if (result == 0)
            change.Removed();
        return result;
    });
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
    const std::string hostFrom = HostPath(from);
    const std::string hostTo = HostPath(to);
    const EntryChange removed(hostFrom);
    const EntryChange created(hostTo);
    if (!RenameHostNoReplace(hostFrom, hostTo))
        return false;
    removed.Removed();
    created.Created();
    return true;
}

}  // namespace posix
}  // namespace platform

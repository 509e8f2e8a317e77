// File identity on Linux: device and inode, as the file's own status gives them.
#include <sys/stat.h>

#include "platform/file_system.h"
#include "platform/posix/host_path.h"
#include "platform/posix/posix_io.h"

namespace platform {

bool GetFileIdentity(const std::string& path, FileIdentity& identity) {
    struct stat info;
    if (posix::CallOnExistingPath(
            path, [&info](const std::string& host) { return stat(host.c_str(), &info); }) != 0)
        return posix::Fail();
    identity.volume = static_cast<uint64_t>(info.st_dev);
    identity.file = static_cast<uint64_t>(info.st_ino);
    return true;
}

}  // namespace platform

// Drive queries on Linux: removable media, free space and volume labels.
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/file_system.h"
#include "platform/posix/host_path.h"
#include "platform/posix/posix_io.h"

namespace {

// The host form of path or, when that does not exist yet, of its nearest existing parent: a
// volume file about to be created lives on the drive of the folder that will hold it.
bool NearestExisting(const std::string& path, std::string& host) {
    host = platform::posix::HostPath(path);
    if (host.empty())
        host = ".";
    for (;;) {
        struct stat info;
        if (stat(host.c_str(), &info) == 0)
            return true;
        if (errno != ENOENT && errno != ENOTDIR)
            return false;
        while (host.size() > 1 && host.back() == '/') host.pop_back();
        const size_t slash = host.rfind('/');
        if (slash == std::string::npos) {
            if (host == ".")
                return false;
            host = ".";
        } else if (slash == 0) {
            if (host == "/")
                return false;
            host = "/";
        } else {
            host.resize(slash);
        }
    }
}

// "1" in a sysfs attribute file; false when it cannot be read.
bool ReadsOne(const std::string& sysfsPath) {
    std::FILE* attribute = std::fopen(sysfsPath.c_str(), "r");
    if (!attribute)
        return false;
    const int first = std::fgetc(attribute);
    std::fclose(attribute);
    return first == '1';
}

bool Exists(const std::string& sysfsPath) {
    struct stat info;
    return stat(sysfsPath.c_str(), &info) == 0;
}

}  // namespace

namespace platform {

// The kernel marks whole block devices as removable; a partition carries no such mark of its
// own, so it is asked of the device that holds it (the parent sysfs node). File systems that
// live on no block device (tmpfs, network mounts) count as fixed.
bool IsRemovableMedia(const std::string& path) {
    std::string host;
    struct stat info;
    if (!NearestExisting(path, host) || stat(host.c_str(), &info) != 0)
        return false;
    const std::string node = "/sys/dev/block/" + std::to_string(major(info.st_dev)) + ":" +
                             std::to_string(minor(info.st_dev));
    if (Exists(node + "/removable"))
        return ReadsOne(node + "/removable");
    return ReadsOne(node + "/../removable");
}

bool GetFreeDiskSpace(const std::string& path, uint64_t& freeBytes) {
    std::string host;
    struct statvfs space;
    if (!NearestExisting(path, host) || statvfs(host.c_str(), &space) != 0) {
        return platform::posix::Fail();
    }
    freeBytes = static_cast<uint64_t>(space.f_bavail) * space.f_frsize;
    return true;
}

// Linux has no general call that labels a mounted file system (each file system has its own
// offline tool). A removable disk is recognised by the file it carries, not by its label, so
// reporting success keeps the disk-change protocol going without a label.
bool SetDriveLabel(const std::string& drive, const std::string& label) {
    (void)drive;
    (void)label;
    return true;
}

}  // namespace platform

// CFile on Linux: a file descriptor, errno in every CFileException.
#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/fault_injection.h"
#include "platform/file_system.h"
#include "platform/posix/host_path.h"
#include "platform/posix/name_cache.h"
#include "platform/posix/posix_io.h"
#include "platform/posix/regular_file.h"

using platform::posix::HostPath;

namespace {

int OpenFlagsFor(unsigned flags) {
    int result = 0;
    switch (flags & 0x3) {
        case CFile::modeWrite:
            result |= O_WRONLY;
            break;
        case CFile::modeReadWrite:
            result |= O_RDWR;
            break;
        default:
            result |= O_RDONLY;
            break;
    }
    if (flags & CFile::modeCreate) {
        result |= O_CREAT;
        if (!(flags & CFile::modeNoTruncate))
            result |= O_TRUNC;
    }
    // shareDenyWrite has no counterpart: Linux has no mandatory sharing modes, so other writers
    // are not kept out. The program is the only one touching its files while it runs.
    return result;
}

int OpenHost(const std::string& host, unsigned flags, mode_t& opened) {
    return platform::posix::OpenRegularFile(host, OpenFlagsFor(flags), 0666, &opened);
}

int OpenExisting(const std::string& path, unsigned flags, mode_t& opened) {
    return platform::posix::CallOnExistingPath(
        path, [flags, &opened](const std::string& host) { return OpenHost(host, flags, opened); });
}

// A name that may be new: spelled as an existing one would be, and the folder listing told.
int CreateFile(const std::string& path, unsigned flags, mode_t& opened) {
    const std::string host = HostPath(path);
    const platform::posix::EntryChange change(host);
    const int fd = OpenHost(host, flags, opened);
    if (fd >= 0)
        change.Created();
    return fd;
}

}  // namespace

CFile::~CFile() {
    Abort();
}

bool CFile::Open(const std::string& path, unsigned flags, CFileException* error) {
    Abort();
    mode_t opened = 0;
    const int fd =
        (flags & modeCreate) ? CreateFile(path, flags, opened) : OpenExisting(path, flags, opened);
    if (fd < 0) {
        const int code = errno;
        if (error)
            *error = CFileException(code, platform::FullPath(path));
        errno = code;
        return false;
    }
    handle = fd;
    hostMode = opened;
    filePath = platform::FullPath(path);  // what later errors and volume names are built from
    return true;
}

uint32_t CFile::Read(void* buffer, uint32_t count) {
    auto* bytes = static_cast<char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const ssize_t got = read(static_cast<int>(handle), bytes + done, count - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            ThrowLastError();
        if (got == 0)
            break;
        done += static_cast<uint32_t>(got);
    }
    return done;
}

void CFile::Write(const void* buffer, uint32_t count) {
    platform::CheckFault(platform::FaultOperation::write, filePath);
    const auto* bytes = static_cast<const char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const ssize_t put = write(static_cast<int>(handle), bytes + done, count - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0)
            ThrowLastError();
        if (put == 0)
            throw CFileException(ENOSPC, filePath);
        done += static_cast<uint32_t>(put);
    }
}

uint64_t CFile::Seek(int64_t offset, SeekPosition from) {
    const int whence = from == begin ? SEEK_SET : from == current ? SEEK_CUR : SEEK_END;
    const off_t position = lseek(static_cast<int>(handle), offset, whence);
    if (position < 0)
        ThrowLastError();
    return static_cast<uint64_t>(position);
}

uint64_t CFile::GetPosition() const {
    const off_t position = lseek(static_cast<int>(handle), 0, SEEK_CUR);
    if (position < 0)
        ThrowLastError();
    return static_cast<uint64_t>(position);
}

uint64_t CFile::GetLength() const {
    struct stat info;
    if (fstat(static_cast<int>(handle), &info) != 0)
        ThrowLastError();
    return static_cast<uint64_t>(info.st_size);
}

void CFile::SetLength(uint64_t length) {
    if (ftruncate(static_cast<int>(handle), static_cast<off_t>(length)) != 0)
        ThrowLastError();
}

void CFile::Flush() {
    if (handle == invalidHandle)
        return;
    platform::CheckFault(platform::FaultOperation::flush, filePath);
    if (fsync(static_cast<int>(handle)) != 0 && errno != EINVAL)
        ThrowLastError();
}

void CFile::Close() {
    if (handle == invalidHandle)
        return;
    const int fd = static_cast<int>(handle);
    const std::string path = filePath;
    handle = invalidHandle;
    filePath.clear();
    // Linux closes the descriptor even when close reports an error, so it is never retried.
    if (close(fd) != 0 && errno != EINTR)
        throw CFileException(errno, path);
}

void CFile::Abort() noexcept {
    if (handle == invalidHandle)
        return;
    close(static_cast<int>(handle));
    handle = invalidHandle;
    filePath.clear();
}

bool CFile::IsOpen() const {
    return handle != invalidHandle;
}

void CFile::SetFilePath(const std::string& path) {
    filePath = path;
}

void CFile::ThrowLastError() const {
    throw CFileException(errno, filePath);
}

void CFile::SetTimes(const CFileStatus& status) {
    // As SetStatus: a zero write time leaves both times as they are; no creation time here.
    if (status.lastWriteTime == 0)
        return;
    struct timespec times[2];
    times[0].tv_sec = status.lastAccessTime;
    times[0].tv_nsec = status.lastAccessTime != 0 ? 0 : UTIME_OMIT;
    times[1].tv_sec = status.lastWriteTime;
    times[1].tv_nsec = 0;
    if (futimens(static_cast<int>(handle), times) != 0)
        ThrowLastError();
}

bool CFile::SetAttributes(uint32_t attributes) {
    const mode_t mode = platform::posix::ModeWithAttributes(hostMode, attributes);
    if (mode == hostMode)
        return true;
    if (fchmod(static_cast<int>(handle), mode) != 0)
        return platform::posix::Fail();
    hostMode = mode;
    return true;
}

namespace {

CFileStatus StatusOf(const struct stat& info) {
    CFileStatus status;
    // Linux keeps no creation time; the modification time is the nearest stand-in.
    status.creationTime = info.st_mtime;
    status.lastAccessTime = info.st_atime;
    status.lastWriteTime = info.st_mtime;
    status.lastWriteTimeNs =
        static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    status.size = static_cast<uint64_t>(info.st_size);
    status.attributes = platform::posix::AttributesOf(info);
    return status;
}

}  // namespace

bool CFile::GetStatus(CFileStatus& status) const {
    struct stat info;
    if (fstat(static_cast<int>(handle), &info) != 0)
        return platform::posix::Fail();
    status = StatusOf(info);
    return true;
}

bool CFile::GetStatus(const std::string& path, CFileStatus& status) {
    struct stat info;
    if (platform::posix::CallOnExistingPath(
            path, [&info](const std::string& host) { return stat(host.c_str(), &info); }) != 0)
        return platform::posix::Fail();
    status = StatusOf(info);
    return true;
}

void CFile::SetStatus(const std::string& path, const CFileStatus& status) {
    // A zero time leaves that time as it is. The creation time has no counterpart on Linux.
    if (status.lastWriteTime != 0) {
        struct timespec times[2];
        times[0].tv_sec = status.lastAccessTime;
        times[0].tv_nsec = status.lastAccessTime != 0 ? 0 : UTIME_OMIT;
        times[1].tv_sec = status.lastWriteTime;
        times[1].tv_nsec = 0;
        if (platform::posix::CallOnExistingPath(path, [&times](const std::string& host) {
                return utimensat(AT_FDCWD, host.c_str(), times, 0);
            }) != 0) {
            throw CFileException(errno, path);
        }
    }
    if (!platform::SetAttributes(path, status.attributes)) {
        throw CFileException(platform::LastError(), path);
    }
}

void CFile::Remove(const std::string& path) {
    platform::CheckFault(platform::FaultOperation::remove, path);
    if (platform::posix::RemoveName(path, unlink) != 0)
        throw CFileException(errno, path);
}

void CFile::Rename(const std::string& from, const std::string& to) {
    platform::CheckFault(platform::FaultOperation::rename, from);
    if (!platform::posix::RenameNoReplace(from, to))
        throw CFileException(errno, from);
}

// The file object on Windows: CreateFileA and the handle functions, failures as CFileException.
#include "platform/file.h"

#include "platform/fault_injection.h"
#include "platform/file_system.h"
#include "platform/win32/win32_util.h"

using platform::win32::FromHandle;
using platform::win32::ToHandle;

namespace {

DWORD AccessOf(unsigned flags) {
    if (flags & CFile::modeReadWrite)
        return GENERIC_READ | GENERIC_WRITE;
    if (flags & CFile::modeWrite)
        return GENERIC_WRITE;
    return GENERIC_READ;
}

DWORD ShareOf(unsigned flags) {
    if (flags & CFile::shareDenyWrite)
        return FILE_SHARE_READ;
    return FILE_SHARE_READ | FILE_SHARE_WRITE;
}

DWORD CreationOf(unsigned flags) {
    if (!(flags & CFile::modeCreate))
        return OPEN_EXISTING;
    return (flags & CFile::modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
}

[[noreturn]] void ThrowOsError(const std::string& path) {
    throw CFileException(static_cast<long>(GetLastError()), path);
}

}  // namespace

CFile::~CFile() {
    Abort();
}

bool CFile::Open(const std::string& path, unsigned flags, CFileException* error) {
    Abort();
    const HANDLE opened = CreateFileA(path.c_str(), AccessOf(flags), ShareOf(flags), nullptr,
                                      CreationOf(flags), FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        const long code = static_cast<long>(GetLastError());
        if (error != nullptr)
            *error = CFileException(code, platform::FullPath(path));
        SetLastError(static_cast<DWORD>(code));
        return false;
    }
    // Only files on a disk: a pipe or a device name (NUL, CON, COM1, \\.\pipe\...) would
    // block a read or write, or swallow what the program means to keep.
    if (GetFileType(opened) != FILE_TYPE_DISK) {
        CloseHandle(opened);
        if (error != nullptr)
            *error = CFileException(ERROR_BAD_FILE_TYPE, platform::FullPath(path));
        SetLastError(ERROR_BAD_FILE_TYPE);
        return false;
    }
    handle = FromHandle(opened);
    filePath = platform::FullPath(path);  // what later errors and volume names are built from
    return true;
}

uint32_t CFile::Read(void* buffer, uint32_t count) {
    DWORD read = 0;
    if (!ReadFile(ToHandle(handle), buffer, count, &read, nullptr))
        ThrowLastError();
    return read;
}

void CFile::Write(const void* buffer, uint32_t count) {
    platform::CheckFault(platform::FaultOperation::write, filePath);
    DWORD written = 0;
    if (!WriteFile(ToHandle(handle), buffer, count, &written, nullptr))
        ThrowLastError();
    // A short write without an error means the disk is full.
    if (written != count)
        throw CFileException(ERROR_DISK_FULL, filePath);
}

uint64_t CFile::Seek(int64_t offset, SeekPosition from) {
    static_assert(begin == FILE_BEGIN && current == FILE_CURRENT && end == FILE_END);
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    LARGE_INTEGER position;
    if (!SetFilePointerEx(ToHandle(handle), distance, &position, static_cast<DWORD>(from))) {
        ThrowLastError();
    }
    return static_cast<uint64_t>(position.QuadPart);
}

uint64_t CFile::GetPosition() const {
    LARGE_INTEGER distance;
    distance.QuadPart = 0;
    LARGE_INTEGER position;
    if (!SetFilePointerEx(ToHandle(handle), distance, &position, FILE_CURRENT))
        ThrowLastError();
    return static_cast<uint64_t>(position.QuadPart);
}

uint64_t CFile::GetLength() const {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(ToHandle(handle), &size))
        ThrowLastError();
    return static_cast<uint64_t>(size.QuadPart);
}

void CFile::SetLength(uint64_t length) {
    // SetEndOfFile cuts or extends at the file pointer; the pointer is put back afterwards so
    // that setting the length leaves the position alone on every build.
    const uint64_t position = GetPosition();
    Seek(static_cast<int64_t>(length), begin);
    if (!SetEndOfFile(ToHandle(handle)))
        ThrowLastError();
    Seek(static_cast<int64_t>(position), begin);
}

void CFile::Flush() {
    if (handle == invalidHandle)
        return;
    platform::CheckFault(platform::FaultOperation::flush, filePath);
    if (FlushFileBuffers(ToHandle(handle)))
        return;
    // A handle without write access has nothing to flush; Windows refuses it all the same.
    if (GetLastError() == ERROR_ACCESS_DENIED)
        return;
    ThrowLastError();
}

void CFile::Close() {
    if (handle == invalidHandle)
        return;
    const HANDLE closing = ToHandle(handle);
    const std::string path = filePath;
    handle = invalidHandle;
    filePath.clear();
    if (!CloseHandle(closing))
        ThrowOsError(path);
}

void CFile::Abort() noexcept {
    if (handle == invalidHandle)
        return;
    CloseHandle(ToHandle(handle));
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
    ThrowOsError(filePath);
}

namespace {

// The status from what Windows tells of a file, by handle or by path: both records name their
// fields alike.
template <typename Information>
CFileStatus StatusOf(const Information& data) {
    CFileStatus status;
    status.creationTime = platform::win32::ToTime(data.ftCreationTime);
    status.lastAccessTime = platform::win32::ToTime(data.ftLastAccessTime);
    status.lastWriteTime = platform::win32::ToTime(data.ftLastWriteTime);
    status.lastWriteTimeNs = platform::win32::ToNanoseconds(data.ftLastWriteTime);
    status.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    status.attributes = data.dwFileAttributes;
    return status;
}

}  // namespace

bool CFile::GetStatus(CFileStatus& status) const {
    BY_HANDLE_FILE_INFORMATION data;
    if (!GetFileInformationByHandle(ToHandle(handle), &data))
        return false;
    status = StatusOf(data);
    return true;
}

bool CFile::GetStatus(const std::string& path, CFileStatus& status) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return false;
    status = StatusOf(data);
    return true;
}

namespace {

// Sets the times that are not 0 (0 leaves a time as it is) on an open file.
bool SetHandleTimes(HANDLE file, const CFileStatus& status) {
    FILETIME times[3];
    const std::time_t values[3] = {status.creationTime, status.lastAccessTime,
                                   status.lastWriteTime};
    FILETIME* given[3] = {};
    for (int i = 0; i < 3; ++i) {
        if (values[i] == 0)
            continue;
        times[i] = platform::win32::ToFileTime(values[i]);
        given[i] = &times[i];
    }
    return SetFileTime(file, given[0], given[1], given[2]) != 0;
}

void SetPathTimes(const std::string& path, const CFileStatus& status) {
    const HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        ThrowOsError(path);
    const bool set = SetHandleTimes(file, status);
    const DWORD error = GetLastError();
    CloseHandle(file);
    if (!set)
        throw CFileException(static_cast<long>(error), path);
}

}  // namespace

void CFile::SetTimes(const CFileStatus& status) {
    if (!SetHandleTimes(ToHandle(handle), status))
        ThrowLastError();
}

bool CFile::SetAttributes(uint32_t attributes) {
    // Attributes change through the path; no handle is kept out by this file's sharing mode.
    return platform::SetAttributes(filePath, attributes);
}

void CFile::SetStatus(const std::string& path, const CFileStatus& status) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        ThrowOsError(path);
    // A read-only file refuses new times, so its attributes change first when they change at all.
    const bool change = attributes != status.attributes;
    const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (change && readOnly && !SetFileAttributesA(path.c_str(), status.attributes)) {
        ThrowOsError(path);
    }
    SetPathTimes(path, status);
    if (change && !readOnly && !SetFileAttributesA(path.c_str(), status.attributes)) {
        ThrowOsError(path);
    }
}

void CFile::Remove(const std::string& path) {
    platform::CheckFault(platform::FaultOperation::remove, path);
    if (!DeleteFileA(path.c_str()))
        ThrowOsError(path);
}

void CFile::Rename(const std::string& from, const std::string& to) {
    platform::CheckFault(platform::FaultOperation::rename, from);
    if (!MoveFileA(from.c_str(), to.c_str()))
        ThrowOsError(from);
}

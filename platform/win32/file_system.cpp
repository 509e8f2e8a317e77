// Files and folders by path on Windows: the ANSI Win32 functions called on the program's texts.
#include "platform/file_system.h"

#include <vector>

#include "platform/win32/win32_util.h"

namespace platform {

long LastError() {
    return static_cast<long>(GetLastError());
}

struct FileFinder::State {
    HANDLE search = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAA data{};
};

namespace {

FindData ToFindData(const WIN32_FIND_DATAA& data) {
    FindData found;
    found.name = data.cFileName;
    found.attributes = data.dwFileAttributes;
    found.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    found.lastWriteTime = win32::ToTime(data.ftLastWriteTime);
    return found;
}

}  // namespace

FileFinder::FileFinder() = default;
FileFinder::~FileFinder() {
    Close();
}

void FileFinder::Close() {
    if (state == nullptr)
        return;
    if (state->search != INVALID_HANDLE_VALUE)
        FindClose(state->search);
    delete state;
    state = nullptr;
}

bool FileFinder::FindFirst(const std::string& pattern) {
    Close();
    state = new State;
    state->search = FindFirstFileA(pattern.c_str(), &state->data);
    if (state->search == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        Close();
        SetLastError(error);
        return false;
    }
    current = ToFindData(state->data);
    return true;
}

bool FileFinder::FindNext() {
    if (state == nullptr) {
        SetLastError(ERROR_NO_MORE_FILES);
        return false;
    }
    if (!FindNextFileA(state->search, &state->data))
        return false;
    current = ToFindData(state->data);
    return true;
}

bool RemoveFile(const std::string& path) {
    return DeleteFileA(path.c_str()) != 0;
}

bool CopyFileOver(const std::string& from, const std::string& to, bool failIfExists) {
    return CopyFileA(from.c_str(), to.c_str(), failIfExists) != 0;
}

bool MoveFileTo(const std::string& from, const std::string& to) {
    return MoveFileA(from.c_str(), to.c_str()) != 0;
}

bool ReplaceFileAtomically(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool CreateFolder(const std::string& path) {
    return CreateDirectoryA(path.c_str(), nullptr) != 0;
}

bool RemoveFolder(const std::string& path) {
    return RemoveDirectoryA(path.c_str()) != 0;
}

bool SetCurrentFolder(const std::string& path) {
    return SetCurrentDirectoryA(path.c_str()) != 0;
}

bool GetCurrentFolder(std::string& path) {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length == 0)
            return false;
        // Too small a buffer gets the size needed, terminator included.
        if (length < buffer.size()) {
            path.assign(buffer.data(), length);
            return true;
        }
        buffer.resize(length);
    }
}

bool CanEnterFolderPath(const std::string& path) {
    if (path.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return true;
    SetLastError(ERROR_DIRECTORY);
    return false;
}

uint32_t GetAttributes(const std::string& path) {
    return GetFileAttributesA(path.c_str());
}

bool SetAttributes(const std::string& path, uint32_t attributes) {
    return SetFileAttributesA(path.c_str(), attributes) != 0;
}

bool IsRemovableMedia(const std::string& path) {
    const std::string root = win32::DriveRoot(path);
    if (root.empty())
        return false;
    return GetDriveTypeA(root.c_str()) == DRIVE_REMOVABLE;
}

bool GetFreeDiskSpace(const std::string& path, uint64_t& freeBytes) {
    // Without a drive part the drive of the current folder is asked.
    const std::string root = win32::DriveRoot(path);
    DWORD sectorsPerCluster = 0;
    DWORD bytesPerSector = 0;
    DWORD freeClusters = 0;
    DWORD totalClusters = 0;
    if (!GetDiskFreeSpaceA(root.empty() ? nullptr : root.c_str(), &sectorsPerCluster,
                           &bytesPerSector, &freeClusters, &totalClusters)) {
        return false;
    }
    freeBytes = static_cast<uint64_t>(sectorsPerCluster) * bytesPerSector * freeClusters;
    return true;
}

bool SetDriveLabel(const std::string& drive, const std::string& label) {
    const std::string root = win32::DriveRoot(drive);
    return SetVolumeLabelA(root.empty() ? nullptr : root.c_str(), label.c_str()) != 0;
}

namespace {

// Wine maps the host's root folder to drive Z:.
constexpr char hostDrive = 'Z';

std::string WithSeparators(std::string text, char from, char to) {
    for (char& c : text) {
        if (c == from)
            c = to;
    }
    return text;
}

// Wine's own mapping of a Windows path to the host's, for paths outside drive Z: (the Wine
// prefix's C: drive); absent on Windows itself.
bool WineHostPath(const std::string& path, std::string& hostPath) {
    using UnixFileName = char*(CDECL*)(const WCHAR*);
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr)
        return false;
    const auto convert = reinterpret_cast<UnixFileName>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_unix_file_name")));
    if (convert == nullptr)
        return false;
    const int length = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
    if (length <= 0)
        return false;
    std::vector<WCHAR> wide(static_cast<size_t>(length));
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), length);
    char* converted = convert(wide.data());
    if (converted == nullptr)
        return false;
    hostPath = converted;
    HeapFree(GetProcessHeap(), 0, converted);
    return true;
}

bool IsOnHostDrive(const std::string& path) {
    return path.size() >= 3 && (path[0] == hostDrive || path[0] == hostDrive + 'a' - 'A') &&
           path[1] == ':' && path[2] == '\\';
}

}  // namespace

std::string FromHostPath(const std::string& hostPath) {
    if (!hostPath.empty() && hostPath[0] == '/') {
        return std::string(1, hostDrive) + ":" + WithSeparators(hostPath, '/', '\\');
    }
    return WithSeparators(hostPath, '/', '\\');
}

std::string ToHostPath(const std::string& path) {
    if (IsOnHostDrive(path))
        return WithSeparators(path.substr(2), '\\', '/');
    std::string hostPath;
    if (WineHostPath(path, hostPath))
        return hostPath;
    return WithSeparators(path, '\\', '/');
}

}  // namespace platform

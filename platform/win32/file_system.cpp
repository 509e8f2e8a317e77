// Files and folders by path on Windows: the ANSI Win32 functions called on the program's texts.
#include "platform/file_system.h"

#include <vector>

#include "platform/fault_injection.h"
#include "platform/path_text.h"
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

// The fault seam: fails this call as Windows would, when the test asked for it.
bool InjectedFailure(FaultOperation operation) {
    FaultKind kind;
    if (!FaultFires(operation, kind))
        return false;
    SetLastError(static_cast<DWORD>(FaultErrorNumber(kind)));
    return true;
}

}  // namespace

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
    if (InjectedFailure(FaultOperation::remove))
        return false;
    if (!DeleteFileA(path.c_str()))
        return false;
    // A delete can succeed and leave the name in place: Wine reports success for a file the host
    // refuses to unlink. Callers take true for a name that is gone.
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return true;
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
}

bool CopyFileOver(const std::string& from, const std::string& to, bool failIfExists) {
    if (InjectedFailure(FaultOperation::write))
        return false;
    return CopyFileA(from.c_str(), to.c_str(), failIfExists) != 0;
}

bool MoveFileTo(const std::string& from, const std::string& to) {
    if (InjectedFailure(FaultOperation::rename))
        return false;
    return MoveFileA(from.c_str(), to.c_str()) != 0;
}

bool ReplaceFileAtomically(const std::string& from, const std::string& to) {
    if (InjectedFailure(FaultOperation::rename))
        return false;
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

std::string FullPath(const std::string& path) {
    if (path.empty())
        return path;
    std::vector<char> buffer(MAX_PATH + 1);
    for (;;) {
        const DWORD length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()),
                                              buffer.data(), nullptr);
        if (length == 0)
            return path;
        if (length < buffer.size())
            return std::string(buffer.data(), length);
        buffer.resize(length + 1);
    }
}

long FileTooLargeError() {
    return ERROR_FILE_TOO_LARGE;
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

bool NameExists(const std::string& path) {
    // Wildcards are no part of a name: the attributes call takes none.
    if (path.find_first_of("*?") != std::string::npos)
        return false;
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

NameKind GetNameKind(const std::string& path) {
    if (path.find_first_of("*?") != std::string::npos)
        return NameKind::nothing;  // as NameExists: a name, never a pattern
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return NameKind::nothing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? NameKind::folder : NameKind::file;
}

namespace {

bool FileInformation(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
    const HANDLE file =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool known = GetFileInformationByHandle(file, &info) != 0;
    CloseHandle(file);
    return known;
}

}  // namespace

bool GetFileIdentity(const std::string& path, FileIdentity& identity) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!FileInformation(path, info))
        return false;
    identity.volume = info.dwVolumeSerialNumber;
    identity.file = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

bool IsSameFile(const std::string& a, const std::string& b) {
    FileIdentity first;
    FileIdentity second;
    return GetFileIdentity(a, first) && GetFileIdentity(b, second) && first == second;
}

bool PathFitsHost(const std::string& path) {
    return path.size() < MAX_PATH;
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

// Length of the part a file search cannot spell: "X:" or "\\server\share".
size_t RootLength(const std::string& path) {
    if (path.size() >= 2 && path[1] == ':')
        return 2;
    if (path.size() < 2 || !IsSeparator(path[0]) || !IsSeparator(path[1]))
        return 0;
    size_t pos = 2;
    for (int part = 0; part < 2 && pos < path.size(); ++part) {
        while (pos < path.size() && IsSeparator(path[pos])) ++pos;
        while (pos < path.size() && !IsSeparator(path[pos])) ++pos;
    }
    return pos;
}

}  // namespace

// A file search reports the name as the folder holds it; a short (8.3) name it matched has
// another length and is left as written.
std::string GetOnDiskName(const std::string& path) {
    std::string out = path;
    size_t pos = RootLength(path);
    while (pos < out.size()) {
        if (IsSeparator(out[pos])) {
            ++pos;
            continue;
        }
        size_t end = out.find_first_of("\\/", pos);
        end = end == std::string::npos ? out.size() : end;
        const std::string component = out.substr(pos, end - pos);
        if (component != "." && component != ".." &&
            component.find_first_of("*?") == std::string::npos) {
            WIN32_FIND_DATAA data{};
            const HANDLE search = FindFirstFileA(out.substr(0, end).c_str(), &data);
            if (search == INVALID_HANDLE_VALUE)
                break;
            FindClose(search);
            const std::string found = data.cFileName;
            if (found.size() == component.size() &&
                lstrcmpiA(found.c_str(), component.c_str()) == 0) {
                out.replace(pos, end - pos, found);
            }
        }
        pos = end;
    }
    return out;
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

// Re-encodes text between two code pages through UTF-16; false when a conversion fails.
bool Recode(const std::string& text, UINT from, UINT to, std::string& result) {
    result.clear();
    if (text.empty())
        return true;
    const int size = static_cast<int>(text.size());
    const int wideLength = MultiByteToWideChar(from, 0, text.data(), size, nullptr, 0);
    if (wideLength <= 0)
        return false;
    std::vector<WCHAR> wide(static_cast<size_t>(wideLength));
    MultiByteToWideChar(from, 0, text.data(), size, wide.data(), wideLength);
    const int length =
        WideCharToMultiByte(to, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return false;
    result.resize(static_cast<size_t>(length));
    WideCharToMultiByte(to, 0, wide.data(), wideLength, result.data(), length, nullptr, nullptr);
    return true;
}

// Wine's own functions between its paths and the host's (UTF-8) ones; absent on Windows itself.
// They know every drive, the prefix's C: included, not only Z:.
FARPROC WineFunction(const char* name) {
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    return kernel == nullptr ? nullptr : GetProcAddress(kernel, name);
}

bool WineHostPath(const std::string& path, std::string& hostPath) {
    using ToUnix = char*(CDECL*)(const WCHAR*);
    const auto convert =
        reinterpret_cast<ToUnix>(reinterpret_cast<void*>(WineFunction("wine_get_unix_file_name")));
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

bool WineProgramPath(const std::string& hostPath, std::string& path) {
    using ToDos = WCHAR*(CDECL*)(const char*);
    const auto convert =
        reinterpret_cast<ToDos>(reinterpret_cast<void*>(WineFunction("wine_get_dos_file_name")));
    if (convert == nullptr)
        return false;
    WCHAR* converted = convert(hostPath.c_str());
    if (converted == nullptr)
        return false;
    const int length = WideCharToMultiByte(CP_ACP, 0, converted, -1, nullptr, 0, nullptr, nullptr);
    bool done = false;
    if (length > 0) {
        path.resize(static_cast<size_t>(length));
        WideCharToMultiByte(CP_ACP, 0, converted, -1, path.data(), length, nullptr, nullptr);
        path.pop_back();  // the terminator
        done = true;
    }
    HeapFree(GetProcessHeap(), 0, converted);
    return done;
}

bool IsOnHostDrive(const std::string& path) {
    return path.size() >= 3 && (path[0] == hostDrive || path[0] == hostDrive + 'a' - 'A') &&
           path[1] == ':' && path[2] == '\\';
}

}  // namespace

std::string FromHostPath(const std::string& hostPath) {
    if (hostPath.empty() || hostPath[0] != '/')
        return WithSeparators(hostPath, '/', '\\');
    std::string path;
    if (WineProgramPath(hostPath, path))
        return path;
    // Host paths are UTF-8; the program's texts are in the ANSI code page.
    if (!Recode(hostPath, CP_UTF8, CP_ACP, path))
        path = hostPath;
    return std::string(1, hostDrive) + ":" + WithSeparators(path, '/', '\\');
}

std::string DisplayPath(const std::string& path) {
    return path;
}

std::string ToHostPath(const std::string& path) {
    std::string hostPath;
    if (WineHostPath(path, hostPath))
        return hostPath;
    if (!IsOnHostDrive(path))
        return WithSeparators(path, '\\', '/');
    if (!Recode(path.substr(2), CP_ACP, CP_UTF8, hostPath))
        hostPath = path.substr(2);
    return WithSeparators(hostPath, '\\', '/');
}

}  // namespace platform

// Files and folders by path: search, delete, copy, move, folders, attributes, drives.
// Every path is an ANSI text with backslashes; the implementation maps it to the host's form.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace platform {

constexpr uint32_t attributeReadOnly = 0x01;
constexpr uint32_t attributeFolder = 0x10;
constexpr uint32_t attributeArchive = 0x20;
constexpr uint32_t invalidAttributes = 0xFFFFFFFF;

// The error number of the last failed call of this layer (errno, or GetLastError() on Windows).
long LastError();

struct FindData {
    std::string name;  // the last component as found on disk
    uint32_t attributes = 0;
    uint64_t size = 0;
    std::time_t lastWriteTime = 0;
};

// File search over one folder. The last component of the pattern may hold the wildcards '*'
// and '?', matched as Windows does ("*.*" matches every name); "." and ".." are reported as
// Windows reports them. On Linux names come in a fixed order (sorted ignoring letter case).
class FileFinder {
public:
    FileFinder();
    FileFinder(const FileFinder&) = delete;
    FileFinder& operator=(const FileFinder&) = delete;
    ~FileFinder();

    bool FindFirst(const std::string& pattern);  // false when nothing matches
    bool FindNext();                             // false after the last match
    const FindData& Current() const { return current; }
    void Close();

private:
    struct State;
    State* state = nullptr;
    FindData current;
};

bool RemoveFile(const std::string& path);  // true once the name is gone
bool CopyFileOver(const std::string& from, const std::string& to, bool failIfExists);
bool MoveFileTo(const std::string& from, const std::string& to);  // fails when `to` exists
// Replaces `to` by `from` in one step: a reader sees the old or the new file, never neither.
bool ReplaceFileAtomically(const std::string& from, const std::string& to);
bool CreateFolder(const std::string& path);
bool RemoveFolder(const std::string& path);  // only an empty folder
bool SetCurrentFolder(const std::string& path);
bool GetCurrentFolder(std::string& path);
// The path made absolute against the current folder, in this program's form; the path as it
// was when that cannot be done.
std::string FullPath(const std::string& path);
// The operating system's error number for a file too large for what is asked of it.
long FileTooLargeError();
bool CanEnterFolderPath(const std::string& path);  // tests without changing the current folder

uint32_t GetAttributes(const std::string& path);  // invalidAttributes when it fails
// True when something (file, folder, even a dangling link) has exactly this name: a name, never
// a pattern.
bool NameExists(const std::string& path);
// What exactly this name names (a name, never a pattern): nothing, a folder (also one reached
// through a link), or anything else (a file, a dangling link). One look where GetAttributes and
// NameExists would take one each.
enum class NameKind { nothing, file, folder };
NameKind GetNameKind(const std::string& path);
// What tells one file from every other, whatever names reach it.
struct FileIdentity {
    uint64_t volume = 0;  // device, or the volume serial number
    uint64_t file = 0;    // inode, or the file index
    bool operator==(const FileIdentity&) const = default;
};
bool GetFileIdentity(const std::string& path, FileIdentity& identity);

// True when both paths name one existing file, by whatever names (letter case, links, short
// names): the same device and inode, or the same volume and file index on Windows.
bool IsSameFile(const std::string& a, const std::string& b);
// True when the host can name a file by this path: Windows takes MAX_PATH characters; Linux 255
// bytes a component and PATH_MAX in all.
bool PathFitsHost(const std::string& path);
bool SetAttributes(const std::string& path, uint32_t attributes);

bool IsRemovableMedia(const std::string& path);
bool GetFreeDiskSpace(const std::string& path, uint64_t& freeBytes);
bool SetDriveLabel(const std::string& drive, const std::string& label);

// path with each existing component spelled as it stands on disk (as a file search reports it);
// components from the first one that does not exist on are kept as given.
std::string GetOnDiskName(const std::string& path);

// A path as the console shows it to the player: as the host writes paths (on Linux with '/',
// each existing component spelled as on disk).
std::string DisplayPath(const std::string& path);

// A path of the build host (as tests and build scripts know it) in this program's form, and back.
std::string FromHostPath(const std::string& hostPath);
std::string ToHostPath(const std::string& path);

}  // namespace platform

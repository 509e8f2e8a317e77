// Files and folders by path on Linux: search, copy, move, folders and attributes.
#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

#include "platform/code_page.h"
#include "platform/fault_injection.h"
#include "platform/posix/case_fold.h"
#include "platform/posix/host_path.h"
#include "platform/posix/name_cache.h"
#include "platform/posix/posix_io.h"
#include "platform/posix/regular_file.h"

namespace platform {

using posix::EntryChange;
using posix::Fail;
using posix::FailWith;
using posix::HostPath;

namespace {

// The fault seam: fails this call as the host would, when the test asked for it.
bool InjectedFailure(FaultOperation operation) {
    FaultKind kind;
    if (!FaultFires(operation, kind))
        return false;
    FailWith(static_cast<int>(FaultErrorNumber(kind)));
    return true;
}

// The length of the UTF-8 character that starts at text[at] (1 for a byte that starts none), so
// that '?' matches one character as on Windows.
size_t CharacterLength(const std::string& text, size_t at) {
    size_t length = 1;
    while (at + length < text.size() && (static_cast<uint8_t>(text[at + length]) & 0xC0) == 0x80)
        ++length;
    return length;
}

// pattern and name are both case-folded.
bool MatchFrom(const std::string& pattern, size_t p, const std::string& name, size_t n) {
    while (p < pattern.size()) {
        const char wanted = pattern[p];
        if (wanted == '*') {
            for (size_t rest = n; rest <= name.size(); ++rest) {
                if (MatchFrom(pattern, p + 1, name, rest))
                    return true;
            }
            return false;
        }
        if (n == name.size())
            return false;
        if (wanted == '?') {
            n += CharacterLength(name, n);
        } else if (wanted != name[n]) {
            return false;
        } else {
            ++n;
        }
        ++p;
    }
    return n == name.size();
}

// Windows' rules that plain globbing lacks: "x.*" also matches "x" (so "*.*" matches every
// name), and a pattern ending in "." matches names without an extension.
bool MatchesWildcards(std::string pattern, const std::string& givenName) {
    pattern = posix::FoldName(pattern);
    const std::string name = posix::FoldName(givenName);
    while (pattern.find("**") != std::string::npos) pattern.erase(pattern.find("**"), 1);
    if (MatchFrom(pattern, 0, name, 0))
        return true;
    if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0 &&
        name.find('.') == std::string::npos) {
        return MatchFrom(pattern.substr(0, pattern.size() - 2), 0, name, 0);
    }
    if (pattern.size() >= 2 && pattern.back() == '.' && pattern != ".." &&
        name.find('.') == std::string::npos) {
        return MatchFrom(pattern.substr(0, pattern.size() - 1), 0, name, 0);
    }
    return false;
}

bool FillFindDataFromStat(const struct stat& info, FindData& data) {
    data.attributes = posix::AttributesOf(info);
    data.size = S_ISDIR(info.st_mode) ? 0 : static_cast<uint64_t>(info.st_size);
    data.lastWriteTime = info.st_mtime;
    return true;
}

bool FillFindDataHost(const std::string& host, const std::string& name, FindData& data) {
    struct stat info;
    if (stat(host.c_str(), &info) != 0 && lstat(host.c_str(), &info) != 0)
        return false;
    data.name = name;
    return FillFindDataFromStat(info, data);
}

bool LessIgnoringCase(const std::string& a, const std::string& b) {
    const int order = CollateNamesNoCase(a, b);
    return order != 0 ? order < 0 : a < b;
}

bool FillFindData(const std::string& path, const std::string& name, FindData& data) {
    return FillFindDataHost(HostPath(path), name, data);
}

// A plain name is reported as its folder spells it, as Windows does, whatever case it was asked
// in.
bool FillNamedFindData(const std::string& path, FindData& data) {
    std::string host;
    struct stat info;
    // A symbolic link is found as what it points to, a dangling one as itself, as a search
    // lists them.
    if (posix::CallOnExistingPath(path, [&host, &info](const std::string& spelled) {
            host = spelled;
            if (lstat(host.c_str(), &info) != 0)
                return -1;
            struct stat target;
            if (S_ISLNK(info.st_mode) && stat(host.c_str(), &target) == 0)
                info = target;
            return 0;
        }) != 0)
        return false;
    data.name = posix::LastNameOnDisk(host);
    return FillFindDataFromStat(info, data);
}
std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty())
        return name;
    if (folder.back() == '\\' || folder.back() == '/')
        return folder + name;
    return folder + "\\" + name;
}

}  // namespace

struct FileFinder::State {
    std::vector<FindData> matches;
    size_t next = 0;
};

FileFinder::FileFinder() = default;
FileFinder::~FileFinder() {
    Close();
}

void FileFinder::Close() {
    delete state;
    state = nullptr;
}

bool FileFinder::FindFirst(const std::string& pattern) {
    Close();
    const size_t split = pattern.find_last_of("\\/");
    const std::string folder = split == std::string::npos ? "" : pattern.substr(0, split + 1);
    const std::string last = split == std::string::npos ? pattern : pattern.substr(split + 1);
    std::vector<FindData> matches;
    if (last.find_first_of("*?") == std::string::npos) {
        // A plain name is looked up directly (through the cached listing of its folder when
        // its spelling differs), without listing a possibly large folder here.
        FindData data;
        if (!last.empty() && FillNamedFindData(pattern, data))
            matches.push_back(data);
    } else {
        const std::string hostFolder = HostPath(folder.empty() ? "." : folder);
        DIR* dir = opendir(hostFolder.c_str());
        if (!dir)
            return Fail();
        // The root has no "." and ".." entries on Windows.
        const bool isRoot = hostFolder.find_first_not_of('/') == std::string::npos;
        errno = 0;
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            const bool dots = name == "." || name == "..";
            FindData data;
            if ((!dots || !isRoot) && MatchesWildcards(last, name) &&
                FillFindData(JoinPath(folder, name), name, data)) {
                matches.push_back(data);
            }
        }
        closedir(dir);
        std::sort(matches.begin(), matches.end(), [](const FindData& a, const FindData& b) {
            return LessIgnoringCase(a.name, b.name);
        });
    }
    if (matches.empty())
        return FailWith(ENOENT);
    state = new State{std::move(matches), 0};
    return FindNext();
}

bool FileFinder::FindNext() {
    if (!state || state->next >= state->matches.size())
        return FailWith(ENOENT);
    current = state->matches[state->next++];
    return true;
}

bool RemoveFile(const std::string& path) {
    if (InjectedFailure(FaultOperation::remove))
        return false;
    return posix::RemoveName(path, unlink) == 0 || Fail();
}

namespace {

bool CopyBytes(int from, int to) {
    char block[65536];
    for (;;) {
        const ssize_t got = read(from, block, sizeof block);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return Fail();
        if (got == 0)
            return true;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = write(to, block + done, static_cast<size_t>(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return put < 0 ? Fail() : FailWith(ENOSPC);
            done += put;
        }
    }
}

// Copies an open source over an open target; on any failure returns false with errno kept.
bool CopyOpenFile(int from, const struct stat& source, int to) {
    struct stat target;
    if (fstat(to, &target) != 0)
        return Fail();
    // Copying a file onto itself would truncate it first and lose it.
    if (target.st_dev == source.st_dev && target.st_ino == source.st_ino)
        return FailWith(EINVAL);
    if (ftruncate(to, 0) != 0 || !CopyBytes(from, to))
        return Fail();
    // As Windows' CopyFile: the copy keeps the source's modification time and permissions.
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    if (fchmod(to, source.st_mode & 07777) != 0 || futimens(to, times) != 0)
        return Fail();
    return true;
}

}  // namespace

bool CopyFileOver(const std::string& from, const std::string& to, bool failIfExists) {
    if (InjectedFailure(FaultOperation::write))
        return false;
    // Both ends regular files: a FIFO or device is refused rather than waited on or read.
    const int source = posix::OpenRegularFile(HostPath(from), O_RDONLY, 0);
    if (source < 0)
        return Fail();
    struct stat info;
    if (fstat(source, &info) != 0) {
        const int error = errno;
        close(source);
        return FailWith(error);
    }
    const int flags = O_WRONLY | O_CREAT | (failIfExists ? O_EXCL : 0);
    const std::string hostTo = HostPath(to);
    const EntryChange change(hostTo);
    const int target = posix::OpenRegularFile(hostTo, flags, info.st_mode & 0777);
    if (target < 0) {
        const int error = errno;
        close(source);
        return FailWith(error);
    }
    change.Created();
    const bool copied = CopyOpenFile(source, info, target);
    const int error = errno;
    close(source);
    if (close(target) != 0 && copied)
        return Fail();
    return copied || FailWith(error);
}

bool MoveFileTo(const std::string& from, const std::string& to) {
    if (InjectedFailure(FaultOperation::rename))
        return false;
    return posix::RenameNoReplace(from, to);
}

bool ReplaceFileAtomically(const std::string& from, const std::string& to) {
    if (InjectedFailure(FaultOperation::rename))
        return false;
    const std::string hostFrom = HostPath(from);
    const std::string hostTo = HostPath(to);
    const EntryChange removed(hostFrom);
    const EntryChange created(hostTo);
    if (rename(hostFrom.c_str(), hostTo.c_str()) != 0)
        return Fail();
    removed.Removed();
    created.Created();
    return true;
}

bool CreateFolder(const std::string& path) {
    const std::string host = HostPath(path);
    const EntryChange change(host);
    if (mkdir(host.c_str(), 0777) != 0)
        return Fail();
    change.Created();
    return true;
}

bool RemoveFolder(const std::string& path) {
    return posix::RemoveName(path, rmdir) == 0 || Fail();
}

bool SetCurrentFolder(const std::string& path) {
    return posix::CallOnExistingPath(
               path, [](const std::string& host) { return chdir(host.c_str()); }) == 0 ||
           Fail();
}

bool GetCurrentFolder(std::string& path) {
    std::vector<char> buffer(4096);
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE)
            return Fail();
        buffer.resize(buffer.size() * 2);
    }
    path = posix::ProgramPath(buffer.data());
    return true;
}

std::string FullPath(const std::string& path) {
    std::string current;
    if (path.empty() || path[0] == '\\' || path[0] == '/' || !GetCurrentFolder(current))
        return path;
    while (!current.empty() && current.back() == '\\') current.pop_back();
    return current + '\\' + path;
}

long FileTooLargeError() {
    return EFBIG;
}

bool CanEnterFolderPath(const std::string& path) {
    const std::string host = HostPath(path);
    struct stat info;
    if (stat(host.c_str(), &info) != 0)
        return Fail();
    if (!S_ISDIR(info.st_mode))
        return FailWith(ENOTDIR);
    return access(host.c_str(), X_OK) == 0 || Fail();
}

uint32_t GetAttributes(const std::string& path) {
    struct stat info;
    if (posix::CallOnExistingPath(
            path, [&info](const std::string& host) { return stat(host.c_str(), &info); }) != 0) {
        Fail();
        return invalidAttributes;
    }
    return posix::AttributesOf(info);
}

bool NameExists(const std::string& path) {
    struct stat info;
    return posix::CallOnExistingPath(
               path, [&info](const std::string& host) { return lstat(host.c_str(), &info); }) == 0;
}

NameKind GetNameKind(const std::string& path) {
    // A name its folder's listing shows absent needs no look of its own: the usual case for the
    // files a mission adds.
    const posix::MatchedName matched = posix::MatchName(posix::ExactHostPath(path));
    struct stat info;
    if (matched.absent || lstat(matched.path.c_str(), &info) != 0)
        return NameKind::nothing;
    if (S_ISLNK(info.st_mode) && stat(matched.path.c_str(), &info) != 0)
        return NameKind::file;  // a dangling link
    return S_ISDIR(info.st_mode) ? NameKind::folder : NameKind::file;
}

bool IsSameFile(const std::string& a, const std::string& b) {
    struct stat first;
    struct stat second;
    const auto statOf = [](struct stat& info) {
        return [&info](const std::string& host) { return stat(host.c_str(), &info); };
    };
    return posix::CallOnExistingPath(a, statOf(first)) == 0 &&
           posix::CallOnExistingPath(b, statOf(second)) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

bool PathFitsHost(const std::string& path) {
    const std::string host = posix::ExactHostPath(path);
    if (host.size() >= PATH_MAX)
        return false;
    size_t start = 0;
    while (start <= host.size()) {
        const size_t end = std::min(host.find('/', start), host.size());
        if (end - start > NAME_MAX)
            return false;
        start = end + 1;
    }
    return true;
}

bool SetAttributes(const std::string& path, uint32_t attributes) {
    std::string host;
    struct stat info;
    if (posix::CallOnExistingPath(path, [&host, &info](const std::string& spelled) {
            host = spelled;
            return stat(host.c_str(), &info);
        }) != 0)
        return Fail();
    // A folder keeps its own permissions.
    if (S_ISDIR(info.st_mode))
        return true;
    const mode_t mode = info.st_mode & 07777;
    const mode_t wanted = posix::ModeWithAttributes(mode, attributes);
    if (wanted == mode)
        return true;
    return chmod(host.c_str(), wanted) == 0 || Fail();
}

std::string GetOnDiskName(const std::string& path) {
    std::string spelled = posix::SpellingOnDisk(HostPath(path));
    // Names equal but for letter case mostly have equal lengths, so the separators stand where
    // the caller put them and are given back as written; otherwise as backslashes.
    if (spelled.size() != path.size())
        return posix::ProgramPath(spelled);
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '\\' || path[i] == '/')
            spelled[i] = path[i];
    }
    return spelled;
}

std::string FromHostPath(const std::string& hostPath) {
    return posix::ProgramPath(hostPath);
}

std::string DisplayPath(const std::string& path) {
    return HostPath(path);
}

std::string ToHostPath(const std::string& path) {
    return HostPath(path);
}

}  // namespace platform

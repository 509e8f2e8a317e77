// Path splitting (drive, folder, name, extension), path tests and folder creation.
#include "zip/path_helpers.h"

#include <cstdint>
#include <string_view>

#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/path_text.h"
#include "platform/system.h"

namespace {

struct PathParts {
    std::string drive;
    std::string folder;
    std::string name;
    std::string extension;
};

// Splits like the C library does, but never cuts a part to a length limit: a cut path names
// another file (a long folder would end inside a name, its rest merging into the file name), so
// a path too long for the host is left for the host to refuse.
PathParts SplitPath(const std::string& path) {
    // A text ends at its first zero byte, as it does for the system's own calls.
    std::string_view rest(path.c_str());
    PathParts parts;
    if (rest.size() >= 2 && rest[1] == ':') {
        parts.drive = std::string(rest.substr(0, 2));
        rest.remove_prefix(2);
    }
    size_t folderEnd = 0;  // one past the last separator
    size_t lastDot = std::string_view::npos;
    for (size_t i = 0; i < rest.size(); ++i) {
        const auto byte = static_cast<uint8_t>(rest[i]);
        if (platform::IsLeadByte(byte) && i + 1 < rest.size()) {
            ++i;  // the trail byte of a double-byte character is never a separator or a dot
            continue;
        }
        if (platform::IsSeparator(rest[i])) {
            folderEnd = i + 1;
            lastDot = std::string_view::npos;
        } else if (rest[i] == '.') {
            lastDot = i;
        }
    }
    parts.folder = std::string(rest.substr(0, folderEnd));
    const size_t nameEnd = lastDot == std::string_view::npos ? rest.size() : lastDot;
    parts.name = std::string(rest.substr(folderEnd, nameEnd - folderEnd));
    parts.extension = std::string(rest.substr(nameEnd));
    return parts;
}

}  // namespace

std::string GetPathDrive(const std::string& path) {
    return SplitPath(path).drive;
}

std::string GetPathFolder(const std::string& path) {
    const PathParts parts = SplitPath(path);
    return parts.drive + parts.folder;
}

std::string GetPathTitle(const std::string& path) {
    return SplitPath(path).name;
}

std::string GetPathFileName(const std::string& path) {
    const PathParts parts = SplitPath(path);
    return parts.name + parts.extension;
}

std::string GetPathWithoutDrive(const std::string& path) {
    const PathParts parts = SplitPath(path);
    const size_t start = parts.folder.find_first_not_of('\\');
    const std::string folder =
        start == std::string::npos ? std::string() : parts.folder.substr(start);
    return folder + parts.name + parts.extension;
}

PathKind GetPathKind(const std::string& path) {
    platform::FileFinder finder;
    if (!finder.FindFirst(path)) {
        // A search cannot list some folders (drive roots among them) that still exist.
        return CanEnterFolder(path) ? PathKind::folder : PathKind::nothing;
    }
    return (finder.Current().attributes & platform::attributeFolder) != 0 ? PathKind::folder
                                                                          : PathKind::file;
}

// Tested without changing the process-wide current folder, so no other path is ever resolved
// against the tested one.
bool CanEnterFolder(const std::string& path) {
    return platform::CanEnterFolderPath(path);
}

bool CreatePathFolders(const std::string& path) {
    const std::string folder = platform::WithoutTrailingBackslashes(path);
    const PathParts parts = SplitPath(folder);
    const std::string parent = parts.drive + parts.folder;
    if (parent == folder)
        return true;  // a bare drive, the empty text, a trailing '/'
    if (GetPathKind(folder) == PathKind::folder)
        return true;
    if (!CreatePathFolders(parent))
        return false;
    return platform::CreateFolder(folder);
}

// Only the drive part counts where there is one; the platform layer knows how its host tells
// removable media apart.
bool IsRemovableDrive(const std::string& path) {
    return platform::IsRemovableMedia(path);
}

// Crash-safe writes of profile files.
#include "platform/profile_file.h"

#include <set>

#include "platform/file.h"
#include "platform/file_system.h"

namespace platform::profile {

namespace {

// Puts back what a failed in-place write may have changed: the old length, or the old bytes.
void Undo(const std::string& path, uint64_t offset, const std::string& oldBytes, uint64_t oldSize) {
    CFile file;
    if (!file.Open(path, CFile::modeWrite | CFile::shareDenyWrite))
        return;
    try {
        if (oldBytes.empty()) {
            file.SetLength(oldSize);
        } else {
            file.Seek(static_cast<int64_t>(offset), CFile::begin);
            file.Write(oldBytes.data(), static_cast<uint32_t>(oldBytes.size()));
        }
        file.Close();
    } catch (const CFileException&) {
        file.Abort();
    }
}

// One single write of bytes at offset of an existing file. A write this small is never torn by
// a killed process, so the file holds the old or the new content.
bool WriteWholeFile(const std::string& path, const std::string& content) {
    CFile file;
    if (!file.Open(path, CFile::modeCreate | CFile::modeWrite | CFile::shareDenyWrite)) {
        return false;
    }
    try {
        file.Write(content.data(), static_cast<uint32_t>(content.size()));
        file.Close();
    } catch (const CFileException&) {
        file.Abort();
        RemoveFile(path);
        return false;
    }
    return true;
}

std::string CopyBeside(const std::string& path) {
    return path + ".new";
}

}  // namespace

bool WriteInPlace(const std::string& path, uint64_t offset, const std::string& bytes,
                  const std::string& oldBytes, uint64_t oldSize) {
    CFile file;
    if (!file.Open(path, CFile::modeWrite | CFile::shareDenyWrite))
        return false;
    try {
        file.Seek(static_cast<int64_t>(offset), CFile::begin);
        file.Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
        file.Close();
    } catch (const CFileException&) {
        file.Abort();
        Undo(path, offset, oldBytes, oldSize);
        return false;
    }
    return true;
}

// Writes the new content beside the file and puts it in place in one step, so a process killed
// at any instant leaves the old or the new content.
bool Rewrite(const std::string& path, const std::string& content) {
    const std::string temporary = CopyBeside(path);
    if (!WriteWholeFile(temporary, content))
        return false;
    if (ReplaceFileAtomically(temporary, path))
        return true;
    RemoveFile(temporary);
    return false;
}

void RemoveUnfinishedRewrite(const std::string& path) {
    static std::set<std::string> looked;
    if (!looked.insert(path).second)
        return;
    const std::string copy = CopyBeside(path);
    if (NameExists(copy))
        RemoveFile(copy);
}

}  // namespace platform::profile

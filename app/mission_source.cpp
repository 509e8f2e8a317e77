// Where a mission comes from: opening it and listing its files.
#include "app/mission_source.h"

#include "app/install.h"
#include "app/mission_names.h"
#include "app/report.h"
#include "platform/exceptions.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/path_text.h"
#include "platform/system.h"

namespace {

constexpr int lineSourceOpen = 322;

// Drops the trailing separators and resolves a relative folder against the current folder once,
// since the copies are made later with the program folder as the current folder. A path that
// was only separators names the root and stays empty.
std::string PrepareSourceFolder(std::string path) {
    path = platform::WithoutTrailingSeparators(path);
    std::string current;
    if (!path.empty() && IsRelativePath(path) && platform::GetCurrentFolder(current)) {
        path = JoinPath(platform::WithoutTrailingBackslashes(current), path);
    }
    return path;
}

// The size of a file of a folder source; false when it cannot be read as a regular file (a
// FIFO, a device, a file locked or without read permission), so that it is refused before its
// game file is saved and deleted for nothing.
bool FolderFileSize(const std::string& path, uint64_t& size) {
    CFile file;
    if (!file.Open(path, CFile::modeRead)) {
        return false;
    }
    size = file.GetLength();
    return true;
}

}  // namespace

std::vector<MissionFile> ListFolderFiles(const MissionSource& source) {
    std::vector<MissionFile> files;
    files.reserve(source.files.size());
    for (size_t i = 0; i < source.files.size(); ++i) {
        MissionFile file;
        file.index = i;
        file.name = GetRelativePath(source.files[i], source.folder);
        if (!FolderFileSize(source.files[i], file.size)) {
            file.refusal = "not a regular file that can be read";
        }
        files.push_back(std::move(file));
    }
    return files;
}

std::vector<MissionFile> ListArchiveFiles(CZipHandler& archive) {
    std::vector<MissionFile> files;
    const int count = archive.GetEntryCount();
    files.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const auto index = static_cast<uint16_t>(i);
        CZipEntryHeader header;
        archive.GetEntryInfo(header, index);
        if (archive.IsEntryDirectory(index)) {
            continue;
        }
        MissionFile file;
        file.index = index;
        file.name = header.GetFileName();
        file.size = header.uncompressedSize;
        if (!header.HasLocalName()) {
            file.refusal = refusedCodePage;
        } else if (header.IsEncrypted()) {
            file.refusal = "encrypted, and the install has no password";  // never set by it
        }
        files.push_back(std::move(file));
    }
    return files;
}

// Opens the source; false (after its message) when there is nothing to install from.
bool OpenSource(MissionSource& source, const std::string& sourcePath) {
    if (source.isFolder) {
        source.folder = PrepareSourceFolder(sourcePath);
        platform::Print("  Creating source filelist...\n");
        ScanFolderFiles(source.folder, source.files);
        if (source.files.empty()) {
            platform::Print("Source folder is empty or does not exist. Exiting.\n");
            return false;
        }
        return true;
    }
    platform::Print("  Opening source archive...\n");
    try {
        // Read only: the install never writes to the mission, which may lie on read-only media.
        source.archive.Open(sourcePath, CZipHandler::openReadOnly, 0);
    } catch (const CException& error) {
        ReportException(error, lineSourceOpen);
        return false;
    }
    return true;
}

void ScanFolderFiles(const std::string& folder, std::vector<std::string>& list) {
    std::string base = folder;
    if (base.empty() || base.back() != '\\') {
        base += '\\';
    }
    platform::FileFinder finder;
    if (!finder.FindFirst(base + "*.*")) {
        return;
    }
    do {
        const platform::FindData& item = finder.Current();
        if (item.name == "." || item.name == "..") {
            continue;
        }
        if ((item.attributes & platform::attributeFolder) != 0) {
            ScanFolderFiles(base + item.name, list);
        } else {
            list.push_back(base + item.name);
        }
    } while (finder.FindNext());
    finder.Close();
}

std::string GetRelativePath(const std::string& path, const std::string& base) {
    if (path.compare(0, base.size(), base) != 0) {
        return path;
    }
    const size_t cut = base.size() + 1;
    return cut < path.size() ? path.substr(cut) : std::string();
}

void StartReadingAhead(MissionSource& source, const std::vector<MissionFile>& files) {
    if (source.isFolder) {
        return;
    }
    std::vector<uint16_t> indices;
    for (const MissionFile& file : files) {
        if (IsPlaced(file.plan) || file.plan == Plan::repeated) {
            indices.push_back(static_cast<uint16_t>(file.index));
        }
    }
    source.readAhead =
        std::make_unique<CZipExtractAhead>(source.archive, std::move(indices), copyBufferSize);
}

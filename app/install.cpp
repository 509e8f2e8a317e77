// Installing a mission from a ZIP archive or a folder, saving every game file it replaces.
//
// The mission is marked installed, with no records, before anything of the game is touched.
// Then the work is done in two passes over the mission's files. The first decides what happens
// to each file and saves every game file that will be replaced into the backup archive, which
// is then closed, so its central directory is on disk. The second records and puts each file in
// place, the record always written before the game file is touched. A process stopped at any
// instant therefore leaves a backup archive that the deinstall can read, holding every original
// it destroyed, and a record of every file.
#include "app/install.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>

#include "app/game_file.h"
#include "app/mission_names.h"
#include "app/report.h"
#include "app/state_file.h"
#include "platform/exceptions.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/system.h"
#include "zip/archive_recovery.h"
#include "zip/path_helpers.h"
#include "zip/zip_exception.h"
#include "zip/zip_handler.h"

namespace {

constexpr uint32_t copyBufferSize = 65535;
constexpr int lineSourceOpen = 322;
constexpr int lineBackupCreate = 334;
constexpr int lineBackupAdd = 408;
constexpr int lineExtract = 435;
constexpr int lineSourceClose = 461;
constexpr int lineBackupClose = 466;

// What the install does with one file of the mission.
enum class Plan {
    refused,         // a name the install does not take (see MissionNameRefusal), or an
                     // entry it cannot read: refused
    folderInTheWay,  // the game has a folder of that name: refused
    added,           // new to the game folder
    saved,           // replaces a game file, which is saved into the backup archive first
    backupFailed,    // replaces a game file that could not be saved: the game file is kept
    repeated,        // same name as an earlier file that was put in place: replaces it again
    repeatedKept,    // same name as an earlier file that was not put in place: kept as well
    notDeleted       // found at install time: the game file could not be deleted, so it is kept
};

struct MissionFile {
    size_t index = 0;  // entry index (archive) or position in the file list (folder)
    std::string name;
    std::string repeats;            // the earlier name it is written under, when it repeats one
    size_t first = 0;               // for a repeat: the position of the earlier file in the plan
    const char* refusal = nullptr;  // why a refused file is refused

    // Where it goes: its own name, or that of the file it repeats.
    const std::string& PlaceName() const { return repeats.empty() ? name : repeats; }
    uint64_t size = 0;  // printed whole: a 3 GiB file must not show as negative
    Plan plan = Plan::added;
    std::function<void()> backupReport;  // prints the failure of its backup, if any
};

struct MissionSource {
    bool isFolder = false;
    std::string folder;  // folder source: the folder, absolute, without trailing backslashes
    std::vector<std::string> files;
    CZipHandler archive;
};

std::string JoinPath(const std::string& folder, const std::string& name) {
    return folder + "\\" + name;
}

std::string FormatNumber(long value) {
    return std::to_string(value);
}

std::string StateFilePath() {
    return GetProgramPathWithExt(".Ini");
}

// Drops the trailing separators and resolves a relative folder against the current folder once,
// since the copies are made later with the program folder as the current folder. A path that
// was only separators names the root and stays empty.
std::string PrepareSourceFolder(std::string path) {
    while (!path.empty() && (path.back() == '\\' || path.back() == '/')) {
        path.pop_back();
    }
    std::string current;
    if (!path.empty() && IsRelativePath(path) && platform::GetCurrentFolder(current)) {
        while (!current.empty() && current.back() == '\\') {
            current.pop_back();
        }
        path = JoinPath(current, path);
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

// Why the install does not take a file's name, or nullptr.
const char* RefusalOf(const MissionFile& file, const std::string& programFolder) {
    if (file.refusal != nullptr) {
        return file.refusal;
    }
    if (const char* refusal = MissionNameRefusal(file.name)) {
        return refusal;
    }
    if (NamesProgramFile(file.name)) {
        return refusedUnsafe;
    }
    // The record ("name:1") must come back whole: a value is read back cut to its limit.
    if (file.name.size() + 2 > maxRecordLength) {
        return refusedTooLong;
    }
    return platform::PathFitsHost(JoinPath(programFolder, file.name)) ? nullptr : refusedTooLong;
}

// The program and the files beside it that bear its name, as far as they exist.
std::vector<std::string> OwnFilePaths() {
    return {platform::GetOwnPath(), GetProgramPathWithExt(".Ini"), GetProgramPathWithExt(".Zip"),
            GetProgramPathWithExt(".Taff")};
}

std::vector<platform::FileIdentity> OwnFileIdentities() {
    std::vector<platform::FileIdentity> identities;
    for (const std::string& path : OwnFilePaths()) {
        platform::FileIdentity identity;
        if (platform::GetFileIdentity(path, identity)) {
            identities.push_back(identity);
        }
    }
    return identities;
}

// True when path is, by whatever name, one of the files given by their identities.
bool IsOwnFile(const std::string& path, const std::vector<platform::FileIdentity>& own) {
    platform::FileIdentity identity;
    return platform::GetFileIdentity(path, identity) &&
           std::find(own.begin(), own.end(), identity) != own.end();
}

// The folders the mission's accepted files lie in, as name keys ("a" and "a\\b" for a\\b\\c).
std::set<std::string, MissionNameLess> MissionFolders(const std::vector<MissionFile>& files) {
    std::set<std::string, MissionNameLess> folders;
    for (const MissionFile& file : files) {
        if (file.refusal != nullptr) {
            continue;
        }
        const std::string key = MissionNameKey(file.name);
        for (size_t slash = key.find('\\'); slash != std::string::npos;
             slash = key.find('\\', slash + 1)) {
            folders.insert(key.substr(0, slash));
        }
    }
    return folders;
}

// Decides each file's plan from the game folder as it is before anything is changed. A repeat
// takes its fate from the earlier file only once the backups are known (SettleRepeats).
void PlanFiles(std::vector<MissionFile>& files, const std::string& programFolder) {
    for (MissionFile& file : files) {
        file.refusal = RefusalOf(file, programFolder);
    }
    // A file named like a folder of the mission's other files could only be written where that
    // folder is not: one of the two fails, so the file is refused whatever the order.
    const std::set<std::string, MissionNameLess> folders = MissionFolders(files);
    const std::vector<platform::FileIdentity> ownFiles = OwnFileIdentities();
    std::map<std::string, size_t, MissionNameLess> firsts;
    for (size_t position = 0; position < files.size(); ++position) {
        MissionFile& file = files[position];
        if (file.refusal != nullptr) {
            file.plan = Plan::refused;
            continue;
        }
        const std::string key = MissionNameKey(file.name);
        if (folders.count(key) != 0) {
            file.plan = Plan::folderInTheWay;
            continue;
        }
        const auto first = firsts.find(key);
        if (first != firsts.end()) {
            // Written under the earlier name, so that it lands on the same file whatever the
            // letter case rules of the file system.
            file.plan = Plan::repeated;
            file.first = first->second;
            if (files[first->second].name != file.name) {
                file.repeats = files[first->second].name;
            }
            continue;
        }
        const std::string target = JoinPath(programFolder, file.name);
        const uint32_t attributes = platform::GetAttributes(target);
        if (attributes != platform::invalidAttributes &&
            (attributes & platform::attributeFolder) != 0) {
            file.plan = Plan::folderInTheWay;
        } else if (!PathExists(target)) {
            file.plan = Plan::added;
        } else if (IsOwnFile(target, ownFiles)) {
            // Reached by another name than its own (a short alias, a link): refused like it.
            file.plan = Plan::refused;
            file.refusal = refusedUnsafe;
        } else {
            file.plan = Plan::saved;
        }
        firsts.emplace(key, position);
    }
}

bool IsPlaced(Plan plan) {
    return plan == Plan::added || plan == Plan::saved;
}

// A repeat replaces the file again only when the earlier one was put in place; otherwise the
// game file the earlier one left alone (its backup failed, or a folder has its name) stays too.
void SettleRepeats(std::vector<MissionFile>& files) {
    for (MissionFile& file : files) {
        if (file.plan != Plan::repeated) {
            continue;
        }
        if (!IsPlaced(files[file.first].plan)) {
            file.plan = Plan::repeatedKept;
        }
    }
}

// The reason a kept file is printed with.
const char* KeptReason(Plan plan) {
    switch (plan) {
        case Plan::folderInTheWay:
            return "a folder has this name";
        case Plan::notDeleted:
            return "cannot delete the game file, left unchanged";
        default:
            return "backup failed, game file left unchanged";
    }
}

// An entry that AddFile started but did not finish would be restored in place of the game file
// at deinstall; it is ended without its checks and taken out of the directory again.
void DropUnfinishedEntry(CZipHandler& backup, size_t headersBefore) {
    if (backup.GetEntryState() == 1) {
        // What the close after an exception does for the open entry; nothing is written.
        backup.entryState = 0;
        backup.entryStream.buffer.Release();
        backup.FreeTrackedAllocations();
    }
    CZipCentralDirectory& directory = backup.GetCentralDirectory();
    if (directory.headers.size() <= headersBefore) {
        return;
    }
    directory.currentHeader = nullptr;
    directory.headers.resize(headersBefore);
    backup.EnableNameIndex(false);  // the index points at the dropped header; build it anew
    backup.EnableNameIndex(true);
}

template <typename Failure>
std::function<void()> DeferReport(const Failure& failure, int sourceLine) {
    return [failure, sourceLine] { ReportException(failure, sourceLine); };
}

// Saves one game file; false, with its report kept for later, when it failed.
bool SaveGameFile(CZipHandler& backup, MissionFile& file) {
    const size_t headersBefore = backup.GetCentralDirectory().headers.size();
    bool saved = false;
    try {
        // Saved under the name as it stands on disk, not as the mission writes it: the deinstall
        // gives the file back under the saved name, so the game's own spelling returns.
        saved = backup.AddFile(platform::GetOnDiskName(file.name), -1, true, nullptr, 0,
                               copyBufferSize);
    } catch (const CZipException& error) {
        file.backupReport = DeferReport(error, lineBackupAdd);
    } catch (const CFileException& error) {
        file.backupReport = DeferReport(error, lineBackupAdd);
    } catch (const CException&) {
        file.backupReport = [] {};
    }
    if (!saved) {
        DropUnfinishedEntry(backup, headersBefore);
    }
    return saved;
}

// Saves every game file that will be replaced and closes the backup archive, so that its
// central directory is on disk before the first game file is deleted.
void SaveGameFiles(CZipHandler& backup, std::vector<MissionFile>& files,
                   const std::string& programFolder) {
    platform::SetCurrentFolder(programFolder);  // AddFile reaches the files by their names
    for (MissionFile& file : files) {
        if (file.plan == Plan::saved && !SaveGameFile(backup, file)) {
            file.plan = Plan::backupFailed;
        }
    }
    if (backup.IsClosed(true)) {
        return;
    }
    try {
        backup.Close(false);
    } catch (const CException& error) {
        ReportException(error, lineBackupClose);
        backup.Close(true);
        // Without its directory the backup archive cannot give anything back: replace nothing.
        for (MissionFile& file : files) {
            if (file.plan == Plan::saved) {
                file.plan = Plan::backupFailed;
            }
        }
    }
}

// Counts the mission as installed before any game file is touched, so that an install stopped
// part-way can be undone. False when the state file cannot be written.
bool MarkInstalled() {
    const std::string stateFile = StateFilePath();
    return WriteInstalledCounter(stateFile, CountedUp(ReadInstalledCounter(stateFile)));
}

// Writes the records of the installed files, numbered from 1. A file is put in place only once
// its record is written; after a record could not be written, no further file is.
class Recorder {
public:
    Recorder() : stateFile(StateFilePath()) {}

    // Counts the records of an earlier install out before the first new one is written, so that
    // they are never taken for this install's. False when the state file cannot be written.
    bool Start() { return Write("FCount", "0"); }

    // The F entry goes first, so that a record counted by FCount is always complete.
    bool Record(const std::string& name, int flag) {
        if (failed) {
            return false;
        }
        ++count;
        return Write("F" + FormatNumber(count), name + ":" + FormatNumber(flag)) &&
               Write("FCount", FormatNumber(count));
    }

    // Takes the last record back, for a file that was left untouched after all: the deinstall
    // must not delete a game file that it has no saved copy of.
    bool Unrecord() {
        if (failed || count == 0) {
            return false;
        }
        --count;
        return Write("FCount", FormatNumber(count));
    }

    bool Failed() const { return failed; }

private:
    bool Write(const std::string& key, const std::string& value) {
        failed = failed || !WriteProfileValue(stateFile, "Mission", key, value);
        return !failed;
    }

    std::string stateFile;
    bool failed = false;
    int count = 0;
};

enum class Placed { whole, failedReported, notWhole };

// Puts the file in place; an extraction that throws has been reported already.
Placed PutInPlace(MissionSource& source, const MissionFile& file, const std::string& programFolder,
                  const std::string& target) {
    if (source.isFolder) {
        CreatePathFolders(GetPathFolder(target));
        const bool copied =
            platform::CopyFileOver(JoinPath(source.folder, file.name), target, false);
        return copied ? Placed::whole : Placed::notWhole;
    }
    const std::string* newName = file.repeats.empty() ? nullptr : &file.repeats;
    try {
        const bool extracted =
            source.archive.ExtractEntry(static_cast<uint16_t>(file.index), programFolder, true,
                                        newName, nullptr, 0, copyBufferSize);
        return extracted ? Placed::whole : Placed::notWhole;
    } catch (const CException& error) {
        ReportException(error, lineExtract);
        if (source.archive.GetEntryState() != 0) {
            source.archive.AbandonEntry();  // so that the later entries can still be extracted
        }
        return Placed::failedReported;
    }
}

// A file that could not be recorded is not put in place: the deinstall could not undo it.
bool NotRecorded() {
    platform::Print("SKIPPED (the state file cannot be written, game file left unchanged)\n");
    return false;
}

// A file is replaced only once it is gone: written over in place, a file that cannot be deleted
// (a folder the player cannot write) could never be deleted by the deinstall either.
bool Deleted(const std::string& target) {
    DeleteGameFile(target);
    return !PathExists(target);
}

bool NotDeleted(Recorder* recorder) {
    if (recorder != nullptr && !recorder->Unrecord()) {
        // Still recorded as replaced: the deinstall restores the saved copy over it, which holds
        // the same content. Nothing is lost either way.
        platform::Print("SKIPPED (cannot delete the game file, left unchanged; record kept)\n");
        return false;
    }
    platform::Print("SKIPPED (cannot delete the game file, left unchanged)\n");
    return false;
}

// Prints the line of one file and handles it; false when it ends with an error.
// A file whose game file turns out to stay (it cannot be deleted) is marked so, and a later
// repeat of it keeps the game file too: one decision per file, even when made at this point.
bool InstallFile(MissionSource& source, std::vector<MissionFile>& files, MissionFile& file,
                 const std::string& programFolder, Recorder& recorder) {
    platform::Printf("    Processing file '%s' (%llu bytes): ", file.name.c_str(),
                     static_cast<unsigned long long>(file.size));
    const std::string target = JoinPath(programFolder, file.PlaceName());
    platform::SetCurrentFolder(programFolder);
    switch (file.plan) {
        case Plan::refused:
            platform::Printf("SKIPPED (%s)\n", file.refusal);
            return false;
        case Plan::folderInTheWay:
            platform::Printf("SKIPPED (%s)\n", KeptReason(file.plan));
            return false;
        case Plan::backupFailed:
            if (file.backupReport) {
                file.backupReport();
            }
            platform::Print("SKIPPED (backup failed, game file left unchanged)\n");
            recorder.Record(file.name, 1);
            return false;
        case Plan::repeatedKept:
            platform::Printf("SKIPPED (%s)\n", KeptReason(files[file.first].plan));
            return false;
        case Plan::notDeleted:  // set only once the file was handled
            platform::Printf("SKIPPED (%s)\n", KeptReason(file.plan));
            return false;
        case Plan::repeated:
            if (!IsPlaced(files[file.first].plan)) {
                platform::Printf("SKIPPED (%s)\n", KeptReason(files[file.first].plan));
                return false;
            }
            if (recorder.Failed()) {
                return NotRecorded();
            }
            if (!Deleted(target)) {
                return NotDeleted(nullptr);
            }
            platform::Print("REPEATED (replaces the earlier file of this name)\n");
            break;
        case Plan::saved:
            if (!recorder.Record(file.name, 1)) {
                return NotRecorded();
            }
            if (!Deleted(target)) {
                file.plan = Plan::notDeleted;
                return NotDeleted(&recorder);
            }
            platform::Print("BAK\n");
            break;
        case Plan::added:
            if (!recorder.Record(file.name, 0)) {
                return NotRecorded();
            }
            platform::Print("NEW\n");
            break;
    }
    const Placed placed = PutInPlace(source, file, programFolder, target);
    if (placed == Placed::notWhole) {
        platform::Printf("      File '%s' was not installed whole.\n", file.name.c_str());
    }
    return placed == Placed::whole;
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

enum class FoundBackup { none, empty, holdsSavedFiles, unreadable };

// What lies at the backup archive's path. An archive that holds saved game files means a mission
// may still be installed, whatever the state file says (it may be damaged, locked or replaced):
// it is the one file an install must never delete.
FoundBackup ExamineFoundBackup(const std::string& path) {
    if (!platform::NameExists(path)) {
        return FoundBackup::none;
    }
    CZipHandler found;
    try {
        found.Open(path, CZipHandler::openReadOnly, 0);
        const bool holds = found.GetEntryCount() > 0;
        found.Close(true);
        return holds ? FoundBackup::holdsSavedFiles : FoundBackup::empty;
    } catch (const CZipException&) {
        // Not an archive as a whole: maybe one whose install was stopped before its directory.
    } catch (const CException&) {
        return FoundBackup::unreadable;
    }
    try {
        return RecoverArchive(found, path) > 0 ? FoundBackup::holdsSavedFiles : FoundBackup::empty;
    } catch (const CException&) {
        return FoundBackup::unreadable;
    }
}

bool CreateBackupArchive(CZipHandler& backup) {
    platform::Print("  Opening backup archive...\n");
    const std::string path = GetProgramPathWithExt(".Zip");
    const FoundBackup found = ExamineFoundBackup(path);
    if (found == FoundBackup::holdsSavedFiles || found == FoundBackup::unreadable) {
        platform::Printf(
            "Error: the backup archive '%s' %s.\n"
            "A mission may still be installed: run the program with \"-d\" to "
            "deinstall it.\nIf that mission is really gone, move the backup archive "
            "away, then install again.\n",
            platform::DisplayPath(path).c_str(),
            found == FoundBackup::unreadable ? "cannot be read" : "holds saved game files");
        return false;
    }
    try {
        platform::RemoveFile(path);
        backup.Open(path, CZipHandler::create, 0);
        backup.EnableNameIndex(true);
    } catch (const CException& error) {
        ReportException(error, lineBackupCreate);
        return false;
    }
    return true;
}

}  // namespace

bool InstallMission(const std::string& sourcePath, bool sourceIsFolder) {
    const std::string programFolder = GetProgramFolder();
    platform::Printf("Installing mission from '%s'...\n", sourcePath.c_str());
    if (IsOwnFile(sourcePath, OwnFileIdentities())) {
        // The install would delete it to make the backup archive, or overwrite the record.
        platform::Print("Error: the mission source is this program or one of its own files.\n");
        return false;
    }
    MissionSource source;
    source.isFolder = sourceIsFolder;
    if (!OpenSource(source, sourcePath)) {
        return false;
    }
    CZipHandler backup;
    if (!CreateBackupArchive(backup)) {
        return false;
    }
    platform::Print("  Scanning source files...\n");
    std::vector<MissionFile> files =
        sourceIsFolder ? ListFolderFiles(source) : ListArchiveFiles(source.archive);
    PlanFiles(files, programFolder);
    // Marked installed, with no records yet, before the first game file is saved: a backup
    // archive that holds saved files always belongs to an installed mission, which -d undoes,
    // and a state file that cannot be written stops the install before any work.
    Recorder recorder;
    if (!recorder.Start() || !MarkInstalled()) {
        platform::Printf("Error: the state file '%s' cannot be written.\n",
                         platform::DisplayPath(StateFilePath()).c_str());
        return false;
    }
    SaveGameFiles(backup, files, programFolder);
    SettleRepeats(files);

    bool withErrors = false;
    for (MissionFile& file : files) {
        if (!InstallFile(source, files, file, programFolder, recorder)) {
            withErrors = true;
        }
    }
    if (!sourceIsFolder && !source.archive.IsClosed(true)) {
        try {
            source.archive.Close(false);
        } catch (const CException& error) {
            ReportException(error, lineSourceClose);
        }
    }
    platform::Print(withErrors ? "Mission installed with errors.\n"
                               : "Mission Installed Successfuly.\n");
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

bool PathExists(const std::string& path) {
    return platform::NameExists(path);
}

std::string GetRelativePath(const std::string& path, const std::string& base) {
    if (path.compare(0, base.size(), base) != 0) {
        return path;
    }
    const size_t cut = base.size() + 1;
    return cut < path.size() ? path.substr(cut) : std::string();
}

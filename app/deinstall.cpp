// Deinstalling a mission: delete what it added, restore what it replaced, remove emptied folders.
#include "app/deinstall.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <unordered_set>
#include <vector>

#include "app/game_file.h"
#include "app/install.h"
#include "app/mission_names.h"
#include "app/report.h"
#include "app/stacked_copies.h"
#include "app/state_file.h"
#include "platform/exceptions.h"
#include "platform/file_system.h"
#include "platform/system.h"
#include "zip/archive_recovery.h"
#include "zip/zip_exception.h"
#include "zip/zip_handler.h"

namespace {

constexpr uint32_t copyBufferSize = 65535;
constexpr int lineBackupOpen = 514;
constexpr int lineCloseAfterLocked = 582;
constexpr int lineRestore = 588;
constexpr int lineCloseAfterPass = 601;

bool ReportLocked(const std::string& path) {
    platform::Printf("      Cannot delete file '%s' - file may be locked by Thief game.\n",
                     platform::DisplayPath(platform::GetOnDiskName(path)).c_str());
    return true;
}

// For a file to be restored: gone under every spelling, since the restore would otherwise write
// over another spelling of the name, which was never saved.
bool IsLockedAfterDelete(const std::string& path) {
    DeleteGameFile(path);
    return PathExists(path) && ReportLocked(path);
}

// Extracts the saved version; false when it did not come back whole.
bool RestoreFile(CZipHandler& backup, int index, const std::string& targetFolder) {
    try {
        return backup.ExtractEntry(static_cast<uint16_t>(index), targetFolder,
                                   {.copyBufferSize = copyBufferSize});
    } catch (const CException& error) {
        ReportException(error, lineRestore);
        if (backup.GetEntryState() != CZipHandler::EntryState::none) {
            backup.AbandonEntry();  // so that the later saved files can still be extracted
        }
        return false;
    }
}

enum class Outcome { done, notRestored, locked };

// The backup archive as the deinstall found it.
struct Backup {
    CZipHandler archive;
    bool recovered = false;  // read from its entries' headers: its directory was damaged
};

bool IsFolder(const std::string& path) {
    const uint32_t attributes = platform::GetAttributes(path);
    return attributes != platform::invalidAttributes &&
           (attributes & platform::attributeFolder) != 0;
}

// Deletes a file the mission added.
Outcome UndoAddedFile(const RecordedFile& record, const std::string& fullPath) {
    platform::Printf("    Deleting new file '%s'...", record.name.c_str());
    // An added file is gone once its name is; only a name that would not go is looked at. A
    // folder there is not the file the mission added (that file was never written).
    if (!DeleteGameFile(fullPath) && !IsFolder(fullPath) && ReportLocked(fullPath)) {
        return Outcome::locked;
    }
    platform::Print("OK\n");
    return Outcome::done;
}

// Restores the saved file of a record.
Outcome UndoSavedFile(Backup& backupFound, const RecordedFile& record,
                      const std::string& targetFolder) {
    CZipHandler& backup = backupFound.archive;
    const std::string fullPath = targetFolder + "\\" + record.name;
    platform::Printf("    Extracting old file '%s'...", record.name.c_str());
    const int index = backup.FindEntry(record.name, false);
    if (index == -1) {
        platform::Print(" not found in backup!\n");
        // A whole backup archive lacks only what a hand-edited record names; a damaged one may
        // have lost the saved file, so the deinstall must not end as if it had been restored.
        return backupFound.recovered ? Outcome::notRestored : Outcome::done;
    }
    if (IsLockedAfterDelete(fullPath)) {
        if (!backup.IsClosed(CZipHandler::wholeArchive)) {
            try {
                backup.Close(CZipHandler::normally);
            } catch (const CException& error) {
                ReportException(error, lineCloseAfterLocked);
            }
        }
        return Outcome::locked;
    }
    if (!RestoreFile(backup, index, targetFolder)) {
        platform::Print("FAILED\n");
        return Outcome::notRestored;
    }
    platform::Print("OK\n");
    return Outcome::done;
}

// What the pass over the records did, and the folders their files lie in.
struct RecordsPass {
    Outcome outcome = Outcome::done;   // locked stops the pass; notRestored lets it go on
    std::vector<std::string> folders;  // of every record with a safe name, passed over or not
};

// Undoes each record in turn: deletes what the mission added, restores what it replaced.
RecordsPass UndoRecords(Backup& backupFound, const StateFile& stateFile,
                        const std::string& targetFolder) {
    RecordsPass pass;
    platform::SetCurrentFolder(targetFolder);  // every path below is absolute; once is enough
    stateFile.ForEachRecord([&](const RecordedFile& record) {
        const bool safe = IsSafeMissionName(record.name) && !NamesProgramFile(record.name);
        const std::string fullPath = targetFolder + "\\" + record.name;
        if (safe) {
            std::string folder = fullPath.substr(0, fullPath.rfind('\\'));
            if (pass.folders.empty() || pass.folders.back() != folder) {
                pass.folders.push_back(std::move(folder));
            }
        }
        if (record.flag > 1) {
            return true;
        }
        if (!safe) {
            platform::Printf("    Skipping file '%s' - unsafe name.\n", record.name.c_str());
            return true;
        }
        const Outcome outcome = record.flag == 0 ? UndoAddedFile(record, fullPath)
                                                 : UndoSavedFile(backupFound, record, targetFolder);
        if (outcome != Outcome::done) {
            pass.outcome = outcome;
        }
        return outcome != Outcome::locked;
    });
    return pass;
}

// Tries the folder that directly holds each recorded file (in record order, once for a run of
// records in one folder); only empty folders go. A folder that could not be removed is not tried
// again until some folder was: only that can empty it (a mission's files usually share a few
// folders, and each try costs the file system a look).
void RemoveEmptyFolders(const std::vector<std::string>& folders) {
    platform::Print("  Checking and deleting empty folders...\n");
    std::unordered_set<std::string> kept;
    for (const std::string& folder : folders) {
        if (kept.count(folder) != 0) {
            continue;
        }
        if (platform::RemoveFolder(folder)) {
            platform::Printf("    removed empty folder '%s'.\n",
                             platform::DisplayPath(folder).c_str());
            kept.clear();
        } else {
            kept.insert(folder);
        }
    }
}

// False when the backup archive could not be moved.
bool RetireBackupArchive() {
    const std::string retired = GetProgramPathWithExt(".Taff");
    if (PathExists(retired)) {
        platform::RemoveFile(retired);
    }
    return platform::MoveFileTo(GetProgramPathWithExt(".Zip"), retired);
}

// Opens the backup archive; one whose directory is missing or damaged (its install was stopped
// before the archive was closed) is read from its entries' own headers instead.
bool OpenBackupArchive(Backup& backupFound, const std::string& path) {
    CZipHandler& backup = backupFound.archive;
    try {
        backup.Open(path, CZipHandler::openExisting, 0);
        return true;
    } catch (const CZipException& error) {
        if (error.code != CZipException::rootDirectoryNotFound &&
            error.code != CZipException::corruptedArchive) {
            ReportException(error, lineBackupOpen);
            return false;
        }
    } catch (const CException& error) {
        ReportException(error, lineBackupOpen);
        return false;
    }
    try {
        const int recovered = RecoverArchive(backup, path);
        backupFound.recovered = true;
        platform::Printf("  Backup archive was damaged; recovered %d saved files from it.\n",
                         recovered);
        return true;
    } catch (const CException& error) {
        ReportException(error, lineBackupOpen);
        return false;
    }
}

}  // namespace

bool DeinstallMission(const std::string& targetFolderGiven, bool keepFolders) {
    const std::string targetFolder =
        targetFolderGiven.empty() ? GetProgramFolder() : targetFolderGiven;
    Backup backupFound;
    CZipHandler& backup = backupFound.archive;
    platform::Printf("Deinstalling mission from '%s'...\n",
                     platform::DisplayPath(targetFolder).c_str());
    const std::string later = FindLaterOverlappingCopy();
    if (!later.empty()) {
        platform::Printf(
            "Error: the mission installed by '%s' after this one replaced some of its "
            "files.\nDeinstall that one first (%s -d), then this one.\n",
            later.c_str(), later.c_str());
        return false;
    }
    platform::Print("  Opening backup archive...\n");
    if (!OpenBackupArchive(backupFound, GetProgramPathWithExt(".Zip"))) {
        return false;
    }
    const StateFile stateFile = StateFile::OfThisProgram();

    const RecordsPass pass = UndoRecords(backupFound, stateFile, targetFolder);
    if (pass.outcome == Outcome::locked) {
        return false;
    }
    if (!backup.IsClosed(CZipHandler::wholeArchive)) {
        try {
            backup.Close(CZipHandler::normally);
        } catch (const CException& error) {
            ReportException(error, lineCloseAfterPass);
        }
    }
    if (pass.outcome == Outcome::notRestored) {
        // Keep the backup archive and the counter, so that the deinstall can be run again.
        platform::Print("  Some saved files were not restored; the backup archive is kept.\n");
        return false;
    }
    if (!keepFolders) {
        RemoveEmptyFolders(pass.folders);
    }
    // Counted down before the backup archive moves, so that no stop in between leaves the
    // mission marked installed without its backup archive.
    const std::string counter = stateFile.ReadCounterText();
    if (!stateFile.CountDown()) {
        // The backup archive stays where the next deinstall looks for it.
        platform::Printf("  The state file '%s' cannot be written; the backup archive is kept.\n",
                         platform::DisplayPath(stateFile.Path()).c_str());
        return false;
    }
    if (!RetireBackupArchive()) {
        // Counted up again: a mission marked deinstalled with its backup archive in place would
        // be refused by the next deinstall, and that backup taken for garbage by an install.
        stateFile.WriteCounterText(counter);
        platform::Printf("  The backup archive cannot be moved to '%s'; it is kept.\n",
                         platform::DisplayPath(GetProgramPathWithExt(".Taff")).c_str());
        return false;
    }
    platform::Print("Deinstalled successfuly.\n");
    return true;
}

// The backup archive of an install.
#include "app/backup_saving.h"

#include "app/program_files.h"
#include "app/report.h"
#include "platform/exceptions.h"
#include "platform/file_system.h"
#include "platform/system.h"
#include "zip/archive_recovery.h"
#include "zip/zip_exception.h"

namespace {

constexpr int lineBackupCreate = 334;
constexpr int lineBackupAdd = 408;
constexpr int lineBackupClose = 466;

template <typename Failure>
std::function<void()> DeferReport(const Failure& failure, int sourceLine) {
    return [failure, sourceLine] { ReportException(failure, sourceLine); };
}

// Saves one game file; false, with its report kept for later, when it failed.
bool SaveGameFile(CZipHandler& backup, const MissionFile& file, std::function<void()>& report) {
    const int entriesBefore = backup.GetEntryCount();
    bool saved = false;
    try {
        // Saved under the name as it stands on disk, not as the mission writes it: the deinstall
        // gives the file back under the saved name, so the game's own spelling returns.
        saved =
            backup.AddFile(platform::GetOnDiskName(file.name), {.readBufferSize = copyBufferSize});
    } catch (const CZipException& error) {
        report = DeferReport(error, lineBackupAdd);
    } catch (const CFileException& error) {
        report = DeferReport(error, lineBackupAdd);
    } catch (const CException&) {
    }
    if (!saved) {
        // An entry begun and not finished would be restored in place of the game file.
        backup.DropNewEntries(entriesBefore);
    }
    return saved;
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
        found.Close(CZipHandler::afterException);
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

}  // namespace

// Saves every game file that will be replaced and closes the backup archive, so that its
// central directory is on disk before the first game file is deleted.
BackupReports SaveGameFiles(CZipHandler& backup, std::vector<MissionFile>& files,
                            const std::string& programFolder) {
    platform::SetCurrentFolder(programFolder);  // AddFile reaches the files by their names
    BackupReports reports;
    for (size_t position = 0; position < files.size(); ++position) {
        MissionFile& file = files[position];
        std::function<void()> report;
        if (file.plan == Plan::saved && !SaveGameFile(backup, file, report)) {
            file.plan = Plan::backupFailed;
            if (report) {
                reports.emplace(position, std::move(report));
            }
        }
    }
    if (backup.IsClosed(CZipHandler::wholeArchive)) {
        return reports;
    }
    try {
        backup.Close(CZipHandler::normally);
    } catch (const CException& error) {
        ReportException(error, lineBackupClose);
        backup.Close(CZipHandler::afterException);
        // Without its directory the backup archive cannot give anything back: replace nothing.
        for (MissionFile& file : files) {
            if (file.plan == Plan::saved) {
                file.plan = Plan::backupFailed;
            }
        }
    }
    return reports;
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

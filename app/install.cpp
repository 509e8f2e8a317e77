// Installing a mission from a ZIP archive or a folder, saving every game file it replaces.
//
// The mission is marked installed, with no records, before anything of the game is touched.
// Then the work is done in two passes over the mission's files. The first decides what happens
// to each file (install_plan) and saves every game file that will be replaced into the backup
// archive (backup_saving), which is then closed, so its central directory is on disk. The second
// records (install_records) and puts each file in place, the record always on disk before the
// game file is touched. A process stopped at any instant therefore leaves a backup archive that
// the deinstall can read, holding every original it destroyed, and a record of every file.
#include "app/install.h"

#include "app/backup_saving.h"
#include "app/game_file.h"
#include "app/install_plan.h"
#include "app/install_records.h"
#include "app/mission_source.h"
#include "app/program_files.h"
#include "app/report.h"
#include "app/state_file.h"
#include "platform/exceptions.h"
#include "platform/file_system.h"
#include "platform/system.h"
#include "zip/path_helpers.h"
#include "zip/zip_handler.h"

namespace {

constexpr int lineExtract = 435;
constexpr int lineSourceClose = 461;

enum class Placed { whole, failedReported, notWhole };

// Puts the file in place; an extraction that throws has been reported already.
Placed PutInPlace(MissionSource& source, const MissionFile& file, const std::string* newName,
                  const std::string& programFolder, const std::string& target) {
    if (source.isFolder) {
        // The folders are looked at only when the copy could not be made, as an extraction does.
        const std::string from = JoinPath(source.folder, file.name);
        const std::string folder = GetPathFolder(target);
        const bool copied = platform::CopyFileOver(from, target, false) ||
                            (GetPathKind(folder) != PathKind::folder && CreatePathFolders(folder) &&
                             platform::CopyFileOver(from, target, false));
        return copied ? Placed::whole : Placed::notWhole;
    }
    try {
        const bool extracted = source.readAhead->ExtractEntry(static_cast<uint16_t>(file.index),
                                                              programFolder, newName);
        return extracted ? Placed::whole : Placed::notWhole;
    } catch (const CException& error) {
        ReportException(error, lineExtract);  // the later entries can still be extracted
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
// Gone under every spelling: the file put in its place would otherwise be written over another
// spelling of the name, which was never saved.
bool Deleted(const std::string& target) {
    return DeleteGameFile(target) && !PathExists(target);
}

bool NotDeleted(bool recordKept) {
    if (recordKept) {
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
                 const BackupReports& backupReports, const std::string& programFolder,
                 Recorder& recorder) {
    const size_t position = static_cast<size_t>(&file - files.data());
    platform::Printf("    Processing file '%s' (%llu bytes): ", file.name.c_str(),
                     static_cast<unsigned long long>(file.size));
    const std::string& placeName = PlaceName(files, file);
    const std::string target = JoinPath(programFolder, placeName);
    switch (file.plan) {
        case Plan::refused:
            platform::Printf("SKIPPED (%s)\n", file.refusal);
            return false;
        case Plan::folderInTheWay:
            platform::Printf("SKIPPED (%s)\n", KeptReason(file.plan));
            return false;
        case Plan::backupFailed:
            if (const auto report = backupReports.find(position); report != backupReports.end()) {
                report->second();
            }
            platform::Print("SKIPPED (backup failed, game file left unchanged)\n");
            recorder.Ensure(position);
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
                return NotDeleted(false);
            }
            platform::Print("REPEATED (replaces the earlier file of this name)\n");
            break;
        case Plan::saved:
            if (!recorder.Ensure(position)) {
                return NotRecorded();
            }
            if (!Deleted(target)) {
                file.plan = Plan::notDeleted;
                return NotDeleted(!recorder.PassOver(position));
            }
            platform::Print("BAK\n");
            break;
        case Plan::added:
            if (!recorder.Ensure(position)) {
                return NotRecorded();
            }
            platform::Print("NEW\n");
            break;
    }
    const Placed placed = PutInPlace(source, file, file.spelledOtherwise ? &placeName : nullptr,
                                     programFolder, target);
    if (placed == Placed::notWhole) {
        platform::Printf("      File '%s' was not installed whole.\n", file.name.c_str());
    }
    return placed == Placed::whole;
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
    Recorder recorder(files);
    const StateFile stateFile = StateFile::OfThisProgram();
    if (!recorder.Start() || !stateFile.CountUp()) {
        platform::Printf("Error: the state file '%s' cannot be written.\n",
                         platform::DisplayPath(stateFile.Path()).c_str());
        return false;
    }
    const BackupReports backupReports = SaveGameFiles(backup, files, programFolder);
    SettleRepeats(files);

    StartReadingAhead(source, files);
    bool withErrors = false;
    for (MissionFile& file : files) {
        if (!InstallFile(source, files, file, backupReports, programFolder, recorder)) {
            withErrors = true;
        }
    }
    source.readAhead.reset();
    if (!sourceIsFolder && !source.archive.IsClosed(CZipHandler::wholeArchive)) {
        try {
            source.archive.Close(CZipHandler::normally);
        } catch (const CException& error) {
            ReportException(error, lineSourceClose);
        }
    }
    platform::Print(withErrors ? "Mission installed with errors.\n"
                               : "Mission Installed Successfuly.\n");
    return true;
}

bool PathExists(const std::string& path) {
    return platform::NameExists(path);
}

// The install's plan: what happens to each file of the mission, decided once from the game
// folder as it stands before anything is changed, and settled once the backups are known.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_system.h"

inline constexpr uint32_t copyBufferSize = 65535;

inline std::string JoinPath(const std::string& folder, const std::string& name) {
    return folder + "\\" + name;
}

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

// Kept small: a mission may have 65,535 of these in memory at once.
struct MissionFile {
    size_t index = 0;  // entry index (archive) or position in the file list (folder)
    std::string name;
    size_t first = 0;               // for a repeat: the position of the earlier file in the plan
    const char* refusal = nullptr;  // why a refused file is refused
    uint64_t size = 0;              // printed whole: a 3 GiB file must not show as negative
    Plan plan = Plan::added;
    bool spelledOtherwise = false;  // a repeat of an earlier file whose name it spells otherwise
};

// Where a file goes: under its own name, or under that of the earlier file it repeats, so that
// it lands on the same file whatever the letter case rules of the file system.
inline const std::string& PlaceName(const std::vector<MissionFile>& files,
                                    const MissionFile& file) {
    return file.spelledOtherwise ? files[file.first].name : file.name;
}

// The program and the files beside it that bear its name, by identity, as far as they exist.
std::vector<platform::FileIdentity> OwnFileIdentities();
// True when path is, by whatever name, one of the files given by their identities.
bool IsOwnFile(const std::string& path, const std::vector<platform::FileIdentity>& own);

// Decides each file's plan from the game folder as it is before anything is changed. A repeat
// takes its fate from the earlier file only once the backups are known (SettleRepeats).
void PlanFiles(std::vector<MissionFile>& files, const std::string& programFolder);
// A repeat replaces the file again only when the earlier one was put in place; otherwise the
// game file the earlier one left alone (its backup failed, or a folder has its name) stays too.
void SettleRepeats(std::vector<MissionFile>& files);
bool IsPlaced(Plan plan);
// The reason a kept file is printed with.
const char* KeptReason(Plan plan);
// The flag a file's record holds (1: its game file was saved, or its backup failed and the game
// file is kept), or -1 for a file that gets no record.
int RecordFlagOf(Plan plan);

// The install's plan for each file of the mission.
#include "app/install_plan.h"

#include <algorithm>
#include <map>
#include <set>

#include "app/install.h"
#include "app/mission_names.h"
#include "app/program_files.h"
#include "app/state_file.h"
#include "platform/system.h"

namespace {

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

}  // namespace

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
            file.spelledOtherwise = files[first->second].name != file.name;
            continue;
        }
        const std::string target = JoinPath(programFolder, file.name);
        const platform::NameKind kind = platform::GetNameKind(target);
        if (kind == platform::NameKind::folder) {
            file.plan = Plan::folderInTheWay;
        } else if (kind == platform::NameKind::nothing) {
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

// The flag a file's record holds (1: its game file was saved, or its backup failed and the game
// file is kept), or -1 for a file that gets no record.
int RecordFlagOf(Plan plan) {
    switch (plan) {
        case Plan::added:
            return 0;
        case Plan::saved:
        case Plan::backupFailed:
            return 1;
        default:
            return -1;
    }
}

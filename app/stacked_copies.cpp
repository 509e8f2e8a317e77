// Finding a copy of the program that was installed over this one's files.
#include "app/stacked_copies.h"

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "app/mission_names.h"
#include "app/state_file.h"
#include "platform/file.h"
#include "platform/file_system.h"

namespace {

// A copy's records by name key: whether each replaced a saved game file.
using Records = std::map<std::string, int, MissionNameLess>;

Records ReadRecords(const StateFile& stateFile) {
    Records records;
    stateFile.ForEachRecord([&records](const RecordedFile& record) {
        if (IsSafeMissionName(record.name)) {
            records.emplace(MissionNameKey(record.name), record.flag);
        }
        return true;
    });
    return records;
}

// The last-write time of a file to the file system's finest step; false when it is not there.
bool LastWriteTime(const std::string& path, int64_t& time) {
    CFileStatus status;
    if (!platform::NameExists(path) || !CFile::GetStatus(path, status)) {
        return false;
    }
    time = status.lastWriteTimeNs;
    return true;
}

// Whether the other copy's install came after ours, judged by their backup archives (each is
// written at its install). At one time (a file system that keeps whole seconds), by a shared
// file: the later install found the earlier one's file in place and saved it (flag 1) where the
// earlier one had added it (flag 0).
bool CameLater(int64_t ours, int64_t theirs, int ourFlag, int theirFlag) {
    if (theirs != ours) {
        return theirs > ours;
    }
    return theirFlag == 1 && ourFlag == 0;
}

std::vector<std::string> OtherStateFiles(const std::string& ownStateFile) {
    std::vector<std::string> found;
    const std::string folder = GetProgramFolder();
    platform::FileFinder finder;
    for (bool more = finder.FindFirst(folder + "\\*.Ini"); more; more = finder.FindNext()) {
        const std::string path = folder + "\\" + finder.Current().name;
        if ((finder.Current().attributes & platform::attributeFolder) == 0 &&
            !platform::IsSameFile(path, ownStateFile)) {
            found.push_back(path);
        }
    }
    return found;
}

}  // namespace

std::string FindLaterOverlappingCopy() {
    const std::string ownStateFile = GetProgramPathWithExt(".Ini");
    int64_t ownTime = 0;
    if (!LastWriteTime(GetProgramPathWithExt(".Zip"), ownTime)) {
        return {};
    }
    // Read only when another copy is installed: most deinstalls meet none, and the records of a
    // large mission cost as much to read as the rest of the deinstall.
    std::optional<Records> own;
    for (const std::string& path : OtherStateFiles(ownStateFile)) {
        const std::string base = path.substr(0, path.size() - 4);  // without ".Ini"
        const StateFile stateFile(path);
        int64_t theirTime = 0;
        if (stateFile.ReadCounter() == 0 || !LastWriteTime(base + ".Zip", theirTime)) {
            continue;
        }
        if (!own) {
            own = ReadRecords(StateFile(ownStateFile));
        }
        for (const auto& [key, theirFlag] : ReadRecords(stateFile)) {
            const auto shared = own->find(key);
            if (shared != own->end() && CameLater(ownTime, theirTime, shared->second, theirFlag)) {
                return base.substr(base.find_last_of('\\') + 1);
            }
        }
    }
    return {};
}

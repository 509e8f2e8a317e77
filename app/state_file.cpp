// The files beside the program that bear its name, and one-value access to the state file.
#include "app/state_file.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "app/mission_names.h"
#include "platform/code_page.h"
#include "platform/file.h"
#include "platform/profile.h"
#include "platform/system.h"

std::string ProgramFolderOf(const std::string& programPath) {
    const size_t slash = programPath.rfind('\\');
    return slash == std::string::npos ? programPath : programPath.substr(0, slash);
}

std::string ProgramBasePathOf(const std::string& programPath) {
    // Only a "." in the file name starts an extension: a program without one keeps its whole
    // path, so a dotted folder name cannot give it the state file of another program.
    const size_t slash = programPath.rfind('\\');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = programPath.rfind('.');
    if (dot == std::string::npos || dot < nameStart)
        return programPath;
    return programPath.substr(0, dot);
}

bool NamesProgramFile(const std::string& name, const std::string& programPath) {
    const std::string key = MissionNameKey(name);
    if (key.find('\\') != std::string::npos) {
        return false;  // in a subfolder, never beside the program
    }
    const std::string base = ProgramBasePathOf(programPath);
    const std::string baseName = base.substr(base.rfind('\\') + 1);
    const std::string programName = programPath.substr(programPath.rfind('\\') + 1);
    for (const std::string& own :
         {programName, baseName + ".Ini", baseName + ".Zip", baseName + ".Taff"}) {
        if (platform::CollateNamesNoCase(key, own) == 0) {
            return true;
        }
    }
    return false;
}

bool NamesProgramFile(const std::string& name) {
    return NamesProgramFile(name, platform::GetOwnPath());
}

std::string GetProgramFolder() {
    return ProgramFolderOf(platform::GetOwnPath());
}

std::string GetProgramPathWithExt(const std::string& extension) {
    return ProgramBasePathOf(platform::GetOwnPath()) + extension;
}

bool ReadRecord(const std::string& stateFile, int number, RecordedFile& record) {
    const std::string value =
        ReadProfileValue(stateFile, "Mission", "F" + std::to_string(number), "");
    const size_t colon = value.find(':');
    if (value.empty() || colon == 0 || colon == std::string::npos) {
        return false;
    }
    record.name = value.substr(0, colon);
    const char flag = colon + 1 < value.size() ? value[colon + 1] : '\0';
    record.flag = flag >= '0' && flag <= '9' ? flag - '0' : 0;
    return true;
}

int64_t ParseCounter(const std::string& text) {
    // strtoll clamps where atol's overflow is undefined (and a 32-bit long on Windows wraps).
    return std::strtoll(text.c_str(), nullptr, 10);
}

int64_t ReadInstalledCounter(const std::string& stateFile) {
    return ParseCounter(ReadProfileValue(stateFile, "Mission", "Installed", "0"));
}

bool WriteInstalledCounter(const std::string& stateFile, int64_t counter) {
    return WriteProfileValue(stateFile, "Mission", "Installed", std::to_string(counter));
}

int64_t CountedUp(int64_t counter) {
    return counter == INT64_MAX ? counter : counter + 1;
}

int64_t CountedDown(int64_t counter) {
    return counter == 0 || counter == INT64_MIN ? counter : counter - 1;
}

bool IsRecordKey(std::string_view key) {
    if (key.size() < 2 || (key[0] != 'F' && key[0] != 'f') || key[1] == '0')
        return false;
    return std::all_of(key.begin() + 1, key.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool StartRecords(const std::string& stateFile) {
    return platform::WriteProfileSection(stateFile, "Mission",
                                         [](std::string_view key) { return !IsRecordKey(key); },
                                         {{"FCount", "0"}});
}

int ReadRecordCount(const std::string& stateFile) {
    const int64_t count = ParseCounter(ReadProfileValue(stateFile, "Mission", "FCount", "0"));
    // No more records exist than the file has room for ("Fn=a:0" and a line end each), so a
    // hand-edited count of two thousand million costs no more lookups than the file has lines.
    constexpr int64_t shortestRecord = 7;
    CFileStatus status;
    const int64_t room = CFile::GetStatus(stateFile, status)
                             ? static_cast<int64_t>(status.size / shortestRecord)
                             : 0;
    return static_cast<int>(std::clamp<int64_t>(std::min(count, room), 0, INT_MAX));
}

std::string ReadProfileValue(const std::string& filePath, const std::string& section,
                             const std::string& key, const std::string& defaultValue) {
    return platform::GetProfileString(filePath, section, key, defaultValue);
}

bool WriteProfileValue(const std::string& filePath, const std::string& section,
                       const std::string& key, const std::string& value) {
    return platform::WriteProfileString(filePath, section, key, value);
}

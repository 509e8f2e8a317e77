// The files beside the program that bear its name, and one-value access to the state file.
#include "app/state_file.h"

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

std::string GetProgramFolder() {
    return ProgramFolderOf(platform::GetOwnPath());
}

std::string GetProgramPathWithExt(const std::string& extension) {
    return ProgramBasePathOf(platform::GetOwnPath()) + extension;
}

std::string ReadProfileValue(const std::string& filePath, const std::string& section,
                             const std::string& key, const std::string& defaultValue) {
    return platform::GetProfileString(filePath, section, key, defaultValue);
}

bool WriteProfileValue(const std::string& filePath, const std::string& section,
                       const std::string& key, const std::string& value) {
    return platform::WriteProfileString(filePath, section, key, value);
}

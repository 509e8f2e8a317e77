// The program's own path and the files beside it that bear its name.
#include "app/program_files.h"

#include "app/mission_names.h"
#include "platform/code_page.h"
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

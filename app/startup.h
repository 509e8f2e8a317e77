// The program's entry: options, state file counter, banner, dispatch and exit codes.
#pragma once

#include <string>

int FindOption(char letter, char** argv, int argc);
void PrintBanner();
void PrintUsage();

// The two operations start-up dispatches to; tests pass their own.
struct MissionOperations {
    bool (*install)(const std::string& sourcePath, bool sourceIsFolder);
    bool (*deinstall)(const std::string& targetFolder, bool keepFolders);
};

int StartUp(int argc, char** argv, const MissionOperations& operations);
int StartUp(int argc, char** argv);  // with InstallMission and DeinstallMission

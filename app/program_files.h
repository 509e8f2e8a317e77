// The program's own path and the files beside it that bear its name: state file, backup archive
// and retired backup.
#pragma once

#include <string>

std::string GetProgramFolder();
std::string GetProgramPathWithExt(const std::string& extension);

// The pure rules behind the two path functions, for a given program path.
std::string ProgramFolderOf(const std::string& programPath);
std::string ProgramBasePathOf(const std::string& programPath);

// True when name, taken inside the program's folder, is the program itself or one of the files
// beside it that bear its name (state file, backup archive, retired backup): a mission file of
// that name would overwrite the record of the install or the saved game files.
bool NamesProgramFile(const std::string& name, const std::string& programPath);
bool NamesProgramFile(const std::string& name);  // for this program

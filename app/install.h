// Installing a mission from a ZIP archive or a folder, saving every file it replaces.
#pragma once

#include <string>
#include <vector>

bool InstallMission(const std::string& sourcePath, bool sourceIsFolder);
void ScanFolderFiles(const std::string& folder, std::vector<std::string>& list);
bool PathExists(const std::string& path);
std::string GetRelativePath(const std::string& path, const std::string& base);

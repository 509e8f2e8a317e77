// Splitting, testing and creating paths (drive, folder, name, extension; both separators).
#pragma once

#include <string>

std::string GetPathDrive(const std::string& path);
std::string GetPathFolder(const std::string& path);
std::string GetPathTitle(const std::string& path);
std::string GetPathFileName(const std::string& path);
std::string GetPathWithoutDrive(const std::string& path);
int GetPathKind(const std::string& path);  // -1 folder, 1 file, 0 nothing
bool CanEnterFolder(const std::string& path);
bool CreatePathFolders(const std::string& path);
bool IsRemovableDrive(const std::string& path);

// Splitting, testing and creating paths (drive, folder, name, extension; both separators).
#pragma once

#include <string>

std::string GetPathDrive(const std::string& path);
std::string GetPathFolder(const std::string& path);
std::string GetPathTitle(const std::string& path);
std::string GetPathFileName(const std::string& path);
std::string GetPathWithoutDrive(const std::string& path);
// What a path names, found by a file search (so a pattern names what it matches first).
enum class PathKind { folder = -1, nothing = 0, file = 1 };
PathKind GetPathKind(const std::string& path);
bool CanEnterFolder(const std::string& path);
bool CreatePathFolders(const std::string& path);
bool IsRemovableDrive(const std::string& path);

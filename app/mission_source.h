// Where a mission comes from: a ZIP archive or an unpacked folder, and the list of its files.
#pragma once

#include <string>
#include <vector>

#include "app/install_plan.h"
#include "zip/zip_handler.h"

struct MissionSource {
    bool isFolder = false;
    std::string folder;  // folder source: the folder, absolute, without trailing backslashes
    std::vector<std::string> files;
    CZipHandler archive;
};

// Opens the source; false (after its message) when there is nothing to install from.
bool OpenSource(MissionSource& source, const std::string& sourcePath);
// The files of the source, in its order, with what the source itself tells against them.
std::vector<MissionFile> ListFolderFiles(const MissionSource& source);
std::vector<MissionFile> ListArchiveFiles(CZipHandler& archive);

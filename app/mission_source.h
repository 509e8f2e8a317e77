// Where a mission comes from: a ZIP archive or an unpacked folder, and the list of its files.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/install_plan.h"
#include "zip/extract_ahead.h"
#include "zip/zip_handler.h"

struct MissionSource {
    bool isFolder = false;
    std::string folder;  // folder source: the folder, absolute, without trailing backslashes
    std::vector<std::string> files;
    CZipHandler archive;
    // While the files are put in place: the archive's entries, read ahead. It has the archive
    // to itself meanwhile.
    std::unique_ptr<CZipExtractAhead> readAhead;
};

// Opens the source; false (after its message) when there is nothing to install from.
bool OpenSource(MissionSource& source, const std::string& sourcePath);
// The files of the source, in its order, with what the source itself tells against them.
std::vector<MissionFile> ListFolderFiles(const MissionSource& source);
std::vector<MissionFile> ListArchiveFiles(CZipHandler& archive);
// Starts reading ahead the entries of the files that may be put in place, in their order.
void StartReadingAhead(MissionSource& source, const std::vector<MissionFile>& files);

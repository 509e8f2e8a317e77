// The backup archive of an install: made only where no saved game files would be lost, and
// filled with every game file that will be replaced before the first one is touched.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <vector>

#include "app/install_plan.h"
#include "zip/zip_handler.h"

// The reports of failed backups by position in the plan, printed when the file's line comes.
using BackupReports = std::map<size_t, std::function<void()>>;

// Creates the backup archive beside the program; false (after its message) when an archive
// that holds saved game files, or cannot be read, lies at its path.
bool CreateBackupArchive(CZipHandler& backup);
// Saves every game file that will be replaced and closes the backup archive, so that its
// central directory is on disk before the first game file is deleted.
BackupReports SaveGameFiles(CZipHandler& backup, std::vector<MissionFile>& files,
                            const std::string& programFolder);

// Deleting a file of the game folder, read-only or not.
#pragma once

#include <string>

// A read-only file cannot be deleted on Windows, so the attribute is cleared first; a saved copy
// of the file keeps it. True when the file is gone: deleted, or (a delete that failed) nothing
// of that name is there. Where another spelling of the name must not remain either (Linux keeps
// names apart that differ in letter case only), the caller looks for it.
bool DeleteGameFile(const std::string& path);

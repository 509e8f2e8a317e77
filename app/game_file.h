// Deleting a file of the game folder, read-only or not.
#pragma once

#include <string>

// A read-only file cannot be deleted on Windows, so the attribute is cleared first; a saved copy
// of the file keeps it. The result is not looked at: callers test whether the file is gone.
void DeleteGameFile(const std::string& path);

// Small pieces the Linux files of the platform layer share.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

namespace platform::posix {

// Windows attributes for a stat result: folder, read-only (owner cannot write) or archive.
uint32_t AttributesOf(const struct stat& info);
// The permission bits mode becomes for Windows attributes: write permission taken for read-only,
// the owner's given otherwise.
mode_t ModeWithAttributes(mode_t mode, uint32_t attributes);
// Keeps errno as the layer's last error; returns false so failure paths can end in one line.
bool Fail();
bool FailWith(int error);
// rename(2) that refuses to replace an existing target (EEXIST), as Windows' MoveFile does.
bool RenameNoReplace(const std::string& from, const std::string& to);  // program-form paths
// unlink(2) or rmdir(2) of an existing name (program form), the cached folder listing told;
// returns what the system call returned.
int RemoveName(const std::string& path, int (*call)(const char*));

}  // namespace platform::posix

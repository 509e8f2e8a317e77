// INI profile files: read and write one value, crash-safe, in one portable implementation.
#pragma once

#include <string>

namespace platform {

// The value of key in section, cut to 1023 characters; the default when the file, the section
// or the key is missing.
std::string GetProfileString(const std::string& filePath, const std::string& section,
                             const std::string& key, const std::string& defaultValue);

// Creates file and section when missing, replaces an existing key's value in its place, and
// appends a new key at the end of its section. A process killed at any instant leaves the old
// or the new content. False when the file cannot be written.
bool WriteProfileString(const std::string& filePath, const std::string& section,
                        const std::string& key, const std::string& value);

}  // namespace platform

// INI profile files: read and write one value, crash-safe, in one portable implementation.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// What a profile file at a path is, for one section.
enum class ProfileState {
    missing,     // nothing at all at the path
    readable,    // a file that was read whole: empty (nothing but blanks), or holding the section
    unreadable,  // something that cannot be trusted: no regular file (a folder, a FIFO, a
                 // device), locked or not permitted, larger than 16 MiB, holding a NUL, or not
                 // empty but without the section
};

// Tells a file that cannot be read from a missing one, before its values are taken as they read.
// Uses the same parsed model as the calls below: a check before reading costs nothing extra.
ProfileState CheckProfile(const std::string& filePath, const std::string& section);

// The value of key in section, cut to 1023 characters; the default when the file, the section
// or the key is missing, and when the file cannot be read (see CheckProfile).
std::string GetProfileString(const std::string& filePath, const std::string& section,
                             const std::string& key, const std::string& defaultValue);

// The values of several keys of section, each as GetProfileString gives it, from one version of
// the file: the file is looked at once, not once for each key.
std::vector<std::string> GetProfileStrings(const std::string& filePath, const std::string& section,
                                           const std::vector<std::string>& keys,
                                           const std::string& defaultValue);

// Creates file and section when missing, replaces an existing key's value in its place, and
// appends a new key at the end of its section. A process killed at any instant leaves the old
// or the new content. False, with the file unchanged, when it cannot be written, when it exists
// but cannot be read (no regular file, locked, larger than 16 MiB, holding a NUL), when a text
// holds a NUL, or when the file would grow beyond 16 MiB.
bool WriteProfileString(const std::string& filePath, const std::string& section,
                        const std::string& key, const std::string& value);

struct ProfileValue {
    std::string key;
    std::string value;
};

// Writes several values of section as WriteProfileString would one after the other. New keys of
// an existing section are written together: one small append when the section is the file's
// last, so that a run of records costs one write. A failure leaves the values before it written.
bool WriteProfileStrings(const std::string& filePath, const std::string& section,
                         const std::vector<ProfileValue>& values);

// Writes section anew as the last part of the file, in one crash-safe step: its key lines whose
// key keepKey refuses are dropped, values are set (in their place, or at the section's end), and
// blank lines at its end go. Other lines stay as they are. Keys added to the section afterwards
// are appended at the file's very end, one small write each, whatever the file looked like:
// this costs the file once, so that what follows costs each value its own bytes. The section
// stays in place when a later header repeats its name (moved, it would be hidden by that one).
// False, with the file unchanged, when WriteProfileString would be.
bool WriteProfileSection(const std::string& filePath, const std::string& section,
                         const std::function<bool(std::string_view key)>& keepKey,
                         const std::vector<ProfileValue>& values);

}  // namespace platform

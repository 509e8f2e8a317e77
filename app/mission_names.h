// Rules for the file names a mission brings: which stay inside the game folder, and which name
// the same file.
#pragma once

#include <cstddef>
#include <string>

// Why the install refuses a mission name, or nullptr when it takes it. Every name it takes comes
// back exactly, on disk, in the state file and in the backup archive, on both builds alike:
// - unsafe: empty, absolute (a leading separator or a drive), a colon anywhere (drives,
//   alternate data streams), a part that climbs out ("..", or any other part made only of dots
//   and blanks, which Windows trims to ".."), a part that names a Windows device (CON, PRN, AUX,
//   NUL, COM1-9, LPT1-9, with or without an extension);
// - invalid: a control character (which would also split a state-file record), one of
//   < > " | ? * (Windows refuses them; a search takes them as wildcards), a part that begins or
//   ends with a blank or a tab or ends with a dot (Windows drops trailing ones, and blanks around
//   a state-file value are dropped on reading);
// - too long: a part of more than 255 characters;
// - code page: text the local code page does not hold as valid text.
const char* MissionNameRefusal(const std::string& name);
bool IsSafeMissionName(const std::string& name);

inline constexpr const char* refusedUnsafe = "unsafe name";
inline constexpr const char* refusedInvalid = "invalid name";
inline constexpr const char* refusedTooLong = "name too long";
inline constexpr const char* refusedCodePage = "name not representable on this system";
inline constexpr size_t maxPartCharacters = 255;

// The name with its parts joined by single backslashes and "." parts dropped: two names with the
// same key (compared ignoring letter case) reach the same file.
std::string MissionNameKey(const std::string& name);

// Orders keys ignoring letter case, as the game's file system matches names.
struct MissionNameLess {
    bool operator()(const std::string& a, const std::string& b) const;
};

// True when the path has no drive and does not start at a root.
bool IsRelativePath(const std::string& path);

// Rules for the file names a mission brings: which stay inside the game folder, and which name
// the same file.
#pragma once

#include <string>

// True when the name, joined to the game folder, stays inside it: not empty, relative (no leading
// separator, no drive), no colon anywhere (drives, alternate data streams) and no part that
// climbs out ("..", or any other part made only of dots and blanks, which Windows trims to "..")
// and no part that names a Windows device (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without an
// extension).
bool IsSafeMissionName(const std::string& name);

// The name with its parts joined by single backslashes and "." parts dropped: two names with the
// same key (compared ignoring letter case) reach the same file.
std::string MissionNameKey(const std::string& name);

// Orders keys ignoring letter case, as the game's file system matches names.
struct MissionNameLess {
    bool operator()(const std::string& a, const std::string& b) const;
};

// True when the path has no drive and does not start at a root.
bool IsRelativePath(const std::string& path);

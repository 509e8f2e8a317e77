// Rules of path text in the program's form, one home for every layer: separators, trailing
// separators, the parts of a path, and the one rule for a part that climbs out of its folder.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

inline bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

inline std::string WithoutTrailingSeparators(std::string path) {
    while (!path.empty() && IsSeparator(path.back())) path.pop_back();
    return path;
}

// The engine's own rule for folders it is given: only backslashes are cut, so that "a\\b/"
// keeps naming its own folder part.
inline std::string WithoutTrailingBackslashes(std::string path) {
    while (!path.empty() && path.back() == '\\') path.pop_back();
    return path;
}

// The parts between separators, empty ones included ("a\\\\b" has three).
inline std::vector<std::string> SplitParts(std::string_view path) {
    std::vector<std::string> parts(1);
    for (const char c : path) {
        if (IsSeparator(c)) {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

// "..", "...", ". ." and the like. Windows drops trailing dots and blanks, so a part of nothing
// else climbs up or names the folder it stands in; only "." and the empty part stay harmless.
inline bool ClimbsOut(std::string_view part) {
    return !part.empty() && part != "." && part.find_first_not_of(". ") == std::string_view::npos;
}

}  // namespace platform

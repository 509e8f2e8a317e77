// Rules for the file names a mission brings (safety and sameness).
#include "app/mission_names.h"

#include <vector>

#include "platform/system.h"

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

std::vector<std::string> SplitParts(const std::string& name) {
    std::vector<std::string> parts(1);
    for (const char c : name) {
        if (IsSeparator(c)) {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

// "..", "...", ". ." and the like: Windows drops trailing dots and blanks, so all climb up.
bool ClimbsOut(const std::string& part) {
    if (part.empty() || part == ".") {
        return false;
    }
    return part.find_first_not_of(". ") == std::string::npos;
}

}  // namespace

bool IsSafeMissionName(const std::string& name) {
    if (name.empty() || !IsRelativePath(name) || name.find(':') != std::string::npos) {
        return false;
    }
    for (const std::string& part : SplitParts(name)) {
        if (ClimbsOut(part)) {
            return false;
        }
    }
    return true;
}

std::string MissionNameKey(const std::string& name) {
    std::string key;
    for (const std::string& part : SplitParts(name)) {
        if (part.empty() || part == ".") {
            continue;
        }
        if (!key.empty()) {
            key += '\\';
        }
        key += part;
    }
    return key;
}

bool MissionNameLess::operator()(const std::string& a, const std::string& b) const {
    return platform::CollateNamesNoCase(a, b) < 0;
}

bool IsRelativePath(const std::string& path) {
    if (path.size() >= 2 && path[1] == ':') {
        return false;
    }
    return path.empty() || !IsSeparator(path[0]);
}

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

// "CON", "nul.txt", "Com1 .dat" and the like: Windows opens a device for these in any folder,
// so a mission file of that name would be written to the console, a port or nowhere.
bool NamesDevice(const std::string& part) {
    std::string stem = part.substr(0, part.find('.'));
    stem.erase(stem.find_last_not_of(' ') + 1);
    const auto is = [](const std::string& text, const char* name) {
        return platform::CollateNamesNoCase(text, name) == 0;
    };
    if (is(stem, "CON") || is(stem, "PRN") || is(stem, "AUX") || is(stem, "NUL")) {
        return true;
    }
    const std::string prefix = stem.substr(0, 3);
    return stem.size() == 4 && (is(prefix, "COM") || is(prefix, "LPT")) && stem[3] >= '1' &&
           stem[3] <= '9';
}

}  // namespace

bool IsSafeMissionName(const std::string& name) {
    if (name.empty() || !IsRelativePath(name) || name.find(':') != std::string::npos) {
        return false;
    }
    for (const std::string& part : SplitParts(name)) {
        if (ClimbsOut(part) || NamesDevice(part)) {
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

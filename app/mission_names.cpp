// Rules for the file names a mission brings (safety and sameness).
#include "app/mission_names.h"

#include <cstring>
#include <vector>

#include "platform/code_page.h"
#include "platform/path_text.h"

namespace {

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

// Characters Windows refuses in a name (besides the separators and the colon, which have their
// own rule), and the control characters, which would also split a state-file record.
bool HasForbiddenCharacter(const std::string& part) {
    for (const char c : part) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || std::strchr("<>\"|?*", c) != nullptr) {
            return true;
        }
    }
    return false;
}

// Windows drops trailing blanks and dots, so " a" and "a " or "a." would meet other files; the
// state file's reader drops blanks around a value.
bool HasLooseEnds(const std::string& part) {
    if (part.empty() || part == ".") {
        return false;
    }
    const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    return isBlank(part.front()) || isBlank(part.back()) || part.back() == '.';
}

// Counts characters, not bytes, so that both builds give one answer for one name.
size_t CharacterCount(const std::string& utf8) {
    size_t count = 0;
    for (const char c : utf8) {
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    }
    return count;
}

}  // namespace

const char* MissionNameRefusal(const std::string& name) {
    if (name.empty() || !IsRelativePath(name) || name.find(':') != std::string::npos) {
        return refusedUnsafe;
    }
    // A name the backup archive cannot hold exactly could not be found there again.
    std::string utf8;
    if (!platform::LocalToUtf8(name, utf8)) {
        return refusedCodePage;
    }
    for (const std::string& part : platform::SplitParts(utf8)) {
        if (platform::ClimbsOut(part) || NamesDevice(part)) {
            return refusedUnsafe;
        }
        if (HasForbiddenCharacter(part) || HasLooseEnds(part)) {
            return refusedInvalid;
        }
        if (CharacterCount(part) > maxPartCharacters) {
            return refusedTooLong;
        }
    }
    return nullptr;
}

bool IsSafeMissionName(const std::string& name) {
    return MissionNameRefusal(name) == nullptr;
}

std::string MissionNameKey(const std::string& name) {
    std::string key;
    for (const std::string& part : platform::SplitParts(name)) {
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
    return path.empty() || !platform::IsSeparator(path[0]);
}

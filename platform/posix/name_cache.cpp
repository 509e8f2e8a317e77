// Case-insensitive path matching on Linux over folder listings cached for the whole run.
#include "platform/posix/name_cache.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/posix/case_fold.h"
#include "platform/posix/host_path.h"

namespace platform::posix {

namespace {

struct FolderKey {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FolderKey&) const = default;
};

// What changes whenever a name in the folder is added, removed or renamed.
struct Stamp {
    int64_t modifiedSeconds = 0;
    int64_t modifiedNanoseconds = 0;
    int64_t changedSeconds = 0;
    int64_t changedNanoseconds = 0;
    int64_t size = 0;
    bool operator==(const Stamp&) const = default;
};

// The names of one folder by their case-folded form. Most names are their own folded form
// (game and mission files are mostly in small letters) and are kept once, in a set; the rest
// are kept by their folded form, each list in byte order. A folder of many thousand files so
// costs little memory.
struct Listing {
    FolderKey key;
    Stamp stamp;
    // The program changed the folder itself since the stamp was taken, and the listing with it:
    // the folder's next stamp is taken as the listing's own (see EntryChange).
    bool changedSince = false;
    std::unordered_set<std::string> folded;
    std::unordered_map<std::string, std::vector<std::string>> others;

    // The names whose folded form is key, in byte order.
    std::vector<std::string> NamesOf(const std::string& key) const {
        std::vector<std::string> names;
        const auto found = others.find(key);
        if (found != others.end())
            names = found->second;
        if (folded.count(key) != 0)
            names.insert(std::lower_bound(names.begin(), names.end(), key), key);
        return names;
    }
};

std::mutex guard;
// By the folder's host path as it was looked up ("" for the current folder, otherwise ending in
// '/'). A folder reached by two paths (a link, another letter case) has a listing for each,
// each checked against the folder on its own.
std::unordered_map<std::string, Listing> listings;

FolderKey KeyOf(const struct stat& info) {
    return FolderKey{info.st_dev, info.st_ino};
}

Stamp StampOf(const struct stat& info) {
    return Stamp{info.st_mtim.tv_sec, info.st_mtim.tv_nsec, info.st_ctim.tv_sec,
                 info.st_ctim.tv_nsec, info.st_size};
}

// The key under which a host name is filed: its case-folded form, as names compare everywhere
// in the program.
std::optional<std::string> FoldedKey(const std::string& hostName) {
    return FoldName(hostName);
}

void AddName(Listing& listing, const std::string& name) {
    const std::optional<std::string> key = FoldedKey(name);
    if (!key)
        return;
    if (*key == name) {
        listing.folded.insert(name);
        return;
    }
    std::vector<std::string>& names = listing.others[*key];
    const auto place = std::lower_bound(names.begin(), names.end(), name);
    if (place == names.end() || *place != name)
        names.insert(place, name);
}

void RemoveName(Listing& listing, const std::string& name) {
    const std::optional<std::string> key = FoldedKey(name);
    if (!key)
        return;
    if (*key == name) {
        listing.folded.erase(name);
        return;
    }
    const auto found = listing.others.find(*key);
    if (found == listing.others.end())
        return;
    std::vector<std::string>& names = found->second;
    names.erase(std::remove(names.begin(), names.end(), name), names.end());
    if (names.empty())
        listing.others.erase(found);
}

// folder is a host path prefix: empty for the current folder, otherwise ending in '/'.
std::string FolderArgument(const std::string& folder) {
    return folder.empty() ? std::string(".") : folder;
}

bool StatFolder(const std::string& folder, struct stat& info) {
    return stat(FolderArgument(folder).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool Exists(const std::string& hostPath) {
    struct stat info;
    return lstat(hostPath.c_str(), &info) == 0;
}

bool Scan(const std::string& folder, Listing& listing) {
    DIR* dir = opendir(FolderArgument(folder).c_str());
    if (!dir)
        return false;
    listing.folded.clear();
    listing.others.clear();
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            AddName(listing, name);
    }
    closedir(dir);
    return true;
}

// The folder's listing, read again when the folder changed since in a way the listing does not
// know of (or when told to); called with the guard held. nullptr when the folder cannot be
// listed.
Listing* CurrentListing(const std::string& folder, const struct stat& info, bool rescan) {
    const auto found = listings.find(folder);
    if (found != listings.end() && !rescan && found->second.key == KeyOf(info) &&
        (found->second.changedSince || found->second.stamp == StampOf(info))) {
        found->second.stamp = StampOf(info);
        found->second.changedSince = false;
        return &found->second;
    }
    Listing fresh;
    fresh.key = KeyOf(info);
    fresh.stamp = StampOf(info);
    if (!Scan(folder, fresh)) {
        if (found != listings.end())
            listings.erase(found);
        return nullptr;
    }
    return &(listings[folder] = std::move(fresh));
}

bool IsListed(const std::string& folder) {
    const std::lock_guard<std::mutex> lock(guard);
    return listings.count(folder) != 0;
}

// The name in folder that equals name ignoring case. With keepExact, name itself when the
// folder lists it; otherwise its exact spelling is known to be absent, so a listing that still
// holds it is out of date. A name found is checked to exist; when it does not, the listing is
// read once more. folderFound, when given, tells whether the folder was there to look in;
// absent, whether its current listing holds no name equal to name ignoring case.
std::optional<std::string> FindInFolder(const std::string& folder, const std::string& name,
                                        bool keepExact, bool* folderFound = nullptr,
                                        bool* absent = nullptr) {
    const std::optional<std::string> key = FoldedKey(name);
    struct stat info;
    if (!key || !StatFolder(folder, info))
        return std::nullopt;
    if (folderFound)
        *folderFound = true;
    const std::lock_guard<std::mutex> lock(guard);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const Listing* listing = CurrentListing(folder, info, attempt > 0);
        if (!listing)
            return std::nullopt;
        const std::vector<std::string> names = listing->NamesOf(*key);
        if (names.empty()) {
            if (absent)
                *absent = true;
            return std::nullopt;
        }
        const bool listsExact = std::binary_search(names.begin(), names.end(), name);
        if (listsExact && keepExact)
            return name;
        if (!listsExact && Exists(folder + names.front()))
            return names.front();
    }
    return std::nullopt;
}

using Span = std::pair<size_t, size_t>;  // [begin, end) of one component

std::vector<Span> ComponentsOf(const std::string& path) {
    std::vector<Span> parts;
    size_t pos = 0;
    while (pos < path.size()) {
        if (path[pos] == '/') {
            ++pos;
            continue;
        }
        const size_t end = std::min(path.find('/', pos), path.size());
        parts.emplace_back(pos, end);
        pos = end;
    }
    return parts;
}

bool IsDots(const std::string& component) {
    return component == "." || component == "..";
}

// Rebuilds path from component `first` on, each component as spell(folder so far, component)
// gives it; after the first one it cannot find, the rest is kept as given.
template <typename Spell>
std::string Respell(const std::string& path, const std::vector<Span>& parts, size_t first,
                    Spell spell) {
    std::string out = path.substr(0, parts[first].first);
    bool missing = false;
    for (size_t i = first; i < parts.size(); ++i) {
        const auto [begin, end] = parts[i];
        const std::string component = path.substr(begin, end - begin);
        std::optional<std::string> spelled = component;
        if (!missing && !IsDots(component)) {
            spelled = spell(out, component);
            missing = !spelled;
        }
        out += spelled ? *spelled : component;
        const size_t next = i + 1 < parts.size() ? parts[i + 1].first : path.size();
        out.append(path, end, next - end);
    }
    return out;
}

// From the listing of the nearest folder on hostPath's way that has one, checked against the
// folder with one system call: a name found there that ends the path, or the knowledge that the
// rest of the path does not exist. Most names the program looks up lie in a few folders (a
// mission's), so most lookups end here. nullopt when no listing can tell.
std::optional<MatchedName> MatchInListedFolder(const std::string& hostPath) {
    const std::vector<Span> parts = ComponentsOf(hostPath);
    for (size_t i = parts.size(); i-- > 0;) {
        const std::string folder = hostPath.substr(0, parts[i].first);
        if (!IsListed(folder))
            continue;
        const auto [begin, end] = parts[i];
        const std::string component = hostPath.substr(begin, end - begin);
        if (IsDots(component))
            return std::nullopt;
        bool absent = false;
        const std::optional<std::string> spelled =
            FindInFolder(folder, component, true, nullptr, &absent);
        if (absent)
            return MatchedName{hostPath, true};
        if (spelled && i + 1 == parts.size())
            return MatchedName{folder + *spelled + hostPath.substr(end), false};
        // An existing folder without a listing of its own lies between, or the listing could
        // not tell: the general way decides.
        return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

std::string MatchExistingCase(const std::string& hostPath) {
    return MatchName(hostPath).path;
}

MatchedName MatchName(const std::string& hostPath) {
    if (hostPath.empty())
        return {hostPath, false};
    if (std::optional<MatchedName> listed = MatchInListedFolder(hostPath))
        return *listed;
    if (Exists(hostPath))
        return {hostPath, false};
    return {MatchMissingCase(hostPath, errno), false};
}

std::string MatchMissingCase(const std::string& hostPath, int missing) {
    const std::vector<Span> parts = ComponentsOf(hostPath);
    if (parts.empty())
        return hostPath;
    // Most often only the last component is missing, from a folder that exists as spelled (a
    // file about to be created): it is looked for there at once.
    const auto [lastBegin, lastEnd] = parts.back();
    const std::string last = hostPath.substr(lastBegin, lastEnd - lastBegin);
    if (missing == ENOENT && !IsDots(last)) {
        bool folderFound = false;
        const std::string folder = hostPath.substr(0, lastBegin);
        if (const auto spelled = FindInFolder(folder, last, false, &folderFound))
            return folder + *spelled + hostPath.substr(lastEnd);
        if (folderFound)
            return hostPath;
    }
    // Otherwise find the longest prefix that exists as spelled, walking back, and match from
    // there on.
    size_t first = 0;
    for (size_t i = parts.size() - 1; i-- > 0;) {
        if (Exists(hostPath.substr(0, parts[i].second))) {
            first = i + 1;
            break;
        }
        missing = errno;
    }
    bool checked = true;  // the first component was just looked up as spelled
    return Respell(
        hostPath, parts, first,
        [&](const std::string& folder, const std::string& component) -> std::optional<std::string> {
            if (!checked && Exists(folder + component))
                return component;
            if ((checked ? missing : errno) != ENOENT)
                return std::nullopt;
            checked = false;
            return FindInFolder(folder, component, false);
        });
}

std::string SpellingOnDisk(const std::string& hostPath) {
    const std::vector<Span> parts = ComponentsOf(hostPath);
    if (parts.empty())
        return hostPath;
    return Respell(hostPath, parts, 0, [](const std::string& folder, const std::string& component) {
        return FindInFolder(folder, component, true);
    });
}

std::string LastNameOnDisk(const std::string& hostPath) {
    const std::vector<Span> parts = ComponentsOf(hostPath);
    if (parts.empty())
        return hostPath;
    const auto [begin, end] = parts.back();
    const std::string name = hostPath.substr(begin, end - begin);
    if (IsDots(name))
        return name;
    return FindInFolder(hostPath.substr(0, begin), name, true).value_or(name);
}

EntryChange::EntryChange(const std::string& hostPath) {
    std::string path = hostPath;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const size_t slash = path.rfind('/');
    folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    name = slash == std::string::npos ? path : path.substr(slash + 1);
}

void EntryChange::Created() const {
    Apply(true);
}

void EntryChange::Removed() const {
    Apply(false);
}

// Costs no system call: the folder's listing, if one is kept under this path, takes the change
// and the folder's next stamp as its own. A listing reached by another path misses the change
// and is read again when next used, as after any change made behind the program's back.
void EntryChange::Apply(bool exists) const {
    if (name.empty() || IsDots(name))
        return;
    const std::lock_guard<std::mutex> lock(guard);
    const auto found = listings.find(folder);
    if (found == listings.end())
        return;
    exists ? AddName(found->second, name) : RemoveName(found->second, name);
    found->second.changedSince = true;
}

}  // namespace platform::posix

// The central directory's name index: entries by name, exact or ignoring letter case.
#include "zip/central_directory.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/code_page.h"
#include "platform/mapped_file.h"
#include "platform/system.h"
#include "zip/byte_io.h"
#include "zip/volume_storage.h"
#include "zip/zip_exception.h"
#include "zip/zip_records.h"

// Names that are equal stand in archive order, however the index came about (built at once or
// grown entry by entry), and every search returns the first of them: the entry FindEntry gives
// for a name is the same before and after the archive is closed and opened again.
void CZipCentralDirectory::BuildNameIndex() {
    std::vector<std::pair<std::string, uint16_t>> names;
    names.reserve(headers.size());
    for (size_t i = 0; i < headers.size(); ++i)
        names.emplace_back(headers[i]->GetFileName(), static_cast<uint16_t>(i));
    std::stable_sort(names.begin(), names.end(), [](const auto& a, const auto& b) {
        return platform::CollateNames(a.first, b.first) < 0;
    });
    nameIndex.clear();
    nameIndex.reserve(names.size());
    for (const auto& [name, index] : names) nameIndex.push_back({headers[index].get(), index});
    noCaseIndexCurrent = false;
}

// After every equal name: a new header is the last in archive order.
void CZipCentralDirectory::InsertIntoNameIndex(CZipEntryHeader* header, uint16_t index) {
    const std::string name = header->GetFileName();
    const auto at =
        std::upper_bound(nameIndex.begin(), nameIndex.end(), name,
                         [](const std::string& key, const NameIndexEntry& entry) {
                             return platform::CollateNames(key, entry.header->GetFileName()) < 0;
                         });
    nameIndex.insert(at, {header, index});
    noCaseIndexCurrent = false;
}

// O(n log n) once after the index changed; the searches that follow cost O(log n) each (a
// deinstall of 65,535 saved files looked each one up by walking the whole index).
const std::vector<NameIndexEntry>& CZipCentralDirectory::NoCaseIndex() const {
    if (noCaseIndexCurrent && noCaseIndex.size() == nameIndex.size())
        return noCaseIndex;
    std::vector<std::pair<std::string, NameIndexEntry>> names;
    names.reserve(nameIndex.size());
    for (const NameIndexEntry& entry : nameIndex)
        names.emplace_back(entry.header->GetFileName(), entry);
    // Names equal but for letter case in archive order too, whatever their spelling.
    std::sort(names.begin(), names.end(), [](const auto& a, const auto& b) {
        const int order = platform::CollateNamesNoCase(a.first, b.first);
        return order != 0 ? order < 0 : a.second.index < b.second.index;
    });
    noCaseIndex.clear();
    noCaseIndex.reserve(names.size());
    for (const auto& [name, entry] : names) noCaseIndex.push_back(entry);
    noCaseIndexCurrent = true;
    return noCaseIndex;
}

int CZipCentralDirectory::FindInNameIndex(const std::string& name, bool caseSensitive) const {
    const auto firstOf = [this](const std::string& key) {
        return std::lower_bound(nameIndex.begin(), nameIndex.end(), key,
                                [](const NameIndexEntry& entry, const std::string& wanted) {
                                    return platform::CollateNames(entry.header->GetFileName(),
                                                                  wanted) < 0;
                                });
    };
    if (caseSensitive) {
        const auto found = firstOf(name);
        if (found == nameIndex.end() ||
            platform::CollateNames(found->header->GetFileName(), name) != 0)
            return -1;
        return static_cast<int>(found - nameIndex.begin());
    }
    // The case-blind match that comes first in the archive; its place in the index is found
    // among the names spelled as its own.
    const std::vector<NameIndexEntry>& blind = NoCaseIndex();
    const auto found = std::lower_bound(
        blind.begin(), blind.end(), name, [](const NameIndexEntry& entry, const std::string& key) {
            return platform::CollateNamesNoCase(entry.header->GetFileName(), key) < 0;
        });
    if (found == blind.end() ||
        platform::CollateNamesNoCase(found->header->GetFileName(), name) != 0)
        return -1;
    for (auto at = firstOf(found->header->GetFileName()); at != nameIndex.end(); ++at)
        if (at->header == found->header)
            return static_cast<int>(at - nameIndex.begin());
    return -1;
}

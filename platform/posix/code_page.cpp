// The text model on Linux: local text is UTF-8; OEM names pass through the locale's OEM code page.
#include "platform/code_page.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <string_view>

#include "platform/posix/case_fold.h"
#include "platform/posix/oem_code_pages.h"
#include "platform/posix/utf8.h"

namespace platform::posix {

namespace {

constexpr int kDefaultOemCodePage = 437;

struct PageLanguages {
    int page;
    std::string_view languages;  // separated by blanks
};

// The OEM code page of each language's Windows locales. Locales of the double-byte pages
// (Japanese, Chinese, Korean) are missing on purpose: those pages are not supported, and their
// names fall back to 437 (archives with the UTF-8 flag are read right all the same), as do the
// languages Windows gives no OEM code page at all (Armenian, Georgian, the Indic scripts).
// Serbian and Bosnian are in Latin letters here, as Windows writes them by default.
constexpr PageLanguages kPageLanguages[] = {
    {850,
     "af br ca co cy da de es eu fi fo fr fy ga gd gl id is it lb ms nb nl nn no oc pt rm se sv"},
    {852, "bs cs dsb hr hsb hu pl ro sk sl sq sr tk"},
    {866, "ba be bg kk ky mk mn ru sah tg tt uk"},
    {737, "el"},
    {857, "az tr uz"},
    {862, "he iw"},
    {775, "et lt lv"},
    {720, "ar fa ur"},
    {874, "th"},
    {1258, "vi"},
};

bool ListHolds(std::string_view list, std::string_view word) {
    for (size_t pos = 0; pos < list.size();) {
        const size_t end = std::min(list.find(' ', pos), list.size());
        if (list.substr(pos, end - pos) == word)
            return true;
        pos = end + 1;
    }
    return false;
}

// English locales with 850; the others (the US first of all) keep 437.
constexpr const char* kEnglishTerritoriesOf850[] = {"AU", "BZ", "CA", "GB", "IE", "JM", "NZ", "TT"};

struct LocaleName {
    std::string language;
    std::string territory;
    std::string modifier;
};

std::string AsciiLower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + ('a' - 'A'));
    }
    return text;
}

std::string AsciiUpper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - ('a' - 'A'));
    }
    return text;
}

// language[_territory][.codeset][@modifier]
LocaleName SplitLocale(const std::string& locale) {
    const size_t at = locale.find('@');
    std::string head = locale.substr(0, at);
    head.erase(std::min(head.find('.'), head.size()));
    const size_t underscore = head.find('_');
    LocaleName name;
    name.language = AsciiLower(head.substr(0, underscore));
    if (underscore != std::string::npos)
        name.territory = AsciiUpper(head.substr(underscore + 1));
    if (at != std::string::npos)
        name.modifier = AsciiLower(locale.substr(at + 1));
    return name;
}

int CyrillicPage(const std::string& language) {
    // Windows gives Serbian and Bosnian in Cyrillic letters 855, the other Cyrillic locales 866.
    return language == "sr" || language == "bs" ? 855 : 866;
}

const OemCodePageTable* TableFromEnvironment() {
    const OemCodePageTable* table = FindOemCodePageTable(OemCodePageFromEnvironment());
    return table ? table : FindOemCodePageTable(kDefaultOemCodePage);
}

std::atomic<const OemCodePageTable*> forcedTable{nullptr};

const OemCodePageTable& CurrentTable() {
    if (const OemCodePageTable* forced = forcedTable.load(std::memory_order_acquire))
        return *forced;
    static const OemCodePageTable* const chosen = TableFromEnvironment();
    return *chosen;
}

// The byte of an upper-half character in the current page, or -1.
int OemByteOf(char32_t codePoint) {
    const OemCodePageTable& table = CurrentTable();
    const OemCharacter* end = table.encoding + table.encodingCount;
    const OemCharacter* found =
        std::lower_bound(table.encoding, end, codePoint, [](const OemCharacter& c, char32_t value) {
            return static_cast<char32_t>(c.codePoint) < value;
        });
    return found != end && found->codePoint == codePoint ? found->byte : -1;
}

// Code points of Windows-1252 bytes 0x80-0x9F; the five bytes the page leaves undefined keep
// their Latin-1 code points, so every byte an earlier version wrote reads back as something.
constexpr std::array<char16_t, 32> kWindows1252HighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

const OemCodePageTable* FindOemCodePageTable(int number) {
    for (const OemCodePageTable& table : OemCodePageTables()) {
        if (table.number == number)
            return &table;
    }
    return nullptr;
}

int OemCodePageForLocale(const std::string& locale) {
    const LocaleName name = SplitLocale(locale);
    if (name.modifier == "cyrillic")
        return CyrillicPage(name.language);
    if (name.language == "en") {
        const bool western =
            std::any_of(std::begin(kEnglishTerritoriesOf850), std::end(kEnglishTerritoriesOf850),
                        [&](const char* t) { return name.territory == t; });
        return western ? 850 : kDefaultOemCodePage;
    }
    for (const PageLanguages& entry : kPageLanguages) {
        if (!name.language.empty() && ListHolds(entry.languages, name.language))
            return entry.page;
    }
    return kDefaultOemCodePage;
}

int OemCodePageFromEnvironment() {
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0')
            return OemCodePageForLocale(value);
    }
    return kDefaultOemCodePage;
}

int OemCodePage() {
    return CurrentTable().number;
}

bool ForceOemCodePage(int number) {
    const OemCodePageTable* table = number == 0 ? nullptr : FindOemCodePageTable(number);
    if (number != 0 && table == nullptr)
        return false;
    forcedTable.store(table, std::memory_order_release);
    return true;
}

}  // namespace platform::posix

namespace platform {

namespace utf8 = posix::utf8;

bool OemToLocal(const std::string& oem, std::string& local) {
    const posix::OemCodePageTable& table = posix::CurrentTable();
    std::string out;
    out.reserve(oem.size());
    for (const char c : oem) {
        const auto byte = static_cast<uint8_t>(c);
        if (byte < 0x80) {
            out += c;
            continue;
        }
        const char16_t codePoint = table.upperHalf[byte - 0x80];
        if (codePoint == 0)
            return false;
        utf8::Append(out, codePoint);
    }
    local = std::move(out);
    return true;
}

// The tables are one to one, so a text that encodes decodes back to itself.
bool LocalToOem(const std::string& local, std::string& oem) {
    std::string out;
    out.reserve(local.size());
    for (size_t pos = 0; pos < local.size();) {
        if (static_cast<uint8_t>(local[pos]) < 0x80) {
            out += local[pos++];
            continue;
        }
        const char32_t codePoint = utf8::Decode(local, pos);
        const int byte = codePoint == utf8::kInvalid ? -1 : posix::OemByteOf(codePoint);
        if (byte < 0)
            return false;
        out += static_cast<char>(byte);
    }
    oem = std::move(out);
    return true;
}

bool Utf8ToLocal(const std::string& utf8, std::string& local) {
    if (!utf8::IsValid(utf8))
        return false;
    local = utf8;
    return true;
}

bool LocalToUtf8(const std::string& local, std::string& utf8) {
    if (!utf8::IsValid(local))
        return false;
    utf8 = local;
    return true;
}

std::string StoredTextToLocal(const std::string& stored) {
    if (utf8::IsValid(stored))
        return stored;
    std::string local;
    local.reserve(stored.size() * 2);
    for (const char c : stored) {
        const auto byte = static_cast<uint8_t>(c);
        const bool control = byte >= 0x80 && byte <= 0x9F;
        utf8::Append(local, control ? posix::kWindows1252HighControls[byte - 0x80] : byte);
    }
    return local;
}

int CollateNames(const std::string& a, const std::string& b) {
    // char_traits<char> compares as unsigned bytes: UTF-8 byte order is code point order.
    const int order = a.compare(b);
    return (order > 0) - (order < 0);
}

int CollateNamesNoCase(const std::string& a, const std::string& b) {
    return posix::CompareFolded(a, b);
}

bool IsLeadByte(uint8_t) {
    return false;
}

}  // namespace platform

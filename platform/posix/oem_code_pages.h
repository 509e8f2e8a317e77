// The OEM code pages of the Linux build: their tables and which one the user's locale chooses.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace platform::posix {

struct OemCharacter {
    char16_t codePoint;
    uint8_t byte;
};

// Bytes below 0x80 are ASCII in every page, so a table holds the upper half only.
struct OemCodePageTable {
    int number;
    char16_t upperHalf[128];  // code point of byte 0x80 + i; 0 where the page leaves it undefined
    uint8_t encodingCount;    // defined upper bytes
    OemCharacter encoding[128];  // the defined upper bytes by code point, for encoding
};

// Every page there is a table for (generated into oem_code_pages.cpp).
std::span<const OemCodePageTable> OemCodePageTables();
// The table of a page; nullptr when there is none.
const OemCodePageTable* FindOemCodePageTable(int number);

// The OEM code page Windows gives a locale named as the C library names it ("de_DE.UTF-8",
// "sr_RS@cyrillic"): 437 for C, POSIX, US English and every locale it does not know.
int OemCodePageForLocale(const std::string& locale);
// The page for the locale that LC_ALL, LC_CTYPE or LANG names (the first one set), as Wine picks
// the system's OEM code page.
int OemCodePageFromEnvironment();
// The page in use: chosen from the environment at first use.
int OemCodePage();
// Tests: use page number from now on (0: the environment's again); false when there is no table.
bool ForceOemCodePage(int number);

}  // namespace platform::posix

// The Linux text model: UTF-8 as local text, the OEM code page the locale chooses and its tables.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdlib>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/posix/oem_code_pages.h"
#include "platform/posix/utf8.h"

namespace {

namespace utf8 = platform::posix::utf8;

int Sign(int value) {
    return (value > 0) - (value < 0);
}

std::string Utf8(char32_t codePoint) {
    std::string text;
    utf8::Append(text, codePoint);
    return text;
}

// Uses one OEM code page for the scope of a test.
class OemPageScope {
public:
    explicit OemPageScope(int page) { EXPECT_TRUE(platform::posix::ForceOemCodePage(page)); }
    ~OemPageScope() { platform::posix::ForceOemCodePage(0); }
    OemPageScope(const OemPageScope&) = delete;
    OemPageScope& operator=(const OemPageScope&) = delete;
};

// The C library's decoding of one byte of a code page, an independent account of it: nullopt
// where the library leaves the byte undefined or does not know the page.
class IconvDecoder {
public:
    explicit IconvDecoder(const std::string& page) : handle(iconv_open("UTF-8", page.c_str())) {}
    ~IconvDecoder() {
        if (Known())
            iconv_close(handle);
    }
    IconvDecoder(const IconvDecoder&) = delete;
    IconvDecoder& operator=(const IconvDecoder&) = delete;

    bool Known() const { return handle != reinterpret_cast<iconv_t>(-1); }
    std::optional<std::string> Decode(char byte) {
        char out[16];
        char* in = &byte;
        char* next = out;
        size_t inLeft = 1;
        size_t outLeft = sizeof out;
        iconv(handle, nullptr, nullptr, nullptr, nullptr);
        if (iconv(handle, &in, &inLeft, &next, &outLeft) == static_cast<size_t>(-1) ||
            iconv(handle, nullptr, nullptr, &next, &outLeft) == static_cast<size_t>(-1)) {
            return std::nullopt;
        }
        return std::string(out, next);
    }

private:
    iconv_t handle;
};

std::vector<int> Pages() {
    std::vector<int> pages;
    for (const auto& table : platform::posix::OemCodePageTables()) pages.push_back(table.number);
    return pages;
}

class OemTable : public testing::TestWithParam<int> {};

// Each byte decodes as the C library decodes it and encodes back to itself; random texts of the
// page's characters, ASCII and characters elsewhere convert exactly, or not at all.
TEST_P(OemTable, ConvertsExactlyOrNotAtAll) {
    const int page = GetParam();
    const OemPageScope scope(page);
    EXPECT_EQ(platform::posix::OemCodePage(), page);
    IconvDecoder oracle("CP" + std::to_string(page));
    std::vector<std::string> inside;
    for (int byte = 0x80; byte < 0x100; ++byte) {
        const std::string oem(1, static_cast<char>(byte));
        std::string local;
        const bool defined = platform::OemToLocal(oem, local);
        if (oracle.Known()) {
            EXPECT_EQ(oracle.Decode(oem[0]), defined ? std::optional(local) : std::nullopt) << byte;
        }
        if (!defined)
            continue;
        std::string back;
        ASSERT_TRUE(platform::LocalToOem(local, back)) << byte;
        EXPECT_EQ(back, oem);
        inside.push_back(local);
    }
    ASSERT_GE(inside.size(), 96u);
    const std::vector<std::string> outside = {"日", "😀", "ẞ", "Ǆ", "\xC3", "\xED\xA0\x80", "\xFF"};
    std::mt19937 random(static_cast<unsigned>(page));
    for (int i = 0; i < 500; ++i) {
        std::string local;
        size_t characters = 0;
        bool convertible = true;
        for (size_t n = 1 + random() % 8; n > 0; --n, ++characters) {
            const unsigned pick = random() % 10;
            if (pick < 6) {
                local += inside[random() % inside.size()];
            } else if (pick < 9) {
                local += static_cast<char>(random() % 0x80);
            } else {
                local += outside[random() % outside.size()];
                convertible = false;
            }
        }
        std::string oem;
        std::string back;
        ASSERT_EQ(platform::LocalToOem(local, oem), convertible) << testing::PrintToString(local);
        if (!convertible)
            continue;
        EXPECT_EQ(oem.size(), characters);
        ASSERT_TRUE(platform::OemToLocal(oem, back));
        EXPECT_EQ(back, local);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryPage, OemTable, testing::ValuesIn(Pages()),
                         [](const testing::TestParamInfo<int>& info) {
                             return "cp" + std::to_string(info.param);
                         });

TEST(OemCodePage, NamesOfTheirRegionConvertAndOthersDoNot) {
    struct Case {
        int page;
        std::string local;
        std::string oem;
        std::string missing;
    };
    const Case cases[] = {
        {437, "Grüß.txt", "Gr\x81\xE1.txt", "Ø"},
        {437, "Ü", "\x9A", "€"},
        {850, "Øre", "\x9Dre", "€"},
        {852, "Łódź", "\x9D\xA2\x64\xAB", "Ø"},
        {855, "Србија", "\xE4\xE1\xA2\xB7\x8E\xA0", "Ω"},
        {866, "Игры", "\x88\xA3\xE0\xEB", "Ł"},
        {737, "Ωμέγα", "\x97\xA3\xE2\x9A\x98", "Ж"},
        {857, "Şişli", "\x9Ei\x9Fli", "€"},
        {862, "שלום", "\x99\x8C\x85\x8D", "Ø"},
        {775, "Ąžuolas", "\xB5\xD8uolas", "Ж"},
        {720, "عربي", "\xE3\xA9\xA0\xEF", "Ж"},
        {874, "ไทย", "\xE4\xB7\xC2", "Ж"},
        {1258, "Vi\u00EA\u0323t", "Vi\xEA\xF2t", "Ж"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.page);
        const OemPageScope scope(c.page);
        std::string oem;
        std::string local;
        ASSERT_TRUE(platform::LocalToOem(c.local, oem));
        EXPECT_EQ(oem, c.oem);
        ASSERT_TRUE(platform::OemToLocal(c.oem, local));
        EXPECT_EQ(local, c.local);
        EXPECT_FALSE(platform::LocalToOem(c.local + c.missing, oem));
    }
}

TEST(OemCodePage, LocaleChoosesThePageWindowsGivesIt) {
    const std::pair<int, std::string> cases[] = {
        {437,
         "C POSIX C.UTF-8 en_US.UTF-8 en_IN ja_JP.UTF-8 zh_CN.GB18030 ko_KR.EUC-KR hy_AM xx_YY"},
        {850, "en_GB.UTF-8 en_CA.utf8 de_DE.UTF-8 de_AT@euro fr_CA.UTF-8 pt_BR nb_NO.UTF-8 is_IS"},
        {850, "ca_ES.UTF-8@valencia"},
        {852, "pl_PL.UTF-8 cs_CZ hu_HU.ISO-8859-2 sr_RS.UTF-8@latin"},
        {855, "sr_RS@cyrillic bs_BA@cyrillic"},
        {866, "ru_RU.UTF-8 uk_UA.UTF-8 be_BY bg_BG mk_MK kk_KZ uz_UZ@cyrillic"},
        {737, "el_GR.UTF-8"},
        {857, "tr_TR.UTF-8 az_AZ uz_UZ"},
        {862, "he_IL.UTF-8"},
        {775, "lt_LT lv_LV et_EE"},
        {720, "ar_EG.UTF-8 fa_IR"},
        {874, "th_TH.UTF-8"},
        {1258, "vi_VN"},
    };
    EXPECT_EQ(platform::posix::OemCodePageForLocale(""), 437);
    for (const auto& [page, locales] : cases) {
        EXPECT_NE(platform::posix::FindOemCodePageTable(page), nullptr) << page;
        std::istringstream list(locales);
        for (std::string locale; list >> locale;)
            EXPECT_EQ(platform::posix::OemCodePageForLocale(locale), page) << locale;
    }
    EXPECT_FALSE(platform::posix::ForceOemCodePage(932));
}

// LC_ALL, then LC_CTYPE, then LANG: the first that is set and not empty.
TEST(OemCodePage, EnvironmentNamesTheLocaleAsTheCLibraryReadsIt) {
    const char* const names[] = {"LC_ALL", "LC_CTYPE", "LANG"};
    std::vector<std::optional<std::string>> saved;
    for (const char* name : names) {
        const char* value = std::getenv(name);
        saved.push_back(value ? std::optional<std::string>(value) : std::nullopt);
    }
    const auto set = [&](const char* all, const char* ctype, const char* lang) {
        const char* const values[] = {all, ctype, lang};
        for (int i = 0; i < 3; ++i) {
            if (values[i])
                setenv(names[i], values[i], 1);
            else
                unsetenv(names[i]);
        }
        return platform::posix::OemCodePageFromEnvironment();
    };
    EXPECT_EQ(set(nullptr, nullptr, nullptr), 437);
    EXPECT_EQ(set(nullptr, nullptr, "de_DE.UTF-8"), 850);
    EXPECT_EQ(set(nullptr, "ru_RU.UTF-8", "de_DE.UTF-8"), 866);
    EXPECT_EQ(set("pl_PL.UTF-8", "ru_RU.UTF-8", "de_DE.UTF-8"), 852);
    EXPECT_EQ(set("", "", "el_GR.UTF-8"), 737);
    EXPECT_EQ(set("C", "ru_RU.UTF-8", "de_DE.UTF-8"), 437);
    for (int i = 0; i < 3; ++i) {
        if (saved[i])
            setenv(names[i], saved[i]->c_str(), 1);
        else
            unsetenv(names[i]);
    }
}

// Valid UTF-8 passes unchanged and orders as its code points; a state file of an earlier
// version, in Windows-1252, reads as the C library decodes that page, its five undefined bytes
// as their Latin-1 characters.
TEST(LocalText, IsUtf8AndEarlierStateTextIsWindows1252) {
    std::mt19937 random(65001);
    for (int i = 0; i < 2000; ++i) {
        const char32_t a = random() % 0x110000;
        const char32_t b = random() % 0x110000;
        if ((a >= 0xD800 && a < 0xE000) || (b >= 0xD800 && b < 0xE000))
            continue;
        const std::string text = Utf8(a) + Utf8(b);
        std::string local;
        std::string back;
        ASSERT_TRUE(platform::Utf8ToLocal(text, local));
        ASSERT_TRUE(platform::LocalToUtf8(local, back));
        EXPECT_EQ(back, text);
        EXPECT_EQ(platform::StoredTextToLocal(text), text);
        EXPECT_EQ(Sign(platform::CollateNames(Utf8(a), Utf8(b))), (a > b) - (a < b));
    }
    std::string unused;
    EXPECT_FALSE(platform::LocalToUtf8("caf\xE9", unused));

    IconvDecoder windows1252("CP1252");
    ASSERT_TRUE(windows1252.Known());
    std::set<std::string> seen;
    for (int byte = 0x80; byte < 0x100; ++byte) {
        const std::string stored = "x" + std::string(1, static_cast<char>(byte));
        const std::string local = platform::StoredTextToLocal(stored);
        const std::optional<std::string> expected = windows1252.Decode(stored[1]);
        EXPECT_EQ(local, "x" + expected.value_or(Utf8(static_cast<char32_t>(byte)))) << byte;
        EXPECT_TRUE(seen.insert(local).second) << byte;
        EXPECT_FALSE(platform::IsLeadByte(static_cast<uint8_t>(byte)));
    }
}

}  // namespace

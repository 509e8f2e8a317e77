// The text model's conversions and name order, as every build keeps them whatever its code pages.
#include "platform/code_page.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

int Sign(int value) {
    return (value > 0) - (value < 0);
}

// Characters from several scripts; the first ones every local code page in use holds (Linux's
// UTF-8, Windows-1252), the others a Windows build may refuse.
const std::vector<std::string> kCharacters = {"a", "Z", "0", " ", "~", ".", "é", "É", "ü",  "Ü",
                                              "ß", "ø", "Ø", "€", "Š", "ÿ", "ẞ", "ł", "Ł",  "Ж",
                                              "ж", "Σ", "ς", "ω", "א", "ş", "ı", "İ", "日", "😀"};
constexpr size_t kLatinCharacters = 16;

// Upper and lower forms of letters Windows-1252 holds.
const std::vector<std::pair<std::string, std::string>> kCasePairs = {
    {"A", "a"}, {"Q", "q"}, {"É", "é"}, {"Ü", "ü"}, {"Ø", "ø"}, {"Š", "š"}, {"Œ", "œ"}, {"Ÿ", "ÿ"}};

std::string RandomText(std::mt19937& random, size_t choices) {
    std::string text;
    const size_t length = 1 + random() % 8;
    for (size_t i = 0; i < length; ++i) text += kCharacters[random() % choices];
    return text;
}

TEST(CodePage, InvalidUtf8IsRefused) {
    // Overlong forms, surrogates, past U+10FFFF, stray and missing continuation bytes.
    for (const std::string bad :
         {"\xC0\x80", "a\xC1\xBF", "\xE0\x80\xAF", "\xF0\x8F\xBF\xBF", "\xED\xA0\x80",
          "\xED\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\x80", "b\xBF", "\xC3",
          "\xE2\x82", "\xE2\x82z", "\xFF"}) {
        std::string local = "unchanged";
        EXPECT_FALSE(platform::Utf8ToLocal(bad, local)) << testing::PrintToString(bad);
    }
}

// Whatever the local code page takes comes back exactly: as UTF-8, through the OEM code page when
// it converts there, and as stored text.
TEST(CodePage, AcceptedTextComesBackExactly) {
    std::mt19937 random(14);
    for (int i = 0; i < 2000; ++i) {
        const bool latin = i % 2 == 0;
        const std::string utf8 = RandomText(random, latin ? kLatinCharacters : kCharacters.size());
        std::string local;
        if (!platform::Utf8ToLocal(utf8, local)) {
            EXPECT_FALSE(latin) << utf8;
            continue;
        }
        std::string back;
        ASSERT_TRUE(platform::LocalToUtf8(local, back)) << utf8;
        EXPECT_EQ(back, utf8);
        EXPECT_EQ(platform::StoredTextToLocal(local), local) << utf8;
        std::string oem;
        if (platform::LocalToOem(local, oem)) {
            ASSERT_TRUE(platform::OemToLocal(oem, back)) << utf8;
            EXPECT_EQ(back, local) << utf8;
        }
    }
}

// Each OEM byte stands for one character of its own, and ASCII is the same in every code page.
TEST(CodePage, EveryOemByteComesBackItself) {
    std::set<std::string> decoded;
    for (int byte = 0; byte < 256; ++byte) {
        const std::string oem(1, static_cast<char>(byte));
        std::string local;
        if (!platform::OemToLocal(oem, local)) {
            EXPECT_GE(byte, 0x80);
            continue;
        }
        if (byte < 0x80) {
            EXPECT_EQ(local, oem);
            EXPECT_FALSE(platform::IsLeadByte(static_cast<uint8_t>(byte)));
        }
        EXPECT_TRUE(decoded.insert(local).second) << "byte " << byte;
        std::string back;
        ASSERT_TRUE(platform::LocalToOem(local, back)) << "byte " << byte;
        EXPECT_EQ(back, oem);
    }
}

TEST(CodePage, StateTextOfEarlierVersionsReadsAsWindows1252) {
    std::string expected;
    ASSERT_TRUE(platform::Utf8ToLocal("Été à 5 €", expected));
    EXPECT_EQ(platform::StoredTextToLocal("\xC9t\xE9 \xE0 5 \x80"), expected);
    EXPECT_EQ(platform::StoredTextToLocal("plain\\path.txt"), "plain\\path.txt");
}

// The case-blind order sees letters of either case as one, wherever they stand.
TEST(CodePage, NamesCollateConsistently) {
    std::mt19937 random(1252);
    const auto local = [](const std::string& utf8) {
        std::string text;
        EXPECT_TRUE(platform::Utf8ToLocal(utf8, text)) << utf8;
        return text;
    };
    for (int i = 0; i < 1000; ++i) {
        std::string upper, lower, mixed, other;
        for (size_t n = 1 + random() % 6; n > 0; --n) {
            const auto& pair = kCasePairs[random() % kCasePairs.size()];
            upper += pair.first;
            lower += pair.second;
            mixed += random() % 2 ? pair.first : pair.second;
            other += kCasePairs[random() % kCasePairs.size()].second;
        }
        const std::string a = local(upper), b = local(lower), c = local(mixed), d = local(other);
        EXPECT_EQ(platform::CollateNamesNoCase(a, b), 0) << mixed;
        EXPECT_EQ(platform::CollateNamesNoCase(c, b), 0) << mixed;
        EXPECT_NE(platform::CollateNames(a, b), 0) << mixed;
        EXPECT_EQ(platform::CollateNames(c, b) == 0, c == b) << mixed;
        EXPECT_EQ(Sign(platform::CollateNames(c, d)), -Sign(platform::CollateNames(d, c)));
        EXPECT_EQ(Sign(platform::CollateNamesNoCase(c, d)),
                  -Sign(platform::CollateNamesNoCase(d, c)));
        EXPECT_EQ(Sign(platform::CollateNamesNoCase(d, a)),
                  Sign(platform::CollateNamesNoCase(d, c)))
            << mixed << " / " << other;
    }
    EXPECT_LT(platform::CollateNames("abc", "abd"), 0);
    EXPECT_LT(platform::CollateNames("ab", "abc"), 0);
    EXPECT_LT(platform::CollateNamesNoCase("AB", "abc"), 0);
}

}  // namespace

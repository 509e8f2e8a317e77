// Names on Linux compare regardless of letter case through Unicode simple case folding.
#include "platform/posix/case_fold.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <wctype.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/posix/utf8.h"

namespace {

using platform::posix::CompareFolded;
using platform::posix::FoldName;

int Sign(int value) {
    return (value > 0) - (value < 0);
}

std::string Utf8(char32_t codePoint) {
    std::string text;
    platform::posix::utf8::Append(text, codePoint);
    return text;
}

struct Piece {
    std::string folded;
    std::vector<std::string> forms;
};

// Letters in all their case forms with their fold, characters without a simple fold, other ASCII,
// and bytes that are not UTF-8 (each closed: no piece completes a sequence another began).
const std::vector<Piece> kPieces = {
    {"a", {"A", "a"}},
    {"à", {"À", "à"}},
    {"ÿ", {"Ÿ", "ÿ"}},
    {"ā", {"Ā", "ā"}},
    {"ł", {"Ł", "ł"}},
    {"ǆ", {"Ǆ", "ǅ", "ǆ"}},
    {"ɓ", {"Ɓ", "ɓ"}},
    {"ḁ", {"Ḁ", "ḁ"}},
    {"ỹ", {"Ỹ", "ỹ"}},
    {"ß", {"ẞ", "ß"}},
    {"σ", {"Σ", "σ", "ς"}},
    {"ω", {"Ω", "ω", "Ω"}},
    {"θ", {"Θ", "θ", "ϑ", "ϴ"}},
    {"μ", {"Μ", "μ", "µ"}},
    {"ά", {"Ά", "ά"}},
    {"ж", {"Ж", "ж"}},
    {"ё", {"Ё", "ё"}},
    {"ѣ", {"Ѣ", "ѣ"}},
    {"ա", {"Ա", "ա"}},
    {"ａ", {"Ａ", "ａ"}},
    {"k", {"K", "k", "K"}},
    {"å", {"Å", "å", "Å"}},
    {"s", {"S", "s", "ſ"}},
    {"𐐨", {"𐐀", "𐐨"}},
    {"ı", {"ı"}},
    {"İ", {"İ"}},
    {"日", {"日"}},
    {"1", {"1"}},
    {"_", {"_"}},
    {" ", {" "}},
    {"\xFF", {"\xFF"}},
    {"\xC0\x80", {"\xC0\x80"}},
    {"\xED\xA0\x80", {"\xED\xA0\x80"}},
    {"\xE2\x82", {"\xE2\x82"}},
    {"\xF4\x90\x80\x80", {"\xF4\x90\x80\x80"}},
};

// Names built from random pieces in random case forms fold to the pieces' folds, whatever the
// forms, and compare in the order of their folds.
TEST(CaseFold, NamesFoldPieceByPiece) {
    std::mt19937 random(20240);
    std::string previous;
    for (int i = 0; i < 5000; ++i) {
        std::string name, otherCase, folded;
        for (size_t n = random() % 10; n > 0; --n) {
            const Piece& piece = kPieces[random() % kPieces.size()];
            name += piece.forms[random() % piece.forms.size()];
            otherCase += piece.forms[random() % piece.forms.size()];
            folded += piece.folded;
        }
        ASSERT_EQ(FoldName(name), folded) << testing::PrintToString(name);
        EXPECT_EQ(FoldName(otherCase), folded);
        EXPECT_EQ(FoldName(folded), folded);
        EXPECT_EQ(CompareFolded(name, otherCase), 0);
        const int order = CompareFolded(name, previous);
        EXPECT_EQ(order, Sign(folded.compare(FoldName(previous))));
        EXPECT_EQ(CompareFolded(previous, name), -order);
        EXPECT_EQ(platform::CollateNamesNoCase(name, previous), order);
        // A shared prefix, which the comparison passes over, changes nothing.
        const std::string prefix = otherCase.substr(0, random() % (otherCase.size() + 1));
        EXPECT_EQ(CompareFolded(prefix + name, prefix + previous), order);
        previous = name;
    }
}

// Every character folds to one character that folds to itself.
TEST(CaseFold, EveryCharacterFoldsToAFixedPoint) {
    for (uint32_t codePoint = 0; codePoint <= 0x10FFFF; ++codePoint) {
        if (codePoint == 0xD800)
            codePoint = 0xE000;
        const std::string folded = FoldName(Utf8(codePoint));
        size_t pos = 0;
        const char32_t result = platform::posix::utf8::Decode(folded, pos);
        ASSERT_TRUE(result != platform::posix::utf8::kInvalid && pos == folded.size())
            << std::hex << codePoint;
        ASSERT_EQ(FoldName(folded), folded) << std::hex << codePoint;
    }
}

// The C library's case mapping agrees in the alphabets whose case pairs are settled: Latin,
// Greek, Cyrillic, Armenian, fullwidth Latin, Deseret. Only the Turkic dotted and dotless i pair
// differently there: simple case folding keeps them apart from I and i.
TEST(CaseFold, CasePartnersOfTheCLibraryFoldAlike) {
    const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (utf8 == static_cast<locale_t>(0))
        GTEST_SKIP() << "no C.UTF-8 locale";
    const auto settled = [](uint32_t c) {
        return c < 0x250 || (c >= 0x370 && c < 0x530) || (c >= 0x531 && c < 0x590) ||
               (c >= 0x1E00 && c < 0x2000) || (c >= 0xFF00 && c < 0xFF60) ||
               (c >= 0x10400 && c < 0x10450);
    };
    int pairs = 0;
    for (uint32_t c = 0; c < 0x10450; ++c) {
        for (const wint_t partner : {towupper_l(c, utf8), towlower_l(c, utf8)}) {
            const auto p = static_cast<uint32_t>(partner);
            if (p == c || !settled(c) || !settled(p) || c == 0x130 || c == 0x131)
                continue;
            ++pairs;
            EXPECT_EQ(FoldName(Utf8(c)), FoldName(Utf8(p))) << std::hex << c << " " << p;
        }
    }
    freelocale(utf8);
    EXPECT_GT(pairs, 1000);
}

}  // namespace

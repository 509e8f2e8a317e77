// Unicode simple case folding of UTF-8 names, with a fast path for ASCII.
#include "platform/posix/case_fold.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "platform/posix/case_fold_table.h"
#include "platform/posix/utf8.h"

namespace platform::posix {

namespace {

char FoldAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

char32_t FoldCodePoint(char32_t codePoint) {
    // The last range that starts at or before codePoint; ranges never overlap.
    const auto* next = std::upper_bound(
        std::begin(kFoldRanges), std::end(kFoldRanges), codePoint,
        [](char32_t value, const FoldRange& range) { return value < range.first; });
    if (next == std::begin(kFoldRanges))
        return codePoint;
    const FoldRange& range = *(next - 1);
    if (codePoint > range.last || (codePoint - range.first) % range.stride != 0)
        return codePoint;
    return static_cast<char32_t>(static_cast<int32_t>(codePoint) + range.delta);
}

// Hands out the bytes of FoldName(text) one at a time.
class FoldedBytes {
public:
    FoldedBytes(const std::string& text, size_t start) : text(text), pos(start) {}

    // The next byte (0-255), or -1 at the end.
    int Next() {
        if (pending < folded.size())
            return static_cast<uint8_t>(folded[pending++]);
        if (pos == text.size())
            return -1;
        const size_t start = pos;
        if (static_cast<uint8_t>(text[pos]) < 0x80)
            return static_cast<uint8_t>(FoldAscii(text[pos++]));
        const char32_t codePoint = utf8::Decode(text, pos);
        if (codePoint == utf8::kInvalid)
            return static_cast<uint8_t>(text[start]);
        folded.clear();
        utf8::Append(folded, FoldCodePoint(codePoint));
        pending = 1;
        return static_cast<uint8_t>(folded[0]);
    }

private:
    const std::string& text;
    size_t pos = 0;
    std::string folded;  // one character: short enough never to allocate
    size_t pending = 0;
};

}  // namespace

std::string FoldName(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t pos = 0; pos < text.size();) {
        if (static_cast<uint8_t>(text[pos]) < 0x80) {
            out += FoldAscii(text[pos++]);
            continue;
        }
        const size_t start = pos;
        const char32_t codePoint = utf8::Decode(text, pos);
        if (codePoint == utf8::kInvalid) {
            out += text[start];
            continue;
        }
        const char32_t folded = FoldCodePoint(codePoint);
        if (folded == codePoint)
            out.append(text, start, pos - start);
        else
            utf8::Append(out, folded);
    }
    return out;
}

int CompareFolded(const std::string& a, const std::string& b) {
    // Names compared in a sorted index mostly share a long prefix ("fam\\city\\..."): bytes equal
    // up to the last ASCII byte before the first difference fold alike, so the fold starts there.
    const size_t shorter = std::min(a.size(), b.size());
    size_t same = 0;
    size_t start = 0;
    for (; same < shorter && a[same] == b[same]; ++same) {
        if (static_cast<uint8_t>(a[same]) < 0x80)
            start = same + 1;
    }
    FoldedBytes left(a, start);
    FoldedBytes right(b, start);
    for (;;) {
        const int x = left.Next();
        const int y = right.Next();
        if (x != y)
            return x < y ? -1 : 1;
        if (x < 0)
            return 0;
    }
}

}  // namespace platform::posix

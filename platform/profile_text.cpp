// The encodings of profile files and their conversions.
#include "platform/profile_text.h"

#include <optional>

#include "platform/code_page.h"

namespace platform::profile {

namespace {

void AppendUtf8(std::string& utf8, uint32_t code) {
    if (code < 0x80) {
        utf8 += char(code);
    } else if (code < 0x800) {
        utf8 += char(0xC0 | code >> 6);
        utf8 += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        utf8 += char(0xE0 | code >> 12);
        utf8 += char(0x80 | (code >> 6 & 0x3F));
        utf8 += char(0x80 | (code & 0x3F));
    } else {
        utf8 += char(0xF0 | code >> 18);
        utf8 += char(0x80 | (code >> 12 & 0x3F));
        utf8 += char(0x80 | (code >> 6 & 0x3F));
        utf8 += char(0x80 | (code & 0x3F));
    }
}

// The code point of the valid UTF-8 sequence at i, moving i past it; nullopt, with i unmoved,
// where the bytes are not valid UTF-8 (overlong forms and surrogates included).
std::optional<uint32_t> NextCodePoint(const std::string& utf8, size_t& i) {
    const auto lead = uint8_t(utf8[i]);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    // Sequence length, payload bits of the lead byte, and the least code point of that length.
    struct Form {
        uint8_t first, last;
        size_t length;
        uint32_t mask, least;
    };
    static constexpr Form forms[] = {
        {0xC2, 0xDF, 2, 0x1F, 0x80}, {0xE0, 0xEF, 3, 0x0F, 0x800}, {0xF0, 0xF4, 4, 0x07, 0x10000}};
    const Form* form = nullptr;
    for (const Form& candidate : forms)
        if (lead >= candidate.first && lead <= candidate.last)
            form = &candidate;
    if (!form)
        return std::nullopt;
    const size_t length = form->length;
    const uint32_t least = form->least;
    uint32_t code = lead & form->mask;
    if (utf8.size() - i < length)
        return std::nullopt;
    for (size_t k = 1; k < length; ++k) {
        const auto next = uint8_t(utf8[i + k]);
        if ((next & 0xC0) != 0x80)
            return std::nullopt;
        code = code << 6 | (next & 0x3Fu);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000))
        return std::nullopt;
    i += length;
    return code;
}

}  // namespace

std::string_view MarkOf(Encoding encoding) {
    switch (encoding) {
        case Encoding::utf8Mark:
            return "\xEF\xBB\xBF";
        case Encoding::utf16Mark:
            return "\xFF\xFE";
        default:
            return "";
    }
}

size_t UnitOf(Encoding encoding) {
    return encoding == Encoding::utf16Mark ? 2 : 1;
}

Encoding EncodingOf(const std::string& content) {
    for (const Encoding encoding : {Encoding::utf8Mark, Encoding::utf16Mark})
        if (content.starts_with(MarkOf(encoding)))
            return encoding;
    return Encoding::plain;
}

// A file that starts with the UTF-16 mark but has an odd length is no UTF-16, nor plain text
// that a write could keep as such (a line appended could make its length even and its text
// UTF-16): it is refused like a file holding a NUL.
bool IsBrokenUtf16(const std::string& content, Encoding encoding) {
    return encoding == Encoding::utf16Mark && content.size() % UnitOf(encoding) != 0;
}

std::string EndBytes(Encoding encoding, const char* end) {
    std::string bytes;
    for (; *end; ++end) {
        bytes += *end;
        if (encoding == Encoding::utf16Mark)
            bytes += '\0';
    }
    return bytes;
}

// UTF-16LE to UTF-8. An unpaired surrogate or a lone last byte reads as '?': such a line is kept
// by its bytes, never rewritten from this text.
std::string Utf16ToUtf8(std::string_view bytes) {
    const auto unitAt = [&bytes](size_t i) {
        return uint32_t(uint8_t(bytes[i])) | uint32_t(uint8_t(bytes[i + 1])) << 8;
    };
    std::string utf8;
    size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
        uint32_t code = unitAt(i);
        if (code >= 0xD800 && code < 0xDC00 && i + 3 < bytes.size()) {
            const uint32_t low = unitAt(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (code >= 0xD800 && code < 0xE000)
            utf8 += '?';
        else
            AppendUtf8(utf8, code);
    }
    if (i < bytes.size())
        utf8 += '?';
    return utf8;
}

// UTF-8 to UTF-16LE; false when the text is not valid UTF-8.
bool Utf8ToUtf16(const std::string& utf8, std::string& bytes) {
    const auto appendUnit = [&bytes](uint32_t unit) {
        bytes += char(unit & 0xFF);
        bytes += char(unit >> 8);
    };
    bytes.clear();
    for (size_t i = 0; i < utf8.size();) {
        const std::optional<uint32_t> code = NextCodePoint(utf8, i);
        if (!code)
            return false;
        if (*code < 0x10000) {
            appendUnit(*code);
            continue;
        }
        appendUnit(0xD800 + ((*code - 0x10000) >> 10));
        appendUnit(0xDC00 + ((*code - 0x10000) & 0x3FF));
    }
    return true;
}

// The local text of UTF-8 from a file with a mark. A character the local code page cannot hold
// reads as '?', as Windows' own profile functions give it; its line keeps its bytes.
std::string LocalTextOf(const std::string& utf8) {
    std::string local;
    if (Utf8ToLocal(utf8, local))
        return local;
    local.clear();
    for (size_t i = 0; i < utf8.size();) {
        const size_t start = i;
        std::string character;
        if (NextCodePoint(utf8, i) && Utf8ToLocal(utf8.substr(start, i - start), character)) {
            local += character;
            continue;
        }
        i = std::max(i, start + 1);
        local += '?';
    }
    return local;
}

// The file bytes of a line the program writes, without its line end; false when its text cannot
// be stored in the file's encoding.
bool Encode(Encoding encoding, const std::string& text, std::string& bytes) {
    std::string utf8;
    switch (encoding) {
        case Encoding::utf8Mark:
            return LocalToUtf8(text, bytes);
        case Encoding::utf16Mark:
            return LocalToUtf8(text, utf8) && Utf8ToUtf16(utf8, bytes);
        default:
            bytes = text;
            return true;
    }
}

// True when the unit (of unit bytes) at offset at is the ASCII character c.
bool IsUnit(const std::string& content, size_t at, size_t unit, char c) {
    return at + unit <= content.size() && content[at] == c &&
           (unit == 1 || content[at + 1] == '\0');
}

}  // namespace platform::profile

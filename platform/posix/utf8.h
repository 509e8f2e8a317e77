// UTF-8, the Linux build's local text: strict decoding and encoding of one character at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform::posix::utf8 {

inline constexpr char32_t kInvalid = 0xFFFFFFFF;

// The character at text[pos], advancing pos past it; kInvalid, one byte consumed, where the
// bytes are not valid UTF-8 (overlong forms, surrogates and code points past U+10FFFF are not).
inline char32_t Decode(std::string_view text, size_t& pos) {
    const auto lead = static_cast<uint8_t>(text[pos++]);
    if (lead < 0x80)
        return lead;
    size_t extra = 0;
    char32_t codePoint = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2;
        codePoint = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3;
        codePoint = lead & 0x07;
    } else {
        return kInvalid;
    }
    if (extra > text.size() - pos)
        return kInvalid;
    for (size_t i = 0; i < extra; ++i) {
        const auto next = static_cast<uint8_t>(text[pos + i]);
        if ((next & 0xC0) != 0x80)
            return kInvalid;
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    const char32_t minimum = extra == 1 ? 0x80 : extra == 2 ? 0x800 : 0x10000;
    if (codePoint < minimum || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        return kInvalid;
    }
    pos += extra;
    return codePoint;
}

// Appends a valid code point (no surrogate, at most U+10FFFF).
inline void Append(std::string& out, char32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

inline bool IsValid(std::string_view text) {
    for (size_t pos = 0; pos < text.size();) {
        if (static_cast<uint8_t>(text[pos]) < 0x80) {
            ++pos;
        } else if (Decode(text, pos) == kInvalid) {
            return false;
        }
    }
    return true;
}

}  // namespace platform::posix::utf8

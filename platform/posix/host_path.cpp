// Path and text mapping between the program's Windows-1252 form and the host's UTF-8 form.
#include "platform/posix/host_path.h"

#include <array>
#include <cstdint>
#include <optional>

#include "platform/posix/name_cache.h"

namespace platform::posix {

namespace {

// Code points of Windows-1252 bytes 0x80-0x9F. The five bytes the code page leaves undefined
// keep their Latin-1 code points, so every byte survives a round trip.
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char32_t CodePointOf(uint8_t byte) {
    if (byte >= 0x80 && byte <= 0x9F)
        return kHighControls[byte - 0x80];
    return byte;
}

std::optional<uint8_t> ByteOf(char32_t codePoint) {
    if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
        return static_cast<uint8_t>(codePoint);
    }
    for (size_t i = 0; i < kHighControls.size(); ++i) {
        if (kHighControls[i] == codePoint)
            return static_cast<uint8_t>(0x80 + i);
    }
    return std::nullopt;
}

void AppendUtf8(std::string& out, char32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

// Decodes one UTF-8 character at text[pos], advancing pos; nullopt (one byte consumed) when the
// bytes there are no valid UTF-8.
std::optional<char32_t> DecodeUtf8(const std::string& text, size_t& pos) {
    const uint8_t lead = static_cast<uint8_t>(text[pos++]);
    if (lead < 0x80)
        return lead;
    int extra = 0;
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
        return std::nullopt;
    }
    if (pos + extra > text.size())
        return std::nullopt;
    for (int i = 0; i < extra; ++i) {
        const uint8_t next = static_cast<uint8_t>(text[pos + i]);
        if ((next & 0xC0) != 0x80)
            return std::nullopt;
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    const char32_t minimum = extra == 1 ? 0x80 : extra == 2 ? 0x800 : 0x10000;
    if (codePoint < minimum || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        return std::nullopt;
    }
    pos += extra;
    return codePoint;
}

}  // namespace

std::string AnsiToUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) AppendUtf8(out, CodePointOf(static_cast<uint8_t>(c)));
    return out;
}

std::string Utf8ToAnsi(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t pos = 0; pos < text.size();) {
        const std::optional<char32_t> codePoint = DecodeUtf8(text, pos);
        const std::optional<uint8_t> byte = codePoint ? ByteOf(*codePoint) : std::nullopt;
        out += byte ? static_cast<char>(*byte) : '?';
    }
    return out;
}

bool IsConvertibleUtf8(const std::string& text) {
    for (size_t pos = 0; pos < text.size();) {
        const std::optional<char32_t> codePoint = DecodeUtf8(text, pos);
        if (!codePoint || !ByteOf(*codePoint))
            return false;
    }
    return true;
}

char ToSmallLetter(char byte) {
    const auto c = static_cast<uint8_t>(byte);
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
        return static_cast<char>(c + 0x20);
    if (c == 0x8A || c == 0x8C || c == 0x8E)
        return static_cast<char>(c + 0x10);
    if (c == 0x9F)
        return static_cast<char>(0xFF);
    return byte;
}

std::string ExactHostPath(const std::string& path) {
    std::string host = AnsiToUtf8(path);
    for (char& c : host) {
        if (c == '\\')
            c = '/';
    }
    return host;
}

std::string HostPath(const std::string& path) {
    return MatchExistingCase(ExactHostPath(path));
}

std::string ProgramPath(const std::string& hostPath) {
    std::string path = Utf8ToAnsi(hostPath);
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    return path;
}

}  // namespace platform::posix

// Test helper: builds small ZIP archives byte by byte and reads back central directories.
#include "zip/archive_bytes.h"

#include <zlib.h>

#include <stdexcept>

namespace archive_bytes {
namespace {

void AddU16(std::string& out, uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}

void AddU32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

uint16_t GetU16(const std::string& bytes, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) |
                                 static_cast<uint8_t>(bytes[at + 1]) << 8);
}

uint32_t GetU32(const std::string& bytes, size_t at) {
    return GetU16(bytes, at) | static_cast<uint32_t>(GetU16(bytes, at + 2)) << 16;
}

uint32_t Crc(const std::string& data) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::string RawDeflate(const std::string& data) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8,
                     Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END)
        throw std::runtime_error("deflate did not finish");
    return out;
}

// Code page 437's upper half as Unicode.
constexpr char16_t cp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

void AppendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The code point at text[at], advancing at; an invalid sequence gives 0xFFFD for one byte.
uint32_t NextCodePoint(const std::string& text, size_t& at) {
    const auto lead = static_cast<uint8_t>(text[at++]);
    if (lead < 0x80)
        return lead;
    const int length = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
    if (length < 0 || at + length > text.size())
        return 0xFFFD;
    uint32_t c = lead & (0x3F >> length);
    for (int i = 0; i < length; ++i) {
        const auto next = static_cast<uint8_t>(text[at + i]);
        if ((next & 0xC0) != 0x80)
            return 0xFFFD;
        c = c << 6 | (next & 0x3F);
    }
    at += length;
    return c;
}

}  // namespace

void PutU16(std::string& bytes, size_t at, uint16_t value) {
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>(value >> 8);
}

void PutU32(std::string& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

Archive Build(const std::vector<Entry>& entries, const std::string& comment,
              const std::string& prefix) {
    Archive result;
    std::string& out = result.bytes;
    out = prefix;
    const uint32_t base = static_cast<uint32_t>(prefix.size());
    std::vector<uint32_t> relativeOffsets;
    std::vector<std::string> payloads;
    for (const Entry& entry : entries) {
        payloads.push_back(entry.deflate ? RawDeflate(entry.data) : entry.data);
        const uint32_t crc = Crc(entry.data);
        const uint32_t size = static_cast<uint32_t>(entry.data.size());
        const uint32_t packed = static_cast<uint32_t>(payloads.back().size());
        result.localOffsets.push_back(static_cast<uint32_t>(out.size()));
        relativeOffsets.push_back(static_cast<uint32_t>(out.size()) - base);
        AddU32(out, 0x04034b50);
        AddU16(out, 20);
        AddU16(out, static_cast<uint16_t>((entry.descriptor ? 8 : 0) | entry.flag));
        AddU16(out, entry.deflate ? 8 : 0);
        AddU16(out, 0x6000);  // 12:00:00
        AddU16(out, 0x5021);  // 2020-01-01
        AddU32(out, entry.descriptor ? 0 : crc);
        AddU32(out, entry.descriptor ? 0 : packed);
        AddU32(out, entry.descriptor ? 0 : size);
        AddU16(out, static_cast<uint16_t>(entry.name.size()));
        AddU16(out, static_cast<uint16_t>(entry.extra.size()));
        out += entry.name;
        out += entry.extra;
        out += payloads.back();
        if (entry.descriptor) {
            if (entry.descriptorSignature)
                AddU32(out, 0x08074b50);
            AddU32(out, crc);
            AddU32(out, packed);
            AddU32(out, size);
        }
    }
    const uint32_t centralStart = static_cast<uint32_t>(out.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& entry = entries[i];
        const uint32_t size = static_cast<uint32_t>(entry.data.size());
        result.centralOffsets.push_back(static_cast<uint32_t>(out.size()));
        AddU32(out, 0x02014b50);
        AddU16(out, 20);
        AddU16(out, 20);
        AddU16(out, static_cast<uint16_t>((entry.descriptor ? 8 : 0) | entry.flag));
        AddU16(out, entry.deflate ? 8 : 0);
        AddU16(out, 0x6000);
        AddU16(out, 0x5021);
        AddU32(out, Crc(entry.data));
        AddU32(out, static_cast<uint32_t>(payloads[i].size()));
        AddU32(out, size);
        AddU16(out, static_cast<uint16_t>(entry.name.size()));
        AddU16(out, static_cast<uint16_t>(entry.extra.size()));
        AddU16(out, 0);
        AddU16(out, 0);
        AddU16(out, 0);
        AddU32(out, entry.attributes);
        AddU32(out, relativeOffsets[i]);
        out += entry.name;
        out += entry.extra;
    }
    result.endOffset = static_cast<uint32_t>(out.size());
    AddU32(out, 0x06054b50);
    AddU16(out, 0);
    AddU16(out, 0);
    AddU16(out, static_cast<uint16_t>(entries.size()));
    AddU16(out, static_cast<uint16_t>(entries.size()));
    AddU32(out, result.endOffset - centralStart);
    AddU32(out, centralStart - base);
    AddU16(out, static_cast<uint16_t>(comment.size()));
    out += comment;
    return result;
}

std::string UnicodePathField(const std::string& headerName, const std::string& utf8Name,
                             uint8_t version) {
    std::string field;
    AddU16(field, 0x7075);
    AddU16(field, static_cast<uint16_t>(5 + utf8Name.size()));
    field += static_cast<char>(version);
    AddU32(field, Crc(headerName));
    return field + utf8Name;
}

std::string UnicodeToUtf8(const std::u32string& text) {
    std::string utf8;
    for (const char32_t c : text) AppendUtf8(utf8, c);
    return utf8;
}

std::u32string Utf8ToUnicode(const std::string& utf8) {
    std::u32string text;
    for (size_t at = 0; at < utf8.size();) text += static_cast<char32_t>(NextCodePoint(utf8, at));
    return text;
}

bool Utf8ToCp437(const std::string& utf8, std::string& oem) {
    oem.clear();
    bool exact = true;
    for (size_t at = 0; at < utf8.size();) {
        const uint32_t c = NextCodePoint(utf8, at);
        if (c < 0x80) {
            oem += static_cast<char>(c);
            continue;
        }
        size_t found = 0;
        while (found < 128 && cp437High[found] != c) ++found;
        exact = exact && found < 128;
        oem += found < 128 ? static_cast<char>(0x80 + found) : '?';
    }
    return exact;
}

std::string Cp437ToUtf8(const std::string& oem) {
    std::string utf8;
    for (const char c : oem) {
        const auto byte = static_cast<uint8_t>(c);
        AppendUtf8(utf8, byte < 0x80 ? byte : cp437High[byte - 0x80]);
    }
    return utf8;
}

std::vector<CentralRecord> ReadCentralDirectory(const std::string& bytes) {
    if (bytes.size() < 22)
        throw std::runtime_error("too short for an archive");
    size_t end = bytes.size() - 22;
    while (GetU32(bytes, end) != 0x06054b50) {
        if (end == 0 || bytes.size() - end > 22 + 65535)
            throw std::runtime_error("no end of central directory record");
        --end;
    }
    const uint16_t count = GetU16(bytes, end + 10);
    size_t at = GetU32(bytes, end + 16);
    std::vector<CentralRecord> records;
    for (uint16_t i = 0; i < count; ++i) {
        if (at + 46 > end || GetU32(bytes, at) != 0x02014b50)
            throw std::runtime_error("central record " + std::to_string(i) + " is damaged");
        CentralRecord record;
        record.versionMadeBy = GetU16(bytes, at + 4);
        record.flag = GetU16(bytes, at + 8);
        record.method = GetU16(bytes, at + 10);
        record.crc = GetU32(bytes, at + 16);
        record.compressedSize = GetU32(bytes, at + 20);
        record.uncompressedSize = GetU32(bytes, at + 24);
        const size_t nameLength = GetU16(bytes, at + 28);
        const size_t extraLength = GetU16(bytes, at + 30);
        const size_t commentLength = GetU16(bytes, at + 32);
        record.attributes = GetU32(bytes, at + 38);
        if (at + 46 + nameLength + extraLength + commentLength > end)
            throw std::runtime_error("central record " + std::to_string(i) + " is too long");
        record.name = bytes.substr(at + 46, nameLength);
        record.extra = bytes.substr(at + 46 + nameLength, extraLength);
        records.push_back(record);
        at += 46 + nameLength + extraLength + commentLength;
    }
    return records;
}

}  // namespace archive_bytes

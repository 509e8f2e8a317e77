// Test helper: builds small stored ZIP archives byte by byte.
#include "zip/archive_bytes.h"

#include <zlib.h>

namespace archive_bytes {
namespace {

void AddU16(std::string& out, uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}

void AddU32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

uint32_t Crc(const std::string& data) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
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
    for (const Entry& entry : entries) {
        const uint32_t crc = Crc(entry.data);
        const uint32_t size = static_cast<uint32_t>(entry.data.size());
        result.localOffsets.push_back(static_cast<uint32_t>(out.size()));
        relativeOffsets.push_back(static_cast<uint32_t>(out.size()) - base);
        AddU32(out, 0x04034b50);
        AddU16(out, 20);
        AddU16(out, entry.descriptor ? 8 : 0);
        AddU16(out, 0);
        AddU16(out, 0x6000);  // 12:00:00
        AddU16(out, 0x5021);  // 2020-01-01
        AddU32(out, entry.descriptor ? 0 : crc);
        AddU32(out, entry.descriptor ? 0 : size);
        AddU32(out, entry.descriptor ? 0 : size);
        AddU16(out, static_cast<uint16_t>(entry.name.size()));
        AddU16(out, 0);
        out += entry.name;
        out += entry.data;
        if (entry.descriptor) {
            if (entry.descriptorSignature)
                AddU32(out, 0x08074b50);
            AddU32(out, crc);
            AddU32(out, size);
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
        AddU16(out, entry.descriptor ? 8 : 0);
        AddU16(out, 0);
        AddU16(out, 0x6000);
        AddU16(out, 0x5021);
        AddU32(out, Crc(entry.data));
        AddU32(out, size);
        AddU32(out, size);
        AddU16(out, static_cast<uint16_t>(entry.name.size()));
        AddU16(out, 0);
        AddU16(out, 0);
        AddU16(out, 0);
        AddU16(out, 0);
        AddU32(out, entry.attributes);
        AddU32(out, relativeOffsets[i]);
        out += entry.name;
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

}  // namespace archive_bytes

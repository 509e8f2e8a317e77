// Test helper: builds small ZIP archives byte by byte, so that tests can damage chosen fields,
// write names in any form (OEM, UTF-8 flag, Unicode path field) and read back what a program wrote.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace archive_bytes {

constexpr uint16_t flagUtf8 = 0x0800;  // general purpose bit 11: the name is UTF-8

struct Entry {
    std::string name;                 // archive form (forward slashes), bytes as written
    std::string data;                 // stored as is (method 0) unless deflated
    bool descriptor = false;          // flag bit 3, zero crc and sizes in the local header
    bool descriptorSignature = true;  // whether the descriptor starts with PK\7\8
    uint32_t attributes = 0x20;
    uint16_t flag = 0;       // more general purpose bits, such as flagUtf8
    std::string extra = {};  // extra field, in the local header and in the central record
    bool deflate = false;    // method 8, data deflated (raw deflate)
};

struct Archive {
    std::string bytes;
    std::vector<uint32_t> localOffsets;    // file positions of the local headers
    std::vector<uint32_t> centralOffsets;  // file positions of the central records
    uint32_t endOffset = 0;                // file position of the end record
};

// prefix goes before the archive; offsets in the records are relative to the archive start.
Archive Build(const std::vector<Entry>& entries, const std::string& comment = "",
              const std::string& prefix = "");

void PutU16(std::string& bytes, size_t at, uint16_t value);
void PutU32(std::string& bytes, size_t at, uint32_t value);

// An Info-ZIP Unicode path extra field (0x7075) that gives utf8Name for an entry whose raw name
// is headerName (the field carries the CRC-32 of headerName; another raw name makes it stale).
std::string UnicodePathField(const std::string& headerName, const std::string& utf8Name,
                             uint8_t version = 1);

// UTF-8 and Unicode code points; a byte that starts no valid sequence decodes as U+FFFD.
std::string UnicodeToUtf8(const std::u32string& text);
std::u32string Utf8ToUnicode(const std::string& utf8);

// Code page 437, the OEM form of names without the UTF-8 flag. False when a character of the
// UTF-8 text has no place in it (oem then holds '?' there).
bool Utf8ToCp437(const std::string& utf8, std::string& oem);
std::string Cp437ToUtf8(const std::string& oem);

// One central record as a program wrote it.
struct CentralRecord {
    uint16_t versionMadeBy = 0;
    uint16_t flag = 0;
    uint16_t method = 0;
    uint32_t crc = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint32_t attributes = 0;
    std::string name;  // raw bytes
    std::string extra;
};

// The central directory of a single-volume archive without a ZIP64 end record; throws
// std::runtime_error when the bytes are not such an archive.
std::vector<CentralRecord> ReadCentralDirectory(const std::string& bytes);

}  // namespace archive_bytes

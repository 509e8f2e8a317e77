// Test helper: builds small ZIP archives byte by byte, so that tests can damage chosen fields.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace archive_bytes {

struct Entry {
    std::string name;                 // archive form (forward slashes)
    std::string data;                 // stored as is (method 0)
    bool descriptor = false;          // flag bit 3, zero crc and sizes in the local header
    bool descriptorSignature = true;  // whether the descriptor starts with PK\7\8
    uint32_t attributes = 0x20;
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

}  // namespace archive_bytes

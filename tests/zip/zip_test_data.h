// Test helper: deterministic file contents and small archive shortcuts for the engine's tests.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>

#include "zip/entry_header.h"
#include "zip/zip_handler.h"

namespace zip_test_data {

// size bytes, the same for the same seed: runs of words (compressible) mixed with noise.
inline std::string MixedData(size_t size, uint32_t seed) {
    static const char* const words[] = {"door ", "guard ", "torch ", "key ", "loot ", "rope "};
    std::string out;
    out.reserve(size);
    uint32_t state = seed * 2654435761u + 1;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    while (out.size() < size) {
        const uint32_t r = next();
        if (r % 3 == 0) {
            for (int i = 0; i < 16 && out.size() < size; ++i) out += static_cast<char>(next());
        } else {
            out += words[r % 6];
        }
    }
    out.resize(size);
    return out;
}

inline uint32_t Crc(const std::string& data) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

inline uint16_t U16At(const std::string& bytes, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) |
                                 (static_cast<uint8_t>(bytes[at + 1]) << 8));
}

inline uint32_t U32At(const std::string& bytes, size_t at) {
    return U16At(bytes, at) | (static_cast<uint32_t>(U16At(bytes, at + 2)) << 16);
}

// The header of entry index of an open archive (a default header when there is none).
inline CZipEntryHeader InfoOf(const CZipHandler& zip, uint16_t index) {
    CZipEntryHeader header;
    zip.GetEntryInfo(header, index);
    return header;
}

}  // namespace zip_test_data

#include "platform/file_system.h"

namespace zip_test_data {

// Makes folder the process's current folder for the scope, as the installer does.
class CurrentFolderScope {
public:
    explicit CurrentFolderScope(const std::string& folder) {
        platform::GetCurrentFolder(previous);
        platform::SetCurrentFolder(folder);
    }
    CurrentFolderScope(const CurrentFolderScope&) = delete;
    CurrentFolderScope& operator=(const CurrentFolderScope&) = delete;
    ~CurrentFolderScope() { platform::SetCurrentFolder(previous); }

private:
    std::string previous;
};

}  // namespace zip_test_data

// The data stream state of the one entry that is open for reading or writing.
#pragma once

#include <zlib.h>

#include <cstdint>

#include "zip/zip_buffer.h"

class CZipEntryStream {
public:
    CZipEntryStream() = default;
    CZipEntryStream(const CZipEntryStream&) = delete;
    CZipEntryStream& operator=(const CZipEntryStream&) = delete;
    virtual ~CZipEntryStream() = default;

    uint32_t bufferSize = 16384;
    z_stream stream{};
    uint32_t uncompressedLeft = 0;
    uint32_t compressedCount = 0;
    uint32_t crc = 0;
    // Of a new entry, counted wide: the records' 32-bit sizes must not wrap round unseen.
    uint64_t uncompressedTotal = 0;
    uint64_t compressedTotal = 0;
    CZipBuffer buffer;
};

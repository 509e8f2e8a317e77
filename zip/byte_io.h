// Little-endian reading and writing over a byte buffer, used by every ZIP record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data(data), size(size) {}
    uint16_t U16() {
        const uint16_t v = static_cast<uint16_t>(data[at] | (data[at + 1] << 8));
        at += 2;
        return v;
    }
    uint32_t U32() {
        const uint32_t v = static_cast<uint32_t>(data[at]) |
                           (static_cast<uint32_t>(data[at + 1]) << 8) |
                           (static_cast<uint32_t>(data[at + 2]) << 16) |
                           (static_cast<uint32_t>(data[at + 3]) << 24);
        at += 4;
        return v;
    }
    uint64_t U64() {
        const uint64_t low = U32();
        return low | (uint64_t{U32()} << 32);
    }
    size_t Position() const { return at; }
    size_t Size() const { return size; }

private:
    const uint8_t* data;
    size_t size;
    size_t at = 0;
};

class ByteWriter {
public:
    explicit ByteWriter(uint8_t* data) : data(data) {}
    ByteWriter& U16(uint16_t v) {
        data[at++] = static_cast<uint8_t>(v);
        data[at++] = static_cast<uint8_t>(v >> 8);
        return *this;
    }
    ByteWriter& U32(uint32_t v) {
        for (int i = 0; i < 4; ++i) data[at++] = static_cast<uint8_t>(v >> (8 * i));
        return *this;
    }
    ByteWriter& Bytes(const void* source, size_t count) {
        if (count)
            std::memcpy(data + at, source, count);
        at += count;
        return *this;
    }
    size_t Position() const { return at; }

private:
    uint8_t* data;
    size_t at = 0;
};

inline uint32_t LoadU32(const uint8_t* p) {
    return ByteReader(p, 4).U32();
}
inline void StoreU16(uint8_t* p, uint16_t v) {
    ByteWriter(p).U16(v);
}
inline void StoreU32(uint8_t* p, uint32_t v) {
    ByteWriter(p).U32(v);
}

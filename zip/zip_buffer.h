// An owned byte block with a 32-bit size: names, extra fields, comments and I/O buffers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class CZipBuffer {
public:
    CZipBuffer() = default;
    CZipBuffer(uint32_t size, bool zeroFill) { Allocate(size, zeroFill); }
    CZipBuffer(const CZipBuffer& other);
    CZipBuffer& operator=(const CZipBuffer& other);
    CZipBuffer(CZipBuffer&& other) noexcept;
    CZipBuffer& operator=(CZipBuffer&& other) noexcept;
    virtual ~CZipBuffer() = default;

    // A new block of exactly size bytes when the size changes (contents not kept); the same block
    // when it does not. Zero-filled only when asked. Size 0 leaves the buffer empty (null).
    uint8_t* Allocate(uint32_t size, bool zeroFill);
    void Release();

    uint8_t* Data() const { return data.get(); }
    uint32_t Size() const { return size; }
    bool IsEmpty() const { return size == 0; }

private:
    std::unique_ptr<uint8_t[]> data;
    uint32_t size = 0;
};

// Text into buffer: the bytes without terminator; an empty text releases the buffer.
uint32_t TextToBuffer(const std::string& text, CZipBuffer& buffer);
// Buffer into text: exactly the buffer's bytes.
std::string BufferToText(const CZipBuffer& buffer);

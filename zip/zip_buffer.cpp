// The engine's owned byte buffer and the conversions between texts and buffers.
#include "zip/zip_buffer.h"

#include <cstring>
#include <new>

#include "platform/exceptions.h"

CZipBuffer::CZipBuffer(const CZipBuffer& other) {
    *this = other;
}

CZipBuffer& CZipBuffer::operator=(const CZipBuffer& other) {
    if (this == &other)
        return *this;
    Release();
    if (other.size == 0)
        return *this;
    Allocate(other.size, false);
    std::memcpy(data.get(), other.data.get(), size);
    return *this;
}

CZipBuffer::CZipBuffer(CZipBuffer&& other) noexcept
    : data(std::move(other.data)), size(other.size) {
    other.size = 0;
}

CZipBuffer& CZipBuffer::operator=(CZipBuffer&& other) noexcept {
    if (this == &other)
        return *this;
    data = std::move(other.data);
    size = other.size;
    other.size = 0;
    return *this;
}

uint8_t* CZipBuffer::Allocate(uint32_t newSize, bool zeroFill) {
    if (newSize != size) {
        Release();
        if (newSize == 0)
            return nullptr;
        try {
            data = std::make_unique_for_overwrite<uint8_t[]>(newSize);
        } catch (const std::bad_alloc&) {
            throw CMemoryException();
        }
        size = newSize;
    }
    if (zeroFill && size > 0)
        std::memset(data.get(), 0, size);
    return data.get();
}

void CZipBuffer::Release() {
    data.reset();
    size = 0;
}

uint32_t TextToBuffer(const std::string& text, CZipBuffer& buffer) {
    // The length counts up to the first zero, as for a C text.
    const uint32_t length = static_cast<uint32_t>(std::strlen(text.c_str()));
    if (length == 0) {
        buffer.Release();
        return 0;
    }
    std::memcpy(buffer.Allocate(length, false), text.data(), length);
    return length;
}

std::string BufferToText(const CZipBuffer& buffer) {
    if (buffer.IsEmpty())
        return "";
    return std::string(reinterpret_cast<const char*>(buffer.Data()), buffer.Size());
}

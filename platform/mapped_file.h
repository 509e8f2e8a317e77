// A read-write memory mapping of a whole open file, for in-place edits.
#pragma once

#include <cstdint>

class CFile;

namespace platform {

class MappedFile {
public:
    MappedFile() = default;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile() { Unmap(); }

    bool Map(CFile& file);  // false, with nothing held, when the mapping fails
    void Unmap();
    uint8_t* Data() const { return data; }
    uint64_t Size() const { return size; }

private:
    uint8_t* data = nullptr;
    uint64_t size = 0;
    intptr_t mapping = 0;  // the file mapping object on Windows
};

}  // namespace platform

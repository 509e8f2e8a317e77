// A read-write memory mapping of a whole open file on Linux.
#include "platform/mapped_file.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include "platform/file.h"

namespace platform {

bool MappedFile::Map(CFile& file) {
    Unmap();
    if (!file.IsOpen())
        return false;
    const int fd = static_cast<int>(file.NativeHandle());
    struct stat info;
    // An empty file cannot be mapped; callers fall back to reading it.
    if (fstat(fd, &info) != 0 || info.st_size <= 0)
        return false;
    const size_t length = static_cast<size_t>(info.st_size);
    void* address = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (address == MAP_FAILED)
        return false;
    data = static_cast<uint8_t*>(address);
    size = length;
    return true;
}

void MappedFile::Unmap() {
    if (data)
        munmap(data, static_cast<size_t>(size));
    data = nullptr;
    size = 0;
}

}  // namespace platform

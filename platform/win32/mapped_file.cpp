// A read-write mapping of a whole open file on Windows: a file mapping object and one view.
#include "platform/mapped_file.h"

#include "platform/file.h"
#include "platform/win32/win32_util.h"

namespace platform {

bool MappedFile::Map(CFile& file) {
    Unmap();
    const HANDLE handle = win32::ToHandle(file.NativeHandle());
    LARGE_INTEGER length;
    // An empty file cannot be mapped on Windows.
    if (!GetFileSizeEx(handle, &length) || length.QuadPart == 0)
        return false;
    const HANDLE mappingObject = CreateFileMappingA(handle, nullptr, PAGE_READWRITE, 0, 0, nullptr);
    if (mappingObject == nullptr)
        return false;
    void* view = MapViewOfFile(mappingObject, FILE_MAP_WRITE, 0, 0, 0);
    if (view == nullptr) {
        const DWORD error = GetLastError();
        CloseHandle(mappingObject);
        SetLastError(error);
        return false;
    }
    mapping = win32::FromHandle(mappingObject);
    data = static_cast<uint8_t*>(view);
    size = static_cast<uint64_t>(length.QuadPart);
    return true;
}

void MappedFile::Unmap() {
    if (data != nullptr)
        UnmapViewOfFile(data);
    if (mapping != 0)
        CloseHandle(win32::ToHandle(mapping));
    data = nullptr;
    size = 0;
    mapping = 0;
}

}  // namespace platform

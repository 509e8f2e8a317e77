// The file object: open, read, write, seek, length, flush, close and the static status helpers.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "platform/exceptions.h"

struct CFileStatus {
    std::time_t creationTime = 0;
    std::time_t lastAccessTime = 0;
    std::time_t lastWriteTime = 0;
    // The last-write time to the file system's own step (whole seconds on FAT, finer elsewhere),
    // in nanoseconds since 1970: what tells one version of a file from the next.
    int64_t lastWriteTimeNs = 0;
    uint64_t size = 0;
    uint32_t attributes = 0;  // Windows file attributes (0x01 read-only, 0x10 folder, 0x20 archive)
};

class CFile {
public:
    enum OpenFlags : unsigned {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareDenyWrite = 0x0020,
        modeCreate = 0x1000,     // create, truncating an existing file
        modeNoTruncate = 0x2000  // with modeCreate: open an existing file whole
    };
    enum SeekPosition { begin = 0, current = 1, end = 2 };

    CFile() = default;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    virtual ~CFile();  // closes without throwing

    // Opens path (ANSI text, backslashes). On failure returns false and, when error is given,
    // fills it with the operating system's error number and the path.
    bool Open(const std::string& path, unsigned flags, CFileException* error = nullptr);
    // Reads up to count bytes; returns the count read, 0 at the end of the file (no error there).
    uint32_t Read(void* buffer, uint32_t count);
    void Write(const void* buffer, uint32_t count);
    uint64_t Seek(int64_t offset, SeekPosition from);
    uint64_t GetPosition() const;
    uint64_t GetLength() const;
    void SetLength(uint64_t length);
    void Flush();
    void Close();           // throws CFileException when the close fails
    void Abort() noexcept;  // closes, ignoring any failure
    bool IsOpen() const;

    std::string GetFilePath() const { return filePath; }
    virtual void SetFilePath(const std::string& path);

    // The native handle: a file descriptor on Linux, a HANDLE on Windows.
    intptr_t NativeHandle() const { return handle; }

    // The open file's times, as SetStatus gives them by path (a time of 0 is left as it is), and
    // its attributes, as platform::SetAttributes gives them: through the open file, with no
    // lookup of its path. SetTimes throws CFileException on failure; SetAttributes returns false.
    void SetTimes(const CFileStatus& status);
    bool SetAttributes(uint32_t attributes);

    // The open file's status, as the static GetStatus gives a path's.
    bool GetStatus(CFileStatus& status) const;
    static bool GetStatus(const std::string& path, CFileStatus& status);
    // Sets the three times and then the attributes; throws CFileException on failure.
    static void SetStatus(const std::string& path, const CFileStatus& status);
    static void Remove(const std::string& path);  // throws CFileException on failure
    static void Rename(const std::string& from, const std::string& to);  // throws likewise

    static constexpr intptr_t invalidHandle = -1;

protected:
    [[noreturn]] void ThrowLastError() const;

    intptr_t handle = invalidHandle;
    std::string filePath;
    // Linux: the permission bits the file was opened with, so that its attributes are set
    // without asking the system for them first. Unused on Windows.
    uint32_t hostMode = 0;
};

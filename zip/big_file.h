// The file through which the volume storage reaches its files, read through a read-ahead buffer.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file.h"
#include "zip/zip_buffer.h"

// An archive is read in many small pieces: a directory record by record, and for each entry a
// local header, its name and its data. Read straight from the file, each piece costs a system
// call or two; here they are taken from a block read ahead, and a seek is only a number until
// the next read or write needs the file there. Writes go straight to the file.
class CZipBigFile {
public:
    CZipBigFile() = default;
    CZipBigFile(const CZipBigFile&) = delete;
    CZipBigFile& operator=(const CZipBigFile&) = delete;

    bool Open(const std::string& path, unsigned flags, CFileException* error = nullptr);
    uint32_t Read(void* destination, uint32_t count);
    void Write(const void* source, uint32_t count);
    uint64_t Seek(int64_t offset, CFile::SeekPosition from);
    uint64_t GetPosition() const { return position; }
    uint64_t GetLength() const { return file.GetLength(); }
    void SetLength(uint64_t length);
    void Flush() { file.Flush(); }
    void Close();
    void Abort() noexcept;
    bool IsOpen() const { return file.IsOpen(); }
    std::string GetFilePath() const { return file.GetFilePath(); }
    // Stores the path as given, unchanged.
    void SetFilePath(const std::string& path) { file.SetFilePath(path); }
    // The file itself, for a mapping that changes it: what was read ahead is dropped.
    CFile& Unbuffered();

    static constexpr uint32_t readAheadSize = 65536;

private:
    void Forget();
    void MoveFileTo(uint64_t where);

    // Where the file itself stands is not known after a call that failed part-way.
    static constexpr uint64_t unknownPosition = UINT64_MAX;

    CFile file;
    CZipBuffer readAhead;
    uint64_t aheadStart = 0;    // file position of the first byte read ahead
    uint32_t aheadLength = 0;   // bytes read ahead from there
    uint64_t position = 0;      // where the next read or write takes place
    uint64_t filePosition = 0;  // where the file itself stands
};

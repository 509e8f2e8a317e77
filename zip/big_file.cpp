// The archive's file, read through a read-ahead buffer.
#include "zip/big_file.h"

#include <algorithm>
#include <cstring>

bool CZipBigFile::Open(const std::string& path, unsigned flags, CFileException* error) {
    Forget();
    position = 0;
    filePosition = 0;
    return file.Open(path, flags, error);
}

uint32_t CZipBigFile::Read(void* destination, uint32_t count) {
    auto* out = static_cast<uint8_t*>(destination);
    uint32_t done = 0;
    while (done < count) {
        if (position >= aheadStart && position < aheadStart + aheadLength) {
            const auto offset = static_cast<uint32_t>(position - aheadStart);
            const uint32_t part = std::min(aheadLength - offset, count - done);
            std::memcpy(out + done, readAhead.Data() + offset, part);
            done += part;
            position += part;
            continue;
        }
        const uint32_t rest = count - done;
        if (rest >= readAheadSize) {
            // A large piece (the data of a big entry) goes straight where it is wanted.
            MoveFileTo(position);
            filePosition = unknownPosition;
            const uint32_t got = file.Read(out + done, rest);
            done += got;
            position += got;
            filePosition = position;
            break;
        }
        if (readAhead.IsEmpty())
            readAhead.Allocate(readAheadSize, false);
        MoveFileTo(position);
        filePosition = unknownPosition;
        aheadStart = position;
        aheadLength = 0;
        aheadLength = file.Read(readAhead.Data(), readAheadSize);
        filePosition = position + aheadLength;
        if (aheadLength == 0)
            break;  // the end of the file
    }
    return done;
}

void CZipBigFile::Write(const void* source, uint32_t count) {
    Forget();
    MoveFileTo(position);
    filePosition = unknownPosition;  // should the write fail part-way
    file.Write(source, count);
    position += count;
    filePosition = position;
}

uint64_t CZipBigFile::Seek(int64_t offset, CFile::SeekPosition from) {
    if (from == CFile::end) {
        position = file.Seek(offset, CFile::end);
        filePosition = position;
        return position;
    }
    const int64_t base = from == CFile::begin ? 0 : static_cast<int64_t>(position);
    const int64_t target = base + offset;
    if (target < 0) {
        filePosition = unknownPosition;
        file.Seek(target, CFile::begin);  // fails as the file itself refuses such a seek
    }
    position = static_cast<uint64_t>(target);
    return position;
}

void CZipBigFile::SetLength(uint64_t length) {
    Forget();
    file.SetLength(length);
}

void CZipBigFile::Close() {
    Forget();
    readAhead.Release();
    position = 0;
    filePosition = 0;
    file.Close();
}

void CZipBigFile::Abort() noexcept {
    Forget();
    readAhead.Release();
    position = 0;
    filePosition = 0;
    file.Abort();
}

CFile& CZipBigFile::Unbuffered() {
    Forget();
    filePosition = unknownPosition;
    return file;
}

void CZipBigFile::Forget() {
    aheadStart = 0;
    aheadLength = 0;
}

void CZipBigFile::MoveFileTo(uint64_t where) {
    if (filePosition == where)
        return;
    filePosition = unknownPosition;
    file.Seek(static_cast<int64_t>(where), CFile::begin);
    filePosition = where;
}

// Rebuilds the entry list of an unfinished archive from its local headers.
//
// Only archives this engine wrote without spanning are expected here: every finished entry has
// its CRC-32 and sizes written over its local header and no data descriptor, so the headers can
// be walked one after the other from the start of the file. The walk stops at the first header
// that is missing, malformed or not backed by the file.
#include "zip/archive_recovery.h"

#include <memory>

#include "zip/byte_io.h"
#include "zip/zip_handler.h"
#include "zip/zip_records.h"

namespace {

struct LocalHeader {
    CZipEntryHeader header;
    uint64_t end = 0;  // file position after the entry's data
};

// Reads the local header at position; false when there is none or it cannot be a finished entry.
bool ReadFinishedEntry(CZipBigFile& file, uint64_t position, uint64_t length, LocalHeader& entry) {
    if (position + ZipRecord::localSize > length)
        return false;
    uint8_t raw[ZipRecord::localSize];
    file.Seek(static_cast<int64_t>(position), CFile::begin);
    if (file.Read(raw, sizeof raw) != sizeof raw)
        return false;
    ByteReader in(raw, sizeof raw);
    CZipEntryHeader& header = entry.header;
    if (in.U32() != ZipRecord::localSignature)
        return false;
    header.signature = ZipRecord::centralSignature;
    header.versionMadeBy = ZipRecord::versionMadeBy;
    header.versionNeeded = in.U16();
    header.flag = in.U16();
    header.method = in.U16();
    header.modTime = in.U16();
    header.modDate = in.U16();
    header.crc32Value = in.U32();
    header.compressedSize = in.U32();
    header.uncompressedSize = in.U32();
    const uint16_t nameLength = in.U16();
    const uint16_t extraLength = in.U16();
    // Sizes that follow the data cannot be trusted without a directory, and an unknown
    // method cannot be read anyway.
    if (header.HasDataDescriptor() || (header.method != 0 && header.method != 8))
        return false;
    // A deflated entry is never empty; zero sizes mean the writer died before finishing it.
    if (header.method == 8 && header.compressedSize == 0)
        return false;
    const uint64_t dataStart = position + ZipRecord::localSize + nameLength + extraLength;
    entry.end = dataStart + header.compressedSize;
    if (entry.end > length || nameLength == 0)
        return false;
    header.fileName.Allocate(nameLength, false);
    if (file.Read(header.fileName.Data(), nameLength) != nameLength)
        return false;
    // The extra field may hold the name in UTF-8.
    header.extraField.Allocate(extraLength, false);
    if (file.Read(header.extraField.Data(), extraLength) != extraLength)
        return false;
    header.localHeaderOffset = static_cast<uint32_t>(position);
    header.ConvertCodePage(false);
    header.ConvertSlashes(true);
    return true;
}

// A stored entry with zero sizes is finished only when nothing but the next header follows.
bool StoredEmptyEntryIsFinished(CZipBigFile& file, const LocalHeader& entry, uint64_t length) {
    const CZipEntryHeader& header = entry.header;
    if (header.method != 0 || header.compressedSize != 0 || entry.end == length)
        return true;
    uint8_t next[4];
    file.Seek(static_cast<int64_t>(entry.end), CFile::begin);
    return entry.end + 4 <= length && file.Read(next, 4) == 4 &&
           LoadU32(next) == ZipRecord::localSignature;
}

}  // namespace

int RecoverArchive(CZipHandler& zip, const std::string& path) {
    zip.Close(true);
    CZipVolumeStorage& storage = zip.GetStorage();
    CZipCentralDirectory& directory = zip.GetCentralDirectory();
    storage.Open(path, CZipHandler::openReadOnly, 0);
    storage.SetSpanModeFromDirectory(0);
    directory.InitCentralDirectory();
    directory.RemoveHeaders();

    CZipBigFile& file = *storage.GetFile();
    const uint64_t length = file.GetLength();
    uint64_t position = 0;
    while (directory.headers.size() < 0xFFFF && position <= 0xFFFFFFFFu) {
        LocalHeader entry;
        if (!ReadFinishedEntry(file, position, length, entry) ||
            !StoredEmptyEntryIsFinished(file, entry, length))
            break;
        directory.headers.push_back(std::make_unique<CZipEntryHeader>(entry.header));
        position = entry.end;
    }
    // Nothing may be written back: the archive stays as it was found.
    directory.directoryOnDisk = true;
    directory.totalEntries = static_cast<uint16_t>(directory.headers.size());
    if (directory.nameIndexEnabled)
        directory.BuildNameIndex();
    return static_cast<int>(directory.headers.size());
}

// The central directory: finding the end records and reading the directory, positioning entries.
#include "zip/central_directory.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/code_page.h"
#include "platform/mapped_file.h"
#include "platform/system.h"
#include "zip/byte_io.h"
#include "zip/volume_storage.h"
#include "zip/zip_exception.h"
#include "zip/zip_records.h"

namespace {

// Reads exactly count bytes straight from the file; anything less means a damaged archive.
bool ReadFully(CZipBigFile& file, void* destination, uint32_t count) {
    return count == 0 || file.Read(destination, count) == count;
}

}  // namespace

uint32_t CZipCentralDirectory::LocateEndRecord() {
    CZipBigFile& file = *storage->GetFile();
    const uint64_t length = file.GetLength();
    const uint64_t searched = std::min<uint64_t>(length, ZipRecord::maxEndSearch);
    if (searched == 0)
        ThrowError(ZipRaw::rootDirectoryNotFound);

    const uint32_t chunkSize = static_cast<uint32_t>(searchBufferSize);
    CZipBuffer chunk(chunkSize, false);
    uint64_t covered = 0;
    for (;;) {
        const uint64_t far = std::min<uint64_t>(covered + chunkSize, searched);
        const uint32_t count = static_cast<uint32_t>(far - covered);
        file.Seek(-static_cast<int64_t>(far), CFile::end);
        if (!ReadFully(file, chunk.Data(), count))
            ThrowError(ZipRaw::corruptedArchive);
        // Backwards, so that the signature nearest to the end of the file wins.
        for (int64_t at = static_cast<int64_t>(count) - 4; at >= 0; --at) {
            if (LoadU32(chunk.Data() + at) != ZipRecord::endSignature)
                continue;
            const uint64_t position = length - far + static_cast<uint64_t>(at);
            if (position > std::numeric_limits<uint32_t>::max())
                ThrowError(ZipRaw::corruptedArchive);
            return static_cast<uint32_t>(position);
        }
        if (far >= searched)
            break;
        covered = far - 3;  // overlap, so that a signature across the border is seen
    }
    ThrowError(ZipRaw::rootDirectoryNotFound);
}

void CZipCentralDirectory::ReadCentralDirectory() {
    CZipBigFile& file = *storage->GetFile();
    endRecordPosition = LocateEndRecord();

    uint8_t raw[ZipRecord::endSize];
    file.Seek(endRecordPosition, CFile::begin);
    if (!ReadFully(file, raw, sizeof raw))
        ThrowError(ZipRaw::corruptedArchive);
    ByteReader in(raw, sizeof raw);
    signature = in.U32();
    thisDiskNumber = in.U16();
    directoryStartDisk = in.U16();
    entriesOnThisDisk = in.U16();
    totalEntries = in.U16();
    directorySize = in.U32();
    directoryOffset = in.U32();
    const uint16_t commentLength = in.U16();
    // Where the directory ends: at the end record, or at a ZIP64 end record before it.
    const uint32_t directoryEndPosition = ReadZip64EndRecord();

    storage->SetSpanModeFromDirectory(thisDiskNumber);
    const bool spanned = storage->GetSpanState() != CZipVolumeStorage::SpanState::none;
    const uint64_t directoryEnd = uint64_t{directoryOffset} + directorySize;
    if (!spanned && directoryEndPosition < directoryEnd)
        ThrowError(ZipRaw::corruptedArchive);

    archiveComment.Allocate(commentLength, false);
    file.Seek(int64_t{endRecordPosition} + ZipRecord::endSize, CFile::begin);
    if (!ReadFully(file, archiveComment.Data(), commentLength)) {
        archiveComment.Release();
        ThrowError(ZipRaw::corruptedArchive);
    }

    bytesBeforeArchive = spanned ? 0 : static_cast<uint32_t>(directoryEndPosition - directoryEnd);
    if ((directorySize == 0) != (totalEntries == 0))
        ThrowError(ZipRaw::corruptedArchive);

    directoryOnDisk = true;
    storage->ChangeVolume(directoryStartDisk);
    if (directorySize != 0)
        ReadEntryHeaders();
}

namespace {

struct Zip64End {
    uint32_t thisDisk = 0;
    uint32_t startDisk = 0;
    uint64_t entriesOnDisk = 0;
    uint64_t totalEntries = 0;
    uint64_t size = 0;
    uint64_t offset = 0;
};

// A ZIP64 end record at position that ends where the locator begins.
bool ReadZip64End(CZipBigFile& file, uint64_t position, uint64_t locatorPosition,
                  Zip64End& record) {
    if (position > locatorPosition || locatorPosition - position < ZipRecord::zip64EndSize)
        return false;
    uint8_t raw[ZipRecord::zip64EndSize];
    file.Seek(static_cast<int64_t>(position), CFile::begin);
    if (!ReadFully(file, raw, sizeof raw))
        return false;
    ByteReader in(raw, sizeof raw);
    if (in.U32() != ZipRecord::zip64EndSignature)
        return false;
    const uint64_t remaining = in.U64();
    in.U16();  // versions
    in.U16();
    record.thisDisk = in.U32();
    record.startDisk = in.U32();
    record.entriesOnDisk = in.U64();
    record.totalEntries = in.U64();
    record.size = in.U64();
    record.offset = in.U64();
    return remaining <= locatorPosition && remaining == locatorPosition - position - 12;
}

// A field of the end record takes the ZIP64 record's value when it holds its sentinel; otherwise
// both must say the same. False when they differ.
template <typename Field>
bool Agrees(Field field, uint64_t wide) {
    return field == static_cast<Field>(~Field{0}) || field == wide;
}

// Takes the ZIP64 value for a field at its sentinel; a value the field cannot hold is refused.
template <typename Field>
bool Take(Field& field, uint64_t wide) {
    if (field != static_cast<Field>(~Field{0}))
        return true;
    if (wide > static_cast<Field>(~Field{0}))
        return false;
    field = static_cast<Field>(wide);
    return true;
}

}  // namespace

// The ZIP64 end record is read only through the locator just before the end record, and taken
// only when it agrees with every field of the end record that holds a real value: locator and
// record signatures inside a name or a comment make no ZIP64 archive. A value the engine's
// fields cannot hold is refused. Returns where the directory ends.
uint32_t CZipCentralDirectory::ReadZip64EndRecord() {
    CZipBigFile& file = *storage->GetFile();
    Zip64End record;
    uint64_t position = 0;
    bool found = false;
    if (endRecordPosition >= ZipRecord::zip64LocatorSize) {
        const uint64_t locatorPosition = endRecordPosition - ZipRecord::zip64LocatorSize;
        uint8_t raw[ZipRecord::zip64LocatorSize];
        file.Seek(static_cast<int64_t>(locatorPosition), CFile::begin);
        if (ReadFully(file, raw, sizeof raw)) {
            ByteReader in(raw, sizeof raw);
            const uint32_t locatorSignature = in.U32();
            in.U32();  // the disk holding the record: the last one, which is open
            const uint64_t stored = in.U64();
            // At its stored offset, or right before the locator when bytes stand in front of
            // the archive (the offsets do not count them).
            const uint64_t adjacent = locatorPosition >= ZipRecord::zip64EndSize
                                          ? locatorPosition - ZipRecord::zip64EndSize
                                          : stored;
            if (locatorSignature == ZipRecord::zip64LocatorSignature) {
                for (const uint64_t candidate : {stored, adjacent}) {
                    // The record follows the directory it describes, where the locator says.
                    if (ReadZip64End(file, candidate, locatorPosition, record) &&
                        (record.startDisk != record.thisDisk ||
                         (stored >= record.offset && stored - record.offset == record.size))) {
                        position = candidate;
                        found = true;
                        break;
                    }
                }
            }
        }
    }
    found = found && Agrees(thisDiskNumber, record.thisDisk) &&
            Agrees(directoryStartDisk, record.startDisk) &&
            Agrees(entriesOnThisDisk, record.entriesOnDisk) &&
            Agrees(totalEntries, record.totalEntries) && Agrees(directorySize, record.size) &&
            Agrees(directoryOffset, record.offset);
    // Without a record every field means what it says: 65,535 entries are 0xFFFF.
    if (!found)
        return endRecordPosition;
    if (!Take(thisDiskNumber, record.thisDisk) || !Take(directoryStartDisk, record.startDisk) ||
        !Take(entriesOnThisDisk, record.entriesOnDisk) ||
        !Take(totalEntries, record.totalEntries) || !Take(directorySize, record.size) ||
        !Take(directoryOffset, record.offset))
        ThrowError(ZipRaw::corruptedArchive);
    return static_cast<uint32_t>(position);
}

void CZipCentralDirectory::ReadEntryHeaders() {
    storage->GetFile()->Seek(int64_t{bytesBeforeArchive} + directoryOffset, CFile::begin);
    RemoveHeaders();
    // Headers are appended one by one, so a count that the file cannot back is stopped by the
    // first short read instead of being allocated up front.
    uint64_t consumed = 0;
    for (uint32_t i = 0; i < totalEntries; ++i) {
        headers.push_back(std::make_unique<CZipEntryHeader>());
        CZipEntryHeader& header = *headers.back();
        // Summed record by record rather than from file positions, so that a directory that
        // continues on the next volume counts the same.
        uint32_t recordSize = 0;
        if (!header.ReadCentralRecord(*storage, &recordSize))
            ThrowError(ZipRaw::corruptedArchive);
        consumed += recordSize;
        if (consumed > directorySize)
            ThrowError(ZipRaw::corruptedArchive);
        header.ConvertCodePage(false);
        header.ConvertSlashes(true);
        // What the name needed of the extra field is taken; an archive that is only read never
        // writes these back, and up to 128 KiB a header adds up over many entries.
        if (!keepExtraFields) {
            header.extraField.Release();
            header.comment.Release();
        }
    }
    // A count that disagrees with the directory's size (one kept modulo 65,536 by a writer of
    // more entries) would otherwise read as a smaller archive and lose the rest unseen.
    if (consumed != directorySize)
        ThrowError(ZipRaw::corruptedArchive);
    if (nameIndexEnabled)
        BuildNameIndex();
}

// ---- Reading one entry ------------------------------------------------------------------------

void CZipCentralDirectory::OpenEntryRecord(int index) {
    currentHeader = headers[static_cast<uint16_t>(index)].get();
    // A single-file archive has only volume 0; a stray disk number there must not send the
    // storage looking for volume files.
    if (storage->GetSpanState() != CZipVolumeStorage::SpanState::none)
        storage->ChangeVolume(currentHeader->diskNumberStart);
    storage->GetFile()->Seek(int64_t{bytesBeforeArchive} + currentHeader->localHeaderOffset,
                             CFile::begin);

    if (!currentHeader->ReadLocalRecord(*storage, localExtraField, localZip64))
        ThrowError(ZipRaw::corruptedArchive);
}

void CZipCentralDirectory::CloseEntryRecord() {
    if (currentHeader == nullptr)
        return;
    localExtraField.Release();
    if (currentHeader->HasDataDescriptor()) {
        uint8_t raw[ZipRecord::crcAndSizesSize];
        storage->Read(raw, 4, false);
        if (LoadU32(raw) != ZipRecord::descriptorSignature)
            storage->GetFile()->Seek(-4, CFile::current);  // a descriptor without signature
        if (localZip64) {
            ReadZip64Descriptor(raw);
        } else {
            storage->Read(raw, ZipRecord::crcAndSizesSize, false);
        }
        if (!currentHeader->CompareCrcAndSizes(raw))
            ThrowError(ZipRaw::corruptedArchive);
    }
    currentHeader = nullptr;
}

// A descriptor after a local header with a ZIP64 field has 8-byte sizes; out gets the usual 12
// bytes. Sizes that need 64 bits do not fit this engine.
void CZipCentralDirectory::ReadZip64Descriptor(uint8_t out[12]) {
    uint8_t raw[ZipRecord::zip64DescriptorSize];
    storage->Read(raw, sizeof raw, false);
    ByteReader in(raw, sizeof raw);
    const uint32_t crc = in.U32();
    const uint64_t compressed = in.U64();
    const uint64_t uncompressed = in.U64();
    if (compressed > ZipRecord::sentinel32 || uncompressed > ZipRecord::sentinel32)
        ThrowError(ZipRaw::corruptedArchive);
    ByteWriter(out)
        .U32(crc)
        .U32(static_cast<uint32_t>(compressed))
        .U32(static_cast<uint32_t>(uncompressed));
}

// ---- Adding entries ---------------------------------------------------------------------------

// The central directory: finding and reading it, positioning entries, writing it back, name index.
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
bool ReadFully(CFile& file, void* destination, uint32_t count) {
    return count == 0 || file.Read(destination, count) == count;
}

}  // namespace

void CZipCentralDirectory::InitCentralDirectory() {
    directoryOnDisk = false;
    endRecordPosition = 0;
    bytesBeforeArchive = 0;
    currentHeader = nullptr;
    archiveComment.Release();
}

void CZipCentralDirectory::ClearCentralDirectory() {
    currentHeader = nullptr;
    localExtraField.Release();
    RemoveHeaders();
    std::vector<NameIndexEntry>().swap(nameIndex);
    std::vector<NameIndexEntry>().swap(noCaseIndex);
    archiveComment.Release();
}

void CZipCentralDirectory::RemoveHeaders() {
    currentHeader = nullptr;
    nameIndex.clear();
    headers.clear();
}

bool CZipCentralDirectory::IsValidIndex(int index) const {
    return static_cast<size_t>(static_cast<uint16_t>(index)) < headers.size();
}

[[noreturn]] void CZipCentralDirectory::ThrowError(int raw) const {
    const CZipBigFile* file = storage ? storage->GetFile() : nullptr;
    ThrowZipException(raw, file ? file->GetFilePath() : std::string());
}

// ---- Reading ----------------------------------------------------------------------------------

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
    const bool spanned = storage->GetSpanState() != 0;
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
bool ReadZip64End(CFile& file, uint64_t position, uint64_t locatorPosition, Zip64End& record) {
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
    if (storage->GetSpanState() != 0)
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

void CZipCentralDirectory::AddNewHeader(const CZipEntryHeader& templateHeader) {
    headers.push_back(std::make_unique<CZipEntryHeader>(templateHeader));
    currentHeader = headers.back().get();
    if (nameIndexEnabled)
        InsertIntoNameIndex(currentHeader, static_cast<uint16_t>(headers.size() - 1));
    TruncateOldDirectory();
    storage->GetFile()->Seek(0, CFile::end);
}

void CZipCentralDirectory::TruncateOldDirectory() {
    if (!directoryOnDisk)
        return;
    storage->GetFile()->SetLength(uint64_t{bytesBeforeArchive} + directoryOffset);
    directoryOnDisk = false;
}

void CZipCentralDirectory::FinishNewHeader() {
    CZipEntryHeader& header = *currentHeader;
    const bool spanned = storage->GetSpanState() != 0;
    const bool encrypted = header.IsEncrypted();
    const uint32_t localPosition = header.localHeaderOffset;
    CZipBigFile& file = *storage->GetFile();

    uint8_t record[ZipRecord::descriptorSize];
    uint32_t count = 0;
    if (header.HasDataDescriptor()) {
        StoreU32(record, ZipRecord::descriptorSignature);
        header.GetCrcAndSizes(record + 4);
        count = ZipRecord::descriptorSize;
    } else {
        storage->Flush();
        file.Seek(int64_t{localPosition} + ZipRecord::localCrcOffset, CFile::begin);
        header.GetCrcAndSizes(record);
        count = ZipRecord::crcAndSizesSize;
    }
    header.localHeaderOffset = localPosition - bytesBeforeArchive;
    storage->Write(record, count, true);

    if (!spanned) {
        if (encrypted) {
            // Readers that ignore the descriptor still find the real values in the local header.
            storage->Flush();
            file.Seek(int64_t{localPosition} + ZipRecord::localCrcOffset, CFile::begin);
            header.GetCrcAndSizes(record);
            storage->Write(record, ZipRecord::crcAndSizesSize, true);
        }
        storage->Flush();
        // Later entries go after this one's data, not after the patched local header.
        file.Seek(0, CFile::end);
    }
    currentHeader = nullptr;
}

// ---- Writing the directory --------------------------------------------------------------------

void CZipCentralDirectory::WriteCentralDirectory() {
    if (directoryOnDisk)
        return;
    const bool spanned = storage->GetSpanState() != 0;
    if (!spanned) {
        storage->Flush();
        storage->GetFile()->Seek(0, CFile::end);
    }
    totalEntries = static_cast<uint16_t>(headers.size());
    directorySize = 0;
    bool converted = false;

    if (spanned && storage->GetCurrentVolume() == 0) {
        const uint64_t saved =
            uint64_t{ZipRecord::descriptorSize} * totalEntries + ZipRecord::spanMarkerSize;
        const uint64_t size = GetDirectorySize(true);
        const uint64_t needed = size > saved ? size - saved : 0;
        if (storage->FreeInVolume() >= needed) {
            if (storage->volumeWritten == 0 && storage->FreeInBuffer() >= needed) {
                converted = RemoveDataDescriptors(true);
            } else {
                storage->Flush();
                storage->GetFile()->Flush();
                converted = RemoveDataDescriptors(false);
            }
        }
    }

    WriteEntryHeaders();
    thisDiskNumber = static_cast<uint16_t>(storage->GetCurrentVolume());
    const uint32_t endSize = WriteEndRecord();
    if (converted && storage->GetCurrentVolume() != 0)
        ThrowError(ZipRaw::corruptedArchive);
    if (storage->GetCurrentVolume() == thisDiskNumber)
        return;

    // The end record moved on to a new volume: it must name the volume it lies on.
    thisDiskNumber = static_cast<uint16_t>(storage->GetCurrentVolume());
    if (totalEntries != 0) {
        entriesOnThisDisk = 0;
    } else {
        directoryStartDisk = thisDiskNumber;
        directoryOffset = 0;
    }
    if (storage->bufferedBytes >= endSize) {
        storage->bufferedBytes -= endSize;
    } else {
        storage->Flush();
        storage->volumeWritten -= endSize;
        storage->GetFile()->Seek(0, CFile::begin);
    }
    WriteEndRecord();
}

void CZipCentralDirectory::WriteEntryHeaders() {
    entriesOnThisDisk = 0;
    directoryStartDisk = static_cast<uint16_t>(storage->GetCurrentVolume());
    directoryOffset = storage->GetPosition() - bytesBeforeArchive;
    if (totalEntries == 0)
        return;

    for (size_t i = 0; i < headers.size(); ++i) {
        // A copy in archive form, so that the names in memory stay local even when a write fails
        // half-way and the close is tried again.
        CZipEntryHeader record(*headers[i]);
        record.ConvertCodePage(true);
        record.ConvertSlashes(false);
        const int32_t volumeBefore = storage->GetCurrentVolume();
        directorySize += record.WriteCentralRecord(*storage);
        const int32_t volumeAfter = storage->GetCurrentVolume();
        if (volumeAfter == volumeBefore) {
            ++entriesOnThisDisk;
            continue;
        }
        entriesOnThisDisk = 1;
        if (i == 0) {
            directoryOffset = 0;
            directoryStartDisk = static_cast<uint16_t>(volumeAfter);
        }
    }
}

uint32_t CZipCentralDirectory::WriteEndRecord() {
    const uint32_t size = ZipRecord::endSize + archiveComment.Size();
    CZipBuffer record(size, false);
    ByteWriter(record.Data())
        .U32(ZipRecord::endSignature)
        .U16(thisDiskNumber)
        .U16(directoryStartDisk)
        .U16(entriesOnThisDisk)
        .U16(totalEntries)
        .U32(directorySize)
        .U32(directoryOffset)
        .U16(static_cast<uint16_t>(archiveComment.Size()))
        .Bytes(archiveComment.Data(), archiveComment.Size());
    storage->Write(record.Data(), size, true);
    return size;
}

bool CZipCentralDirectory::RemoveDataDescriptors(bool inBuffer) {
    platform::MappedFile mapping;
    uint8_t* data = nullptr;
    uint64_t length = 0;
    if (inBuffer) {
        data = storage->writeBuffer.Data();
        length = storage->bufferedBytes;
    } else {
        if (!mapping.Map(*storage->GetFile()))
            return false;
        data = mapping.Data();
        length = mapping.Size();
    }

    // Check every entry's extent first, so that an inconsistent layout is left untouched and the
    // archive is simply written spanned.
    for (size_t i = 0; i < headers.size(); ++i) {
        const CZipEntryHeader& header = *headers[i];
        const uint64_t at = header.localHeaderOffset;
        const uint64_t end = i + 1 < headers.size() ? headers[i + 1]->localHeaderOffset : length;
        const uint64_t d = header.IsEncrypted() ? 0 : ZipRecord::descriptorSize;
        if (at < ZipRecord::spanMarkerSize || end > length || at + ZipRecord::localSize + d > end)
            return false;
    }

    uint64_t shift = ZipRecord::spanMarkerSize;
    uint64_t out = 0;
    for (size_t i = 0; i < headers.size(); ++i) {
        CZipEntryHeader& header = *headers[i];
        const uint64_t at = header.localHeaderOffset;
        uint64_t d = 0;
        if (!header.IsEncrypted()) {
            header.flag &= static_cast<uint16_t>(~ZipRecord::flagDescriptor);
            StoreU16(data + at + 6, header.flag);
            d = ZipRecord::descriptorSize;
        }
        header.GetCrcAndSizes(data + at + ZipRecord::localCrcOffset);
        const uint64_t end = i + 1 < headers.size() ? headers[i + 1]->localHeaderOffset : length;
        const uint64_t count = end - d - at;
        std::memmove(data + out, data + at, count);
        out += count;
        header.localHeaderOffset = static_cast<uint32_t>(header.localHeaderOffset - shift);
        shift += d;
    }

    if (inBuffer) {
        storage->bufferedBytes = static_cast<uint32_t>(out);
        return true;
    }
    storage->volumeWritten = static_cast<uint32_t>(out);
    mapping.Unmap();
    storage->GetFile()->SetLength(out);
    // The directory follows the shortened data, not the old end of the file.
    storage->GetFile()->Seek(static_cast<int64_t>(out), CFile::begin);
    return true;
}

uint32_t CZipCentralDirectory::GetDirectorySize(bool withHeaders) const {
    uint32_t size = ZipRecord::endSize + archiveComment.Size();
    if (!withHeaders)
        return size;
    for (const auto& header : headers) size += header->GetCentralRecordSize();
    return size;
}

// ---- Name index -------------------------------------------------------------------------------

// Names that are equal stand in archive order, however the index came about (built at once or
// grown entry by entry), and every search returns the first of them: the entry FindEntry gives
// for a name is the same before and after the archive is closed and opened again.
void CZipCentralDirectory::BuildNameIndex() {
    std::vector<std::pair<std::string, uint16_t>> names;
    names.reserve(headers.size());
    for (size_t i = 0; i < headers.size(); ++i)
        names.emplace_back(headers[i]->GetFileName(), static_cast<uint16_t>(i));
    std::stable_sort(names.begin(), names.end(), [](const auto& a, const auto& b) {
        return platform::CollateNames(a.first, b.first) < 0;
    });
    nameIndex.clear();
    nameIndex.reserve(names.size());
    for (const auto& [name, index] : names) nameIndex.push_back({headers[index].get(), index});
    noCaseIndexCurrent = false;
}

// After every equal name: a new header is the last in archive order.
void CZipCentralDirectory::InsertIntoNameIndex(CZipEntryHeader* header, uint16_t index) {
    const std::string name = header->GetFileName();
    const auto at =
        std::upper_bound(nameIndex.begin(), nameIndex.end(), name,
                         [](const std::string& key, const NameIndexEntry& entry) {
                             return platform::CollateNames(key, entry.header->GetFileName()) < 0;
                         });
    nameIndex.insert(at, {header, index});
    noCaseIndexCurrent = false;
}

// O(n log n) once after the index changed; the searches that follow cost O(log n) each (a
// deinstall of 65,535 saved files looked each one up by walking the whole index).
const std::vector<NameIndexEntry>& CZipCentralDirectory::NoCaseIndex() const {
    if (noCaseIndexCurrent && noCaseIndex.size() == nameIndex.size())
        return noCaseIndex;
    std::vector<std::pair<std::string, NameIndexEntry>> names;
    names.reserve(nameIndex.size());
    for (const NameIndexEntry& entry : nameIndex)
        names.emplace_back(entry.header->GetFileName(), entry);
    // Names equal but for letter case in archive order too, whatever their spelling.
    std::sort(names.begin(), names.end(), [](const auto& a, const auto& b) {
        const int order = platform::CollateNamesNoCase(a.first, b.first);
        return order != 0 ? order < 0 : a.second.index < b.second.index;
    });
    noCaseIndex.clear();
    noCaseIndex.reserve(names.size());
    for (const auto& [name, entry] : names) noCaseIndex.push_back(entry);
    noCaseIndexCurrent = true;
    return noCaseIndex;
}

int CZipCentralDirectory::FindInNameIndex(const std::string& name, bool caseSensitive) const {
    const auto firstOf = [this](const std::string& key) {
        return std::lower_bound(nameIndex.begin(), nameIndex.end(), key,
                                [](const NameIndexEntry& entry, const std::string& wanted) {
                                    return platform::CollateNames(entry.header->GetFileName(),
                                                                  wanted) < 0;
                                });
    };
    if (caseSensitive) {
        const auto found = firstOf(name);
        if (found == nameIndex.end() ||
            platform::CollateNames(found->header->GetFileName(), name) != 0)
            return -1;
        return static_cast<int>(found - nameIndex.begin());
    }
    // The case-blind match that comes first in the archive; its place in the index is found
    // among the names spelled as its own.
    const std::vector<NameIndexEntry>& blind = NoCaseIndex();
    const auto found = std::lower_bound(
        blind.begin(), blind.end(), name, [](const NameIndexEntry& entry, const std::string& key) {
            return platform::CollateNamesNoCase(entry.header->GetFileName(), key) < 0;
        });
    if (found == blind.end() ||
        platform::CollateNamesNoCase(found->header->GetFileName(), name) != 0)
        return -1;
    for (auto at = firstOf(found->header->GetFileName()); at != nameIndex.end(); ++at)
        if (at->header == found->header)
            return static_cast<int>(at - nameIndex.begin());
    return -1;
}

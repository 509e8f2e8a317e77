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

    storage->SetSpanModeFromDirectory(thisDiskNumber);
    const bool spanned = storage->GetSpanState() != 0;
    const uint64_t directoryEnd = uint64_t{directoryOffset} + directorySize;
    if (!spanned && endRecordPosition < directoryEnd)
        ThrowError(ZipRaw::corruptedArchive);

    archiveComment.Allocate(commentLength, false);
    if (!ReadFully(file, archiveComment.Data(), commentLength)) {
        archiveComment.Release();
        ThrowError(ZipRaw::corruptedArchive);
    }

    bytesBeforeArchive = spanned ? 0 : static_cast<uint32_t>(endRecordPosition - directoryEnd);
    if ((directorySize == 0) != (totalEntries == 0))
        ThrowError(ZipRaw::corruptedArchive);

    directoryOnDisk = true;
    storage->ChangeVolume(directoryStartDisk);
    if (directorySize != 0)
        ReadEntryHeaders();
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
        if (!header.ReadCentralRecord(*storage))
            ThrowError(ZipRaw::corruptedArchive);
        // Summed record by record rather than from file positions, so that a directory that
        // continues on the next volume counts the same. Taken before the name is converted.
        consumed += header.GetCentralRecordSize();
        if (consumed > directorySize)
            ThrowError(ZipRaw::corruptedArchive);
        header.ConvertCodePage(false);
        header.ConvertSlashes(true);
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

    uint16_t extraLength = 0;
    if (!currentHeader->ReadLocalRecord(*storage, extraLength))
        ThrowError(ZipRaw::corruptedArchive);

    localExtraField.Release();
    if (extraLength == 0)
        return;
    const int32_t volume = storage->GetCurrentVolume();
    localExtraField.Allocate(extraLength, false);
    storage->Read(localExtraField.Data(), extraLength, true);
    if (storage->GetCurrentVolume() != volume)
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
        storage->Read(raw, ZipRecord::crcAndSizesSize, false);
        if (!currentHeader->CompareCrcAndSizes(raw))
            ThrowError(ZipRaw::corruptedArchive);
    }
    currentHeader = nullptr;
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

void CZipCentralDirectory::BuildNameIndex() {
    // Sorting all names at once keeps large archives fast; equal names end up adjacent in
    // archive order, as inserting them one by one would place them next to each other too.
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

void CZipCentralDirectory::InsertIntoNameIndex(CZipEntryHeader* header, uint16_t index) {
    const std::string name = header->GetFileName();
    size_t lo = 0;
    size_t hi = nameIndex.size();
    while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        const int order = platform::CollateNames(nameIndex[mid].header->GetFileName(), name);
        if (order == 0) {
            lo = mid;
            break;
        }
        if (order < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    nameIndex.insert(nameIndex.begin() + static_cast<std::ptrdiff_t>(lo), {header, index});
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
    std::stable_sort(names.begin(), names.end(), [](const auto& a, const auto& b) {
        return platform::CollateNamesNoCase(a.first, b.first) < 0;
    });
    noCaseIndex.clear();
    noCaseIndex.reserve(names.size());
    for (const auto& [name, entry] : names) noCaseIndex.push_back(entry);
    noCaseIndexCurrent = true;
    return noCaseIndex;
}

int CZipCentralDirectory::FindInNameIndex(const std::string& name, bool caseSensitive) const {
    if (!caseSensitive) {
        // The first match in case-blind order is the one the case-sensitive index lists first;
        // its place there is found among the names equal to its own.
        const std::vector<NameIndexEntry>& blind = NoCaseIndex();
        const auto found = std::lower_bound(
            blind.begin(), blind.end(), name,
            [](const NameIndexEntry& entry, const std::string& key) {
                return platform::CollateNamesNoCase(entry.header->GetFileName(), key) < 0;
            });
        if (found == blind.end() ||
            platform::CollateNamesNoCase(found->header->GetFileName(), name) != 0)
            return -1;
        const std::string spelled = found->header->GetFileName();
        const auto first = std::lower_bound(
            nameIndex.begin(), nameIndex.end(), spelled,
            [](const NameIndexEntry& entry, const std::string& key) {
                return platform::CollateNames(entry.header->GetFileName(), key) < 0;
            });
        for (auto at = first; at != nameIndex.end(); ++at)
            if (at->header == found->header)
                return static_cast<int>(at - nameIndex.begin());
        return -1;
    }
    int lo = 0;
    int hi = static_cast<int>(nameIndex.size()) - 1;
    while (hi >= lo) {
        const int mid = (lo + hi) / 2;
        const int order = platform::CollateNames(nameIndex[mid].header->GetFileName(), name);
        if (order == 0)
            return mid;
        if (order < 0)
            lo = mid + 1;
        else
            hi = mid - 1;
    }
    return -1;
}

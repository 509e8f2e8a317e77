// The central directory: new headers, and writing the directory and end record back.
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
    const bool spanned = storage->GetSpanState() != CZipVolumeStorage::SpanState::none;
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
    const bool spanned = storage->GetSpanState() != CZipVolumeStorage::SpanState::none;
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
        if (!mapping.Map(storage->GetFile()->Unbuffered()))
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

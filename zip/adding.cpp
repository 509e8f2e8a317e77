// Writing entries: the new-entry stream (open, write, close) and adding a file from disk.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/file.h"
#include "platform/file_system.h"
#include "zip/path_helpers.h"
#include "zip/zip_exception.h"
#include "zip/zip_handler.h"
#include "zip/zip_records.h"

namespace {

constexpr int maxEntries = 65535;
constexpr int memoryLevel = 8;
constexpr uint64_t maxEntrySize = 0xFFFFFFFF;

// The stream's input is only read; zlib's record just lacks the const.
Bytef* Input(const void* source) {
    return const_cast<Bytef*>(static_cast<const Bytef*>(source));
}

}  // namespace

bool CZipHandler::AddFile(const std::string& sourcePath, int level, bool keepFullPath,
                          ZipProgressCallback progress, intptr_t userValue,
                          uint32_t readBufferSize) {
    if (readBufferSize == 0)
        return false;
    CZipEntryHeader templateHeader;
    templateHeader.SetFileName(keepFullPath ? GetPathWithoutDrive(sourcePath)
                                            : GetPathFileName(sourcePath));
    if (templateHeader.fileName.IsEmpty())
        return false;

    // The source is opened before the entry is started, so that a file that cannot be read
    // leaves no half-made entry behind in the archive; its time and attributes then come from
    // the open file. Only a folder, which opens as no file, is looked up by its path.
    CFile file;
    CFileStatus status;
    if (file.Open(sourcePath, CFile::modeRead | CFile::shareDenyWrite)) {
        if (!file.GetStatus(status))
            return false;
        templateHeader.SetTime(status.lastWriteTime);
        templateHeader.externalAttributes = status.attributes;
    } else {
        const uint32_t attributes = platform::GetAttributes(sourcePath);
        if (attributes == platform::invalidAttributes ||
            !CZipEntryHeader::IsDirectoryAttribute(attributes))
            return false;
    }
    // The records hold 32-bit sizes: a larger file would be recorded modulo 4 GiB, a saved copy
    // that can never be given back. Refused before anything of it is written.
    if (file.IsOpen() && status.size > maxEntrySize)
        throw CFileException(platform::FileTooLargeError(), file.GetFilePath());

    if (!OpenNewEntry(templateHeader, level, file.IsOpen() ? nullptr : &sourcePath))
        return false;
    if (CZipEntryHeader::IsDirectoryAttribute(CurrentHeader()->externalAttributes) ||
        !file.IsOpen()) {
        CloseNewEntry();
        return true;
    }
    const uint32_t total = progress != nullptr ? static_cast<uint32_t>(status.size) : 0;
    CZipBuffer readBuffer(readBufferSize, false);
    uint32_t done = 0;
    uint32_t read = 0;
    do {
        read = file.Read(readBuffer.Data(), readBufferSize);
        if (read == 0)
            break;
        WriteNewEntry(readBuffer.Data(), read);
        done += read;
        if (progress != nullptr && !progress(total, done, userValue))
            break;
    } while (read == readBufferSize);
    readBuffer.Release();
    file.Close();
    CloseNewEntry();
    return true;
}

bool CZipHandler::OpenNewEntry(CZipEntryHeader& templateHeader, int level,
                               const std::string* sourcePath) {
    if (IsClosed(true) || entryState != EntryState::none ||
        storage.GetSpanState() == CZipVolumeStorage::SpanState::existing ||
        GetEntryCount() >= maxEntries) {
        return false;
    }
    if (sourcePath != nullptr) {
        CFileStatus status;
        if (!CFile::GetStatus(*sourcePath, status))
            return false;
        templateHeader.SetTime(status.lastWriteTime);
        templateHeader.externalAttributes = platform::GetAttributes(*sourcePath);
        if (templateHeader.externalAttributes == platform::invalidAttributes)
            return false;
    }
    CZipEntryStream& entry = entryStream;
    entry.buffer.Allocate(entry.bufferSize, false);
    centralDir.AddNewHeader(templateHeader);
    CZipEntryHeader& header = *CurrentHeader();

    if (header.fileName.IsEmpty())
        header.SetFileName("file" + std::to_string(GetEntryCount()));
    // A name the archive cannot hold exactly would be found under no name when it is read back.
    if (!header.ConvertCodePage(true))
        ThrowError(ZipRaw::fileNameTooLong);
    header.ConvertSlashes(false);
    if (CZipEntryHeader::IsDirectoryAttribute(header.externalAttributes))
        header.method = 0;
    const bool encrypted = !password.IsEmpty();
    if (!header.PrepareNewEntry(
            level, storage.GetSpanState() == CZipVolumeStorage::SpanState::creating, encrypted)) {
        ThrowError(ZipRaw::fileNameTooLong);
    }
    header.WriteLocalRecord(storage);
    // The directory keeps names in local form in memory; only the records hold the other one.
    // The way back is exact: the name took the archive form only because it converts back.
    header.ConvertSlashes(true);
    header.ConvertCodePage(false);

    if (encrypted) {
        uint8_t encryptionHeader[ZipRecord::encryptionHeaderSize];
        MakeEncryptionHeader(static_cast<uint32_t>(header.modTime) << 16, encryptionHeader);
        storage.Write(encryptionHeader, sizeof encryptionHeader, false);
    }

    z_stream& stream = entry.stream;
    entry.compressedCount = 0;
    entry.uncompressedTotal = 0;
    entry.compressedTotal = 0;
    stream.next_in = nullptr;
    stream.avail_in = 0;
    stream.next_out = entry.buffer.Data();
    stream.avail_out = entry.bufferSize;
    stream.total_in = 0;
    stream.total_out = 0;
    if (header.method == Z_DEFLATED) {
        stream.opaque = trackAllocations ? &allocationList : nullptr;
        CheckZlibResult(
            deflateInit2(&stream, level, Z_DEFLATED, -MAX_WBITS, memoryLevel, Z_DEFAULT_STRATEGY));
    }
    entryState = EntryState::writing;
    return true;
}

bool CZipHandler::WriteNewEntry(const void* source, uint32_t count) {
    if (entryState != EntryState::writing)
        return false;
    CZipEntryStream& entry = entryStream;
    z_stream& stream = entry.stream;
    CZipEntryHeader& header = *CurrentHeader();
    stream.next_in = Input(source);
    stream.avail_in = count;
    entry.uncompressedTotal += count;
    header.crc32Value = static_cast<uint32_t>(crc32(header.crc32Value, Input(source), count));

    while (stream.avail_in > 0) {
        if (stream.avail_out == 0)
            FlushNewEntryBuffer();
        if (header.method == Z_DEFLATED) {
            const uLong before = stream.total_out;
            CheckZlibResult(deflate(&stream, Z_NO_FLUSH));
            entry.compressedCount += static_cast<uint32_t>(stream.total_out - before);
            continue;
        }
        const uint32_t n = std::min(stream.avail_in, stream.avail_out);
        std::memcpy(stream.next_out, stream.next_in, n);
        stream.next_in += n;
        stream.avail_in -= n;
        stream.next_out += n;
        stream.avail_out -= n;
        stream.total_in += n;
        stream.total_out += n;
        entry.compressedCount += n;
    }
    return true;
}

bool CZipHandler::CloseNewEntry() {
    if (entryState != EntryState::writing)
        return false;
    CZipEntryStream& entry = entryStream;
    z_stream& stream = entry.stream;
    CZipEntryHeader& header = *CurrentHeader();
    stream.avail_in = 0;
    if (header.method == Z_DEFLATED) {
        int result = Z_OK;
        do {
            if (stream.avail_out == 0)
                FlushNewEntryBuffer();
            const uLong before = stream.total_out;
            result = deflate(&stream, Z_FINISH);
            entry.compressedCount += static_cast<uint32_t>(stream.total_out - before);
        } while (result == Z_OK);
        if (result != Z_STREAM_END)
            CheckZlibResult(result);
    }
    if (entry.compressedCount > 0)
        FlushNewEntryBuffer();
    if (header.method == Z_DEFLATED)
        CheckZlibResult(deflateEnd(&stream));

    // A source that grew while it was read, or data that deflate made larger than 4 GiB, would
    // be recorded with sizes cut to 32 bits; the entry stays unfinished instead.
    if (entry.uncompressedTotal > maxEntrySize ||
        entry.compressedTotal + header.compressedSize > maxEntrySize)
        throw CFileException(platform::FileTooLargeError(), storage.GetFile()->GetFilePath());
    header.compressedSize += static_cast<uint32_t>(entry.compressedTotal);
    header.uncompressedSize = static_cast<uint32_t>(entry.uncompressedTotal);
    centralDir.FinishNewHeader();
    entryState = EntryState::none;
    entry.buffer.Release();
    return true;
}

// Sends the compressed bytes waiting in the buffer to storage and starts the buffer afresh.
void CZipHandler::FlushNewEntryBuffer() {
    CZipEntryStream& entry = entryStream;
    EncodeBuffer();
    storage.Write(entry.buffer.Data(), entry.compressedCount, false);
    entry.compressedTotal += entry.compressedCount;
    entry.compressedCount = 0;
    entry.stream.next_out = entry.buffer.Data();
    entry.stream.avail_out = entry.bufferSize;
}

void CZipHandler::DropNewEntries(int keep) {
    if (entryState == EntryState::writing) {
        // What the close after an exception does for the open entry.
        entryState = EntryState::none;
        entryStream.buffer.Release();
        FreeTrackedAllocations();
    }
    if (keep < 0 || keep >= centralDir.GetCount())
        return;
    centralDir.currentHeader = nullptr;
    centralDir.headers.resize(static_cast<size_t>(keep));
    if (centralDir.nameIndexEnabled) {
        EnableNameIndex(false);  // the index points at the dropped headers: build it anew
        EnableNameIndex(true);
    }
}

// Reading entries back: the entry stream (open, read, close) and extraction to a file on disk.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <ctime>

#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/path_text.h"
#include "zip/entry_writing.h"
#include "zip/path_helpers.h"
#include "zip/zip_exception.h"
#include "zip/zip_handler.h"
#include "zip/zip_records.h"

namespace {

// True when a name, taken as a path below the target folder, could lead out of it: a part that
// climbs out, or a colon anywhere (a drive, or an alternate data stream on Windows).
bool LeavesTargetFolder(const std::string& name, const std::string& relative) {
    if (name.find(':') != std::string::npos)
        return true;
    const std::vector<std::string> parts = platform::SplitParts(relative);
    return std::any_of(parts.begin(), parts.end(),
                       [](const std::string& part) { return platform::ClimbsOut(part); });
}

// The status an extracted file gets: the entry's time stamp, made now.
CFileStatus EntryStatus(const CZipEntryHeader& header) {
    CFileStatus status;
    status.creationTime = std::time(nullptr);
    status.lastAccessTime = status.creationTime;
    status.lastWriteTime = header.GetTime();
    status.attributes = 0;
    return status;
}

// Gives an extracted file the entry's time stamp, then its attributes, by its path or through
// the file still open; result as CloseEntry's.
CZipHandler::CloseResult ApplyEntryStatus(const std::string* filePath, CFile* openFile,
                                          const CZipEntryHeader& header,
                                          CZipHandler::CloseResult result) {
    try {
        openFile != nullptr ? openFile->SetTimes(EntryStatus(header))
                            : CFile::SetStatus(*filePath, EntryStatus(header));
    } catch (const CFileException&) {
        return CZipHandler::CloseResult::notOpen;
    }
    const bool set = openFile != nullptr
                         ? openFile->SetAttributes(header.externalAttributes)
                         : platform::SetAttributes(*filePath, header.externalAttributes);
    return set ? result : CZipHandler::CloseResult::attributesFailed;
}

}  // namespace

bool CZipHandler::IsEntryDirectory(uint16_t index) const {
    if (IsClosed(true) || !centralDir.IsValidIndex(index))
        return false;
    const CZipEntryHeader& header = *centralDir.headers[index];
    if (CZipEntryHeader::IsDirectoryAttribute(header.externalAttributes))
        return true;
    // Some writers mark a folder only by the separator that ends its name; such an entry can
    // never be made into a file.
    return header.fileName.Size() > 0 && header.fileName.Data()[header.fileName.Size() - 1] == '\\';
}

bool CZipHandler::ExtractEntry(uint16_t index, const std::string& targetFolder, bool keepFullPath,
                               const std::string* newName, ZipProgressCallback progress,
                               intptr_t userValue, uint32_t copyBufferSize) {
    CZipEntryHeader header;
    if (copyBufferSize == 0 || !GetEntryInfo(header, index))
        return false;
    const CZipEntryReading reading{[this, index] { return OpenEntry(index); },
                                   [this, copyBufferSize](const CZipEntryReading::Take& take) {
                                       ReadEntryChunks(copyBufferSize, take);
                                   },
                                   [this] { return EndEntryData(); }, [this] { EndEntryRecord(); }};
    return WriteExtractedEntry(
        header, IsEntryDirectory(index), storage.GetFile()->GetFilePath(), targetFolder,
        {keepFullPath, newName, progress, userValue, copyBufferSize}, reading);
}

bool WriteExtractedEntry(const CZipEntryHeader& header, bool isDirectory,
                         const std::string& archivePath, const std::string& targetFolder,
                         const CZipHandler::ExtractOptions& options,
                         const CZipEntryReading& reading) {
    // The copy loop cannot move on with an empty buffer.
    if (options.copyBufferSize == 0)
        return false;
    const std::string name = options.newName != nullptr ? *options.newName : header.GetFileName();
    const std::string relative =
        options.keepFullPath ? GetPathWithoutDrive(name) : GetPathFileName(name);
    // A name the local code page cannot hold exactly would be written under another name.
    if (LeavesTargetFolder(name, relative) ||
        (options.newName == nullptr && !header.HasLocalName()))
        ThrowZipException(ZipRaw::corruptedArchive, archivePath);
    const std::string target = platform::WithoutTrailingBackslashes(targetFolder) + '\\' + relative;

    if (isDirectory) {
        CreatePathFolders(target);
        platform::SetAttributes(target, header.externalAttributes);
        return true;
    }
    if (!reading.open())
        return false;
    // Most files go where an earlier one went, so the folders are looked at only when the file
    // could not be made. Then the folder's own failure names the cause (a folder the user cannot
    // write, a file in the way); the open could only say the path is missing.
    constexpr unsigned flags = CFile::modeCreate | CFile::modeWrite | CFile::shareDenyWrite;
    CFile file;
    CFileException error;
    if (!file.Open(target, flags, &error)) {
        const std::string folder = GetPathFolder(target);
        if (GetPathKind(folder) == PathKind::folder)
            throw error;  // the folder was there: the file itself could not be made
        if (!CreatePathFolders(folder))
            throw CFileException(platform::LastError(), folder);
        if (!file.Open(target, flags, &error))
            throw error;
    }
    const uint32_t total = options.progress != nullptr ? header.uncompressedSize : 0;
    uint32_t done = 0;
    reading.readChunks([&](const uint8_t* data, uint32_t size) {
        file.Write(data, size);
        done += size;
        return options.progress == nullptr || options.progress(total, done, options.userValue);
    });
    // The time stamp and attributes go through the file before it is closed.
    const CZipHandler::CloseResult ended = reading.endData();
    const CZipHandler::CloseResult result = ended == CZipHandler::CloseResult::notOpen
                                                ? ended
                                                : ApplyEntryStatus(nullptr, &file, header, ended);
    reading.endRecord();
    file.Close();
    return result == CZipHandler::CloseResult::whole;
}

void CZipHandler::ReadEntryChunks(uint32_t chunkSize,
                                  const std::function<bool(const uint8_t*, uint32_t)>& take) {
    CZipBuffer chunk(chunkSize, false);
    uint32_t read = 0;
    do {
        read = ReadEntry(chunk.Data(), chunkSize);
        if (read == 0 || !take(chunk.Data(), read))
            break;
    } while (read == chunkSize);
}

bool CZipHandler::OpenEntry(uint16_t index) {
    if (!centralDir.IsValidIndex(index) ||
        storage.GetSpanState() == CZipVolumeStorage::SpanState::creating ||
        entryState != EntryState::none) {
        return false;
    }
    CZipEntryStream& entry = entryStream;
    entry.buffer.Allocate(entry.bufferSize, false);
    centralDir.OpenEntryRecord(index);
    const CZipEntryHeader& header = *centralDir.currentHeader;

    uint32_t compressed = header.compressedSize;
    if (header.IsEncrypted()) {
        if (password.IsEmpty()) {
            // A soft refusal leaves nothing open behind it.
            entry.buffer.Release();
            centralDir.localExtraField.Release();
            centralDir.currentHeader = nullptr;
            return false;
        }
        InitKeys();
        if (!CheckEncryptionHeader())
            ThrowError(ZipRaw::badArchivePassword);
        // The encryption header is no part of the compressed data.
        compressed = compressed >= ZipRecord::encryptionHeaderSize
                         ? compressed - ZipRecord::encryptionHeaderSize
                         : 0;
    }
    if (header.method != 0 && header.method != Z_DEFLATED)
        ThrowError(ZipRaw::corruptedArchive);

    z_stream& stream = entry.stream;
    if (header.method == Z_DEFLATED) {
        stream.opaque = trackAllocations ? &allocationList : nullptr;
        stream.next_in = nullptr;
        stream.avail_in = 0;
        CheckZlibResult(inflateInit2(&stream, -MAX_WBITS));
    }
    entry.compressedCount = compressed;
    entry.uncompressedLeft = header.uncompressedSize;
    entry.crc = 0;
    stream.total_out = 0;
    stream.total_in = 0;
    stream.avail_in = 0;
    entryState = EntryState::reading;
    return true;
}

uint32_t CZipHandler::ReadEntry(void* destination, uint32_t size) {
    if (entryState != EntryState::reading || destination == nullptr || size == 0)
        return 0;
    CZipEntryStream& entry = entryStream;
    z_stream& stream = entry.stream;
    const bool deflated = centralDir.currentHeader->method == Z_DEFLATED;
    stream.next_out = static_cast<Bytef*>(destination);
    stream.avail_out = std::min(size, entry.uncompressedLeft);
    uint32_t delivered = 0;

    // Once every byte was delivered, the rest of the compressed data is still consumed, so that
    // the storage stands after the data, where a data descriptor follows.
    while (stream.avail_out > 0 || (entry.uncompressedLeft == 0 && entry.compressedCount > 0)) {
        if (stream.avail_in == 0 && entry.compressedCount > 0)
            FetchEntryData();
        Bytef* const out = stream.next_out;
        const uInt inBefore = stream.avail_in;
        const uLong outBefore = stream.total_out;
        uint32_t produced = 0;
        bool ended = false;
        if (deflated) {
            const int result = inflate(&stream, Z_SYNC_FLUSH);
            produced = static_cast<uint32_t>(stream.total_out - outBefore);
            ended = result == Z_STREAM_END;
            if (!ended)
                CheckZlibResult(result);
        } else {
            produced = std::min(stream.avail_out, stream.avail_in);
            std::memcpy(out, stream.next_in, produced);
            stream.next_in += produced;
            stream.avail_in -= produced;
            stream.next_out += produced;
            stream.avail_out -= produced;
            stream.total_in += produced;
            stream.total_out += produced;
            if (entry.uncompressedLeft == produced) {
                // Stored bytes beyond the recorded size are skipped, never delivered.
                stream.next_in += stream.avail_in;
                stream.avail_in = 0;
            }
        }
        entry.crc = static_cast<uint32_t>(crc32(entry.crc, out, produced));
        entry.uncompressedLeft -= produced;
        delivered += produced;
        if (ended)
            break;
        // Input and output both stalled with nothing left to fetch: the data ended early.
        const bool stalled = produced == 0 && stream.avail_in == inBefore;
        if (stalled && stream.avail_in == 0 && entry.compressedCount == 0)
            break;
    }
    return delivered;
}

CZipHandler::CloseResult CZipHandler::CloseEntry(const std::string* filePath) {
    return EndEntry(filePath, nullptr);
}

CZipHandler::CloseResult CZipHandler::CloseEntryFile(CFile& file) {
    // The time stamp and attributes go through the file before it is closed.
    const CloseResult result = EndEntry(nullptr, &file);
    file.Close();
    return result;
}

CZipHandler::CloseResult CZipHandler::EndEntry(const std::string* filePath, CFile* openFile) {
    if (entryState != EntryState::reading)
        return CloseResult::notOpen;
    CloseResult result = EndEntryData();
    if (filePath != nullptr || openFile != nullptr)
        result = ApplyEntryStatus(filePath, openFile, *centralDir.currentHeader, result);
    EndEntryRecord();
    return result;
}

CZipHandler::CloseResult CZipHandler::EndEntryData() {
    if (entryState != EntryState::reading)
        return CloseResult::notOpen;
    const CZipEntryHeader& header = *centralDir.currentHeader;
    CloseResult result = CloseResult::whole;
    if (entryStream.uncompressedLeft != 0) {
        result = CloseResult::notWhole;
    } else if (entryStream.crc != header.crc32Value) {
        ThrowError(ZipRaw::invalidCrc);
    }
    if (header.method == Z_DEFLATED)
        inflateEnd(&entryStream.stream);
    return result;
}

void CZipHandler::EndEntryRecord() {
    if (entryState != EntryState::reading)
        return;
    centralDir.CloseEntryRecord();
    entryState = EntryState::none;
    entryStream.buffer.Release();
    FreeTrackedAllocations();
}

void CZipHandler::AbandonEntry() {
    // A new entry is half in the archive already; only the close after an exception ends it.
    if (entryState == EntryState::writing)
        return;
    entryState = EntryState::none;
    entryStream.buffer.Release();
    FreeTrackedAllocations();
    centralDir.currentHeader = nullptr;
    centralDir.localExtraField.Release();
}

// Takes the next piece of the entry's compressed data from storage as the stream's input.
void CZipHandler::FetchEntryData() {
    const uint32_t count = std::min(entryStream.compressedCount, entryStream.bufferSize);
    storage.Read(entryStream.buffer.Data(), count, false);
    DecodeBuffer(count);
    entryStream.compressedCount -= count;
    entryStream.stream.next_in = entryStream.buffer.Data();
    entryStream.stream.avail_in = count;
}

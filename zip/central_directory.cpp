// The central directory: its life cycle and its size.
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

uint32_t CZipCentralDirectory::GetDirectorySize(bool withHeaders) const {
    uint32_t size = ZipRecord::endSize + archiveComment.Size();
    if (!withHeaders)
        return size;
    for (const auto& header : headers) size += header->GetCentralRecordSize();
    return size;
}

// ---- Name index -------------------------------------------------------------------------------

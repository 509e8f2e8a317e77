// The archive object: opening and closing archives, entry queries, errors and zlib's memory.
#include "zip/zip_handler.h"

#include <cstdlib>
#include <limits>

#include "zip/zip_exception.h"

CZipHandler::CZipHandler() {
    entryStream.stream.zalloc = &CZipHandler::ZipAlloc;
    entryStream.stream.zfree = &CZipHandler::ZipFree;
    centralDir.storage = &storage;
}

CZipHandler::~CZipHandler() {
    FreeTrackedAllocations();
}

void CZipHandler::Open(const std::string& path, int mode, int32_t volumeSize) {
    if (!IsClosed(true))
        return;
    password.Release();
    entryState = EntryState::none;
    storage.Open(path, mode, volumeSize);
    centralDir.InitCentralDirectory();
    centralDir.keepExtraFields = mode != openReadOnly;
    if (mode == openExisting || mode == openReadOnly)
        centralDir.ReadCentralDirectory();
}

void CZipHandler::Close(bool afterException) {
    if (IsClosed(true) && (!afterException || IsClosed(false)))
        return;
    if (!afterException) {
        if (entryState == EntryState::reading)
            CloseEntry(nullptr);
        if (entryState == EntryState::writing)
            CloseNewEntry();
        centralDir.WriteCentralDirectory();
    } else {
        entryStream.buffer.Release();
        entryState = EntryState::none;
        FreeTrackedAllocations();
    }
    centralDir.ClearCentralDirectory();
    storage.Close(afterException);
}

bool CZipHandler::IsClosed(bool wholeArchive) const {
    if (wholeArchive)
        return storage.GetCurrentVolume() == -1;
    const CZipBigFile* file = storage.GetFile();
    return file == nullptr || !file->IsOpen();
}

int CZipHandler::GetEntryCount() const {
    return centralDir.GetCount();
}

bool CZipHandler::GetEntryInfo(CZipEntryHeader& header, uint16_t index) const {
    if (IsClosed(true) || !centralDir.IsValidIndex(index))
        return false;
    header = *centralDir.headers[index];
    return true;
}

int CZipHandler::FindEntry(const std::string& name, bool caseSensitive) {
    if (IsClosed(true))
        return -1;
    if (!centralDir.nameIndexEnabled)
        EnableNameIndex(true);
    const int position = centralDir.FindInNameIndex(name, caseSensitive);
    if (position < 0)
        return -1;
    return centralDir.nameIndex[static_cast<size_t>(position)].index;
}

void CZipHandler::EnableNameIndex(bool enable) {
    if (IsClosed(true) || centralDir.nameIndexEnabled == enable)
        return;
    centralDir.nameIndexEnabled = enable;
    if (enable)
        centralDir.BuildNameIndex();
    else
        std::vector<NameIndexEntry>().swap(centralDir.nameIndex);
}

[[noreturn]] void CZipHandler::ThrowError(int raw) const {
    const CZipBigFile* file = storage.GetFile();
    const bool named = !IsClosed(true) && file != nullptr;
    ThrowZipException(raw, named ? file->GetFilePath() : std::string());
}

int CZipHandler::CheckZlibResult(int result) const {
    if (result != Z_OK && result != Z_NEED_DICT)
        ThrowError(result);
    return result;
}

void CZipHandler::FreeTrackedAllocations() {
    for (void* block : allocationList) std::free(block);
    allocationList.clear();
}

// zlib's allocation hook. Out of memory is answered with null, which zlib reports as
// Z_MEM_ERROR: an exception must not travel through zlib's C frames.
void* CZipHandler::ZipAlloc(void* list, unsigned items, unsigned size) {
    const uint64_t bytes = uint64_t{items} * size;
    if (bytes == 0 || bytes > std::numeric_limits<size_t>::max())
        return nullptr;
    void* block = std::malloc(static_cast<size_t>(bytes));
    if (block == nullptr || list == nullptr)
        return block;
    try {
        static_cast<std::vector<void*>*>(list)->push_back(block);
    } catch (...) {
        std::free(block);
        return nullptr;
    }
    return block;
}

void CZipHandler::ZipFree(void* list, void* block) {
    if (list != nullptr) {
        auto& blocks = *static_cast<std::vector<void*>*>(list);
        for (auto it = blocks.rbegin(); it != blocks.rend(); ++it) {
            if (*it != block)
                continue;
            blocks.erase(std::next(it).base());
            break;
        }
    }
    std::free(block);
}

// The archive object: one open archive, its storage, directory, open entry and zlib memory.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "zip/central_directory.h"
#include "zip/entry_header.h"
#include "zip/entry_stream.h"
#include "zip/volume_storage.h"
#include "zip/zip_buffer.h"

class CFile;

// Progress of a copy: (total, done, user value); true to go on.
using ZipProgressCallback = bool (*)(uint32_t total, uint32_t done, intptr_t userValue);

class CZipHandler {
public:
    enum OpenMode { openExisting = 0, openReadOnly = 1, create = 2, createSpanned = 3 };

    CZipHandler();
    CZipHandler(const CZipHandler&) = delete;
    CZipHandler& operator=(const CZipHandler&) = delete;
    virtual ~CZipHandler();

    // Archive object (open, close, queries).
    void Open(const std::string& path, int mode, int32_t volumeSize);
    void Close(bool afterException);
    bool IsClosed(bool wholeArchive) const;
    // Named arguments of Close and IsClosed.
    static constexpr bool afterException = true;  // Close: drop what is open, write nothing
    static constexpr bool normally = false;       // Close: finish and write what is open
    static constexpr bool wholeArchive = true;    // IsClosed: the archive, not only its volume
    int GetEntryCount() const;
    bool GetEntryInfo(CZipEntryHeader& header, uint16_t index) const;
    // The index of the entry of that name, or -1; of several entries whose names match, the one
    // that comes first in the archive, on every open of it.
    int FindEntry(const std::string& name, bool caseSensitive);
    void EnableNameIndex(bool enable);

    // Extraction.
    bool IsEntryDirectory(uint16_t index) const;
    // How ExtractEntry writes an entry: under its path below the target folder (or its name
    // alone), under another name, with a progress callback, through a copy buffer of a size.
    struct ExtractOptions {
        bool keepFullPath = true;
        const std::string* newName = nullptr;
        ZipProgressCallback progress = nullptr;
        intptr_t userValue = 0;
        uint32_t copyBufferSize = 65535;
    };
    bool ExtractEntry(uint16_t index, const std::string& targetFolder,
                      const ExtractOptions& options) {
        return ExtractEntry(index, targetFolder, options.keepFullPath, options.newName,
                            options.progress, options.userValue, options.copyBufferSize);
    }
    bool ExtractEntry(uint16_t index, const std::string& targetFolder, bool keepFullPath,
                      const std::string* newName, ZipProgressCallback progress, intptr_t userValue,
                      uint32_t copyBufferSize);
    bool OpenEntry(uint16_t index);
    uint32_t ReadEntry(void* destination, uint32_t size);
    // How an entry read ended: whole and its CRC-32 right (and, given a path, the time stamp and
    // attributes applied); not all bytes read; the attributes not applied; or no entry was open
    // (also when the time stamp could not be set). A CRC-32 that differs throws instead.
    enum class CloseResult { notOpen = 0, whole = 1, notWhole = -1, attributesFailed = -2 };
    CloseResult CloseEntry(const std::string* filePath);
    CloseResult CloseEntryFile(CFile& file);
    // The steps ExtractEntry takes with the open entry, for a reader of its own (see
    // CZipExtractAhead): its data read in pieces of chunkSize, each handed to take until take
    // says stop; then the end of its data (CloseEntry's checks, without a file); then the end of
    // its record (a data descriptor read and compared), which closes the entry.
    void ReadEntryChunks(uint32_t chunkSize,
                         const std::function<bool(const uint8_t*, uint32_t)>& take);
    CloseResult EndEntryData();
    void EndEntryRecord();
    // Ends an entry that an exception interrupted, without its checks, so that the archive can
    // go on with other entries: as the close after an exception does for the open entry.
    void AbandonEntry();

    // Adding files.
    // Takes the entries from keep on out of the directory again, ending a new entry that AddFile
    // started but did not finish without its checks (nothing more is written for it): the
    // archive then closes as if they had never been begun. For an entry whose adding failed.
    void DropNewEntries(int keep);
    // How AddFile adds a file: at a compression level (-1: zlib's default), under its path or its
    // name alone, with a progress callback, through a read buffer of a size.
    struct AddOptions {
        int level = -1;
        bool keepFullPath = true;
        ZipProgressCallback progress = nullptr;
        intptr_t userValue = 0;
        uint32_t readBufferSize = 65535;
    };
    bool AddFile(const std::string& sourcePath, const AddOptions& options) {
        return AddFile(sourcePath, options.level, options.keepFullPath, options.progress,
                       options.userValue, options.readBufferSize);
    }
    bool AddFile(const std::string& sourcePath, int level, bool keepFullPath,
                 ZipProgressCallback progress, intptr_t userValue, uint32_t readBufferSize);
    bool OpenNewEntry(CZipEntryHeader& templateHeader, int level, const std::string* sourcePath);
    bool WriteNewEntry(const void* source, uint32_t count);
    bool CloseNewEntry();

    // Traditional encryption.
    void SetPassword(const std::string& text) { TextToBuffer(text, password); }

    // Services for the engine.
    [[noreturn]] void ThrowError(int raw) const;
    int CheckZlibResult(int result) const;
    void FreeTrackedAllocations();
    static void* ZipAlloc(void* list, unsigned items, unsigned size);
    static void ZipFree(void* list, void* block);

    CZipVolumeStorage& GetStorage() { return storage; }
    CZipCentralDirectory& GetCentralDirectory() { return centralDir; }
    // Whether an entry is open, and which way.
    enum class EntryState : int8_t { reading = -1, none = 0, writing = 1 };
    EntryState GetEntryState() const { return entryState; }

    // Traditional encryption, on the open entry (see encryption.cpp).
    void InitKeys();
    void UpdateKeys(uint8_t byte);
    uint8_t StreamByte() const;
    void DecodeByte(uint8_t& byte);
    void EncodeByte(uint8_t& byte);
    bool CheckEncryptionHeader();
    void MakeEncryptionHeader(uint32_t checkValue, uint8_t out[12]);
    void DecodeBuffer(uint32_t count);
    void EncodeBuffer();

private:
    // The engine's tests look at the zlib memory the object tracks.
    friend class CZipHandlerTestAccess;

    CZipEntryHeader* CurrentHeader() const { return centralDir.currentHeader; }
    // Closes the entry read, giving its status to the file by path or through the open file.
    CloseResult EndEntry(const std::string* filePath, CFile* openFile);
    void FlushNewEntryBuffer();
    void FetchEntryData();

    bool trackAllocations = true;
    CZipBuffer password;
    uint32_t cryptKeys[3] = {0, 0, 0};
    CZipEntryStream entryStream;
    CZipVolumeStorage storage;
    std::vector<void*> allocationList;
    EntryState entryState = EntryState::none;
    CZipCentralDirectory centralDir;
};

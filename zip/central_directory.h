// The table of contents of one open archive: end record, headers, name index.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zip/entry_header.h"
#include "zip/zip_buffer.h"

class CZipVolumeStorage;

struct NameIndexEntry {
    CZipEntryHeader* header;  // not owning
    uint16_t index;
};

class CZipCentralDirectory {
public:
    CZipCentralDirectory() = default;
    CZipCentralDirectory(const CZipCentralDirectory&) = delete;
    CZipCentralDirectory& operator=(const CZipCentralDirectory&) = delete;
    virtual ~CZipCentralDirectory() { ClearCentralDirectory(); }

    void InitCentralDirectory();
    void ReadCentralDirectory();
    void ClearCentralDirectory();
    void RemoveHeaders();
    bool IsValidIndex(int index) const;
    void OpenEntryRecord(int index);
    void CloseEntryRecord();
    void AddNewHeader(const CZipEntryHeader& templateHeader);
    void FinishNewHeader();
    void WriteCentralDirectory();
    void BuildNameIndex();
    void InsertIntoNameIndex(CZipEntryHeader* header, uint16_t index);
    int FindInNameIndex(const std::string& name, bool caseSensitive) const;
    uint32_t GetDirectorySize(bool withHeaders) const;
    int GetCount() const { return static_cast<int>(headers.size()); }
    [[noreturn]] void ThrowError(int raw) const;

    uint32_t signature = 0;
    uint16_t thisDiskNumber = 0;
    uint16_t directoryStartDisk = 0;
    uint16_t entriesOnThisDisk = 0;
    uint16_t totalEntries = 0;
    uint32_t directorySize = 0;
    uint32_t directoryOffset = 0;
    CZipBuffer archiveComment;
    bool nameIndexEnabled = false;
    CZipEntryHeader* currentHeader = nullptr;
    CZipVolumeStorage* storage = nullptr;
    uint32_t endRecordPosition = 0;
    uint32_t bytesBeforeArchive = 0;
    int32_t searchBufferSize = 32768;
    bool directoryOnDisk = false;
    std::vector<std::unique_ptr<CZipEntryHeader>> headers;
    CZipBuffer localExtraField;
    std::vector<NameIndexEntry> nameIndex;
    // The open entry's local header has a ZIP64 field.
    bool localZip64 = false;
    // Extra fields and comments stay in memory only where the directory may be written back.
    bool keepExtraFields = true;

private:
    // nameIndex ordered ignoring letter case (equal names in nameIndex's order), built when a
    // case-blind search first needs it after the index changed.
    const std::vector<NameIndexEntry>& NoCaseIndex() const;
    mutable std::vector<NameIndexEntry> noCaseIndex;
    mutable bool noCaseIndexCurrent = false;

    uint32_t LocateEndRecord();
    uint32_t ReadZip64EndRecord();
    void ReadEntryHeaders();
    void ReadZip64Descriptor(uint8_t out[12]);
    void TruncateOldDirectory();
    void WriteEntryHeaders();
    uint32_t WriteEndRecord();
    bool RemoveDataDescriptors(bool inBuffer);
};

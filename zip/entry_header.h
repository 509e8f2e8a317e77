// One archive entry: the central record's fields, name, extra field and comment.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "zip/zip_buffer.h"

class ByteWriter;
class CZipVolumeStorage;

class CZipEntryHeader {
public:
    CZipEntryHeader() = default;
    CZipEntryHeader(const CZipEntryHeader&) = default;
    CZipEntryHeader& operator=(const CZipEntryHeader&) = default;
    virtual ~CZipEntryHeader() = default;

    // A ZIP64 field's values replace the sentinels they stand for (a value that needs 64 bits is
    // refused as a damaged archive) and the field is dropped. recordSize: as read, in bytes.
    bool ReadCentralRecord(CZipVolumeStorage& storage, uint32_t* recordSize = nullptr);
    uint32_t WriteCentralRecord(CZipVolumeStorage& storage) const;
    // Reads the local header with its extra field and compares it with this (central) header,
    // sizes from a local ZIP64 field included; on success the storage stands at the entry's
    // data. localZip64: the local header has a ZIP64 field, so a data descriptor has 8-byte sizes.
    bool ReadLocalRecord(CZipVolumeStorage& storage, CZipBuffer& localExtra,
                         bool& localZip64) const;
    void WriteLocalRecord(CZipVolumeStorage& storage);
    bool PrepareNewEntry(int level, bool dataDescriptor, bool encrypted);

    std::time_t GetTime() const;
    void SetTime(std::time_t time);

    void GetCrcAndSizes(uint8_t out[12]) const;
    bool CompareCrcAndSizes(const uint8_t in[12]) const;
    uint32_t GetCentralRecordSize() const;
    uint32_t GetLocalRecordSize() const;

    bool IsEncrypted() const { return (flag & 0x0001) != 0; }
    bool HasDataDescriptor() const { return (flag & 0x0008) != 0; }

    void SetFileName(const std::string& name);
    std::string GetFileName() const { return BufferToText(fileName); }

    void ConvertSlashes(bool toLocal);
    // To archive form: OEM when the name converts there and back unchanged, else UTF-8 with the
    // UTF-8 flag set. To local form: UTF-8 when the flag says so, else from a valid Unicode path
    // extra field, else OEM. A name the local code page cannot hold exactly keeps its archive
    // bytes and is marked: HasLocalName() is then false and nothing may be written under it.
    // False when the name cannot take the form asked for exactly.
    bool ConvertCodePage(bool toOem);
    bool HasLocalName() const { return localNameExact; }
    static bool IsDirectoryAttribute(uint32_t attributes) { return (attributes & 0x10) != 0; }

    uint32_t signature = 0;
    uint16_t versionMadeBy = 0;
    uint16_t versionNeeded = 0;
    uint16_t flag = 0;
    uint16_t method = 8;
    uint16_t modTime = 0;
    uint16_t modDate = 0;
    uint32_t crc32Value = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint16_t diskNumberStart = 0;
    uint16_t internalAttributes = 0;
    uint32_t externalAttributes = 0x20;
    uint32_t localHeaderOffset = 0;
    CZipBuffer extraField;
    CZipBuffer fileName;
    CZipBuffer comment;

private:
    bool localNameExact = true;
    uint16_t archiveNameLength = 0;  // the name's length in the records, for the local compare

    void WriteSharedFields(ByteWriter& out) const;
    bool NameToLocal(const std::string& archiveName, std::string& local) const;
    bool FindUnicodePath(const std::string& archiveName, std::string& name) const;
};

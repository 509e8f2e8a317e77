// One archive entry: reading and writing its local and central records, DOS time, name forms.
#include "zip/entry_header.h"

#include <zlib.h>

#include <algorithm>

#include "platform/code_page.h"
#include "platform/system.h"
#include "zip/byte_io.h"
#include "zip/volume_storage.h"
#include "zip/zip_exception.h"
#include "zip/zip_records.h"

namespace {

constexpr uint32_t maxFieldLength = 0xFFFF;

// Reads exactly length bytes from the storage's current file into buffer; a damaged record
// that claims more than the file holds is reported as a corrupted archive.
void ReadVariableField(CZipVolumeStorage& storage, CZipBuffer& buffer, uint16_t length) {
    buffer.Allocate(length, false);
    if (length == 0)
        return;
    CZipBigFile* file = storage.GetFile();
    if (file == nullptr || file->Read(buffer.Data(), length) != length) {
        buffer.Release();
        storage.ThrowError(ZipRaw::corruptedArchive);
    }
}

// Finds the extra block with the given id; false when there is none or the field's blocks do not
// add up (a block that claims more than the field holds ends the search).
bool FindExtraBlock(const CZipBuffer& extra, uint16_t id, uint32_t& at, uint16_t& length) {
    const uint8_t* data = extra.Data();
    const uint32_t size = extra.Size();
    for (uint32_t pos = 0; pos + 4 <= size;) {
        ByteReader in(data + pos, 4);
        const uint16_t blockId = in.U16();
        const uint16_t blockLength = in.U16();
        if (pos + 4 + blockLength > size)
            return false;
        if (blockId == id) {
            at = pos + 4;
            length = blockLength;
            return true;
        }
        pos += 4 + blockLength;
    }
    return false;
}

// Takes every sentinel-valued field named (a null pointer: not this record's to give) from a
// ZIP64 extended information block, in the block's fixed order. False when the block is cut
// short or a value does not fit the engine's field: such an entry really needs 64 bits.
bool TakeZip64Values(const CZipBuffer& extra, uint32_t* uncompressed, uint32_t* compressed,
                     uint32_t* offset, uint16_t* disk, bool& present) {
    uint32_t at = 0;
    uint16_t length = 0;
    present = FindExtraBlock(extra, ZipRecord::zip64ExtraId, at, length);
    uint32_t* const wide[] = {uncompressed, compressed, offset};
    uint32_t used = 0;
    for (uint32_t* field : wide) {
        if (field == nullptr || *field != ZipRecord::sentinel32)
            continue;
        if (!present)
            return true;  // a plain value of all ones: nothing says otherwise
        if (used + 8 > length)
            return false;
        const uint64_t value = ByteReader(extra.Data() + at + used, 8).U64();
        used += 8;
        if (value > ZipRecord::sentinel32)
            return false;
        *field = static_cast<uint32_t>(value);
    }
    if (disk != nullptr && *disk == ZipRecord::sentinel16 && present) {
        if (used + 4 > length)
            return false;
        const uint32_t value = ByteReader(extra.Data() + at + used, 4).U32();
        if (value > ZipRecord::sentinel16)
            return false;
        *disk = static_cast<uint16_t>(value);
    }
    return true;
}

// Drops one block from an extra field, so that a value taken from it is not given twice when
// the record is written back with the plain field holding it.
void RemoveExtraBlock(CZipBuffer& extra, uint16_t id) {
    uint32_t at = 0;
    uint16_t length = 0;
    if (!FindExtraBlock(extra, id, at, length))
        return;
    const uint32_t start = at - 4;
    const uint32_t end = at + length;
    CZipBuffer rest(extra.Size() - (end - start), false);
    if (!rest.IsEmpty()) {
        std::copy(extra.Data(), extra.Data() + start, rest.Data());
        std::copy(extra.Data() + end, extra.Data() + extra.Size(), rest.Data() + start);
    }
    extra = rest;
}

uint16_t DeflateOptionBits(int level) {
    switch (level) {
        case 1:
            return 6;  // super fast
        case 2:
            return 4;  // fast
        case 8:
        case 9:
            return 2;  // maximum
        default:
            return 0;  // normal
    }
}

}  // namespace

bool CZipEntryHeader::ReadCentralRecord(CZipVolumeStorage& storage, uint32_t* recordSize) {
    uint8_t raw[ZipRecord::centralSize];
    storage.Read(raw, sizeof raw, true);
    ByteReader in(raw, sizeof raw);
    signature = in.U32();
    versionMadeBy = in.U16();
    versionNeeded = in.U16();
    flag = in.U16();
    method = in.U16();
    modTime = in.U16();
    modDate = in.U16();
    crc32Value = in.U32();
    compressedSize = in.U32();
    uncompressedSize = in.U32();
    const uint16_t nameLength = in.U16();
    const uint16_t extraLength = in.U16();
    const uint16_t commentLength = in.U16();
    diskNumberStart = in.U16();
    internalAttributes = in.U16();
    externalAttributes = in.U32();
    localHeaderOffset = in.U32();
    if (signature != ZipRecord::centralSignature)
        return false;

    ReadVariableField(storage, fileName, nameLength);
    archiveNameLength = nameLength;
    ReadVariableField(storage, extraField, extraLength);
    ReadVariableField(storage, comment, commentLength);
    if (recordSize != nullptr)
        *recordSize = ZipRecord::centralSize + nameLength + extraLength + commentLength;

    bool zip64 = false;
    if (!TakeZip64Values(extraField, &uncompressedSize, &compressedSize, &localHeaderOffset,
                         &diskNumberStart, zip64))
        storage.ThrowError(ZipRaw::corruptedArchive);
    if (zip64)
        RemoveExtraBlock(extraField, ZipRecord::zip64ExtraId);
    return true;
}

// The fields the local and the central record hold in the same order, from the version needed
// to the extra field's length.
void CZipEntryHeader::WriteSharedFields(ByteWriter& out) const {
    out.U16(versionNeeded)
        .U16(flag)
        .U16(method)
        .U16(modTime)
        .U16(modDate)
        .U32(crc32Value)
        .U32(compressedSize)
        .U32(uncompressedSize)
        .U16(static_cast<uint16_t>(fileName.Size()))
        .U16(static_cast<uint16_t>(extraField.Size()));
}

uint32_t CZipEntryHeader::WriteCentralRecord(CZipVolumeStorage& storage) const {
    const uint32_t size = GetCentralRecordSize();
    CZipBuffer record(size, false);
    ByteWriter out(record.Data());
    out.U32(ZipRecord::centralSignature).U16(versionMadeBy);
    WriteSharedFields(out);
    out.U16(static_cast<uint16_t>(comment.Size()))
        .U16(diskNumberStart)
        .U16(internalAttributes)
        .U32(externalAttributes)
        .U32(localHeaderOffset)
        .Bytes(fileName.Data(), fileName.Size())
        .Bytes(extraField.Data(), extraField.Size())
        .Bytes(comment.Data(), comment.Size());
    storage.Write(record.Data(), size, true);
    return size;
}

bool CZipEntryHeader::ReadLocalRecord(CZipVolumeStorage& storage, CZipBuffer& localExtra,
                                      bool& localZip64) const {
    uint8_t raw[ZipRecord::localSize];
    storage.Read(raw, sizeof raw, true);
    ByteReader in(raw, sizeof raw);
    const uint32_t localSignature = in.U32();
    in.U16();  // version needed: not compared
    const uint16_t localFlag = in.U16();
    const uint16_t localMethod = in.U16();
    in.U16();  // time and date: not compared
    in.U16();
    const uint32_t localCrc = in.U32();
    uint32_t localCompressed = in.U32();
    uint32_t localUncompressed = in.U32();
    const uint16_t nameLength = in.U16();
    const uint16_t extraLength = in.U16();

    localExtra.Release();
    localZip64 = false;
    if (localSignature != ZipRecord::localSignature)
        return false;
    if (localFlag != flag)
        return false;
    if (localMethod != method || (localMethod != 0 && localMethod != 8))
        return false;
    if (nameLength != archiveNameLength)
        return false;

    storage.GetFile()->Seek(nameLength, CFile::current);
    if (extraLength != 0) {
        // One volume holds the whole local header.
        const int32_t volume = storage.GetCurrentVolume();
        localExtra.Allocate(extraLength, false);
        storage.Read(localExtra.Data(), extraLength, true);
        if (storage.GetCurrentVolume() != volume)
            storage.ThrowError(ZipRaw::corruptedArchive);
    }
    bool zip64 = false;
    if (!TakeZip64Values(localExtra, &localUncompressed, &localCompressed, nullptr, nullptr, zip64))
        return false;
    // Only a field that holds both sizes makes the descriptor's sizes 8 bytes wide; some writers
    // leave an empty ZIP64 field in every local header and write the usual descriptor.
    uint32_t at = 0;
    uint16_t length = 0;
    localZip64 = FindExtraBlock(localExtra, ZipRecord::zip64ExtraId, at, length) && length >= 16;
    if ((localFlag & ZipRecord::flagDescriptor) == 0 &&
        (localCrc != crc32Value || localCompressed != compressedSize ||
         localUncompressed != uncompressedSize))
        return false;
    return true;
}

void CZipEntryHeader::WriteLocalRecord(CZipVolumeStorage& storage) {
    const uint32_t size = GetLocalRecordSize();
    CZipBuffer record(size, false);
    ByteWriter out(record.Data());
    out.U32(ZipRecord::localSignature);
    WriteSharedFields(out);
    out.Bytes(fileName.Data(), fileName.Size()).Bytes(extraField.Data(), extraField.Size());
    storage.Write(record.Data(), size, true);
    // The template's extra field belongs to the local header only.
    extraField.Release();
    diskNumberStart = static_cast<uint16_t>(storage.GetCurrentVolume());
    localHeaderOffset = storage.GetPosition() - size;
}

bool CZipEntryHeader::PrepareNewEntry(int level, bool dataDescriptor, bool encrypted) {
    if (fileName.Size() > maxFieldLength || extraField.Size() > maxFieldLength ||
        comment.Size() > maxFieldLength)
        return false;
    signature = ZipRecord::centralSignature;
    versionMadeBy =
        (flag & ZipRecord::flagUtf8) != 0 ? ZipRecord::versionMadeByNtfs : ZipRecord::versionMadeBy;
    versionNeeded = ZipRecord::versionNeeded;
    internalAttributes = 0;
    crc32Value = 0;
    compressedSize = 0;
    uncompressedSize = 0;

    if (level == 0)
        method = 0;
    else if (method != 0)
        method = 8;

    flag &= ZipRecord::flagUtf8;  // set by ConvertCodePage for a name that needs it
    if (method == 8)
        flag |= DeflateOptionBits(level);
    if (dataDescriptor)
        flag |= ZipRecord::flagDescriptor;
    if (encrypted) {
        flag |= ZipRecord::flagEncrypted | ZipRecord::flagDescriptor;
        compressedSize = ZipRecord::encryptionHeaderSize;
    }
    return true;
}

std::time_t CZipEntryHeader::GetTime() const {
    std::tm parts{};
    parts.tm_year = ((modDate >> 9) & 0x7F) + 1980 - 1900;
    parts.tm_mon = ((modDate >> 5) & 0x0F) - 1;
    parts.tm_mday = modDate & 0x1F;
    parts.tm_hour = (modTime >> 11) & 0x1F;
    parts.tm_min = (modTime >> 5) & 0x3F;
    parts.tm_sec = (modTime & 0x1F) * 2;
    parts.tm_isdst = -1;
    return std::mktime(&parts);
}

void CZipEntryHeader::SetTime(std::time_t time) {
    // The engine is single-threaded; the shared result of localtime is copied at once.
    const std::tm* local = std::localtime(&time);
    if (local == nullptr) {
        modTime = 0;
        modDate = 0;
        return;
    }
    const std::tm parts = *local;
    const int year = parts.tm_year + 1900;
    const unsigned yearField = year <= 1980 ? 0u : static_cast<unsigned>(year - 1980);
    modDate = static_cast<uint16_t>((yearField << 9) | ((parts.tm_mon + 1) << 5) | parts.tm_mday);
    modTime =
        static_cast<uint16_t>((parts.tm_hour << 11) | (parts.tm_min << 5) | (parts.tm_sec / 2));
}

void CZipEntryHeader::GetCrcAndSizes(uint8_t out[12]) const {
    ByteWriter(out).U32(crc32Value).U32(compressedSize).U32(uncompressedSize);
}

bool CZipEntryHeader::CompareCrcAndSizes(const uint8_t in[12]) const {
    ByteReader reader(in, ZipRecord::crcAndSizesSize);
    const uint32_t crc = reader.U32();
    const uint32_t compressed = reader.U32();
    const uint32_t uncompressed = reader.U32();
    return crc == crc32Value && compressed == compressedSize && uncompressed == uncompressedSize;
}

uint32_t CZipEntryHeader::GetCentralRecordSize() const {
    return ZipRecord::centralSize + fileName.Size() + extraField.Size() + comment.Size();
}

uint32_t CZipEntryHeader::GetLocalRecordSize() const {
    return ZipRecord::localSize + fileName.Size() + extraField.Size();
}

void CZipEntryHeader::SetFileName(const std::string& name) {
    TextToBuffer(name, fileName);
    archiveNameLength = static_cast<uint16_t>(std::min<uint32_t>(fileName.Size(), maxFieldLength));
}

void CZipEntryHeader::ConvertSlashes(bool toLocal) {
    const uint8_t from = toLocal ? '/' : '\\';
    const uint8_t to = toLocal ? '\\' : '/';
    uint8_t* data = fileName.Data();
    std::replace(data, data + fileName.Size(), from, to);
}

bool CZipEntryHeader::ConvertCodePage(bool toOem) {
    const std::string name = GetFileName();
    std::string converted;
    bool exact = true;
    if (toOem) {
        flag &= ~ZipRecord::flagUtf8;
        if (!platform::LocalToOem(name, converted)) {
            exact = platform::LocalToUtf8(name, converted);
            if (exact)
                flag |= ZipRecord::flagUtf8;
            else
                converted = name;
        }
    } else {
        exact = NameToLocal(name, converted);
        localNameExact = exact;
        if (!exact)
            converted = name;
    }
    SetFileName(converted);
    const size_t archiveLength = toOem ? converted.size() : name.size();
    archiveNameLength = static_cast<uint16_t>(std::min<size_t>(archiveLength, maxFieldLength));
    return exact;
}

bool CZipEntryHeader::NameToLocal(const std::string& archiveName, std::string& local) const {
    if ((flag & ZipRecord::flagUtf8) != 0)
        return platform::Utf8ToLocal(archiveName, local);
    std::string unicodeName;
    if (FindUnicodePath(archiveName, unicodeName))
        return platform::Utf8ToLocal(unicodeName, local);
    return platform::OemToLocal(archiveName, local);
}

// The name an Info-ZIP Unicode path field gives, when the field is whole and still belongs to
// the name beside it (its CRC-32 matches the raw name: a tool that renamed the entry without
// knowing the field left it stale).
bool CZipEntryHeader::FindUnicodePath(const std::string& archiveName, std::string& name) const {
    const uint8_t* data = extraField.Data();
    const uint32_t size = extraField.Size();
    for (uint32_t pos = 0; pos + 4 <= size;) {
        ByteReader in(data + pos, 4);
        const uint16_t id = in.U16();
        const uint16_t length = in.U16();
        if (pos + 4 + length > size)
            return false;
        if (id == ZipRecord::unicodePathExtraId && length >= 5 &&
            data[pos + 4] == ZipRecord::unicodePathVersion) {
            const uint32_t expected = ByteReader(data + pos + 5, 4).U32();
            const auto* raw = reinterpret_cast<const Bytef*>(archiveName.data());
            if (crc32(0, raw, static_cast<uInt>(archiveName.size())) != expected)
                return false;
            name.assign(reinterpret_cast<const char*>(data + pos + 9), length - 5);
            return true;
        }
        pos += 4 + length;
    }
    return false;
}

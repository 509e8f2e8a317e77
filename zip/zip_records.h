// Signatures and fixed sizes of the ZIP records the engine reads and writes.
#pragma once

#include <cstdint>

namespace ZipRecord {
constexpr uint32_t localSignature = 0x04034b50;
constexpr uint32_t centralSignature = 0x02014b50;
constexpr uint32_t endSignature = 0x06054b50;
constexpr uint32_t descriptorSignature = 0x08074b50;  // also the span marker

constexpr uint32_t localSize = 30;
constexpr uint32_t centralSize = 46;
constexpr uint32_t endSize = 22;
constexpr uint32_t descriptorSize = 16;  // with signature, as the engine writes it
constexpr uint32_t crcAndSizesSize = 12;
constexpr uint32_t spanMarkerSize = 4;
constexpr uint32_t encryptionHeaderSize = 12;

constexpr uint32_t localCrcOffset = 14;  // crc-32, compressed and uncompressed size follow
constexpr uint32_t maxEndSearch = endSize + 65535;

constexpr uint16_t versionMadeBy = 20;  // 2.0 on MS-DOS (FAT): names in the OEM code page
// 2.0 on NTFS, for UTF-8 names: Info-ZIP's unzip reads a name from a FAT host as OEM even when
// the entry is flagged UTF-8, and shows it garbled.
constexpr uint16_t versionMadeByNtfs = 0x0B00 | 20;
constexpr uint16_t versionNeeded = 20;

constexpr uint16_t flagEncrypted = 0x0001;
constexpr uint16_t flagDescriptor = 0x0008;
constexpr uint16_t flagUtf8 = 0x0800;  // the name (and comment) are UTF-8

constexpr uint16_t zip64ExtraId = 0x0001;  // 64-bit sizes, offset and disk of one entry
constexpr uint32_t zip64EndSignature = 0x06064b50;
constexpr uint32_t zip64LocatorSignature = 0x07064b50;
constexpr uint32_t zip64EndSize = 56;         // without its extensible data
constexpr uint32_t zip64LocatorSize = 20;     // just before the end record
constexpr uint32_t zip64DescriptorSize = 20;  // crc-32, then 8-byte sizes; without signature
// A 32-bit or 16-bit field with all bits set: the value stands in a ZIP64 record.
constexpr uint32_t sentinel32 = 0xFFFFFFFF;
constexpr uint16_t sentinel16 = 0xFFFF;

constexpr uint16_t unicodePathExtraId = 0x7075;  // Info-ZIP: version 1, CRC-32 of the name, UTF-8
constexpr uint8_t unicodePathVersion = 1;
}  // namespace ZipRecord

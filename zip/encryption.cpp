// The traditional PKWARE stream cipher: keys, the 12-byte encryption header, buffer coding.
#include "zip/encryption.h"

#include <zlib.h>

#include <cstdlib>
#include <ctime>

#include "platform/system.h"
#include "zip/zip_handler.h"
#include "zip/zip_records.h"

namespace {

uint32_t Crc32Step(uint32_t crc, uint8_t byte) {
    static const z_crc_t* const table = get_crc_table();
    return (crc >> 8) ^ static_cast<uint32_t>(table[(crc ^ byte) & 0xFF]);
}

}  // namespace

uint8_t EncryptionHeaderByte(int randomValue) {
    const auto value = static_cast<uint32_t>(randomValue);
    const auto middle = static_cast<uint8_t>(value >> 6);
    return middle != 0 ? middle : static_cast<uint8_t>(value);
}

void CZipHandler::InitKeys() {
    cryptKeys[0] = 0x12345678;
    cryptKeys[1] = 0x23456789;
    cryptKeys[2] = 0x34567890;
    for (uint32_t i = 0; i < password.Size(); ++i) UpdateKeys(password.Data()[i]);
}

void CZipHandler::UpdateKeys(uint8_t byte) {
    cryptKeys[0] = Crc32Step(cryptKeys[0], byte);
    cryptKeys[1] = (cryptKeys[1] + (cryptKeys[0] & 0xFF)) * 134775813u + 1;
    cryptKeys[2] = Crc32Step(cryptKeys[2], static_cast<uint8_t>(cryptKeys[1] >> 24));
}

uint8_t CZipHandler::StreamByte() const {
    const uint32_t t = (cryptKeys[2] & 0xFFFF) | 2;
    return static_cast<uint8_t>((t * (t ^ 1)) >> 8);
}

void CZipHandler::DecodeByte(uint8_t& byte) {
    byte ^= StreamByte();
    UpdateKeys(byte);
}

void CZipHandler::EncodeByte(uint8_t& byte) {
    const uint8_t key = StreamByte();
    UpdateKeys(byte);
    byte ^= key;
}

bool CZipHandler::CheckEncryptionHeader() {
    uint8_t header[ZipRecord::encryptionHeaderSize];
    storage.Read(header, sizeof header, false);
    for (uint8_t& byte : header) DecodeByte(byte);
    // Entries written streamed cannot know their CRC-32 up front, so they check the time instead.
    const CZipEntryHeader& entry = *CurrentHeader();
    const auto check = entry.HasDataDescriptor() ? static_cast<uint8_t>(entry.modTime >> 8)
                                                 : static_cast<uint8_t>(entry.crc32Value >> 24);
    return header[sizeof header - 1] == check;
}

void CZipHandler::MakeEncryptionHeader(uint32_t checkValue, uint8_t out[12]) {
    InitKeys();
    const auto now = static_cast<uint32_t>(std::time(nullptr));
    std::srand(now * platform::GetTickCountMs());
    for (int i = 0; i < 10; ++i) {
        uint8_t byte = EncryptionHeaderByte(std::rand());
        EncodeByte(byte);
        out[i] = byte;
    }
    for (int i = 10; i < 12; ++i) {
        auto byte = static_cast<uint8_t>(checkValue >> (8 * (i - 8)));
        EncodeByte(byte);
        out[i] = byte;
    }
}

void CZipHandler::DecodeBuffer(uint32_t count) {
    const CZipEntryHeader* entry = CurrentHeader();
    if (entry == nullptr || !entry->IsEncrypted())
        return;
    uint8_t* data = entryStream.buffer.Data();
    for (uint32_t i = 0; i < count; ++i) DecodeByte(data[i]);
}

void CZipHandler::EncodeBuffer() {
    const CZipEntryHeader* entry = CurrentHeader();
    if (entry == nullptr || !entry->IsEncrypted())
        return;
    uint8_t* data = entryStream.buffer.Data();
    for (uint32_t i = 0; i < entryStream.compressedCount; ++i) EncodeByte(data[i]);
}

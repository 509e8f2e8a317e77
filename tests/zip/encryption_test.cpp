// Tests of the traditional encryption: the cipher, the encryption header and encrypted entries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "zip/encryption.h"
#include "zip/zip_exception.h"
#include "zip/zip_handler.h"
#include "zip/zip_test_data.h"

using test_support::Exists;
using test_support::ReadFile;
using test_support::TempFolder;
using test_support::WriteFile;
using zip_test_data::InfoOf;
using zip_test_data::MixedData;
using zip_test_data::U16At;
using zip_test_data::U32At;

namespace {

// An archive holding data.bin (deflated) and raw.bin (stored), written under password.
std::string EncryptedArchive(const TempFolder& folder, const std::string& data,
                             const std::string& password) {
    WriteFile(folder.Join("data.bin"), data);
    WriteFile(folder.Join("raw.bin"), data);
    const std::string path = folder.Join("secret.zip");
    CZipHandler zip;
    zip.Open(path, CZipHandler::create, 0);
    zip.SetPassword(password);
    EXPECT_TRUE(zip.AddFile(folder.Join("data.bin"), 6, false, nullptr, 0, 65535));
    EXPECT_TRUE(zip.AddFile(folder.Join("raw.bin"), 0, false, nullptr, 0, 65535));
    zip.Close(false);
    return path;
}

}  // namespace

TEST(Encryption, DecodesKnownCipherText) {
    // Reference plain bytes for cipher bytes 0, 10, 20, ... 150 under the password "secret".
    const std::vector<uint8_t> expected = {0xc8, 0x45, 0x1a, 0xf8, 0xde, 0xbb, 0x03, 0x41,
                                           0x94, 0xd4, 0xb6, 0xc8, 0x1d, 0x94, 0x6d, 0x3c};
    CZipHandler zip;
    zip.SetPassword("secret");
    zip.InitKeys();
    for (size_t i = 0; i < expected.size(); ++i) {
        auto byte = static_cast<uint8_t>(i * 10);
        zip.DecodeByte(byte);
        EXPECT_EQ(byte, expected[i]) << "byte " << i;
    }
}

TEST(Encryption, EncryptThenDecryptGivesPlainBytesWhateverTheChunks) {
    const std::string plain = MixedData(5000, 3);
    CZipHandler zip;
    zip.SetPassword("pass word");
    zip.InitKeys();
    std::string cipher = plain;
    for (char& c : cipher) zip.EncodeByte(reinterpret_cast<uint8_t&>(c));
    EXPECT_NE(cipher, plain);
    for (const size_t chunk : {size_t{1}, size_t{7}, size_t{4096}, size_t{5000}}) {
        std::string decoded = cipher;
        zip.InitKeys();
        for (size_t at = 0; at < decoded.size(); at += chunk) {
            const size_t end = std::min(decoded.size(), at + chunk);
            for (size_t i = at; i < end; ++i)
                zip.DecodeByte(reinterpret_cast<uint8_t&>(decoded[i]));
        }
        EXPECT_TRUE(decoded == plain) << "chunk " << chunk;
    }
}

TEST(Encryption, HeaderBytesTakeBitsSixToThirteenOrElseTheLowByte) {
    EXPECT_EQ(EncryptionHeaderByte(0x3FC0), 0xFF);
    EXPECT_EQ(EncryptionHeaderByte(0x0040), 0x01);
    EXPECT_EQ(EncryptionHeaderByte(0x003F), 0x3F);         // bits 6-13 all clear
    EXPECT_EQ(EncryptionHeaderByte(0x4000 | 0x15), 0x15);  // bit 14 is not one of them
    EXPECT_EQ(EncryptionHeaderByte(0x7FFF), 0xFF);
}

TEST(Encryption, HeaderCarriesCheckBytesUnderItsPasswordOnly) {
    CZipHandler zip;
    zip.SetPassword("secret");
    uint8_t header[12];
    zip.MakeEncryptionHeader(0xA1B20000u, header);
    std::vector<uint8_t> right(header, header + 12);
    zip.InitKeys();
    for (uint8_t& b : right) zip.DecodeByte(b);
    EXPECT_EQ(right[10], 0xB2);
    EXPECT_EQ(right[11], 0xA1);
    std::vector<uint8_t> wrong(header, header + 12);
    zip.SetPassword("Secret");
    zip.InitKeys();
    for (uint8_t& b : wrong) zip.DecodeByte(b);
    EXPECT_NE(wrong, right);
}

TEST(Encryption, EncryptedEntriesRoundTripAndCarryTheirFlags) {
    TempFolder folder;
    const std::string data = MixedData(70000, 11);
    const std::string archive = EncryptedArchive(folder, data, "secret");
    const std::string bytes = ReadFile(archive);
    EXPECT_EQ(U16At(bytes, 6) & 0x0009, 0x0009);  // encrypted, data descriptor
    CZipHandler zip;
    zip.Open(archive, CZipHandler::openReadOnly, 0);
    ASSERT_EQ(zip.GetEntryCount(), 2);
    const CZipEntryHeader deflated = InfoOf(zip, 0);
    const CZipEntryHeader stored = InfoOf(zip, 1);
    EXPECT_EQ(stored.compressedSize, data.size() + 12);
    EXPECT_EQ(deflated.crc32Value, zip_test_data::Crc(data));
    // Not spanned: the local header holds the real CRC-32 and sizes as well.
    EXPECT_EQ(U32At(bytes, 14), deflated.crc32Value);
    EXPECT_EQ(U32At(bytes, 18), deflated.compressedSize);
    EXPECT_EQ(U32At(bytes, 22), deflated.uncompressedSize);
    zip.SetPassword("secret");
    for (uint16_t i = 0; i < 2; ++i) {
        ASSERT_TRUE(zip.ExtractEntry(i, folder.Join("out"), false, nullptr, nullptr, 0, 100000));
    }
    EXPECT_TRUE(ReadFile(folder.Join("out\\data.bin")) == data);
    EXPECT_TRUE(ReadFile(folder.Join("out\\raw.bin")) == data);
}

TEST(Encryption, WithoutPasswordEntryIsRefusedAndNothingRead) {
    TempFolder folder;
    const std::string archive = EncryptedArchive(folder, "hidden", "secret");
    CZipHandler zip;
    zip.Open(archive, CZipHandler::openReadOnly, 0);
    EXPECT_FALSE(zip.OpenEntry(0));
    EXPECT_EQ(zip.GetEntryState(), CZipHandler::EntryState::none);
    char buffer[16];
    EXPECT_EQ(zip.ReadEntry(buffer, sizeof buffer), 0u);
    EXPECT_FALSE(zip.ExtractEntry(0, folder.Join("out"), false, nullptr, nullptr, 0, 100));
    EXPECT_FALSE(Exists(folder.Join("out\\data.bin")));
    zip.SetPassword("secret");
    EXPECT_TRUE(zip.ExtractEntry(0, folder.Join("out"), false, nullptr, nullptr, 0, 100));
}

TEST(Encryption, WrongPasswordsFailOnTheHeaderOrLaterOnTheData) {
    TempFolder folder;
    const std::string archive = EncryptedArchive(folder, MixedData(3000, 1), "secret");
    int headerFailures = 0;
    for (int attempt = 0; attempt < 8; ++attempt) {
        CZipHandler zip;
        zip.Open(archive, CZipHandler::openReadOnly, 0);
        zip.SetPassword("wrong" + std::to_string(attempt));
        for (uint16_t i = 0; i < 2; ++i) {
            try {
                // One time in 256 the check byte matches; the data must then fail.
                EXPECT_FALSE(
                    zip.ExtractEntry(i, folder.Join("out"), false, nullptr, nullptr, 0, 4096));
            } catch (const CZipException& e) {
                if (e.code == CZipException::badArchivePassword)
                    ++headerFailures;
                EXPECT_TRUE(e.code == CZipException::badArchivePassword ||
                            e.code == CZipException::dataError ||
                            e.code == CZipException::bufError ||
                            e.code == CZipException::invalidCrc ||
                            e.code == CZipException::corruptedArchive)
                    << e.code;
            }
            zip.AbandonEntry();
        }
        zip.Close(true);
    }
    EXPECT_GT(headerFailures, 0);
}

TEST(Encryption, EncryptedSpannedEntriesKeepDescriptorsAndRead) {
    TempFolder folder;
    const std::string data = MixedData(20000, 5);
    WriteFile(folder.Join("a.bin"), data);
    const std::string archive = folder.Join("span.zip");
    {
        CZipHandler zip;
        zip.Open(archive, CZipHandler::createSpanned, 12000);
        zip.SetPassword("pw");
        ASSERT_TRUE(zip.AddFile(folder.Join("a.bin"), 0, false, nullptr, 0, 65535));
        ASSERT_TRUE(zip.AddFile(folder.Join("a.bin"), 9, true, nullptr, 0, 65535));
        zip.Close(false);
    }
    CZipHandler zip;
    zip.Open(archive, CZipHandler::openReadOnly, 1);
    zip.SetPassword("pw");
    ASSERT_EQ(zip.GetEntryCount(), 2);
    ASSERT_TRUE(zip.ExtractEntry(0, folder.Join("o1"), false, nullptr, nullptr, 0, 65535));
    ASSERT_TRUE(zip.ExtractEntry(1, folder.Join("o2"), false, nullptr, nullptr, 0, 65535));
    EXPECT_TRUE(ReadFile(folder.Join("o1\\a.bin")) == data);
    EXPECT_TRUE(ReadFile(folder.Join("o2\\a.bin")) == data);
}

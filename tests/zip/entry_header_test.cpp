// Tests of the entry header: new-entry values, DOS time, name forms and the local/central records.
#include "zip/entry_header.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <ctime>

#include "support/test_support.h"
#include "zip/volume_storage.h"
#include "zip/zip_exception.h"
#include "zip/zip_records.h"

namespace {

struct LevelCase {
    int level;
    uint16_t deflateBits;
};

TEST(EntryHeaderTest, PrepareNewEntry_SetsFlagBitsFromLevel) {
    const LevelCase cases[] = {{1, 6}, {2, 4}, {3, 0}, {6, 0}, {8, 2}, {9, 2}, {-1, 0}};
    for (const LevelCase& c : cases) {
        for (int extras = 0; extras < 4; ++extras) {
            const bool descriptor = (extras & 1) != 0;
            const bool encrypted = (extras & 2) != 0;
            CZipEntryHeader header;
            // The template's flag is discarded but for the UTF-8 bit, which tells the name's form.
            const uint16_t utf8 = extras == 3 ? 0x0800 : 0;
            header.flag = static_cast<uint16_t>(0xF7FF | utf8);
            ASSERT_TRUE(header.PrepareNewEntry(c.level, descriptor, encrypted));
            uint16_t expected = c.deflateBits | utf8;
            if (descriptor || encrypted)
                expected |= 8;
            if (encrypted)
                expected |= 1;
            EXPECT_EQ(header.method, 8) << "level " << c.level;
            EXPECT_EQ(header.flag, expected) << "level " << c.level << " extras " << extras;
            EXPECT_EQ(header.compressedSize, encrypted ? 12u : 0u);
        }
    }
}

TEST(EntryHeaderTest, PrepareNewEntry_ChoosesMethodFromLevelAndTemplate) {
    CZipEntryHeader stored;
    ASSERT_TRUE(stored.PrepareNewEntry(0, false, false));
    EXPECT_EQ(stored.method, 0);
    EXPECT_EQ(stored.flag, 0);

    CZipEntryHeader storedTemplate;
    storedTemplate.method = 0;
    ASSERT_TRUE(storedTemplate.PrepareNewEntry(6, false, false));
    EXPECT_EQ(storedTemplate.method, 0);
    EXPECT_EQ(storedTemplate.flag & 6, 0);

    CZipEntryHeader oddTemplate;
    oddTemplate.method = 12;
    ASSERT_TRUE(oddTemplate.PrepareNewEntry(6, false, false));
    EXPECT_EQ(oddTemplate.method, 8);

    CZipEntryHeader header;
    header.crc32Value = 5;
    header.uncompressedSize = 7;
    header.internalAttributes = 3;
    header.externalAttributes = 0x10;
    header.modTime = 99;
    ASSERT_TRUE(header.PrepareNewEntry(6, false, false));
    EXPECT_EQ(header.signature, ZipRecord::centralSignature);
    EXPECT_EQ(header.versionMadeBy, 20);
    EXPECT_EQ(header.versionNeeded, 20);
    EXPECT_EQ(header.crc32Value, 0u);
    EXPECT_EQ(header.uncompressedSize, 0u);
    EXPECT_EQ(header.internalAttributes, 0);
    EXPECT_EQ(header.externalAttributes, 0x10u);  // left as the caller set it
    EXPECT_EQ(header.modTime, 99);
}

TEST(EntryHeaderTest, PrepareNewEntry_RefusesFieldsLongerThan65535) {
    CZipEntryHeader longName;
    longName.SetFileName(std::string(65536, 'a'));
    EXPECT_FALSE(longName.PrepareNewEntry(6, false, false));

    CZipEntryHeader longComment;
    longComment.SetFileName("a");
    longComment.comment.Allocate(65536, true);
    EXPECT_FALSE(longComment.PrepareNewEntry(6, false, false));

    CZipEntryHeader longest;
    longest.SetFileName(std::string(65535, 'a'));
    longest.extraField.Allocate(65535, true);
    EXPECT_TRUE(longest.PrepareNewEntry(6, false, false));
}

std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    parts.tm_isdst = -1;
    return std::mktime(&parts);
}

TEST(EntryHeaderTest, SetTime_PacksLocalTimeIntoDosFields) {
    CZipEntryHeader header;
    header.SetTime(LocalTime(2005, 12, 31, 23, 59, 59));
    EXPECT_EQ(header.modDate >> 9, 25);
    EXPECT_EQ((header.modDate >> 5) & 0xF, 12);
    EXPECT_EQ(header.modDate & 0x1F, 31);
    EXPECT_EQ(header.modTime >> 11, 23);
    EXPECT_EQ((header.modTime >> 5) & 0x3F, 59);
    EXPECT_EQ(header.modTime & 0x1F, 29);

    header.SetTime(LocalTime(1979, 7, 14, 10, 0, 0));
    EXPECT_EQ(header.modDate >> 9, 0);
    EXPECT_EQ((header.modDate >> 5) & 0xF, 7);
    EXPECT_EQ(header.modDate & 0x1F, 14);
}

TEST(EntryHeaderTest, GetTime_UnpacksDosFieldsAsLocalTime) {
    CZipEntryHeader header;
    header.modDate = (0 << 9) | (1 << 5) | 1;
    header.modTime = 0;
    EXPECT_EQ(header.GetTime(), LocalTime(1980, 1, 1, 0, 0, 0));

    const std::time_t when = LocalTime(2017, 10, 31, 21, 11, 58);
    header.SetTime(when);
    EXPECT_EQ(header.GetTime(), when);
}

TEST(EntryHeaderTest, ConvertSlashes_SwapsEverySeparator) {
    CZipEntryHeader header;
    header.SetFileName("Sub/Dir\\cafe.txt");
    header.ConvertSlashes(true);
    EXPECT_EQ(header.GetFileName(), "Sub\\Dir\\cafe.txt");
    header.ConvertSlashes(false);
    EXPECT_EQ(header.GetFileName(), "Sub/Dir/cafe.txt");
}

// A name the OEM code page holds is written there (e acute is 0x82 in the Western OEM pages);
// any other in UTF-8 with flag bit 11; both read back exactly.
TEST(EntryHeaderTest, ConvertCodePage_OemWhereItFitsElseUtf8) {
    struct Case {
        const char* utf8;
        const char* archive;
        bool utf8Flag;
    };
    for (const Case& c : {Case{"caf\u00E9.txt", "caf\x82.txt", false},
                          Case{"\u20AC \u00D8re.txt", "\u20AC \u00D8re.txt", true},
                          Case{"plain.txt", "plain.txt", false}}) {
        const std::string local = test_support::Local(c.utf8);
        ASSERT_FALSE(local.empty()) << c.utf8;
        CZipEntryHeader header;
        header.SetFileName(local);
        EXPECT_TRUE(header.ConvertCodePage(true));
        EXPECT_EQ(header.GetFileName(), c.archive);
        EXPECT_EQ((header.flag & 0x0800) != 0, c.utf8Flag) << c.utf8;
        EXPECT_TRUE(header.ConvertCodePage(false));
        EXPECT_TRUE(header.HasLocalName());
        EXPECT_EQ(header.GetFileName(), local);
    }
}

// The Unicode path field names the entry only while its CRC-32 still matches the raw name.
TEST(EntryHeaderTest, ConvertCodePage_TakesAUnicodePathFieldThatMatchesTheRawName) {
    const std::string raw = "snd/Gr__e.wav";
    const std::string utf8 = "snd/Gr\u00FC\u00DFe.wav";
    for (const bool stale : {false, true}) {
        const uint32_t crc =
            static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(raw.data()),
                                        static_cast<uInt>(raw.size()))) ^
            (stale ? 1u : 0u);
        std::string field = "\x75\x70";
        field += static_cast<char>(5 + utf8.size());
        field += '\0';
        field += '\x01';
        for (int shift = 0; shift < 32; shift += 8) field += static_cast<char>(crc >> shift);
        field = std::string(
                    "\x01\x02\x03\x00"
                    "abc",
                    7) +
                field + utf8;  // another field first
        CZipEntryHeader header;
        header.SetFileName(raw);
        header.extraField.Allocate(static_cast<uint32_t>(field.size()), false);
        std::copy(field.begin(), field.end(), header.extraField.Data());
        EXPECT_TRUE(header.ConvertCodePage(false));
        EXPECT_EQ(header.GetFileName(), stale ? raw : test_support::Local(utf8)) << stale;
    }
}

TEST(EntryHeaderTest, CrcAndSizes_RoundTripInDescriptorOrder) {
    CZipEntryHeader header;
    header.crc32Value = 0x11223344;
    header.compressedSize = 0x55;
    header.uncompressedSize = 0x66778899;
    uint8_t bytes[12];
    header.GetCrcAndSizes(bytes);
    EXPECT_EQ(bytes[0], 0x44);
    EXPECT_EQ(bytes[4], 0x55);
    EXPECT_EQ(bytes[11], 0x66);
    EXPECT_TRUE(header.CompareCrcAndSizes(bytes));
    bytes[8] ^= 1;
    EXPECT_FALSE(header.CompareCrcAndSizes(bytes));
}

// A storage over a fresh file, into which a test writes records and reads them back.
class RecordFile : public ::testing::Test {
protected:
    void SetUp() override { storage.Open(folder.Join("records.bin"), 2, 0); }
    void TearDown() override { storage.Close(true); }

    void Rewind() {
        storage.Flush();
        storage.GetFile()->Seek(0, CFile::begin);
    }
    void WriteRaw(const std::string& bytes) {
        storage.Write(bytes.data(), static_cast<uint32_t>(bytes.size()), true);
    }

    static CZipEntryHeader MakeHeader() {
        CZipEntryHeader header;
        header.SetFileName("dir/file.txt");
        header.PrepareNewEntry(6, false, false);
        header.crc32Value = 0xCAFEBABE;
        header.compressedSize = 10;
        header.uncompressedSize = 20;
        return header;
    }

    test_support::TempFolder folder;
    CZipVolumeStorage storage;
};

TEST_F(RecordFile, ReadLocalRecord_AcceptsMatchingHeaderAndSkipsName) {
    CZipEntryHeader header = MakeHeader();
    header.extraField.Allocate(5, true);
    WriteRaw("xyz");
    header.WriteLocalRecord(storage);
    EXPECT_EQ(header.localHeaderOffset, 3u);
    EXPECT_EQ(header.diskNumberStart, 0);
    EXPECT_TRUE(header.extraField.IsEmpty());  // the extra field goes to the local header only

    storage.Flush();
    storage.GetFile()->Seek(3, CFile::begin);
    CZipBuffer extra;
    bool zip64 = true;
    ASSERT_TRUE(header.ReadLocalRecord(storage, extra, zip64));
    EXPECT_EQ(extra.Size(), 5u);
    EXPECT_FALSE(zip64);
    EXPECT_EQ(storage.GetFile()->GetPosition(), 3u + 30 + 12 + 5);
}

TEST_F(RecordFile, ReadLocalRecord_RejectsEachMismatch) {
    const CZipEntryHeader written = MakeHeader();
    CZipEntryHeader copy = written;
    copy.WriteLocalRecord(storage);

    auto check = [&](const CZipEntryHeader& central) {
        Rewind();
        CZipBuffer extra;
        bool zip64 = false;
        return central.ReadLocalRecord(storage, extra, zip64);
    };
    EXPECT_TRUE(check(written));

    CZipEntryHeader longerName = written;
    longerName.SetFileName("dir/file.txtx");
    EXPECT_FALSE(check(longerName));
    CZipEntryHeader shorterName = written;
    shorterName.SetFileName("dir/file.tx");
    EXPECT_FALSE(check(shorterName));

    CZipEntryHeader otherFlag = written;
    otherFlag.flag ^= 0x0800;
    EXPECT_FALSE(check(otherFlag));
    CZipEntryHeader otherMethod = written;
    otherMethod.method = 0;
    EXPECT_FALSE(check(otherMethod));
    CZipEntryHeader otherCrc = written;
    otherCrc.crc32Value ^= 1;
    EXPECT_FALSE(check(otherCrc));
    CZipEntryHeader otherSize = written;
    otherSize.uncompressedSize += 1;
    EXPECT_FALSE(check(otherSize));

    // Time and date are not compared.
    CZipEntryHeader otherTime = written;
    otherTime.modTime ^= 0x10;
    EXPECT_TRUE(check(otherTime));
}

TEST_F(RecordFile, ReadLocalRecord_DescriptorBitExcusesZeroCrcAndSizes) {
    CZipEntryHeader local = MakeHeader();
    local.flag |= 8;
    local.crc32Value = local.compressedSize = local.uncompressedSize = 0;
    local.WriteLocalRecord(storage);

    CZipEntryHeader central = MakeHeader();
    central.flag |= 8;
    Rewind();
    CZipBuffer extra;
    bool zip64 = false;
    EXPECT_TRUE(central.ReadLocalRecord(storage, extra, zip64));
}

TEST_F(RecordFile, ReadLocalRecord_WithoutDescriptorBitZeroValuesMustMatch) {
    CZipEntryHeader local = MakeHeader();
    local.crc32Value = local.compressedSize = local.uncompressedSize = 0;
    local.WriteLocalRecord(storage);

    CZipBuffer extra;
    bool zip64 = false;
    Rewind();
    EXPECT_FALSE(MakeHeader().ReadLocalRecord(storage, extra, zip64));
    CZipEntryHeader zero = MakeHeader();
    zero.crc32Value = zero.compressedSize = zero.uncompressedSize = 0;
    Rewind();
    EXPECT_TRUE(zero.ReadLocalRecord(storage, extra, zip64));
}

TEST_F(RecordFile, ReadLocalRecord_RejectsUnsupportedMethodAndWrongSignature) {
    CZipEntryHeader bzip = MakeHeader();
    bzip.method = 12;
    bzip.WriteLocalRecord(storage);
    CZipBuffer extra;
    bool zip64 = false;
    Rewind();
    EXPECT_FALSE(bzip.ReadLocalRecord(storage, extra, zip64));

    CZipEntryHeader central = MakeHeader();
    central.WriteCentralRecord(storage);
    Rewind();
    EXPECT_FALSE(central.ReadLocalRecord(storage, extra, zip64));
}

TEST_F(RecordFile, CentralRecord_RoundTripsEveryField) {
    CZipEntryHeader written = MakeHeader();
    written.extraField.Allocate(4, true);
    written.extraField.Data()[2] = 7;
    TextToBuffer("a comment", written.comment);
    written.diskNumberStart = 3;
    written.localHeaderOffset = 0x12345678;
    written.externalAttributes = 0x81ED0010;
    written.modDate = 0x5021;
    EXPECT_EQ(written.WriteCentralRecord(storage), 46u + 12 + 4 + 9);

    Rewind();
    CZipEntryHeader read;
    ASSERT_TRUE(read.ReadCentralRecord(storage));
    EXPECT_EQ(read.GetFileName(), "dir/file.txt");
    EXPECT_EQ(BufferToText(read.comment), "a comment");
    ASSERT_EQ(read.extraField.Size(), 4u);
    EXPECT_EQ(read.extraField.Data()[2], 7);
    EXPECT_EQ(read.diskNumberStart, 3);
    EXPECT_EQ(read.localHeaderOffset, 0x12345678u);
    EXPECT_EQ(read.externalAttributes, 0x81ED0010u);
    EXPECT_EQ(read.modDate, 0x5021);
    EXPECT_EQ(read.crc32Value, 0xCAFEBABEu);
    EXPECT_EQ(read.GetCentralRecordSize(), written.GetCentralRecordSize());
    EXPECT_EQ(storage.GetFile()->GetPosition(), written.GetCentralRecordSize());
}

TEST_F(RecordFile, ReadCentralRecord_WrongSignatureReadsNothingMore) {
    CZipEntryHeader local = MakeHeader();
    local.WriteLocalRecord(storage);
    WriteRaw(std::string(100, 'z'));
    Rewind();
    CZipEntryHeader read;
    EXPECT_FALSE(read.ReadCentralRecord(storage));
    EXPECT_EQ(storage.GetFile()->GetPosition(), 46u);
}

TEST_F(RecordFile, ReadCentralRecord_NameBeyondEndOfFileIsCorruptedArchive) {
    CZipEntryHeader written = MakeHeader();
    written.SetFileName(std::string(300, 'n'));
    written.WriteCentralRecord(storage);
    storage.Flush();
    storage.GetFile()->SetLength(46 + 100);
    Rewind();
    CZipEntryHeader read;
    try {
        read.ReadCentralRecord(storage);
        FAIL() << "a cut name was accepted";
    } catch (const CZipException& e) {
        EXPECT_EQ(e.code, CZipException::corruptedArchive);
    }
}

TEST_F(RecordFile, ReadCentralRecord_CommentBeyondEndOfFileIsCorruptedArchive) {
    CZipEntryHeader written = MakeHeader();
    written.comment.Allocate(1000, true);
    written.WriteCentralRecord(storage);
    storage.Flush();
    storage.GetFile()->SetLength(46 + 12 + 999);
    Rewind();
    CZipEntryHeader read;
    EXPECT_THROW(read.ReadCentralRecord(storage), CZipException);
}

}  // namespace

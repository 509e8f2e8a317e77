// Tests of reading ZIP64 records: values that fit the engine's fields are taken, values that need
// 64 bits and records that point nowhere are refused as damaged archives, never a crash.
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "zip/archive_bytes.h"
#include "zip/zip_exception.h"
#include "zip/zip_handler.h"

namespace {

using archive_bytes::Build;
using archive_bytes::Entry;
using archive_bytes::PutU16;
using archive_bytes::PutU32;

void AddU16(std::string& out, uint16_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8);
}
void AddU32(std::string& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}
void AddU64(std::string& out, uint64_t value) {
    AddU32(out, static_cast<uint32_t>(value));
    AddU32(out, static_cast<uint32_t>(value >> 32));
}

// What the ZIP64 end record says; unset values are taken from the plain end record.
struct Zip64End {
    int64_t entries = -1;
    int64_t size = -1;
    int64_t offset = -1;
    uint64_t locatorOffset = UINT64_MAX;  // UINT64_MAX: where the record really stands
};

// The archive with a ZIP64 end record and locator before its end record, whose counts, size
// and offset are set to their sentinels. prefix: bytes in front of the archive.
std::string MakeZip64(const std::vector<Entry>& entries, const Zip64End& wide,
                      const std::string& prefix = "") {
    const archive_bytes::Archive plain = Build(entries, "", prefix);
    const std::string& bytes = plain.bytes;
    const uint32_t end = plain.endOffset;
    const auto u16 = [&](size_t at) {
        return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) |
                                     (static_cast<uint8_t>(bytes[at + 1]) << 8));
    };
    const auto u32 = [&](size_t at) {
        return static_cast<uint32_t>(u16(at)) | (static_cast<uint32_t>(u16(at + 2)) << 16);
    };
    std::string record;
    AddU32(record, 0x06064b50);
    AddU64(record, 44);
    AddU16(record, 45);
    AddU16(record, 45);
    AddU32(record, 0);
    AddU32(record, 0);
    const uint64_t count = wide.entries >= 0 ? static_cast<uint64_t>(wide.entries) : u16(end + 10);
    const uint64_t size = wide.size >= 0 ? static_cast<uint64_t>(wide.size) : u32(end + 12);
    const uint64_t offset = wide.offset >= 0 ? static_cast<uint64_t>(wide.offset) : u32(end + 16);
    AddU64(record, count);
    AddU64(record, count);
    AddU64(record, size);
    AddU64(record, offset);
    std::string locator;
    AddU32(locator, 0x07064b50);
    AddU32(locator, 0);
    // As a writer puts it: right after the directory the record describes.
    AddU64(locator, wide.locatorOffset != UINT64_MAX ? wide.locatorOffset : offset + size);
    AddU32(locator, 1);

    std::string endRecord = bytes.substr(end);
    PutU16(endRecord, 8, 0xFFFF);
    PutU16(endRecord, 10, 0xFFFF);
    PutU32(endRecord, 12, 0xFFFFFFFF);
    PutU32(endRecord, 16, 0xFFFFFFFF);
    return bytes.substr(0, end) + record + locator + endRecord;
}

// A ZIP64 extended information field with the given 8-byte values.
std::string Zip64Field(std::initializer_list<uint64_t> values) {
    std::string field;
    AddU16(field, 0x0001);
    AddU16(field, static_cast<uint16_t>(8 * values.size()));
    for (const uint64_t value : values) AddU64(field, value);
    return field;
}

// Sets both sizes of entry 0 to their sentinels in the local header and the central record.
std::string WithSizeSentinels(archive_bytes::Archive archive) {
    for (const size_t at : {archive.localOffsets[0] + 18, archive.centralOffsets[0] + 20}) {
        PutU32(archive.bytes, at, 0xFFFFFFFF);
        PutU32(archive.bytes, at + 4, 0xFFFFFFFF);
    }
    return archive.bytes;
}

class Zip64Test : public ::testing::Test {
protected:
    // The exception code of opening and reading every entry, or -1 when all went well; the
    // entries' data in data.
    int OpenAndRead(const std::string& bytes, std::vector<std::string>& data) {
        const std::string path = folder.Join("test.zip");
        test_support::WriteFile(path, bytes);
        CZipHandler zip;
        try {
            zip.Open(path, CZipHandler::openReadOnly, 0);
            for (int i = 0; i < zip.GetEntryCount(); ++i) {
                std::string content(64, '\0');
                EXPECT_TRUE(zip.OpenEntry(static_cast<uint16_t>(i)));
                content.resize(zip.ReadEntry(content.data(), 64));
                EXPECT_EQ(zip.CloseEntry(nullptr), CZipHandler::CloseResult::whole);
                data.push_back(content);
            }
            zip.Close(false);
            return -1;
        } catch (const CZipException& e) {
            zip.Close(true);
            return e.code;
        }
    }

    test_support::TempFolder folder;
};

const std::vector<Entry> twoEntries = {{"a.txt", "alpha"}, {"dir/b.txt", "bravo!"}};

// The end record's sentinels are filled from the ZIP64 end record where its values fit; a
// count, size or offset that needs more bits, and a locator that points anywhere but at a ZIP64
// end record (the file's end, far beyond it, into the entries), make a damaged archive.
TEST_F(Zip64Test, EndRecord_ValuesThatFitOpenOthersAreRefused) {
    struct Case {
        const char* what;
        Zip64End wide;
        std::string prefix;
        int code;
    };
    const Case cases[] = {
        {"fits", {}, "", -1},
        {"bytes in front of the archive", {}, std::string(1000, 'x'), -1},
        {"70,000 entries", {70000}, "", CZipException::corruptedArchive},
        {"directory of 4 GiB", {-1, int64_t{1} << 32}, "", CZipException::corruptedArchive},
        {"directory beyond 4 GiB", {-1, -1, int64_t{5} << 30}, "", CZipException::corruptedArchive},
        {"locator beyond the file",
         {-1, -1, -1, uint64_t{1} << 62},
         "",
         CZipException::corruptedArchive},
        {"locator at the end of all",
         {-1, -1, -1, UINT64_MAX - 1},
         "",
         CZipException::corruptedArchive},
        {"locator at the first entry", {-1, -1, -1, 0}, "", CZipException::corruptedArchive},
    };
    for (const Case& c : cases) {
        std::vector<std::string> data;
        EXPECT_EQ(OpenAndRead(MakeZip64(twoEntries, c.wide, c.prefix), data), c.code) << c.what;
        if (c.code == -1) {
            EXPECT_EQ(data, (std::vector<std::string>{"alpha", "bravo!"})) << c.what;
        }
    }
}

// Locator and record signatures where no ZIP64 record belongs (a name, say) leave a plain end
// record as it is: an archive whose real values disagree with them opens as a plain archive.
TEST_F(Zip64Test, EndRecord_RecordDisagreeingWithRealValuesIsNotTaken) {
    std::string bytes = MakeZip64(twoEntries, {});
    const size_t end = bytes.size() - 22;
    PutU16(bytes, end + 8, 2);  // real counts, ZIP64 record still saying 2 as well
    PutU16(bytes, end + 10, 2);
    std::vector<std::string> data;
    EXPECT_EQ(OpenAndRead(bytes, data), -1);
    // A record saying 3 entries beside an end record saying 2 is no record of this archive; the
    // directory then seems to end at the end record and lands on no central record.
    PutU16(bytes, end - 20 - 56 + 24, 3);
    PutU16(bytes, end - 20 - 56 + 32, 3);
    data.clear();
    EXPECT_EQ(OpenAndRead(bytes, data), CZipException::corruptedArchive);
}

// Sizes and the offset in the entries' ZIP64 fields replace their sentinels in the central
// record and, for the sizes, in the local header, so that local and central records agree;
// values that need 64 bits, or a field too short for the sentinels it must resolve, are refused.
TEST_F(Zip64Test, EntryField_ValuesThatFitAreTakenOthersAreRefused) {
    struct Case {
        const char* what;
        std::string extra;
        int code;
    };
    const Case cases[] = {
        {"sizes fit", Zip64Field({5, 5}), -1},
        {"more blocks around it", std::string("\x0a\x00\x04\x00xxxx", 8) + Zip64Field({5, 5}), -1},
        {"uncompressed size of 4 GiB", Zip64Field({uint64_t{1} << 32, 5}),
         CZipException::corruptedArchive},
        {"compressed size beyond 4 GiB", Zip64Field({5, uint64_t{1} << 40}),
         CZipException::corruptedArchive},
        {"field holds one size of two", Zip64Field({5}), CZipException::corruptedArchive},
    };
    for (const Case& c : cases) {
        const std::string bytes =
            WithSizeSentinels(Build({{"a.txt", "alpha", false, true, 0x20, 0, c.extra}}));
        std::vector<std::string> data;
        EXPECT_EQ(OpenAndRead(bytes, data), c.code) << c.what;
        if (c.code == -1) {
            EXPECT_EQ(data, std::vector<std::string>{"alpha"}) << c.what;
        }
    }

    // The local header's offset in the central field, after the two sizes (the local header
    // takes only the sizes from the same field).
    const uint32_t second = Build({{"x", "first"}}).centralOffsets[0];
    const std::string field = Zip64Field({5, 5, second});
    archive_bytes::Archive archive =
        Build({{"x", "first"}, {"a.txt", "alpha", false, true, 0x20, 0, field}});
    ASSERT_EQ(archive.localOffsets[1], second);
    PutU32(archive.bytes, archive.centralOffsets[1] + 42, 0xFFFFFFFF);
    for (const size_t at : {archive.localOffsets[1] + 18, archive.centralOffsets[1] + 20}) {
        PutU32(archive.bytes, at, 0xFFFFFFFF);
        PutU32(archive.bytes, at + 4, 0xFFFFFFFF);
    }
    std::vector<std::string> data;
    EXPECT_EQ(OpenAndRead(archive.bytes, data), -1);
    EXPECT_EQ(data, (std::vector<std::string>{"first", "alpha"}));
}

// After a local header with a ZIP64 field that holds both sizes, the data descriptor's sizes are
// 8 bytes wide; an empty ZIP64 field, as some writers leave, keeps the usual descriptor.
TEST_F(Zip64Test, Descriptor_WideAfterLocalZip64SizesOnly) {
    for (const bool wide : {true, false}) {
        Entry entry{"a.txt", "alpha", true};
        entry.extra = wide ? Zip64Field({0, 0}) : std::string("\x01\x00\x00\x00", 4);
        archive_bytes::Archive archive = Build({entry});
        if (wide) {
            // Widen the descriptor: crc, then 8-byte sizes.
            const size_t descriptor = archive.localOffsets[0] + 30 + 5 + entry.extra.size() + 5;
            std::string sizes;
            AddU64(sizes, 5);
            AddU64(sizes, 5);
            std::string bytes = archive.bytes.substr(0, descriptor + 8) + sizes +
                                archive.bytes.substr(descriptor + 16);
            // The central directory and end record moved on by 8 bytes.
            const size_t end = bytes.size() - 22;
            PutU32(bytes, end + 16, archive.centralOffsets[0] + 8);
            archive.bytes = bytes;
        }
        std::vector<std::string> data;
        EXPECT_EQ(OpenAndRead(archive.bytes, data), -1) << wide;
        EXPECT_EQ(data, std::vector<std::string>{"alpha"}) << wide;
    }
}

}  // namespace

// Tests of the central directory: finding the end record, reading and checking the directory,
// positioning entries, descriptors, writing the directory back and the name index.
#include "zip/central_directory.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "platform/code_page.h"
#include "support/test_support.h"
#include "zip/archive_bytes.h"
#include "zip/zip_exception.h"
#include "zip/zip_handler.h"

namespace {

using archive_bytes::Build;
using archive_bytes::Entry;
using archive_bytes::PutU16;
using archive_bytes::PutU32;

class CentralDirectoryTest : public ::testing::Test {
protected:
    // Writes bytes as an archive file and opens it; the exception code, or -1 when it opened.
    int OpenBytes(const std::string& bytes, int mode = CZipHandler::openReadOnly) {
        path = folder.Join("test.zip");
        test_support::WriteFile(path, bytes);
        try {
            zip.Open(path, mode, 0);
            return -1;
        } catch (const CZipException& e) {
            EXPECT_EQ(e.filePath, path);
            return e.code;
        }
    }

    // Reads the data of entry index through the directory's own positioning.
    std::string ReadEntryData(int index) {
        CZipCentralDirectory& dir = zip.GetCentralDirectory();
        dir.OpenEntryRecord(index);
        std::string data(dir.currentHeader->compressedSize, '\0');
        if (!data.empty())
            zip.GetStorage().Read(data.data(), static_cast<uint32_t>(data.size()), false);
        return data;
    }

    void TearDown() override { zip.Close(true); }

    test_support::TempFolder folder;
    std::string path;
    CZipHandler zip;
};

const std::vector<Entry> threeEntries = {
    {"first.txt", "one"}, {"dir/second.txt", "second entry"}, {"third.bin", std::string(50, 'x')}};

TEST_F(CentralDirectoryTest, Open_ReadsNamesInLocalFormAndEntryData) {
    ASSERT_EQ(OpenBytes(Build(threeEntries).bytes), -1);
    ASSERT_EQ(zip.GetEntryCount(), 3);
    CZipEntryHeader header;
    ASSERT_TRUE(zip.GetEntryInfo(header, 1));
    EXPECT_EQ(header.GetFileName(), "dir\\second.txt");
    EXPECT_EQ(header.uncompressedSize, 12u);
    EXPECT_EQ(ReadEntryData(1), "second entry");
    zip.GetCentralDirectory().CloseEntryRecord();
    EXPECT_EQ(ReadEntryData(2), std::string(50, 'x'));
}

TEST_F(CentralDirectoryTest, Open_EmptyOrTinyFileHasNoRootDirectory) {
    EXPECT_EQ(OpenBytes(""), CZipException::rootDirectoryNotFound);
    zip.Close(true);
    EXPECT_EQ(OpenBytes("PK\x05"), CZipException::rootDirectoryNotFound);
    EXPECT_TRUE(zip.IsClosed(true));
    EXPECT_FALSE(zip.IsClosed(false));
    zip.Close(true);
    EXPECT_TRUE(zip.IsClosed(false));
}

TEST_F(CentralDirectoryTest, Open_SignatureInCommentNearestToEndWins) {
    // The comment holds a complete empty end record; being nearer the end it is the one taken.
    std::string fake = std::string("PK\x05\x06", 4) + std::string(18, '\0');
    ASSERT_EQ(OpenBytes(Build(threeEntries, "note " + fake).bytes), -1);
    EXPECT_EQ(zip.GetEntryCount(), 0);
    const archive_bytes::Archive real = Build(threeEntries, "note " + fake);
    EXPECT_EQ(zip.GetCentralDirectory().endRecordPosition, real.endOffset + 22 + 5);
}

TEST_F(CentralDirectoryTest, Open_FindsEndRecordInSecondSearchChunk) {
    const std::string comment(40000, 'c');
    const archive_bytes::Archive archive = Build(threeEntries, comment);
    ASSERT_EQ(OpenBytes(archive.bytes), -1);
    EXPECT_EQ(zip.GetEntryCount(), 3);
    EXPECT_EQ(zip.GetCentralDirectory().endRecordPosition, archive.endOffset);
    EXPECT_EQ(zip.GetCentralDirectory().archiveComment.Size(), 40000u);
}

TEST_F(CentralDirectoryTest, Open_FindsSignatureAcrossChunkBorder) {
    // Place the end record so that its signature straddles the 32768-byte border from the end.
    const size_t commentLength = 32770 - 22;
    const archive_bytes::Archive archive = Build(threeEntries, std::string(commentLength, 'c'));
    ASSERT_EQ(archive.bytes.size() - archive.endOffset, 32770u);
    ASSERT_EQ(OpenBytes(archive.bytes), -1);
    EXPECT_EQ(zip.GetEntryCount(), 3);
    EXPECT_EQ(zip.GetCentralDirectory().endRecordPosition, archive.endOffset);
}

TEST_F(CentralDirectoryTest, Open_EndRecordFartherThanLongestCommentIsNotFound) {
    std::string bytes = Build(threeEntries).bytes + std::string(65536, 'z');
    EXPECT_EQ(OpenBytes(bytes), CZipException::rootDirectoryNotFound);
}

TEST_F(CentralDirectoryTest, Open_DataBeforeArchiveIsCountedAndSkipped) {
    const archive_bytes::Archive archive = Build(threeEntries, "", std::string(1000, 'S'));
    ASSERT_EQ(OpenBytes(archive.bytes), -1);
    EXPECT_EQ(zip.GetCentralDirectory().bytesBeforeArchive, 1000u);
    CZipEntryHeader header;
    ASSERT_TRUE(zip.GetEntryInfo(header, 2));
    EXPECT_EQ(header.localHeaderOffset + 1000, archive.localOffsets[2]);
    EXPECT_EQ(ReadEntryData(2), std::string(50, 'x'));
    zip.GetCentralDirectory().CloseEntryRecord();
    EXPECT_EQ(ReadEntryData(0), "one");
}

TEST_F(CentralDirectoryTest, Open_DirectorySizeAndEntryCountMustAgree) {
    // No entries and size 0: an empty archive.
    ASSERT_EQ(OpenBytes(Build({}).bytes), -1);
    EXPECT_EQ(zip.GetEntryCount(), 0);
    zip.Close(false);

    archive_bytes::Archive sizeWithoutEntries = Build({});
    PutU32(sizeWithoutEntries.bytes, sizeWithoutEntries.endOffset + 12, 46);
    // Keep the directory inside the file: it "starts" 46 bytes before the end record.
    sizeWithoutEntries.bytes.insert(0, std::string(46, 'p'));
    EXPECT_EQ(OpenBytes(sizeWithoutEntries.bytes), CZipException::corruptedArchive);
    zip.Close(true);

    archive_bytes::Archive entriesWithoutSize = Build(threeEntries);
    PutU32(entriesWithoutSize.bytes, entriesWithoutSize.endOffset + 12, 0);
    EXPECT_EQ(OpenBytes(entriesWithoutSize.bytes), CZipException::corruptedArchive);
}

TEST_F(CentralDirectoryTest, Open_EntryCountDisagreeingWithDirectoryIsCorruptedArchive) {
    // The directory's size in the end record covers every header; a count that says otherwise
    // must not open as a smaller (or larger) archive.
    struct Case {
        const char* what;
        size_t entries;
        uint16_t count;
    };
    const Case cases[] = {
        {"count kept modulo 65,536", 65536 + 3, 3},
        {"count one short", 3, 2},
        {"count one over", 3, 4},
    };
    for (const Case& c : cases) {
        std::vector<Entry> entries(c.entries);
        for (size_t i = 0; i < entries.size(); ++i) entries[i].name = std::to_string(i);
        archive_bytes::Archive archive = Build(entries);
        PutU16(archive.bytes, archive.endOffset + 8, c.count);
        PutU16(archive.bytes, archive.endOffset + 10, c.count);
        EXPECT_EQ(OpenBytes(archive.bytes), CZipException::corruptedArchive) << c.what;
        zip.Close(true);
    }
}

TEST_F(CentralDirectoryTest, Open_DamagedDirectoryIsCorruptedArchive) {
    struct Damage {
        const char* what;
        std::function<void(archive_bytes::Archive&)> apply;
    };
    const Damage damages[] = {
        {"wrong central signature",
         [](archive_bytes::Archive& a) { PutU32(a.bytes, a.centralOffsets[1], 0x02014b51); }},
        {"directory beyond end record",
         [](archive_bytes::Archive& a) { PutU32(a.bytes, a.endOffset + 16, 0xFFFFFF00); }},
        {"offset plus size wrapping 32 bits",
         [](archive_bytes::Archive& a) {
             PutU32(a.bytes, a.endOffset + 12, 0xFFFFFFF0);
             PutU32(a.bytes, a.endOffset + 16, 0x20);
         }},
        {"65535 entries claimed",
         [](archive_bytes::Archive& a) {
             PutU16(a.bytes, a.endOffset + 8, 0xFFFF);
             PutU16(a.bytes, a.endOffset + 10, 0xFFFF);
         }},
        {"name running past the end of the file",
         [](archive_bytes::Archive& a) { PutU16(a.bytes, a.centralOffsets[2] + 28, 0xFFFF); }},
        {"comment length beyond the file",
         [](archive_bytes::Archive& a) { PutU16(a.bytes, a.endOffset + 20, 500); }},
    };
    for (const Damage& damage : damages) {
        archive_bytes::Archive archive = Build(threeEntries);
        damage.apply(archive);
        EXPECT_EQ(OpenBytes(archive.bytes), CZipException::corruptedArchive) << damage.what;
        EXPECT_LE(zip.GetCentralDirectory().headers.size(), 4u) << damage.what;
        zip.Close(true);
    }
}

TEST_F(CentralDirectoryTest, OpenEntryRecord_LocalHeaderMismatchIsCorruptedArchive) {
    archive_bytes::Archive archive = Build(threeEntries);
    PutU16(archive.bytes, archive.localOffsets[1] + 26, 15);  // name length one more
    ASSERT_EQ(OpenBytes(archive.bytes), -1);
    EXPECT_EQ(ReadEntryData(0), "one");
    zip.GetCentralDirectory().CloseEntryRecord();
    try {
        zip.GetCentralDirectory().OpenEntryRecord(1);
        FAIL() << "mismatching local header accepted";
    } catch (const CZipException& e) {
        EXPECT_EQ(e.code, CZipException::corruptedArchive);
    }
}

TEST_F(CentralDirectoryTest, CloseEntryRecord_ChecksDescriptorWithOrWithoutSignature) {
    std::vector<Entry> entries = {{"signed.txt", "with signature"}, {"bare.txt", "no signature"}};
    entries[0].descriptor = true;
    entries[1].descriptor = true;
    entries[1].descriptorSignature = false;
    ASSERT_EQ(OpenBytes(Build(entries).bytes), -1);
    for (int i = 0; i < 2; ++i) {
        ReadEntryData(i);
        EXPECT_NO_THROW(zip.GetCentralDirectory().CloseEntryRecord()) << i;
        EXPECT_EQ(zip.GetCentralDirectory().currentHeader, nullptr);
    }
}

TEST_F(CentralDirectoryTest, CloseEntryRecord_DescriptorDifferingFromDirectoryIsCorrupted) {
    std::vector<Entry> entries = {{"a.txt", "abc"}};
    entries[0].descriptor = true;
    archive_bytes::Archive archive = Build(entries);
    const size_t descriptorAt = archive.localOffsets[0] + 30 + 5 + 3;
    PutU32(archive.bytes, descriptorAt + 4, 0xBAD);  // crc-32 in the descriptor
    ASSERT_EQ(OpenBytes(archive.bytes), -1);
    ReadEntryData(0);
    EXPECT_THROW(zip.GetCentralDirectory().CloseEntryRecord(), CZipException);
}

TEST_F(CentralDirectoryTest, Close_UnchangedArchiveStaysByteForByte) {
    const archive_bytes::Archive archive = Build(threeEntries, "kept comment", "stub");
    ASSERT_EQ(OpenBytes(archive.bytes, CZipHandler::openExisting), -1);
    zip.Close(false);
    EXPECT_EQ(test_support::ReadFile(path), archive.bytes);
}

TEST_F(CentralDirectoryTest, Close_RewritesDirectoryAfterTruncation) {
    // Adding an entry cuts the old directory off; the new directory goes after the new data.
    const archive_bytes::Archive archive = Build(threeEntries, "", std::string(1000, 'S'));
    ASSERT_EQ(OpenBytes(archive.bytes, CZipHandler::openExisting), -1);
    CZipCentralDirectory& dir = zip.GetCentralDirectory();

    CZipEntryHeader entry;
    entry.SetFileName("new\\added.txt");
    dir.AddNewHeader(entry);
    CZipEntryHeader& added = *dir.currentHeader;
    EXPECT_EQ(zip.GetStorage().GetFile()->GetLength(), archive.centralOffsets[0]);
    ASSERT_TRUE(added.PrepareNewEntry(0, false, false));
    CZipEntryHeader archiveForm = added;
    archiveForm.ConvertSlashes(false);
    archiveForm.WriteLocalRecord(zip.GetStorage());
    added.localHeaderOffset = archiveForm.localHeaderOffset;
    EXPECT_EQ(added.localHeaderOffset, archive.centralOffsets[0]);
    const std::string data = "added data";
    zip.GetStorage().Write(data.data(), static_cast<uint32_t>(data.size()), false);
    added.crc32Value = 0x5D6B5A6C;  // not checked here; the directory only carries it
    added.compressedSize = added.uncompressedSize = static_cast<uint32_t>(data.size());
    dir.FinishNewHeader();
    EXPECT_EQ(added.localHeaderOffset, archive.centralOffsets[0] - 1000);
    zip.Close(false);

    CZipHandler reread;
    reread.Open(path, CZipHandler::openReadOnly, 0);
    ASSERT_EQ(reread.GetEntryCount(), 4);
    CZipEntryHeader header;
    ASSERT_TRUE(reread.GetEntryInfo(header, 3));
    EXPECT_EQ(header.GetFileName(), "new\\added.txt");
    EXPECT_EQ(header.localHeaderOffset, archive.centralOffsets[0] - 1000);
    EXPECT_EQ(reread.GetCentralDirectory().bytesBeforeArchive, 1000u);
    reread.GetCentralDirectory().OpenEntryRecord(3);
    std::string back(data.size(), '\0');
    reread.GetStorage().Read(back.data(), static_cast<uint32_t>(back.size()), false);
    EXPECT_EQ(back, data);
    reread.Close(true);
}

TEST_F(CentralDirectoryTest, GetDirectorySize_CountsEndRecordCommentAndRecords) {
    ASSERT_EQ(OpenBytes(Build(threeEntries, "abc").bytes), -1);
    const CZipCentralDirectory& dir = zip.GetCentralDirectory();
    EXPECT_EQ(dir.GetDirectorySize(false), 22u + 3);
    EXPECT_EQ(dir.GetDirectorySize(true), 22u + 3 + 46 * 3 + 9 + 14 + 9);
}

// A spanned archive that fits its first volume loses the span marker and the descriptors, in the
// write buffer while everything is still there and through a file mapping once data was flushed.
TEST_F(CentralDirectoryTest, Close_OneVolumeSpannedArchiveBecomesOrdinary) {
    for (const uint32_t size : {3000u, 40000u}) {
        SCOPED_TRACE(size);
        std::vector<std::string> sources;
        for (int i = 0; i < 3; ++i) {
            std::string data;
            uint32_t seed = 77u + static_cast<uint32_t>(i);
            for (uint32_t n = 0; n < size; ++n) {
                seed = seed * 1103515245u + 12345u;
                data += static_cast<char>(seed >> 24);
            }
            sources.push_back(folder.Join("f" + std::to_string(i) + ".bin"));
            test_support::WriteFile(sources.back(), data);
        }
        path = folder.Join("span.zip");
        std::vector<uint32_t> before;
        zip.Open(path, CZipHandler::createSpanned, 10000000);
        for (const std::string& source : sources) {
            ASSERT_TRUE(zip.AddFile(source, 0, false, nullptr, 0, 16384));
            before.push_back(zip.GetCentralDirectory().headers.back()->localHeaderOffset);
        }
        EXPECT_EQ(before[0], 4u);
        zip.Close(false);

        const std::string bytes = test_support::ReadFile(path);
        CZipHandler reread;
        reread.Open(path, CZipHandler::openReadOnly, 0);
        ASSERT_EQ(reread.GetEntryCount(), 3);
        uint32_t expectedEnd = 0;
        for (int i = 0; i < 3; ++i) {
            CZipEntryHeader header;
            ASSERT_TRUE(reread.GetEntryInfo(header, static_cast<uint16_t>(i)));
            EXPECT_EQ(header.localHeaderOffset, before[i] - 4 - 16 * i);
            EXPECT_EQ(header.flag & 8, 0);
            EXPECT_EQ(header.uncompressedSize, size);
            // The local header holds the real values now and is checked against them.
            reread.GetCentralDirectory().OpenEntryRecord(i);
            reread.GetStorage().GetFile()->Seek(header.compressedSize, CFile::current);
            EXPECT_NO_THROW(reread.GetCentralDirectory().CloseEntryRecord());
            expectedEnd = static_cast<uint32_t>(reread.GetStorage().GetFile()->GetPosition());
        }
        EXPECT_EQ(reread.GetCentralDirectory().directoryOffset, expectedEnd);
        EXPECT_EQ(reread.GetCentralDirectory().bytesBeforeArchive, 0u);
        EXPECT_EQ(bytes.substr(0, 4), std::string("PK\x03\x04", 4));
        reread.Close(false);
    }
}

// A directory that fills its volume exactly leaves the end record for the next volume; the end
// record must then name the volume it lies on.
TEST_F(CentralDirectoryTest, Close_EndRecordMovedToNextVolumeNamesThatVolume) {
    const std::string source = folder.Join("a.bin");
    test_support::WriteFile(source, std::string(100, 'd'));
    // Span marker 4, local header 30 + 5, data 100, descriptor 16, central record 46 + 5: 206
    // bytes fill the first volume, too few to convert it into an ordinary archive.
    path = folder.Join("vol.zip");
    zip.Open(path, CZipHandler::createSpanned, 206);
    ASSERT_TRUE(zip.AddFile(source, 0, false, nullptr, 0, 4096));
    zip.Close(false);
    EXPECT_EQ(test_support::ReadFile(folder.Join("vol.000")).size(), 206u);
    const std::string last = test_support::ReadFile(path);
    ASSERT_EQ(last.size(), 22u);
    EXPECT_EQ(last.substr(0, 4), std::string("PK\x05\x06", 4));
    EXPECT_EQ(static_cast<uint8_t>(last[4]), 1);  // this disk
    EXPECT_EQ(static_cast<uint8_t>(last[6]), 0);  // directory starts on disk 0
    EXPECT_EQ(static_cast<uint8_t>(last[8]), 0);  // no directory entries on this disk
    EXPECT_EQ(static_cast<uint8_t>(last[10]), 1);

    CZipHandler reread;
    reread.Open(path, CZipHandler::openReadOnly, 1);
    ASSERT_EQ(reread.GetEntryCount(), 1);
    CZipEntryHeader header;
    ASSERT_TRUE(reread.GetEntryInfo(header, 0));
    EXPECT_EQ(header.GetFileName(), "a.bin");
    EXPECT_EQ(header.localHeaderOffset, 4u);
    reread.Close(false);
}

// ---- Name index -------------------------------------------------------------------------------

class NameIndexTest : public CentralDirectoryTest {
protected:
    void OpenNames(const std::vector<std::string>& names) {
        std::vector<Entry> entries;
        for (const std::string& name : names) entries.push_back({name, name});
        ASSERT_EQ(OpenBytes(Build(entries).bytes), -1);
    }
};

TEST_F(NameIndexTest, FindEntry_CaseSensitiveAndNotOnMixedCaseFolders) {
    OpenNames({"Snd/z.wav", "obj/y.bin", "Mesh/x.bin"});
    EXPECT_EQ(zip.FindEntry("Mesh\\x.bin", true), 2);
    EXPECT_EQ(zip.FindEntry("Snd\\z.wav", true), 0);
    EXPECT_EQ(zip.FindEntry("obj\\y.bin", true), 1);
    EXPECT_EQ(zip.FindEntry("OBJ\\Y.BIN", true), -1);
    // Ignoring case, obj\y.bin belongs between the others, yet it stands last in byte order.
    EXPECT_EQ(zip.FindEntry("obj\\y.bin", false), 1);
    EXPECT_EQ(zip.FindEntry("OBJ\\Y.BIN", false), 1);
    EXPECT_EQ(zip.FindEntry("mesh\\X.BIN", false), 2);
    EXPECT_EQ(zip.FindEntry("snd\\z.wa", false), -1);
    const auto& index = zip.GetCentralDirectory().nameIndex;
    ASSERT_EQ(index.size(), 3u);
    EXPECT_EQ(index[0].index, 2);
    EXPECT_EQ(index[1].index, 0);
    EXPECT_EQ(index[2].index, 1);
}

// Of several entries whose names match, either search returns the one that comes first in the
// archive: while the archive is being made (the index grown entry by entry) and after it was
// opened again (the index built at once), whatever the case variants around it.
TEST_F(NameIndexTest, FindEntry_FirstMatchInTheArchiveBeforeAndAfterReopening) {
    std::mt19937 random(7);
    const std::string letters = "aAbBcC";
    std::vector<std::string> names;
    for (int i = 0; i < 300; ++i) {
        std::string name;
        for (size_t length = 1 + random() % 3; length > 0; --length)
            name += letters[random() % letters.size()];
        names.push_back(name);
    }
    const auto firstIn = [&](const std::string& probe, bool caseSensitive) {
        for (size_t i = 0; i < names.size(); ++i) {
            const int order = caseSensitive ? platform::CollateNames(names[i], probe)
                                            : platform::CollateNamesNoCase(names[i], probe);
            if (order == 0)
                return static_cast<int>(i);
        }
        return -1;
    };
    const auto check = [&](const char* when) {
        for (const char* probe : {"a", "AB", "bca", "ccc", "Ba", "d", "b", "C"}) {
            EXPECT_EQ(zip.FindEntry(probe, true), firstIn(probe, true)) << probe << " " << when;
            EXPECT_EQ(zip.FindEntry(probe, false), firstIn(probe, false)) << probe << " " << when;
        }
    };

    path = folder.Join("made.zip");
    zip.Open(path, CZipHandler::create, 0);
    zip.EnableNameIndex(true);
    for (const std::string& name : names) {
        CZipEntryHeader templateHeader;
        templateHeader.SetFileName(name);
        ASSERT_TRUE(zip.OpenNewEntry(templateHeader, 6, nullptr));
        ASSERT_TRUE(zip.CloseNewEntry());
    }
    check("while made");
    zip.Close(false);
    zip.Open(path, CZipHandler::openReadOnly, 0);
    check("after reopening");
}

TEST_F(NameIndexTest, FindEntry_LetterCaseOfAccentedLetters) {
    OpenNames({"Data/File.txt", "data/other.txt", "caf\x82.txt"});  // OEM e-acute
    EXPECT_EQ(zip.FindEntry("data\\file.txt", true), -1);
    EXPECT_EQ(zip.FindEntry("data\\file.txt", false), 0);
    const std::string capital = test_support::Local("CAF\u00C9.TXT");
    EXPECT_EQ(zip.FindEntry(capital, false), 2);
    EXPECT_EQ(zip.FindEntry(capital, true), -1);
}

TEST_F(NameIndexTest, EqualNamesStandAdjacentInIndex) {
    OpenNames({"b", "a", "b", "c", "b"});
    const auto& index = zip.GetCentralDirectory().nameIndex;
    zip.EnableNameIndex(true);
    ASSERT_EQ(index.size(), 5u);
    EXPECT_EQ(index[0].header->GetFileName(), "a");
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(index[i].header->GetFileName(), "b");
    EXPECT_EQ(index[4].header->GetFileName(), "c");
    EXPECT_EQ(zip.FindEntry("b", true), 0);

    // Inserting one more equal name one by one keeps them together.
    CZipEntryHeader extra;
    extra.SetFileName("b");
    zip.GetCentralDirectory().headers.push_back(std::make_unique<CZipEntryHeader>(extra));
    zip.GetCentralDirectory().InsertIntoNameIndex(zip.GetCentralDirectory().headers.back().get(),
                                                  5);
    ASSERT_EQ(index.size(), 6u);
    for (int i = 1; i <= 4; ++i) EXPECT_EQ(index[i].header->GetFileName(), "b") << i;
    EXPECT_EQ(index[4].index, 5);  // after the equal names: in archive order
    EXPECT_EQ(index[5].header->GetFileName(), "c");
}

TEST_F(NameIndexTest, InsertIntoNameIndex_KeepsByteOrder) {
    OpenNames({});
    CZipCentralDirectory& dir = zip.GetCentralDirectory();
    dir.nameIndexEnabled = true;
    const char* names[] = {"m", "B", "z", "a", "\xE9", "Z", "aa", ""};
    for (const char* name : names) {
        CZipEntryHeader header;
        header.SetFileName(name);
        dir.headers.push_back(std::make_unique<CZipEntryHeader>(header));
        dir.InsertIntoNameIndex(dir.headers.back().get(),
                                static_cast<uint16_t>(dir.headers.size() - 1));
    }
    std::vector<std::string> order;
    for (const NameIndexEntry& element : dir.nameIndex)
        order.push_back(element.header->GetFileName());
    EXPECT_EQ(order, (std::vector<std::string>{"", "B", "Z", "a", "aa", "m", "z", "\xE9"}));
    for (size_t i = 0; i < order.size(); ++i)
        EXPECT_EQ(dir.FindInNameIndex(order[i], true), static_cast<int>(i));
}

TEST_F(NameIndexTest, EnableNameIndex_OffFreesAndFindEntryRebuilds) {
    OpenNames({"one", "two"});
    EXPECT_TRUE(zip.GetCentralDirectory().nameIndex.empty());
    EXPECT_EQ(zip.FindEntry("two", true), 1);
    EXPECT_TRUE(zip.GetCentralDirectory().nameIndexEnabled);
    zip.EnableNameIndex(false);
    EXPECT_TRUE(zip.GetCentralDirectory().nameIndex.empty());
    EXPECT_EQ(zip.GetCentralDirectory().nameIndex.capacity(), 0u);
    EXPECT_EQ(zip.FindEntry("one", true), 0);
    EXPECT_EQ(zip.GetCentralDirectory().nameIndex.size(), 2u);
}

}  // namespace

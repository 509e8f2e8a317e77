// Tests of adding files: entry names, methods and flags per level, sizes, times, attributes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/file_system.h"
#include "tests/support/test_support.h"
#include "zip/path_helpers.h"
#include "zip/zip_exception.h"
#include "zip/zip_handler.h"
#include "zip/zip_test_data.h"

using test_support::ReadFile;
using test_support::TempFolder;
using test_support::WriteFile;
using zip_test_data::InfoOf;
using zip_test_data::MixedData;
using zip_test_data::U16At;
using zip_test_data::U32At;

namespace {

// Adds one file at the given level to a new archive and closes it.
void MakeArchive(const std::string& archive, const std::string& source, int level,
                 uint32_t readBufferSize = 65535) {
    CZipHandler zip;
    zip.Open(archive, CZipHandler::create, 0);
    ASSERT_TRUE(zip.AddFile(source, level, false, nullptr, 0, readBufferSize));
    zip.Close(false);
}

// The content of entry 0 extracted under a new name into folder.
std::string ExtractFirst(const std::string& archive, const std::string& folder,
                         const std::string& password = "") {
    CZipHandler zip;
    zip.Open(archive, CZipHandler::openReadOnly, 0);
    if (!password.empty())
        zip.SetPassword(password);
    const std::string name = "extracted.bin";
    EXPECT_TRUE(zip.ExtractEntry(0, folder, false, &name, nullptr, 0, 65535));
    zip.Close(false);
    return ReadFile(folder + "\\" + name);
}

bool StopAfterFirst(uint32_t, uint32_t done, intptr_t userValue) {
    *reinterpret_cast<uint32_t*>(userValue) = done;
    return false;
}

}  // namespace

TEST(AddFile, EmptyFileGivesEmptyDeflateStreamOrNothingStored) {
    TempFolder folder;
    WriteFile(folder.Join("empty.txt"), "");
    for (const int level : {-1, 0}) {
        const std::string archive = folder.Join("empty" + std::to_string(level + 1) + ".zip");
        MakeArchive(archive, folder.Join("empty.txt"), level);
        CZipHandler zip;
        zip.Open(archive, CZipHandler::openReadOnly, 0);
        const CZipEntryHeader header = InfoOf(zip, 0);
        EXPECT_EQ(header.compressedSize, level == 0 ? 0u : 2u) << "level " << level;
        EXPECT_EQ(header.uncompressedSize, 0u);
        EXPECT_EQ(header.crc32Value, 0u);
        EXPECT_EQ(header.method, level == 0 ? 0 : 8);
        zip.Close(false);
        EXPECT_EQ(ExtractFirst(archive, folder.Path()), "");
    }
}

TEST(AddFile, LevelSetsMethodAndDeflateFlagsAndDataRoundTrips) {
    TempFolder folder;
    const std::string data = MixedData(200000, 7);
    WriteFile(folder.Join("data.bin"), data);
    struct Case {
        int level;
        uint16_t method;
        uint16_t flag;
    };
    const std::vector<Case> cases = {{-1, 8, 0}, {0, 0, 0}, {1, 8, 6}, {2, 8, 4}, {3, 8, 0},
                                     {6, 8, 0},  {7, 8, 0}, {8, 8, 2}, {9, 8, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE("level " + std::to_string(c.level));
        const std::string archive = folder.Join("level.zip");
        MakeArchive(archive, folder.Join("data.bin"), c.level);
        const std::string bytes = ReadFile(archive);
        EXPECT_EQ(U16At(bytes, 6), c.flag);  // local header
        EXPECT_EQ(U16At(bytes, 8), c.method);
        CZipHandler zip;
        zip.Open(archive, CZipHandler::openReadOnly, 0);
        const CZipEntryHeader header = InfoOf(zip, 0);
        EXPECT_EQ(header.flag, c.flag);
        EXPECT_EQ(header.method, c.method);
        EXPECT_EQ(header.uncompressedSize, data.size());
        if (c.level == 0) {
            EXPECT_EQ(header.compressedSize, data.size());
        } else {
            EXPECT_LT(header.compressedSize, data.size());
        }
        zip.Close(false);
        EXPECT_EQ(ExtractFirst(archive, folder.Path()), data);
    }
}

TEST(AddFile, KeepsRelativePathInArchiveFormAndPatchesLocalHeader) {
    TempFolder folder;
    platform::CreateFolder(folder.Join("maps"));
    platform::CreateFolder(folder.Join("maps\\sub"));
    const std::string data = MixedData(70000, 3);
    WriteFile(folder.Join("maps\\sub\\a.txt"), data);
    const std::string archive = folder.Join("backup.zip");
    {
        zip_test_data::CurrentFolderScope scope(folder.Path());
        CZipHandler zip;
        zip.Open(archive, CZipHandler::create, 0);
        ASSERT_TRUE(zip.AddFile("maps\\sub\\a.txt", -1, true, nullptr, 0, 65535));
        EXPECT_EQ(InfoOf(zip, 0).GetFileName(), "maps\\sub\\a.txt");  // local form in memory
        zip.Close(false);
    }
    const std::string bytes = ReadFile(archive);
    ASSERT_EQ(U16At(bytes, 26), 14);
    EXPECT_EQ(bytes.substr(30, 14), "maps/sub/a.txt");
    EXPECT_EQ(U16At(bytes, 6) & 0x0008, 0);  // no data descriptor
    CZipHandler zip;
    zip.Open(archive, CZipHandler::openReadOnly, 0);
    const CZipEntryHeader header = InfoOf(zip, 0);
    EXPECT_EQ(U32At(bytes, 14), header.crc32Value);
    EXPECT_EQ(U32At(bytes, 18), header.compressedSize);
    EXPECT_EQ(U32At(bytes, 22), header.uncompressedSize);
    EXPECT_EQ(header.crc32Value, zip_test_data::Crc(data));
    EXPECT_EQ(header.uncompressedSize, data.size());
    // The data ends where the central directory begins: nothing follows it.
    EXPECT_EQ(30u + 14u + header.compressedSize,
              static_cast<uint32_t>(bytes.size()) - zip.GetCentralDirectory().directorySize - 22u);
}

TEST(AddFile, RecordsModificationTimeAndAttributes) {
    TempFolder folder;
    const std::string path = folder.Join("ro.txt");
    WriteFile(path, "read only");
    CFileStatus status;
    ASSERT_TRUE(CFile::GetStatus(path, status));
    status.lastWriteTime = 1262347397;  // 2010-01-01 12:03:17 UTC: an odd second
    status.lastAccessTime = status.lastWriteTime;
    status.attributes = platform::attributeReadOnly;
    CFile::SetStatus(path, status);
    const std::string archive = folder.Join("t.zip");
    MakeArchive(archive, path, 6);
    platform::SetAttributes(path, 0);

    CZipHandler zip;
    zip.Open(archive, CZipHandler::openReadOnly, 0);
    const CZipEntryHeader header = InfoOf(zip, 0);
    EXPECT_EQ(header.externalAttributes & platform::attributeReadOnly, platform::attributeReadOnly);
    EXPECT_EQ(header.externalAttributes & platform::attributeFolder, 0u);
    EXPECT_EQ(header.GetTime(), status.lastWriteTime - 1);  // DOS keeps even seconds
}

TEST(AddFile, FileOfExactlyReadBufferSizeAndMultiplesRoundTrip) {
    TempFolder folder;
    for (const size_t size : {size_t{4096}, size_t{8192}, size_t{4095}, size_t{1}}) {
        const std::string data = MixedData(size, static_cast<uint32_t>(size));
        WriteFile(folder.Join("in.bin"), data);
        for (const int level : {0, 6}) {
            const std::string archive = folder.Join("rb.zip");
            MakeArchive(archive, folder.Join("in.bin"), level, 4096);
            EXPECT_EQ(ExtractFirst(archive, folder.Path()), data) << size << " at " << level;
        }
    }
}

TEST(AddFile, ProgressStopKeepsConsistentShorterEntry) {
    TempFolder folder;
    const std::string data = MixedData(10000, 5);
    WriteFile(folder.Join("in.bin"), data);
    const std::string archive = folder.Join("p.zip");
    uint32_t done = 0;
    {
        CZipHandler zip;
        zip.Open(archive, CZipHandler::create, 0);
        EXPECT_TRUE(zip.AddFile(folder.Join("in.bin"), -1, false, StopAfterFirst,
                                reinterpret_cast<intptr_t>(&done), 3000));
        zip.Close(false);
    }
    EXPECT_EQ(done, 3000u);
    EXPECT_EQ(ExtractFirst(archive, folder.Path()), data.substr(0, 3000));
}

TEST(AddFile, RefusalsWriteNothingAndLeaveArchiveUsable) {
    TempFolder folder;
    WriteFile(folder.Join("a.txt"), "alpha");
    const std::string archive = folder.Join("r.zip");
    CZipHandler zip;
    EXPECT_FALSE(zip.AddFile(folder.Join("a.txt"), -1, false, nullptr, 0, 100));  // closed
    zip.Open(archive, CZipHandler::create, 0);
    EXPECT_FALSE(zip.AddFile(folder.Join("a.txt"), -1, false, nullptr, 0, 0));
    EXPECT_FALSE(zip.AddFile(folder.Join("missing.txt"), -1, false, nullptr, 0, 100));
    EXPECT_FALSE(zip.AddFile(folder.Path() + "\\", -1, false, nullptr, 0, 100));  // no name
    EXPECT_EQ(zip.GetEntryCount(), 0);
    EXPECT_EQ(zip.GetEntryState(), CZipHandler::EntryState::none);
    EXPECT_TRUE(zip.AddFile(folder.Join("a.txt"), -1, false, nullptr, 0, 100));
    zip.Close(false);
    zip.Open(archive, CZipHandler::openReadOnly, 0);
    EXPECT_EQ(zip.GetEntryCount(), 1);
    EXPECT_EQ(InfoOf(zip, 0).GetFileName(), "a.txt");
}

TEST(AddFile, RefusedWhileAnEntryIsOpen) {
    TempFolder folder;
    WriteFile(folder.Join("a.txt"), "alpha");
    const std::string archive = folder.Join("o.zip");
    MakeArchive(archive, folder.Join("a.txt"), 6);
    CZipHandler zip;
    zip.Open(archive, CZipHandler::openExisting, 0);
    ASSERT_TRUE(zip.OpenEntry(0));
    EXPECT_FALSE(zip.AddFile(folder.Join("a.txt"), 6, false, nullptr, 0, 100));
    char buffer[16];
    EXPECT_EQ(zip.ReadEntry(buffer, sizeof buffer), 5u);
    EXPECT_EQ(zip.CloseEntry(nullptr), CZipHandler::CloseResult::whole);
    EXPECT_TRUE(zip.AddFile(folder.Join("a.txt"), 6, false, nullptr, 0, 100));
    zip.Close(false);
    zip.Open(archive, CZipHandler::openReadOnly, 0);
    EXPECT_EQ(zip.GetEntryCount(), 2);
}

TEST(AddFile, FolderBecomesStoredFolderEntry) {
    TempFolder folder;
    platform::CreateFolder(folder.Join("maps"));
    const std::string archive = folder.Join("f.zip");
    {
        zip_test_data::CurrentFolderScope scope(folder.Path());
        CZipHandler zip;
        zip.Open(archive, CZipHandler::create, 0);
        ASSERT_TRUE(zip.AddFile("maps", 9, true, nullptr, 0, 100));
        zip.Close(false);
    }
    CZipHandler zip;
    zip.Open(archive, CZipHandler::openReadOnly, 0);
    const CZipEntryHeader header = InfoOf(zip, 0);
    EXPECT_EQ(header.method, 0);
    EXPECT_EQ(header.flag, 0);
    EXPECT_EQ(header.compressedSize, 0u);
    EXPECT_TRUE(zip.IsEntryDirectory(0));
}

TEST(AddFile, UnnamedNewEntriesAreNumberedFromOne) {
    TempFolder folder;
    const std::string archive = folder.Join("n.zip");
    CZipHandler zip;
    zip.Open(archive, CZipHandler::create, 0);
    for (int i = 0; i < 2; ++i) {
        CZipEntryHeader templateHeader;
        ASSERT_TRUE(zip.OpenNewEntry(templateHeader, 6, nullptr));
        EXPECT_FALSE(zip.OpenNewEntry(templateHeader, 6, nullptr));
        EXPECT_TRUE(zip.WriteNewEntry("xyz", 3));
        EXPECT_TRUE(zip.CloseNewEntry());
        EXPECT_FALSE(zip.CloseNewEntry());
    }
    EXPECT_FALSE(zip.WriteNewEntry("xyz", 3));
    zip.Close(false);
    zip.Open(archive, CZipHandler::openReadOnly, 0);
    EXPECT_EQ(InfoOf(zip, 0).GetFileName(), "file1");
    EXPECT_EQ(InfoOf(zip, 1).GetFileName(), "file2");
}

TEST(AddFile, AppendsToExistingArchive) {
    TempFolder folder;
    const std::string first = MixedData(30000, 1);
    const std::string second = MixedData(30000, 2);
    WriteFile(folder.Join("one.bin"), first);
    WriteFile(folder.Join("two.bin"), second);
    const std::string archive = folder.Join("e.zip");
    MakeArchive(archive, folder.Join("one.bin"), 6);
    {
        CZipHandler zip;
        zip.Open(archive, CZipHandler::openExisting, 0);
        ASSERT_TRUE(zip.AddFile(folder.Join("two.bin"), 1, false, nullptr, 0, 65535));
        zip.Close(false);
    }
    CZipHandler zip;
    zip.Open(archive, CZipHandler::openReadOnly, 0);
    ASSERT_EQ(zip.GetEntryCount(), 2);
    ASSERT_TRUE(zip.ExtractEntry(0, folder.Join("out"), false, nullptr, nullptr, 0, 1000));
    ASSERT_TRUE(zip.ExtractEntry(1, folder.Join("out"), false, nullptr, nullptr, 0, 1000));
    EXPECT_EQ(ReadFile(folder.Join("out\\one.bin")), first);
    EXPECT_EQ(ReadFile(folder.Join("out\\two.bin")), second);
}

TEST(AddFile, SpannedArchiveThatFitsFirstVolumeBecomesOrdinary) {
    TempFolder folder;
    std::vector<std::string> contents;
    for (int i = 0; i < 3; ++i) {
        contents.push_back(MixedData(5000 + 1000 * i, 10 + i));
        WriteFile(folder.Join("f" + std::to_string(i) + ".bin"), contents.back());
    }
    const std::string archive = folder.Join("span.zip");
    {
        CZipHandler zip;
        zip.Open(archive, CZipHandler::createSpanned, 1000000);
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(zip.AddFile(folder.Join("f" + std::to_string(i) + ".bin"), 6, false,
                                    nullptr, 0, 4096));
        }
        zip.Close(false);
    }
    const std::string bytes = ReadFile(archive);
    EXPECT_EQ(U32At(bytes, 0), 0x04034b50u);  // no span marker
    EXPECT_EQ(U16At(bytes, 6) & 0x0008, 0);   // no data descriptor
    CZipHandler zip;
    zip.Open(archive, CZipHandler::openReadOnly, 0);
    ASSERT_EQ(zip.GetEntryCount(), 3);
    for (uint16_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(zip.ExtractEntry(i, folder.Join("out"), false, nullptr, nullptr, 0, 999));
        EXPECT_EQ(ReadFile(folder.Join("out\\f" + std::to_string(i) + ".bin")), contents[i]);
    }
}

TEST(AddFile, MultiVolumeArchiveReadsBackWhole) {
    TempFolder folder;
    std::vector<std::string> contents;
    for (int i = 0; i < 4; ++i) {
        contents.push_back(MixedData(40000, 20 + i));
        WriteFile(folder.Join("f" + std::to_string(i) + ".bin"), contents.back());
    }
    const std::string archive = folder.Join("multi.zip");
    {
        CZipHandler zip;
        zip.Open(archive, CZipHandler::createSpanned, 30000);
        for (int i = 0; i < 4; ++i) {
            ASSERT_TRUE(zip.AddFile(folder.Join("f" + std::to_string(i) + ".bin"), i == 0 ? 0 : 6,
                                    false, nullptr, 0, 65535));
        }
        zip.Close(false);
    }
    EXPECT_TRUE(test_support::Exists(folder.Join("multi.000")));
    EXPECT_TRUE(test_support::Exists(folder.Join("multi.001")));
    CZipHandler zip;
    zip.Open(archive, CZipHandler::openReadOnly, 1);
    ASSERT_EQ(zip.GetEntryCount(), 4);
    for (uint16_t i = 0; i < 4; ++i) {
        EXPECT_EQ(InfoOf(zip, i).flag & 0x0008, 0x0008);
        ASSERT_TRUE(zip.ExtractEntry(i, folder.Join("out"), false, nullptr, nullptr, 0, 7777));
        EXPECT_EQ(ReadFile(folder.Join("out\\f" + std::to_string(i) + ".bin")), contents[i]);
    }
}

// Recovering the entries of an archive whose writer died before writing its central directory.
#include <gtest/gtest.h>

#include <string>

#include "platform/file.h"
#include "support/test_support.h"
#include "zip/archive_recovery.h"
#include "zip/zip_exception.h"
#include "zip/zip_handler.h"

namespace {

using test_support::ReadFile;
using test_support::TempFolder;
using test_support::WriteFile;

std::string Content(char seed, size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>(seed + (i * 31 + i / 7) % 61);
    return s;
}

// Adds the files to a new archive and drops the archive object without closing it, as a killed
// process would: the local headers are finished, the central directory is never written.
void WriteUnfinishedArchive(const TempFolder& folder, const std::string& archive,
                            const std::vector<std::string>& names) {
    CZipHandler zip;
    zip.Open(archive, CZipHandler::create, 0);
    for (const std::string& name : names)
        ASSERT_TRUE(zip.AddFile(folder.Join(name), -1, false, nullptr, 0, 65535));
}

void Truncate(const std::string& path, uint64_t length) {
    CFile file;
    ASSERT_TRUE(file.Open(path, CFile::modeReadWrite));
    file.SetLength(length);
    file.Close();
}

class ArchiveRecoveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(folder.Join("a.txt"), Content('a', 70000));
        WriteFile(folder.Join("empty.txt"), "");
        WriteFile(folder.Join("c.bin"), Content('c', 5000));
        archive = folder.Join("backup.zip");
        out = folder.Join("out");
    }

    TempFolder folder;
    std::string archive;
    std::string out;
};

TEST_F(ArchiveRecoveryTest, RecoverArchive_RestoresEveryFinishedEntryOfAnUnclosedArchive) {
    WriteUnfinishedArchive(folder, archive, {"a.txt", "empty.txt", "c.bin"});
    CZipHandler zip;
    try {
        zip.Open(archive, CZipHandler::openExisting, 0);
        FAIL() << "an archive without a central directory opened";
    } catch (const CZipException& e) {
        EXPECT_EQ(e.code, CZipException::rootDirectoryNotFound);
    }
    ASSERT_EQ(RecoverArchive(zip, archive), 3);
    for (const char* name : {"a.txt", "empty.txt", "c.bin"}) {
        const int index = zip.FindEntry(std::string(name), false);
        ASSERT_GE(index, 0) << name;
        EXPECT_TRUE(
            zip.ExtractEntry(static_cast<uint16_t>(index), out, true, nullptr, nullptr, 0, 65535));
        EXPECT_EQ(ReadFile(out + "\\" + name), ReadFile(folder.Join(name))) << name;
    }
    const std::string before = ReadFile(archive);
    zip.Close(false);
    EXPECT_EQ(ReadFile(archive), before) << "recovery must leave the archive file as it found it";
}

TEST_F(ArchiveRecoveryTest, RecoverArchive_DropsAnEntryWhoseDataWasCutShort) {
    WriteUnfinishedArchive(folder, archive, {"a.txt", "c.bin"});
    const uint64_t length = ReadFile(archive).size();
    Truncate(archive, length - 100);
    CZipHandler zip;
    ASSERT_EQ(RecoverArchive(zip, archive), 1);
    CZipEntryHeader header;
    ASSERT_TRUE(zip.GetEntryInfo(header, 0));
    EXPECT_EQ(header.GetFileName(), "a.txt");
    EXPECT_TRUE(zip.ExtractEntry(0, out, true, nullptr, nullptr, 0, 65535));
    EXPECT_EQ(ReadFile(out + "\\a.txt"), ReadFile(folder.Join("a.txt")));
}

TEST_F(ArchiveRecoveryTest, RecoverArchive_DropsAnEntryWhoseHeaderWasNeverFinished) {
    // The second entry's header still holds the zero CRC-32 and sizes it was started with.
    WriteUnfinishedArchive(folder, archive, {"a.txt", "c.bin"});
    std::string bytes = ReadFile(archive);
    const size_t second = bytes.find(std::string("PK\x03\x04", 4), 4);
    ASSERT_NE(second, std::string::npos);
    bytes.replace(second + 14, 12, std::string(12, '\0'));
    WriteFile(archive, bytes);
    CZipHandler zip;
    EXPECT_EQ(RecoverArchive(zip, archive), 1);
}

TEST_F(ArchiveRecoveryTest, RecoverArchive_OfAnEmptyFileFindsNothing) {
    WriteFile(archive, "");
    CZipHandler zip;
    EXPECT_EQ(RecoverArchive(zip, archive), 0);
    EXPECT_FALSE(zip.IsClosed(true));
    zip.Close(false);
    EXPECT_EQ(ReadFile(archive), "");
}

}  // namespace

// The file object and the memory mapping: open flags, positions, lengths, status and errors.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/file.h"
#include "platform/mapped_file.h"
#include "tests/support/test_support.h"

namespace {

using test_support::ReadFile;
using test_support::TempFolder;
using test_support::WriteFile;

// Opens path or fails the test with the error the open reported.
void OpenOrFail(CFile& file, const std::string& path, unsigned flags) {
    CFileException error;
    ASSERT_TRUE(file.Open(path, flags, &error))
        << "error " << error.osError << " opening " << error.fileName;
}

void Append(CFile& file, const std::string& text) {
    file.Write(text.data(), static_cast<uint32_t>(text.size()));
}

TEST(FileObject, Open_CreateTruncatesAnExistingFile) {
    TempFolder folder;
    const std::string path = folder.Join("data.bin");
    WriteFile(path, "old content");

    CFile file;
    OpenOrFail(file, path, CFile::modeCreate | CFile::modeReadWrite);
    EXPECT_EQ(file.GetLength(), 0u);
    Append(file, "new");
    file.Close();
    EXPECT_EQ(ReadFile(path), "new");
}

TEST(FileObject, Open_CreateWithNoTruncateKeepsAnExistingFileAndMakesAMissingOne) {
    TempFolder folder;
    const std::string existing = folder.Join("existing.bin");
    WriteFile(existing, "0123456789");

    CFile file;
    OpenOrFail(file, existing, CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite);
    EXPECT_EQ(file.GetLength(), 10u);
    EXPECT_EQ(file.GetPosition(), 0u);
    Append(file, "ab");
    file.Close();
    EXPECT_EQ(ReadFile(existing), "ab23456789");

    const std::string missing = folder.Join("missing.bin");
    OpenOrFail(file, missing, CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite);
    file.Close();
    EXPECT_TRUE(test_support::Exists(missing));
}

TEST(FileObject, Open_MissingFileFailsWithTheOsErrorAndTheName) {
    TempFolder folder;
    const std::string path = folder.Join("absent.bin");
    CFile file;
    CFileException error;
    EXPECT_FALSE(file.Open(path, CFile::modeRead, &error));
    EXPECT_FALSE(file.IsOpen());
    // ENOENT on Linux and ERROR_FILE_NOT_FOUND on Windows are both 2.
    EXPECT_EQ(error.osError, 2);
    EXPECT_EQ(error.fileName, path);
    EXPECT_FALSE(file.Open(path, CFile::modeRead));  // no exception object to fill: no crash
}

TEST(FileObject, Write_ToAFileOpenedForReadingThrowsWithTheOsErrorAndTheName) {
    TempFolder folder;
    const std::string path = folder.Join("read_only_handle.bin");
    WriteFile(path, "keep");
    CFile file;
    OpenOrFail(file, path, CFile::modeRead);
    try {
        Append(file, "lost");
        FAIL() << "a write through a read-only handle succeeded";
    } catch (const CFileException& error) {
        EXPECT_GT(error.osError, 0);
        EXPECT_EQ(error.fileName, path);
    }
    file.Close();
    EXPECT_EQ(ReadFile(path), "keep");
}

TEST(FileObject, Read_ReturnsWhatIsLeftThenZeroAtTheEnd) {
    TempFolder folder;
    const std::string path = folder.Join("short.bin");
    WriteFile(path, "12345");
    CFile file;
    OpenOrFail(file, path, CFile::modeRead | CFile::shareDenyWrite);
    char buffer[16] = {};
    EXPECT_EQ(file.Read(buffer, 3), 3u);
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 2u);
    EXPECT_EQ(std::string(buffer, 2), "45");
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 0u);
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 0u);
}

TEST(FileObject, SeekAndSetLength_MoveThePositionAndCutOrExtendTheFile) {
    TempFolder folder;
    const std::string path = folder.Join("seek.bin");
    CFile file;
    OpenOrFail(file, path, CFile::modeCreate | CFile::modeReadWrite | CFile::shareDenyWrite);
    Append(file, "0123456789");
    EXPECT_EQ(file.GetPosition(), 10u);
    EXPECT_EQ(file.Seek(-4, CFile::end), 6u);
    EXPECT_EQ(file.Seek(2, CFile::current), 8u);
    EXPECT_EQ(file.Seek(3, CFile::begin), 3u);
    char byte = 0;
    ASSERT_EQ(file.Read(&byte, 1), 1u);
    EXPECT_EQ(byte, '3');

    // Setting the length leaves the position where it was, on every build.
    file.SetLength(6);
    EXPECT_EQ(file.GetLength(), 6u);
    EXPECT_EQ(file.GetPosition(), 4u);
    file.SetLength(8);
    EXPECT_EQ(file.GetLength(), 8u);
    EXPECT_EQ(file.GetPosition(), 4u);

    // Writing past the end fills the gap with zeros.
    file.Seek(10, CFile::begin);
    Append(file, "X");
    file.Flush();
    file.Close();
    EXPECT_EQ(ReadFile(path), std::string("012345\0\0\0\0X", 11));
}

TEST(FileObject, Seek_BeforeTheStartThrows) {
    TempFolder folder;
    const std::string path = folder.Join("negative.bin");
    WriteFile(path, "abc");
    CFile file;
    OpenOrFail(file, path, CFile::modeRead);
    EXPECT_THROW(file.Seek(-1, CFile::begin), CFileException);
    EXPECT_EQ(file.GetPosition(), 0u);
}

TEST(FileObject, ShareDenyWrite_StillLetsReadersThatShareWritingIn) {
    TempFolder folder;
    const std::string path = folder.Join("shared.bin");
    CFile writer;
    OpenOrFail(writer, path, CFile::modeCreate | CFile::modeReadWrite | CFile::shareDenyWrite);
    Append(writer, "visible");
    writer.Flush();

    // A reader that itself denied writing would clash with the open writer on Windows.
    CFile reader;
    OpenOrFail(reader, path, CFile::modeRead);
    char buffer[16] = {};
    EXPECT_EQ(reader.Read(buffer, sizeof buffer), 7u);
    EXPECT_EQ(std::string(buffer, 7), "visible");
    EXPECT_EQ(ReadFile(path), "visible");
}

TEST(FileObject, CloseAndAbort_ReleaseTheFileAndForgetItsPath) {
    TempFolder folder;
    const std::string path = folder.Join("closed.bin");
    CFile file;
    OpenOrFail(file, path, CFile::modeCreate | CFile::modeWrite | CFile::shareDenyWrite);
    EXPECT_TRUE(file.IsOpen());
    EXPECT_EQ(file.GetFilePath(), path);
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.GetFilePath(), "");
    file.Close();  // closing twice is harmless

    OpenOrFail(file, path, CFile::modeReadWrite | CFile::shareDenyWrite);
    file.Abort();
    EXPECT_FALSE(file.IsOpen());
    // The file is free again: it can be opened exclusively and deleted.
    OpenOrFail(file, path, CFile::modeReadWrite | CFile::shareDenyWrite);
    file.Close();
    EXPECT_NO_THROW(CFile::Remove(path));
    EXPECT_FALSE(test_support::Exists(path));
}

TEST(FileObject, Destructor_ClosesTheFileSoItCanBeRemoved) {
    TempFolder folder;
    const std::string path = folder.Join("scoped.bin");
    {
        CFile file;
        OpenOrFail(file, path, CFile::modeCreate | CFile::modeWrite | CFile::shareDenyWrite);
        Append(file, "x");
    }
    EXPECT_EQ(ReadFile(path), "x");
    EXPECT_NO_THROW(CFile::Remove(path));
}

TEST(FileObject, SetStatus_AppliesTimesAndAttributesThatGetStatusReadsBack) {
    TempFolder folder;
    const std::string path = folder.Join("stamped.bin");
    WriteFile(path, "abc");

    CFileStatus wanted;
    wanted.creationTime = 1000000000;    // 2001-09-09
    wanted.lastAccessTime = 1100000000;  // 2004-11-09
    wanted.lastWriteTime = 946684800;    // 2000-01-01 00:00:00 UTC
    wanted.attributes = 0x01;            // read-only
    CFile::SetStatus(path, wanted);

    CFileStatus status;
    ASSERT_TRUE(CFile::GetStatus(path, status));
    EXPECT_EQ(status.lastWriteTime, wanted.lastWriteTime);
    EXPECT_EQ(status.size, 3u);
    EXPECT_EQ(status.attributes & 0x11u, 0x01u);

    // A read-only file takes new times too, and loses the attribute when told to.
    wanted.lastWriteTime = 978307200;  // 2001-01-01 00:00:00 UTC
    wanted.attributes = 0x20;
    CFile::SetStatus(path, wanted);
    ASSERT_TRUE(CFile::GetStatus(path, status));
    EXPECT_EQ(status.lastWriteTime, wanted.lastWriteTime);
    EXPECT_EQ(status.attributes & 0x01u, 0u);
}

TEST(FileObject, StatusOfAMissingFile_GetFailsAndSetThrows) {
    TempFolder folder;
    const std::string path = folder.Join("nothing.bin");
    CFileStatus status;
    EXPECT_FALSE(CFile::GetStatus(path, status));
    CFileStatus wanted;
    wanted.lastWriteTime = 946684800;
    try {
        CFile::SetStatus(path, wanted);
        FAIL() << "setting the status of a missing file succeeded";
    } catch (const CFileException& error) {
        EXPECT_EQ(error.fileName, path);
        EXPECT_GT(error.osError, 0);
    }
}

TEST(FileObject, RenameAndRemove_ThrowWithTheSourceNameWhenTheyFail) {
    TempFolder folder;
    const std::string from = folder.Join("from.bin");
    const std::string to = folder.Join("to.bin");
    WriteFile(from, "moved");
    CFile::Rename(from, to);
    EXPECT_FALSE(test_support::Exists(from));
    EXPECT_EQ(ReadFile(to), "moved");

    // Renaming onto an existing file refuses, as Windows does, and keeps both files.
    WriteFile(from, "second");
    try {
        CFile::Rename(from, to);
        FAIL() << "rename replaced an existing file";
    } catch (const CFileException& error) {
        EXPECT_EQ(error.fileName, from);
        EXPECT_GT(error.osError, 0);
    }
    EXPECT_EQ(ReadFile(to), "moved");
    EXPECT_EQ(ReadFile(from), "second");

    CFile::Remove(from);
    try {
        CFile::Remove(from);
        FAIL() << "removing a missing file succeeded";
    } catch (const CFileException& error) {
        EXPECT_EQ(error.fileName, from);
        EXPECT_EQ(error.osError, 2);  // ENOENT and ERROR_FILE_NOT_FOUND
    }
}

TEST(MappedFile, EditsThroughTheMappingReachTheFile) {
    TempFolder folder;
    const std::string path = folder.Join("mapped.bin");
    WriteFile(path, "hello, world");

    CFile file;
    OpenOrFail(file, path, CFile::modeReadWrite | CFile::shareDenyWrite);
    {
        platform::MappedFile mapping;
        ASSERT_TRUE(mapping.Map(file));
        ASSERT_EQ(mapping.Size(), 12u);
        EXPECT_EQ(std::memcmp(mapping.Data(), "hello", 5), 0);
        std::memcpy(mapping.Data(), "HELLO", 5);
        mapping.Unmap();
        EXPECT_EQ(mapping.Data(), nullptr);
        EXPECT_EQ(mapping.Size(), 0u);
    }
    // Cutting the file after unmapping, as the engine does when it compacts an archive in place.
    file.SetLength(9);
    file.Close();
    EXPECT_EQ(ReadFile(path), "HELLO, wo");
}

TEST(MappedFile, AnEmptyFileIsNotMapped) {
    TempFolder folder;
    const std::string path = folder.Join("empty.bin");
    CFile file;
    OpenOrFail(file, path, CFile::modeCreate | CFile::modeReadWrite);
    platform::MappedFile mapping;
    EXPECT_FALSE(mapping.Map(file));
    EXPECT_EQ(mapping.Data(), nullptr);
    EXPECT_EQ(mapping.Size(), 0u);
}

}  // namespace

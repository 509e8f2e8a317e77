// File search, attributes, copying, moving and folders through the platform layer.
#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "platform/file.h"
#include "platform/mapped_file.h"
#include "tests/support/test_support.h"

namespace {

using test_support::ReadFile;
using test_support::WriteFile;

std::set<std::string> FindAll(const std::string& pattern) {
    std::set<std::string> names;
    platform::FileFinder finder;
    for (bool found = finder.FindFirst(pattern); found; found = finder.FindNext()) {
        names.insert(finder.Current().name);
    }
    return names;
}

class FileSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(folder.Join("Alpha.txt"), "alpha");
        WriteFile(folder.Join("beta.TXT"), "b");
        WriteFile(folder.Join("gamma.dat"), "gamma");
        WriteFile(folder.Join("noext"), "");
        ASSERT_TRUE(platform::CreateFolder(folder.Join("sub")));
    }

    test_support::TempFolder folder;
};

TEST_F(FileSystemTest, FileFinder_MatchesWindowsWildcardsIgnoringCase) {
    using Names = std::set<std::string>;
    EXPECT_EQ(FindAll(folder.Join("*.txt")), (Names{"Alpha.txt", "beta.TXT"}));
    EXPECT_EQ(FindAll(folder.Join("?AMMA.*")), (Names{"gamma.dat"}));
    EXPECT_EQ(FindAll(folder.Join("*.*")),
              (Names{".", "..", "Alpha.txt", "beta.TXT", "gamma.dat", "noext", "sub"}));
    EXPECT_EQ(FindAll(folder.Join("*")), FindAll(folder.Join("*.*")));
    EXPECT_EQ(FindAll(folder.Join("b*t")), (Names{"beta.TXT"}));
    EXPECT_TRUE(FindAll(folder.Join("*.zip")).empty());
    EXPECT_TRUE(FindAll(folder.Join("missing\\*")).empty());
}

TEST_F(FileSystemTest, FileFinder_ReportsPlainNameWithAttributesAndSize) {
    platform::FileFinder finder;
    ASSERT_TRUE(finder.FindFirst(folder.Join("gamma.dat")));
    EXPECT_EQ(finder.Current().name, "gamma.dat");
    EXPECT_EQ(finder.Current().size, 5u);
    EXPECT_FALSE(finder.Current().attributes & platform::attributeFolder);
    EXPECT_FALSE(finder.FindNext());
    ASSERT_TRUE(finder.FindFirst(folder.Join("sub")));
    EXPECT_TRUE(finder.Current().attributes & platform::attributeFolder);
    EXPECT_FALSE(finder.FindFirst(folder.Join("absent.dat")));
}

TEST_F(FileSystemTest, Attributes_ReadOnlyBitRoundTripsAndFolderIsMarked) {
    const std::string file = folder.Join("gamma.dat");
    EXPECT_FALSE(platform::GetAttributes(file) & platform::attributeReadOnly);
    EXPECT_TRUE(platform::GetAttributes(folder.Join("sub")) & platform::attributeFolder);
    ASSERT_TRUE(platform::SetAttributes(file, platform::attributeReadOnly));
    EXPECT_TRUE(platform::GetAttributes(file) & platform::attributeReadOnly);
    ASSERT_TRUE(platform::SetAttributes(file, platform::attributeArchive));
    EXPECT_FALSE(platform::GetAttributes(file) & platform::attributeReadOnly);
    EXPECT_EQ(platform::GetAttributes(folder.Join("absent")), platform::invalidAttributes);
    EXPECT_FALSE(platform::SetAttributes(folder.Join("absent"), platform::attributeArchive));
}

TEST_F(FileSystemTest, MoveFileTo_RefusesExistingTargetAndMovesOtherwise) {
    EXPECT_FALSE(platform::MoveFileTo(folder.Join("Alpha.txt"), folder.Join("gamma.dat")));
    EXPECT_EQ(ReadFile(folder.Join("gamma.dat")), "gamma");
    ASSERT_TRUE(platform::MoveFileTo(folder.Join("Alpha.txt"), folder.Join("sub\\moved.txt")));
    EXPECT_EQ(ReadFile(folder.Join("sub\\moved.txt")), "alpha");
    EXPECT_FALSE(test_support::Exists(folder.Join("Alpha.txt")));
}

TEST_F(FileSystemTest, CFileRename_ThrowsWhenTargetExists) {
    EXPECT_THROW(CFile::Rename(folder.Join("Alpha.txt"), folder.Join("gamma.dat")), CFileException);
    CFile::Rename(folder.Join("Alpha.txt"), folder.Join("renamed.txt"));
    EXPECT_EQ(ReadFile(folder.Join("renamed.txt")), "alpha");
}

TEST_F(FileSystemTest, ReplaceFileAtomically_ReplacesExistingTarget) {
    ASSERT_TRUE(
        platform::ReplaceFileAtomically(folder.Join("Alpha.txt"), folder.Join("gamma.dat")));
    EXPECT_EQ(ReadFile(folder.Join("gamma.dat")), "alpha");
    EXPECT_FALSE(test_support::Exists(folder.Join("Alpha.txt")));
}

TEST_F(FileSystemTest, CopyFileOver_KeepsContentAndTimeAndHonoursFailIfExists) {
    CFileStatus status;
    ASSERT_TRUE(CFile::GetStatus(folder.Join("gamma.dat"), status));
    status.lastWriteTime = 1000000000;  // 2001, well in the past
    status.lastAccessTime = 1000000000;
    CFile::SetStatus(folder.Join("gamma.dat"), status);

    EXPECT_FALSE(platform::CopyFileOver(folder.Join("gamma.dat"), folder.Join("beta.TXT"), true));
    EXPECT_EQ(ReadFile(folder.Join("beta.TXT")), "b");
    ASSERT_TRUE(platform::CopyFileOver(folder.Join("gamma.dat"), folder.Join("beta.TXT"), false));
    EXPECT_EQ(ReadFile(folder.Join("beta.TXT")), "gamma");
    CFileStatus copied;
    ASSERT_TRUE(CFile::GetStatus(folder.Join("beta.TXT"), copied));
    EXPECT_EQ(copied.lastWriteTime, 1000000000);
}

TEST_F(FileSystemTest, Folders_CreateEnterAndRemoveOnlyWhenEmpty) {
    EXPECT_TRUE(platform::CanEnterFolderPath(folder.Join("sub")));
    EXPECT_FALSE(platform::CanEnterFolderPath(folder.Join("gamma.dat")));
    EXPECT_FALSE(platform::CanEnterFolderPath(folder.Join("absent")));
    EXPECT_FALSE(platform::CreateFolder(folder.Join("sub")));
    WriteFile(folder.Join("sub\\inner.txt"), "x");
    EXPECT_FALSE(platform::RemoveFolder(folder.Join("sub")));
    ASSERT_TRUE(platform::RemoveFile(folder.Join("sub\\inner.txt")));
    EXPECT_FALSE(platform::RemoveFile(folder.Join("sub\\inner.txt")));
    EXPECT_TRUE(platform::RemoveFolder(folder.Join("sub")));
}

TEST_F(FileSystemTest, CurrentFolder_SetAndGetRoundTrip) {
    std::string saved;
    ASSERT_TRUE(platform::GetCurrentFolder(saved));
    ASSERT_TRUE(platform::SetCurrentFolder(folder.Join("sub")));
    std::string inside;
    EXPECT_TRUE(platform::GetCurrentFolder(inside));
    WriteFile("here.txt", "relative");
    ASSERT_TRUE(platform::SetCurrentFolder(saved));
    EXPECT_EQ(ReadFile(folder.Join("sub\\here.txt")), "relative");
    EXPECT_EQ(inside.substr(inside.size() - 4), "\\sub");
}

TEST_F(FileSystemTest, CFile_ReadsZeroAtEndAndReportsFailuresWithPath) {
    CFile file;
    ASSERT_TRUE(file.Open(folder.Join("gamma.dat"), CFile::modeRead | CFile::shareDenyWrite));
    char buffer[16];
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 5u);
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 0u);
    EXPECT_EQ(file.GetLength(), 5u);
    EXPECT_EQ(file.Seek(-2, CFile::end), 3u);
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 2u);
    file.Close();

    CFileException error;
    const std::string missing = folder.Join("absent.dat");
    EXPECT_FALSE(file.Open(missing, CFile::modeRead, &error));
    EXPECT_NE(error.osError, 0);
    EXPECT_EQ(error.fileName, missing);
    EXPECT_THROW(CFile::Remove(missing), CFileException);
}

TEST_F(FileSystemTest, CFile_CreateTruncatesUnlessNoTruncate) {
    CFile file;
    ASSERT_TRUE(file.Open(folder.Join("gamma.dat"),
                          CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite));
    EXPECT_EQ(file.GetLength(), 5u);
    file.Seek(0, CFile::end);
    file.Write("++", 2);
    file.Close();
    EXPECT_EQ(ReadFile(folder.Join("gamma.dat")), "gamma++");
    ASSERT_TRUE(file.Open(folder.Join("gamma.dat"), CFile::modeCreate | CFile::modeWrite));
    file.Close();
    EXPECT_EQ(ReadFile(folder.Join("gamma.dat")), "");
}

TEST_F(FileSystemTest, MappedFile_WritesThroughToTheFile) {
    CFile file;
    ASSERT_TRUE(file.Open(folder.Join("gamma.dat"), CFile::modeReadWrite));
    {
        platform::MappedFile mapping;
        ASSERT_TRUE(mapping.Map(file));
        ASSERT_EQ(mapping.Size(), 5u);
        mapping.Data()[0] = 'G';
    }
    file.Close();
    EXPECT_EQ(ReadFile(folder.Join("gamma.dat")), "Gamma");
}

// Names in the program's code page reach the disk as the host spells them, and come back.
TEST_F(FileSystemTest, HostPath_MapsAnsiNamesAndBackslashes) {
    const std::string utf8 = "caf\u00E9 \u20AC \u0160.txt";
    const std::string name = test_support::Local(utf8);
    WriteFile(folder.Join("sub\\" + name), "x");
    std::vector<std::string> onDisk;
    for (const auto& entry :
         std::filesystem::directory_iterator(platform::ToHostPath(folder.Join("sub")))) {
        const auto utf8 = entry.path().filename().u8string();
        onDisk.emplace_back(utf8.begin(), utf8.end());
    }
    EXPECT_EQ(onDisk, std::vector<std::string>{utf8});
    EXPECT_EQ(FindAll(folder.Join("sub\\*.txt")), std::set<std::string>{name});
    const std::string program = folder.Join("sub\\" + name);
    EXPECT_EQ(platform::FromHostPath(platform::ToHostPath(program)), program);
}

}  // namespace

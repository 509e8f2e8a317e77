// Names matched regardless of letter case by every file operation, as Windows matches them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "platform/file.h"
#include "platform/file_system.h"
#include "tests/support/test_support.h"

namespace {

using test_support::Exists;
using test_support::ReadFile;
using test_support::WriteFile;

std::set<std::string> FindAll(const std::string& pattern) {
    std::set<std::string> names;
    platform::FileFinder finder;
    for (bool found = finder.FindFirst(pattern); found; found = finder.FindNext()) {
        if (finder.Current().name != "." && finder.Current().name != "..")
            names.insert(finder.Current().name);
    }
    return names;
}

std::string FoundName(const std::string& path) {
    platform::FileFinder finder;
    return finder.FindFirst(path) ? finder.Current().name : std::string("<none>");
}

// A file written behind the program's back, under exactly the name given: in the host's form of
// the folder where the test process can use it, otherwise in the program's own (a Windows build,
// whose paths the library takes as they are).
std::filesystem::path OutsidePath(const std::string& folder, const std::string& name) {
    const std::filesystem::path host = platform::ToHostPath(folder);
    std::error_code error;
    return (std::filesystem::is_directory(host, error) ? host : std::filesystem::path(folder)) /
           name;
}

void WriteOutside(const std::string& folder, const std::string& name, const std::string& content) {
    std::ofstream(OutsidePath(folder, name), std::ios::binary) << content;
}

class NameCaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(platform::CreateFolder(folder.Join("Foo")));
        WriteFile(folder.Join("Foo\\Bar.txt"), "bar");
    }

    test_support::TempFolder folder;
};

TEST_F(NameCaseTest, ExistingNames_ReachedUnderAnyCaseByEveryOperation) {
    EXPECT_EQ(ReadFile(folder.Join("FOO\\bar.TXT")), "bar");
    EXPECT_TRUE(platform::GetAttributes(folder.Join("foo")) & platform::attributeFolder);
    CFileStatus status;
    ASSERT_TRUE(CFile::GetStatus(folder.Join("fOO\\BAR.txt"), status));
    EXPECT_EQ(status.size, 3u);
    ASSERT_TRUE(platform::SetAttributes(folder.Join("foo\\bar.txt"), platform::attributeReadOnly));
    EXPECT_TRUE(platform::GetAttributes(folder.Join("Foo\\Bar.txt")) & platform::attributeReadOnly);
    ASSERT_TRUE(platform::SetAttributes(folder.Join("FOO\\BAR.TXT"), platform::attributeArchive));
    EXPECT_TRUE(platform::CanEnterFolderPath(folder.Join("FOO")));

    // Writing and copying land in the existing file and folder; no second spelling appears.
    WriteFile(folder.Join("FOO\\BAR.TXT"), "new");
    ASSERT_TRUE(
        platform::CopyFileOver(folder.Join("foo\\bar.txt"), folder.Join("FOO\\Copy.txt"), false));
    EXPECT_EQ(FindAll(folder.Join("*")), std::set<std::string>{"Foo"});
    EXPECT_EQ(FindAll(folder.Join("foo\\*")), (std::set<std::string>{"Bar.txt", "Copy.txt"}));
    EXPECT_EQ(ReadFile(folder.Join("Foo\\Bar.txt")), "new");
    EXPECT_FALSE(
        platform::CopyFileOver(folder.Join("Foo\\Bar.txt"), folder.Join("foo\\COPY.TXT"), true));
}

TEST_F(NameCaseTest, FileFinder_ReportsPlainNameAsSpelledOnDisk) {
    EXPECT_EQ(FoundName(folder.Join("FOO\\BAR.TXT")), "Bar.txt");
    EXPECT_EQ(FoundName(folder.Join("foo")), "Foo");
    EXPECT_EQ(FoundName(folder.Join("foo\\bar.txt")), "Bar.txt");
    EXPECT_EQ(FoundName(folder.Join("foo\\absent.txt")), "<none>");
    EXPECT_EQ(FindAll(folder.Join("FOO\\b*")), std::set<std::string>{"Bar.txt"});
}

TEST_F(NameCaseTest, NewNames_KeepTheirSpellingInsideExistingFolders) {
    ASSERT_TRUE(platform::CreateFolder(folder.Join("FOO\\NewSub")));
    WriteFile(folder.Join("foo\\newsub\\Data.BIN"), "d");
    EXPECT_EQ(FindAll(folder.Join("*")), std::set<std::string>{"Foo"});
    EXPECT_EQ(FindAll(folder.Join("Foo\\*")), (std::set<std::string>{"Bar.txt", "NewSub"}));
    EXPECT_EQ(FindAll(folder.Join("Foo\\NewSub\\*")), std::set<std::string>{"Data.BIN"});
    EXPECT_FALSE(platform::CreateFolder(folder.Join("foo\\NEWSUB")));  // it exists already
}

TEST_F(NameCaseTest, DeleteMoveAndRemoveFolder_ReachTheExistingName) {
    ASSERT_TRUE(
        platform::CopyFileOver(folder.Join("Foo\\Bar.txt"), folder.Join("Foo\\Two.txt"), false));
    ASSERT_TRUE(platform::RemoveFile(folder.Join("FOO\\BAR.TXT")));
    EXPECT_FALSE(Exists(folder.Join("Foo\\Bar.txt")));
    // A target equal to an existing name ignoring case exists, as on Windows.
    WriteFile(folder.Join("Foo\\Three.txt"), "3");
    EXPECT_FALSE(platform::MoveFileTo(folder.Join("foo\\three.txt"), folder.Join("FOO\\TWO.TXT")));
    ASSERT_TRUE(platform::MoveFileTo(folder.Join("foo\\two.txt"), folder.Join("FOO\\Moved.txt")));
    EXPECT_EQ(FindAll(folder.Join("Foo\\*")), (std::set<std::string>{"Moved.txt", "Three.txt"}));
    CFile::Rename(folder.Join("FOO\\MOVED.TXT"), folder.Join("foo\\Renamed.txt"));
    CFile::Remove(folder.Join("FOO\\RENAMED.TXT"));
    ASSERT_TRUE(platform::ReplaceFileAtomically(folder.Join("foo\\THREE.txt"),
                                                folder.Join("FOO\\Final.txt")));
    EXPECT_EQ(FindAll(folder.Join("Foo\\*")), std::set<std::string>{"Final.txt"});
    ASSERT_TRUE(platform::RemoveFile(folder.Join("foo\\final.TXT")));
    ASSERT_TRUE(platform::RemoveFolder(folder.Join("FOO")));
    EXPECT_TRUE(FindAll(folder.Join("*")).empty());
}

TEST_F(NameCaseTest, CurrentFolder_RelativeNamesAndDotsMatchToo) {
    std::string previous;
    ASSERT_TRUE(platform::GetCurrentFolder(previous));
    ASSERT_TRUE(platform::SetCurrentFolder(folder.Join("FOO")));
    EXPECT_EQ(ReadFile("BAR.TXT"), "bar");
    EXPECT_EQ(ReadFile("..\\foo\\.\\bar.txt"), "bar");
    EXPECT_EQ(platform::GetOnDiskName("..\\FOO\\bar.TXT"), "..\\Foo\\Bar.txt");
    ASSERT_TRUE(platform::SetCurrentFolder(previous));
}

// The program's own creates, deletes and renames are seen at once by later lookups in the same
// folder, whose listing is kept rather than read again.
TEST_F(NameCaseTest, OwnChanges_SeenByLaterLookupsInTheSameFolder) {
    EXPECT_EQ(platform::GetAttributes(folder.Join("FOO\\FILE.TXT")), platform::invalidAttributes);
    WriteFile(folder.Join("foo\\File.txt"), "first");
    EXPECT_EQ(ReadFile(folder.Join("FOO\\FILE.TXT")), "first");
    ASSERT_TRUE(platform::RemoveFile(folder.Join("foo\\file.txt")));
    WriteFile(folder.Join("FOO\\FILE.txt"), "second");
    EXPECT_EQ(FindAll(folder.Join("Foo\\f*")), std::set<std::string>{"FILE.txt"});
    ASSERT_TRUE(platform::MoveFileTo(folder.Join("foo\\file.TXT"), folder.Join("foo\\Other.txt")));
    EXPECT_EQ(platform::GetAttributes(folder.Join("FOO\\FILE.TXT")), platform::invalidAttributes);
    EXPECT_EQ(ReadFile(folder.Join("foo\\OTHER.TXT")), "second");

    for (int i = 0; i < 300; ++i) {
        WriteFile(folder.Join("Foo\\Name" + std::to_string(i) + ".Txt"), std::to_string(i));
    }
    for (int i = 0; i < 300; i += 7) {
        EXPECT_EQ(ReadFile(folder.Join("FOO\\NAME" + std::to_string(i) + ".tXT")),
                  std::to_string(i));
    }
    EXPECT_EQ(FindAll(folder.Join("Foo\\name*")).size(), 300u);
}

TEST_F(NameCaseTest, OutsideChanges_SeenAfterTheListingWasRead) {
    EXPECT_EQ(platform::GetAttributes(folder.Join("foo\\outside.txt")),
              platform::invalidAttributes);
    WriteOutside(folder.Join("Foo"), "Outside.txt", "one");
    EXPECT_EQ(ReadFile(folder.Join("FOO\\OUTSIDE.TXT")), "one");
    std::filesystem::remove(OutsidePath(folder.Join("Foo"), "Outside.txt"));
    WriteOutside(folder.Join("Foo"), "OUTSIDE.txt", "two");
    EXPECT_EQ(ReadFile(folder.Join("foo\\outside.TXT")), "two");
    EXPECT_EQ(FoundName(folder.Join("foo\\outside.txt")), "OUTSIDE.txt");
}

TEST_F(NameCaseTest, GetOnDiskName_SpellsEachExistingComponentAsOnDisk) {
    ASSERT_TRUE(platform::CreateFolder(folder.Join("Foo\\English")));
    WriteFile(folder.Join("Foo\\English\\goals.str"), "g");
    const std::string base = platform::GetOnDiskName(folder.Path());
    EXPECT_EQ(platform::GetOnDiskName(base + "\\FOO\\english\\GOALS.STR"),
              base + "\\Foo\\English\\goals.str");
    // From the first missing component on, the name stays as given.
    EXPECT_EQ(platform::GetOnDiskName(base + "\\foo\\NEW\\english\\x.TXT"),
              base + "\\Foo\\NEW\\english\\x.TXT");
    EXPECT_EQ(platform::GetOnDiskName(base + "\\foo\\English\\Absent.Str"),
              base + "\\Foo\\English\\Absent.Str");
    // Letters beyond ASCII fold too.
    const std::string onDisk = test_support::Local("Été Š.txt");
    const std::string asked = test_support::Local("éTÉ š.TXT");
    WriteFile(folder.Join(onDisk), "e");
    EXPECT_EQ(ReadFile(folder.Join(asked)), "e");
    EXPECT_EQ(platform::GetOnDiskName(base + "\\" + asked), base + "\\" + onDisk);
}

// Two names equal ignoring case can share a folder only where the file system keeps case apart.
TEST_F(NameCaseTest, SeveralCaseEqualNames_ExactSpellingFirstThenFixedChoice) {
    // The program's own writes are taken as the folder's last change until it looks there again.
    EXPECT_EQ(platform::GetNameKind(folder.Join("Foo\\dup.txt")), platform::NameKind::nothing);
    WriteOutside(folder.Join("Foo"), "dup.txt", "small");
    WriteOutside(folder.Join("Foo"), "Dup.txt", "mixed");
    WriteOutside(folder.Join("Foo"), "DUP.txt", "capital");
    if (FindAll(folder.Join("Foo\\dup*")).size() != 3) {
        GTEST_SKIP() << "this file system holds no two names that differ only in letter case";
    }
    EXPECT_EQ(ReadFile(folder.Join("Foo\\dup.txt")), "small");
    EXPECT_EQ(ReadFile(folder.Join("Foo\\Dup.txt")), "mixed");
    EXPECT_EQ(ReadFile(folder.Join("Foo\\DUP.txt")), "capital");
    // Otherwise the first in byte order: capital letters sort before small ones.
    EXPECT_EQ(ReadFile(folder.Join("Foo\\dUp.TXT")), "capital");
    EXPECT_EQ(FoundName(folder.Join("foo\\DUP.TXT")), "DUP.txt");
    EXPECT_EQ(platform::GetOnDiskName(folder.Join("Foo\\dup.txt")), folder.Join("Foo\\dup.txt"));
    EXPECT_EQ(platform::GetOnDiskName(folder.Join("Foo\\duP.txt")), folder.Join("Foo\\DUP.txt"));
    // The choice follows the program's own delete.
    ASSERT_TRUE(platform::RemoveFile(folder.Join("Foo\\DUP.txt")));
    EXPECT_EQ(ReadFile(folder.Join("Foo\\dUp.TXT")), "mixed");
}

}  // namespace

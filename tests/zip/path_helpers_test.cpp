// Tests of the path split, the path kind test and folder creation.
#include "zip/path_helpers.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/file_system.h"
#include "support/test_support.h"

namespace {

using test_support::TempFolder;

struct Split {
    std::string folder;
    std::string title;
    std::string fileName;
    std::string withoutDrive;
};

Split SplitOf(const std::string& path) {
    return {GetPathFolder(path), GetPathTitle(path), GetPathFileName(path),
            GetPathWithoutDrive(path)};
}

TEST(PathHelpers, SplitsFullPathIntoDriveFolderTitleAndName) {
    const std::string path = "C:\\Games\\Thief\\books\\diary.str";
    EXPECT_EQ(GetPathDrive(path), "C:");
    const Split split = SplitOf(path);
    EXPECT_EQ(split.folder, "C:\\Games\\Thief\\books\\");
    EXPECT_EQ(split.title, "diary");
    EXPECT_EQ(split.fileName, "diary.str");
    EXPECT_EQ(split.withoutDrive, "Games\\Thief\\books\\diary.str");
}

TEST(PathHelpers, SplitsRelativeAndBarePaths) {
    EXPECT_EQ(GetPathDrive("books\\diary.str"), "");
    EXPECT_EQ(GetPathFolder("books\\diary.str"), "books\\");
    EXPECT_EQ(GetPathWithoutDrive("books\\diary.str"), "books\\diary.str");
    EXPECT_EQ(GetPathFolder("diary.str"), "");
    EXPECT_EQ(GetPathFileName("diary.str"), "diary.str");
    EXPECT_EQ(GetPathFolder(""), "");
    EXPECT_EQ(GetPathFileName(""), "");
}

TEST(PathHelpers, DriveOnlyWhenSecondCharacterIsColon) {
    EXPECT_EQ(GetPathDrive("C:"), "C:");
    EXPECT_EQ(GetPathFolder("C:"), "C:");
    EXPECT_EQ(GetPathDrive("C:x.txt"), "C:");
    EXPECT_EQ(GetPathFileName("C:x.txt"), "x.txt");
    EXPECT_EQ(GetPathDrive("ab:c"), "");
    EXPECT_EQ(GetPathFileName("ab:c"), "ab:c");
    EXPECT_EQ(GetPathDrive("C"), "");
}

TEST(PathHelpers, FolderKeepsTrailingSeparatorOnlyWhenPresent) {
    EXPECT_EQ(GetPathFolder("C:\\Games"), "C:\\");
    EXPECT_EQ(GetPathTitle("C:\\Games"), "Games");
    EXPECT_EQ(GetPathFolder("C:\\Games\\"), "C:\\Games\\");
    EXPECT_EQ(GetPathFileName("C:\\Games\\"), "");
}

TEST(PathHelpers, ExtensionIsFromTheLastDotOfTheLastPart) {
    EXPECT_EQ(GetPathTitle("archive.tar.gz"), "archive.tar");
    EXPECT_EQ(GetPathFileName("archive.tar.gz"), "archive.tar.gz");
    EXPECT_EQ(GetPathTitle(".profile"), "");
    EXPECT_EQ(GetPathFileName(".profile"), ".profile");
    EXPECT_EQ(GetPathFolder("books\\.hidden"), "books\\");
    EXPECT_EQ(GetPathTitle("books\\.hidden"), "");
    // A dot in a folder name is not the file's extension.
    EXPECT_EQ(GetPathTitle("maps.old\\readme"), "readme");
    EXPECT_EQ(GetPathFileName("maps.old\\readme"), "readme");
}

TEST(PathHelpers, BothSeparatorsSplitButOnlyBackslashesAreTrimmed) {
    EXPECT_EQ(GetPathFolder("a/b\\c/d.txt"), "a/b\\c/");
    EXPECT_EQ(GetPathWithoutDrive("\\\\server\\share\\x.txt"), "server\\share\\x.txt");
    EXPECT_EQ(GetPathDrive("\\\\server\\share\\x.txt"), "");
    EXPECT_EQ(GetPathWithoutDrive("/x/y.txt"), "/x/y.txt");
    EXPECT_EQ(GetPathWithoutDrive("C:\\\\x.txt"), "x.txt");
}

// A part cut to a limit would name another file: a long folder would end inside a name.
TEST(PathHelpers, LongPartsAreNeverCut) {
    const std::string longName(300, 'n');
    const std::string longFolder = std::string(200, 'f') + "\\" + std::string(200, 'g') + "\\";
    EXPECT_EQ(GetPathTitle(longName + ".txt"), longName);
    EXPECT_EQ(GetPathFileName("x." + longName), "x." + longName);
    EXPECT_EQ(GetPathFolder("C:" + longFolder + "a.txt"), "C:" + longFolder);
    EXPECT_EQ(GetPathWithoutDrive("C:" + longFolder + "a.txt"), longFolder + "a.txt");
}

TEST(PathHelpers, TextEndsAtItsFirstZeroByte) {
    const std::string path("dir\\a.txt\0\\b.bin", 16);
    EXPECT_EQ(GetPathFolder(path), "dir\\");
    EXPECT_EQ(GetPathFileName(path), "a.txt");
}

TEST(PathHelpers, GetPathKind_TellsFoldersFilesAndNothing) {
    TempFolder temp;
    test_support::WriteFile(temp.Join("file.txt"), "x");
    ASSERT_TRUE(platform::CreateFolder(temp.Join("sub")));
    EXPECT_EQ(GetPathKind(temp.Path()), PathKind::folder);
    EXPECT_EQ(GetPathKind(temp.Join("sub")), PathKind::folder);
    EXPECT_EQ(GetPathKind(temp.Join("sub\\")), PathKind::folder);
    EXPECT_EQ(GetPathKind(temp.Join("file.txt")), PathKind::file);
    EXPECT_EQ(GetPathKind(temp.Join("missing")), PathKind::nothing);
    EXPECT_EQ(GetPathKind(temp.Join("missing\\deeper.txt")), PathKind::nothing);
    // Wildcards match as in any search: the first match decides.
    EXPECT_EQ(GetPathKind(temp.Join("*.txt")), PathKind::file);
    EXPECT_EQ(GetPathKind(temp.Join("s?b")), PathKind::folder);
    EXPECT_EQ(GetPathKind(temp.Join("*.none")), PathKind::nothing);
}

TEST(PathHelpers, GetPathKind_RootOfTheTempDriveIsAFolder) {
    TempFolder temp;
    // The drive (or file system) root cannot be listed by a search but can be entered.
    const std::string root = GetPathDrive(temp.Path()) + "\\";
    EXPECT_EQ(GetPathKind(root), PathKind::folder);
    EXPECT_TRUE(CanEnterFolder(root));
}

TEST(PathHelpers, CanEnterFolder_OnlyForExistingFolders) {
    TempFolder temp;
    test_support::WriteFile(temp.Join("file.txt"), "x");
    std::string before;
    ASSERT_TRUE(platform::GetCurrentFolder(before));
    EXPECT_TRUE(CanEnterFolder(temp.Path()));
    EXPECT_FALSE(CanEnterFolder(temp.Join("file.txt")));
    EXPECT_FALSE(CanEnterFolder(temp.Join("missing")));
    std::string after;
    ASSERT_TRUE(platform::GetCurrentFolder(after));
    EXPECT_EQ(after, before);
}

TEST(PathHelpers, CreatePathFolders_CreatesMissingParentsFirst) {
    TempFolder temp;
    const std::string target = temp.Join("maps\\sub\\deep\\");
    EXPECT_TRUE(CreatePathFolders(target));
    EXPECT_EQ(GetPathKind(temp.Join("maps")), PathKind::folder);
    EXPECT_EQ(GetPathKind(temp.Join("maps\\sub")), PathKind::folder);
    EXPECT_EQ(GetPathKind(temp.Join("maps\\sub\\deep")), PathKind::folder);
    // A second call finds everything there.
    EXPECT_TRUE(CreatePathFolders(target));
    EXPECT_TRUE(CreatePathFolders(temp.Join("maps\\sub\\deep")));
}

TEST(PathHelpers, CreatePathFolders_FailsWhenAPartIsAFile) {
    TempFolder temp;
    test_support::WriteFile(temp.Join("taken"), "x");
    EXPECT_FALSE(CreatePathFolders(temp.Join("taken")));
    EXPECT_FALSE(CreatePathFolders(temp.Join("taken\\below")));
    EXPECT_EQ(GetPathKind(temp.Join("taken")), PathKind::file);
}

TEST(PathHelpers, CreatePathFolders_TrivialPathsSucceedWithoutTouchingAnything) {
    EXPECT_TRUE(CreatePathFolders("C:\\"));
    EXPECT_TRUE(CreatePathFolders("C:"));
    EXPECT_TRUE(CreatePathFolders(""));
    EXPECT_TRUE(CreatePathFolders("\\\\"));
    TempFolder temp;
    // A trailing forward slash is not trimmed, so the path names its own folder part.
    EXPECT_TRUE(CreatePathFolders(temp.Join("a\\b/")));
    EXPECT_EQ(GetPathKind(temp.Join("a")), PathKind::nothing);
}

TEST(PathHelpers, CreatePathFolders_LongPathNeverCreatesATruncatedFolder) {
    TempFolder temp;
    const std::string first(120, 'a');
    const std::string second(200, 'b');
    const std::string target = temp.Join(first + "\\" + second + "\\c");
    const bool created = CreatePathFolders(target);
    EXPECT_EQ(created, GetPathKind(target) == PathKind::folder);
    // Whatever the host allows, no folder named after a cut-off part of the path may appear.
    platform::FileFinder finder;
    if (finder.FindFirst(temp.Join(first + "\\*"))) {
        do {
            const std::string name = finder.Current().name;
            if (name == "." || name == "..")
                continue;
            EXPECT_EQ(name, second);
        } while (finder.FindNext());
    }
}

}  // namespace

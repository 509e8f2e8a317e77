// Tests of the install's pure helpers: name safety and sameness, relative paths, folder lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/install.h"
#include "app/mission_names.h"
#include "platform/file_system.h"
#include "tests/support/test_support.h"

using test_support::TempFolder;
using test_support::WriteFile;

TEST(MissionNames, NamesThatStayInsideTheGameFolder_AreSafe) {
    for (const char* name :
         {"a.txt", "books\\diary.str", "maps/sub/a.mis", ".hidden", "a..b", "..a", "a\\.\\b",
          "x\\\\y", "console.txt", "com10.dat", "lpt0", "nul_sound.wav", "icon.pcx"}) {
        EXPECT_TRUE(IsSafeMissionName(name)) << name;
    }
}

TEST(MissionNames, NamesThatClimbOutOrNameADriveStreamOrDevice_AreUnsafe) {
    for (const char* name : {"",
                             "..",
                             "..\\a.txt",
                             "../a.txt",
                             "a\\..\\..\\b",
                             "a/../b",
                             "a\\..",
                             "...\\x",
                             ". .\\x",
                             "..  \\x",
                             "C:\\x.txt",
                             "C:x.txt",
                             "a.txt:stream",
                             "\\rooted.txt",
                             "/rooted.txt",
                             "\\\\server\\share\\x",
                             "con",
                             "CON.txt",
                             "snd\\nul.wav",
                             "Aux .str\\x",
                             "com1",
                             "LPT9.tar.gz",
                             "prn\\a.txt",
                             "dir.\\x",
                             " dark.cfg",
                             "snd\\ a\\b.wav",
                             "a.txt ",
                             "tab\tname",
                             "line\nfeed",
                             "wild*.txt",
                             "what?.txt",
                             "a<b>c|d\".txt"}) {
        EXPECT_FALSE(IsSafeMissionName(name)) << name;
    }
}

TEST(MissionNames, KeyJoinsPartsWithSingleBackslashesAndDropsDotParts) {
    EXPECT_EQ(MissionNameKey("a/b\\c.txt"), "a\\b\\c.txt");
    EXPECT_EQ(MissionNameKey("a\\.\\\\b/./c"), "a\\b\\c");
    EXPECT_EQ(MissionNameKey("Books\\Diary.STR"), "Books\\Diary.STR");
    const MissionNameLess less;
    EXPECT_FALSE(less("books\\diary.str", "BOOKS\\DIARY.STR"));
    EXPECT_FALSE(less("BOOKS\\DIARY.STR", "books\\diary.str"));
    EXPECT_TRUE(less("a.txt", "b.txt") != less("b.txt", "a.txt"));
}

TEST(MissionNames, RelativePathsHaveNoDriveAndNoLeadingSeparator) {
    EXPECT_TRUE(IsRelativePath("src"));
    EXPECT_TRUE(IsRelativePath("..\\src"));
    EXPECT_FALSE(IsRelativePath("C:\\src"));
    EXPECT_FALSE(IsRelativePath("C:src"));
    EXPECT_FALSE(IsRelativePath("\\src"));
    EXPECT_FALSE(IsRelativePath("/src"));
}

TEST(GetRelativePath, CutsTheBaseAndItsSeparatorOnlyWhenThePathStartsWithIt) {
    EXPECT_EQ(GetRelativePath("C:\\m\\sub\\a.txt", "C:\\m"), "sub\\a.txt");
    EXPECT_EQ(GetRelativePath("C:\\M\\a.txt", "C:\\m"), "C:\\M\\a.txt");  // case-sensitive
    EXPECT_EQ(GetRelativePath("D:\\other\\a.txt", "C:\\m"), "D:\\other\\a.txt");
    EXPECT_EQ(GetRelativePath("C:\\m", "C:\\m"), "");
    EXPECT_EQ(GetRelativePath("\\a.txt", ""), "a.txt");
}

TEST(ScanFolderFiles, ListsFilesDepthFirstAndLeavesEmptyFoldersOut) {
    TempFolder folder;
    WriteFile(folder.Join("a.txt"), "a");
    platform::CreateFolder(folder.Join("m"));
    WriteFile(folder.Join("m\\b.txt"), "b");
    platform::CreateFolder(folder.Join("m\\deep"));
    WriteFile(folder.Join("m\\deep\\c.txt"), "c");
    platform::CreateFolder(folder.Join("m\\empty"));
    WriteFile(folder.Join("z.txt"), "z");

    std::vector<std::string> list{"kept"};
    ScanFolderFiles(folder.Path(), list);
    std::vector<std::string> withSeparator;
    ScanFolderFiles(folder.Path() + "\\", withSeparator);
    EXPECT_EQ(std::vector<std::string>(list.begin() + 1, list.end()), withSeparator);

    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list[0], "kept");
    // Whatever order the file system gives, a sub-folder's files come together, right where
    // the sub-folder was met, the deeper ones within them.
    std::vector<std::string> relative;
    for (size_t i = 1; i < list.size(); ++i) {
        relative.push_back(GetRelativePath(list[i], folder.Path()));
    }
    const auto at = [&](const std::string& name) {
        return std::find(relative.begin(), relative.end(), name) - relative.begin();
    };
    ASSERT_LT(at("a.txt"), 4);
    ASSERT_LT(at("z.txt"), 4);
    ASSERT_LT(at("m\\b.txt"), 4);
    ASSERT_LT(at("m\\deep\\c.txt"), 4);
    EXPECT_EQ(std::abs(at("m\\b.txt") - at("m\\deep\\c.txt")), 1);
}

TEST(ScanFolderFiles, MissingFolderLeavesTheListUnchanged) {
    TempFolder folder;
    std::vector<std::string> list;
    ScanFolderFiles(folder.Join("missing"), list);
    EXPECT_TRUE(list.empty());
}

TEST(PathExists, FindsFilesAndFoldersButNotMissingPaths) {
    TempFolder folder;
    WriteFile(folder.Join("a.txt"), "a");
    platform::CreateFolder(folder.Join("sub"));
    EXPECT_TRUE(PathExists(folder.Join("a.txt")));
    EXPECT_TRUE(PathExists(folder.Join("sub")));
    EXPECT_FALSE(PathExists(folder.Join("b.txt")));
    EXPECT_FALSE(PathExists(folder.Join("sub\\b.txt")));
}

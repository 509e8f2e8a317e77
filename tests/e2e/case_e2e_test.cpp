// End-to-end tests of names that differ in letter case from the game's files: the install uses
// the game's folders and files, saves them under their own names, and the deinstall gives them
// back under those names.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "tests/e2e/mission_fixture.h"

using mission_test::ExpectDeinstallRestores;
using mission_test::GameFolder;
using mission_test::HasLine;
using mission_test::MissionArchive;
using mission_test::ReadArchive;
using mission_test::Snapshot;
using mission_test::TakeSnapshot;
using mission_test::WriteMission;

namespace {

std::string Folded(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    return name;
}

// No two files or folders anywhere in the game folder whose names differ only in letter case.
void ExpectNoCaseTwins(const Snapshot& snapshot) {
    std::map<std::string, std::string> seen;
    for (const auto& [name, content] : snapshot) {
        const auto [place, inserted] = seen.emplace(Folded(name), name);
        EXPECT_TRUE(inserted) << name << " beside " << place->second;
    }
}

}  // namespace

TEST(CaseE2E, ArchiveNamesInOtherCase_ReplaceTheGameFileSaveItUnderItsNameAndRestoreIt) {
    GameFolder game;
    game.Put("strings\\english\\goals.str", "the game's goals");
    game.Put("Books\\book01.str", "a book");
    const Snapshot before = TakeSnapshot(game);
    const std::string archive = WriteMission(
        game.WorkPath("mission.zip"),
        {{"Strings\\English\\GOALS.STR", "mission goals"}, {"books\\new.str", "new book"}});

    const test_support::ProgramResult install = game.Run({archive, "-a"});
    EXPECT_EQ(install.exitCode, 3) << install.output;
    EXPECT_TRUE(HasLine(install.output,
                        "    Processing file 'Strings\\English\\GOALS.STR' (13 bytes): BAK"))
        << install.output;
    EXPECT_TRUE(HasLine(install.output, "    Processing file 'books\\new.str' (8 bytes): NEW"))
        << install.output;
    EXPECT_EQ(game.StateFile(),
              "[Mission]\nInstalled=1\nFCount=2\nF1=Strings\\English\\GOALS.STR:1\n"
              "F2=books\\new.str:0\n");
    const std::map<std::string, std::string> saved = {
        {"strings\\english\\goals.str", "the game's goals"}};
    EXPECT_EQ(ReadArchive(game.Companion(".Zip")), saved);

    const Snapshot installed = TakeSnapshot(game);
    ExpectNoCaseTwins(installed);
    EXPECT_EQ(installed.count("strings\\english"), 1u);
    EXPECT_EQ(installed.count("Books\\new.str"), 1u);
    EXPECT_EQ(game.Read("STRINGS\\ENGLISH\\GOALS.STR"), "mission goals");
    EXPECT_EQ(installed.size(), before.size() + 1);

    ExpectDeinstallRestores(game, before);
}

TEST(CaseE2E, StateFileNamesInOtherCase_DeinstallDeletesAndRestoresTheFilesOnDisk) {
    GameFolder game;
    game.Put("strings\\goals.str", "the game's goals");
    const Snapshot before = TakeSnapshot(game);
    const std::string archive =
        WriteMission(game.WorkPath("mission.zip"),
                     {{"strings\\goals.str", "mission goals"}, {"maps\\diary.str", "diary"}});
    ASSERT_EQ(game.Run({archive, "-a"}).exitCode, 3);
    // As a user editing the state file by hand might leave it.
    test_support::WriteFile(game.Companion(".Ini"),
                            "[Mission]\r\nInstalled=1\r\nFCount=2\r\n"
                            "F1=STRINGS\\Goals.STR:1\r\nF2=Maps\\DIARY.str:0\r\n");

    const test_support::ProgramResult result = game.Run({"-d", "-a"});
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_TRUE(HasLine(result.output, "    Extracting old file 'STRINGS\\Goals.STR'...OK"))
        << result.output;
    EXPECT_TRUE(HasLine(result.output, "    Deleting new file 'Maps\\DIARY.str'...OK"))
        << result.output;
    EXPECT_EQ(TakeSnapshot(game), before);
}

TEST(CaseE2E, FolderSourceNamesInOtherCase_UseTheGameFoldersAndComeBackExactly) {
    GameFolder game;
    game.Put("strings\\goals.str", "the game's goals");
    game.Put("books\\book01.str", "a book");
    const Snapshot before = TakeSnapshot(game);
    const std::string source = game.WorkPath("Src");
    ASSERT_TRUE(platform::CreateFolder(source));
    ASSERT_TRUE(platform::CreateFolder(source + "\\STRINGS"));
    test_support::WriteFile(source + "\\STRINGS\\Goals.Str", "mission goals");
    ASSERT_TRUE(platform::CreateFolder(source + "\\Books"));
    test_support::WriteFile(source + "\\Books\\NEW.str", "new book");

    const test_support::ProgramResult install = game.Run({source, "-f", "-a"});
    EXPECT_EQ(install.exitCode, 3) << install.output;
    EXPECT_TRUE(HasLine(install.output, "    Processing file 'STRINGS\\Goals.Str' (13 bytes): BAK"))
        << install.output;
    EXPECT_TRUE(HasLine(install.output, "    Processing file 'Books\\NEW.str' (8 bytes): NEW"))
        << install.output;
    const std::map<std::string, std::string> saved = {{"strings\\goals.str", "the game's goals"}};
    EXPECT_EQ(ReadArchive(game.Companion(".Zip")), saved);
    const Snapshot installed = TakeSnapshot(game);
    ExpectNoCaseTwins(installed);
    EXPECT_EQ(installed.count("books\\NEW.str"), 1u);
    EXPECT_EQ(game.Read("strings\\goals.str"), "mission goals");

    ExpectDeinstallRestores(game, before);
}

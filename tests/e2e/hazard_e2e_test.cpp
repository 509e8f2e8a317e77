// What a player's disk does to a mission: a damaged backup, a mission archive with the program's
// own name, a read-only mission, a mission file named like one of its folders. Each run either
// gives the game folder back exactly, or fails honestly keeping the backup archive and the
// installed mark, so that a later deinstall under normal conditions gives it back exactly.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "platform/file_system.h"
#include "tests/e2e/mission_fixture.h"

using mission_test::GameFolder;
using mission_test::HasLine;
using mission_test::Snapshot;
using mission_test::TakeSnapshot;

namespace {

bool Installed(const GameFolder& game) {
    const std::string state = game.StateFile();
    return state.find("Installed=") != std::string::npos &&
           state.find("Installed=0") == std::string::npos;
}

// A backup archive that lost its saved files (cut, emptied, overwritten) cannot give them back:
// the deinstall restores what it can and fails, keeping the backup and the installed mark, so
// that it comes out right once the player brings the backup back.
TEST(HazardE2E, DamagedBackup_FailsKeepingItAndRestoresOnceItIsBack) {
    GameFolder game;
    game.Put("strings\\goals.str", "the game's goals");
    game.Put("dark.cfg", "game config");
    const Snapshot before = TakeSnapshot(game);
    const std::string archive = mission_test::WriteMission(
        game.WorkPath("mission.zip"),
        {{"strings\\goals.str", "the mission's goals"}, {"maps\\miss20.mis", "a map"}});
    ASSERT_EQ(game.Run({archive, "-a"}).exitCode, 3);

    const std::string backup = game.Companion(".Zip");
    const std::string whole = test_support::ReadFile(backup);
    for (const std::string& damaged : {whole.substr(0, whole.size() / 10), std::string()}) {
        test_support::WriteFile(backup, damaged);
        const test_support::ProgramResult result = game.Run({"-d", "-a"});
        EXPECT_EQ(result.exitCode, 2) << result.output;
        EXPECT_TRUE(HasLine(result.output,
                            "    Extracting old file 'strings\\goals.str'... not "
                            "found in backup!"))
            << result.output;
        EXPECT_TRUE(Installed(game));
        EXPECT_EQ(test_support::ReadFile(backup), damaged);
    }
    test_support::WriteFile(backup, whole);
    mission_test::ExpectDeinstallRestores(game, before);
}

// While a mission is installed, its backup archive holds the game's originals. A state file
// that reads as "not installed" (emptied by a crash) must not let a second install delete it.
TEST(HazardE2E, SecondInstallOverAnEmptiedStateFile_KeepsTheBackup) {
    GameFolder game;
    game.Put("strings\\goals.str", "the game's goals");
    const Snapshot before = TakeSnapshot(game);
    const std::string first = mission_test::WriteMission(
        game.WorkPath("first.zip"), {{"strings\\goals.str", "the first mission's goals"}});
    ASSERT_EQ(game.Run({first, "-a"}).exitCode, 3);
    const std::string stateFile = game.Companion(".Ini");
    const std::string record = test_support::ReadFile(stateFile);

    test_support::WriteFile(stateFile, "");
    const std::string second = mission_test::WriteMission(
        game.WorkPath("second.zip"), {{"strings\\goals.str", "the second mission's goals"}});
    const test_support::ProgramResult refused = game.Run({second, "-a"});
    EXPECT_EQ(refused.exitCode, 4) << refused.output;
    EXPECT_EQ(game.Read("strings\\goals.str"), "the first mission's goals");

    test_support::WriteFile(stateFile, record);
    mission_test::ExpectDeinstallRestores(game, before);
}

// A mission file that reaches the state file by another name (a hard link here, a short alias
// on Windows) is refused by the file's identity, not its name.
TEST(HazardE2E, MissionFileReachingTheStateFileByAnotherName_IsRefused) {
    GameFolder game;
    ASSERT_EQ(game.Run({}).exitCode, 5);  // writes the state file
    const Snapshot before = TakeSnapshot(game);
    const std::string stateFile = game.Companion(".Ini");
    std::error_code error;
    std::filesystem::create_hard_link(platform::ToHostPath(stateFile),
                                      platform::ToHostPath(game.Join("alias.ini")), error);
    if (error) {
        GTEST_SKIP() << "no hard links here: " << error.message();
    }
    const std::string mission = mission_test::WriteMission(
        game.WorkPath("alias.zip"), {{"alias.ini", "[Mission]\r\nInstalled=0\r\n"}});
    const test_support::ProgramResult install = game.Run({mission, "-a"});
    EXPECT_EQ(install.exitCode, 3) << install.output;
    EXPECT_TRUE(HasLine(install.output,
                        "    Processing file 'alias.ini' (24 bytes): SKIPPED (unsafe name)"))
        << install.output;
    platform::RemoveFile(game.Join("alias.ini"));
    mission_test::ExpectDeinstallRestores(game, before);
}

// Install-time hazards: nothing of the game may be lost, and what the install could not do
// is said, not reported as done.
TEST(HazardE2E, InstallHazards_LoseNothing) {
    // A file named like a folder of the same mission: refused whatever the order, so that the
    // deinstall is never stuck at a folder it recorded as a file.
    {
        GameFolder game;
        const Snapshot before = TakeSnapshot(game);
        const std::string archive = mission_test::WriteMission(
            game.WorkPath("clash.zip"),
            {{"newthing\\x.txt", "in the folder"}, {"newthing", "a file"}, {"z.txt", "z"}});
        const test_support::ProgramResult install = game.Run({archive, "-a"});
        EXPECT_EQ(install.exitCode, 3) << install.output;
        EXPECT_TRUE(HasLine(install.output,
                            "    Processing file 'newthing' (6 bytes): SKIPPED (a folder has "
                            "this name)"))
            << install.output;
        EXPECT_EQ(game.Read("newthing\\x.txt"), "in the folder");
        mission_test::ExpectDeinstallRestores(game, before);
    }
    // The mission archive is the program's own backup path (a copy named after the mission
    // beside its archive, on a file system that ignores letter case), or read-only.
    {
        GameFolder game("Calendra");
        const std::string archive = game.Companion(".zip");
        mission_test::WriteMission(archive, {{"a.txt", "a"}});
        const std::string bytes = test_support::ReadFile(archive);
        const test_support::ProgramResult own = game.Run({archive, "-a"});
        EXPECT_EQ(own.exitCode, 4) << own.output;
        EXPECT_EQ(test_support::ReadFile(archive), bytes);
        EXPECT_FALSE(game.Has("a.txt"));
    }
    {
        GameFolder game;
        const std::string readOnly =
            mission_test::WriteMission(game.WorkPath("ro.zip"), {{"b.txt", "b"}});
        ASSERT_TRUE(platform::SetAttributes(readOnly, platform::attributeReadOnly));
        const test_support::ProgramResult install = game.Run({readOnly, "-a"});
        EXPECT_EQ(install.exitCode, 3) << install.output;
        EXPECT_EQ(game.Read("b.txt"), "b");
        platform::SetAttributes(readOnly, platform::attributeArchive);
    }
}

}  // namespace

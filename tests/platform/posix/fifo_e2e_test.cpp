// A FIFO where the program expects a regular file (its state file, its backup archive, a file of a
// mission folder): refused rather than waited on, so every run ends, and nothing is lost.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "tests/e2e/mission_fixture.h"

using mission_test::GameFolder;
using mission_test::Snapshot;
using mission_test::TakeSnapshot;

namespace {

// Runs the program under timeout(1), so that a hang fails the test (exit 124) instead of
// stalling it.
test_support::ProgramResult RunBounded(const GameFolder& game,
                                       const std::vector<std::string>& args) {
    std::vector<std::string> all = {"-k", "5", "30", platform::ToHostPath(game.Program())};
    all.insert(all.end(), args.begin(), args.end());
    return test_support::RunProgram(platform::FromHostPath("/usr/bin/timeout"), all, game.Path());
}

// Puts a FIFO at path in place of what is there, which is moved to path + ".kept".
void ReplaceByFifo(const std::string& path) {
    ASSERT_TRUE(platform::MoveFileTo(path, path + ".kept"));
    ASSERT_EQ(mkfifo(platform::ToHostPath(path).c_str(), 0600), 0);
}

void PutBack(const std::string& path) {
    ASSERT_TRUE(platform::RemoveFile(path));
    ASSERT_TRUE(platform::MoveFileTo(path + ".kept", path));
}

TEST(FifoE2E, FifoAsStateFileOrBackup_EveryRunEndsAndNothingIsLost) {
    GameFolder game;
    game.Put("strings\\goals.str", "the game's goals");
    const Snapshot before = TakeSnapshot(game);
    const std::string mission = mission_test::WriteMission(
        game.WorkPath("mission.zip"), {{"strings\\goals.str", "the mission's goals"}});
    ASSERT_EQ(game.Run({mission, "-a"}).exitCode, 3);

    for (const char* const companion : {".Ini", ".Zip"}) {
        const std::string path = game.Companion(companion);
        ReplaceByFifo(path);
        // The status run, a deinstall and a second install, with the exit code each must end
        // with: nothing can be told, so nothing is done.
        const std::vector<std::pair<std::vector<std::string>, int>> runs = {
            {{}, 5}, {{"-d", "-a"}, 2}, {{mission, "-a"}, 4}};
        for (const auto& [args, exitCode] : runs) {
            const test_support::ProgramResult result = RunBounded(game, args);
            EXPECT_EQ(result.exitCode, exitCode) << companion << ":\n" << result.output;
            EXPECT_EQ(game.Read("strings\\goals.str"), "the mission's goals") << companion;
        }
        PutBack(path);
    }
    mission_test::ExpectDeinstallRestores(game, before);
}

TEST(FifoE2E, FifoInMissionFolder_InstallEndsAndNothingIsLost) {
    GameFolder game;
    game.Put("b.txt", "the game's b");
    const Snapshot before = TakeSnapshot(game);
    const std::string source = game.WorkPath("source");
    ASSERT_TRUE(platform::CreateFolder(source));
    test_support::WriteFile(source + "\\a.txt", "mission a");
    ASSERT_EQ(mkfifo(platform::ToHostPath(source + "\\b.txt").c_str(), 0600), 0);
    test_support::WriteFile(source + "\\c.txt", "mission c");

    const test_support::ProgramResult install = RunBounded(game, {source, "-f", "-a"});
    EXPECT_EQ(install.exitCode, 3) << install.output;
    EXPECT_TRUE(mission_test::HasLine(install.output, "Mission installed with errors."))
        << install.output;
    EXPECT_TRUE(mission_test::HasLine(install.output,
                                      "    Processing file 'b.txt' (0 bytes): "
                                      "SKIPPED (not a regular file that can be "
                                      "read)"))
        << install.output;
    EXPECT_EQ(game.Read("b.txt"), "the game's b");  // never saved, deleted or replaced
    EXPECT_EQ(game.Read("c.txt"), "mission c");
    mission_test::ExpectDeinstallRestores(game, before);
}

}  // namespace

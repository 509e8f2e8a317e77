// End-to-end tests of the deinstall: stacked missions, files it cannot delete or restore.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/file_system.h"
#include "tests/e2e/mission_fixture.h"

using mission_test::GameFolder;
using mission_test::HasLine;
using mission_test::MissionArchive;
using mission_test::ReadArchive;
using mission_test::Snapshot;
using mission_test::TakeSnapshot;
using mission_test::WriteMission;

namespace {

// The built program's file name with "Mod" before its extension, for a second copy.
std::string ModProgramName() {
    const std::string built = test_support::BuiltProgramPath();
    const std::string name = built.substr(built.find_last_of("\\/") + 1);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? name + "Mod" : name.substr(0, dot) + "Mod" + name.substr(dot);
}

// Changes one byte inside the stored data of the named entry of an archive.
void DamageEntryData(const std::string& archive, const std::string& name) {
    std::string bytes = test_support::ReadFile(archive);
    const size_t at = bytes.find(name);  // the first occurrence is in the local header
    ASSERT_NE(at, std::string::npos);
    ASSERT_GE(at, 30u);
    const size_t header = at - 30;
    ASSERT_EQ(bytes.compare(header, 4, "PK\x03\x04"), 0);
    const size_t extra = static_cast<uint8_t>(bytes[header + 28]) |
                         static_cast<size_t>(static_cast<uint8_t>(bytes[header + 29])) << 8;
    const size_t data = at + name.size() + extra;
    bytes[data + 2] ^= 0x5A;
    test_support::WriteFile(archive, bytes);
}

// Sets or clears the immutable flag with chattr, which even root cannot delete through.
bool SetImmutable(const std::string& path, bool immutable) {
    const test_support::ProgramResult result = mission_test::RunHostTool(
        "/usr/bin/chattr", {immutable ? "+i" : "-i", platform::ToHostPath(path)});
    return result.exitCode == 0;
}

// Clears the flag again however the test ends, so that the temporary folder can go.
class ImmutableFile {
public:
    explicit ImmutableFile(std::string path) : path(std::move(path)) {
        set = SetImmutable(this->path, true);
    }
    ~ImmutableFile() { Clear(); }
    void Clear() {
        if (set) {
            SetImmutable(path, false);
            set = false;
        }
    }
    bool IsSet() const { return set; }

private:
    std::string path;
    bool set = false;
};

}  // namespace

// A mission and its modification, installed by two differently named copies of the program and
// deinstalled in reverse order: each deinstall gives back the state before its install.
TEST(DeinstallE2E, StackedMissionsDeinstalledInReverseOrder_RestoreEachStage) {
    GameFolder game;
    game.Put("strings\\goals.str", "game goals");
    game.Put("dark.cfg", "game config");
    const std::string mod = test_support::CopyProgramTo(game.Path(), ModProgramName());
    const Snapshot before = TakeSnapshot(game, {mod});
    const std::string missionArchive = game.WorkPath("mission.zip");
    const std::string modArchive = game.WorkPath("mod.zip");
    {
        MissionArchive mission(missionArchive);
        mission.File("strings\\goals.str", "mission goals");
        mission.File("maps\\miss20.mis", "mission map");
        mission.Close();
        MissionArchive modification(modArchive);
        modification.File("strings\\goals.str", "translated goals");
        modification.File("maps\\miss20.mis", "translated map");
        modification.File("books\\note.str", "translated note");
        modification.Close();
    }

    const test_support::ProgramResult first = game.Run({missionArchive, "-a"});
    ASSERT_EQ(first.exitCode, 3) << first.output;
    const Snapshot afterMission = TakeSnapshot(game, {mod});
    const std::string stateAfterMission = game.StateFile();
    const test_support::ProgramResult second =
        test_support::RunProgramIn(mod, {modArchive, "-a"}, game.Path());
    ASSERT_EQ(second.exitCode, 3) << second.output;
    EXPECT_TRUE(HasLine(second.output, "    Processing file 'maps\\miss20.mis' (14 bytes): BAK"));
    EXPECT_EQ(game.StateFile(), stateAfterMission);  // the first copy's record is its own
    const std::string modZip = game.Path() + "\\" + mission_test::BaseName(mod) + ".Zip";
    const std::map<std::string, std::string> savedByMod = {{"strings\\goals.str", "mission goals"},
                                                           {"maps\\miss20.mis", "mission map"}};
    EXPECT_EQ(ReadArchive(modZip), savedByMod);

    // The wrong order is refused before anything changes.
    const Snapshot afterMod = TakeSnapshot(game, {mod});
    const test_support::ProgramResult early = game.Run({"-d", "-a"});
    EXPECT_EQ(early.exitCode, 2) << early.output;
    EXPECT_TRUE(HasLine(early.output, "Deinstall that one first (" + mission_test::BaseName(mod) +
                                          " -d), then this one."))
        << early.output;
    EXPECT_EQ(TakeSnapshot(game, {mod}), afterMod);

    const test_support::ProgramResult modOut =
        test_support::RunProgramIn(mod, {"-d", "-a"}, game.Path());
    EXPECT_EQ(modOut.exitCode, 1) << modOut.output;
    EXPECT_EQ(TakeSnapshot(game, {mod}), afterMission);
    const test_support::ProgramResult missionOut = game.Run({"-d", "-a"});
    EXPECT_EQ(missionOut.exitCode, 1) << missionOut.output;
    EXPECT_EQ(TakeSnapshot(game, {mod}), before);
}

// A saved file that cannot be extracted does not stop the others; the deinstall then fails,
// keeping the backup archive and the counter so that it can be run again.
TEST(DeinstallE2E, SavedFileThatCannotBeRestored_OthersRestoredAndBackupKept) {
    GameFolder game;
    game.Put("a.str", mission_test::TextBytes(5000, 7));
    game.Put("b.str", mission_test::TextBytes(5000, 8));
    const Snapshot before = TakeSnapshot(game);
    const std::string archive =
        WriteMission(game.WorkPath("mission.zip"),
                     {{"a.str", "mission a"}, {"b.str", "mission b"}, {"c.str", "mission c"}});
    ASSERT_EQ(game.Run({archive, "-a"}).exitCode, 3);
    DamageEntryData(game.Companion(".Zip"), "a.str");

    const test_support::ProgramResult result = game.Run({"-d", "-a"});
    EXPECT_EQ(result.exitCode, 2) << result.output;
    const std::vector<std::string> lines = mission_test::Lines(result.output);
    ASSERT_GE(lines.size(), 8u) << result.output;
    EXPECT_EQ(lines[3].rfind("    Extracting old file 'a.str'...Error ZipException ", 0), 0u)
        << lines[3];
    EXPECT_NE(lines[3].find("(Source Line 588)!"), std::string::npos) << lines[3];
    EXPECT_EQ(lines[4], "FAILED");
    EXPECT_EQ(lines[5], "    Extracting old file 'b.str'...OK");
    EXPECT_EQ(lines[6], "    Deleting new file 'c.str'...OK");
    EXPECT_EQ(lines[7], "  Some saved files were not restored; the backup archive is kept.");
    EXPECT_TRUE(HasLine(result.output, mission_test::deinstallFailedLines));
    EXPECT_EQ(game.Read("b.str"), before.at("b.str"));
    EXPECT_FALSE(game.Has("c.str"));
    EXPECT_TRUE(test_support::Exists(game.Companion(".Zip")));
    EXPECT_FALSE(test_support::Exists(game.Companion(".Taff")));
    EXPECT_NE(game.StateFile().find("Installed=1\n"), std::string::npos) << game.StateFile();
}

// A file that stays after its deletion ends the deinstall at once with exit code 2; nothing is
// lost, and once the file can go a repeated deinstall gives the game folder back.
TEST(DeinstallE2E, UndeletableFile_StopsWithExit2AndRepeatRestoresEverything) {
    GameFolder game;
    game.Put("strings\\goals.str", "game goals");
    const Snapshot before = TakeSnapshot(game);
    const std::string archive =
        WriteMission(game.WorkPath("mission.zip"),
                     {{"maps\\new.str", "mission new"}, {"strings\\goals.str", "mission goals"}});
    ASSERT_EQ(game.Run({archive, "-a"}).exitCode, 3);
    ImmutableFile locked(game.Join("maps\\new.str"));
    if (!locked.IsSet()) {
        GTEST_SKIP() << "chattr +i cannot be used here (no chattr, or not root on ext2/3/4)";
    }

    const test_support::ProgramResult result = game.Run({"-d", "-a"});
    EXPECT_EQ(result.exitCode, 2) << result.output;
    EXPECT_TRUE(HasLine(result.output,
                        "    Deleting new file 'maps\\new.str'...      Cannot delete "
                        "file '" +
                            platform::DisplayPath(game.Join("maps\\new.str")) +
                            "' - file may be locked by Thief game."))
        << result.output;
    EXPECT_TRUE(HasLine(result.output, mission_test::deinstallFailedLines));
    EXPECT_EQ(game.Read("strings\\goals.str"), "mission goals");  // the later entry untouched
    EXPECT_TRUE(test_support::Exists(game.Companion(".Zip")));
    EXPECT_NE(game.StateFile().find("Installed=1\n"), std::string::npos);

    locked.Clear();
    const test_support::ProgramResult again = game.Run({"-d", "-a"});
    EXPECT_EQ(again.exitCode, 1) << again.output;
    EXPECT_EQ(TakeSnapshot(game), before);
}

// A backup archive without its central directory (its install was stopped before closing it) is
// read from its entries' own headers, and the saved files still come back.
TEST(DeinstallE2E, BackupArchiveWithoutDirectory_IsRecoveredAndRestored) {
    GameFolder game;
    game.Put("strings\\goals.str", "game goals");
    game.Put("books\\diary.str", "game diary");
    const Snapshot before = TakeSnapshot(game);
    const std::string archive =
        WriteMission(game.WorkPath("mission.zip"), {{"strings\\goals.str", "mission goals"},
                                                    {"books\\diary.str", "mission diary"},
                                                    {"books\\new.str", "mission new"}});
    ASSERT_EQ(game.Run({archive, "-a"}).exitCode, 3);

    // Cut the backup archive where its central directory begins.
    const std::string backup = game.Companion(".Zip");
    std::string bytes = test_support::ReadFile(backup);
    const size_t directory = bytes.find(std::string("PK\x01\x02", 4));
    ASSERT_NE(directory, std::string::npos);
    test_support::WriteFile(backup, bytes.substr(0, directory));

    const test_support::ProgramResult result = game.Run({"-d", "-a"});
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_TRUE(
        HasLine(result.output, "  Backup archive was damaged; recovered 2 saved files from it."))
        << result.output;
    EXPECT_EQ(TakeSnapshot(game), before);
}

// End-to-end tests of the install: the built program in a temporary game folder, each install
// followed by a deinstall that must give the game folder back byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "tests/e2e/mission_fixture.h"

using mission_test::ExpectDeinstallRestores;
using mission_test::GameFolder;
using mission_test::HasLine;
using mission_test::Lines;
using mission_test::MissionArchive;
using mission_test::ReadArchive;
using mission_test::Snapshot;
using mission_test::TakeSnapshot;
using mission_test::WriteMission;

namespace {

// The lines after the banner.
std::vector<std::string> Body(const std::string& output) {
    std::vector<std::string> lines = Lines(output);
    if (!lines.empty()) {
        lines.erase(lines.begin());
    }
    return lines;
}

// Checks the backup archive with Info-ZIP's unzip where it can be run (not under Wine).
void ExpectUnzipAccepts(const std::string& archive) {
    const test_support::ProgramResult result =
        mission_test::RunHostTool("/usr/bin/unzip", {"-tq", platform::ToHostPath(archive)});
    if (result.exitCode == -1) {
        return;  // no unzip on this host
    }
    EXPECT_EQ(result.exitCode, 0) << result.output;
}

}  // namespace

TEST(InstallE2E, ArchiveWithFolderNewAndReplacedFile_InstallsRecordsAndComesBackExactly) {
    GameFolder game;
    game.Put("strings\\goals.str", "original goals");
    game.Put("books\\book01.str", "a book");
    const Snapshot before = TakeSnapshot(game);
    const std::string archive = game.WorkPath("mission.zip");
    {
        MissionArchive mission(archive);
        mission.Folder("maps\\");
        mission.File("maps\\diary.str", "diary");
        mission.File("strings\\goals.str", "mission goals");
        mission.Close();
    }

    const test_support::ProgramResult install = game.Run({archive, "-a"});
    EXPECT_EQ(install.exitCode, 3) << install.output;
    const std::vector<std::string> expected = {
        "Installing mission from '" + archive + "'...",
        "  Opening source archive...",
        "  Opening backup archive...",
        "  Scanning source files...",
        "    Processing file 'maps\\diary.str' (5 bytes): NEW",
        "    Processing file 'strings\\goals.str' (13 bytes): BAK",
        "Mission Installed Successfuly."};
    EXPECT_EQ(Body(install.output), expected);
    EXPECT_EQ(game.StateFile(),
              "[Mission]\nInstalled=1\nFCount=2\nF1=maps\\diary.str:0\nF2=strings\\goals.str:1\n");
    EXPECT_EQ(game.Read("maps\\diary.str"), "diary");
    EXPECT_EQ(game.Read("strings\\goals.str"), "mission goals");
    const std::map<std::string, std::string> saved = {{"strings\\goals.str", "original goals"}};
    EXPECT_EQ(ReadArchive(game.Companion(".Zip")), saved);
    ExpectUnzipAccepts(game.Companion(".Zip"));

    const test_support::ProgramResult deinstall = game.Run({"-d", "-a"});
    EXPECT_EQ(deinstall.exitCode, 1) << deinstall.output;
    const std::vector<std::string> expectedDeinstall = {
        "Deinstalling mission from '" + platform::DisplayPath(game.Path()) + "'...",
        "  Opening backup archive...",
        "    Deleting new file 'maps\\diary.str'...OK",
        "    Extracting old file 'strings\\goals.str'...OK",
        "  Checking and deleting empty folders...",
        "    removed empty folder '" + platform::DisplayPath(game.Join("maps")) + "'.",
        "Deinstalled successfuly."};
    EXPECT_EQ(Body(deinstall.output), expectedDeinstall);
    EXPECT_EQ(TakeSnapshot(game), before);
    EXPECT_EQ(game.StateFile(),
              "[Mission]\nInstalled=0\nFCount=2\nF1=maps\\diary.str:0\nF2=strings\\goals.str:1\n");
    EXPECT_FALSE(test_support::Exists(game.Companion(".Zip")));
    EXPECT_EQ(ReadArchive(game.Companion(".Taff")), saved);
}

TEST(InstallE2E, FolderEmptiedLaterInThePass_IsTriedAgainAndRemoved) {
    GameFolder game;
    game.Put("fam\\core\\stone.pcx", "game texture");
    const Snapshot before = TakeSnapshot(game);
    const std::string archive = game.WorkPath("nested.zip");
    // "fam\\city" still holds "sub" when first tried; emptied, it must be tried again.
    WriteMission(archive, {{"fam\\city\\a.pcx", "a"},
                           {"fam\\city\\b.pcx", "b"},
                           {"fam\\core\\c.pcx", "c"},
                           {"fam\\city\\sub\\d.pcx", "d"},
                           {"fam\\city\\e.pcx", "e"},
                           {"fam\\city\\f.pcx", "f"}});
    ASSERT_EQ(game.Run({archive, "-a"}).exitCode, 3);

    const test_support::ProgramResult deinstall = game.Run({"-d", "-a"});
    EXPECT_EQ(deinstall.exitCode, 1) << deinstall.output;
    std::vector<std::string> removed;
    for (const std::string& line : Lines(deinstall.output)) {
        if (line.find("removed empty folder") != std::string::npos) {
            removed.push_back(line);
        }
    }
    const std::vector<std::string> expected = {
        "    removed empty folder '" + platform::DisplayPath(game.Join("fam\\city\\sub")) + "'.",
        "    removed empty folder '" + platform::DisplayPath(game.Join("fam\\city")) + "'."};
    EXPECT_EQ(removed, expected) << deinstall.output;
    EXPECT_EQ(TakeSnapshot(game), before);
}

TEST(InstallE2E, ReadOnlyGameFile_IsReplacedAndComesBackReadOnly) {
    GameFolder game;
    game.Put("strings\\goals.str", "original goals");
    const std::string original = game.Join("strings\\goals.str");
    ASSERT_TRUE(platform::SetAttributes(original, platform::attributeReadOnly));
    const Snapshot before = TakeSnapshot(game);
    const std::string archive =
        WriteMission(game.WorkPath("mission.zip"), {{"strings\\goals.str", "mission goals"}});

    const test_support::ProgramResult install = game.Run({archive, "-a"});
    EXPECT_EQ(install.exitCode, 3) << install.output;
    EXPECT_EQ(game.Read("strings\\goals.str"), "mission goals");
    ExpectDeinstallRestores(game, before);
    EXPECT_NE(platform::GetAttributes(original) & platform::attributeReadOnly, 0u);
    platform::SetAttributes(original, platform::attributeArchive);  // so the folder can go
}

TEST(InstallE2E, StoredDeflatedEmptyAndLargeFiles_RoundTripByteForByte) {
    GameFolder game;
    game.Put("data\\big.bin", mission_test::NoiseBytes(3 * 1024 * 1024 + 17, 1));
    game.Put("data\\empty.txt", "");
    game.Put("data\\exact.bin", mission_test::TextBytes(65535, 2));
    const Snapshot before = TakeSnapshot(game);
    const std::string archive = game.WorkPath("sizes.zip");
    const std::string bigText = mission_test::TextBytes(4 * 1024 * 1024 + 3, 3);
    const std::string bigNoise = mission_test::NoiseBytes(2 * 1024 * 1024 + 1, 4);
    const std::string exact = mission_test::NoiseBytes(65535, 5);
    {
        MissionArchive mission(archive);
        mission.File("data\\big.bin", bigText, -1);       // replaces, deflated
        mission.File("data\\empty.txt", "replaced", 0);   // replaces an empty file, stored
        mission.File("data\\exact.bin", exact, 0);        // replaces, stored, 65535 bytes
        mission.File("new\\noise.bin", bigNoise, 0);      // new, stored, megabytes
        mission.File("new\\empty-deflated.txt", "", -1);  // new, empty
        mission.File("new\\empty-stored.txt", "", 0);     // new, empty
        mission.File("new\\exact.txt", mission_test::TextBytes(65535, 6), -1);
        mission.Close();
    }

    const test_support::ProgramResult install = game.Run({archive, "-a"});
    EXPECT_EQ(install.exitCode, 3) << install.output;
    EXPECT_TRUE(HasLine(install.output, "    Processing file 'data\\big.bin' (4194307 bytes): BAK"))
        << install.output;
    EXPECT_TRUE(HasLine(install.output, "    Processing file 'data\\empty.txt' (8 bytes): BAK"));
    EXPECT_TRUE(
        HasLine(install.output, "    Processing file 'new\\empty-stored.txt' (0 bytes): NEW"));
    EXPECT_TRUE(HasLine(install.output, "Mission Installed Successfuly.")) << install.output;
    EXPECT_EQ(game.Read("data\\big.bin"), bigText);
    EXPECT_EQ(game.Read("data\\exact.bin"), exact);
    EXPECT_EQ(game.Read("new\\noise.bin"), bigNoise);
    EXPECT_EQ(game.Read("new\\empty-deflated.txt"), "");
    const std::map<std::string, std::string> saved = {
        {"data\\big.bin", before.at("data\\big.bin")},
        {"data\\empty.txt", ""},
        {"data\\exact.bin", before.at("data\\exact.bin")}};
    EXPECT_EQ(ReadArchive(game.Companion(".Zip")), saved);
    ExpectUnzipAccepts(game.Companion(".Zip"));

    ExpectDeinstallRestores(game, before);
}

TEST(InstallE2E, RelativeFolderSourceWithTrailingSeparator_CopiesNestedFilesAndKeepsFoldersWithN) {
    GameFolder game;
    game.Put("z.txt", "game z");
    const Snapshot before = TakeSnapshot(game);
    const std::string source = game.WorkPath("src");
    platform::CreateFolder(source);
    test_support::WriteFile(source + "\\a.txt", "mission a");
    platform::CreateFolder(source + "\\sub");
    test_support::WriteFile(source + "\\sub\\b.txt", "mission b");
    platform::CreateFolder(source + "\\sub\\deeper");
    test_support::WriteFile(source + "\\sub\\deeper\\c.txt", "mission c");
    platform::CreateFolder(source + "\\sub\\empty");
    test_support::WriteFile(source + "\\z.txt", "mission z");

    // Run from the work folder, so the relative path resolves only against the current folder.
    const test_support::ProgramResult install =
        game.RunFrom(game.WorkPath(""), {"src\\\\", "-f", "-a"});
    EXPECT_EQ(install.exitCode, 3) << install.output;
    std::vector<std::string> lines = Body(install.output);
    ASSERT_EQ(lines.size(), 9u) << install.output;
    EXPECT_EQ(lines[0], "Installing mission from 'src\\\\'...");
    EXPECT_EQ(lines[1], "  Creating source filelist...");
    EXPECT_EQ(lines[2], "  Opening backup archive...");
    EXPECT_EQ(lines[3], "  Scanning source files...");
    // The order of the list is the file system's; the names and the statuses are fixed.
    std::vector<std::string> processed(lines.begin() + 4, lines.begin() + 8);
    std::sort(processed.begin(), processed.end());
    const std::vector<std::string> expected = {
        "    Processing file 'a.txt' (9 bytes): NEW",
        "    Processing file 'sub\\b.txt' (9 bytes): NEW",
        "    Processing file 'sub\\deeper\\c.txt' (9 bytes): NEW",
        "    Processing file 'z.txt' (9 bytes): BAK"};
    EXPECT_EQ(processed, expected);
    EXPECT_EQ(lines[8], "Mission Installed Successfuly.");
    EXPECT_EQ(game.Read("sub\\deeper\\c.txt"), "mission c");
    EXPECT_EQ(game.Read("z.txt"), "mission z");
    EXPECT_FALSE(game.Has("sub\\empty"));

    const test_support::ProgramResult deinstall = game.Run({"-d", "-n", "-a"});
    EXPECT_EQ(deinstall.exitCode, 1) << deinstall.output;
    EXPECT_FALSE(HasLine(deinstall.output, "  Checking and deleting empty folders..."));
    Snapshot withFolders = before;
    withFolders["sub"] = "<folder>";
    withFolders["sub\\deeper"] = "<folder>";
    EXPECT_EQ(TakeSnapshot(game), withFolders);
}

TEST(InstallE2E, OnlyFolderEntries_InstallsNothingAndStillMarksInstalled) {
    GameFolder game;
    game.Put("dark.cfg", "config");
    const Snapshot before = TakeSnapshot(game);
    const std::string archive = game.WorkPath("folders.zip");
    {
        MissionArchive mission(archive);
        mission.Folder("maps\\");
        mission.Folder("maps\\sub\\");
        mission.Close();
    }
    const test_support::ProgramResult install = game.Run({archive, "-a"});
    EXPECT_EQ(install.exitCode, 3) << install.output;
    const std::vector<std::string> expected = {
        "Installing mission from '" + archive + "'...", "  Opening source archive...",
        "  Opening backup archive...", "  Scanning source files...",
        "Mission Installed Successfuly."};
    EXPECT_EQ(Body(install.output), expected);
    // FCount is set to 0 even with no file, so that records of an earlier install never count.
    EXPECT_EQ(game.StateFile(), "[Mission]\nInstalled=1\nFCount=0\n");
    EXPECT_EQ(test_support::ReadFile(game.Companion(".Zip")).size(), 22u);
    EXPECT_TRUE(ReadArchive(game.Companion(".Zip")).empty());
    ExpectDeinstallRestores(game, before);
}

TEST(InstallE2E, MissingEmptyOrForeignArchive_FailsAtOpenAndChangesNothing) {
    struct Case {
        const char* name;
        const char* content;  // null: no file at all
        const char* error;
    };
    const Case cases[] = {
        {"missing.zip", nullptr, "Error FileException 2 (Source Line 322)!"},
        {"empty.zip", "",
         "Error ZipException 18 [Root archive directory not found] (Source Line 322)!"},
        {"readme.zip", "This is a text file, not an archive.\n",
         "Error ZipException 18 [Root archive directory not found] (Source Line 322)!"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GameFolder game;
        game.Put("strings\\goals.str", "original");
        const Snapshot before = TakeSnapshot(game);
        const std::string archive = game.WorkPath(c.name);
        if (c.content != nullptr) {
            test_support::WriteFile(archive, c.content);
        }
        const test_support::ProgramResult result = game.Run({archive, "-a"});
        EXPECT_EQ(result.exitCode, 4) << result.output;
        const std::vector<std::string> lines = Body(result.output);
        ASSERT_GE(lines.size(), 4u) << result.output;
        EXPECT_EQ(lines[1], "  Opening source archive...");
        EXPECT_EQ(lines[2], c.error);
        EXPECT_EQ(lines[3], mission_test::installFailedLines);
        EXPECT_EQ(TakeSnapshot(game), before);
        EXPECT_FALSE(test_support::Exists(game.Companion(".Zip")));
        EXPECT_EQ(game.StateFile(), "[Mission]\nInstalled=0\n");
    }
}

TEST(InstallE2E, CorruptedEntry_ReportsSite435GoesOnAndDeinstallRestoresTheOriginal) {
    GameFolder game;
    game.Put("a.txt", "original a");
    const Snapshot before = TakeSnapshot(game);
    const std::string archive = game.WorkPath("corrupt.zip");
    const std::string marker = "CORRUPTED-ENTRY-DATA-0123456789";
    {
        MissionArchive mission(archive);
        mission.File("a.txt", marker, 0);
        mission.File("b.txt", "fine b");
        mission.Close();
    }
    mission_test::DamageFileAt(archive, marker);

    const test_support::ProgramResult install = game.Run({archive, "-a"});
    EXPECT_EQ(install.exitCode, 3) << install.output;
    const std::vector<std::string> lines = Body(install.output);
    ASSERT_EQ(lines.size(), 8u) << install.output;
    EXPECT_EQ(lines[4], "    Processing file 'a.txt' (31 bytes): BAK");
    EXPECT_EQ(lines[5], "Error ZipException 11 [Invalid file CRC] (Source Line 435)!");
    EXPECT_EQ(lines[6], "    Processing file 'b.txt' (6 bytes): NEW");
    EXPECT_EQ(lines[7], "Mission installed with errors.");
    EXPECT_EQ(game.Read("b.txt"), "fine b");  // the interrupted entry did not block the next
    EXPECT_EQ(game.StateFile(), "[Mission]\nInstalled=1\nFCount=2\nF1=a.txt:1\nF2=b.txt:0\n");
    ExpectDeinstallRestores(game, before);
}

// Names that would reach outside the game folder are refused before anything is touched, and
// the deinstall passes over such names in a state file edited by hand.
TEST(InstallE2E, UnsafeNames_AreRefusedAndNeverTouchAnythingOutside) {
    GameFolder game;
    game.Put("good.txt", "game good");
    test_support::WriteFile(game.WorkPath("victim.txt"), "outside the game");
    const Snapshot before = TakeSnapshot(game);
    const std::string archive = game.WorkPath("evil.zip");
    const std::vector<std::string> unsafe = {"..\\outside.txt", "sub\\..\\..\\outside2.txt",
                                             "C:\\evil.txt",    "stream.txt:hidden",
                                             "\\rooted.txt",    "... \\dots.txt"};
    {
        MissionArchive mission(archive);
        for (const std::string& name : unsafe) {
            mission.File(name, "evil");
        }
        mission.File("..\\victim.txt", "overwritten");
        mission.File("good.txt", "mission good");
        mission.Close();
    }
    // The program's own files beside it: the state file and the backup archive would be lost.
    WriteMission(game.WorkPath("own.zip"), {{"brennick.ini", "[Mission]\r\nInstalled=0\r\n"},
                                            {"BRENNICK.ZIP", "not an archive"},
                                            {"good.txt", "mission good"}});

    const test_support::ProgramResult install = game.Run({archive, "-a"});
    EXPECT_EQ(install.exitCode, 3) << install.output;
    for (const std::string& name : unsafe) {
        EXPECT_TRUE(HasLine(install.output,
                            "    Processing file '" + name + "' (4 bytes): SKIPPED (unsafe name)"))
            << name << "\n"
            << install.output;
    }
    EXPECT_TRUE(HasLine(install.output, "Mission installed with errors."));
    EXPECT_EQ(game.StateFile(), "[Mission]\nInstalled=1\nFCount=1\nF1=good.txt:1\n");
    EXPECT_EQ(test_support::ReadFile(game.WorkPath("victim.txt")), "outside the game");
    EXPECT_FALSE(test_support::Exists(game.WorkPath("outside.txt")));
    EXPECT_FALSE(test_support::Exists(game.WorkPath("outside2.txt")));
    EXPECT_EQ(game.Read("good.txt"), "mission good");

    // A record edited in by hand that names a file outside: the deinstall leaves it alone.
    std::string state = test_support::ReadFile(game.Companion(".Ini"));
    const size_t count = state.find("FCount=1");
    ASSERT_NE(count, std::string::npos);
    state.replace(count, 8, "FCount=2");
    state += "F2=..\\victim.txt:0\n";
    test_support::WriteFile(game.Companion(".Ini"), state);
    const test_support::ProgramResult deinstall = game.Run({"-d", "-a"});
    EXPECT_EQ(deinstall.exitCode, 1) << deinstall.output;
    EXPECT_TRUE(HasLine(deinstall.output, "    Skipping file '..\\victim.txt' - unsafe name."))
        << deinstall.output;
    EXPECT_EQ(test_support::ReadFile(game.WorkPath("victim.txt")), "outside the game");
    EXPECT_EQ(TakeSnapshot(game), before);

    const test_support::ProgramResult ownInstall = game.Run({game.WorkPath("own.zip"), "-a"});
    EXPECT_EQ(ownInstall.exitCode, 3) << ownInstall.output;
    EXPECT_TRUE(HasLine(ownInstall.output,
                        "    Processing file 'brennick.ini' (24 bytes): SKIPPED (unsafe name)"))
        << ownInstall.output;
    EXPECT_TRUE(HasLine(ownInstall.output,
                        "    Processing file 'BRENNICK.ZIP' (14 bytes): SKIPPED (unsafe name)"))
        << ownInstall.output;
    // The record edited in above went with the earlier install's records.
    EXPECT_EQ(game.StateFile(), "[Mission]\nInstalled=1\nFCount=1\nF1=good.txt:1\n");
    EXPECT_EQ(ReadArchive(game.Companion(".Zip")).at("good.txt"), "game good");
    ExpectDeinstallRestores(game, before);
}

// A file given twice (equal ignoring letter case, or through a "." part) is saved and recorded
// once, so the deinstall puts the original back and leaves nothing of the mission.
TEST(InstallE2E, SameNameTwice_IsSavedAndRecordedOnce) {
    GameFolder game;
    game.Put("dup.txt", "original");
    const Snapshot before = TakeSnapshot(game);
    const std::string archive =
        WriteMission(game.WorkPath("twice.zip"), {{"dup.txt", "first"},
                                                  {"new\\n.txt", "n first"},
                                                  {"DUP.TXT", "second"},
                                                  {"new\\.\\n.txt", "n second"}});
    const test_support::ProgramResult install = game.Run({archive, "-a"});
    EXPECT_EQ(install.exitCode, 3) << install.output;
    const std::vector<std::string> expected = {"    Processing file 'dup.txt' (5 bytes): BAK",
                                               "    Processing file 'new\\n.txt' (7 bytes): NEW",
                                               "    Processing file 'DUP.TXT' (6 bytes): REPEATED "
                                               "(replaces the earlier file of this name)",
                                               "    Processing file 'new\\.\\n.txt' (8 bytes): "
                                               "REPEATED (replaces the earlier file of this "
                                               "name)",
                                               "Mission Installed Successfuly."};
    const std::vector<std::string> lines = Body(install.output);
    ASSERT_EQ(lines.size(), 9u) << install.output;
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 4, lines.end()), expected);
    EXPECT_EQ(game.StateFile(),
              "[Mission]\nInstalled=1\nFCount=2\nF1=dup.txt:1\nF2=new\\n.txt:0\n");
    EXPECT_EQ(game.Read("new\\n.txt"), "n second");
    const std::map<std::string, std::string> saved = {{"dup.txt", "original"}};
    EXPECT_EQ(ReadArchive(game.Companion(".Zip")), saved);
    ExpectDeinstallRestores(game, before);
}

// A copy or an extraction that does not give the whole file is an error, not a success; a
// recorded file that never arrived is deleted quietly at deinstall.
TEST(InstallE2E, FilesThatDoNotArrive_MarkTheInstallWithErrors) {
    GameFolder game;
    game.Put("blocker", "a game file where the mission wants a folder");
    const Snapshot before = TakeSnapshot(game);
    const std::string archive = game.WorkPath("failing.zip");
    {
        MissionArchive mission(archive);
        mission.SetPassword("secret");
        mission.File("secret.txt", "encrypted, and no password is given");
        mission.SetPassword("");
        mission.File("fine.txt", "fine");
        mission.Close();
    }
    const test_support::ProgramResult install = game.Run({archive, "-a"});
    EXPECT_EQ(install.exitCode, 3) << install.output;
    EXPECT_TRUE(HasLine(install.output,
                        "    Processing file 'secret.txt' (35 bytes): SKIPPED "
                        "(encrypted, and the install has no password)"))
        << install.output;
    EXPECT_FALSE(game.Has("secret.txt"));
    EXPECT_TRUE(HasLine(install.output, "Mission installed with errors."));
    EXPECT_EQ(game.Read("fine.txt"), "fine");
    ExpectDeinstallRestores(game, before);

    // The same for a folder source whose file cannot be copied (a game file stands in the way).
    const std::string source = game.WorkPath("src");
    platform::CreateFolder(source);
    platform::CreateFolder(source + "\\blocker");
    test_support::WriteFile(source + "\\blocker\\x.txt", "cannot land");
    const test_support::ProgramResult copy = game.Run({source, "-f", "-a"});
    EXPECT_EQ(copy.exitCode, 3) << copy.output;
    EXPECT_TRUE(HasLine(copy.output, "    Processing file 'blocker\\x.txt' (11 bytes): NEW"))
        << copy.output;
    EXPECT_TRUE(HasLine(copy.output, "      File 'blocker\\x.txt' was not installed whole."));
    EXPECT_TRUE(HasLine(copy.output, "Mission installed with errors."));
    ExpectDeinstallRestores(game, before);
}

// A game file that cannot be read into the backup archive is left as it is: not deleted, not
// replaced, and the half-written entry does not stay in the backup archive. Needs a file that
// fails to read part-way, which a symbolic link to /proc/self/mem gives on Linux.
TEST(InstallE2E, FailedBackup_LeavesTheGameFileUntouched) {
    GameFolder game;
    game.Put("other.str", "original other");
    const std::string hostLink = platform::ToHostPath(game.Join("locked.str"));
    std::error_code error;
    std::filesystem::create_symlink("/proc/self/mem", hostLink, error);
    if (error || !std::filesystem::is_regular_file(hostLink, error)) {
        GTEST_SKIP() << "no symbolic link to /proc/self/mem here";
    }
    const std::string archive = WriteMission(game.WorkPath("mission.zip"),
                                             {{"locked.str", "new"}, {"other.str", "new other"}});
    const test_support::ProgramResult install = game.Run({archive, "-a"});
    EXPECT_EQ(install.exitCode, 3) << install.output;
    const std::vector<std::string> lines = Body(install.output);
    ASSERT_EQ(lines.size(), 8u) << install.output;
    EXPECT_EQ(lines[4].rfind("    Processing file 'locked.str' (3 bytes): Error FileException ", 0),
              0u)
        << lines[4];
    EXPECT_NE(lines[4].find("(Source Line 408)!"), std::string::npos) << lines[4];
    EXPECT_EQ(lines[5], "SKIPPED (backup failed, game file left unchanged)");
    EXPECT_EQ(lines[6], "    Processing file 'other.str' (9 bytes): BAK");
    EXPECT_EQ(lines[7], "Mission installed with errors.");
    EXPECT_TRUE(std::filesystem::is_symlink(hostLink));
    EXPECT_EQ(std::filesystem::read_symlink(hostLink), "/proc/self/mem");
    EXPECT_EQ(game.StateFile(),
              "[Mission]\nInstalled=1\nFCount=2\nF1=locked.str:1\nF2=other.str:1\n");
    const std::map<std::string, std::string> saved = {{"other.str", "original other"}};
    EXPECT_EQ(ReadArchive(game.Companion(".Zip")), saved);
    ExpectUnzipAccepts(game.Companion(".Zip"));

    const test_support::ProgramResult deinstall = game.Run({"-d", "-a"});
    EXPECT_EQ(deinstall.exitCode, 1) << deinstall.output;
    EXPECT_TRUE(
        HasLine(deinstall.output, "    Extracting old file 'locked.str'... not found in backup!"))
        << deinstall.output;
    EXPECT_TRUE(std::filesystem::is_symlink(hostLink));
    EXPECT_EQ(game.Read("other.str"), "original other");
}

// Records of an earlier install beyond the new count are never taken for the new install's.
TEST(InstallE2E, EarlierRecords_AreCountedOutBeforeTheFirstNewRecord) {
    GameFolder game;
    game.Put("dark.cfg", "config");
    test_support::WriteFile(game.Companion(".Ini"),
                            "[Mission]\r\nInstalled=0\r\nFCount=2\r\nF1=dark.cfg:0\r\nF2=x:0\r\n");
    const Snapshot before = TakeSnapshot(game);
    const std::string archive = game.WorkPath("folders.zip");
    {
        MissionArchive mission(archive);
        mission.Folder("maps\\");
        mission.Close();
    }
    EXPECT_EQ(game.Run({archive, "-a"}).exitCode, 3);
    EXPECT_NE(game.StateFile().find("FCount=0\n"), std::string::npos) << game.StateFile();
    ExpectDeinstallRestores(game, before);  // dark.cfg, named by the old F1, stays
}

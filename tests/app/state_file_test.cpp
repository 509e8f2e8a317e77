// Paths of the files beside the program, derived from the program's own path, and the state
// file's counter rule.
#include "app/state_file.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "platform/file_system.h"
#include "platform/system.h"

namespace {

TEST(StateFileTest, ProgramBasePathOf_CutsExtensionOfFileNameOnly) {
    EXPECT_EQ(ProgramBasePathOf("C:\\Games\\Thief\\Brennick.Exe"), "C:\\Games\\Thief\\Brennick");
    EXPECT_EQ(ProgramBasePathOf("C:\\Games\\Thief\\Brennick.Mod.Exe"),
              "C:\\Games\\Thief\\Brennick.Mod");
    // A dotted folder never lends its "." to a program file without extension.
    EXPECT_EQ(ProgramBasePathOf("\\games\\Old.Dir\\Brennick"), "\\games\\Old.Dir\\Brennick");
    EXPECT_EQ(ProgramBasePathOf("Brennick.exe"), "Brennick");
    EXPECT_EQ(ProgramBasePathOf("Brennick"), "Brennick");
    EXPECT_EQ(ProgramBasePathOf(""), "");
}

TEST(StateFileTest, ProgramFolderOf_CutsAtLastBackslash) {
    EXPECT_EQ(ProgramFolderOf("C:\\Games\\Thief\\Brennick.Exe"), "C:\\Games\\Thief");
    EXPECT_EQ(ProgramFolderOf("\\games\\Old.Dir\\Brennick"), "\\games\\Old.Dir");
    EXPECT_EQ(ProgramFolderOf("Brennick.Exe"), "Brennick.Exe");
}

TEST(StateFileTest, CompanionPaths_LieBesideTheRunningProgram) {
    const std::string own = platform::GetOwnPath();
    ASSERT_NE(platform::GetAttributes(own), platform::invalidAttributes) << own;
    EXPECT_EQ(platform::GetAttributes(GetProgramFolder()) & platform::attributeFolder,
              platform::attributeFolder);
    const std::string ini = GetProgramPathWithExt(".Ini");
    EXPECT_EQ(ProgramFolderOf(ini), GetProgramFolder());
    EXPECT_EQ(ini.substr(ini.size() - 4), ".Ini");
}

}  // namespace

TEST(StateFileTest, NamesProgramFile_CatchesTheProgramAndItsCompanionsInAnyCase) {
    const std::string program = "C:\\Games\\Thief2\\Brennick.exe";
    for (const char* name : {"Brennick.exe", "BRENNICK.EXE", "brennick.ini", "Brennick.Zip",
                             ".\\Brennick.taff", "Brennick.Ini"}) {
        EXPECT_TRUE(NamesProgramFile(name, program)) << name;
    }
    for (const char* name :
         {"books\\Brennick.Ini", "Brennick.Ini.new", "Brennick", "Other.Ini", "Brennick.exe.bak"}) {
        EXPECT_FALSE(NamesProgramFile(name, program)) << name;
    }
    // A program without an extension (as on Linux) has companions of its whole name.
    EXPECT_TRUE(NamesProgramFile("brennick", "\\games\\Brennick"));
    EXPECT_TRUE(NamesProgramFile("Brennick.Zip", "\\games\\Brennick"));
}

// One counter rule on both builds: read as atol reads a number, clamped to 64 bits, never
// wrapping when counted up or down.
TEST(StateFileTest, InstalledCounter_ClampsAndNeverWraps) {
    const struct {
        const char* text;
        int64_t value;
    } cases[] = {{"1", 1},
                 {"  -3x", -3},
                 {"abc", 0},
                 {"", 0},
                 {"+7", 7},
                 {"99999999999999999999", INT64_MAX},
                 {"-99999999999999999999", INT64_MIN}};
    for (const auto& c : cases) {
        EXPECT_EQ(StateFile::ParseCounter(c.text), c.value) << c.text;
    }
    EXPECT_EQ(StateFile::CountedDown(INT64_MIN), INT64_MIN);
    EXPECT_EQ(StateFile::CountedDown(0), 0);
    EXPECT_EQ(StateFile::CountedDown(-1), -2);
    EXPECT_EQ(StateFile::CountedUp(INT64_MAX), INT64_MAX);
    EXPECT_EQ(StateFile::CountedUp(0), 1);
}

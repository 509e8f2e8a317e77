// Paths of the files beside the program, derived from the program's own path.
#include "app/state_file.h"

#include <gtest/gtest.h>

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

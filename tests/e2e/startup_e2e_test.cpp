// The built program run in an empty folder: usage, status, refusals, exit codes, state file.
#include <gtest/gtest.h>

#include "app/state_file.h"
#include "platform/file_system.h"
#include "platform/profile.h"
#include "tests/support/test_support.h"

namespace {

const char kUsage[] =
    "USAGE:\n"
    "  Brennick.Exe             Display this information and mission status.\n"
    "  Brennick.Exe <ZIPName>   Install new mission.\n"
    "  Brennick.Exe -d          Remove installed mission.\n"
    "\n"
    "  Some useful keys:\n"
    "    -a    :    Automatic mode (auto close program after all complete).\n"
    "    -f    :    Reinterpret <ZIPName> as folder path when installing mission.\n"
    "    -n    :    Do not delete empty folders during mission uninstall.\n"
    "\n"
    ".BAT files ErrorLevel values:\n"
    "  -1 : Fatal error in loading program.\n"
    "  0  : No action was performed, maybe invalid arguments.\n"
    "  1  : Current mission deinstalled successfully.\n"
    "  2  : Current mission was not deinstalled.\n"
    "  3  : Current mission installed successfully.\n"
    "  4  : Current mission was not installed.\n"
    "  5  : Help & mission status was displayed.\n";

const char kAlreadyDeinstalled[] =
    "Mission was already deinstalled. If you need to repeat deinstallation,\n"
    "please do the following:\n"
    "- make sure that the program has the same name as INI and Backup (*.Zip,\n"
    "    *.Taff) files. Rename it if needed;\n"
    "- in INI File, change \"Installed=0\" string to \"Installed=1\";\n"
    "- if there is no Backup Zip file, change the Backup file extension from\n"
    "    *.Taff to *.Zip;\n"
    "- run the program with \"-d\" key.\n";

const char kAlreadyInstalled[] =
    "Mission was already installed. If it is a localization or other misson\n"
    "mod, please rename the program and re-run installation. Remember to\n"
    "deinstall missions in reversed order (first mod, then mission).\n";

const char kPressKey[] = "\nPress Any Key To Exit...\n";

// The banner line; its notice of authorship is free text after the version.
std::string AfterBanner(const std::string& output) {
    const std::string banner = "BrennickConsole v1.6 ";
    EXPECT_EQ(output.compare(0, banner.size(), banner), 0) << output;
    const size_t end = output.find('\n');
    return end == std::string::npos ? "" : output.substr(end + 1);
}

class StartUpE2eTest : public ::testing::Test {
protected:
    test_support::TempFolder folder;
    const std::string program = test_support::CopyProgramTo(folder.Path());
    const std::string stateFile = ProgramBasePathOf(program) + ".Ini";

    test_support::ProgramResult Run(const std::vector<std::string>& args) {
        return test_support::RunProgramIn(program, args, folder.Path());
    }
};

TEST_F(StartUpE2eTest, NoArguments_ShowsUsageAndStatusCreatesStateFileAndGivesFive) {
    const test_support::ProgramResult result = Run({});
    EXPECT_EQ(result.exitCode, 5);
    EXPECT_EQ(AfterBanner(result.output),
              std::string(kUsage) + "\nCurrent mission status: NOT INSTALLED.\n" + kPressKey);
    EXPECT_EQ(platform::GetProfileString(stateFile, "Mission", "Installed", "missing"), "0");
    EXPECT_EQ(test_support::ReadFile(stateFile), "[Mission]\r\nInstalled=0\r\n");
}

TEST_F(StartUpE2eTest, NoArguments_WhenInstalled_ReportsInstalled) {
    test_support::WriteFile(stateFile, "[Mission]\r\nInstalled=1\r\n");
    const test_support::ProgramResult result = Run({});
    EXPECT_EQ(result.exitCode, 5);
    EXPECT_NE(result.output.find("\nCurrent mission status: INSTALLED.\n"), std::string::npos);
}

TEST_F(StartUpE2eTest, Deinstall_WhenNotInstalled_PrintsAdviceAndGivesTwo) {
    const test_support::ProgramResult result = Run({"-d"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(AfterBanner(result.output), std::string(kAlreadyDeinstalled) + kPressKey);
}

TEST_F(StartUpE2eTest, Install_WhenInstalled_RefusesWithFourAndAutomaticModeSkipsWait) {
    test_support::WriteFile(stateFile, "[Mission]\r\nInstalled=2\r\n");
    for (const std::string automatic : {"-A", "/a"}) {
        const test_support::ProgramResult result = Run({"mission.zip", automatic});
        EXPECT_EQ(result.exitCode, 4) << automatic;
        EXPECT_EQ(AfterBanner(result.output), kAlreadyInstalled) << automatic;
    }
    EXPECT_EQ(platform::GetProfileString(stateFile, "Mission", "Installed", ""), "2");
}

// A copy under another name in a dotted folder keeps its own state file there.
TEST_F(StartUpE2eTest, RenamedCopyInDottedFolder_KeepsItsOwnStateFile) {
    const std::string dotted = folder.Join("Old.Dir");
    ASSERT_TRUE(platform::CreateFolder(dotted));
    const std::string name = program.substr(program.rfind('\\') + 1);
    const std::string copy = test_support::CopyProgramTo(dotted, "Mod" + name);
    const test_support::ProgramResult result =
        test_support::RunProgramIn(copy, {"-d", "-a"}, dotted);
    EXPECT_EQ(result.exitCode, 2);
    const std::string modState = ProgramBasePathOf(copy) + ".Ini";
    EXPECT_EQ(ProgramFolderOf(modState), dotted);
    EXPECT_TRUE(test_support::Exists(modState));
    EXPECT_FALSE(test_support::Exists(stateFile));
    EXPECT_FALSE(test_support::Exists(folder.Join("Old.Ini")));
}

}  // namespace

// Option lookup and start-up's dispatch to install and deinstall, with the exit codes.
#include "app/startup.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "app/state_file.h"
#include "platform/file_system.h"
#include "platform/system.h"
#include "tests/support/test_support.h"

namespace {

// A writable argument vector, as a process receives it.
class Args {
public:
    Args(std::initializer_list<std::string> args) : texts(args) {
        for (std::string& text : texts) pointers.push_back(text.data());
        pointers.push_back(nullptr);
    }
    int Count() const { return static_cast<int>(texts.size()); }
    char** Vector() { return pointers.data(); }

private:
    std::vector<std::string> texts;
    std::vector<char*> pointers;
};

TEST(FindOptionTest, MatchesLetterAfterAnyFirstCharacterIgnoringCase) {
    for (const char* selecting : {"-d", "/D", "xd", "-D"}) {
        Args args{"Brennick", "mission.zip", selecting};
        EXPECT_EQ(FindOption('d', args.Vector(), args.Count()), 2) << selecting;
    }
    for (const char* other : {"-dd", "d", "-", "--d", "", "-a"}) {
        Args args{"Brennick", other};
        EXPECT_EQ(FindOption('d', args.Vector(), args.Count()), 0) << other;
    }
}

TEST(FindOptionTest, PositionZeroNeverCountsAndEndsTheSearch) {
    Args args{"-d", "-d"};
    EXPECT_EQ(FindOption('d', args.Vector(), args.Count()), 0);
    Args first{"Brennick", "-a", "/A"};
    EXPECT_EQ(FindOption('a', first.Vector(), first.Count()), 1);
}

// What the fake operations saw, and what they answer.
struct Calls {
    int installs = 0;
    int deinstalls = 0;
    std::string source;
    bool flag = false;
    bool succeed = true;
};
Calls calls;

bool FakeInstall(const std::string& source, bool sourceIsFolder) {
    ++calls.installs;
    calls.source = source;
    calls.flag = sourceIsFolder;
    return calls.succeed;
}

bool FakeDeinstall(const std::string& target, bool keepFolders) {
    ++calls.deinstalls;
    calls.source = target;
    calls.flag = keepFolders;
    return calls.succeed;
}

// Runs start-up as a program placed in a temporary folder; restores the own path afterwards.
class StartUpTest : public ::testing::Test {
protected:
    void SetUp() override {
        calls = Calls{};
        savedOwnPath = platform::GetOwnPath();
        Args init{platform::ToHostPath(folder.Join("Brennick"))};
        platform::InitApplication(init.Count(), init.Vector());
        stateFile = GetProgramPathWithExt(".Ini");
        platform::RemoveFile(stateFile);  // on Windows it lies beside the test program
    }
    void TearDown() override {
        platform::RemoveFile(stateFile);
        Args restore{platform::ToHostPath(savedOwnPath)};
        platform::InitApplication(restore.Count(), restore.Vector());
    }

    void SetInstalled(const std::string& value) {
        ASSERT_TRUE(StateFile(stateFile).WriteCounterText(value));
    }

    int Run(std::initializer_list<std::string> arguments, std::string* output = nullptr) {
        std::vector<std::string> all{platform::ToHostPath(folder.Join("Brennick"))};
        all.insert(all.end(), arguments);
        std::vector<char*> pointers;
        for (std::string& text : all) pointers.push_back(text.data());
        pointers.push_back(nullptr);
        ::testing::internal::CaptureStdout();
        const int code = StartUp(static_cast<int>(all.size()), pointers.data(),
                                 MissionOperations{FakeInstall, FakeDeinstall});
        const std::string printed = ::testing::internal::GetCapturedStdout();
        if (output)
            *output = printed;
        return code;
    }

    test_support::TempFolder folder;
    std::string savedOwnPath;
    std::string stateFile;
};

TEST_F(StartUpTest, Deinstall_WhenInstalled_PassesKeepFoldersAndGivesOne) {
    SetInstalled("1");
    EXPECT_EQ(Run({"-d", "-n", "-a"}), 1);
    EXPECT_EQ(calls.deinstalls, 1);
    EXPECT_EQ(calls.source, "");
    EXPECT_TRUE(calls.flag);
    EXPECT_EQ(calls.installs, 0);
}

TEST_F(StartUpTest, Deinstall_Failing_PrintsAdviceAndGivesTwo) {
    SetInstalled("-3");  // any nonzero value counts as installed
    calls.succeed = false;
    std::string output;
    EXPECT_EQ(Run({"mission.zip", "/D", "/a"}, &output), 2);
    EXPECT_FALSE(calls.flag);
    EXPECT_NE(output.find("Mission Deinstall FAILED. This may happen because of hanged Thief "
                          "Game\n(some files are locked).\nPlease restart your computer and "
                          "repeat deinstall process.\n"),
              std::string::npos);
    EXPECT_EQ(output.find("Press Any Key"), std::string::npos);
}

TEST_F(StartUpTest, Deinstall_WhenNotInstalled_RefusesWithTwo) {
    std::string output;
    EXPECT_EQ(Run({"-d", "-a"}, &output), 2);
    EXPECT_EQ(calls.deinstalls, 0);
    EXPECT_NE(output.find("- run the program with \"-d\" key.\n"), std::string::npos);
}

TEST_F(StartUpTest, Install_WhenInstalled_RefusesWithFour) {
    SetInstalled("2");
    std::string output;
    EXPECT_EQ(Run({"mission.zip", "-a"}, &output), 4);
    EXPECT_EQ(calls.installs, 0);
    EXPECT_NE(output.find("Mission was already installed."), std::string::npos);
}

TEST_F(StartUpTest, Install_WhenNotInstalled_UsesFirstArgumentAndGivesThree) {
    SetInstalled("abc");  // not a number: not installed
    EXPECT_EQ(Run({"mission.zip", "/A", "/F"}), 3);
    EXPECT_EQ(calls.installs, 1);
    EXPECT_EQ(calls.source, "mission.zip");
    EXPECT_TRUE(calls.flag);
    EXPECT_EQ(StateFile(stateFile).ReadCounterText(), "abc");
}

TEST_F(StartUpTest, Install_Failing_TakesOptionAsSourceAndGivesFour) {
    calls.succeed = false;
    std::string output;
    EXPECT_EQ(Run({"-f", "-a"}, &output), 4);
    EXPECT_EQ(calls.source, "-f");
    EXPECT_TRUE(calls.flag);
    EXPECT_NE(output.find("Please restart your computer, deinstall this mission and install it "
                          "again.\n"),
              std::string::npos);
}

TEST_F(StartUpTest, AnyRun_CreatesStateFileWithInstalledCounter) {
    EXPECT_EQ(Run({"-d", "-a"}), 2);
    EXPECT_EQ(test_support::ReadFile(stateFile), "[Mission]\r\nInstalled=0\r\n");
}

}  // namespace

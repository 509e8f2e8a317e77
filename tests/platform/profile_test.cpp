// INI profile files: defaults, the value limit, in-place replacement, appending and line ends.
#include "platform/profile.h"

#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "tests/support/test_support.h"

namespace {

using platform::GetProfileString;
using platform::WriteProfileString;
using test_support::ReadFile;
using test_support::WriteFile;

class ProfileTest : public ::testing::Test {
protected:
    test_support::TempFolder folder;
    const std::string ini = folder.Join("Brennick.Ini");
};

TEST_F(ProfileTest, GetProfileString_GivesDefaultForMissingFileSectionOrKey) {
    EXPECT_EQ(GetProfileString(ini, "Mission", "Installed", "0"), "0");
    WriteFile(ini, "[Other]\r\nInstalled=7\r\n[Mission]\r\nFCount=2\r\n");
    EXPECT_EQ(GetProfileString(ini, "Missing", "FCount", "d"), "d");
    EXPECT_EQ(GetProfileString(ini, "Mission", "Installed", "0"), "0");
    EXPECT_EQ(GetProfileString(ini, "Mission", "FCount", "0"), "2");
}

TEST_F(ProfileTest, GetProfileString_CutsLongValueTo1023Characters) {
    const std::string longValue(1500, 'x');
    WriteFile(ini, "[Mission]\r\nF1=" + longValue + "\r\n");
    EXPECT_EQ(GetProfileString(ini, "Mission", "F1", ""), std::string(1023, 'x'));
}

TEST_F(ProfileTest, GetProfileString_AcceptsLfAndCrlfTrimsBlanksAndIgnoresCase) {
    WriteFile(ini, "[Other]\nInstalled=9\n  [ mission ]  \r\n  installed =  1 \nF1=a\\b.str:0");
    EXPECT_EQ(GetProfileString(ini, "Mission", "Installed", "0"), "1");
    EXPECT_EQ(GetProfileString(ini, "MISSION", "f1", ""), "a\\b.str:0");
}

TEST_F(ProfileTest, WriteProfileString_CreatesFileAndSectionWithCrlf) {
    ASSERT_TRUE(WriteProfileString(ini, "Mission", "Installed", "0"));
    EXPECT_EQ(ReadFile(ini), "[Mission]\r\nInstalled=0\r\n");
    EXPECT_FALSE(test_support::Exists(ini + ".new"));
}

TEST_F(ProfileTest, WriteProfileString_ReplacesValueInPlaceAndKeepsOrder) {
    WriteFile(ini, "[Mission]\r\nInstalled=0\r\nFCount=2\r\nF1=a:0\r\nF2=b:1\r\n");
    ASSERT_TRUE(WriteProfileString(ini, "Mission", "FCount", "10"));
    ASSERT_TRUE(WriteProfileString(ini, "mission", "installed", "1"));
    EXPECT_EQ(ReadFile(ini), "[Mission]\r\nInstalled=1\r\nFCount=10\r\nF1=a:0\r\nF2=b:1\r\n");
}

TEST_F(ProfileTest, WriteProfileString_AppendsNewKeyAtEndOfItsSection) {
    WriteFile(ini, "[Before]\r\nx=1\r\n[Mission]\r\nInstalled=1\r\n\r\n[After]\r\ny=2\r\n");
    ASSERT_TRUE(WriteProfileString(ini, "Mission", "FCount", "1"));
    ASSERT_TRUE(WriteProfileString(ini, "Mission", "F1", "books\\diary.str:0"));
    EXPECT_EQ(ReadFile(ini),
              "[Before]\r\nx=1\r\n[Mission]\r\nInstalled=1\r\nFCount=1\r\n"
              "F1=books\\diary.str:0\r\n\r\n[After]\r\ny=2\r\n");
    EXPECT_EQ(GetProfileString(ini, "After", "y", ""), "2");
}

TEST_F(ProfileTest, WriteProfileString_AddsSectionAfterUnendedLastLineKeepingLfFile) {
    WriteFile(ini, "[Other]\nkey=v");
    ASSERT_TRUE(WriteProfileString(ini, "Mission", "Installed", "0"));
    EXPECT_EQ(ReadFile(ini), "[Other]\nkey=v\n[Mission]\nInstalled=0\n");
}

TEST_F(ProfileTest, WriteProfileString_KeepsEachExistingLinesEnd) {
    WriteFile(ini, "[Mission]\r\nInstalled=0\nFCount=1\r\n");
    ASSERT_TRUE(WriteProfileString(ini, "Mission", "Installed", "1"));
    EXPECT_EQ(ReadFile(ini), "[Mission]\r\nInstalled=1\nFCount=1\r\n");
}

TEST_F(ProfileTest, WriteProfileString_FailsOnReadOnlyFileAndLeavesIt) {
    WriteFile(ini, "[Mission]\r\nInstalled=0\r\n");
    ASSERT_TRUE(platform::SetAttributes(ini, platform::attributeReadOnly));
    EXPECT_FALSE(WriteProfileString(ini, "Mission", "Installed", "1"));
    EXPECT_EQ(GetProfileString(ini, "Mission", "Installed", ""), "0");
}

TEST_F(ProfileTest, WriteProfileString_FailsWhenFolderIsMissing) {
    EXPECT_FALSE(WriteProfileString(folder.Join("no\\such.Ini"), "Mission", "Installed", "0"));
}

}  // namespace

// INI profile files kept in memory: appended and in-place writes give the same file as a whole
// rewrite, and a file changed behind this process's back is read again.
#include <gtest/gtest.h>

#include <string>

#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/profile.h"
#include "tests/support/test_support.h"

namespace {

using platform::GetProfileString;
using platform::WriteProfileString;
using test_support::ReadFile;
using test_support::WriteFile;

std::string Numbered(const char* prefix, int number) {
    std::string text = prefix;
    text += std::to_string(number);
    return text;
}

class ProfileFastTest : public ::testing::Test {
protected:
    test_support::TempFolder folder;
    const std::string ini = folder.Join("Brennick.Ini");

    // Records files as an install does: F<n>=<name>, then FCount=<n>.
    void Record(int first, int last) {
        for (int n = first; n <= last; ++n) {
            ASSERT_TRUE(
                WriteProfileString(ini, "Mission", Numbered("F", n), Numbered("f", n) + ".str:0"));
            ASSERT_TRUE(WriteProfileString(ini, "Mission", "FCount", std::to_string(n)));
        }
    }

    // Sets the file's last-write time back, as a file edited at another time has.
    void AgeFile(std::time_t seconds) {
        CFileStatus status;
        ASSERT_TRUE(CFile::GetStatus(ini, status));
        status.lastWriteTime -= seconds;
        CFile::SetStatus(ini, status);
    }
};

std::string Records(int first, int last, const std::string& end) {
    std::string lines;
    for (int n = first; n <= last; ++n)
        lines += Numbered("F", n) + Numbered("=f", n) + ".str:0" + end;
    return lines;
}

TEST_F(ProfileFastTest, WriteProfileString_RecordsInLastSectionGiveSameFileAsRewrite) {
    WriteFile(ini, "[Other]\r\na=1\r\n[Mission]\r\nInstalled=1\r\nFCount=0\r\n");
    Record(1, 12);  // FCount grows from one digit to two on the way
    EXPECT_EQ(ReadFile(ini), "[Other]\r\na=1\r\n[Mission]\r\nInstalled=1\r\nFCount=12\r\n" +
                                 Records(1, 12, "\r\n"));
    EXPECT_EQ(GetProfileString(ini, "Mission", "FCount", ""), "12");
    EXPECT_EQ(GetProfileString(ini, "mission", "f7", ""), "f7.str:0");
    EXPECT_EQ(GetProfileString(ini, "Other", "a", ""), "1");
}

TEST_F(ProfileFastTest, WriteProfileString_KeepsLfFileLineEndsWhenAppendingAndReplacing) {
    WriteFile(ini, "[Mission]\nInstalled=1\nFCount=0\n");
    Record(1, 3);
    ASSERT_TRUE(WriteProfileString(ini, "Mission", "Installed", "2"));
    EXPECT_EQ(ReadFile(ini), "[Mission]\nInstalled=2\nFCount=3\n" + Records(1, 3, "\n"));
}

TEST_F(ProfileFastTest, WriteProfileString_SameLengthReplaceRewritesWholeLineAsRewriteWould) {
    WriteFile(ini, "[Mission]\r\n  FCount = 7 \r\nF1=x\r\n");
    ASSERT_TRUE(WriteProfileString(ini, "Mission", "FCount", "123456"));  // same line length
    EXPECT_EQ(ReadFile(ini), "[Mission]\r\nFCount=123456\r\nF1=x\r\n");
    ASSERT_TRUE(WriteProfileString(ini, "Mission", "FCount", "654321"));
    ASSERT_TRUE(WriteProfileString(ini, "Mission", "F1", "y"));
    EXPECT_EQ(ReadFile(ini), "[Mission]\r\nFCount=654321\r\nF1=y\r\n");
}

TEST_F(ProfileFastTest, WriteProfileString_NewKeyOfEarlierSectionStaysInItsSection) {
    WriteFile(ini, "[Mission]\r\nFCount=0\r\n[Last]\r\nz=9\r\n");
    Record(1, 2);
    ASSERT_TRUE(WriteProfileString(ini, "Last", "y", "8"));
    Record(3, 3);
    ASSERT_TRUE(WriteProfileString(ini, "New", "k", "v"));
    ASSERT_TRUE(WriteProfileString(ini, "Last", "x", "7"));
    ASSERT_TRUE(WriteProfileString(ini, "New", "k2", "v2"));
    EXPECT_EQ(ReadFile(ini), "[Mission]\r\nFCount=3\r\n" + Records(1, 3, "\r\n") +
                                 "[Last]\r\nz=9\r\ny=8\r\nx=7\r\n[New]\r\nk=v\r\nk2=v2\r\n");
    EXPECT_EQ(GetProfileString(ini, "Last", "x", ""), "7");
    EXPECT_EQ(GetProfileString(ini, "New", "k2", ""), "v2");
}

TEST_F(ProfileFastTest, WriteProfileString_EndsUnendedLastLineAndKeepsBlankLinesAfterSection) {
    WriteFile(ini, "[Mission]\nF1=a");
    ASSERT_TRUE(WriteProfileString(ini, "Mission", "F2", "b"));
    ASSERT_TRUE(WriteProfileString(ini, "Mission", "F3", "c"));
    EXPECT_EQ(ReadFile(ini), "[Mission]\nF1=a\nF2=b\nF3=c\n");

    WriteFile(ini, "[Mission]\r\nF1=a\r\n\r\n");
    ASSERT_TRUE(WriteProfileString(ini, "Mission", "F2", "b"));
    ASSERT_TRUE(WriteProfileString(ini, "Mission", "F3", "c"));
    EXPECT_EQ(ReadFile(ini), "[Mission]\r\nF1=a\r\nF2=b\r\nF3=c\r\n\r\n");
}

TEST_F(ProfileFastTest, GetProfileString_SeesFileRewrittenBehindItsBack) {
    Record(1, 3);
    WriteFile(ini, "[Mission]\r\nFCount=1\r\nF1=other:1\r\n");  // another length
    EXPECT_EQ(GetProfileString(ini, "Mission", "F1", ""), "other:1");
    EXPECT_EQ(GetProfileString(ini, "Mission", "F2", "none"), "none");

    Record(2, 2);
    const std::string recorded = ReadFile(ini);
    std::string edited = recorded;
    edited.replace(edited.find("F2=f2"), 5, "F2=g2");  // the same length, edited later
    WriteFile(ini, edited);
    AgeFile(-10);
    EXPECT_EQ(GetProfileString(ini, "Mission", "F2", ""), "g2.str:0");
    ASSERT_TRUE(WriteProfileString(ini, "Mission", "F3", "h"));
    EXPECT_EQ(ReadFile(ini), edited + "F3=h\r\n");
}

TEST_F(ProfileFastTest, GetProfileString_SeesSameLengthChangeOfFreshlyWrittenFile) {
    WriteFile(ini, "[Mission]\r\nFCount=1\r\n");
    EXPECT_EQ(GetProfileString(ini, "Mission", "FCount", ""), "1");
    WriteFile(ini, "[Mission]\r\nFCount=2\r\n");  // within the same second, same length
    EXPECT_EQ(GetProfileString(ini, "Mission", "FCount", ""), "2");
    ASSERT_TRUE(WriteProfileString(ini, "Mission", "F1", "a"));
    EXPECT_EQ(ReadFile(ini), "[Mission]\r\nFCount=2\r\nF1=a\r\n");
}

TEST_F(ProfileFastTest, GetProfileString_SeesFileRemovedAndRecreated) {
    Record(1, 2);
    ASSERT_TRUE(platform::RemoveFile(ini));
    EXPECT_EQ(GetProfileString(ini, "Mission", "FCount", "0"), "0");
    ASSERT_TRUE(WriteProfileString(ini, "Mission", "FCount", "5"));
    EXPECT_EQ(ReadFile(ini), "[Mission]\r\nFCount=5\r\n");
}

TEST_F(ProfileFastTest, GetProfileString_CutsLongValueWrittenByThisProcess) {
    ASSERT_TRUE(WriteProfileString(ini, "Mission", "F1", std::string(1500, 'x')));
    EXPECT_EQ(GetProfileString(ini, "Mission", "F1", ""), std::string(1023, 'x'));
    ASSERT_TRUE(WriteProfileString(ini, "Mission", "F1", std::string(1500, 'y')));
    EXPECT_EQ(GetProfileString(ini, "Mission", "F1", ""), std::string(1023, 'y'));
    ASSERT_TRUE(WriteProfileString(ini, "Mission", "F2", std::string(5000, 'a')));
    ASSERT_TRUE(WriteProfileString(ini, "Mission", "F2", std::string(5000, 'b')));
    std::string expected = "[Mission]\r\nF1=";
    expected += std::string(1500, 'y') + "\r\nF2=" + std::string(5000, 'b') + "\r\n";
    EXPECT_EQ(ReadFile(ini), expected);
}

TEST_F(ProfileFastTest, WriteProfileString_FailsOnFileMadeReadOnlyAfterCaching) {
    Record(1, 2);
    ASSERT_TRUE(platform::SetAttributes(ini, platform::attributeReadOnly));
    EXPECT_FALSE(WriteProfileString(ini, "Mission", "F3", "c"));
    EXPECT_EQ(GetProfileString(ini, "Mission", "F3", "none"), "none");
    ASSERT_TRUE(platform::SetAttributes(ini, platform::attributeArchive));
}

TEST_F(ProfileFastTest, WriteProfileString_TwoThousandRecordsReadBackInBothPasses) {
    Record(1, 2000);
    EXPECT_EQ(ReadFile(ini),
              "[Mission]\r\nF1=f1.str:0\r\nFCount=2000\r\n" + Records(2, 2000, "\r\n"));
    const int count = std::stoi(GetProfileString(ini, "Mission", "FCount", "0"));
    ASSERT_EQ(count, 2000);
    for (int pass = 0; pass < 2; ++pass)
        for (int n = 1; n <= count; ++n)
            ASSERT_EQ(GetProfileString(ini, "Mission", Numbered("F", n), ""),
                      Numbered("f", n) + ".str:0");
}

}  // namespace

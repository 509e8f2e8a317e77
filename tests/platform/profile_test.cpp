// INI profile files: defaults, the value limit, in-place replacement, appending, line ends, the
// encodings an editor may save the file in, and files that cannot be read or trusted.
#include "platform/profile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <tuple>

#include "platform/code_page.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "tests/support/test_support.h"

namespace {

using platform::CheckProfile;
using platform::GetProfileString;
using platform::ProfileState;
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

TEST_F(ProfileTest, GetProfileString_AcceptsLfCrlfAndCrTrimsBlanksAndIgnoresCase) {
    WriteFile(ini, "[Other]\nInstalled=9\r  [ mission ]  \r\n  installed =  1 \rF1=a\\b.str:0");
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

// A rewrite killed before it put its copy in place leaves the copy beside the file; the file
// still holds the old content, and the next write takes the copy away.
TEST_F(ProfileTest, WriteProfileString_RemovesTheCopyAKilledRewriteLeft) {
    WriteFile(ini, "[Mission]\r\nInstalled=1\r\n");
    WriteFile(ini + ".new", "[Mission]\r\nInstalled=7\r\n");
    EXPECT_EQ(GetProfileString(ini, "Mission", "Installed", ""), "1");
    ASSERT_TRUE(WriteProfileString(ini, "Mission", "Installed", "0"));
    EXPECT_FALSE(test_support::Exists(ini + ".new"));
    EXPECT_EQ(ReadFile(ini), "[Mission]\r\nInstalled=0\r\n");
}

TEST_F(ProfileTest, WriteProfileString_FailsWhenFolderIsMissing) {
    EXPECT_FALSE(WriteProfileString(folder.Join("no\\such.Ini"), "Mission", "Installed", "0"));
}

// The encodings an editor may save the file in: none (local text), UTF-8 or UTF-16LE with a mark.
enum class Mark { none, utf8, utf16 };

std::string MarkBytes(Mark mark) {
    return mark == Mark::utf8 ? "\xEF\xBB\xBF" : mark == Mark::utf16 ? "\xFF\xFE" : "";
}

std::string Local(const std::string& utf8) {
    std::string local;
    EXPECT_TRUE(platform::Utf8ToLocal(utf8, local)) << utf8;
    return local;
}

std::string Utf16(const std::string& utf8) {
    std::string bytes;
    const auto unit = [&bytes](uint32_t value) {
        bytes += char(value & 0xFF);
        bytes += char(value >> 8);
    };
    for (size_t i = 0; i < utf8.size();) {
        const auto lead = uint8_t(utf8[i]);
        const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        uint32_t code = length == 1 ? lead : lead & (0xFFu >> (length + 1));
        for (size_t k = 1; k < length; ++k) code = code << 6 | (uint8_t(utf8[i + k]) & 0x3Fu);
        i += length;
        if (code < 0x10000) {
            unit(code);
        } else {
            unit(0xD800 + ((code - 0x10000) >> 10));
            unit(0xDC00 + (code & 0x3FF));
        }
    }
    return bytes;
}

// UTF-8 text as a file of that encoding stores it, without the mark.
std::string Body(Mark mark, const std::string& utf8) {
    return mark == Mark::utf16 ? Utf16(utf8) : mark == Mark::utf8 ? utf8 : Local(utf8);
}

class ProfileEncodingTest : public ProfileTest,
                            public ::testing::WithParamInterface<std::tuple<Mark, const char*>> {};

TEST_P(ProfileEncodingTest, ReadsReplacesAndAppendsKeepingEncodingMarkAndLineEnds) {
    const auto [mark, end] = GetParam();
    const auto lines = [end](std::initializer_list<const char*> texts) {
        std::string joined;
        for (const char* text : texts) joined += std::string(text) + end;
        return joined;
    };
    // A comment that is no valid text in its encoding (an unpaired surrogate, a byte that is no
    // UTF-8) is kept byte for byte through every rewrite.
    const std::string odd =
        (mark == Mark::utf16 ? std::string(";\0\0\xD8", 4) : ";\xFF\xFE") + Body(mark, end);
    WriteFile(ini, MarkBytes(mark) + odd +
                       Body(mark, lines({"[Mission]", "Installed=1", "FCount=1",
                                         "F1=snd\\Grüße.wav:0", "[Other]", "x = é"})));
    EXPECT_EQ(GetProfileString(ini, "mission", "Installed", ""), "1");
    EXPECT_EQ(GetProfileString(ini, "Mission", "F1", ""), Local("snd\\Grüße.wav:0"));

    ASSERT_TRUE(WriteProfileString(ini, "Mission", "Installed", "0"));  // the same length
    ASSERT_TRUE(WriteProfileString(ini, "Mission", "F2", Local("Ètude.txt:1")));
    ASSERT_TRUE(WriteProfileString(ini, "Mission", "FCount", "2"));
    ASSERT_TRUE(WriteProfileString(ini, "Other", "y", Local("Œuvre")));  // appended at the end
    ASSERT_TRUE(WriteProfileString(ini, "New", "k", "v"));
    ASSERT_TRUE(WriteProfileString(ini, "Mission", "F1", Local("snd\\Grüße.wav:10")));
    std::string newSection = lines({"[New]", "k=v"});
    // Characters beyond the 16-bit plane (surrogate pairs in UTF-16), where local text holds them.
    std::string wide;
    if (platform::Utf8ToLocal("Ω😀", wide)) {
        ASSERT_TRUE(WriteProfileString(ini, "New", "k2", wide));
        newSection += lines({"k2=Ω😀"});
    } else {
        wide.clear();
    }
    std::string ignored;
    if (mark != Mark::none && !platform::LocalToUtf8("\xFF", ignored)) {
        EXPECT_FALSE(WriteProfileString(ini, "New", "bad", "\xFF"));  // no text to convert
    }

    const std::string expected =
        MarkBytes(mark) + odd +
        Body(mark, lines({"[Mission]", "Installed=0", "FCount=2", "F1=snd\\Grüße.wav:10",
                          "F2=Ètude.txt:1", "[Other]", "x = é", "y=Œuvre"}) +
                       newSection);
    EXPECT_EQ(ReadFile(ini), expected);
    const std::string copy = folder.Join("Copy.Ini");  // read afresh, not from this run's model
    WriteFile(copy, expected);
    for (const std::string& path : {ini, copy}) {
        EXPECT_EQ(GetProfileString(path, "Mission", "Installed", ""), "0");
        EXPECT_EQ(GetProfileString(path, "Mission", "F2", ""), Local("Ètude.txt:1"));
        EXPECT_EQ(GetProfileString(path, "Mission", "FCount", ""), "2");
        EXPECT_EQ(GetProfileString(path, "Mission", "F1", ""), Local("snd\\Grüße.wav:10"));
        EXPECT_EQ(GetProfileString(path, "Other", "X", ""), Local("é"));
        EXPECT_EQ(GetProfileString(path, "Other", "y", ""), Local("Œuvre"));
        EXPECT_EQ(GetProfileString(path, "New", "k2", ""), wide);
        EXPECT_EQ(GetProfileString(path, "New", "bad", "none"), "none");
    }
}

INSTANTIATE_TEST_SUITE_P(EncodingsAndLineEnds, ProfileEncodingTest,
                         ::testing::Combine(::testing::Values(Mark::none, Mark::utf8, Mark::utf16),
                                            ::testing::Values("\n", "\r\n", "\r")));

TEST_F(ProfileTest, WriteProfileString_FillsFileHoldingOnlyAMarkInItsEncoding) {
    for (const Mark mark : {Mark::utf8, Mark::utf16}) {
        WriteFile(ini, MarkBytes(mark));
        ASSERT_TRUE(WriteProfileString(ini, "Mission", "Installed", "0"));
        EXPECT_EQ(ReadFile(ini), MarkBytes(mark) + Body(mark, "[Mission]\r\nInstalled=0\r\n"));
    }
}

// Found by fuzzing: a file of an odd length that starts with the UTF-16 mark is neither UTF-16
// nor plain text a write could keep (a line appended made its length even and its text UTF-16,
// and the record written was never read back): it is refused, and left as it is.
TEST_F(ProfileTest, WriteProfileString_OddLengthFileWithAUtf16MarkIsRefused) {
    WriteFile(ini, std::string("\xFF"
                               "\xFE"
                               "ission]\r\nInstalled=1\r\nFCount=3\r\nF1=maps\\diary.str:0\r\nF2="
                               "maps^miss20.mis:0\r\nF3=stun\xFF"
                               "\xFF"
                               "~\xFD"
                               "[\x8C"
                               "\x89"
                               "\xF0"
                               "maps\\diary.tr:1\r\n"));  // 109 bytes, as the fuzzer found it
    const std::string original = ReadFile(ini);
    EXPECT_EQ(platform::CheckProfile(ini, "Mission"), platform::ProfileState::unreadable);
    EXPECT_FALSE(WriteProfileString(ini, "Mission", "FCount", "17"));
    EXPECT_EQ(ReadFile(ini), original);
}

TEST_F(ProfileTest, GetProfileString_ReadsWindows1252ValueOfEarlierVersionsAsLocalText) {
    const std::string letter = Local("È");
    if (letter != "\xC8" && letter != "È")
        GTEST_SKIP() << "the local code page is neither UTF-8 nor Windows-1252";
    WriteFile(ini, "[Mission]\r\nF1=\xC8tude.txt:0\r\nF2=" + letter + "cole.txt:0\r\n");
    EXPECT_EQ(GetProfileString(ini, "Mission", "F1", ""), letter + "tude.txt:0");
    EXPECT_EQ(GetProfileString(ini, "Mission", "F2", ""), letter + "cole.txt:0");
}

constexpr size_t kLimit = size_t(16) << 20;  // the largest file read

// What a case puts at the state file's path: nothing, a folder, or a file of head, then blank
// lines, then tail.
enum class Put { nothing, folder, file };

struct StateCase {
    const char* name;
    Put put;
    std::string head;
    ProfileState state;     // what the check says for [Mission]
    const char* installed;  // what Installed reads ("d", the default, when unseen)
    bool writable;          // a write succeeds (else fails and leaves the file as it was)
    size_t blankLines = 0;
    std::string tail = "";
};

void PrintTo(const StateCase& state, std::ostream* out) {
    *out << state.name;
}

class ProfileCheckTest : public ProfileTest, public ::testing::WithParamInterface<StateCase> {};

TEST_P(ProfileCheckTest, TellsMissingReadableUnreadableAndNeverWritesOverWhatItCannotRead) {
    const StateCase& state = GetParam();
    std::string content;
    if (state.put == Put::folder) {
        ASSERT_TRUE(platform::CreateFolder(ini));
    }
    if (state.put == Put::file) {
        content = state.head + std::string(state.blankLines, '\n') + state.tail;
        WriteFile(ini, content);
    }
    for (int pass = 0; pass < 2; ++pass) {  // the second from the cached model
        EXPECT_EQ(CheckProfile(ini, "Mission"), state.state);
        EXPECT_EQ(CheckProfile(ini, "MISSION"), state.state);
        EXPECT_EQ(GetProfileString(ini, "Mission", "Installed", "d"), state.installed);
    }

    EXPECT_EQ(WriteProfileString(ini, "Mission", "Installed", "2"), state.writable);
    if (state.writable) {
        EXPECT_EQ(CheckProfile(ini, "Mission"), ProfileState::readable);
        EXPECT_EQ(GetProfileString(ini, "Mission", "Installed", ""), "2");
    } else if (state.put == Put::folder) {
        EXPECT_TRUE(platform::RemoveFolder(ini));  // still an empty folder
    } else {
        EXPECT_TRUE(ReadFile(ini) == content) << "a file it could not read was changed";
    }

    WriteFile(ini, "[Mission]\r\nInstalled=30\r\n");  // mended: never stuck on what it saw
    EXPECT_EQ(CheckProfile(ini, "Mission"), ProfileState::readable);
    EXPECT_EQ(GetProfileString(ini, "Mission", "Installed", ""), "30");
}

const std::string kUtf16Good = "\xFF\xFE" + Utf16("[Mission]\r\nInstalled=1\r\n");
const std::string kUtf16Nul =
    "\xFF\xFE" + Utf16("[Mission]\r\n") + std::string(2, '\0') + Utf16("Installed=1\r\n");

INSTANTIATE_TEST_SUITE_P(
    StateFiles, ProfileCheckTest,
    ::testing::Values(
        StateCase{"Missing", Put::nothing, "", ProfileState::missing, "d", true},
        StateCase{"Empty", Put::file, "", ProfileState::readable, "d", true},
        StateCase{"MarkAndBlanksOnly", Put::file, "\xEF\xBB\xBF \t\r\n", ProfileState::readable,
                  "d", true, 3},
        StateCase{"Good", Put::file, "[Mission]\r\nInstalled=1\r\n", ProfileState::readable, "1",
                  true},
        StateCase{"Folder", Put::folder, "", ProfileState::unreadable, "d", false},
        StateCase{"NulByte", Put::file, std::string("[Mission]\r\n\0Installed=1\r\n", 25),
                  ProfileState::unreadable, "d", false},
        StateCase{"Utf16NulUnit", Put::file, kUtf16Nul, ProfileState::unreadable, "d", false},
        // Without the section the file is no state file; a write still adds the section.
        StateCase{"NoSection", Put::file, "Installed=1\r\n", ProfileState::unreadable, "d", true},
        StateCase{"OtherSectionOnly", Put::file, "[Other]\r\nInstalled=1\r\n",
                  ProfileState::unreadable, "d", true},
        StateCase{"TooLarge", Put::file, "[Mission]\r\nInstalled=1\r\n", ProfileState::unreadable,
                  "d", false, kLimit},
        StateCase{"BlankLinesUpToTheLimit", Put::file, "[Mission]\n", ProfileState::readable, "1",
                  true, kLimit - 32, "Installed=1\n"},
        StateCase{"Utf16WithMark", Put::file, kUtf16Good, ProfileState::readable, "1", true},
        StateCase{"CrOnlyLineEnds", Put::file, "[Other]\rInstalled=0\r[Mission]\rInstalled=1\r",
                  ProfileState::readable, "1", true}),
    [](const ::testing::TestParamInfo<StateCase>& info) { return std::string(info.param.name); });

TEST_F(ProfileTest, WriteProfileString_NeverGrowsFileBeyondTheLimitNorWritesANul) {
    const std::string content = "[Mission]\n" + std::string(kLimit - 20, '\n') + "F1=a\n";
    WriteFile(ini, content);
    EXPECT_FALSE(WriteProfileString(ini, "Mission", "F2", std::string(20, 'b')));
    EXPECT_FALSE(WriteProfileString(ini, "Mission", "F1", std::string(20, 'a')));
    EXPECT_TRUE(WriteProfileString(ini, "Mission", "F1", "c"));
    EXPECT_FALSE(WriteProfileString(ini, "Mission", "F1", std::string("d\0", 2)));
    EXPECT_TRUE(ReadFile(ini) == content.substr(0, content.size() - 2) + "c\n");
    EXPECT_EQ(CheckProfile(ini, "Mission"), ProfileState::readable);
}

// Another program holding the file open for writing: Windows refuses a reader that denies
// writes, Linux lets it read. Either way the check agrees with what opening the file gives.
TEST_F(ProfileTest, CheckProfile_FileHeldOpenByAWriterIsUnreadableWhereItCannotBeOpened) {
    const std::string content = "[Mission]\r\nInstalled=1\r\n";
    WriteFile(ini, content);
    CFile writer;
    ASSERT_TRUE(writer.Open(ini, CFile::modeWrite | CFile::modeCreate | CFile::modeNoTruncate));
    CFile reader;
    const bool opens = reader.Open(ini, CFile::modeRead | CFile::shareDenyWrite);
    reader.Abort();
    EXPECT_EQ(CheckProfile(ini, "Mission"),
              opens ? ProfileState::readable : ProfileState::unreadable);
    EXPECT_EQ(GetProfileString(ini, "Mission", "Installed", "d"), opens ? "1" : "d");
    if (!opens) {
        EXPECT_FALSE(WriteProfileString(ini, "Mission", "Installed", "2"));
    }
    writer.Abort();
    EXPECT_EQ(ReadFile(ini), content);
}

}  // namespace

// Whatever layout a file has, a section written anew stands last with its kept lines and the
// values set, the rest of the file is kept, and the next new key of the section lands at the
// file's very end (where the cheap append applies).
struct SectionLayout {
    const char* name;
    std::string before;
    std::string after;
};

class ProfileSectionTest : public ProfileTest,
                           public ::testing::WithParamInterface<SectionLayout> {};

TEST_P(ProfileSectionTest, WriteProfileSection_MovesSectionLastDropsRefusedKeysKeepsTheRest) {
    const SectionLayout& layout = GetParam();
    WriteFile(ini, layout.before);
    const auto keep = [](std::string_view key) {
        return key.size() < 2 || key[0] != 'F' || key[1] < '0' || key[1] > '9';
    };
    ASSERT_TRUE(platform::WriteProfileSection(ini, "Mission", keep, {{"FCount", "0"}}));
    ASSERT_TRUE(WriteProfileString(ini, "Mission", "F1", "a:0"));
    EXPECT_EQ(ReadFile(ini), layout.after);
    EXPECT_EQ(GetProfileString(ini, "Mission", "F2", "none"), "none");
    EXPECT_FALSE(test_support::Exists(ini + ".new"));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ProfileSectionTest,
    ::testing::Values(
        SectionLayout{"missing", "", "[Mission]\r\nFCount=0\r\nF1=a:0\r\n"},
        SectionLayout{
            "blankLinesAfter",
            "[Mission]\r\nInstalled=0\r\nFCount=2\r\nF1=long\\name:1\r\nF2=b:0\r\n\r\n\r\n",
            "[Mission]\r\nInstalled=0\r\nFCount=0\r\nF1=a:0\r\n"},
        SectionLayout{"keysInOtherOrderAndComments",
                      "[Mission]\nF2=b:0\n; kept\nFCount=2\n\nInstalled=1\nF1=c:0\n",
                      "[Mission]\n; kept\nFCount=0\n\nInstalled=1\nF1=a:0\n"},
        SectionLayout{"otherSectionsAround",
                      "top=1\r\n[A]\r\nx=1\r\n[Mission]\r\nInstalled=0\r\nF1=z:0\r\n[B]\r\ny=2",
                      "top=1\r\n[A]\r\nx=1\r\n[B]\r\ny=2\r\n[Mission]\r\nInstalled=0\r\n"
                      "FCount=0\r\nF1=a:0\r\n"},
        SectionLayout{"repeatedHeaderStaysInPlace",
                      "[Mission]\r\nF1=z:0\r\n[Mission]\r\nFCount=9\r\n",
                      "[Mission]\r\nFCount=0\r\nF1=a:0\r\n[Mission]\r\nFCount=9\r\n"}),
    [](const ::testing::TestParamInfo<SectionLayout>& info) { return info.param.name; });

// End-to-end tests of what real packers write and of files too large for the records: ZIP64
// archives and split sets made by Info-ZIP, Python and 7-Zip install and deinstall exactly; a game
// file of more than 4 GiB is kept, never saved modulo 4 GiB.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "interop/zip_tools.h"
#include "platform/file_system.h"
#include "tests/e2e/mission_fixture.h"

using mission_test::ExpectDeinstallRestores;
using mission_test::GameFolder;
using mission_test::HasLine;
using mission_test::Snapshot;
using mission_test::TakeSnapshot;
using zip_tools::Quoted;

namespace {

// A mission made by a host tool: the command (run in the source folder; ARCHIVE stands for the
// archive's path) and what the install must put in the game folder.
struct Maker {
    const char* what;
    const char* command;
    bool wholeTree;          // the source tree; otherwise the one file "-" or "diary.str"
    const char* singleName;  // the single file's name
};

const Maker makers[] = {
    {"zip -fz", "zip -q -r -fz ARCHIVE .", true, ""},
    {"zip from and to a pipe", "cat maps/diary.str | zip -q - - | cat > ARCHIVE", false, "-"},
    {"zip from a pipe", "cat maps/diary.str | zip -q - - > ARCHIVE", false, "-"},
    {"zip -fz from a pipe", "cat maps/diary.str | zip -q -fz ARCHIVE -", false, "-"},
    {"zip split", "zip -q -r -s 64k ARCHIVE .", true, ""},
    {"zip split -fz", "zip -q -r -fz -s 64k ARCHIVE .", true, ""},
    {"python force_zip64", "PYTHON make64.py ARCHIVE seek", true, ""},
    {"python force_zip64 streamed", "PYTHON make64.py ARCHIVE stream", true, ""},
    {"7-Zip from a pipe", "cat maps/diary.str | 7ZIP a -bd -tzip -sidiary.str ARCHIVE > /dev/null",
     false, "diary.str"},
};

// Writes every file below the current folder with force_zip64; "stream" through an object that
// cannot seek, so that each entry gets a data descriptor.
const std::string makeScript =
    std::string(zip_tools::pythonArchiveWriter) +
    "        for folder, _, files in sorted(os.walk('.')):\n"
    "            for name in sorted(files):\n"
    "                if name == 'make64.py': continue\n"
    "                path = os.path.join(folder, name)[2:]\n"
    "                with open(path, 'rb') as f, z.open(path, 'w', force_zip64=True) as e:\n"
    "                    e.write(f.read())\n";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

}  // namespace

TEST(Zip64E2E, ArchivesOfOtherPackersInstallAndDeinstallExactly) {
    if (!zip_tools::HaveZip() || !zip_tools::HavePython())
        GTEST_SKIP() << "Info-ZIP and Python cannot be run from here";
    // Files of the mission: the game's goals replaced, a large file that does not deflate, so
    // that a split set has three volumes.
    const std::map<std::string, std::string> tree = {
        {"strings\\goals.str", "mission goals\n"},
        {"maps\\diary.str", mission_test::TextBytes(3000, 1)},
        {"maps\\miss20.mis", mission_test::NoiseBytes(150000, 2)},
    };
    for (const Maker& maker : makers) {
        SCOPED_TRACE(maker.what);
        const std::string command = maker.command;
        if (command.find("7ZIP") != std::string::npos && !zip_tools::Have7z())
            continue;
        GameFolder game;
        game.Put("strings\\goals.str", "original goals");
        game.Put("maps\\diary.str", "the game's own diary");
        const Snapshot before = TakeSnapshot(game);

        const std::string source = game.WorkPath("source");
        ASSERT_TRUE(platform::CreateFolder(source));
        ASSERT_TRUE(platform::CreateFolder(source + "\\strings"));
        ASSERT_TRUE(platform::CreateFolder(source + "\\maps"));
        for (const auto& [name, content] : tree)
            test_support::WriteFile(source + "\\" + name, content);
        test_support::WriteFile(source + "\\make64.py", makeScript);
        // Beside the source folder, so that the volumes of a split set are not packed into it.
        const std::string archive = game.WorkPath("mission.zip");
        std::string line = Replace(command, "ARCHIVE", Quoted(archive));
        line = Replace(line, "PYTHON", zip_tools::Python());
        line = Replace(line, "7ZIP", zip_tools::SevenZip());
        ASSERT_EQ(zip_tools::Run(line, nullptr, source), 0) << line;
        std::remove(platform::ToHostPath(source + "\\make64.py").c_str());
        if (command.find("-s 64k") != std::string::npos) {
            EXPECT_NE(platform::GetAttributes(game.WorkPath("mission.z02")),
                      platform::invalidAttributes);
        }

        const test_support::ProgramResult install = game.Run({archive, "-a"});
        EXPECT_EQ(install.exitCode, 3) << install.output;
        if (maker.wholeTree) {
            for (const auto& [name, content] : tree) EXPECT_EQ(game.Read(name), content) << name;
        } else {
            EXPECT_EQ(game.Read(maker.singleName), tree.at("maps\\diary.str"));
        }
        ExpectDeinstallRestores(game, before);
    }
}

// A game file of 4 GiB and more cannot be saved in the backup archive's 32-bit records: the
// install keeps it untouched and says why, the other files go on, and the deinstall leaves it
// as it was. The file is sparse: it takes no disk space.
TEST(Zip64E2E, GameFileOfMoreThan4GiBIsKeptAndLeftAsItWas) {
    GameFolder game;
    game.Put("strings\\goals.str", "original goals");
    game.Put("maps\\huge.mis", "");
    const std::string hugeHost = platform::ToHostPath(game.Join("maps\\huge.mis"));
    const uint64_t hugeSize = (uint64_t{4} << 30) + 100;
    std::error_code error;
    std::filesystem::resize_file(std::filesystem::u8path(hugeHost), hugeSize, error);
    if (error)
        GTEST_SKIP() << "cannot make a sparse file of 4 GiB here: " << error.message();
    {
        std::fstream file(std::filesystem::u8path(hugeHost),
                          std::ios::in | std::ios::out | std::ios::binary);
        file.write("HEAD", 4);
        file.seekp(static_cast<std::streamoff>(hugeSize - 4));
        file.write("TAIL", 4);
    }
    const auto ends = [&] {
        std::ifstream file(std::filesystem::u8path(hugeHost), std::ios::binary);
        std::string head(4, '\0'), tail(4, '\0');
        file.read(head.data(), 4);
        file.seekg(static_cast<std::streamoff>(hugeSize - 4));
        file.read(tail.data(), 4);
        return head + tail;
    };
    ASSERT_EQ(ends(), "HEADTAIL");
    const std::string archive = mission_test::WriteMission(
        game.WorkPath("mission.zip"),
        {{"maps\\huge.mis", "the mission's map"}, {"strings\\goals.str", "mission goals"}});

    const test_support::ProgramResult install = game.Run({archive, "-a"});
    EXPECT_EQ(install.exitCode, 3) << install.output;
    EXPECT_NE(install.output.find("Processing file 'maps\\huge.mis' (17 bytes): "),
              std::string::npos)
        << install.output;
    EXPECT_NE(install.output.find("SKIPPED (backup failed, game file left unchanged)"),
              std::string::npos)
        << install.output;
    EXPECT_NE(install.output.find("Error FileException"), std::string::npos) << install.output;
    EXPECT_EQ(std::filesystem::file_size(std::filesystem::u8path(hugeHost)), hugeSize);
    EXPECT_EQ(ends(), "HEADTAIL");
    EXPECT_EQ(game.Read("strings\\goals.str"), "mission goals");

    const test_support::ProgramResult deinstall = game.Run({"-d", "-a"});
    EXPECT_EQ(deinstall.exitCode, 1) << deinstall.output;
    EXPECT_EQ(game.Read("strings\\goals.str"), "original goals");
    EXPECT_EQ(std::filesystem::file_size(std::filesystem::u8path(hugeHost)), hugeSize);
    EXPECT_EQ(ends(), "HEADTAIL");
    std::filesystem::remove(std::filesystem::u8path(hugeHost));
}

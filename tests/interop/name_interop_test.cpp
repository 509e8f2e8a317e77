// Interoperability of the backup archive's names: game files with accented names, replaced by a
// mission, are listed by Info-ZIP's unzip and zipinfo and by Python's zipfile as they are spelled
// on disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "interop/zip_tools.h"
#include "platform/code_page.h"
#include "tests/e2e/mission_fixture.h"
#include "tests/zip/archive_bytes.h"

namespace {

// Every line of output, as a set.
std::set<std::string> LineSet(const std::string& output) {
    const std::vector<std::string> lines = mission_test::Lines(output);
    return {lines.begin(), lines.end()};
}

bool HasLineEndingWith(const std::string& output, const std::string& end) {
    for (const std::string& line : mission_test::Lines(output)) {
        if (line.size() >= end.size() &&
            line.compare(line.size() - end.size(), end.size(), end) == 0)
            return true;
    }
    return false;
}

// Prints "name<TAB>content" for every entry, in UTF-8 whatever the locale.
const char* const namesScript =
    "import sys, zipfile\n"
    "z = zipfile.ZipFile(sys.argv[1])\n"
    "for i in z.infolist():\n"
    "    text = i.filename + '\\t' + z.read(i).decode('utf-8', 'replace') + '\\n'\n"
    "    sys.stdout.buffer.write(text.encode('utf-8'))\n";

}  // namespace

TEST(NameInterop, BackupOfAccentedGameFiles_ListsTheirNamesInUnzipZipinfoAndPython) {
    if (!zip_tools::HaveZip() || !zip_tools::HavePython())
        GTEST_SKIP() << "Info-ZIP or python3 cannot be run from here";
    // On disk (UTF-8, '/') and as the mission spells them; the first three need UTF-8 in the
    // backup, code page 437 holds the others.
    const std::vector<std::pair<std::string, std::string>> names = {
        {"Ètude.txt", "ÈTUDE.TXT"},
        {"sons/Øre €.wav", "SONS/øre €.WAV"},
        {"Škoda/Grüße.txt", "škoda/grüße.txt"},
        {"Grüße.txt", "GRÜßE.txt"},
        {"plain.txt", "Plain.TXT"}};
    mission_test::GameFolder game;
    std::vector<archive_bytes::Entry> mission;
    for (const auto& [onDisk, inMission] : names) {
        std::string local;
        ASSERT_TRUE(platform::Utf8ToLocal(onDisk, local)) << onDisk;
        std::replace(local.begin(), local.end(), '/', '\\');
        game.Put(local, "game " + onDisk);
        archive_bytes::Entry entry{inMission, "mission " + onDisk};
        entry.flag = archive_bytes::flagUtf8;
        mission.push_back(entry);
    }
    const std::string archive = game.WorkPath("mission.zip");
    test_support::WriteFile(archive, archive_bytes::Build(mission).bytes);
    const test_support::ProgramResult install = game.Run({archive, "-a"});
    ASSERT_EQ(install.exitCode, 3) << install.output;
    const std::string backup = zip_tools::Quoted(game.Companion(".Zip"));

    // Info-ZIP prints names as the archive's bytes where the UTF-8 flag is not set; only the
    // UTF-8 names (and plain ASCII ones) read the same in a UTF-8 terminal.
    std::string unzipList, zipinfoList;
    ASSERT_EQ(zip_tools::Run("LC_ALL=C.UTF-8 unzip -l " + backup, &unzipList), 0) << unzipList;
    ASSERT_EQ(zip_tools::Run("LC_ALL=C.UTF-8 zipinfo -1 " + backup, &zipinfoList), 0)
        << zipinfoList;
    for (const auto& [onDisk, inMission] : names) {
        std::string oem;
        if (archive_bytes::Utf8ToCp437(onDisk, oem) && oem != onDisk)
            continue;
        EXPECT_TRUE(HasLineEndingWith(unzipList, "   " + onDisk)) << onDisk << "\n" << unzipList;
        EXPECT_EQ(LineSet(zipinfoList).count(onDisk), 1u) << onDisk << "\n" << zipinfoList;
    }

    test_support::TempFolder scripts;
    test_support::WriteFile(scripts.Join("names.py"), namesScript);
    std::string pythonList;
    ASSERT_EQ(zip_tools::Run(zip_tools::Python() + " " +
                                 zip_tools::Quoted(scripts.Join("names.py")) + " " + backup,
                             &pythonList),
              0)
        << pythonList;
    std::set<std::string> expected;
    for (const auto& [onDisk, inMission] : names) expected.insert(onDisk + "\tgame " + onDisk);
    EXPECT_EQ(LineSet(pythonList), expected) << pythonList;
}

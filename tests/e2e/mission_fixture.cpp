// Shared pieces of the install and deinstall end-to-end tests.
#include "tests/e2e/mission_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <sstream>

#include "platform/file.h"
#include "platform/file_system.h"
#include "zip/entry_header.h"
#include "zip/path_helpers.h"

namespace mission_test {

namespace {

std::string FileNameOf(const std::string& path) {
    const size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string BaseOf(const std::string& fileName) {
    const size_t dot = fileName.rfind('.');
    return dot == std::string::npos ? fileName : fileName.substr(0, dot);
}

// Files named in `skipped` (at the top only) are listed without being read: the program is
// megabytes and would be read only to be left out.
void Walk(const std::string& folder, const std::string& prefix, Snapshot& snapshot,
          const std::set<std::string>& skipped = {}) {
    std::vector<platform::FindData> items;
    platform::FileFinder finder;
    for (bool found = finder.FindFirst(folder + "\\*.*"); found; found = finder.FindNext()) {
        if (finder.Current().name != "." && finder.Current().name != "..") {
            items.push_back(finder.Current());
        }
    }
    finder.Close();
    for (const platform::FindData& item : items) {
        const std::string name = prefix + item.name;
        const std::string path = folder + "\\" + item.name;
        if ((item.attributes & platform::attributeFolder) != 0) {
            snapshot[name] = "<folder>";
            Walk(path, name + "\\", snapshot);
        } else if (skipped.count(name) != 0) {
            snapshot[name] = "";
        } else {
            snapshot[name] = test_support::ReadFile(path);
        }
    }
}

// A fixed time, so that archives made by the tests do not depend on the clock.
constexpr std::time_t entryTime = 1700000000;

}  // namespace

const char* const installFailedLines =
    "Mission Install FAILED. This may happen because of hanged Thief Game";
const char* const deinstallFailedLines =
    "Mission Deinstall FAILED. This may happen because of hanged Thief Game";

GameFolder::GameFolder(const std::string& programName) {
    game = work.Join("game");
    platform::CreateFolder(game);
    program = test_support::CopyProgramTo(game, programName);
}

std::string GameFolder::Companion(const std::string& extension) const {
    const size_t dot = program.rfind('.');
    const size_t slash = program.rfind('\\');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExtension ? program.substr(0, dot) : program) + extension;
}

void GameFolder::Put(const std::string& relative, const std::string& content) const {
    const std::string path = Join(relative);
    CreatePathFolders(GetPathFolder(path));
    test_support::WriteFile(path, content);
}

std::string GameFolder::Read(const std::string& relative) const {
    return test_support::ReadFile(Join(relative));
}

bool GameFolder::Has(const std::string& relative) const {
    return test_support::Exists(Join(relative));
}

test_support::ProgramResult GameFolder::Run(const std::vector<std::string>& args) const {
    return test_support::RunProgramIn(program, args, game);
}

test_support::ProgramResult GameFolder::RunFrom(const std::string& folder,
                                                const std::vector<std::string>& args) const {
    return test_support::RunProgramIn(program, args, folder);
}

std::string GameFolder::StateFile() const {
    std::string text = test_support::ReadFile(Companion(".Ini"));
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

Snapshot TakeSnapshot(const GameFolder& game, const std::vector<std::string>& programs) {
    std::vector<std::string> left = {FileNameOf(game.Program())};
    for (const std::string& program : programs) {
        left.push_back(FileNameOf(program));
    }
    Snapshot snapshot;
    Walk(game.Path(), "", snapshot, std::set<std::string>(left.begin(), left.end()));
    for (const std::string& fileName : left) {
        snapshot.erase(fileName);
        for (const char* extension : {".Ini", ".Zip", ".Taff"}) {
            snapshot.erase(BaseOf(fileName) + extension);
        }
    }
    return snapshot;
}

void ExpectDeinstallRestores(const GameFolder& game, const Snapshot& before) {
    const test_support::ProgramResult result = game.Run({"-d", "-a"});
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_TRUE(HasLine(result.output, "Deinstalled successfuly.")) << result.output;
    EXPECT_EQ(TakeSnapshot(game), before);
}

MissionArchive::MissionArchive(const std::string& path) {
    zip.Open(path, CZipHandler::create, 0);
}

MissionArchive::~MissionArchive() {
    if (!zip.IsClosed(true)) {
        zip.Close(true);
    }
}

void MissionArchive::File(const std::string& name, const std::string& content, int level) {
    CZipEntryHeader header;
    header.SetFileName(name);
    header.SetTime(entryTime);
    ASSERT_TRUE(zip.OpenNewEntry(header, level, nullptr)) << name;
    if (!content.empty()) {
        ASSERT_TRUE(zip.WriteNewEntry(content.data(), static_cast<uint32_t>(content.size())));
    }
    ASSERT_TRUE(zip.CloseNewEntry());
}

void MissionArchive::Folder(const std::string& name) {
    CZipEntryHeader header;
    header.SetFileName(name);
    header.SetTime(entryTime);
    header.externalAttributes = 0x10;
    ASSERT_TRUE(zip.OpenNewEntry(header, 0, nullptr)) << name;
    ASSERT_TRUE(zip.CloseNewEntry());
}

void MissionArchive::Close() {
    zip.Close(false);
}

std::string WriteMission(const std::string& path,
                         const std::vector<std::pair<std::string, std::string>>& files) {
    MissionArchive mission(path);
    for (const auto& [name, content] : files) {
        mission.File(name, content);
    }
    mission.Close();
    return path;
}

std::map<std::string, std::string> ReadArchive(const std::string& path) {
    std::map<std::string, std::string> entries;
    CZipHandler zip;
    zip.Open(path, CZipHandler::openReadOnly, 0);
    for (int i = 0; i < zip.GetEntryCount(); ++i) {
        const auto index = static_cast<uint16_t>(i);
        CZipEntryHeader header;
        zip.GetEntryInfo(header, index);
        if (zip.IsEntryDirectory(index)) {
            entries[header.GetFileName()] = "<folder>";
            continue;
        }
        std::string content;
        EXPECT_TRUE(zip.OpenEntry(index)) << header.GetFileName();
        char block[65536];
        while (const uint32_t count = zip.ReadEntry(block, sizeof block)) {
            content.append(block, count);
        }
        EXPECT_EQ(zip.CloseEntry(nullptr), CZipHandler::CloseResult::whole) << header.GetFileName();
        entries[header.GetFileName()] = content;
    }
    zip.Close(false);
    return entries;
}

std::string TextBytes(size_t size, unsigned seed) {
    static const char* const words[] = {"garrett ", "hammer ", "keeper ", "loot ",
                                        "guard ",   "torch ",  "water ",  "arrow\r\n"};
    std::mt19937 random(seed);
    std::string text;
    while (text.size() < size) {
        text += words[random() % 8];
    }
    text.resize(size);
    return text;
}

std::string NoiseBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random() & 0xFF);
    }
    return bytes;
}

void DamageFileAt(const std::string& path, const std::string& marker) {
    std::string bytes = test_support::ReadFile(path);
    const size_t at = bytes.find(marker);
    ASSERT_NE(at, std::string::npos) << marker;
    bytes[at + marker.size() / 2] ^= 0x5A;
    test_support::WriteFile(path, bytes);
}

test_support::ProgramResult RunHostTool(const std::string& hostTool,
                                        const std::vector<std::string>& args) {
    test_support::TempFolder scratch;
    return test_support::RunProgram(platform::FromHostPath(hostTool), args, scratch.Path());
}

std::string BaseName(const std::string& path) {
    return BaseOf(FileNameOf(path));
}

std::vector<std::string> Lines(const std::string& output) {
    std::vector<std::string> lines;
    std::istringstream stream(output);
    std::string line;
    while (std::getline(stream, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

bool HasLine(const std::string& output, const std::string& line) {
    const std::vector<std::string> lines = Lines(output);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

}  // namespace mission_test

// Fuzz target: install any bytes as a mission into a small game folder, then deinstall it. Every
// game file must come back as it was, whatever the archive holds: a difference aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include "app/deinstall.h"
#include "app/install.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/system.h"

namespace {

// Names that mutated seeds (zip, Python, the engine: "a.txt", "books\\...") are likely to hit.
const std::map<std::string, std::string> kGameFiles = {
    {"a.txt", "the game's a"},
    {"readme.txt", "the game's readme"},
    {"books\\english\\book.str", "a book"},
    {"strings\\english\\names.str", "names"},
    {"dark.cfg", "config"},
};

std::string game;

void WriteWhole(const std::string& path, const void* data, size_t size) {
    CFile file;
    if (!file.Open(path, CFile::modeCreate | CFile::modeWrite))
        std::abort();
    file.Write(data, static_cast<uint32_t>(size));
    file.Close();
}

std::string ReadWhole(const std::string& path) {
    CFile file;
    if (!file.Open(path, CFile::modeRead))
        return "<missing>";
    std::string bytes(static_cast<size_t>(file.GetLength()), '\0');
    if (!bytes.empty() &&
        file.Read(bytes.data(), static_cast<uint32_t>(bytes.size())) != bytes.size())
        return "<short>";
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    game = platform::FromHostPath("/tmp/brennick-fuzz-install-" +
                                  std::to_string(platform::GetTickCountMs()));
    platform::CreateFolder(game);
    std::string program = platform::ToHostPath(game + "\\Brennick");
    char* argv[] = {program.data(), nullptr};
    platform::InitApplication(1, argv);
    for (const char* folder : {"\\books", "\\books\\english", "\\strings", "\\strings\\english"})
        platform::CreateFolder(game + folder);
    for (const auto& [name, content] : kGameFiles)
        WriteWhole(game + "\\" + name, content.data(), content.size());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string mission = game + "-mission.zip";
    WriteWhole(mission, data, size);
    for (const char* own : {"\\Brennick.Ini", "\\Brennick.Zip", "\\Brennick.Taff"})
        platform::RemoveFile(game + own);
    if (InstallMission(mission, false) && !DeinstallMission("", false))
        std::abort();  // an install that ran must be undone
    for (const auto& [name, content] : kGameFiles)
        if (ReadWhole(game + "\\" + name) != content)
            std::abort();
    return 0;
}

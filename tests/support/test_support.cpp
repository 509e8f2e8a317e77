// Helpers shared by the tests: temporary folders, file contents, running the built program.
#include "tests/support/test_support.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <thread>

#include "platform/code_page.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/system.h"

namespace test_support {

namespace {

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string SystemTempFolder() {
    std::string host = std::filesystem::temp_directory_path().string();
    while (host.size() > 1 && (host.back() == '/' || host.back() == '\\')) host.pop_back();
    return platform::FromHostPath(host);
}

}  // namespace

std::string Local(const std::string& utf8) {
    std::string local;
    return platform::Utf8ToLocal(utf8, local) ? local : std::string();
}

TempFolder::TempFolder() {
    const std::string base = SystemTempFolder();
    std::random_device seed;
    std::mt19937 random(seed() ^ platform::GetTickCountMs());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate =
            base + "\\brennick_test_" + std::to_string(random() % 100000000u);
        if (platform::CreateFolder(candidate)) {
            path = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder under " + base);
}

TempFolder::~TempFolder() {
    // A test that entered the folder (install and deinstall do) must not leave the process in
    // a removed folder, where every later relative path and current-folder query fails.
    std::string current;
    if (platform::GetCurrentFolder(current) &&
        (current == path || current.rfind(path + "\\", 0) == 0)) {
        platform::SetCurrentFolder(SystemTempFolder());
    }
    RemoveFolderTree(path);
}

std::string TempFolder::Join(const std::string& relative) const {
    return path + "\\" + relative;
}

bool RemoveFolderTree(const std::string& folder) {
    std::vector<platform::FindData> entries;
    platform::FileFinder finder;
    for (bool found = finder.FindFirst(folder + "\\*"); found; found = finder.FindNext()) {
        const std::string& name = finder.Current().name;
        if (name != "." && name != "..")
            entries.push_back(finder.Current());
    }
    finder.Close();
    bool removedAll = true;
    for (const platform::FindData& entry : entries) {
        const std::string path = folder + "\\" + entry.name;
        if (entry.attributes & platform::attributeFolder) {
            removedAll = RemoveFolderTree(path) && removedAll;
            continue;
        }
        platform::SetAttributes(path, platform::attributeArchive);
        removedAll = platform::RemoveFile(path) && removedAll;
    }
    return platform::RemoveFolder(folder) && removedAll;
}

void WriteFile(const std::string& path, const std::string& content) {
    CFile file;
    CFileException error;
    if (!file.Open(path, CFile::modeCreate | CFile::modeWrite, &error))
        throw error;
    file.Write(content.data(), static_cast<uint32_t>(content.size()));
    file.Close();
}

std::string ReadFile(const std::string& path) {
    CFile file;
    CFileException error;
    if (!file.Open(path, CFile::modeRead, &error))
        throw error;
    std::string content;
    char block[65536];
    while (const uint32_t count = file.Read(block, sizeof block)) content.append(block, count);
    file.Close();
    return content;
}

bool Exists(const std::string& path) {
    return platform::GetAttributes(path) != platform::invalidAttributes;
}

std::string BuiltProgramPath() {
    const char* chosen = std::getenv("BRENNICK_TEST_PROGRAM");
    return platform::FromHostPath(chosen != nullptr && *chosen != '\0' ? chosen : BRENNICK_PROGRAM);
}

std::string CopyProgramTo(const std::string& folder, const std::string& fileName) {
    const std::string built = BuiltProgramPath();
    const std::string copy = folder + "\\" + (fileName.empty() ? FileNameOf(built) : fileName);
    if (!platform::CopyFileOver(built, copy, false)) {
        throw CFileException(platform::LastError(), copy);
    }
    return copy;
}

ProgramResult RunProgramIn(const std::string& program, const std::vector<std::string>& args,
                           const std::string& folder) {
    ProgramResult result = RunProgram(program, args, folder);
    if (!result.started) {
        // Wine under heavy load has been seen to fail a start now and then; that says nothing
        // of the program, so it is tried once more after a pause.
        std::this_thread::sleep_for(std::chrono::seconds(1));
        result = RunProgram(program, args, folder);
    }
    return result;
}

}  // namespace test_support

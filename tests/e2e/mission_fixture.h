// Shared pieces of the install and deinstall end-to-end tests: a game folder with the program in
// it, mission archives written by the engine, snapshots of the game's files, outside tools.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/test_support.h"
#include "zip/zip_handler.h"

namespace mission_test {

// A game folder inside a temporary work folder (so that a name climbing out of the game folder
// lands in the work folder, where the tests can see it), with the program copied in.
class GameFolder {
public:
    explicit GameFolder(const std::string& programName = "");

    const std::string& Path() const { return game; }
    std::string Join(const std::string& relative) const { return game + "\\" + relative; }
    std::string WorkPath(const std::string& relative) const { return work.Join(relative); }
    const std::string& Program() const { return program; }
    // The program's companion file with the given extension (".Ini", ".Zip", ".Taff").
    std::string Companion(const std::string& extension) const;

    // Writes a file below the game folder, creating its folders.
    void Put(const std::string& relative, const std::string& content) const;
    std::string Read(const std::string& relative) const;
    bool Has(const std::string& relative) const;

    test_support::ProgramResult Run(const std::vector<std::string>& args) const;
    test_support::ProgramResult RunFrom(const std::string& folder,
                                        const std::vector<std::string>& args) const;

    // The state file as text, with line ends as "\n".
    std::string StateFile() const;

private:
    test_support::TempFolder work;
    std::string game;
    std::string program;
};

// Every file and folder below the game folder (relative name -> content; folders as "<folder>"),
// leaving out the program and the companion files of every program copy named in `programs`.
using Snapshot = std::map<std::string, std::string>;
Snapshot TakeSnapshot(const GameFolder& game, const std::vector<std::string>& programs = {});

// Runs "-d -a" and expects exit 1, the success line and the game folder as in the snapshot.
void ExpectDeinstallRestores(const GameFolder& game, const Snapshot& before);

// A mission archive written by the engine, with names and contents chosen by the test.
class MissionArchive {
public:
    explicit MissionArchive(const std::string& path);
    ~MissionArchive();

    // level: -1 deflated, 0 stored.
    void File(const std::string& name, const std::string& content, int level = -1);
    void Folder(const std::string& name);
    void SetPassword(const std::string& password) { zip.SetPassword(password); }
    void Close();

private:
    CZipHandler zip;
};

// Writes a mission archive of deflated files (name, content), in this order; gives its path.
std::string WriteMission(const std::string& path,
                         const std::vector<std::pair<std::string, std::string>>& files);

// name -> content of every entry of an archive, read with the engine (folders as "<folder>").
std::map<std::string, std::string> ReadArchive(const std::string& path);

// Bytes that deflate well but not to nothing.
std::string TextBytes(size_t size, unsigned seed);
// Bytes that do not deflate.
std::string NoiseBytes(size_t size, unsigned seed);

// Makes the first occurrence of marker in the file different (one byte changed).
void DamageFileAt(const std::string& path, const std::string& marker);

// Runs a tool of the build host (for example "/usr/bin/unzip") with host-path arguments.
// exitCode -1 when it cannot be run at all, as under Wine.
test_support::ProgramResult RunHostTool(const std::string& hostTool,
                                        const std::vector<std::string>& args);

// The file name of a path without its extension.
std::string BaseName(const std::string& path);

// The output's lines, without line ends.
std::vector<std::string> Lines(const std::string& output);
// True when the output holds this whole line.
bool HasLine(const std::string& output, const std::string& line);

// The startup lines of a failed install or deinstall, as the program prints them.
extern const char* const installFailedLines;
extern const char* const deinstallFailedLines;

}  // namespace mission_test

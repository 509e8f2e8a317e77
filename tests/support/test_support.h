// Helpers shared by the tests: a temporary folder, whole-file read and write, and running the
// built program in a folder of its own. All paths are in the program's form (backslashes).
//
// Usage:
//   test_support::TempFolder folder;  // removed with its contents at scope end
//   test_support::WriteFile(folder.Join("a.txt"), "text");
//   std::string program = test_support::CopyProgramTo(folder.Path());  // "...\Brennick[.exe]"
//   test_support::ProgramResult result =
//       test_support::RunProgramIn(program, {"-a"}, folder.Path());
#pragma once

#include <string>
#include <vector>

#include "tests/support/process.h"

namespace test_support {

// A fresh, empty folder under the system's temporary folder, removed recursively on destruction
// (stepping out first when the current folder lies inside it).
class TempFolder {
public:
    TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder();

    const std::string& Path() const { return path; }
    // Path() + "\" + relative; relative may hold backslashes of its own.
    std::string Join(const std::string& relative) const;

private:
    std::string path;
};

// A text written in UTF-8 in the program's local form (UTF-8 on Linux, the ANSI code page on
// Windows); empty when the local code page cannot hold it.
std::string Local(const std::string& utf8);

// Removes a folder with everything in it (read-only files included); false when anything stays.
bool RemoveFolderTree(const std::string& folder);

// Writes content to path, creating or truncating the file; throws CFileException on failure.
void WriteFile(const std::string& path, const std::string& content);
// The whole content of path; throws CFileException when it cannot be read.
std::string ReadFile(const std::string& path);
// True when a file or folder exists at path.
bool Exists(const std::string& path);

// The program under test in the program's form: the one the environment variable
// BRENNICK_TEST_PROGRAM names (a host path, e.g. a release build), else the built one
// (BRENNICK_PROGRAM).
std::string BuiltProgramPath();
// Copies the built program into folder under its own file name (or under fileName when given)
// and returns the copy's path.
std::string CopyProgramTo(const std::string& folder, const std::string& fileName = "");
// Runs program with args in folder, standard input at its end.
ProgramResult RunProgramIn(const std::string& program, const std::vector<std::string>& args,
                           const std::string& folder);

}  // namespace test_support

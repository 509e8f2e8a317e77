// Runs another program and collects its standard output and exit code, and sets environment
// values the programs it runs inherit (tests only; tests/support/posix and win32 implement it).
#pragma once

#include <string>
#include <vector>

namespace test_support {

struct ProgramResult {
    int exitCode = -1;
    std::string output;    // standard output, as the program wrote it
    bool started = false;  // false when the program could not be started at all
};

// Runs program with args in workingFolder, standard input at its end. Paths in this program's form.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingFolder);

// Sets an environment variable of this process, inherited by the programs it runs; an empty
// value removes it.
void SetEnvironmentValue(const std::string& name, const std::string& value);

}  // namespace test_support

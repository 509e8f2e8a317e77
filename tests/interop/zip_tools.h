// Test helper: runs the ZIP tools used as oracles (Info-ZIP, Python's zipfile, 7-Zip) on the host.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zip_tools {

// Runs a shell command line of the host in folder (the current one when empty); the exit code,
// 127 when the shell or the command could not be started. Standard output goes into output.
int Run(const std::string& commandLine, std::string* output = nullptr,
        const std::string& folder = "");

// True when the tool answers; under an emulated Windows the host's tools cannot be started and
// every one of these is false, so the tests that need them skip.
bool HaveZip();
bool HavePython();
std::string Python();  // the Python command found
bool Have7z();
std::string SevenZip();  // the 7-Zip command name found

// A path of this program's form, as a quoted host path for the shell.
std::string Quoted(const std::string& programPath);

// One entry as the oracle reports it: name in local form (backslashes), sizes, crc, method,
// external attributes and flag.
struct Listing {
    std::string name;
    uint32_t crc = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint16_t method = 0;
    uint32_t attributes = 0;
    uint16_t flag = 0;
    bool operator==(const Listing&) const = default;
};

// The entries of an archive as Python's zipfile reads them; false when Python fails.
bool ListWithPython(const std::string& archivePath, std::vector<Listing>& entries,
                    std::string& comment);

// The start of a Python script that writes the archive sys.argv[1], through an object that
// cannot seek when sys.argv[2] is "stream" (each entry then gets a data descriptor); the script
// goes on inside `with zipfile.ZipFile(...) as z:`, eight blanks in.
extern const char* const pythonArchiveWriter;

}  // namespace zip_tools

// Paths beside the program (state file, backup archive, retired backup) and one-value INI access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// A state-file value is read back cut to this many bytes.
inline constexpr size_t maxRecordLength = 1023;

std::string GetProgramFolder();
std::string GetProgramPathWithExt(const std::string& extension);
std::string ReadProfileValue(const std::string& filePath, const std::string& section,
                             const std::string& key, const std::string& defaultValue);
bool WriteProfileValue(const std::string& filePath, const std::string& section,
                       const std::string& key, const std::string& value);

// One F entry of the state file: an installed file and whether it replaced a saved game file.
struct RecordedFile {
    std::string name;
    int flag = 0;
};

// False for an entry that a deinstall passes over: empty, starting with a colon, or without one.
bool ReadRecord(const std::string& stateFile, int number, RecordedFile& record);
// The installed counter ("Installed"): read as atol reads a number (leading blanks, a sign,
// digits; anything else ends it, no digits give 0), clamped to 64 bits on both builds, never
// wrapping. Counted up and down within that range only.
int64_t ParseCounter(const std::string& text);
int64_t ReadInstalledCounter(const std::string& stateFile);
bool WriteInstalledCounter(const std::string& stateFile, int64_t counter);
int64_t CountedUp(int64_t counter);
int64_t CountedDown(int64_t counter);  // minus one unless 0

// Starts the records of a new install, in one crash-safe write: "FCount" becomes 0 and the
// records of an earlier install are dropped (no count reaches them any more), and the section
// moves to the end of the file, so that each record after it is one small append whatever the
// file looked like before (blank lines, longer earlier records, keys in another order).
bool StartRecords(const std::string& stateFile);
// True for the key of a record: "F" and a number without leading zeros, in either case.
bool IsRecordKey(std::string_view key);

// The number of records of the latest install ("FCount").
int ReadRecordCount(const std::string& stateFile);

// The pure rules behind the two path functions, for a given program path.
std::string ProgramFolderOf(const std::string& programPath);
std::string ProgramBasePathOf(const std::string& programPath);

// True when name, taken inside the program's folder, is the program itself or one of the files
// beside it that bear its name (state file, backup archive, retired backup): a mission file of
// that name would overwrite the record of the install or the saved game files.
bool NamesProgramFile(const std::string& name, const std::string& programPath);
bool NamesProgramFile(const std::string& name);  // for this program

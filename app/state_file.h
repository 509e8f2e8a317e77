// The state file beside the program: the one owner of its section, its key names and the rules
// its values are read and written by.
//
//     [Mission]
//     Installed=1          the installed counter; nonzero means a mission is installed
//     FCount=2             the number of records of the latest install
//     F1=strings\a.str:1   a record: an installed file and its flag (1: its game file was saved)
//     F2=maps\new.mis:0
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/program_files.h"

// A state-file value is read back cut to this many bytes.
inline constexpr size_t maxRecordLength = 1023;

// One F entry of the state file: an installed file and its flag: 0 when the mission added it, 1
// when it replaced a game file saved in the backup archive, 2 to 9 when the deinstall passes it.
struct RecordedFile {
    std::string name;
    int flag = 0;
};

class StateFile {
public:
    explicit StateFile(std::string path) : path(std::move(path)) {}
    static StateFile OfThisProgram() { return StateFile(GetProgramPathWithExt(".Ini")); }

    const std::string& Path() const { return path; }

    // True when something is there that cannot be read or parsed (locked, not a regular file, a
    // NUL, no section in a file that is not empty): it tells nothing, not even "not installed".
    bool IsUnreadable() const;

    // The installed counter ("Installed"): read as atol reads a number (leading blanks, a sign,
    // digits; anything else ends it, no digits give 0), clamped to 64 bits on both builds, never
    // wrapping. Counted up and down within that range only.
    static int64_t ParseCounter(const std::string& text);
    static int64_t CountedUp(int64_t counter);
    static int64_t CountedDown(int64_t counter);  // minus one unless 0
    std::string ReadCounterText() const;
    int64_t ReadCounter() const { return ParseCounter(ReadCounterText()); }
    bool WriteCounterText(const std::string& text) const;
    bool CountUp() const;    // false when the state file cannot be written
    bool CountDown() const;  // false when the state file cannot be written

    // Starts the records of a new install, in one crash-safe write: "FCount" becomes 0 and the
    // records of an earlier install are dropped (no count reaches them any more), and the section
    // moves to the end of the file, so that each run of records after it is one small append
    // whatever the file looked like before (blank lines, longer earlier records, keys in another
    // order). False when the state file cannot be written.
    bool StartRecords() const;
    // Writes records numbered first, first + 1, ... and then counts them ("FCount"): a record
    // counted is always complete.
    bool WriteRecords(int first, const std::vector<RecordedFile>& records) const;
    // Sets the record's flag to 2, which the deinstall passes over. Keeps the value's length, so
    // this is one small write in place.
    bool PassOver(int number, const std::string& name) const;

    // The number of records of the latest install, no more than the file has room for, so that a
    // hand-edited count of two thousand million costs no more lookups than the file has lines.
    int ReadRecordCount() const;
    // Visits the records from 1 to ReadRecordCount() in order until visit returns false. An entry
    // that a deinstall passes over (empty, starting with a colon, or without one) is not visited.
    // The file is looked at once for a run of records, not once for each.
    void ForEachRecord(const std::function<bool(const RecordedFile& record)>& visit) const;
    // True for the key of a record: "F" and a number without leading zeros, in either case.
    static bool IsRecordKey(std::string_view key);

private:
    std::string path;
};

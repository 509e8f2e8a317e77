// The records of an install in the state file, written in runs ahead of the files they name.
#pragma once

#include <cstddef>
#include <vector>

#include "app/install_plan.h"
#include "app/state_file.h"

// Writes the records of the installed files, numbered from 1. A file is touched only once its
// record is on disk; after a record could not be written, no further file is. Records go in
// runs: the records of the next files, a few kilobytes of them, in one append, then "FCount" in
// one more write, before the first of those files is touched. A record whose file was never
// reached (the install was stopped) is passed by the deinstall: an added file that is not there
// is gone already, and a saved one is restored over itself.
class Recorder {
public:
    explicit Recorder(const std::vector<MissionFile>& files);

    // Counts the records of an earlier install out before the first new one is written, so that
    // they are never taken for this install's. False when the state file cannot be written.
    bool Start();
    // True once the record of the file at position is on disk.
    bool Ensure(size_t position);
    // Marks the record of the file at position as one the deinstall passes over (flag 2), for a
    // file left untouched after all: the deinstall must not delete a game file it has no need to
    // give back. The value keeps its length, so this is one small write in place.
    bool PassOver(size_t position);
    bool Failed() const { return failed; }

private:
    void WriteRun(size_t position);

    StateFile stateFile;
    const std::vector<MissionFile>& files;
    std::vector<int> numbers;  // each file's record number, 0 while it has none on disk
    bool failed = false;
    int count = 0;
};

// The records of an install in the state file.
#include "app/install_records.h"

Recorder::Recorder(const std::vector<MissionFile>& files)
    : stateFile(StateFile::OfThisProgram()), files(files), numbers(files.size(), 0) {}

bool Recorder::Start() {
    failed = !stateFile.StartRecords();
    return !failed;
}

bool Recorder::Ensure(size_t position) {
    if (numbers[position] != 0) {
        return true;
    }
    if (failed || RecordFlagOf(files[position].plan) < 0) {
        return false;
    }
    WriteRun(position);
    return !failed;
}

bool Recorder::PassOver(size_t position) {
    if (failed || numbers[position] == 0) {
        return false;
    }
    return stateFile.PassOver(numbers[position], files[position].name);
}

void Recorder::WriteRun(size_t position) {
    constexpr size_t maxRunBytes = 3072;  // well within one small write
    std::vector<RecordedFile> run;
    size_t bytes = 0;
    for (size_t i = position; i < files.size() && bytes < maxRunBytes; ++i) {
        const int flag = RecordFlagOf(files[i].plan);
        if (flag >= 0) {
            run.push_back({files[i].name, flag});
            bytes += files[i].name.size() + 12;  // with its key and line end
        }
    }
    if (!stateFile.WriteRecords(count + 1, run)) {
        failed = true;
        return;
    }
    const int last = count + static_cast<int>(run.size());
    for (size_t i = position; count < last; ++i) {
        if (RecordFlagOf(files[i].plan) >= 0) {
            numbers[i] = ++count;
        }
    }
}

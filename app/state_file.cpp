// The state file beside the program: its section, keys and value rules.
#include "app/state_file.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "platform/file.h"
#include "platform/profile.h"

namespace {

const char* const section = "Mission";
const char* const counterKey = "Installed";
const char* const countKey = "FCount";

std::string RecordKey(int number) {
    return "F" + std::to_string(number);
}

std::string RecordValue(const RecordedFile& record) {
    return record.name + ":" + std::to_string(record.flag);
}

}  // namespace

bool StateFile::IsUnreadable() const {
    return platform::CheckProfile(path, section) == platform::ProfileState::unreadable;
}

int64_t StateFile::ParseCounter(const std::string& text) {
    // strtoll clamps where atol's overflow is undefined (and a 32-bit long on Windows wraps).
    return std::strtoll(text.c_str(), nullptr, 10);
}

int64_t StateFile::CountedUp(int64_t counter) {
    return counter == INT64_MAX ? counter : counter + 1;
}

int64_t StateFile::CountedDown(int64_t counter) {
    return counter == 0 || counter == INT64_MIN ? counter : counter - 1;
}

std::string StateFile::ReadCounterText() const {
    return platform::GetProfileString(path, section, counterKey, "0");
}

bool StateFile::WriteCounterText(const std::string& text) const {
    return platform::WriteProfileString(path, section, counterKey, text);
}

bool StateFile::CountUp() const {
    return WriteCounterText(std::to_string(CountedUp(ReadCounter())));
}

bool StateFile::CountDown() const {
    return WriteCounterText(std::to_string(CountedDown(ReadCounter())));
}

bool StateFile::StartRecords() const {
    return platform::WriteProfileSection(
        path, section, [](std::string_view key) { return !IsRecordKey(key); }, {{countKey, "0"}});
}

bool StateFile::WriteRecords(int first, const std::vector<RecordedFile>& records) const {
    std::vector<platform::ProfileValue> values;
    values.reserve(records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        values.push_back({RecordKey(first + static_cast<int>(i)), RecordValue(records[i])});
    }
    const int last = first + static_cast<int>(records.size()) - 1;
    return platform::WriteProfileStrings(path, section, values) &&
           platform::WriteProfileString(path, section, countKey, std::to_string(last));
}

bool StateFile::PassOver(int number, const std::string& name) const {
    return platform::WriteProfileString(path, section, RecordKey(number), RecordValue({name, 2}));
}

int StateFile::ReadRecordCount() const {
    const int64_t count = ParseCounter(platform::GetProfileString(path, section, countKey, "0"));
    constexpr int64_t shortestRecord = 7;  // "Fn=a:0" and a line end
    CFileStatus status;
    const int64_t room =
        CFile::GetStatus(path, status) ? static_cast<int64_t>(status.size / shortestRecord) : 0;
    return static_cast<int>(std::clamp<int64_t>(std::min(count, room), 0, INT_MAX));
}

namespace {

bool ParseRecord(const std::string& value, RecordedFile& record) {
    const size_t colon = value.find(':');
    if (value.empty() || colon == 0 || colon == std::string::npos) {
        return false;
    }
    record.name = value.substr(0, colon);
    const char flag = colon + 1 < value.size() ? value[colon + 1] : '\0';
    record.flag = flag >= '0' && flag <= '9' ? flag - '0' : 0;
    return true;
}

}  // namespace

void StateFile::ForEachRecord(const std::function<bool(const RecordedFile& record)>& visit) const {
    constexpr int runLength = 512;  // keys asked for at once; their values are held meanwhile
    const int count = ReadRecordCount();
    std::vector<std::string> keys;
    for (int first = 1; first <= count; first += runLength) {
        keys.clear();
        for (int number = first; number <= count && number - first < runLength; ++number) {
            keys.push_back(RecordKey(number));
        }
        RecordedFile record;
        for (const std::string& value : platform::GetProfileStrings(path, section, keys, "")) {
            if (ParseRecord(value, record) && !visit(record)) {
                return;
            }
        }
    }
}

bool StateFile::IsRecordKey(std::string_view key) {
    if (key.size() < 2 || (key[0] != 'F' && key[0] != 'f') || key[1] == '0')
        return false;
    return std::all_of(key.begin() + 1, key.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// INI profile files, one portable implementation over CFile: read one value, write one value,
// and tell a file that cannot be trusted from one that is missing.
//
// Each file is read once per run and kept as its bytes with an index of its section headers and
// key lines, so that reading a value, or recording one more file of an install, does not cost
// the whole file again. The model is checked against the file's size and last-write time before
// every use and read again when either differs. Writes stay crash-safe: a new line at the very
// end of the file and a value replaced by one of the same length are one single write each (a
// killed process leaves the old or the new content); every other change writes the whole file
// beside it and puts it in place in one step.
//
// Costs: a lookup hashes the names and reads the one line it finds (expected O(1), plus O(log h)
// over h headers to tell a key's section); an appended line or a same-length value costs its own
// bytes; any other change rewrites and indexes the file again, O(file).
//
// Memory is bounded by design. A file larger than kMaxFileSize is refused unread, a file holding
// a NUL is dropped once read, and the index holds no text: blank lines cost nothing, a header or
// a key a few 32-bit words, so a model stays within a small multiple of the file.
//
// A file an editor saved with a byte-order mark (UTF-8, or UTF-16LE as Windows' own profile
// functions read it) stays in its encoding and keeps its mark, so that editor and program keep
// agreeing. Lines the program does not change are written back byte for byte, even where the
// local code page cannot hold them; lines it writes are converted, and a value that cannot be
// converted fails the write. The single-write rules above hold for these files alike, as lengths
// are compared in file bytes. A file without a mark holds local text; on Linux, earlier versions
// wrote Windows-1252 there.
#include "platform/profile.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/code_page.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/profile_document.h"
#include "platform/profile_file.h"
#include "platform/system.h"

namespace platform {

namespace {

constexpr size_t kMaxValueLength = 1023;
// No real state file comes near this: 65,535 records of long names take a few megabytes. A larger
// file is refused unread, and no write makes a file this program would then refuse.
constexpr uint64_t kMaxFileSize = uint64_t(16) << 20;
// Offsets and header numbers below it fit the 24 bits a name table keeps of them.
static_assert(kMaxFileSize <= uint64_t(1) << 24);
// The models kept at once, and the bytes they may hold together beyond the one in use.
constexpr size_t kMaxModels = 8;
constexpr uint64_t kMaxCachedBytes = kMaxFileSize;
// Larger in-place writes go through the atomic rewrite: a killed process could cut a write that
// spans many pages, never one this small.
constexpr size_t kMaxInPlaceWrite = 4096;

using namespace profile;

// A document and the identity of the file it was taken from.
struct Model {
    Document document;
    uint64_t size = 0;
    int64_t lastWriteTimeNs = 0;
    // False when the file was read while it could still change within the same step of its
    // time unnoticed by its size and time; such a model is read again before its next use.
    bool settled = false;
};

// One change: the bytes [start, end) replaced by new lines.
struct Edit {
    size_t start = 0;
    size_t end = 0;
    bool replace = false;            // one line's text replaced; it keeps its line end
    bool endFirst = false;           // the line before start first gets a line end
    std::vector<std::string> lines;  // local texts of what goes there
};

// The whole file, when it is a file that can be read and holds at most kMaxFileSize bytes.
bool ReadContent(const std::string& path, std::string& content) {
    CFile file;
    if (!file.Open(path, CFile::modeRead | CFile::shareDenyWrite))
        return false;
    try {
        const uint64_t length = file.GetLength();
        if (length > kMaxFileSize)
            return false;
        content.reserve(size_t(length));
        char block[16384];
        while (const uint32_t count = file.Read(block, sizeof block)) {
            if (content.size() + count > kMaxFileSize)
                return false;
            content.append(block, count);
        }
        file.Close();
    } catch (const CFileException&) {
        return false;
    }
    return true;
}

// The models of this run by path, and the lock that guards them.
std::mutex modelsLock;
std::map<std::string, Model> models;

// A file whose time step has not yet passed may change again with the same size and time. A
// time in whole seconds may come from a file system that keeps even seconds only (FAT): three
// seconds cover it. Finer times move with the system clock's tick: a tenth of a second covers
// that many times over. Without this a file written just before a run would be read again at
// every use until a second or two had passed.
bool Settled(int64_t lastWriteTimeNs) {
    constexpr int64_t second = 1000000000;
    const int64_t margin = lastWriteTimeNs % second == 0 ? 3 * second : second / 10;
    return lastWriteTimeNs + margin < GetSystemTimeNs();
}

uint64_t CachedBytes() {
    uint64_t total = 0;
    for (const auto& [path, model] : models) total += model.document.content.size();
    return total;
}

// Drops other models when one more of size bytes would exceed the count or the bytes they may
// hold.
void MakeRoom(const std::string& path, uint64_t size) {
    models.erase(path);
    if (models.size() >= kMaxModels || CachedBytes() + size > kMaxCachedBytes)
        models.clear();
}

// The model of path, read again unless the file is known unchanged; null when something is there
// but cannot be read: no file, no regular file, locked, or larger than kMaxFileSize (refused
// unread). A missing file is an empty document that does not exist.
Model* CurrentModel(const std::string& path, CFileStatus& status) {
    if (!CFile::GetStatus(path, status)) {
        if (NameExists(path))
            return nullptr;
        Model& model = models[path];
        model = Model{};
        return &model;
    }
    if ((status.attributes & attributeFolder) || status.size > kMaxFileSize) {
        models.erase(path);
        return nullptr;
    }
    const auto found = models.find(path);
    if (found != models.end() && found->second.document.exists && found->second.settled &&
        found->second.size == status.size &&
        found->second.lastWriteTimeNs == status.lastWriteTimeNs) {
        return &found->second;
    }
    std::string content;
    if (!ReadContent(path, content)) {
        models.erase(path);
        return nullptr;
    }
    MakeRoom(path, content.size());
    Model& model = models[path];
    model.size = content.size();
    model.lastWriteTimeNs = status.lastWriteTimeNs;
    model.settled = Settled(status.lastWriteTimeNs) && model.size == status.size;
    model.document = Parse(std::move(content));
    return &model;
}

// What to change for key=value; nullopt when the file already holds exactly that value.
std::optional<Edit> PlanEdit(const Document& document, const std::string& section,
                             const std::string& key, const std::string& value) {
    const std::optional<uint32_t> header = FindSection(document, section);
    Edit edit;
    if (const auto offset = header ? FindKey(document, *header, key) : std::nullopt) {
        const LineSpan line = LineAt(document, *offset);
        std::string buffer;
        const std::string_view text = TextOf(document, line, buffer);
        if (ValueOf(text) == value)
            return std::nullopt;
        edit.start = line.start;
        edit.end = line.end;
        edit.replace = true;
        edit.lines = {std::string(*KeyNameOf(text)) + "=" + value};
        return edit;
    }
    edit.start = edit.end = header ? document.headers[*header].insertAt : document.content.size();
    if (!header)
        edit.lines.push_back("[" + section + "]");
    edit.lines.push_back(key + "=" + value);
    edit.endFirst = !StartsLine(document, edit.start);
    return edit;
}

// The file bytes of an edit; nullopt when a text cannot be stored in the file's encoding.
std::optional<std::string> BytesOf(const Document& document, const Edit& edit) {
    const std::string end = EndBytes(document.encoding, LineEndOf(document));
    std::string bytes = edit.endFirst ? end : "";
    for (const std::string& text : edit.lines) {
        std::string encoded;
        if (!Encode(document.encoding, text, encoded))
            return std::nullopt;
        bytes += encoded;
        if (!edit.replace)
            bytes += end;
    }
    return bytes;
}

bool HasLineBreak(const Edit& edit) {
    return std::any_of(edit.lines.begin(), edit.lines.end(), [](const std::string& text) {
        return text.find_first_of("\r\n") != std::string::npos;
    });
}

// Writes the edit the cheapest crash-safe way and brings the model up to date: lines appended
// to a file that ends with a line end, or a line of the same length, in one small write costing
// their own bytes; anything else a whole rewrite, costing the file.
bool Commit(const std::string& path, Document& document, const Edit& edit,
            const std::string& bytes) {
    std::string& content = document.content;
    const size_t oldSize = content.size();
    if (oldSize - (edit.end - edit.start) + bytes.size() > kMaxFileSize)
        return false;
    const bool small = !HasLineBreak(edit) && bytes.size() <= kMaxInPlaceWrite;
    if (small && document.exists && !edit.replace && !edit.endFirst && edit.start == oldSize) {
        if (!WriteInPlace(path, oldSize, bytes, "", oldSize))
            return false;
        content += bytes;
        IndexFrom(document, oldSize);
        return true;
    }
    if (small && edit.replace && bytes.size() == edit.end - edit.start) {
        const std::string oldBytes = content.substr(edit.start, bytes.size());
        if (!WriteInPlace(path, edit.start, bytes, oldBytes, oldSize))
            return false;
        content.replace(edit.start, bytes.size(), bytes);
        return true;
    }
    std::string newContent = content.substr(0, edit.start) + bytes + content.substr(edit.end);
    if (!Rewrite(path, newContent))
        return false;
    document = Parse(std::move(newContent));
    return true;
}

// Takes the file's identity after this process wrote it: the model holds what was written, so
// it stays trusted while the file keeps that size and time.
void RememberOwnWrite(const std::string& path, Model& model) {
    CFileStatus status;
    if (!CFile::GetStatus(path, status) || status.size != model.document.content.size()) {
        models.erase(path);
        return;
    }
    model.size = status.size;
    model.lastWriteTimeNs = status.lastWriteTimeNs;
    model.settled = true;
}

// Another path may name the same file; its model would not know of this write.
void ForgetOtherModels(const std::string& path) {
    for (auto i = models.begin(); i != models.end();)
        i = i->first == path ? std::next(i) : models.erase(i);
}

bool HoldsNul(const std::string& text) {
    return text.find('\0') != std::string::npos;
}

// The model of a file about to be written; null when it must not be: a file that could not be
// read is never written over, and a read-only one stays as it is, as Windows keeps it.
Model* WritableModel(const std::string& path) {
    ForgetOtherModels(path);
    CFileStatus status;
    Model* model = CurrentModel(path, status);
    if (!model || model->document.refused)
        return nullptr;
    if (model->document.exists && (status.attributes & attributeReadOnly))
        return nullptr;
    RemoveUnfinishedRewrite(path);
    return model;
}

}  // namespace

ProfileState CheckProfile(const std::string& filePath, const std::string& section) {
    const std::lock_guard<std::mutex> guard(modelsLock);
    CFileStatus status;
    const Model* model = CurrentModel(filePath, status);
    if (!model)
        return ProfileState::unreadable;
    const Document& document = model->document;
    if (!document.exists)
        return ProfileState::missing;
    if (document.refused)
        return ProfileState::unreadable;
    if (!document.hasText || FindSection(document, section))
        return ProfileState::readable;
    return ProfileState::unreadable;
}

namespace {

// The value of key in a model's section, as GetProfileString gives it.
std::string ValueIn(const Model* model, const std::string& section, const std::string& key,
                    const std::string& defaultValue) {
    const std::string fallback = defaultValue.substr(0, kMaxValueLength);
    if (!model)
        return fallback;
    const Document& document = model->document;
    const std::optional<uint32_t> header = FindSection(document, section);
    const std::optional<uint32_t> offset = header ? FindKey(document, *header, key) : std::nullopt;
    if (!offset)
        return fallback;
    std::string buffer;
    std::string value(ValueOf(TextOf(document, LineAt(document, *offset), buffer)));
    if (document.encoding == Encoding::plain)
        value = StoredTextToLocal(value);
    return value.substr(0, kMaxValueLength);
}

}  // namespace

std::string GetProfileString(const std::string& filePath, const std::string& section,
                             const std::string& key, const std::string& defaultValue) {
    const std::lock_guard<std::mutex> guard(modelsLock);
    CFileStatus status;
    return ValueIn(CurrentModel(filePath, status), section, key, defaultValue);
}

std::vector<std::string> GetProfileStrings(const std::string& filePath, const std::string& section,
                                           const std::vector<std::string>& keys,
                                           const std::string& defaultValue) {
    const std::lock_guard<std::mutex> guard(modelsLock);
    CFileStatus status;
    const Model* model = CurrentModel(filePath, status);
    std::vector<std::string> values;
    values.reserve(keys.size());
    for (const std::string& key : keys) {
        values.push_back(ValueIn(model, section, key, defaultValue));
    }
    return values;
}

bool WriteProfileString(const std::string& filePath, const std::string& section,
                        const std::string& key, const std::string& value) {
    // A NUL would make the file one that no later run can read.
    if (HoldsNul(section) || HoldsNul(key) || HoldsNul(value))
        return false;
    const std::lock_guard<std::mutex> guard(modelsLock);
    Model* model = WritableModel(filePath);
    if (!model)
        return false;
    const std::optional<Edit> edit = PlanEdit(model->document, section, key, value);
    if (!edit)
        return true;
    const std::optional<std::string> bytes = BytesOf(model->document, *edit);
    if (!bytes)
        return false;
    if (!Commit(filePath, model->document, *edit, *bytes)) {
        models.erase(filePath);
        return false;
    }
    RememberOwnWrite(filePath, *model);
    return true;
}

bool WriteProfileStrings(const std::string& filePath, const std::string& section,
                         const std::vector<ProfileValue>& values) {
    {
        const std::lock_guard<std::mutex> guard(modelsLock);
        Model* model = WritableModel(filePath);
        if (!model)
            return false;
        Document& document = model->document;
        // New keys of an existing section that all go to one place are one edit, and so one
        // small append where the section is the file's last.
        Edit merged;
        bool one = FindSection(document, section).has_value();
        for (size_t i = 0; one && i < values.size(); ++i) {
            const ProfileValue& v = values[i];
            const std::optional<Edit> edit = PlanEdit(document, section, v.key, v.value);
            const auto sameKey = [&](const ProfileValue& other) {
                return SameName(other.key, v.key);
            };
            one = edit && !edit->replace && (i == 0 || edit->start == merged.start) &&
                  !HoldsNul(v.key) && !HoldsNul(v.value) &&
                  std::none_of(values.begin(), values.begin() + i, sameKey);
            if (!one)
                break;
            if (i == 0)
                merged = *edit;
            else
                merged.lines.push_back(edit->lines.back());
        }
        if (one && !values.empty()) {
            const std::optional<std::string> bytes = BytesOf(document, merged);
            if (!bytes)
                return false;
            if (!Commit(filePath, document, merged, *bytes)) {
                models.erase(filePath);
                return false;
            }
            RememberOwnWrite(filePath, *model);
            return true;
        }
    }
    for (const ProfileValue& v : values)
        if (!WriteProfileString(filePath, section, v.key, v.value))
            return false;
    return true;
}

bool WriteProfileSection(const std::string& filePath, const std::string& section,
                         const std::function<bool(std::string_view key)>& keepKey,
                         const std::vector<ProfileValue>& values) {
    const auto holdsNul = [](const ProfileValue& v) {
        return HoldsNul(v.key) || HoldsNul(v.value);
    };
    if (HoldsNul(section) || std::any_of(values.begin(), values.end(), holdsNul))
        return false;
    const std::lock_guard<std::mutex> guard(modelsLock);
    Model* model = WritableModel(filePath);
    if (!model)
        return false;
    Document& document = model->document;
    const std::optional<std::string> content =
        SectionRewritten(document, FindSection(document, section), section, keepKey, values);
    if (!content || content->size() > kMaxFileSize || !Rewrite(filePath, *content)) {
        models.erase(filePath);
        return false;
    }
    document = Parse(*content);
    RememberOwnWrite(filePath, *model);
    return true;
}

}  // namespace platform

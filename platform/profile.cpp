// INI profile files, one portable implementation over CFile: read one value, write one value.
//
// Each file is parsed once per run into a model with an index from (section, key) to its line,
// so that reading a value, or recording one more file of an install, does not cost the whole
// file again. The model is checked against the file's size and last-write time before every use
// and read again when either differs. Writes stay crash-safe: a new line at the very end of the
// file and a value replaced by one of the same length are one single write each (a killed process
// leaves the old or the new content); every other change writes the whole file beside it and
// puts it in place in one step.
#include "platform/profile.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/system.h"

namespace platform {

namespace {

constexpr size_t kMaxValueLength = 1023;
constexpr size_t kMaxModels = 8;
// Larger in-place writes go through the atomic rewrite: a killed process could cut a write that
// spans many pages, never one this small.
constexpr size_t kMaxInPlaceWrite = 4096;
const char* const kNewLineEnd = "\r\n";

struct Line {
    std::string text;      // without its line end
    const char* end = "";  // "\r\n", "\n", or "" for a last line without one (a literal: a
                           // file of many thousand lines keeps no copy of it per line)
};

// One section as lookups see it: its first occurrence in the file.
struct Section {
    size_t header = 0;                             // its header line
    size_t lastLine = 0;                           // last non-blank line (the header at least)
    std::unordered_map<std::string, size_t> keys;  // lower-case key -> its first line
};

// A file as parsed, with where each line starts and what each section holds.
struct Document {
    bool exists = false;
    std::vector<Line> lines;
    std::vector<uint64_t> offsets;  // byte offset of each line
    uint64_t size = 0;
    std::unordered_map<std::string, Section> sections;  // by lower-case name
    std::optional<size_t> lastHeader;                   // the last section header in the file
};

// A document and the identity of the file it was taken from.
struct Model {
    Document document;
    int64_t lastWriteTimeNs = 0;
    // False when the file was read while it could still change within the same step of its
    // time unnoticed by its size and time; such a model is read again before its next use.
    bool settled = false;
};

// Where a section and key stand in a document; a missing one is nullopt.
struct Location {
    std::optional<size_t> section;   // its header line
    std::optional<size_t> key;       // the key's line inside the section
    std::optional<size_t> lastLine;  // last non-blank line of the section (the header at least)
};

// One change to the document: lines replaced or inserted at one place.
struct Edit {
    size_t index = 0;             // first line concerned
    bool replace = false;         // replace the line at index, else insert before it
    std::vector<Line> newLines;   // what goes there
    std::optional<size_t> endAt;  // a last line that must first get a line end
};

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c + 32);
    return text;
}

std::optional<std::string> SectionNameOf(const Line& line) {
    const std::string text = Trim(line.text);
    if (text.empty() || text[0] != '[')
        return std::nullopt;
    const size_t close = text.find(']');
    if (close == std::string::npos)
        return std::nullopt;
    return Trim(text.substr(1, close - 1));
}

std::optional<std::string> KeyNameOf(const Line& line) {
    const std::string text = Trim(line.text);
    if (text.empty() || text[0] == ';')
        return std::nullopt;
    const size_t equals = text.find('=');
    if (equals == std::string::npos)
        return std::nullopt;
    return Trim(text.substr(0, equals));
}

std::string ValueOf(const Line& line) {
    return Trim(line.text.substr(line.text.find('=') + 1));
}

std::vector<Line> SplitLines(const std::string& content) {
    std::vector<Line> lines;
    size_t start = 0;
    while (start < content.size()) {
        const size_t newline = content.find('\n', start);
        if (newline == std::string::npos) {
            lines.push_back({content.substr(start), ""});
            break;
        }
        const bool crlf = newline > start && content[newline - 1] == '\r';
        const size_t textEnd = crlf ? newline - 1 : newline;
        lines.push_back({content.substr(start, textEnd - start), crlf ? "\r\n" : "\n"});
        start = newline + 1;
    }
    return lines;
}

// Takes line i into the index; current is the section the lines before it belong to, or null
// outside a section and inside a repeated one (lookups only see a section's first occurrence).
void IndexLine(Document& document, size_t i, Section*& current) {
    const Line& line = document.lines[i];
    if (const auto name = SectionNameOf(line)) {
        document.lastHeader = i;
        const auto [entry, added] = document.sections.try_emplace(Lower(*name));
        current = added ? &entry->second : nullptr;
        if (current)
            current->header = current->lastLine = i;
        return;
    }
    if (!current)
        return;
    if (!Trim(line.text).empty())
        current->lastLine = i;
    if (const auto key = KeyNameOf(line))
        current->keys.try_emplace(Lower(*key), i);
}

Document Parse(const std::string& content) {
    Document document;
    document.exists = true;
    document.lines = SplitLines(content);
    document.size = content.size();
    document.offsets.reserve(document.lines.size());
    uint64_t offset = 0;
    Section* current = nullptr;
    for (size_t i = 0; i < document.lines.size(); ++i) {
        document.offsets.push_back(offset);
        offset += document.lines[i].text.size() + std::strlen(document.lines[i].end);
        IndexLine(document, i, current);
    }
    return document;
}

bool ReadContent(const std::string& path, std::string& content) {
    CFile file;
    if (!file.Open(path, CFile::modeRead | CFile::shareDenyWrite))
        return false;
    try {
        char block[16384];
        while (const uint32_t count = file.Read(block, sizeof block)) content.append(block, count);
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

// The model of path, read again unless the file is known unchanged; null when the file exists
// but cannot be read. A missing file is an empty document.
Model* CurrentModel(const std::string& path, CFileStatus& status) {
    if (!CFile::GetStatus(path, status)) {
        if (GetAttributes(path) != invalidAttributes)
            return nullptr;
        Model& model = models[path];
        model = Model{};
        return &model;
    }
    if (status.attributes & attributeFolder)
        return nullptr;
    const auto found = models.find(path);
    if (found != models.end() && found->second.document.exists && found->second.settled &&
        found->second.document.size == status.size &&
        found->second.lastWriteTimeNs == status.lastWriteTimeNs) {
        return &found->second;
    }
    std::string content;
    if (!ReadContent(path, content)) {
        models.erase(path);
        return nullptr;
    }
    if (models.size() >= kMaxModels && found == models.end())
        models.clear();
    Model& model = models[path];
    model.document = Parse(content);
    model.lastWriteTimeNs = status.lastWriteTimeNs;
    model.settled = Settled(status.lastWriteTimeNs) && content.size() == status.size;
    return &model;
}

Location Locate(const Document& document, const std::string& section, const std::string& key) {
    Location location;
    const auto found = document.sections.find(Lower(section));
    if (found == document.sections.end())
        return location;
    location.section = found->second.header;
    location.lastLine = found->second.lastLine;
    const auto line = found->second.keys.find(Lower(key));
    if (line != found->second.keys.end())
        location.key = line->second;
    return location;
}

// The line end new lines get: the file's own (its first line's), CRLF for a new file.
const char* LineEndOf(const Document& document) {
    if (!document.lines.empty() && *document.lines.front().end != '\0') {
        return document.lines.front().end;
    }
    return kNewLineEnd;
}

std::optional<size_t> UnendedLastLine(const Document& document, size_t insertAt) {
    if (insertAt == 0 || *document.lines[insertAt - 1].end != '\0')
        return std::nullopt;
    return insertAt - 1;
}

// What to change for key=value; nullopt when the file already holds exactly that value.
std::optional<Edit> PlanEdit(const Document& document, const std::string& section,
                             const std::string& key, const std::string& value) {
    const Location location = Locate(document, section, key);
    const char* const end = LineEndOf(document);
    Edit edit;
    if (location.key) {
        const Line& old = document.lines[*location.key];
        if (ValueOf(old) == value)
            return std::nullopt;
        edit.index = *location.key;
        edit.replace = true;
        edit.newLines = {{*KeyNameOf(old) + "=" + value, old.end}};
        return edit;
    }
    if (location.section) {
        edit.index = *location.lastLine + 1;
        edit.newLines = {{key + "=" + value, end}};
    } else {
        edit.index = document.lines.size();
        edit.newLines = {{"[" + section + "]", end}, {key + "=" + value, end}};
    }
    edit.endAt = UnendedLastLine(document, edit.index);
    return edit;
}

std::string Render(const std::vector<Line>& lines) {
    std::string content;
    for (const Line& line : lines) content += line.text + line.end;
    return content;
}

bool HasLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

// The bytes of an edit that only appends at the end of a file that ends with a line end;
// nullopt for any other edit.
std::optional<std::string> AppendedBytes(const Document& document, const Edit& edit) {
    if (!document.exists || edit.replace || edit.endAt || edit.index != document.lines.size())
        return std::nullopt;
    std::string bytes;
    for (const Line& line : edit.newLines) {
        if (HasLineBreak(line.text))
            return std::nullopt;
        bytes += line.text + line.end;
    }
    if (bytes.size() > kMaxInPlaceWrite)
        return std::nullopt;
    return bytes;
}

// True when the edit replaces a line by one of the same length, which one write can do.
bool IsSameLengthReplace(const Document& document, const Edit& edit) {
    const std::string& text = edit.newLines.front().text;
    return edit.replace && !HasLineBreak(text) && text.size() <= kMaxInPlaceWrite &&
           text.size() == document.lines[edit.index].text.size();
}

// Puts back what a failed in-place write may have changed: the old length, or the old bytes.
void Undo(const std::string& path, uint64_t offset, const std::string& oldBytes, uint64_t oldSize) {
    CFile file;
    if (!file.Open(path, CFile::modeWrite | CFile::shareDenyWrite))
        return;
    try {
        if (oldBytes.empty()) {
            file.SetLength(oldSize);
        } else {
            file.Seek(static_cast<int64_t>(offset), CFile::begin);
            file.Write(oldBytes.data(), static_cast<uint32_t>(oldBytes.size()));
        }
        file.Close();
    } catch (const CFileException&) {
        file.Abort();
    }
}

// One single write of bytes at offset of an existing file. A write this small is never torn by
// a killed process, so the file holds the old or the new content.
bool WriteInPlace(const std::string& path, uint64_t offset, const std::string& bytes,
                  const std::string& oldBytes, uint64_t oldSize) {
    CFile file;
    if (!file.Open(path, CFile::modeWrite | CFile::shareDenyWrite))
        return false;
    try {
        file.Seek(static_cast<int64_t>(offset), CFile::begin);
        file.Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
        file.Close();
    } catch (const CFileException&) {
        file.Abort();
        Undo(path, offset, oldBytes, oldSize);
        return false;
    }
    return true;
}

bool WriteWholeFile(const std::string& path, const std::string& content) {
    CFile file;
    if (!file.Open(path, CFile::modeCreate | CFile::modeWrite | CFile::shareDenyWrite)) {
        return false;
    }
    try {
        file.Write(content.data(), static_cast<uint32_t>(content.size()));
        file.Close();
    } catch (const CFileException&) {
        file.Abort();
        RemoveFile(path);
        return false;
    }
    return true;
}

// Writes the edited document beside the file and puts it in place in one step, so a process
// killed at any instant leaves the old or the new content. Gives the new content.
std::optional<std::string> CommitByRewrite(const std::string& path, const Document& document,
                                           const Edit& edit) {
    std::vector<Line> lines = document.lines;
    if (edit.endAt)
        lines[*edit.endAt].end = LineEndOf(document);
    if (edit.replace) {
        lines[edit.index] = edit.newLines.front();
    } else {
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(edit.index), edit.newLines.begin(),
                     edit.newLines.end());
    }
    const std::string content = Render(lines);
    const std::string temporary = path + ".new";
    if (!WriteWholeFile(temporary, content))
        return std::nullopt;
    if (ReplaceFileAtomically(temporary, path))
        return content;
    RemoveFile(temporary);
    return std::nullopt;
}

void ApplyAppend(Document& document, const Edit& edit, const std::string& bytes) {
    Section* current = nullptr;
    if (!edit.newLines.empty() && !SectionNameOf(edit.newLines.front()) && document.lastHeader) {
        const auto name = SectionNameOf(document.lines[*document.lastHeader]);
        const auto found = document.sections.find(Lower(*name));
        if (found != document.sections.end() && found->second.header == *document.lastHeader)
            current = &found->second;
    }
    uint64_t offset = document.size;
    for (const Line& line : edit.newLines) {
        document.lines.push_back(line);
        document.offsets.push_back(offset);
        offset += line.text.size() + std::strlen(line.end);
        IndexLine(document, document.lines.size() - 1, current);
    }
    document.size += bytes.size();
}

// Writes the edit the cheapest crash-safe way and brings the model up to date.
bool Commit(const std::string& path, Model& model, const Edit& edit) {
    Document& document = model.document;
    if (const auto bytes = AppendedBytes(document, edit)) {
        if (!WriteInPlace(path, document.size, *bytes, "", document.size))
            return false;
        ApplyAppend(document, edit, *bytes);
        return true;
    }
    if (IsSameLengthReplace(document, edit)) {
        Line& line = document.lines[edit.index];
        if (!WriteInPlace(path, document.offsets[edit.index], edit.newLines.front().text, line.text,
                          document.size))
            return false;
        line.text = edit.newLines.front().text;
        return true;
    }
    const auto content = CommitByRewrite(path, document, edit);
    if (!content)
        return false;
    document = Parse(*content);
    return true;
}

// Takes the file's identity after this process wrote it: the model holds what was written, so
// it stays trusted while the file keeps that size and time.
void RememberOwnWrite(const std::string& path, Model& model) {
    CFileStatus status;
    if (!CFile::GetStatus(path, status) || status.size != model.document.size) {
        models.erase(path);
        return;
    }
    model.lastWriteTimeNs = status.lastWriteTimeNs;
    model.settled = true;
}

// Another path may name the same file; its model would not know of this write.
void ForgetOtherModels(const std::string& path) {
    for (auto i = models.begin(); i != models.end();)
        i = i->first == path ? std::next(i) : models.erase(i);
}

}  // namespace

std::string GetProfileString(const std::string& filePath, const std::string& section,
                             const std::string& key, const std::string& defaultValue) {
    const std::lock_guard<std::mutex> guard(modelsLock);
    CFileStatus status;
    const Model* model = CurrentModel(filePath, status);
    if (!model)
        return defaultValue.substr(0, kMaxValueLength);
    const Location location = Locate(model->document, section, key);
    const std::string value =
        location.key ? ValueOf(model->document.lines[*location.key]) : defaultValue;
    return value.substr(0, kMaxValueLength);
}

bool WriteProfileString(const std::string& filePath, const std::string& section,
                        const std::string& key, const std::string& value) {
    const std::lock_guard<std::mutex> guard(modelsLock);
    ForgetOtherModels(filePath);
    CFileStatus status;
    Model* model = CurrentModel(filePath, status);
    if (!model)
        return false;
    // A read-only state file stays as it is, as Windows keeps it.
    if (model->document.exists && (status.attributes & attributeReadOnly))
        return false;
    const std::optional<Edit> edit = PlanEdit(model->document, section, key, value);
    if (!edit)
        return true;
    if (!Commit(filePath, *model, *edit)) {
        models.erase(filePath);
        return false;
    }
    RememberOwnWrite(filePath, *model);
    return true;
}

}  // namespace platform

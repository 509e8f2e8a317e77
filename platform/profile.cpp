// INI profile files, one portable implementation over CFile: read one value, write one value.
#include "platform/profile.h"

#include <optional>
#include <vector>

#include "platform/file.h"
#include "platform/file_system.h"

namespace platform {

namespace {

constexpr size_t kMaxValueLength = 1023;
const std::string kNewLineEnd = "\r\n";

struct Line {
    std::string text;  // without its line end
    std::string end;   // "\r\n", "\n", or "" for a last line without one
};

struct Document {
    bool exists = false;
    std::vector<Line> lines;
};

// Where a section and key stand in a document; a missing one is nullopt.
struct Location {
    std::optional<size_t> section;   // its header line
    std::optional<size_t> key;       // the key's line inside the section
    std::optional<size_t> lastLine;  // last non-blank line of the section (the header at least)
};

// One change to the document: lines replaced or inserted at one place. Kept apart from its
// commit so that cheaper commits (in-place or appended writes) can be added without callers
// knowing.
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

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
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

// False when the file exists but cannot be read; a missing file is an empty document.
bool ReadDocument(const std::string& path, Document& document) {
    document = Document{};
    const uint32_t attributes = GetAttributes(path);
    if (attributes == invalidAttributes)
        return true;
    if (attributes & attributeFolder)
        return false;
    CFile file;
    if (!file.Open(path, CFile::modeRead | CFile::shareDenyWrite))
        return false;
    std::string content;
    try {
        char block[16384];
        while (const uint32_t count = file.Read(block, sizeof block)) content.append(block, count);
        file.Close();
    } catch (const CFileException&) {
        return false;
    }
    document.exists = true;
    document.lines = SplitLines(content);
    return true;
}

Location Locate(const Document& document, const std::string& section, const std::string& key) {
    Location location;
    for (size_t i = 0; i < document.lines.size(); ++i) {
        const Line& line = document.lines[i];
        if (const auto name = SectionNameOf(line)) {
            if (location.section)
                break;  // the section ended
            if (EqualIgnoringCase(*name, section))
                location.section = location.lastLine = i;
            continue;
        }
        if (!location.section)
            continue;
        if (!Trim(line.text).empty())
            location.lastLine = i;
        const auto name = KeyNameOf(line);
        if (!location.key && name && EqualIgnoringCase(*name, key))
            location.key = i;
    }
    return location;
}

// The line end new lines get: the file's own (its first line's), CRLF for a new file.
std::string LineEndOf(const Document& document) {
    if (!document.lines.empty() && !document.lines.front().end.empty()) {
        return document.lines.front().end;
    }
    return kNewLineEnd;
}

std::optional<size_t> UnendedLastLine(const Document& document, size_t insertAt) {
    if (insertAt == 0 || document.lines[insertAt - 1].end != "")
        return std::nullopt;
    return insertAt - 1;
}

// What to change for key=value; nullopt when the file already holds exactly that value.
std::optional<Edit> PlanEdit(const Document& document, const std::string& section,
                             const std::string& key, const std::string& value) {
    const Location location = Locate(document, section, key);
    const std::string end = LineEndOf(document);
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
// killed at any instant leaves the old or the new content.
bool CommitEdit(const std::string& path, Document document, const Edit& edit) {
    std::vector<Line>& lines = document.lines;
    if (edit.endAt)
        lines[*edit.endAt].end = LineEndOf(document);
    if (edit.replace) {
        lines[edit.index] = edit.newLines.front();
    } else {
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(edit.index), edit.newLines.begin(),
                     edit.newLines.end());
    }
    const std::string temporary = path + ".new";
    if (!WriteWholeFile(temporary, Render(lines)))
        return false;
    if (ReplaceFileAtomically(temporary, path))
        return true;
    RemoveFile(temporary);
    return false;
}

}  // namespace

std::string GetProfileString(const std::string& filePath, const std::string& section,
                             const std::string& key, const std::string& defaultValue) {
    Document document;
    if (!ReadDocument(filePath, document))
        return defaultValue.substr(0, kMaxValueLength);
    const Location location = Locate(document, section, key);
    const std::string value = location.key ? ValueOf(document.lines[*location.key]) : defaultValue;
    return value.substr(0, kMaxValueLength);
}

bool WriteProfileString(const std::string& filePath, const std::string& section,
                        const std::string& key, const std::string& value) {
    Document document;
    if (!ReadDocument(filePath, document))
        return false;
    // A read-only state file stays as it is, as Windows keeps it.
    if (document.exists && (GetAttributes(filePath) & attributeReadOnly))
        return false;
    const std::optional<Edit> edit = PlanEdit(document, section, key, value);
    if (!edit)
        return true;
    return CommitEdit(filePath, std::move(document), *edit);
}

}  // namespace platform

// INI profile files, one portable implementation over CFile: read one value, write one value.
//
// Each file is parsed once per run into a model with an index from (section, key) to its line,
// so that reading a value, or recording one more file of an install, does not cost the whole
// file again. The model is checked against the file's size and last-write time before every use
// and read again when either differs. Writes stay crash-safe: a new line at the very end of the
// file and a value replaced by one of the same length are one single write each (a killed process
// leaves the old or the new content); every other change writes the whole file beside it and
// puts it in place in one step.
//
// A file an editor saved with a byte-order mark (UTF-8, or UTF-16LE as Windows' own profile
// functions read it) stays in its encoding and keeps its mark, so that editor and program keep
// agreeing. Each of its lines keeps its file bytes beside its local text: lines the program does
// not change are written back byte for byte, even where the local code page cannot hold them;
// lines it writes are converted, and a value that cannot be converted fails the write. The
// single-write rules above hold for these files alike, as lengths are compared in file bytes.
// A file without a mark holds local text; on Linux, earlier versions wrote Windows-1252 there.
#include "platform/profile.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/code_page.h"
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

// How a file's text is stored, told by its byte-order mark.
enum class Encoding { plain, utf8Mark, utf16Mark };

struct Line {
    std::string text;        // local text, without its line end
    const char* end = "";    // "\r\n", "\n", "\r", or "" for a last line without one (a literal:
                             // a file of many thousand lines keeps no copy of it per line)
    std::string bytes = {};  // its file bytes in a file with a mark (in a plain file: the text)
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
    Encoding encoding = Encoding::plain;
    std::vector<Line> lines;
    std::vector<uint64_t> offsets;  // file offset of each line (after the mark)
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

std::string_view MarkOf(Encoding encoding) {
    switch (encoding) {
        case Encoding::utf8Mark:
            return "\xEF\xBB\xBF";
        case Encoding::utf16Mark:
            return "\xFF\xFE";
        default:
            return "";
    }
}

size_t UnitOf(Encoding encoding) {
    return encoding == Encoding::utf16Mark ? 2 : 1;
}

// A file of an odd length is no UTF-16, whatever its first bytes: read as such, every unit
// after the odd byte would be cut in two, and so would every line appended to it.
Encoding EncodingOf(const std::string& content) {
    for (const Encoding encoding : {Encoding::utf8Mark, Encoding::utf16Mark})
        if (content.starts_with(MarkOf(encoding)) && content.size() % UnitOf(encoding) == 0)
            return encoding;
    return Encoding::plain;
}

const std::string& BytesOf(Encoding encoding, const Line& line) {
    return encoding == Encoding::plain ? line.text : line.bytes;
}

std::string EndBytes(Encoding encoding, const char* end) {
    std::string bytes;
    for (; *end; ++end) {
        bytes += *end;
        if (encoding == Encoding::utf16Mark)
            bytes += '\0';
    }
    return bytes;
}

uint64_t FileLengthOf(Encoding encoding, const Line& line) {
    return BytesOf(encoding, line).size() + std::strlen(line.end) * UnitOf(encoding);
}

void AppendUtf8(std::string& utf8, uint32_t code) {
    if (code < 0x80) {
        utf8 += char(code);
    } else if (code < 0x800) {
        utf8 += char(0xC0 | code >> 6);
        utf8 += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        utf8 += char(0xE0 | code >> 12);
        utf8 += char(0x80 | (code >> 6 & 0x3F));
        utf8 += char(0x80 | (code & 0x3F));
    } else {
        utf8 += char(0xF0 | code >> 18);
        utf8 += char(0x80 | (code >> 12 & 0x3F));
        utf8 += char(0x80 | (code >> 6 & 0x3F));
        utf8 += char(0x80 | (code & 0x3F));
    }
}

// The code point of the valid UTF-8 sequence at i, moving i past it; nullopt, with i unmoved,
// where the bytes are not valid UTF-8 (overlong forms and surrogates included).
std::optional<uint32_t> NextCodePoint(const std::string& utf8, size_t& i) {
    const auto lead = uint8_t(utf8[i]);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    // Sequence length, payload bits of the lead byte, and the least code point of that length.
    struct Form {
        uint8_t first, last;
        size_t length;
        uint32_t mask, least;
    };
    static constexpr Form forms[] = {
        {0xC2, 0xDF, 2, 0x1F, 0x80}, {0xE0, 0xEF, 3, 0x0F, 0x800}, {0xF0, 0xF4, 4, 0x07, 0x10000}};
    const Form* form = nullptr;
    for (const Form& candidate : forms)
        if (lead >= candidate.first && lead <= candidate.last)
            form = &candidate;
    if (!form)
        return std::nullopt;
    const size_t length = form->length;
    const uint32_t least = form->least;
    uint32_t code = lead & form->mask;
    if (utf8.size() - i < length)
        return std::nullopt;
    for (size_t k = 1; k < length; ++k) {
        const auto next = uint8_t(utf8[i + k]);
        if ((next & 0xC0) != 0x80)
            return std::nullopt;
        code = code << 6 | (next & 0x3Fu);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000))
        return std::nullopt;
    i += length;
    return code;
}

// UTF-16LE to UTF-8. An unpaired surrogate or a lone last byte reads as '?': such a line is kept
// by its bytes, never rewritten from this text.
std::string Utf16ToUtf8(const std::string& bytes) {
    const auto unitAt = [&bytes](size_t i) {
        return uint32_t(uint8_t(bytes[i])) | uint32_t(uint8_t(bytes[i + 1])) << 8;
    };
    std::string utf8;
    size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
        uint32_t code = unitAt(i);
        if (code >= 0xD800 && code < 0xDC00 && i + 3 < bytes.size()) {
            const uint32_t low = unitAt(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (code >= 0xD800 && code < 0xE000)
            utf8 += '?';
        else
            AppendUtf8(utf8, code);
    }
    if (i < bytes.size())
        utf8 += '?';
    return utf8;
}

// UTF-8 to UTF-16LE; false when the text is not valid UTF-8.
bool Utf8ToUtf16(const std::string& utf8, std::string& bytes) {
    const auto appendUnit = [&bytes](uint32_t unit) {
        bytes += char(unit & 0xFF);
        bytes += char(unit >> 8);
    };
    bytes.clear();
    for (size_t i = 0; i < utf8.size();) {
        const std::optional<uint32_t> code = NextCodePoint(utf8, i);
        if (!code)
            return false;
        if (*code < 0x10000) {
            appendUnit(*code);
            continue;
        }
        appendUnit(0xD800 + ((*code - 0x10000) >> 10));
        appendUnit(0xDC00 + ((*code - 0x10000) & 0x3FF));
    }
    return true;
}

// The local text of UTF-8 from a file with a mark. A character the local code page cannot hold
// reads as '?', as Windows' own profile functions give it; its line keeps its bytes.
std::string LocalTextOf(const std::string& utf8) {
    std::string local;
    if (Utf8ToLocal(utf8, local))
        return local;
    local.clear();
    for (size_t i = 0; i < utf8.size();) {
        const size_t start = i;
        std::string character;
        if (NextCodePoint(utf8, i) && Utf8ToLocal(utf8.substr(start, i - start), character)) {
            local += character;
            continue;
        }
        i = std::max(i, start + 1);
        local += '?';
    }
    return local;
}

Line MakeLine(Encoding encoding, std::string bytes, const char* end) {
    switch (encoding) {
        case Encoding::utf8Mark:
            return {LocalTextOf(bytes), end, std::move(bytes)};
        case Encoding::utf16Mark:
            return {LocalTextOf(Utf16ToUtf8(bytes)), end, std::move(bytes)};
        default:
            return {std::move(bytes), end, {}};
    }
}

// Gives the file bytes of a line the program writes; false when its text cannot be stored in the
// file's encoding.
bool Encode(Encoding encoding, Line& line) {
    std::string utf8;
    switch (encoding) {
        case Encoding::utf8Mark:
            return LocalToUtf8(line.text, line.bytes);
        case Encoding::utf16Mark:
            return LocalToUtf8(line.text, utf8) && Utf8ToUtf16(utf8, line.bytes);
        default:
            return true;
    }
}

// True when the unit (of unit bytes) at offset at, before limit, is the ASCII character c.
bool IsUnit(const std::string& content, size_t at, size_t limit, size_t unit, char c) {
    return at < limit && content[at] == c && (unit == 1 || content[at + 1] == '\0');
}

// Where the first CR or LF at or after from starts; limit when there is none.
size_t FindLineEnd(const std::string& content, size_t from, size_t limit, size_t unit) {
    if (unit == 1)
        return std::min(content.find_first_of("\r\n", from), limit);
    for (; from < limit; from += unit)
        if (IsUnit(content, from, limit, unit, '\r') || IsUnit(content, from, limit, unit, '\n'))
            return from;
    return limit;
}

std::vector<Line> SplitLines(const std::string& content, Encoding encoding) {
    const size_t unit = UnitOf(encoding);
    size_t start = MarkOf(encoding).size();
    // A lone last byte of a UTF-16 file stays in its last line.
    const size_t limit = content.size() - (content.size() - start) % unit;
    std::vector<Line> lines;
    while (start < content.size()) {
        const size_t end = FindLineEnd(content, start, limit, unit);
        if (end == limit) {
            lines.push_back(MakeLine(encoding, content.substr(start), ""));
            break;
        }
        const bool crlf = content[end] == '\r' && IsUnit(content, end + unit, limit, unit, '\n');
        const char* const lineEnd = crlf ? "\r\n" : content[end] == '\r' ? "\r" : "\n";
        lines.push_back(MakeLine(encoding, content.substr(start, end - start), lineEnd));
        start = end + std::strlen(lineEnd) * unit;
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
    document.encoding = EncodingOf(content);
    document.lines = SplitLines(content, document.encoding);
    document.size = content.size();
    document.offsets.reserve(document.lines.size());
    uint64_t offset = MarkOf(document.encoding).size();
    Section* current = nullptr;
    for (size_t i = 0; i < document.lines.size(); ++i) {
        document.offsets.push_back(offset);
        offset += FileLengthOf(document.encoding, document.lines[i]);
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

std::string Render(Encoding encoding, const std::vector<Line>& lines) {
    std::string content(MarkOf(encoding));
    for (const Line& line : lines)
        content += BytesOf(encoding, line) + EndBytes(encoding, line.end);
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
        bytes += BytesOf(document.encoding, line) + EndBytes(document.encoding, line.end);
    }
    if (bytes.size() > kMaxInPlaceWrite)
        return std::nullopt;
    return bytes;
}

// True when the edit replaces a line by one of the same length, which one write can do.
bool IsSameLengthReplace(const Document& document, const Edit& edit) {
    const Line& line = edit.newLines.front();
    const std::string& bytes = BytesOf(document.encoding, line);
    return edit.replace && !HasLineBreak(line.text) && bytes.size() <= kMaxInPlaceWrite &&
           bytes.size() == BytesOf(document.encoding, document.lines[edit.index]).size();
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
    const std::string content = Render(document.encoding, lines);
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
        offset += FileLengthOf(document.encoding, line);
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
        const Line& newLine = edit.newLines.front();
        if (!WriteInPlace(path, document.offsets[edit.index], BytesOf(document.encoding, newLine),
                          BytesOf(document.encoding, line), document.size))
            return false;
        line = newLine;
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
    if (!location.key)
        return defaultValue.substr(0, kMaxValueLength);
    std::string value = ValueOf(model->document.lines[*location.key]);
    if (model->document.encoding == Encoding::plain)
        value = StoredTextToLocal(value);
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
    std::optional<Edit> edit = PlanEdit(model->document, section, key, value);
    if (!edit)
        return true;
    for (Line& line : edit->newLines)
        if (!Encode(model->document.encoding, line))
            return false;
    if (!Commit(filePath, *model, *edit)) {
        models.erase(filePath);
        return false;
    }
    RememberOwnWrite(filePath, *model);
    return true;
}

}  // namespace platform

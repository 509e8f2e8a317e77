// Reading and indexing profile files.
//
// Costs: a lookup hashes the names and reads the one line it finds (expected O(1), plus O(log h)
// over h headers to tell a key's section); indexing costs each line once.
#include "platform/profile_document.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "platform/system.h"

namespace platform::profile {

namespace {

const char* const kNewLineEnd = "\r\n";

}  // namespace

std::string_view Trim(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

char LowerChar(char c) {
    return c >= 'A' && c <= 'Z' ? char(c + 32) : c;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerChar(x) == LowerChar(y);
           });
}

// Differs from run to run, so that no file can be made to pile its names on one slot.
uint64_t RunSeed() {
    static const uint64_t seed =
        uint64_t(GetSystemTimeNs()) ^ uint64_t(reinterpret_cast<uintptr_t>(&seed));
    return seed;
}

// FNV-1a of the name in lower case, seeded (a key's section, and the run), then mixed so that
// the low bits the table uses depend on every byte.
uint64_t HashOf(std::string_view name, uint64_t seed) {
    uint64_t hash = 14695981039346656037ull ^ ((seed + RunSeed()) * 0x9E3779B97F4A7C15ull);
    for (const char c : name) hash = (hash ^ uint8_t(LowerChar(c))) * 1099511628211ull;
    hash ^= hash >> 33;
    hash *= 0xFF51AFD7ED558CCDull;
    hash ^= hash >> 33;
    return hash;
}

// The name of a header line's section, from its trimmed text.
std::optional<std::string_view> SectionNameOf(std::string_view text) {
    if (text.empty() || text[0] != '[')
        return std::nullopt;
    const size_t close = text.find(']');
    if (close == std::string_view::npos)
        return std::nullopt;
    return Trim(text.substr(1, close - 1));
}

// The key of a key line, from its trimmed text.
std::optional<std::string_view> KeyNameOf(std::string_view text) {
    if (text.empty() || text[0] == ';')
        return std::nullopt;
    const size_t equals = text.find('=');
    if (equals == std::string_view::npos)
        return std::nullopt;
    return Trim(text.substr(0, equals));
}

std::string_view ValueOf(std::string_view text) {
    return Trim(text.substr(text.find('=') + 1));
}

// Where the first CR or LF at or after from starts; the content's size when there is none.
size_t FindLineEnd(const std::string& content, size_t from, size_t unit) {
    if (unit == 1) {
        // A plain loop: find_first_of looks each byte up in the set with a call of its own.
        for (; from < content.size(); ++from)
            if (content[from] == '\r' || content[from] == '\n')
                return from;
        return content.size();
    }
    for (; from < content.size(); from += unit)
        if (IsUnit(content, from, unit, '\r') || IsUnit(content, from, unit, '\n'))
            return from;
    return content.size();
}

// The line that starts at start. A CR alone ends a line, as in Windows' profile functions.
LineSpan LineAt(const Document& document, size_t start) {
    const std::string& content = document.content;
    const size_t unit = UnitOf(document.encoding);
    const size_t end = FindLineEnd(content, start, unit);
    if (end == content.size())
        return {start, end, end, ""};
    const bool crlf = content[end] == '\r' && IsUnit(content, end + unit, unit, '\n');
    const char* const lineEnd = crlf ? "\r\n" : content[end] == '\r' ? "\r" : "\n";
    return {start, end, end + std::strlen(lineEnd) * unit, lineEnd};
}

// True when a line starting at offset would start a line of its own: at the top of the text or
// after a line end.
bool StartsLine(const Document& document, size_t offset) {
    const size_t unit = UnitOf(document.encoding);
    if (offset <= MarkOf(document.encoding).size())
        return true;
    return IsUnit(document.content, offset - unit, unit, '\r') ||
           IsUnit(document.content, offset - unit, unit, '\n');
}

// The local text of a line, trimmed: in a plain file its own bytes (no copy), else decoded into
// buffer. A character the local code page cannot hold reads as '?'; its line keeps its bytes.
std::string_view TextOf(const Document& document, const LineSpan& line, std::string& buffer) {
    const std::string_view bytes =
        std::string_view(document.content).substr(line.start, line.end - line.start);
    switch (document.encoding) {
        case Encoding::utf8Mark:
            buffer = LocalTextOf(std::string(bytes));
            return Trim(buffer);
        case Encoding::utf16Mark:
            buffer = LocalTextOf(Utf16ToUtf8(bytes));
            return Trim(buffer);
        default:
            return Trim(bytes);
    }
}

std::string_view SectionNameAt(const Document& document, uint32_t header, std::string& buffer) {
    const LineSpan line = LineAt(document, document.headers[header].offset);
    return SectionNameOf(TextOf(document, line, buffer)).value_or("");
}

std::string_view KeyNameAt(const Document& document, uint32_t offset, std::string& buffer) {
    return KeyNameOf(TextOf(document, LineAt(document, offset), buffer)).value_or("");
}

// The first header of the section the line at offset belongs to; kNone outside a section and
// inside a repeated one.
uint32_t SectionOf(const Document& document, uint32_t offset) {
    const auto after = std::upper_bound(
        document.headers.begin(), document.headers.end(), offset,
        [](uint32_t value, const Header& header) { return value < header.offset; });
    if (after == document.headers.begin() || std::prev(after)->insertAt == kNone)
        return kNone;
    return uint32_t(std::prev(after) - document.headers.begin());
}

std::optional<uint32_t> FindSection(const Document& document, std::string_view name) {
    std::string buffer;
    return document.sections.Find(HashOf(name, 0), [&](uint32_t header) {
        return SameName(SectionNameAt(document, header, buffer), name);
    });
}

// The offset of the key's line in the section of header.
std::optional<uint32_t> FindKey(const Document& document, uint32_t header, std::string_view key) {
    std::string buffer;
    return document.keys.Find(HashOf(key, header), [&](uint32_t offset) {
        return SectionOf(document, offset) == header &&
               SameName(KeyNameAt(document, offset, buffer), key);
    });
}

void AddHeader(Document& document, const LineSpan& line, std::string_view name) {
    const auto number = uint32_t(document.headers.size());
    document.headers.push_back({uint32_t(line.start), uint32_t(line.next)});
    std::string buffer;
    const bool first = document.sections.Add(
        HashOf(name, 0), number,
        [&](uint32_t header) { return SameName(SectionNameAt(document, header, buffer), name); },
        [&](uint32_t header) { return HashOf(SectionNameAt(document, header, buffer), 0); });
    if (!first)
        document.headers.back().insertAt = kNone;
    document.current = first ? number : kNone;
}

void AddKey(Document& document, const LineSpan& line, std::string_view key) {
    const uint32_t header = document.current;
    std::string buffer;
    document.keys.Add(
        HashOf(key, header), uint32_t(line.start),
        [&](uint32_t offset) {
            return SectionOf(document, offset) == header &&
                   SameName(KeyNameAt(document, offset, buffer), key);
        },
        [&](uint32_t offset) {
            return HashOf(KeyNameAt(document, offset, buffer), SectionOf(document, offset));
        });
}

// Takes one line into the index. Only a section's first occurrence counts; keys outside a
// section or in a repeated one are not seen, and a key's first line in its section holds it.
void IndexLine(Document& document, const LineSpan& line) {
    if (!document.firstEnd && *line.lineEnd)
        document.firstEnd = line.lineEnd;
    std::string buffer;
    const std::string_view text = TextOf(document, line, buffer);
    if (text.empty())
        return;
    document.hasText = true;
    if (const auto name = SectionNameOf(text)) {
        AddHeader(document, line, *name);
        return;
    }
    if (document.current == kNone)
        return;
    document.headers[document.current].insertAt = uint32_t(line.next);
    if (const auto key = KeyNameOf(text))
        AddKey(document, line, *key);
}

// Runs of line ends are blank lines, which change nothing once the file's first line end is
// known: they are passed over without a look at each.
size_t SkipBlankLines(const Document& document, size_t start) {
    const size_t unit = UnitOf(document.encoding);
    if (!document.firstEnd)
        return start;
    while (IsUnit(document.content, start, unit, '\n') ||
           IsUnit(document.content, start, unit, '\r'))
        start += unit;
    return start;
}

void IndexFrom(Document& document, size_t start) {
    while ((start = SkipBlankLines(document, start)) < document.content.size()) {
        const LineSpan line = LineAt(document, start);
        IndexLine(document, line);
        start = line.next;
    }
}

// True when the decoded text holds a NUL: a byte, or in UTF-16 a code unit.
bool HoldsNul(const std::string& content, Encoding encoding) {
    const size_t from = MarkOf(encoding).size();
    if (encoding != Encoding::utf16Mark)
        return content.find('\0', from) != std::string::npos;
    for (size_t i = from; i + 1 < content.size(); i += 2)
        if (content[i] == '\0' && content[i + 1] == '\0')
            return true;
    return false;
}

Document Parse(std::string content) {
    Document document;
    document.exists = true;
    document.encoding = EncodingOf(content);
    if (HoldsNul(content, document.encoding) || IsBrokenUtf16(content, document.encoding)) {
        document.refused = true;
        return document;
    }
    document.content = std::move(content);
    IndexFrom(document, MarkOf(document.encoding).size());
    return document;
}

// The line end new lines get: the file's own (its first line's), CRLF for a new file.
const char* LineEndOf(const Document& document) {
    return document.firstEnd ? document.firstEnd : kNewLineEnd;
}

bool EndsWithLineEnd(const std::string& bytes, Encoding encoding) {
    const size_t unit = UnitOf(encoding);
    return bytes.size() >= unit && (IsUnit(bytes, bytes.size() - unit, unit, '\r') ||
                                    IsUnit(bytes, bytes.size() - unit, unit, '\n'));
}

// The bytes of the line at start, with its line end; a last line without one gets end.
std::string LineBytes(const Document& document, const LineSpan& line, const std::string& end) {
    const std::string bytes = document.content.substr(line.start, line.next - line.start);
    return *line.lineEnd ? bytes : bytes + end;
}

// The file's content with the section of header written anew (see WriteProfileSection), or
// nullopt when a new text cannot be stored in the file's encoding.
std::optional<std::string> SectionRewritten(const Document& document,
                                            std::optional<uint32_t> header,
                                            const std::string& section,
                                            const std::function<bool(std::string_view)>& keepKey,
                                            const std::vector<ProfileValue>& values) {
    const std::string& content = document.content;
    const std::string end = EndBytes(document.encoding, LineEndOf(document));
    const size_t markSize = MarkOf(document.encoding).size();
    const auto encodedLine = [&](const std::string& text) -> std::optional<std::string> {
        std::string bytes;
        if (!Encode(document.encoding, text, bytes))
            return std::nullopt;
        return bytes + end;
    };
    size_t sectionStart = content.size();
    size_t sectionEnd = content.size();
    std::string sectionBytes;
    std::vector<bool> written(values.size(), false);
    if (header) {
        sectionStart = document.headers[*header].offset;
        if (*header + 1 < document.headers.size())
            sectionEnd = document.headers[*header + 1].offset;
        std::string pendingBlanks;  // blank lines are kept only when a line follows them
        for (size_t start = sectionStart; start < sectionEnd;) {
            const LineSpan line = LineAt(document, start);
            start = line.next;
            std::string buffer;
            const std::string_view text = TextOf(document, line, buffer);
            if (text.empty()) {
                pendingBlanks += LineBytes(document, line, end);
                continue;
            }
            std::string lineBytes = LineBytes(document, line, end);
            if (line.start != sectionStart) {
                if (const auto key = KeyNameOf(text)) {
                    if (!keepKey(*key))
                        continue;
                    const auto value =
                        std::find_if(values.begin(), values.end(),
                                     [&](const ProfileValue& v) { return SameName(v.key, *key); });
                    if (value != values.end()) {
                        const size_t at = size_t(value - values.begin());
                        if (written[at])
                            continue;  // a later line of a key is never read
                        written[at] = true;
                        const auto bytes = encodedLine(std::string(*key) + "=" + value->value);
                        if (!bytes)
                            return std::nullopt;
                        lineBytes = *bytes;
                    }
                }
            }
            sectionBytes += pendingBlanks + lineBytes;
            pendingBlanks.clear();
        }
    } else {
        const auto bytes = encodedLine("[" + section + "]");
        if (!bytes)
            return std::nullopt;
        sectionBytes = *bytes;
    }
    for (size_t i = 0; i < values.size(); ++i) {
        if (written[i])
            continue;
        const auto bytes = encodedLine(values[i].key + "=" + values[i].value);
        if (!bytes)
            return std::nullopt;
        sectionBytes += *bytes;
    }
    const std::string before = content.substr(0, sectionStart);
    const std::string after = content.substr(sectionEnd);
    // Moved behind a later header of its own name, the section would be hidden by it.
    std::string buffer;
    for (size_t later = header ? *header + 1 : document.headers.size();
         later < document.headers.size(); ++later) {
        if (SameName(SectionNameAt(document, uint32_t(later), buffer), section))
            return before + sectionBytes + after;
    }
    std::string rest = before + after;
    if (rest.size() > markSize && !EndsWithLineEnd(rest, document.encoding))
        rest += end;
    return rest + sectionBytes;
}

}  // namespace platform::profile

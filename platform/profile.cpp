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
const char* const kNewLineEnd = "\r\n";
constexpr uint32_t kNone = 0xFFFFFFFF;

// How a file's text is stored, told by its byte-order mark.
enum class Encoding { plain, utf8Mark, utf16Mark };

// A set of values below 2^24 (line offsets, header numbers) found by a hash of the name they
// point at in the file: open addressing, one 32-bit slot each, at most three quarters full. The
// top byte of a slot holds 8 bits of its name's hash, so a probe reads the file only when those
// agree. A map of strings would hold a copy of each name and a heap node per entry, many times
// the line itself.
class NameTable {
public:
    // The value whose name matches; hash is the hash of the name sought.
    template <class Matches>
    std::optional<uint32_t> Find(uint64_t hash, const Matches& matches) const {
        if (slots.empty())
            return std::nullopt;
        const size_t mask = slots.size() - 1;
        const uint32_t tag = TagOf(hash);
        for (size_t i = hash & mask; slots[i] != kNone; i = (i + 1) & mask)
            if ((slots[i] & ~kValueMask) == tag && matches(slots[i] & kValueMask))
                return slots[i] & kValueMask;
        return std::nullopt;
    }

    // Adds value unless a value of the same name is there; false when one is. hashOf gives the
    // hash of a value already held, for growing.
    template <class Matches, class HashOf>
    bool Add(uint64_t hash, uint32_t value, const Matches& matches, const HashOf& hashOf) {
        if (Find(hash, matches))
            return false;
        if ((count + 1) * 4 > slots.size() * 3)
            Grow(hashOf);
        Place(hash, value);
        ++count;
        return true;
    }

private:
    static constexpr uint32_t kValueMask = 0xFFFFFF;

    // Never 0xFF, so that no slot in use reads as kNone.
    static uint32_t TagOf(uint64_t hash) { return uint32_t(hash >> 56) % 255 << 24; }

    template <class HashOf>
    void Grow(const HashOf& hashOf) {
        std::vector<uint32_t> old(std::max<size_t>(16, slots.size() * 2), kNone);
        old.swap(slots);
        for (const uint32_t slot : old)
            if (slot != kNone)
                Place(hashOf(slot & kValueMask), slot & kValueMask);
    }

    void Place(uint64_t hash, uint32_t value) {
        const size_t mask = slots.size() - 1;
        size_t i = hash & mask;
        while (slots[i] != kNone) i = (i + 1) & mask;
        slots[i] = TagOf(hash) | value;
    }

    std::vector<uint32_t> slots;
    size_t count = 0;
};

// A section header line. Lookups see a section at its first header only.
struct Header {
    uint32_t offset = 0;    // where the line starts
    uint32_t insertAt = 0;  // where a new key of the section goes: after the line end of its last
                            // non-blank line; kNone for a repeated header
};

// A file as read: its bytes and where its sections and keys stand.
struct Document {
    bool exists = false;
    bool refused = false;  // it holds a NUL: no text to parse, dropped unread
    bool hasText = false;  // some line holds more than blanks
    Encoding encoding = Encoding::plain;
    std::string content;             // the whole file, mark included
    const char* firstEnd = nullptr;  // the line end of its first line, when it has one
    std::vector<Header> headers;     // every header line, in file order
    NameTable sections;              // first headers, by name: numbers into headers
    NameTable keys;                  // key lines, by section and name: their offsets
    uint32_t current = kNone;        // the header whose section the file's end belongs to
};

// A document and the identity of the file it was taken from.
struct Model {
    Document document;
    uint64_t size = 0;
    int64_t lastWriteTimeNs = 0;
    // False when the file was read while it could still change within the same step of its
    // time unnoticed by its size and time; such a model is read again before its next use.
    bool settled = false;
};

// One line of a document: its text in [start, end), the next line at next.
struct LineSpan {
    size_t start = 0;
    size_t end = 0;
    size_t next = 0;
    const char* lineEnd = "";  // "\r\n", "\n", "\r", or "" for a last line without one
};

// One change: the bytes [start, end) replaced by new lines.
struct Edit {
    size_t start = 0;
    size_t end = 0;
    bool replace = false;            // one line's text replaced; it keeps its line end
    bool endFirst = false;           // the line before start first gets a line end
    std::vector<std::string> lines;  // local texts of what goes there
};

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

Encoding EncodingOf(const std::string& content) {
    for (const Encoding encoding : {Encoding::utf8Mark, Encoding::utf16Mark})
        if (content.starts_with(MarkOf(encoding)))
            return encoding;
    return Encoding::plain;
}

// A file that starts with the UTF-16 mark but has an odd length is no UTF-16, nor plain text
// that a write could keep as such (a line appended could make its length even and its text
// UTF-16): it is refused like a file holding a NUL.
bool IsBrokenUtf16(const std::string& content, Encoding encoding) {
    return encoding == Encoding::utf16Mark && content.size() % UnitOf(encoding) != 0;
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
std::string Utf16ToUtf8(std::string_view bytes) {
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

// The file bytes of a line the program writes, without its line end; false when its text cannot
// be stored in the file's encoding.
bool Encode(Encoding encoding, const std::string& text, std::string& bytes) {
    std::string utf8;
    switch (encoding) {
        case Encoding::utf8Mark:
            return LocalToUtf8(text, bytes);
        case Encoding::utf16Mark:
            return LocalToUtf8(text, utf8) && Utf8ToUtf16(utf8, bytes);
        default:
            bytes = text;
            return true;
    }
}

// True when the unit (of unit bytes) at offset at is the ASCII character c.
bool IsUnit(const std::string& content, size_t at, size_t unit, char c) {
    return at + unit <= content.size() && content[at] == c &&
           (unit == 1 || content[at + 1] == '\0');
}

// Where the first CR or LF at or after from starts; the content's size when there is none.
size_t FindLineEnd(const std::string& content, size_t from, size_t unit) {
    if (unit == 1)
        return std::min(content.find_first_of("\r\n", from), content.size());
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

// The line end new lines get: the file's own (its first line's), CRLF for a new file.
const char* LineEndOf(const Document& document) {
    return document.firstEnd ? document.firstEnd : kNewLineEnd;
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

// Writes the new content beside the file and puts it in place in one step, so a process killed
// at any instant leaves the old or the new content.
bool Rewrite(const std::string& path, const std::string& content) {
    const std::string temporary = path + ".new";
    if (!WriteWholeFile(temporary, content))
        return false;
    if (ReplaceFileAtomically(temporary, path))
        return true;
    RemoveFile(temporary);
    return false;
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

std::string GetProfileString(const std::string& filePath, const std::string& section,
                             const std::string& key, const std::string& defaultValue) {
    const std::lock_guard<std::mutex> guard(modelsLock);
    CFileStatus status;
    const Model* model = CurrentModel(filePath, status);
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

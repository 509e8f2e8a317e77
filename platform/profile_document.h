// A profile file as read: its bytes, and an index of where its sections and keys stand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/profile.h"
#include "platform/profile_text.h"

namespace platform::profile {

constexpr uint32_t kNone = 0xFFFFFFFF;

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

// One line of a document: its text in [start, end), the next line at next.
struct LineSpan {
    size_t start = 0;
    size_t end = 0;
    size_t next = 0;
    const char* lineEnd = "";  // "\r\n", "\n", "\r", or "" for a last line without one
};

bool SameName(std::string_view a, std::string_view b);             // ignoring ASCII letter case
std::optional<std::string_view> KeyNameOf(std::string_view text);  // of a key line's text
std::string_view ValueOf(std::string_view text);                   // of a key line's text
// The line that starts at start. A CR alone ends a line, as in Windows' profile functions.
LineSpan LineAt(const Document& document, size_t start);
// True when a line starting at offset would start a line of its own.
bool StartsLine(const Document& document, size_t offset);
// The local text of a line, trimmed; buffer holds it where it had to be decoded.
std::string_view TextOf(const Document& document, const LineSpan& line, std::string& buffer);
std::string_view SectionNameAt(const Document& document, uint32_t header, std::string& buffer);
std::optional<uint32_t> FindSection(const Document& document, std::string_view name);
// The offset of the key's line in the section of header.
std::optional<uint32_t> FindKey(const Document& document, uint32_t header, std::string_view key);
// Indexes the lines from start on (after bytes appended at start).
void IndexFrom(Document& document, size_t start);
Document Parse(std::string content);

// The line end new lines get: the file's own (its first line's), CRLF for a new file.
const char* LineEndOf(const Document& document);
// The file's content with the section of header written anew as the last part of the file: its
// key lines whose key keepKey refuses dropped, values set, blank lines at its end dropped (see
// WriteProfileSection); nullopt when a new text cannot be stored in the file's encoding.
std::optional<std::string> SectionRewritten(const Document& document,
                                            std::optional<uint32_t> header,
                                            const std::string& section,
                                            const std::function<bool(std::string_view)>& keepKey,
                                            const std::vector<ProfileValue>& values);

}  // namespace platform::profile

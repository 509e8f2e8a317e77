// The encodings a profile file may be stored in, told by its byte-order mark, and the conversions
// between them and the program's local text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform::profile {

// How a file's text is stored, told by its byte-order mark.
enum class Encoding { plain, utf8Mark, utf16Mark };

std::string_view MarkOf(Encoding encoding);
size_t UnitOf(Encoding encoding);  // bytes per code unit
Encoding EncodingOf(const std::string& content);
// A file that starts with the UTF-16 mark but has an odd length is no UTF-16, nor plain text
// that a write could keep as such: it is refused like a file holding a NUL.
bool IsBrokenUtf16(const std::string& content, Encoding encoding);
// The bytes of an ASCII line end in the encoding.
std::string EndBytes(Encoding encoding, const char* end);
// True when the unit (of unit bytes) at offset at is the ASCII character c.
bool IsUnit(const std::string& content, size_t at, size_t unit, char c);
std::string Utf16ToUtf8(std::string_view bytes);
bool Utf8ToUtf16(const std::string& utf8, std::string& bytes);
// UTF-8 as local text; a character the local code page cannot hold reads as '?'.
std::string LocalTextOf(const std::string& utf8);
// Local text in the file's encoding; false when it cannot be stored there.
bool Encode(Encoding encoding, const std::string& text, std::string& bytes);

}  // namespace platform::profile

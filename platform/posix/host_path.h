// The one boundary between the program's texts (Windows-1252, backslashes) and the host's (UTF-8,
// '/').
#pragma once

#include <string>

namespace platform::posix {

// Every path that reaches the kernel goes through here: backslashes become '/', Windows-1252
// bytes become UTF-8, and existing components are matched regardless of letter case, as Windows
// matches them (see name_cache.h). Callers that create, delete or rename names tell the cache
// through EntryChange.
std::string HostPath(const std::string& path);
// A host path in the program's form: UTF-8 to Windows-1252 ('?' for what it cannot hold), '/'
// to backslash.
std::string ProgramPath(const std::string& hostPath);

// Text conversions without the separator change (console output, arguments, names on disk).
std::string AnsiToUtf8(const std::string& text);
std::string Utf8ToAnsi(const std::string& text);
// True when text is valid UTF-8 whose every character Windows-1252 can hold.
bool IsConvertibleUtf8(const std::string& text);

}  // namespace platform::posix

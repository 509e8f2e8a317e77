// The program's text model: which code pages names pass through, and how names compare.
//
// Inside the program every text is in the local code page: the system's ANSI code page on
// Windows, UTF-8 on Linux. Entry names in archives are in the OEM code page, or in UTF-8 where
// the entry says so. A conversion that would change a name answers false instead of mangling
// it, so that a name the program cannot give back exactly is refused before anything is done
// for it.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// OEM (the archive's legacy form) to local text; false when the local code page cannot hold it.
bool OemToLocal(const std::string& oem, std::string& local);
// UTF-8 to local text; false when it is not valid UTF-8 or the local code page cannot hold it.
bool Utf8ToLocal(const std::string& utf8, std::string& local);
// Local text to OEM; true only when the OEM text converts back to exactly the same local text.
bool LocalToOem(const std::string& local, std::string& oem);
// Local text to UTF-8; false when the local text is not valid (on Linux: not valid UTF-8).
bool LocalToUtf8(const std::string& local, std::string& utf8);

// Text read from a file the program wrote in an earlier version (state file values): unchanged
// where it is valid local text; on Linux, where earlier versions wrote Windows-1252, a value that
// is not valid UTF-8 is taken as Windows-1252.
std::string StoredTextToLocal(const std::string& stored);

// Collation of names as the engine's name index orders them. The case-insensitive form
// compares names as the file system matches them (Windows: its own case table; Linux: Unicode
// simple case folding).
int CollateNames(const std::string& a, const std::string& b);
int CollateNamesNoCase(const std::string& a, const std::string& b);

// True when byte is the first byte of a double-byte character in the local code page (never on
// Linux, where UTF-8 continuation bytes are never '\\', '/' or '.').
bool IsLeadByte(uint8_t byte);

}  // namespace platform

// Process-wide services: start-up, own path, console, clock, code pages, name collation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// Initialises what the platform needs; argv[0] is kept for GetOwnPath. False on failure.
bool InitApplication(int argc, char** argv);

// The program file's full path: GetModuleFileNameA on Windows; on Linux the path the program
// was started by, made absolute without resolving symbolic links (/proc/self/exe as fallback).
std::string GetOwnPath();

// All console output goes through here, to standard output (converted for the host console).
void Print(const std::string& text);
void Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Waits for one key without echo; returns at once when standard input is no terminal or ended.
void WaitForKey();

uint32_t GetTickCountMs();  // milliseconds of a monotonic clock, wrapping at 2^32
int64_t GetSystemTimeNs();  // the wall clock that file times come from, nanoseconds since 1970

// Converts in place, byte for byte, between the ANSI and the OEM code page.
void AnsiToOem(char* text, size_t length);
void OemToAnsi(char* text, size_t length);

// Collation of names as the engine's name index orders them; the case-insensitive form
// ignores the letter case of the ANSI code page.
int CollateNames(const std::string& a, const std::string& b);
int CollateNamesNoCase(const std::string& a, const std::string& b);

}  // namespace platform

namespace platform {
// True when byte is the first byte of a double-byte character in the ANSI code page
// (never on Linux, whose ANSI code page is Windows-1252).
bool IsLeadByte(uint8_t byte);
}  // namespace platform

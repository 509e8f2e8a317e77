// Process-wide services: start-up, own path, console, clock.
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

// All console output goes through here, to standard output, byte for byte.
void Print(const std::string& text);
void Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Waits for one key without echo; returns at once when standard input is no terminal or ended.
void WaitForKey();

uint32_t GetTickCountMs();  // milliseconds of a monotonic clock, wrapping at 2^32
int64_t GetSystemTimeNs();  // the wall clock that file times come from, nanoseconds since 1970

}  // namespace platform

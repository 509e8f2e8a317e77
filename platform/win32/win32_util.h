// Small pieces the Windows files of the platform layer share: handle casts and time conversion.
#pragma once

#include <windows.h>
// windows.h maps these to its own functions by macro; the platform layer declares its own.
#undef AnsiToOem
#undef OemToAnsi
#undef GetProfileString
#undef WriteProfileString

#include <cstdint>
#include <ctime>
#include <string>

namespace platform::win32 {

inline HANDLE ToHandle(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}
inline intptr_t FromHandle(HANDLE handle) {
    return reinterpret_cast<intptr_t>(handle);
}

// FILETIME counts 100-nanosecond ticks since 1601-01-01 UTC; time_t counts seconds since 1970.
constexpr int64_t ticksPerSecond = 10000000;
constexpr int64_t secondsFrom1601To1970 = 11644473600;

inline std::time_t ToTime(const FILETIME& fileTime) {
    const uint64_t ticks =
        (static_cast<uint64_t>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime;
    if (ticks == 0)
        return 0;  // no time recorded
    return static_cast<std::time_t>(static_cast<int64_t>(ticks / ticksPerSecond) -
                                    secondsFrom1601To1970);
}

// Nanoseconds since 1970, to the 100 ns a FILETIME holds.
inline int64_t ToNanoseconds(const FILETIME& fileTime) {
    const uint64_t ticks =
        (static_cast<uint64_t>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime;
    return (static_cast<int64_t>(ticks) - secondsFrom1601To1970 * ticksPerSecond) * 100;
}

inline FILETIME ToFileTime(std::time_t time) {
    const uint64_t ticks = static_cast<uint64_t>(
        (static_cast<int64_t>(time) + secondsFrom1601To1970) * ticksPerSecond);
    FILETIME fileTime;
    fileTime.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    fileTime.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return fileTime;
}

// The root folder ("X:\") of the drive a path names with its drive part; empty without one.
inline std::string DriveRoot(const std::string& path) {
    if (path.size() < 2 || path[1] != ':')
        return {};
    return path.substr(0, 2) + "\\";
}

}  // namespace platform::win32

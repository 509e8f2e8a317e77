// Process-wide services on Windows: own path, console, clock, code pages and name collation.
#include "platform/system.h"

#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <mbstring.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/win32/win32_util.h"

namespace platform {

bool InitApplication(int /*argc*/, char** /*argv*/) {
    return true;
}

std::string GetOwnPath() {
    // MAX_PATH is enough for every path Windows itself starts a program from; a longer one is
    // fetched whole rather than cut, since the state file's path is derived from it.
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length < buffer.size())
            return std::string(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

namespace {

// Output goes out byte for byte: no line-end translation by the C runtime's text mode, so the
// output is the same on every build and in every redirection.
void UseBinaryStdout() {
    static const bool done = [] {
        std::fflush(stdout);
        _setmode(_fileno(stdout), _O_BINARY);
        return true;
    }();
    static_cast<void>(done);
}

}  // namespace

void Print(const std::string& text) {
    UseBinaryStdout();
    std::fwrite(text.data(), 1, text.size(), stdout);
    // A console shows progress text without a line end at once. Elsewhere (a log file, a pipe)
    // whole lines go out, one write each, so a killed run loses at most the line it was on.
    static const bool console = _isatty(_fileno(stdout)) != 0;
    if (console || (!text.empty() && text.back() == '\n'))
        std::fflush(stdout);
}

void WaitForKey() {
    // Only a console gives keys; a redirected input (a file, a pipe or NUL, which the C runtime
    // counts as a terminal) returns at once so that batch runs never hang.
    DWORD mode = 0;
    if (!GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode))
        return;
    _getch();
}

uint32_t GetTickCountMs() {
    return GetTickCount();
}

int64_t GetSystemTimeNs() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return win32::ToNanoseconds(now);
}

namespace {

// Re-encodes text in place from one code page to another through UTF-16, as CharToOemBuffA and
// OemToCharBuffA do. Done here with kernel32 alone: importing user32 for these two calls would
// double the time Wine needs to start the program. Both code pages are single-byte in every
// setting this program meets, so the length stays; in the rare double-byte one the text is
// cut or padded to its length rather than overrun.
void Recode(char* text, size_t length, UINT from, UINT to) {
    constexpr size_t piece = 0x10000000;  // the functions take an int length
    while (length > 0) {
        const int count = static_cast<int>(length < piece ? length : piece);
        std::vector<WCHAR> wide(static_cast<size_t>(count));
        const int wideCount = MultiByteToWideChar(from, 0, text, count, wide.data(), count);
        const int needed =
            WideCharToMultiByte(to, 0, wide.data(), wideCount, nullptr, 0, nullptr, nullptr);
        if (wideCount > 0 && needed > 0) {
            std::vector<char> converted(static_cast<size_t>(std::max(needed, count)), '\0');
            WideCharToMultiByte(to, 0, wide.data(), wideCount, converted.data(), needed, nullptr,
                                nullptr);
            std::copy_n(converted.begin(), count, text);
        }
        text += count;
        length -= static_cast<size_t>(count);
    }
}

const unsigned char* Bytes(const std::string& text) {
    return reinterpret_cast<const unsigned char*>(text.c_str());
}

// The text with every letter of the ANSI code page in lower case.
std::string LowerCase(const std::string& text) {
    if (text.empty())
        return text;
    const int size = static_cast<int>(text.size());
    const int wideCount = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    if (wideCount <= 0)
        return text;
    std::vector<WCHAR> wide(static_cast<size_t>(wideCount));
    MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), wideCount);
    std::vector<WCHAR> lower(static_cast<size_t>(wideCount));
    if (LCMapStringW(LOCALE_INVARIANT, LCMAP_LOWERCASE, wide.data(), wideCount, lower.data(),
                     wideCount) != wideCount) {
        return text;
    }
    const int length =
        WideCharToMultiByte(CP_ACP, 0, lower.data(), wideCount, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return text;
    std::string result(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, lower.data(), wideCount, result.data(), length, nullptr,
                        nullptr);
    return result;
}

}  // namespace

void AnsiToOem(char* text, size_t length) {
    Recode(text, length, CP_ACP, CP_OEMCP);
}

void OemToAnsi(char* text, size_t length) {
    Recode(text, length, CP_OEMCP, CP_ACP);
}

int CollateNames(const std::string& a, const std::string& b) {
    return _mbscoll(Bytes(a), Bytes(b));
}

int CollateNamesNoCase(const std::string& a, const std::string& b) {
    // _mbsicoll of the C locale, which the program keeps, folds only A to Z; names differing in
    // the case of other letters of the ANSI code page (É and é) name the same file on Windows.
    return _mbsicoll(Bytes(LowerCase(a)), Bytes(LowerCase(b)));
}

bool IsLeadByte(uint8_t byte) {
    return IsDBCSLeadByte(byte) != 0;
}

}  // namespace platform

// Process-wide services on Windows: own path, console, clock, code pages and name collation.
#include "platform/system.h"

#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <mbstring.h>

#include <cstdarg>
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
    std::fflush(stdout);
}

void Printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length > 0) {
        std::vector<char> text(static_cast<size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, args);
        Print(std::string(text.data(), static_cast<size_t>(length)));
    }
    va_end(args);
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

namespace {

// The conversions take a 32-bit length; longer texts go in pieces.
template <typename Convert>
void ConvertInPieces(char* text, size_t length, Convert convert) {
    constexpr size_t piece = 0x40000000;
    while (length > 0) {
        const DWORD count = static_cast<DWORD>(length < piece ? length : piece);
        convert(text, text, count);
        text += count;
        length -= count;
    }
}

const unsigned char* Bytes(const std::string& text) {
    return reinterpret_cast<const unsigned char*>(text.c_str());
}

}  // namespace

void AnsiToOem(char* text, size_t length) {
    ConvertInPieces(text, length, CharToOemBuffA);
}

void OemToAnsi(char* text, size_t length) {
    ConvertInPieces(text, length, OemToCharBuffA);
}

int CollateNames(const std::string& a, const std::string& b) {
    return _mbscoll(Bytes(a), Bytes(b));
}

int CollateNamesNoCase(const std::string& a, const std::string& b) {
    // _mbsicoll of the C locale, which the program keeps, folds only A to Z; names differing in
    // the case of other letters of the ANSI code page (É and é) name the same file on Windows.
    std::string foldedA = a;
    std::string foldedB = b;
    CharLowerBuffA(foldedA.data(), static_cast<DWORD>(foldedA.size()));
    CharLowerBuffA(foldedB.data(), static_cast<DWORD>(foldedB.size()));
    return _mbsicoll(Bytes(foldedA), Bytes(foldedB));
}

bool IsLeadByte(uint8_t byte) {
    return IsDBCSLeadByte(byte) != 0;
}

}  // namespace platform

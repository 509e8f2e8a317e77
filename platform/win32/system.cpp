// Process-wide services on Windows: own path, console, clock.
#include "platform/system.h"

#include <conio.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/console.h"
#include "platform/win32/win32_util.h"

namespace platform {

bool InitApplication(int /*argc*/, char** /*argv*/) {
    if (!_isatty(_fileno(stdout)))
        std::setvbuf(stdout, nullptr, _IOFBF, consoleBufferBytes);
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
    // A console shows progress text without a line end at once; elsewhere whole lines
    // go out in blocks (LineBlockDue).
    static const bool console = _isatty(_fileno(stdout)) != 0;
    if (console || LineBlockDue(text))
        std::fflush(stdout);
}

void WaitForKey() {
    std::fflush(stdout);
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

}  // namespace platform

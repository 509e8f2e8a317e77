// Formatted console output, the same on every platform: formats, then hands the text to Print.
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "platform/console.h"
#include "platform/system.h"

namespace platform {

// Output that is no terminal (a log file, a pipe) goes out in whole lines, a block of them at a
// time: when a few kilobytes have gathered or a tenth of a second has passed since the last
// write, without a system call for every file's line. A killed run loses at most the lines
// printed within a tenth of a second after the last write (a long extraction after them holds
// them back until its own line).
bool LineBlockDue(const std::string& text) {
    constexpr size_t blockBytes = consoleBufferBytes / 4;
    constexpr uint32_t intervalMs = 100;
    static size_t pending = 0;
    static uint32_t lastWrite = GetTickCountMs();
    pending += text.size();
    if (text.empty() || text.back() != '\n')
        return false;
    const uint32_t now = GetTickCountMs();
    if (pending < blockBytes && now - lastWrite < intervalMs)
        return false;
    pending = 0;
    lastWrite = now;
    return true;
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

}  // namespace platform

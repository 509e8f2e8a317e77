// Formatted console output, the same on every platform: formats, then hands the text to Print.
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "platform/system.h"

namespace platform {

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

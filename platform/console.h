// The console's output rule that both platforms' Print share.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Room for the lines LineBlockDue lets gather, so that the C library never writes part of one.
inline constexpr size_t consoleBufferBytes = 16384;

// For output that is no terminal: true when the text just printed ends a line and the lines
// gathered so far should go out now.
bool LineBlockDue(const std::string& text);

}  // namespace platform

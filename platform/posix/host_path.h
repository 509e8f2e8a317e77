// The one boundary between the program's paths (backslashes) and the host's ('/'). Both are
// UTF-8 text, so names reach the disk unchanged.
#pragma once

#include <cerrno>
#include <string>

#include "platform/posix/name_cache.h"

namespace platform::posix {

// Every path that reaches the kernel goes through here: backslashes become '/' and existing
// components are matched regardless of letter case, as Windows matches them (see name_cache.h).
// Callers that create, delete or rename names tell the cache through EntryChange.
std::string HostPath(const std::string& path);
// The host form of path spelled exactly as given, letter case not matched.
std::string ExactHostPath(const std::string& path);

// Runs call(hostPath) for a system call that needs an existing name: with path spelled exactly
// as given first and, only when that names nothing, once more spelled as found on disk. The
// usual name, spelled as on disk, so costs one system call instead of a lookup and the call.
// call returns what the system call returned, negative with errno set on failure.
template <typename Call>
auto CallOnExistingPath(const std::string& path, Call call) {
    const std::string exact = ExactHostPath(path);
    auto result = call(exact);
    if (result >= 0 || (errno != ENOENT && errno != ENOTDIR))
        return result;
    const int missing = errno;
    const std::string matched = MatchMissingCase(exact, missing);
    if (matched == exact) {
        errno = missing;
        return result;
    }
    return call(matched);
}
// A host path in the program's form: '/' to backslash.
std::string ProgramPath(const std::string& hostPath);

}  // namespace platform::posix

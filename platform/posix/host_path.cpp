// Path mapping between the program's form (backslashes) and the host's ('/').
#include "platform/posix/host_path.h"

#include "platform/posix/name_cache.h"

namespace platform::posix {

std::string ExactHostPath(const std::string& path) {
    std::string host = path;
    for (char& c : host) {
        if (c == '\\')
            c = '/';
    }
    return host;
}

std::string HostPath(const std::string& path) {
    return MatchExistingCase(ExactHostPath(path));
}

std::string ProgramPath(const std::string& hostPath) {
    std::string path = hostPath;
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    return path;
}

}  // namespace platform::posix

// Process-wide services on Linux: start-up, own path, console output, key wait, clock.
#include "platform/system.h"

#include <malloc.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/console.h"
#include "platform/posix/host_path.h"

namespace platform {

namespace {

// The program's own path in host form, made absolute when the application starts: the current
// folder changes later (install and deinstall enter the program folder).
std::string ownHostPath;

std::string CurrentHostFolder() {
    std::vector<char> buffer(4096);
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE)
            return "";
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

// Joins and drops "." parts and doubled slashes, lexically; ".." stays, since resolving it
// would mean following symbolic links.
std::string AbsoluteWithoutLinks(const std::string& path) {
    const std::string joined = path[0] == '/' ? path : CurrentHostFolder() + "/" + path;
    std::string result;
    size_t start = 0;
    while (start <= joined.size()) {
        size_t end = joined.find('/', start);
        if (end == std::string::npos)
            end = joined.size();
        const std::string part = joined.substr(start, end - start);
        if (!part.empty() && part != ".")
            result += "/" + part;
        start = end + 1;
    }
    return result.empty() ? "/" : result;
}

std::string ProcSelfExe() {
    std::vector<char> buffer(4096);
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0)
        return "";
    return std::string(buffer.data(), static_cast<size_t>(length));
}

}  // namespace

bool InitApplication(int argc, char** argv) {
    // Memory freed at the top of the heap is kept for the next file, instead of being handed
    // back and asked for again (with its pages faulted in anew) for every file saved: each
    // takes a deflate state and a copy buffer of some hundred kilobytes. The peak stays as it is.
    mallopt(M_TRIM_THRESHOLD, 4 << 20);
    // One heap for both threads of an install (the second reads the mission ahead): a heap of
    // its own would hold pages of its own on top of the memory the first has freed.
    mallopt(M_ARENA_MAX, 1);
    // Without TZ the C library looks at /etc/localtime again for every local time it converts
    // (one per file extracted); naming the same default zone makes it read it once.
    setenv("TZ", ":/etc/localtime", 0);
    if (!isatty(STDOUT_FILENO))
        std::setvbuf(stdout, nullptr, _IOFBF, consoleBufferBytes);
    if (argc > 0 && argv && argv[0] && std::strchr(argv[0], '/')) {
        ownHostPath = AbsoluteWithoutLinks(argv[0]);
    } else {
        ownHostPath = ProcSelfExe();
    }
    return true;
}

std::string GetOwnPath() {
    return posix::ProgramPath(ownHostPath.empty() ? ProcSelfExe() : ownHostPath);
}

void Print(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    // A terminal shows progress text without a line end at once; elsewhere whole lines
    // go out in blocks (LineBlockDue).
    static const bool terminal = isatty(STDOUT_FILENO) != 0;
    if (terminal || LineBlockDue(text))
        std::fflush(stdout);
}

void WaitForKey() {
    std::fflush(stdout);
    if (!isatty(STDIN_FILENO))
        return;
    termios saved;
    if (tcgetattr(STDIN_FILENO, &saved) != 0)
        return;
    termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0)
        return;
    char key;
    while (read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
    }
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

uint32_t GetTickCountMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t ms =
        static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

int64_t GetSystemTimeNs() {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace platform

// Running another program on Linux with fork and exec, its standard output captured, and the
// environment it inherits.
#include "tests/support/process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "platform/file_system.h"

namespace test_support {

namespace {

// Runs in the child after fork: only async-signal-safe calls until exec.
[[noreturn]] void ExecChild(int outputFd, const std::string& folder, const std::string& program,
                            const std::vector<char*>& argv) {
    const int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (input < 0 || dup2(input, STDIN_FILENO) < 0 || dup2(outputFd, STDOUT_FILENO) < 0)
        _exit(127);
    if (!folder.empty() && chdir(folder.c_str()) != 0)
        _exit(127);
    execv(program.c_str(), argv.data());
    _exit(127);
}

std::string ReadAll(int fd) {
    std::string output;
    char block[4096];
    for (;;) {
        const ssize_t got = read(fd, block, sizeof block);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return output;
        output.append(block, static_cast<size_t>(got));
    }
}

}  // namespace

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingFolder) {
    ProgramResult result;
    // Everything the child needs is prepared before fork.
    const std::string hostProgram = platform::ToHostPath(program);
    const std::string hostFolder = platform::ToHostPath(workingFolder);
    std::vector<std::string> hostArgs{hostProgram};
    for (const std::string& arg : args) hostArgs.push_back(arg);
    std::vector<char*> argv;
    for (std::string& arg : hostArgs) argv.push_back(arg.data());
    argv.push_back(nullptr);

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return result;
    const pid_t child = fork();
    if (child < 0) {
        close(pipeFds[0]);
        close(pipeFds[1]);
        return result;
    }
    if (child == 0)
        ExecChild(pipeFds[1], hostFolder, hostProgram, argv);
    result.started = true;
    close(pipeFds[1]);
    result.output = ReadAll(pipeFds[0]);
    close(pipeFds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        // Exit codes are read as the signed byte the program returned, so that a return of -1
        // reads -1 here as it does on Windows.
        result.exitCode = static_cast<int8_t>(WEXITSTATUS(status));
    } else if (WIFSIGNALED(status)) {
        result.exitCode = 1000 + WTERMSIG(status);  // killed by a signal
    }
    return result;
}

void SetEnvironmentValue(const std::string& name, const std::string& value) {
    if (value.empty()) {
        unsetenv(name.c_str());
    } else {
        setenv(name.c_str(), value.c_str(), 1);
    }
}

}  // namespace test_support

// Runs another program on Windows with CreateProcessA and collects its standard output.
#include "platform/process.h"

#include "platform/win32/win32_util.h"

namespace platform {

namespace {

// One argument quoted so that the C runtime's command-line parser gives it back unchanged.
std::string QuoteArgument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
        return argument;
    }
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote itself escaped.
        const size_t count = c == '"' ? backslashes * 2 + 1 : backslashes;
        quoted.append(count, '\\');
        quoted += c;
        backslashes = 0;
    }
    quoted.append(backslashes * 2, '\\');  // the closing quote must stay a quote
    quoted += '"';
    return quoted;
}

std::string CommandLine(const std::string& program, const std::vector<std::string>& args) {
    std::string line = QuoteArgument(program);
    for (const std::string& argument : args) {
        line += ' ';
        line += QuoteArgument(argument);
    }
    return line;
}

// Closes a handle when it goes out of scope.
class HandleGuard {
public:
    explicit HandleGuard(HANDLE handle = nullptr) : handle(handle) {}
    HandleGuard(const HandleGuard&) = delete;
    HandleGuard& operator=(const HandleGuard&) = delete;
    ~HandleGuard() { Close(); }

    void Close() {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        handle = nullptr;
    }
    HANDLE get() const { return handle; }
    HANDLE* out() { return &handle; }

private:
    HANDLE handle;
};

std::string ReadAll(HANDLE pipe) {
    std::string output;
    char block[4096];
    DWORD read = 0;
    // The pipe reports a broken pipe once the child (and every inheritor) has closed its end.
    while (ReadFile(pipe, block, sizeof block, &read, nullptr) && read > 0) {
        output.append(block, read);
    }
    return output;
}

}  // namespace

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingFolder) {
    ProgramResult result;
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};

    HandleGuard outputRead;
    HandleGuard outputWrite;
    if (!CreatePipe(outputRead.out(), outputWrite.out(), &inheritable, 0))
        return result;
    SetHandleInformation(outputRead.get(), HANDLE_FLAG_INHERIT, 0);

    HandleGuard input(CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  &inheritable, OPEN_EXISTING, 0, nullptr));
    // The child's errors go where ours go, so that a failing test shows them.
    HandleGuard error;
    if (!DuplicateHandle(GetCurrentProcess(), GetStdHandle(STD_ERROR_HANDLE), GetCurrentProcess(),
                         error.out(), 0, TRUE, DUPLICATE_SAME_ACCESS)) {
        *error.out() = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   &inheritable, OPEN_EXISTING, 0, nullptr);
    }

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.get();
    startup.hStdOutput = outputWrite.get();
    startup.hStdError = error.get();

    std::string commandLine = CommandLine(program, args);
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup,
                        &process)) {
        return result;
    }
    HandleGuard processHandle(process.hProcess);
    HandleGuard threadHandle(process.hThread);
    // Our copies of the child's ends must go, or the pipe never reports its end.
    outputWrite.Close();
    input.Close();
    error.Close();

    result.output = ReadAll(outputRead.get());
    WaitForSingleObject(processHandle.get(), INFINITE);
    DWORD exitCode = 0;
    if (GetExitCodeProcess(processHandle.get(), &exitCode)) {
        result.exitCode = static_cast<int>(exitCode);
    }
    return result;
}

}  // namespace platform

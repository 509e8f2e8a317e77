// Runs another program on Windows with CreateProcessA and collects its standard output, and sets
// the environment it inherits.
#include "tests/support/process.h"

#include <cstdlib>
#include <string>

#include "platform/file_system.h"

#include "platform/win32/win32_util.h"

namespace test_support {

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

// True when path names a file that does not start as a Windows program does ("MZ").
bool IsHostProgram(const std::string& path) {
    HandleGuard file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE)
        return false;
    char magic[2] = {};
    DWORD read = 0;
    return ReadFile(file.get(), magic, sizeof magic, &read, nullptr) &&
           !(read == 2 && magic[0] == 'M' && magic[1] == 'Z');
}

// Under Wine, CreateProcessA starts a host (Linux) program but passes it neither our pipe nor its
// exit code back. Tests run host tools (other ZIP programs as oracles) through Wine's own spawn
// function instead, a shell sending the output to a file. False when that is not possible here.
bool RunHostProgram(const std::string& program, const std::vector<std::string>& args,
                    const std::string& workingFolder, ProgramResult& result) {
    using Spawn = LONG(CDECL*)(char* const* argv, int wait);
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    const auto spawn = ntdll == nullptr ? nullptr
                                        : reinterpret_cast<Spawn>(reinterpret_cast<void*>(
                                              GetProcAddress(ntdll, "__wine_unix_spawnvp")));
    if (spawn == nullptr)
        return false;
    char folder[MAX_PATH + 1];
    char outputFile[MAX_PATH + 1];
    if (GetTempPathA(sizeof folder, folder) == 0 ||
        GetTempFileNameA(folder, "out", 0, outputFile) == 0) {
        return false;
    }
    std::string here = workingFolder;
    if (here.empty()) {
        char current[MAX_PATH + 1];
        const DWORD length = GetCurrentDirectoryA(sizeof current, current);
        here.assign(current, length <= MAX_PATH ? length : 0);
    }
    std::vector<std::string> words = {"/bin/sh",
                                      "-c",
                                      "cd \"$1\" || exit 127; out=$2; shift 2; "
                                      "exec \"$@\" </dev/null >\"$out\"",
                                      "sh",
                                      platform::ToHostPath(here),
                                      platform::ToHostPath(outputFile),
                                      platform::ToHostPath(program)};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const LONG status = spawn(argv.data(), TRUE);
    result.started = status >= 0 && status <= 255;
    // A status beyond a process's exit code is Wine's report that nothing could be started.
    result.exitCode = (status >= 0 && status <= 255) ? static_cast<int>(status) : -1;
    HandleGuard output(
        CreateFileA(outputFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (output.get() != INVALID_HANDLE_VALUE)
        result.output = ReadAll(output.get());
    output.Close();
    DeleteFileA(outputFile);
    return true;
}

}  // namespace

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingFolder) {
    ProgramResult result;
    if (IsHostProgram(program) && RunHostProgram(program, args, workingFolder, result)) {
        return result;
    }
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
        result.output =
            "(could not start the program: error " + std::to_string(GetLastError()) + ")";
        return result;
    }
    result.started = true;
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

void SetEnvironmentValue(const std::string& name, const std::string& value) {
    // Both the process environment block (inherited by CreateProcessA) and the C runtime's copy.
    SetEnvironmentVariableA(name.c_str(), value.empty() ? nullptr : value.c_str());
    _putenv((name + "=" + value).c_str());
}

}  // namespace test_support

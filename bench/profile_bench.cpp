// State file cost per operation at a given size: writes n records as an install does, reads
// them back as a deinstall does, and prints the time per write and per read.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/file_system.h"
#include "platform/profile.h"

namespace {

// prefix followed by the number, built without a temporary on the right of '+'.
std::string Numbered(const char* prefix, int number) {
    std::string text = prefix;
    text += std::to_string(number);
    return text;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void Measure(const std::string& path, int count) {
    platform::RemoveFile(path);
    const auto writeStart = std::chrono::steady_clock::now();
    for (int i = 1; i <= count; ++i) {
        const std::string name = Numbered("strings\\mission\\file", i) + ".str:0";
        platform::WriteProfileString(path, "Mission", Numbered("F", i), name);
        platform::WriteProfileString(path, "Mission", "FCount", std::to_string(i));
    }
    const double writeSeconds = Seconds(writeStart);
    const auto readStart = std::chrono::steady_clock::now();
    size_t total = 0;
    for (int pass = 0; pass < 2; ++pass) {
        const int records =
            std::atoi(platform::GetProfileString(path, "Mission", "FCount", "0").c_str());
        for (int i = 1; i <= records; ++i)
            total += platform::GetProfileString(path, "Mission", Numbered("F", i), "").size();
    }
    const double readSeconds = Seconds(readStart);
    std::printf("n=%d  write %.1f us/op  read %.1f us/op  (%zu bytes read)\n", count,
                writeSeconds * 1e6 / (2.0 * count), readSeconds * 1e6 / (2.0 * count + 2), total);
    platform::RemoveFile(path);
}

}  // namespace

// Usage: profile_bench <state file path> <n>...
int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: profile_bench <state file> <n>...\n");
        return 2;
    }
    const std::string path = platform::FromHostPath(argv[1]);
    for (int i = 2; i < argc; ++i) Measure(path, std::atoi(argv[i]));
    return 0;
}

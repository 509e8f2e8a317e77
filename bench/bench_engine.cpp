// Benchmark of the ZIP engine: adding and extracting one large entry beside Info-ZIP's zip -6
// and unzip on the same data, with the peak resident memory of each engine phase (Linux only).
#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/file_system.h"
#include "zip/zip_handler.h"

namespace {

constexpr uint64_t defaultMegabytes = 256;

// Deterministic data of mixed compressibility: text-like runs, repeated blocks and noise.
void WriteSource(const std::string& hostPath, uint64_t bytes) {
    std::ofstream out(hostPath, std::ios::binary);
    static const char* const words[] = {"door ", "guard ",       "torch ", "key ",      "loot ",
                                        "rope ", "water arrow ", "moss ",  "broadhead "};
    uint32_t state = 2463534242u;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    std::string block;
    uint64_t written = 0;
    while (written < bytes) {
        block.clear();
        const uint32_t kind = next() % 4;
        while (block.size() < 65536) {
            if (kind == 0) {
                block += static_cast<char>(next());  // noise
            } else if (kind == 3) {
                block += static_cast<char>('a' + block.size() % 7);  // highly repetitive
            } else {
                block += words[next() % 9];
            }
        }
        const uint64_t take = std::min<uint64_t>(block.size(), bytes - written);
        out.write(block.data(), static_cast<std::streamsize>(take));
        written += take;
    }
}

// Peak resident memory of this process in kB since the last reset.
long PeakKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    }
    return -1;
}

void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// CPU seconds (user and system) of this process and of its finished children.
double CpuSeconds() {
    double total = 0;
    for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        getrusage(who, &usage);
        total += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    return total;
}

double lastCpu = 0;  // CPU seconds of the last measured piece of work

// Wall-clock seconds of work; its CPU seconds go to lastCpu (the machine may be shared).
double Seconds(const std::function<void()>& work) {
    const double cpuStart = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    work();
    lastCpu = CpuSeconds() - cpuStart;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double ShellSeconds(const std::string& command) {
    int status = 0;
    const double seconds = Seconds([&] { status = std::system(command.c_str()); });
    if (status != 0)
        std::printf("  (command failed: %s)\n", command.c_str());
    return seconds;
}

void Report(const char* what, double megabytes, double seconds, long peak = -1) {
    std::printf("%-34s %7.2f s %8.1f MB/s   cpu %6.2f s %8.1f MB/s", what, seconds,
                megabytes / seconds, lastCpu, megabytes / lastCpu);
    if (peak >= 0)
        std::printf("   peak RSS %6.1f MB", peak / 1024.0);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    const uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : defaultMegabytes;
    const std::string work = argc > 2 ? argv[2] : "/tmp/brennick_bench";
    std::system(
        ("rm -rf '" + work + "' && mkdir -p '" + work + "/out' '" + work + "/unz'").c_str());
    const std::string host = work + "/source.bin";
    const std::string folder = platform::FromHostPath(work);
    std::printf("Generating %llu MB of mixed data...\n",
                static_cast<unsigned long long>(megabytes));
    WriteSource(host, megabytes << 20);
    const double size = static_cast<double>(megabytes);
    std::printf("Base memory before the engine runs: %.1f MB\n", PeakKilobytes() / 1024.0);

    for (const int level : {6, -1}) {
        const std::string archive = folder + "\\engine" + std::to_string(level + 1) + ".zip";
        ResetPeak();
        const double add = Seconds([&] {
            CZipHandler zip;
            zip.Open(archive, CZipHandler::create, 0);
            zip.AddFile(folder + "\\source.bin", level, false, nullptr, 0, 65535);
            zip.Close(false);
        });
        Report(("engine AddFile level " + std::to_string(level)).c_str(), size, add,
               PeakKilobytes());
    }
    Report("zip -6", size, ShellSeconds("cd '" + work + "' && zip -q -6 info.zip source.bin"));

    const std::string archive = folder + "\\engine7.zip";
    ResetPeak();
    bool extracted = false;
    const double extract = Seconds([&] {
        CZipHandler zip;
        zip.Open(archive, CZipHandler::openReadOnly, 0);
        extracted = zip.ExtractEntry(0, folder + "\\out", false, nullptr, nullptr, 0, 65535);
        zip.Close(false);
    });
    Report("engine ExtractEntry (to a file)", size, extract, PeakKilobytes());
    if (!extracted)
        std::printf("  (extraction reported failure)\n");
    Report("unzip -o (to a file)", size,
           ShellSeconds("cd '" + work + "' && unzip -q -o engine7.zip -d unz"));
    Report("unzip -p (to /dev/null)", size,
           ShellSeconds("cd '" + work + "' && unzip -p engine7.zip > /dev/null"));
    const int same = std::system(("cmp -s '" + host + "' '" + work + "/out/source.bin'").c_str());
    std::printf("Extracted file equals the source: %s\n", same == 0 ? "yes" : "NO");
    std::system(("rm -rf '" + work + "'").c_str());
    return same == 0 ? 0 : 1;
}

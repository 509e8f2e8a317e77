// Test helper: runs the ZIP tools used as oracles on the host and reads their answers.
#include "interop/zip_tools.h"

#include <sstream>

#include "platform/file_system.h"
#include "support/test_support.h"
#include "tests/support/process.h"

namespace zip_tools {

const char* const pythonArchiveWriter =
    "import io, os, sys, zipfile\n"
    "class Pipe(io.RawIOBase):\n"
    "    def __init__(self, f): self.f = f\n"
    "    def writable(self): return True\n"
    "    def write(self, b): return self.f.write(b)\n"
    "with open(sys.argv[1], 'wb') as out:\n"
    "    target = Pipe(out) if sys.argv[2] == 'stream' else out\n"
    "    with zipfile.ZipFile(target, 'w', zipfile.ZIP_DEFLATED) as z:\n";

int Run(const std::string& commandLine, std::string* output, const std::string& folder) {
    std::string here = folder;
    if (here.empty())
        platform::GetCurrentFolder(here);
    const test_support::ProgramResult result = test_support::RunProgram(
        platform::FromHostPath("/bin/sh"), {"-c", commandLine + " 2>/dev/null"}, here);
    if (output)
        *output = result.output;
    return result.exitCode;
}

namespace {

bool Answers(const std::string& commandLine, const std::string& expected) {
    std::string output;
    return Run(commandLine, &output) == 0 && output.find(expected) != std::string::npos;
}

std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

// Prints the archive comment and every entry; names as the archive's raw bytes in hex.
const char* const listingScript =
    "import sys, zipfile\n"
    "z = zipfile.ZipFile(sys.argv[1])\n"
    "print('C', z.comment.hex() or '-')\n"
    "for i in z.infolist():\n"
    "    raw = i.filename.encode('utf-8' if i.flag_bits & 0x800 else 'cp437')\n"
    "    print('E', raw.hex() or '-', i.CRC, i.compress_size, i.file_size, i.compress_type,\n"
    "          i.external_attr, i.flag_bits)\n";

}  // namespace

bool HaveZip() {
    static const bool have = Answers("zip -v", "Info-ZIP") && Answers("unzip -v", "Info-ZIP");
    return have;
}

std::string Python() {
    // The system's own interpreter starts fastest; any python3 on the path will do otherwise.
    static const std::string name = Answers("/usr/bin/python3 -c \"print('ready')\"", "ready")
                                        ? "/usr/bin/python3"
                                    : Answers("python3 -c \"print('ready')\"", "ready") ? "python3"
                                                                                        : "";
    return name;
}

bool HavePython() {
    return !Python().empty();
}

std::string SevenZip() {
    static const std::string name = Answers("7z i", "7-Zip")    ? "7z"
                                    : Answers("7zz i", "7-Zip") ? "7zz"
                                                                : "";
    return name;
}

bool Have7z() {
    return !SevenZip().empty();
}

std::string Quoted(const std::string& programPath) {
    std::string quoted = "'";
    for (char c : platform::ToHostPath(programPath)) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

bool ListWithPython(const std::string& archivePath, std::vector<Listing>& entries,
                    std::string& comment) {
    test_support::TempFolder folder;
    const std::string script = folder.Join("list.py");
    test_support::WriteFile(script, listingScript);
    std::string output;
    if (Run(Python() + " " + Quoted(script) + " " + Quoted(archivePath), &output) != 0)
        return false;

    entries.clear();
    std::istringstream lines(output);
    std::string kind;
    while (lines >> kind) {
        std::string hex;
        lines >> hex;
        if (hex == "-")
            hex.clear();
        if (kind == "C") {
            comment = FromHex(hex);
            continue;
        }
        uint64_t crc = 0, compressed = 0, uncompressed = 0, method = 0, attributes = 0, flag = 0;
        lines >> crc >> compressed >> uncompressed >> method >> attributes >> flag;
        Listing entry;
        entry.name = FromHex(hex);
        for (char& c : entry.name)
            if (c == '/')
                c = '\\';
        entry.crc = static_cast<uint32_t>(crc);
        entry.compressedSize = static_cast<uint32_t>(compressed);
        entry.uncompressedSize = static_cast<uint32_t>(uncompressed);
        entry.method = static_cast<uint16_t>(method);
        entry.attributes = static_cast<uint32_t>(attributes);
        entry.flag = static_cast<uint16_t>(flag);
        entries.push_back(entry);
    }
    return true;
}

}  // namespace zip_tools

// Fuzz target: read and write the state file whatever it holds; the values written must read
// back as written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/profile.h"
#include "platform/system.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = platform::FromHostPath(
        "/tmp/brennick-fuzz-profile-" + std::to_string(platform::GetTickCountMs()) + ".Ini");
    {
        CFile file;
        if (!file.Open(path, CFile::modeCreate | CFile::modeWrite))
            return 0;
        file.Write(data, static_cast<uint32_t>(size));
        file.Close();
    }
    platform::GetProfileString(path, "Mission", "Installed", "0");
    platform::GetProfileString(path, "Mission", "F1", "");
    const std::string count = platform::GetProfileString(path, "Mission", "FCount", "0");
    if (!platform::WriteProfileString(path, "Mission", "FCount", "17"))
        return 0;
    platform::WriteProfileString(path, "Mission", "F17", "books\\a.txt:1");
    if (platform::GetProfileString(path, "Mission", "FCount", "") != "17")
        std::abort();
    if (platform::GetProfileString(path, "Mission", "F17", "") != "books\\a.txt:1")
        std::abort();
    (void)count;
    return 0;
}

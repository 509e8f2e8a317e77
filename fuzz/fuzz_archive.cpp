// Fuzz target: open any bytes as an archive, list it and extract every entry, with and
// without a password. Engine and file errors are expected; crashes, hangs and leaks are not.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/system.h"
#include "zip/zip_handler.h"

namespace {

std::string WorkFolder() {
    static const std::string folder = [] {
        std::string f = platform::FromHostPath("/tmp/brennick-fuzz-" +
                                               std::to_string(platform::GetTickCountMs()));
        platform::CreateFolder(f);
        return f;
    }();
    return folder;
}

void ExtractAll(const std::string& archive, const std::string& out, bool withPassword) {
    CZipHandler zip;
    try {
        zip.Open(archive, CZipHandler::openReadOnly, 0);
        if (withPassword)
            zip.SetPassword("secret");
        const int count = zip.GetEntryCount();
        for (int i = 0; i < count && i < 64; ++i) {
            CZipEntryHeader header;
            zip.GetEntryInfo(header, static_cast<uint16_t>(i));
            zip.FindEntry(header.GetFileName(), false);
            try {
                zip.ExtractEntry(static_cast<uint16_t>(i), out, false, nullptr, nullptr, 0, 4096);
            } catch (const CException&) {
                zip.AbandonEntry();
            }
        }
        zip.Close(false);
    } catch (const CException&) {
        try {
            zip.Close(true);
        } catch (const CException&) {
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string folder = WorkFolder();
    const std::string archive = folder + "\\input.zip";
    const std::string out = folder + "\\out";
    {
        CFile file;
        if (!file.Open(archive, CFile::modeCreate | CFile::modeWrite))
            return 0;
        file.Write(data, static_cast<uint32_t>(size));
        file.Close();
    }
    platform::CreateFolder(out);
    ExtractAll(archive, out, false);
    ExtractAll(archive, out, true);
    // Extraction without the full path writes every entry into out itself; empty it again.
    platform::FileFinder finder;
    if (finder.FindFirst(out + "\\*")) {
        do {
            const std::string& name = finder.Current().name;
            if (name != "." && name != "..") {
                platform::SetAttributes(out + "\\" + name, platform::attributeArchive);
                platform::RemoveFile(out + "\\" + name);
                platform::RemoveFolder(out + "\\" + name);
            }
        } while (finder.FindNext());
    }
    return 0;
}

// Writes small archives with the engine itself, as fuzzing seeds: stored, deflated, encrypted,
// folders, many entries, a one-volume spanned archive and an empty one. Usage: make_seeds <folder>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/exceptions.h"
#include "platform/file_system.h"
#include "zip/zip_exception.h"
#include "zip/zip_handler.h"

namespace {

struct SeedEntry {
    std::string name;
    std::string data;  // a name ending in a backslash is a folder
};

std::string Text(uint32_t bytes) {
    static const char* const words[] = {"door ", "guard ", "torch ", "key ", "loot ", "moss "};
    std::string text;
    for (uint32_t i = 0; text.size() < bytes; ++i) text += words[(i * 7 + i / 3) % 6];
    text.resize(bytes);
    return text;
}

std::string Noise(uint32_t bytes) {
    std::string noise(bytes, '\0');
    uint32_t state = 2463534242u;
    for (char& c : noise) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        c = static_cast<char>(state);
    }
    return noise;
}

void Write(const std::string& path, int mode, int level, const std::string& password,
           const std::vector<SeedEntry>& entries) {
    CZipHandler zip;
    zip.Open(path, mode, mode == CZipHandler::createSpanned ? 1 << 20 : 0);
    zip.SetPassword(password);
    for (const SeedEntry& entry : entries) {
        CZipEntryHeader header;
        header.SetFileName(entry.name);
        header.SetTime(1000000000);
        const bool folder = !entry.name.empty() && entry.name.back() == '\\';
        header.externalAttributes = folder ? platform::attributeFolder : platform::attributeArchive;
        if (!zip.OpenNewEntry(header, level, nullptr))
            throw CZipException(CZipException::genericError, path);
        if (!folder && !entry.data.empty())
            zip.WriteNewEntry(entry.data.data(), static_cast<uint32_t>(entry.data.size()));
        zip.CloseNewEntry();
    }
    zip.Close(false);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds <folder>\n");
        return 2;
    }
    const std::string folder = platform::FromHostPath(argv[1]) + "\\";
    const std::vector<SeedEntry> mission = {
        {"books\\", ""},
        {"books\\note.str", Text(700)},
        {"intrface\\miss20\\goals.str", Text(150)},
        {"snd\\ambient.wav", Noise(900)},
        {"empty.txt", ""},
    };
    std::vector<SeedEntry> many;
    for (int i = 0; i < 40; ++i)
        many.push_back({"obj\\txt16\\t" + std::to_string(i) + ".pcx", Text(20 + i)});
    try {
        Write(folder + "engine-stored.zip", CZipHandler::create, 0, "", mission);
        Write(folder + "engine-deflated.zip", CZipHandler::create, 9, "", mission);
        Write(folder + "engine-encrypted-stored.zip", CZipHandler::create, 0, "secret", mission);
        Write(folder + "engine-encrypted-deflated.zip", CZipHandler::create, 6, "secret", mission);
        Write(folder + "engine-many.zip", CZipHandler::create, 1, "", many);
        Write(folder + "engine-empty.zip", CZipHandler::create, 6, "", {});
        Write(folder + "engine-spanned.zip", CZipHandler::createSpanned, 6, "", mission);
    } catch (const CZipException& error) {
        std::fprintf(stderr, "make_seeds: %s: %s\n", error.filePath.c_str(),
                     GetErrorText(error.code).c_str());
        return 1;
    } catch (const CFileException& error) {
        std::fprintf(stderr, "make_seeds: %s: error %ld\n", error.fileName.c_str(), error.osError);
        return 1;
    }
    return 0;
}

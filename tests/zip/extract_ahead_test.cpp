// Extraction through the read-ahead against ExtractEntry itself.
#include "zip/extract_ahead.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/file_system.h"
#include "tests/support/test_support.h"
#include "zip/archive_bytes.h"
#include "zip/zip_exception.h"
#include "zip/zip_test_data.h"

namespace {

using test_support::ReadFile;
using test_support::TempFolder;

// Each file below folder (its name relative to it) with its content, time and attributes.
void Snapshot(const std::string& folder, const std::string& relative,
              std::map<std::string, std::string>& out) {
    platform::FileFinder finder;
    const std::string base = relative.empty() ? folder : folder + "\\" + relative;
    for (bool found = finder.FindFirst(base + "\\*"); found; found = finder.FindNext()) {
        const platform::FindData& data = finder.Current();
        if (data.name == "." || data.name == "..")
            continue;
        const std::string name = relative.empty() ? data.name : relative + "\\" + data.name;
        if (data.attributes & platform::attributeFolder) {
            out[name] = "<folder>";
            Snapshot(folder, name, out);
            continue;
        }
        out[name] = ReadFile(folder + "\\" + name) + " @" + std::to_string(data.lastWriteTime) +
                    " a" + std::to_string(data.attributes & platform::attributeReadOnly);
    }
}

// What one extraction came to: its result or what it threw.
std::string Outcome(const std::function<bool()>& extract) {
    try {
        return extract() ? "true" : "false";
    } catch (const CZipException& error) {
        return "zip " + std::to_string(error.code);
    } catch (const CFileException& error) {
        return "file " + std::to_string(error.osError);
    }
}

enum class Damage { none, crc, localSignature, method, encrypted, data };

// Mixed entries, some damaged, whose data spans several read-ahead parts.
std::vector<archive_bytes::Entry> Entries(std::mt19937& random, std::vector<Damage>& damage) {
    const size_t sizes[] = {0, 1, 700, 65535, 65536, 70000, 300000};
    std::vector<archive_bytes::Entry> entries;
    const size_t count = 1 + random() % 12;
    for (size_t i = 0; i < count; ++i) {
        archive_bytes::Entry entry;
        const std::string folder = "d" + std::to_string(random() % 3) + "/";
        if (random() % 8 == 0) {
            entry.name = folder;  // a folder entry
            entry.attributes = 0x10;
        } else {
            entry.name = folder + "f" + std::to_string(i) + ".bin";
            entry.data = zip_test_data::MixedData(sizes[random() % 7], static_cast<uint32_t>(i));
            entry.deflate = random() % 2 == 0;
            entry.descriptor = random() % 4 == 0;
            entry.attributes = random() % 5 == 0 ? 0x21 : 0x20;  // sometimes read-only
        }
        entries.push_back(entry);
        damage.push_back(random() % 3 == 0 ? static_cast<Damage>(1 + random() % 5) : Damage::none);
    }
    return entries;
}

void Spoil(archive_bytes::Archive& built, const std::vector<archive_bytes::Entry>& entries,
           const std::vector<Damage>& damage) {
    for (size_t i = 0; i < entries.size(); ++i) {
        const uint32_t local = built.localOffsets[i];
        const uint32_t central = built.centralOffsets[i];
        switch (damage[i]) {
            case Damage::none:
                break;
            case Damage::crc:
                archive_bytes::PutU32(built.bytes, central + 16, 0x12345678);
                if (!entries[i].descriptor)
                    archive_bytes::PutU32(built.bytes, local + 14, 0x12345678);
                break;
            case Damage::localSignature:
                built.bytes[local] = 'X';
                break;
            case Damage::method:
                archive_bytes::PutU16(built.bytes, local + 8, 99);
                archive_bytes::PutU16(built.bytes, central + 10, 99);
                break;
            case Damage::encrypted:
                built.bytes[local + 6] = static_cast<char>(built.bytes[local + 6] | 1);
                built.bytes[central + 8] = static_cast<char>(built.bytes[central + 8] | 1);
                break;
            case Damage::data: {
                // A byte in the middle of the data: a deflate error, or a CRC that disagrees.
                const size_t at = local + 30 + entries[i].name.size() + entries[i].data.size() / 2;
                if (!entries[i].data.empty() && at < central)
                    built.bytes[at] = static_cast<char>(built.bytes[at] ^ 0x5A);
                break;
            }
        }
    }
}

// Every entry's outcome and the files it left, seeded archives of every kind of entry and
// damage, and entries passed over between the ones asked for: the read-ahead gives what
// ExtractEntry gives, failures included, thrown where ExtractEntry throws them.
TEST(ExtractAhead, GivesWhatExtractEntryGives) {
    for (uint32_t seed = 1; seed <= 60; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        std::vector<Damage> damage;
        const std::vector<archive_bytes::Entry> entries = Entries(random, damage);
        archive_bytes::Archive built = archive_bytes::Build(entries);
        Spoil(built, entries, damage);
        TempFolder folder;
        test_support::WriteFile(folder.Join("mission.zip"), built.bytes);
        std::vector<uint16_t> all;
        std::vector<uint16_t> asked;
        std::vector<std::string> newNames;
        for (uint16_t i = 0; i < entries.size(); ++i) {
            all.push_back(i);
            if (random() % 4 != 0)
                asked.push_back(i);
            newNames.push_back(random() % 6 == 0 ? "renamed" + std::to_string(i) + ".bin" : "");
        }
        const auto newName = [&](uint16_t i) {
            return newNames[i].empty() ? nullptr : &newNames[i];
        };

        std::vector<std::string> direct;
        {
            CZipHandler zip;
            zip.Open(folder.Join("mission.zip"), CZipHandler::openReadOnly, 0);
            for (const uint16_t i : asked) {
                direct.push_back(Outcome([&] {
                    return zip.ExtractEntry(i, folder.Join("direct"), {.newName = newName(i)});
                }));
                if (zip.GetEntryState() != CZipHandler::EntryState::none)
                    zip.AbandonEntry();
            }
        }
        std::vector<std::string> ahead;
        {
            CZipHandler zip;
            zip.Open(folder.Join("mission.zip"), CZipHandler::openReadOnly, 0);
            CZipExtractAhead reading(zip, all, 65535);
            for (const uint16_t i : asked) {
                ahead.push_back(Outcome(
                    [&] { return reading.ExtractEntry(i, folder.Join("ahead"), newName(i)); }));
            }
        }
        EXPECT_EQ(ahead, direct);
        std::map<std::string, std::string> directFiles;
        std::map<std::string, std::string> aheadFiles;
        Snapshot(folder.Join("direct"), "", directFiles);
        Snapshot(folder.Join("ahead"), "", aheadFiles);
        EXPECT_EQ(aheadFiles, directFiles);
    }
}

// An entry asked for out of order, or twice, is not there to be had; the ones after it still are.
TEST(ExtractAhead, EntriesComeOnlyInTheOrderGiven) {
    TempFolder folder;
    test_support::WriteFile(
        folder.Join("m.zip"),
        archive_bytes::Build({{"a.txt", "a"}, {"b.txt", "b"}, {"c.txt", "c"}}).bytes);
    CZipHandler zip;
    zip.Open(folder.Join("m.zip"), CZipHandler::openReadOnly, 0);
    CZipExtractAhead reading(zip, {0, 1, 2}, 65535);
    EXPECT_TRUE(reading.ExtractEntry(1, folder.Join("out"), nullptr));
    EXPECT_FALSE(reading.ExtractEntry(0, folder.Join("out"), nullptr));
    EXPECT_FALSE(reading.ExtractEntry(1, folder.Join("out"), nullptr));
    EXPECT_TRUE(reading.ExtractEntry(2, folder.Join("out"), nullptr));
    EXPECT_EQ(ReadFile(folder.Join("out\\c.txt")), "c");
    EXPECT_FALSE(test_support::Exists(folder.Join("out\\a.txt")));
}

}  // namespace

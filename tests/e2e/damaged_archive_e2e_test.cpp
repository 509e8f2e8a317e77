// The program over damaged and hostile mission archives: every one ends with a documented exit
// code (never a crash or a hang) and the game folder stays as it was, or comes back with -d.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/mission_fixture.h"

using mission_test::GameFolder;
using mission_test::MissionArchive;
using mission_test::Snapshot;
using mission_test::TakeSnapshot;

namespace {

void Put32(std::string& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

void Put16(std::string& bytes, size_t at, uint16_t value) {
    bytes[at] = static_cast<char>(value);
    bytes[at + 1] = static_cast<char>(value >> 8);
}

size_t Find(const std::string& bytes, const char* signature, size_t from = 0) {
    return bytes.find(std::string(signature, 4), from);
}

struct Damage {
    std::string what;
    std::function<void(std::string&)> apply;
};

std::vector<Damage> Damages(size_t length) {
    std::vector<Damage> damages;
    for (size_t cut = 0; cut < length; cut += length / 12 + 1) {
        damages.push_back(
            {"truncated at " + std::to_string(cut), [cut](std::string& b) { b.resize(cut); }});
    }
    for (const char* signature : {"PK\x03\x04", "PK\x01\x02", "PK\x05\x06"}) {
        for (size_t offset : {0u, 4u, 8u, 10u, 14u, 18u, 22u, 26u}) {
            damages.push_back({"byte " + std::to_string(offset) + " of record " +
                                   std::to_string(signature[2]) + " flipped",
                               [signature, offset](std::string& b) {
                                   const size_t at = Find(b, signature);
                                   if (at != std::string::npos && at + offset < b.size())
                                       b[at + offset] = static_cast<char>(b[at + offset] ^ 0xA5);
                               }});
        }
    }
    damages.push_back({"compressed size too large",
                       [](std::string& b) { Put32(b, Find(b, "PK\x01\x02") + 20, 0x7FFFFFF0); }});
    damages.push_back({"local header offset past the end",
                       [](std::string& b) { Put32(b, Find(b, "PK\x01\x02") + 42, 0xFFFFFF00); }});
    damages.push_back({"directory claims 65535 entries", [](std::string& b) {
                           const size_t end = Find(b, "PK\x05\x06");
                           Put16(b, end + 8, 0xFFFF);
                           Put16(b, end + 10, 0xFFFF);
                       }});
    damages.push_back({"name length 65535",
                       [](std::string& b) { Put16(b, Find(b, "PK\x01\x02") + 28, 0xFFFF); }});
    damages.push_back({"entry claims 4 GiB uncompressed", [](std::string& b) {
                           const size_t central = Find(b, "PK\x01\x02");
                           Put32(b, central + 24, 0xFFFFFFFF);
                       }});
    damages.push_back({"deflated data flipped", [](std::string& b) {
                           const size_t local = Find(b, "PK\x03\x04");
                           b[local + 30 + 20] = static_cast<char>(b[local + 30 + 20] ^ 0xFF);
                       }});
    return damages;
}

}  // namespace

TEST(DamagedArchiveE2E, EveryDamage_EndsCleanlyAndLosesNothing) {
    GameFolder game;
    game.Put("strings\\goals.str", mission_test::TextBytes(40000, 1));
    game.Put("dark.cfg", "game config");
    const Snapshot before = TakeSnapshot(game);
    const std::string archive = game.WorkPath("mission.zip");
    {
        MissionArchive mission(archive);
        mission.File("strings\\goals.str", mission_test::TextBytes(60000, 2));
        mission.File("maps\\miss20.mis", mission_test::NoiseBytes(3000, 3));
        mission.File("maps\\bomb.bin", std::string(8 << 20, '\0'));  // 8 MB of zeros, 8 KB packed
        mission.Close();
    }
    const std::string good = test_support::ReadFile(archive);
    for (const Damage& damage : Damages(good.size())) {
        std::string bytes = good;
        damage.apply(bytes);
        const std::string damaged = game.WorkPath("damaged.zip");
        test_support::WriteFile(damaged, bytes);
        const test_support::ProgramResult install = game.Run({damaged, "-a"});
        EXPECT_TRUE(install.exitCode == 3 || install.exitCode == 4)
            << damage.what << ": exit " << install.exitCode << "\n"
            << install.output;
        if (install.exitCode == 4) {
            EXPECT_NE(install.output.find("Error "), std::string::npos)
                << damage.what << ": a refusal without its reason\n"
                << install.output;
        }
        if (install.exitCode == 3) {
            const test_support::ProgramResult deinstall = game.Run({"-d", "-a"});
            EXPECT_EQ(deinstall.exitCode, 1) << damage.what << "\n" << deinstall.output;
        }
        EXPECT_TRUE(TakeSnapshot(game) == before) << damage.what << "\n" << install.output;
        if (::testing::Test::HasFailure())
            return;
    }
}

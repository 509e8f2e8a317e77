// End-to-end fault injection: the n-th write, flush, rename or delete of an install or a
// deinstall fails (disk full, access denied, file locked). Whatever fails, the program ends with
// a documented exit code and, after a later deinstall without faults, the game's files are back
// exactly as they were.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/mission_fixture.h"
#include "tests/support/process.h"

using mission_test::GameFolder;
using mission_test::MissionArchive;
using mission_test::Snapshot;
using mission_test::TakeSnapshot;

namespace {

// Sets the fault for the programs started while it lives.
class FaultSetting {
public:
    FaultSetting(const std::string& fault, const std::string& mark) {
        test_support::SetEnvironmentValue("BRENNICK_FAULT", fault);
        test_support::SetEnvironmentValue("BRENNICK_FAULT_MARK", mark);
    }
    ~FaultSetting() {
        test_support::SetEnvironmentValue("BRENNICK_FAULT", "");
        test_support::SetEnvironmentValue("BRENNICK_FAULT_MARK", "");
    }
};

struct Mission {
    GameFolder game;
    Snapshot before;
    std::string archive;

    Mission() {
        game.Put("strings\\goals.str", mission_test::TextBytes(70000, 1));
        game.Put("books\\book01.str", "a book of the game");
        game.Put("dark.cfg", "game config");
        before = TakeSnapshot(game);
        archive = game.WorkPath("mission.zip");
        MissionArchive mission(archive);
        mission.File("strings\\goals.str", mission_test::TextBytes(90000, 2));
        mission.File("books\\book01.str", "the mission's book");
        mission.File("maps\\miss20.mis", mission_test::NoiseBytes(5000, 3));
        mission.File("maps\\readme.txt", "");
        // A repeat in other letter case: when the backup of the game's file fails, the repeat
        // must keep the game's file as well.
        mission.File("STRINGS\\Goals.Str", "the mission's goals again");
        mission.Close();
    }

    bool Installed() const {
        return game.StateFile().find("Installed=0") == std::string::npos &&
               game.StateFile().find("Installed=") != std::string::npos;
    }

    // Deinstalls without faults (a second time when the first run was refused part-way).
    void Restore() const {
        for (int attempt = 0; attempt < 2 && Installed(); ++attempt) game.Run({"-d", "-a"});
    }
};

const char* const kinds[] = {"full", "denied", "locked"};

// The names whose content differs from the snapshot, or that are missing or new.
std::string Differences(const Snapshot& before, const Snapshot& after) {
    std::string names;
    for (const auto& [name, content] : before) {
        const auto found = after.find(name);
        if (found == after.end())
            names += " lost:" + name;
        else if (found->second != content)
            names += " changed:" + name;
    }
    for (const auto& entry : after) {
        if (before.count(entry.first) == 0)
            names += " left:" + entry.first;
    }
    return names;
}

// Runs step with the n-th operation failing, n = 1, 2, ... until a run no longer reaches it.
template <typename Step>
void ForEveryFailurePoint(const std::string& operation, Step step) {
    for (int n = 1; n <= 400; ++n) {
        Mission mission;
        const std::string mark = mission.game.WorkPath("fault.mark");
        const std::string fault = operation + ":" + std::to_string(n) + ":" + kinds[n % 3];
        const bool reached = step(mission, fault, mark);
        if (::testing::Test::HasFailure()) {
            ADD_FAILURE() << "with BRENNICK_FAULT=" << fault;
            return;
        }
        if (!reached)
            return;
    }
    ADD_FAILURE() << "more than 400 " << operation << " operations in a small mission";
}

void CheckInstallWithFault(const std::string& operation) {
    ForEveryFailurePoint(
        operation, [](Mission& mission, const std::string& fault, const std::string& mark) {
            test_support::ProgramResult result;
            {
                FaultSetting setting(fault, mark);
                result = mission.game.Run({mission.archive, "-a"});
            }
            EXPECT_TRUE(result.exitCode == 3 || result.exitCode == 4) << result.output;
            mission.Restore();
            EXPECT_EQ(Differences(mission.before, TakeSnapshot(mission.game)), "") << result.output;
            return test_support::Exists(mark);
        });
}

void CheckDeinstallWithFault(const std::string& operation) {
    ForEveryFailurePoint(
        operation, [](Mission& mission, const std::string& fault, const std::string& mark) {
            const test_support::ProgramResult install = mission.game.Run({mission.archive, "-a"});
            EXPECT_EQ(install.exitCode, 3) << install.output;
            test_support::ProgramResult result;
            {
                FaultSetting setting(fault, mark);
                result = mission.game.Run({"-d", "-a"});
            }
            EXPECT_TRUE(result.exitCode == 1 || result.exitCode == 2) << result.output;
            // An honest exit code: a success has retired the backup and counted down, a
            // failure has kept both, so that the deinstall can be run again.
            const bool kept = test_support::Exists(mission.game.Companion(".Zip"));
            EXPECT_EQ(kept, result.exitCode == 2) << result.output;
            EXPECT_EQ(mission.Installed(), result.exitCode == 2) << result.output;
            mission.Restore();
            EXPECT_EQ(Differences(mission.before, TakeSnapshot(mission.game)), "") << result.output;
            return test_support::Exists(mark);
        });
}

}  // namespace

// Every file operation of each kind, failing in turn, in an install and in a deinstall.
class FaultE2E : public ::testing::TestWithParam<const char*> {};

TEST_P(FaultE2E, InstallWithAFailingOperation_LosesNothing) {
    CheckInstallWithFault(GetParam());
}

TEST_P(FaultE2E, DeinstallWithAFailingOperation_LosesNothing) {
    CheckDeinstallWithFault(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Operations, FaultE2E,
                         ::testing::Values("write", "flush", "rename", "delete"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param);
                         });

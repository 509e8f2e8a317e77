// State files that are no regular file on Linux: a FIFO, a device, a dangling link. Each is
// unreadable at once (no wait for a FIFO's writer) and never written over.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/file_system.h"
#include "platform/profile.h"
#include "tests/support/test_support.h"

namespace {

using platform::ProfileState;

enum class Special { fifo, device, danglingLink };

class ProfileSpecialFileTest : public ::testing::TestWithParam<Special> {
protected:
    test_support::TempFolder folder;
    const std::string ini = folder.Join("Brennick.Ini");
    const std::string host = platform::ToHostPath(ini);
};

TEST_P(ProfileSpecialFileTest, IsUnreadableAtOnceAndNeverWrittenOver) {
    switch (GetParam()) {
        case Special::fifo:
            ASSERT_EQ(mkfifo(host.c_str(), 0600), 0);
            break;
        case Special::device:
            ASSERT_EQ(symlink("/dev/zero", host.c_str()), 0);
            break;
        case Special::danglingLink:
            ASSERT_EQ(symlink((host + ".gone").c_str(), host.c_str()), 0);
            break;
    }
    EXPECT_EQ(platform::CheckProfile(ini, "Mission"), ProfileState::unreadable);
    EXPECT_EQ(platform::GetProfileString(ini, "Mission", "Installed", "d"), "d");
    EXPECT_FALSE(platform::WriteProfileString(ini, "Mission", "Installed", "1"));
    struct stat info;
    ASSERT_EQ(lstat(host.c_str(), &info), 0);
    EXPECT_FALSE(S_ISREG(info.st_mode)) << "replaced by a file";
    EXPECT_FALSE(test_support::Exists(ini + ".gone"));
}

INSTANTIATE_TEST_SUITE_P(NoRegularFile, ProfileSpecialFileTest,
                         ::testing::Values(Special::fifo, Special::device, Special::danglingLink));

}  // namespace

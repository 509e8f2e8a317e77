// Interoperability of what the engine writes: Info-ZIP, Python's zipfile and zip's volume joiner
// accept the engine's archives, plain, encrypted and spanned, and give back the original bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "interop/zip_tools.h"
#include "platform/file_system.h"
#include "support/test_support.h"
#include "zip/zip_handler.h"
#include "zip/zip_test_data.h"

using test_support::ReadFile;
using test_support::TempFolder;
using test_support::WriteFile;
using zip_tools::Quoted;

namespace {

struct SourceFile {
    std::string name;  // relative, backslashes
    std::string data;
};

class WriteInteropTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!zip_tools::HaveZip() || !zip_tools::HavePython()) {
            GTEST_SKIP() << "Info-ZIP or python3 cannot be run from here";
        }
        platform::CreateFolder(folder.Join("maps"));
        platform::CreateFolder(folder.Join("maps\\empty"));
        files = {{"empty.txt", ""},
                 {"exact.bin", zip_test_data::MixedData(65535, 1)},
                 {"maps\\big.bin", zip_test_data::MixedData(3 * 1024 * 1024 + 17, 2)},
                 {"maps\\small.txt", "a small text\r\n"}};
        for (const SourceFile& file : files) WriteFile(folder.Join(file.name), file.data);
    }

    // Adds the folders and files (relative names) to a new archive at level.
    void Write(const std::string& archive, int level, int mode = CZipHandler::create,
               int32_t volumeSize = 0, const std::string& password = "") {
        zip_test_data::CurrentFolderScope scope(folder.Path());
        CZipHandler zip;
        zip.Open(archive, mode, volumeSize);
        if (!password.empty())
            zip.SetPassword(password);
        ASSERT_TRUE(zip.AddFile("maps", level, true, nullptr, 0, 65535));
        ASSERT_TRUE(zip.AddFile("maps\\empty", level, true, nullptr, 0, 65535));
        for (const SourceFile& file : files) {
            ASSERT_TRUE(zip.AddFile(file.name, level, true, nullptr, 0, 65535)) << file.name;
        }
        zip.Close(false);
    }

    static std::string ArchiveName(const std::string& name) {
        std::string out = name;
        for (char& c : out) {
            if (c == '\\')
                c = '/';
        }
        return out;
    }

    // unzip -t, Python's testzip() and unzip -p of every file.
    void ExpectToolsRead(const std::string& archive, const std::string& password = "") {
        const std::string pass = password.empty() ? "" : " -P " + password + " ";
        std::string output;
        EXPECT_EQ(zip_tools::Run("unzip -t" + pass + " " + Quoted(archive), &output), 0) << output;
        const std::string script = folder.Join("testzip.py");
        WriteFile(script,
                  "import sys, zipfile\n"
                  "z = zipfile.ZipFile(sys.argv[1])\n"
                  "if len(sys.argv) > 2: z.setpassword(sys.argv[2].encode())\n"
                  "bad = z.testzip()\n"
                  "print('bad', bad) if bad else print('clean', len(z.infolist()))\n");
        EXPECT_EQ(
            zip_tools::Run("python3 " + Quoted(script) + " " + Quoted(archive) + " " + password,
                           &output),
            0);
        EXPECT_EQ(output, "clean 6\n");
        for (const SourceFile& file : files) {
            ASSERT_EQ(zip_tools::Run(
                          "unzip -p" + pass + " " + Quoted(archive) + " " + ArchiveName(file.name),
                          &output),
                      0);
            EXPECT_TRUE(output == file.data) << file.name;
        }
    }

    TempFolder folder;
    std::vector<SourceFile> files;
};

}  // namespace

TEST_F(WriteInteropTest, ToolsReadEveryLevel) {
    for (const int level : {-1, 0, 1, 2, 6, 9}) {
        SCOPED_TRACE("level " + std::to_string(level));
        const std::string archive = folder.Join("level.zip");
        Write(archive, level);
        ExpectToolsRead(archive);
    }
}

TEST_F(WriteInteropTest, ToolsReadEncryptedEntries) {
    for (const int level : {0, 6}) {
        SCOPED_TRACE("level " + std::to_string(level));
        const std::string archive = folder.Join("secret.zip");
        Write(archive, level, CZipHandler::create, 0, "secret");
        ExpectToolsRead(archive, "secret");
        std::string output;
        EXPECT_NE(zip_tools::Run("unzip -t -P wrong " + Quoted(archive), &output), 0);
    }
}

TEST_F(WriteInteropTest, OneVolumeSpannedArchiveIsOrdinary) {
    const std::string archive = folder.Join("one.zip");
    Write(archive, 6, CZipHandler::createSpanned, 100 * 1024 * 1024);
    EXPECT_FALSE(test_support::Exists(folder.Join("one.000")));
    ExpectToolsRead(archive);
}

TEST_F(WriteInteropTest, MultiVolumeSetJoinsWithZip) {
    const std::string archive = folder.Join("multi.zip");
    Write(archive, 1, CZipHandler::createSpanned, 700 * 1024);
    // Our volumes are name.000, name.001, ...; zip expects name.z01, name.z02, ...
    int volumes = 0;
    for (;; ++volumes) {
        char number[16];
        std::snprintf(number, sizeof number, "%.3d", volumes);
        const std::string from = folder.Join(std::string("multi.") + number);
        if (!test_support::Exists(from))
            break;
        std::snprintf(number, sizeof number, "z%.2d", volumes + 1);
        ASSERT_TRUE(platform::MoveFileTo(from, folder.Join(std::string("multi.") + number)));
    }
    ASSERT_GE(volumes, 2);
    std::string output;
    ASSERT_EQ(zip_tools::Run("zip -s 0 multi.zip --out joined.zip", &output, folder.Path()), 0)
        << output;
    ExpectToolsRead(folder.Join("joined.zip"));
}

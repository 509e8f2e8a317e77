// Interoperability of extraction: archives made by Info-ZIP, Python's zipfile and 7-Zip (stored,
// deflated, streamed with data descriptors, behind a prefix, encrypted) extract byte for byte,
// with their modification times and read-only bits.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "interop/zip_tools.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "support/test_support.h"
#include "zip/path_helpers.h"
#include "zip/zip_exception.h"
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
    bool readOnly = false;
};

constexpr std::time_t oddSecond = 1300000001;  // 2011-03-13, an odd second

class ExtractInteropTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!zip_tools::HaveZip() || !zip_tools::HavePython()) {
            GTEST_SKIP() << "Info-ZIP or python3 cannot be run from here";
        }
        source = folder.Join("src");
        platform::CreateFolder(source);
        platform::CreateFolder(source + "\\sub");
        files = {{"text.txt", std::string(5000, 't') + "end\n"},
                 {"mixed.bin", zip_test_data::MixedData(1000000, 3)},
                 {"empty.txt", ""},
                 {"sub\\inner.txt", "inner\n"},
                 {"ro.txt", "read only\n", true}};
        for (size_t i = 0; i < files.size(); ++i) {
            const std::string path = source + "\\" + files[i].name;
            WriteFile(path, files[i].data);
            CFileStatus status;
            status.lastWriteTime = oddSecond + static_cast<std::time_t>(i) * 3600;
            status.lastAccessTime = status.lastWriteTime;
            status.attributes = files[i].readOnly ? platform::attributeReadOnly : 0;
            CFile::SetStatus(path, status);
        }
    }

    std::string Make(const std::string& name, const std::string& command) {
        std::string output;
        EXPECT_EQ(zip_tools::Run(command, &output, source), 0) << command << "\n" << output;
        return folder.Join(name);
    }

    // Extracts every entry of archive and compares it with its source file.
    void ExpectExtractsWhole(const std::string& archive, const std::string& password = "") {
        SCOPED_TRACE(archive);
        const std::string out = folder.Join("out");
        test_support::RemoveFolderTree(out);
        CZipHandler zip;
        zip.Open(archive, CZipHandler::openReadOnly, 0);
        if (!password.empty())
            zip.SetPassword(password);
        size_t found = 0;
        for (uint16_t i = 0; i < zip.GetEntryCount(); ++i) {
            const CZipEntryHeader header = zip_test_data::InfoOf(zip, i);
            ASSERT_TRUE(zip.ExtractEntry(i, out, true, nullptr, nullptr, 0, 65535))
                << header.GetFileName();
            if (zip.IsEntryDirectory(i)) {
                EXPECT_EQ(GetPathKind(out + "\\" + header.GetFileName()), PathKind::folder);
                continue;
            }
            for (size_t f = 0; f < files.size(); ++f) {
                if (files[f].name != header.GetFileName())
                    continue;
                ++found;
                const std::string path = out + "\\" + files[f].name;
                EXPECT_TRUE(ReadFile(path) == files[f].data) << files[f].name;
                CFileStatus status;
                ASSERT_TRUE(CFile::GetStatus(path, status));
                const std::time_t written = oddSecond + static_cast<std::time_t>(f) * 3600;
                // DOS times keep even seconds; tools round odd ones down or up.
                EXPECT_EQ(status.lastWriteTime, header.GetTime()) << files[f].name;
                EXPECT_TRUE(status.lastWriteTime == written - 1 ||
                            status.lastWriteTime == written + 1)
                    << files[f].name << " " << status.lastWriteTime - written;
                const uint32_t readOnly = platform::GetAttributes(path) & 1;
                EXPECT_EQ(readOnly, header.externalAttributes & 1) << files[f].name;
            }
        }
        EXPECT_EQ(found, files.size());
        zip.Close(false);
    }

    TempFolder folder;
    std::string source;
    std::vector<SourceFile> files;
};

// Python writes each file with its time and mode; stream=True writes to a pipe (descriptors).
const char* const pythonWriter =
    "import os, sys, zipfile\n"
    "method = zipfile.ZIP_STORED if sys.argv[2] == 'stored' else zipfile.ZIP_DEFLATED\n"
    "out = sys.stdout.buffer if sys.argv[3] == 'stream' else open(sys.argv[1], 'wb')\n"
    "with zipfile.ZipFile(out, 'w', method) as z:\n"
    "    for root, dirs, names in os.walk('.'):\n"
    "        for n in sorted(names):\n"
    "            z.write(os.path.join(root, n)[2:])\n";

}  // namespace

TEST_F(ExtractInteropTest, InfoZipArchivesExtractByteForByte) {
    const std::string stored = Make("stored.zip", "zip -q -r -0 ../stored.zip .");
    ExpectExtractsWhole(stored);
    const std::string deflated = Make("deflated.zip", "zip -q -r -9 ../deflated.zip .");
    ExpectExtractsWhole(deflated);
    ExpectExtractsWhole(Make("streamed.zip", "zip -q -r -fz- - . | cat > ../streamed.zip"));
    ExpectExtractsWhole(Make("prefixed.zip",
                             "printf 'MZ stub of 33 bytes before it...' | cat - ../deflated.zip "
                             "> ../prefixed.zip"));
    // Info-ZIP keeps the read-only bit in the low byte of the attributes.
    CZipHandler zip;
    zip.Open(deflated, CZipHandler::openReadOnly, 0);
    const int index = zip.FindEntry("ro.txt", true);
    ASSERT_GE(index, 0);
    EXPECT_EQ(zip_test_data::InfoOf(zip, static_cast<uint16_t>(index)).externalAttributes & 1, 1u);
}

TEST_F(ExtractInteropTest, PythonArchivesExtractByteForByte) {
    WriteFile(folder.Join("writer.py"), pythonWriter);
    const std::string writer = "python3 " + Quoted(folder.Join("writer.py")) + " ";
    ExpectExtractsWhole(Make("p0.zip", writer + "../p0.zip stored file"));
    ExpectExtractsWhole(Make("p8.zip", writer + "../p8.zip deflated file"));
    ExpectExtractsWhole(Make("ps.zip", writer + "- deflated stream | cat > ../ps.zip"));
}

TEST_F(ExtractInteropTest, SevenZipArchivesExtractByteForByte) {
    if (!zip_tools::Have7z())
        GTEST_SKIP() << "7-Zip cannot be run from here";
    const std::string tool = zip_tools::SevenZip();
    ExpectExtractsWhole(Make("7d.zip", tool + " a -tzip -mx=7 ../7d.zip ."));
    ExpectExtractsWhole(Make("7s.zip", tool + " a -tzip -mx=0 ../7s.zip ."));
}

TEST_F(ExtractInteropTest, ZipEncryptedEntriesDecryptWithTheirPassword) {
    const std::vector<std::string> archives = {
        Make("e8.zip", "zip -q -r -P secret ../e8.zip ."),
        Make("e0.zip", "zip -q -r -0 -P secret ../e0.zip ."),
        Make("es.zip", "zip -q -r -fz- -P secret - . | cat > ../es.zip"),
        Make("es0.zip", "zip -q -r -0 -fz- -P secret - . | cat > ../es0.zip")};
    for (const std::string& archive : archives) {
        ExpectExtractsWhole(archive, "secret");
        CZipHandler zip;
        zip.Open(archive, CZipHandler::openReadOnly, 0);
        zip.SetPassword("Secret");
        int headerFailures = 0;
        for (uint16_t i = 0; i < zip.GetEntryCount(); ++i) {
            if (zip.IsEntryDirectory(i) || zip_test_data::InfoOf(zip, i).uncompressedSize == 0) {
                continue;
            }
            try {
                // One time in 256 the check byte matches and the data must fail instead.
                EXPECT_FALSE(
                    zip.ExtractEntry(i, folder.Join("wrong"), true, nullptr, nullptr, 0, 65535));
            } catch (const CZipException& e) {
                headerFailures += e.code == CZipException::badArchivePassword;
                EXPECT_TRUE(e.code == CZipException::badArchivePassword ||
                            e.code == CZipException::dataError ||
                            e.code == CZipException::bufError ||
                            e.code == CZipException::invalidCrc ||
                            e.code == CZipException::corruptedArchive)
                    << e.code;
            }
            zip.AbandonEntry();
        }
        EXPECT_GT(headerFailures, 0) << archive;
        zip.Close(true);
    }
}

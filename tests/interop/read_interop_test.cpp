// Interoperability: archives written by Info-ZIP, Python's zipfile and 7-Zip are read with exactly
// the entries those tools report, stay unchanged when opened and closed, and what the engine
// writes is accepted by them.
#include <gtest/gtest.h>

#include "interop/zip_tools.h"
#include "platform/file_system.h"
#include "support/test_support.h"
#include "zip/zip_exception.h"
#include "zip/zip_handler.h"

namespace {

using zip_tools::Listing;
using zip_tools::Quoted;

class ReadInteropTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!zip_tools::HavePython())
            GTEST_SKIP() << "python3 cannot be run from here";
        source = folder.Join("src");
        ASSERT_TRUE(platform::CreateFolder(source));
        ASSERT_TRUE(platform::CreateFolder(source + "\\sub"));
        ASSERT_TRUE(platform::CreateFolder(source + "\\sub\\deeper"));
        ASSERT_TRUE(platform::CreateFolder(source + "\\emptydir"));
        std::string text;
        for (int i = 0; i < 300; ++i) text += "line " + std::to_string(i) + " of a mission file\n";
        std::string noise;
        uint32_t seed = 12345;
        for (int i = 0; i < 3000; ++i) {
            seed = seed * 1103515245u + 12345u;
            noise += static_cast<char>(seed >> 24);
        }
        test_support::WriteFile(source + "\\text.txt", text);
        test_support::WriteFile(source + "\\noise.bin", noise);
        test_support::WriteFile(source + "\\empty.txt", "");
        test_support::WriteFile(source + "\\sub\\inner.txt", "inner\n");
        test_support::WriteFile(source + "\\sub\\deeper\\deep.txt", text.substr(0, 777));
    }

    // The engine's view of an archive in the oracle's terms.
    std::vector<Listing> ListWithEngine(const std::string& path, std::string& comment) {
        CZipHandler zip;
        zip.Open(path, CZipHandler::openReadOnly, 0);
        std::vector<Listing> entries;
        for (int i = 0; i < zip.GetEntryCount(); ++i) {
            CZipEntryHeader header;
            EXPECT_TRUE(zip.GetEntryInfo(header, static_cast<uint16_t>(i)));
            entries.push_back({header.GetFileName(), header.crc32Value, header.compressedSize,
                               header.uncompressedSize, header.method, header.externalAttributes,
                               header.flag});
        }
        comment = BufferToText(zip.GetCentralDirectory().archiveComment);
        WalkEntries(zip);
        zip.Close(false);
        return entries;
    }

    // Positions every entry, skips its data and checks its data descriptor, as reading would.
    static void WalkEntries(CZipHandler& zip) {
        CZipCentralDirectory& dir = zip.GetCentralDirectory();
        for (int i = 0; i < zip.GetEntryCount(); ++i) {
            dir.OpenEntryRecord(i);
            zip.GetStorage().GetFile()->Seek(dir.currentHeader->compressedSize, CFile::current);
            EXPECT_NO_THROW(dir.CloseEntryRecord()) << "entry " << i;
        }
    }

    // Compares the engine with Python on one archive and checks that open and close keep it.
    void ExpectSameAsPython(const std::string& path, size_t expectedEntries) {
        std::vector<Listing> expected;
        std::string expectedComment;
        ASSERT_TRUE(zip_tools::ListWithPython(path, expected, expectedComment)) << path;
        ASSERT_EQ(expected.size(), expectedEntries);
        std::string comment;
        const std::vector<Listing> actual = ListWithEngine(path, comment);
        ASSERT_EQ(actual.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i)
            EXPECT_EQ(actual[i], expected[i]) << expected[i].name;
        EXPECT_EQ(comment, expectedComment);

        const std::string before = test_support::ReadFile(path);
        CZipHandler zip;
        zip.Open(path, CZipHandler::openExisting, 0);
        zip.Close(false);
        EXPECT_EQ(test_support::ReadFile(path), before) << "open and close changed " << path;
    }

    int Shell(const std::string& command) { return zip_tools::Run(command, nullptr, source); }

    test_support::TempFolder folder;
    std::string source;
};

bool Contains(const std::vector<Listing>& entries, const std::string& name, bool folderEntry) {
    for (const Listing& entry : entries)
        if (entry.name == name)
            return CZipEntryHeader::IsDirectoryAttribute(entry.attributes) == folderEntry;
    return false;
}

TEST_F(ReadInteropTest, InfoZip_DeflatedStoredFoldersAndComment) {
    if (!zip_tools::HaveZip())
        GTEST_SKIP() << "Info-ZIP zip cannot be run from here";
    const std::string deflated = folder.Join("deflated.zip");
    const std::string stored = folder.Join("stored.zip");
    const std::string commented = folder.Join("commented.zip");
    ASSERT_EQ(Shell("zip -q -r " + Quoted(deflated) + " ."), 0);
    ASSERT_EQ(Shell("zip -q -r -0 " + Quoted(stored) + " ."), 0);
    ASSERT_EQ(Shell("zip -q -r -D " + Quoted(commented) +
                    " . && echo 'mission notes' | zip -q -z " + Quoted(commented)),
              0);
    ExpectSameAsPython(deflated, 8);
    ExpectSameAsPython(stored, 8);
    ExpectSameAsPython(commented, 5);

    std::string comment;
    const std::vector<Listing> entries = ListWithEngine(deflated, comment);
    EXPECT_TRUE(Contains(entries, "sub\\deeper\\deep.txt", false));
    EXPECT_TRUE(Contains(entries, "emptydir\\", true));
    EXPECT_TRUE(Contains(entries, "sub\\", true));
    ListWithEngine(commented, comment);
    EXPECT_EQ(comment, "mission notes");
}

TEST_F(ReadInteropTest, InfoZip_StreamedEntriesCarryDataDescriptors) {
    if (!zip_tools::HaveZip())
        GTEST_SKIP() << "Info-ZIP zip cannot be run from here";
    const std::string streamed = folder.Join("streamed.zip");
    const std::string piped = folder.Join("piped.zip");
    // Writing to a pipe keeps zip from seeking back: every entry gets a data descriptor.
    ASSERT_EQ(Shell("zip -q -r -fz- - . | cat > " + Quoted(streamed)), 0);
    ASSERT_EQ(Shell("cat text.txt | zip -q -fz- - - | cat > " + Quoted(piped)), 0);
    ExpectSameAsPython(streamed, 8);
    ExpectSameAsPython(piped, 1);
    std::string comment;
    for (const Listing& entry : ListWithEngine(streamed, comment)) {
        if (CZipEntryHeader::IsDirectoryAttribute(entry.attributes))
            continue;
        EXPECT_NE(entry.flag & 8, 0) << entry.name;
    }
}

TEST_F(ReadInteropTest, Python_DeflatedStoredAndStreamed) {
    const std::string script = folder.Join("make.py");
    test_support::WriteFile(
        script,
        "import sys, zipfile, io\n"
        "for name, method in (('py-deflated.zip', zipfile.ZIP_DEFLATED),\n"
        "                     ('py-stored.zip', zipfile.ZIP_STORED)):\n"
        "    with zipfile.ZipFile(sys.argv[1] + '/' + name, 'w', method) as z:\n"
        "        z.write('text.txt', 'Maps/text.txt')\n"
        "        z.write('noise.bin', 'noise.bin')\n"
        "        z.writestr('empty/', '')\n"
        "        z.comment = b'made by python'\n"
        "class Pipe(io.RawIOBase):\n"
        "    def __init__(self, f): self.f = f\n"
        "    def writable(self): return True\n"
        "    def write(self, b): return self.f.write(b)\n"
        "with open(sys.argv[1] + '/py-streamed.zip', 'wb') as out:\n"
        "    with zipfile.ZipFile(Pipe(out), 'w', zipfile.ZIP_DEFLATED) as z:\n"
        "        with z.open('a/streamed.txt', 'w') as e: e.write(b'x' * 5000)\n"
        "        with z.open('b.txt', 'w') as e: e.write(b'hello')\n");
    ASSERT_EQ(Shell(zip_tools::Python() + " " + Quoted(script) + " " + Quoted(folder.Path())), 0);
    ExpectSameAsPython(folder.Join("py-deflated.zip"), 3);
    ExpectSameAsPython(folder.Join("py-stored.zip"), 3);
    ExpectSameAsPython(folder.Join("py-streamed.zip"), 2);
}

TEST_F(ReadInteropTest, SevenZip_DeflatedAndStored) {
    if (!zip_tools::Have7z())
        GTEST_SKIP() << "7-Zip cannot be run from here";
    const std::string deflated = folder.Join("7z-deflated.zip");
    const std::string stored = folder.Join("7z-stored.zip");
    const std::string sevenZip = zip_tools::SevenZip();
    ASSERT_EQ(Shell(sevenZip + " a -bd -tzip " + Quoted(deflated) + " . > /dev/null"), 0);
    ASSERT_EQ(Shell(sevenZip + " a -bd -tzip -mx0 " + Quoted(stored) + " . > /dev/null"), 0);
    ExpectSameAsPython(deflated, 8);
    ExpectSameAsPython(stored, 8);
}

// What Info-ZIP, Python and 7-Zip write with ZIP64 records (forced, or because the input's size
// was unknown) is read with the entries Python reports, every local header and 8-byte data
// descriptor agreeing with the directory.
TEST_F(ReadInteropTest, Zip64Writers_ReadAsPythonReadsThem) {
    if (!zip_tools::HaveZip())
        GTEST_SKIP() << "Info-ZIP zip cannot be run from here";
    const std::string script = folder.Join("make64.py");
    test_support::WriteFile(
        script,
        std::string(zip_tools::pythonArchiveWriter) +
            "        for name in ('text.txt', 'noise.bin', 'sub/inner.txt', 'empty.txt'):\n"
            "            with open(name, 'rb') as f, z.open(name, 'w', force_zip64=True) as e:\n"
            "                e.write(f.read())\n");
    const std::string python = zip_tools::Python() + " " + Quoted(script) + " ";
    const struct {
        const char* name;
        std::string command;
        size_t entries;
    } makers[] = {
        {"fz.zip", "zip -q -r -fz OUT .", 8},
        {"streamed.zip", "cat text.txt | zip -q - - | cat > OUT", 1},
        {"stdin.zip", "cat text.txt | zip -q - - > OUT", 1},
        {"stdin-fz.zip", "cat text.txt | zip -q -fz OUT -", 1},
        {"python.zip", python + "OUT seek", 4},
        {"python-streamed.zip", python + "OUT stream", 4},
        {"7z-stdin.zip",
         "cat text.txt | " + zip_tools::SevenZip() + " a -bd -tzip -sitext.txt OUT > /dev/null", 1},
    };
    for (const auto& maker : makers) {
        if (maker.command.find(zip_tools::SevenZip()) != std::string::npos && !zip_tools::Have7z())
            continue;
        const std::string path = folder.Join(maker.name);
        std::string command = maker.command;
        command.replace(command.find("OUT"), 3, Quoted(path));
        ASSERT_EQ(Shell(command), 0) << command;
        // A ZIP64 end record, or a ZIP64 field of two sizes.
        const std::string bytes = test_support::ReadFile(path);
        EXPECT_TRUE(bytes.find("PK\x06\x06") != std::string::npos ||
                    bytes.find(std::string("\x01\x00\x10\x00", 4)) != std::string::npos)
            << maker.name << " holds no ZIP64 record";
        ExpectSameAsPython(path, maker.entries);
    }

    // Info-ZIP's -fz written to a pipe sets the directory's offset to its sentinel without a
    // ZIP64 end record to resolve it; Python and 7-Zip refuse it too.
    const std::string broken = folder.Join("broken.zip");
    ASSERT_EQ(Shell("cat text.txt | zip -q -fz - - | cat > " + Quoted(broken)), 0);
    CZipHandler zip;
    try {
        zip.Open(broken, CZipHandler::openReadOnly, 0);
        ADD_FAILURE() << "an end record with an unresolved offset opened";
    } catch (const CZipException& e) {
        EXPECT_EQ(e.code, CZipException::corruptedArchive);
    }
    zip.Close(true);
}

// An Info-ZIP split set (.z01, .z02, ..., .zip) holds the entries a single archive of the same
// files holds, and every one of them reads back with its CRC-32 checked.
TEST_F(ReadInteropTest, InfoZipSplitSet_ReadsAsTheSingleArchive) {
    if (!zip_tools::HaveZip())
        GTEST_SKIP() << "Info-ZIP zip cannot be run from here";
    test_support::WriteFile(
        source + "\\big.bin", std::string(3000, 'x') + [] {
            std::string noise;
            uint32_t seed = 99;
            for (int i = 0; i < 200000; ++i) {
                seed = seed * 1103515245u + 12345u;
                noise += static_cast<char>(seed >> 24);
            }
            return noise;
        }());
    const std::string single = folder.Join("single.zip");
    const std::string split = folder.Join("split.zip");
    ASSERT_EQ(
        Shell("zip -q -r " + Quoted(single) + " . && zip -q -r -s 64k " + Quoted(split) + " ."), 0);
    ASSERT_NE(platform::GetAttributes(folder.Join("split.z03")), platform::invalidAttributes);
    std::string comment;
    const std::vector<Listing> expected = ListWithEngine(single, comment);
    std::vector<Listing> actual;
    CZipHandler zip;
    zip.Open(split, CZipHandler::openReadOnly, 0);
    const std::string target = folder.Join("out");
    for (int i = 0; i < zip.GetEntryCount(); ++i) {
        CZipEntryHeader header;
        ASSERT_TRUE(zip.GetEntryInfo(header, static_cast<uint16_t>(i)));
        actual.push_back({header.GetFileName(), header.crc32Value, header.compressedSize,
                          header.uncompressedSize, header.method, header.externalAttributes,
                          header.flag});
        EXPECT_TRUE(
            zip.ExtractEntry(static_cast<uint16_t>(i), target, true, nullptr, nullptr, 0, 16384))
            << header.GetFileName();
    }
    zip.Close(false);
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(test_support::ReadFile(target + "\\big.bin"),
              test_support::ReadFile(source + "\\big.bin"));
}

TEST_F(ReadInteropTest, EmptyCreatedArchiveIsAcceptedByOtherTools) {
    const std::string path = folder.Join("empty.zip");
    CZipHandler zip;
    zip.Open(path, CZipHandler::create, 0);
    zip.Close(false);
    EXPECT_EQ(test_support::ReadFile(path).size(), 22u);
    std::vector<Listing> entries;
    std::string comment;
    EXPECT_TRUE(zip_tools::ListWithPython(path, entries, comment));
    EXPECT_TRUE(entries.empty());
    if (!zip_tools::HaveZip())
        return;
    std::string output;
    // unzip warns about an empty archive with exit code 1 but reads it.
    const int code = zip_tools::Run("unzip -l " + Quoted(path), &output, folder.Path());
    EXPECT_LE(code, 1) << output;
    EXPECT_EQ(output.find("End-of-central-directory signature not found"), std::string::npos);
}

TEST_F(ReadInteropTest, ArchiveWrittenByEngineTestsCleanWithOtherTools) {
    // Files added to an archive with data before it and to a new archive; both must test clean.
    const std::string stubbed = folder.Join("stubbed.zip");
    if (zip_tools::HaveZip()) {
        const std::string plain = folder.Join("plain.zip");
        ASSERT_EQ(Shell("zip -q -r " + Quoted(plain) + " sub"), 0);
        test_support::WriteFile(stubbed, std::string(1000, 'S') + test_support::ReadFile(plain));
    }
    const std::string created = folder.Join("created.zip");
    for (const std::string& path : {created, stubbed}) {
        if (path == stubbed && !zip_tools::HaveZip())
            continue;
        CZipHandler zip;
        zip.Open(path, path == created ? CZipHandler::create : CZipHandler::openExisting, 0);
        zip.EnableNameIndex(true);
        // Relative sources keep their folders in the entry names; the current folder is put back
        // before the temporary folder goes.
        std::string previous;
        ASSERT_TRUE(platform::GetCurrentFolder(previous));
        ASSERT_TRUE(platform::SetCurrentFolder(source));
        EXPECT_TRUE(zip.AddFile("text.txt", 6, true, nullptr, 0, 16384));
        EXPECT_TRUE(zip.AddFile("noise.bin", 0, true, nullptr, 0, 16384));
        EXPECT_TRUE(zip.AddFile("sub\\deeper\\deep.txt", 9, true, nullptr, 0, 16384));
        EXPECT_TRUE(platform::SetCurrentFolder(previous));
        zip.Close(false);

        std::vector<Listing> entries;
        std::string comment;
        ASSERT_TRUE(zip_tools::ListWithPython(path, entries, comment));
        EXPECT_TRUE(Contains(entries, "noise.bin", false));
        EXPECT_TRUE(Contains(entries, "sub\\deeper\\deep.txt", false));
        const std::vector<Listing> engine = ListWithEngine(path, comment);
        EXPECT_EQ(engine, entries);
        const std::string check =
            "import sys, zipfile\n"
            "sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)\n";
        test_support::WriteFile(folder.Join("check.py"), check);
        EXPECT_EQ(zip_tools::Run(zip_tools::Python() + " " + Quoted(folder.Join("check.py")) + " " +
                                 Quoted(path)),
                  0);
        if (!zip_tools::HaveZip())
            continue;
        // unzip warns (exit code 1) about the bytes before an archive, yet tests every entry.
        std::string output;
        const int code = zip_tools::Run("unzip -t " + Quoted(path), &output);
        EXPECT_EQ(code, path == created ? 0 : 1) << output;
        EXPECT_NE(output.find("No errors detected"), std::string::npos) << output;
    }
}

}  // namespace

// Tests of extraction: target paths, folders, the entry stream's edge cases and damaged data.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/file_system.h"
#include "tests/support/test_support.h"
#include "zip/archive_bytes.h"
#include "zip/path_helpers.h"
#include "zip/zip_exception.h"
#include "zip/zip_handler.h"
#include "zip/zip_test_data.h"

using test_support::Exists;
using test_support::ReadFile;
using test_support::TempFolder;
using test_support::WriteFile;
using zip_test_data::InfoOf;
using zip_test_data::MixedData;

namespace {

// Writes a stored archive built byte by byte and returns its path.
std::string WriteArchive(const TempFolder& folder, const std::vector<archive_bytes::Entry>& entries,
                         const std::string& prefix = "") {
    const std::string path = folder.Join("built.zip");
    WriteFile(path, archive_bytes::Build(entries, "", prefix).bytes);
    return path;
}

// An archive of one deflated entry made by the engine from data.
std::string DeflatedArchive(const TempFolder& folder, const std::string& data) {
    WriteFile(folder.Join("source.bin"), data);
    const std::string path = folder.Join("deflated.zip");
    CZipHandler zip;
    zip.Open(path, CZipHandler::create, 0);
    zip.AddFile(folder.Join("source.bin"), 6, false, nullptr, 0, 65535);
    zip.AddFile(folder.Join("source.bin"), 0, false, nullptr, 0, 65535);
    zip.Close(false);
    return path;
}

int ZipCode(const std::function<void()>& action) {
    try {
        action();
    } catch (const CZipException& e) {
        return e.code;
    }
    return -1;
}

bool StopAtOnce(uint32_t, uint32_t, intptr_t) {
    return false;
}

}  // namespace

TEST(ExtractEntry, RestoresTimestampAndAttributes) {
    TempFolder folder;
    archive_bytes::Entry entry{"ro.txt", "read me"};
    entry.attributes = 0x21;  // archive and read-only
    const std::string archive = WriteArchive(folder, {entry});
    CZipHandler zip;
    zip.Open(archive, CZipHandler::openReadOnly, 0);
    ASSERT_TRUE(zip.ExtractEntry(0, folder.Join("out"), true, nullptr, nullptr, 0, 65535));
    const std::string target = folder.Join("out\\ro.txt");
    EXPECT_EQ(ReadFile(target), "read me");
    CFileStatus status;
    ASSERT_TRUE(CFile::GetStatus(target, status));
    EXPECT_EQ(status.lastWriteTime, InfoOf(zip, 0).GetTime());
    EXPECT_EQ(platform::GetAttributes(target) & platform::attributeReadOnly,
              platform::attributeReadOnly);
    platform::SetAttributes(target, 0);
}

TEST(ExtractEntry, BuildsTargetPathWithAndWithoutFolders) {
    TempFolder folder;
    const std::string archive =
        WriteArchive(folder, {{"maps/sub/a.txt", "alpha"}, {"/abs/b.txt", "beta"}});
    CZipHandler zip;
    zip.Open(archive, CZipHandler::openReadOnly, 0);
    const std::string target = folder.Join("game") + "\\\\";  // trailing backslashes
    ASSERT_TRUE(zip.ExtractEntry(0, target, false, nullptr, nullptr, 0, 65535));
    EXPECT_EQ(ReadFile(folder.Join("game\\a.txt")), "alpha");
    EXPECT_FALSE(Exists(folder.Join("game\\maps")));
    ASSERT_TRUE(zip.ExtractEntry(0, target, true, nullptr, nullptr, 0, 65535));
    EXPECT_EQ(ReadFile(folder.Join("game\\maps\\sub\\a.txt")), "alpha");
    // A leading backslash makes no absolute path: the name stays below the target.
    ASSERT_TRUE(zip.ExtractEntry(1, target, true, nullptr, nullptr, 0, 65535));
    EXPECT_EQ(ReadFile(folder.Join("game\\abs\\b.txt")), "beta");
    const std::string newName = "renamed\\c.txt";
    ASSERT_TRUE(zip.ExtractEntry(1, target, true, &newName, nullptr, 0, 65535));
    EXPECT_EQ(ReadFile(folder.Join("game\\renamed\\c.txt")), "beta");
}

TEST(ExtractEntry, RefusesNamesThatLeaveTheTargetFolder) {
    TempFolder folder;
    const std::vector<std::string> names = {"../evil.txt", "a/../../evil.txt", "C:evil.txt",
                                            "a/b:stream",  "a/.../evil.txt",   "../x/"};
    std::vector<archive_bytes::Entry> entries;
    for (const std::string& name : names) entries.push_back({name, "bad"});
    entries.push_back({"good/ok.txt", "fine"});
    const std::string archive = WriteArchive(folder, entries);
    CZipHandler zip;
    zip.Open(archive, CZipHandler::openReadOnly, 0);
    const std::string target = folder.Join("game\\inner");
    for (uint16_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(ZipCode([&] { zip.ExtractEntry(i, target, true, nullptr, nullptr, 0, 100); }),
                  CZipException::corruptedArchive)
            << names[i];
        zip.AbandonEntry();
    }
    EXPECT_FALSE(Exists(folder.Join("game")));  // nothing was created
    EXPECT_FALSE(Exists(folder.Join("evil.txt")));
    const std::string sneaky = "..\\renamed.txt";
    EXPECT_EQ(ZipCode([&] { zip.ExtractEntry(6, target, true, &sneaky, nullptr, 0, 100); }),
              CZipException::corruptedArchive);
    // Without the folder part, a climbing folder is dropped and the name is harmless.
    ASSERT_TRUE(zip.ExtractEntry(1, target, false, nullptr, nullptr, 0, 100));
    EXPECT_EQ(ReadFile(folder.Join("game\\inner\\evil.txt")), "bad");
    ASSERT_TRUE(zip.ExtractEntry(6, target, true, nullptr, nullptr, 0, 100));
    EXPECT_EQ(ReadFile(folder.Join("game\\inner\\good\\ok.txt")), "fine");
}

TEST(ExtractEntry, FolderEntryBecomesFolderEvenWithData) {
    TempFolder folder;
    archive_bytes::Entry withData{"maps/", "data that is ignored"};
    withData.attributes = 0x10;
    archive_bytes::Entry slashOnly{"books/", ""};
    slashOnly.attributes = 0;  // marked by its trailing slash alone
    const std::string archive = WriteArchive(folder, {withData, slashOnly});
    CZipHandler zip;
    zip.Open(archive, CZipHandler::openReadOnly, 0);
    EXPECT_TRUE(zip.IsEntryDirectory(0));
    EXPECT_TRUE(zip.IsEntryDirectory(1));
    EXPECT_FALSE(zip.IsEntryDirectory(2));
    ASSERT_TRUE(zip.ExtractEntry(0, folder.Join("out"), true, nullptr, nullptr, 0, 10));
    EXPECT_EQ(zip.GetEntryState(), CZipHandler::EntryState::none);
    EXPECT_EQ(GetPathKind(folder.Join("out\\maps")), PathKind::folder);
    ASSERT_TRUE(zip.ExtractEntry(1, folder.Join("out"), true, nullptr, nullptr, 0, 10));
    EXPECT_EQ(GetPathKind(folder.Join("out\\books")), PathKind::folder);
}

TEST(ExtractEntry, EmptyStoredEntryAndExactBufferMultiples) {
    TempFolder folder;
    const std::string exact = MixedData(4096, 9);
    const std::string archive = WriteArchive(
        folder, {{"empty.txt", ""}, {"exact.bin", exact}, {"double.bin", exact + exact}});
    CZipHandler zip;
    zip.Open(archive, CZipHandler::openReadOnly, 0);
    ASSERT_TRUE(zip.OpenEntry(0));
    char buffer[16];
    EXPECT_EQ(zip.ReadEntry(buffer, sizeof buffer), 0u);
    EXPECT_EQ(zip.CloseEntry(nullptr), CZipHandler::CloseResult::whole);
    ASSERT_TRUE(zip.ExtractEntry(0, folder.Path(), false, nullptr, nullptr, 0, 4096));
    EXPECT_EQ(ReadFile(folder.Join("empty.txt")), "");
    ASSERT_TRUE(zip.ExtractEntry(1, folder.Path(), false, nullptr, nullptr, 0, 4096));
    EXPECT_EQ(ReadFile(folder.Join("exact.bin")), exact);
    ASSERT_TRUE(zip.ExtractEntry(2, folder.Path(), false, nullptr, nullptr, 0, 4096));
    EXPECT_EQ(ReadFile(folder.Join("double.bin")), exact + exact);
}

TEST(ExtractEntry, WrongCrcThrowsAfterFileWasWrittenAndClosed) {
    TempFolder folder;
    archive_bytes::Archive built = archive_bytes::Build({{"a.txt", "payload"}, {"b.txt", "next"}});
    archive_bytes::PutU32(built.bytes, built.localOffsets[0] + 14, 0x12345678);
    archive_bytes::PutU32(built.bytes, built.centralOffsets[0] + 16, 0x12345678);
    WriteFile(folder.Join("crc.zip"), built.bytes);
    CZipHandler zip;
    zip.Open(folder.Join("crc.zip"), CZipHandler::openReadOnly, 0);
    EXPECT_EQ(ZipCode([&] { zip.ExtractEntry(0, folder.Path(), false, nullptr, nullptr, 0, 3); }),
              CZipException::invalidCrc);
    EXPECT_EQ(ReadFile(folder.Join("a.txt")), "payload");
    // The file is closed: it can be removed and opened for writing again.
    CFile again;
    EXPECT_TRUE(again.Open(folder.Join("a.txt"), CFile::modeWrite | CFile::shareDenyWrite));
    again.Close();
    EXPECT_EQ(zip.GetEntryState(), CZipHandler::EntryState::reading);
    EXPECT_FALSE(zip.ExtractEntry(1, folder.Path(), false, nullptr, nullptr, 0, 100));
    zip.AbandonEntry();
    ASSERT_TRUE(zip.ExtractEntry(1, folder.Path(), false, nullptr, nullptr, 0, 100));
    EXPECT_EQ(ReadFile(folder.Join("b.txt")), "next");
}

TEST(ReadEntry, StoredDataShorterThanItsSizeEndsAsIncomplete) {
    TempFolder folder;
    archive_bytes::Archive built = archive_bytes::Build({{"short.bin", "0123456789"}});
    // Claim 20 uncompressed bytes from 10 stored ones.
    archive_bytes::PutU32(built.bytes, built.localOffsets[0] + 22, 20);
    archive_bytes::PutU32(built.bytes, built.centralOffsets[0] + 24, 20);
    WriteFile(folder.Join("short.zip"), built.bytes);
    CZipHandler zip;
    zip.Open(folder.Join("short.zip"), CZipHandler::openReadOnly, 0);
    ASSERT_TRUE(zip.OpenEntry(0));
    char buffer[64];
    EXPECT_EQ(zip.ReadEntry(buffer, sizeof buffer), 10u);
    EXPECT_EQ(zip.ReadEntry(buffer, sizeof buffer), 0u);
    EXPECT_EQ(zip.CloseEntry(nullptr), CZipHandler::CloseResult::notWhole);
    EXPECT_FALSE(zip.ExtractEntry(0, folder.Path(), false, nullptr, nullptr, 0, 64));
    EXPECT_EQ(ReadFile(folder.Join("short.bin")), "0123456789");
    EXPECT_EQ(zip.GetEntryState(), CZipHandler::EntryState::none);
}

TEST(ReadEntry, DataDescriptorsWithAndWithoutSignatureAndPrefixBytes) {
    TempFolder folder;
    archive_bytes::Entry signed_{"a.txt", MixedData(30000, 1)};
    signed_.descriptor = true;
    archive_bytes::Entry bare{"b.txt", "bare descriptor"};
    bare.descriptor = true;
    bare.descriptorSignature = false;
    const std::string archive = WriteArchive(folder, {signed_, bare}, std::string(1000, 'x'));
    CZipHandler zip;
    zip.Open(archive, CZipHandler::openReadOnly, 0);
    ASSERT_TRUE(zip.ExtractEntry(0, folder.Path(), false, nullptr, nullptr, 0, 5000));
    ASSERT_TRUE(zip.ExtractEntry(1, folder.Path(), false, nullptr, nullptr, 0, 5000));
    EXPECT_EQ(ReadFile(folder.Join("a.txt")), signed_.data);
    EXPECT_EQ(ReadFile(folder.Join("b.txt")), bare.data);
}

TEST(ReadEntry, DeflatedEntryReadInSmallPiecesMatches) {
    TempFolder folder;
    const std::string data = MixedData(100000, 4);
    const std::string archive = DeflatedArchive(folder, data);
    CZipHandler zip;
    zip.Open(archive, CZipHandler::openReadOnly, 0);
    for (const uint32_t piece : {1u, 333u, 16384u, 100000u, 200000u}) {
        ASSERT_TRUE(zip.OpenEntry(0));
        std::string out;
        std::vector<char> buffer(piece);
        uint32_t n = 0;
        while ((n = zip.ReadEntry(buffer.data(), piece)) > 0) out.append(buffer.data(), n);
        EXPECT_EQ(zip.CloseEntry(nullptr), CZipHandler::CloseResult::whole) << piece;
        EXPECT_TRUE(out == data) << piece;
    }
}

TEST(ReadEntry, FlippedByteInDeflatedDataFailsAndArchiveStaysUsable) {
    TempFolder folder;
    const std::string data = MixedData(50000, 6);
    const std::string archive = DeflatedArchive(folder, data);
    std::string bytes = ReadFile(archive);
    const uint32_t dataStart = 30 + 10;  // "source.bin"
    for (const uint32_t at : {dataStart + 5, dataStart + 2000, dataStart + 9000}) {
        std::string damaged = bytes;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x55);
        WriteFile(folder.Join("damaged.zip"), damaged);
        CZipHandler zip;
        zip.Open(folder.Join("damaged.zip"), CZipHandler::openReadOnly, 0);
        const int code = ZipCode([&] {
            zip.ExtractEntry(0, folder.Join("out"), false, nullptr, nullptr, 0, 65535);
            zip.Close(false);
        });
        EXPECT_TRUE(code == CZipException::dataError || code == CZipException::invalidCrc ||
                    code == CZipException::bufError)
            << "offset " << at << " code " << code;
        zip.Close(true);
        EXPECT_TRUE(zip.IsClosed(false));
        zip.Open(folder.Join("damaged.zip"), CZipHandler::openReadOnly, 0);
        ASSERT_TRUE(zip.ExtractEntry(1, folder.Join("out"), false, nullptr, nullptr, 0, 65535));
        EXPECT_TRUE(ReadFile(folder.Join("out\\source.bin")) == data);
        zip.Close(false);
    }
}

TEST(ReadEntry, TruncatedArchiveFailsCleanly) {
    TempFolder folder;
    const std::string data = MixedData(50000, 8);
    const std::string archive = DeflatedArchive(folder, data);
    CZipHandler reference;
    reference.Open(archive, CZipHandler::openReadOnly, 0);
    const uint32_t compressed = InfoOf(reference, 0).compressedSize;
    reference.Close(false);
    // Claim only half the compressed data: the deflate stream runs out before its end.
    std::string bytes = ReadFile(archive);
    const size_t central = bytes.size() - 22 - 2 * (46 + 10);
    archive_bytes::PutU32(bytes, 18, compressed / 2);
    archive_bytes::PutU32(bytes, central + 20, compressed / 2);
    WriteFile(folder.Join("t.zip"), bytes);
    CZipHandler zip;
    zip.Open(folder.Join("t.zip"), CZipHandler::openReadOnly, 0);
    bool extracted = true;
    const int code = ZipCode([&] {
        extracted = zip.ExtractEntry(0, folder.Join("out"), false, nullptr, nullptr, 0, 4096);
    });
    EXPECT_TRUE(code == CZipException::bufError || (code == -1 && !extracted)) << code;
    zip.Close(true);
}

TEST(ExtractEntry, ProgressStopLeavesShorterFileAndFalse) {
    TempFolder folder;
    const std::string data = MixedData(10000, 2);
    const std::string archive = DeflatedArchive(folder, data);
    CZipHandler zip;
    zip.Open(archive, CZipHandler::openReadOnly, 0);
    EXPECT_FALSE(zip.ExtractEntry(0, folder.Join("out"), false, nullptr, StopAtOnce, 0, 1000));
    EXPECT_EQ(ReadFile(folder.Join("out\\source.bin")), data.substr(0, 1000));
    EXPECT_EQ(zip.GetEntryState(), CZipHandler::EntryState::none);
    EXPECT_TRUE(zip.ExtractEntry(0, folder.Join("out"), false, nullptr, nullptr, 0, 1000));
}

TEST(ExtractEntry, RefusesWithoutEntryOrBuffer) {
    TempFolder folder;
    const std::string archive = WriteArchive(folder, {{"a.txt", "alpha"}, {"b.txt", "beta"}});
    CZipHandler zip;
    EXPECT_FALSE(zip.ExtractEntry(0, folder.Path(), false, nullptr, nullptr, 0, 10));  // closed
    EXPECT_FALSE(zip.IsEntryDirectory(0));
    zip.Open(archive, CZipHandler::openReadOnly, 0);
    EXPECT_FALSE(zip.ExtractEntry(2, folder.Path(), false, nullptr, nullptr, 0, 10));
    EXPECT_FALSE(zip.ExtractEntry(0, folder.Path(), false, nullptr, nullptr, 0, 0));
    ASSERT_TRUE(zip.OpenEntry(0));
    EXPECT_FALSE(zip.OpenEntry(1));
    EXPECT_FALSE(zip.ExtractEntry(1, folder.Path(), false, nullptr, nullptr, 0, 10));
    EXPECT_FALSE(Exists(folder.Join("b.txt")));
    zip.Close(false);  // ends the half-read entry without complaint
    EXPECT_TRUE(zip.IsClosed(true));
}

TEST(ExtractEntry, UnsupportedMethodIsCorruptedArchive) {
    TempFolder folder;
    archive_bytes::Archive built = archive_bytes::Build({{"a.txt", "alpha"}});
    archive_bytes::PutU16(built.bytes, built.localOffsets[0] + 8, 12);
    archive_bytes::PutU16(built.bytes, built.centralOffsets[0] + 10, 12);
    WriteFile(folder.Join("m.zip"), built.bytes);
    CZipHandler zip;
    zip.Open(folder.Join("m.zip"), CZipHandler::openReadOnly, 0);
    EXPECT_EQ(ZipCode([&] { zip.OpenEntry(0); }), CZipException::corruptedArchive);
    zip.AbandonEntry();
    EXPECT_EQ(zip.GetEntryState(), CZipHandler::EntryState::none);
}

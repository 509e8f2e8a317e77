// Tests of the archive object: open and close states, queries, errors and zlib's memory hooks.
#include "zip/zip_handler.h"

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "zip/archive_bytes.h"
#include "zip/zip_exception.h"

// What the engine keeps of zlib's memory, for the tests of its allocation hooks.
class CZipHandlerTestAccess {
public:
    static std::vector<void*>& Allocations(CZipHandler& zip) { return zip.allocationList; }
    static z_stream& Stream(CZipHandler& zip) { return zip.entryStream.stream; }
};

namespace {

class ZipHandlerTest : public ::testing::Test {
protected:
    std::string WriteArchive(const std::vector<archive_bytes::Entry>& entries) {
        const std::string path = folder.Join("archive.zip");
        test_support::WriteFile(path, archive_bytes::Build(entries).bytes);
        return path;
    }

    test_support::TempFolder folder;
    CZipHandler zip;
};

TEST_F(ZipHandlerTest, GetEntryInfo_IndexAtCountFailsAndLeavesHeaderUnchanged) {
    zip.Open(WriteArchive({{"a.txt", "a"}, {"b/c.txt", "bc"}}), CZipHandler::openReadOnly, 0);
    ASSERT_EQ(zip.GetEntryCount(), 2);
    CZipEntryHeader header;
    header.SetFileName("untouched");
    header.crc32Value = 77;
    EXPECT_FALSE(zip.GetEntryInfo(header, 2));
    EXPECT_EQ(header.GetFileName(), "untouched");
    EXPECT_EQ(header.crc32Value, 77u);

    ASSERT_TRUE(zip.GetEntryInfo(header, 1));
    EXPECT_EQ(header.GetFileName(), "b\\c.txt");
    // The copy is independent of the directory's header.
    header.fileName.Data()[0] = 'X';
    CZipEntryHeader again;
    ASSERT_TRUE(zip.GetEntryInfo(again, 1));
    EXPECT_EQ(again.GetFileName(), "b\\c.txt");
    zip.Close(false);
}

TEST_F(ZipHandlerTest, QueriesOnClosedArchiveAnswerSoftly) {
    CZipEntryHeader header;
    EXPECT_EQ(zip.GetEntryCount(), 0);
    EXPECT_FALSE(zip.GetEntryInfo(header, 0));
    EXPECT_EQ(zip.FindEntry("a.txt", false), -1);
    zip.EnableNameIndex(true);  // ignored while closed
    EXPECT_FALSE(zip.GetCentralDirectory().nameIndexEnabled);

    zip.Open(WriteArchive({{"a.txt", "a"}}), CZipHandler::openReadOnly, 0);
    zip.Close(false);
    EXPECT_EQ(zip.GetEntryCount(), 0);
    EXPECT_FALSE(zip.GetEntryInfo(header, 0));
    EXPECT_EQ(zip.FindEntry("a.txt", true), -1);
}

TEST_F(ZipHandlerTest, Close_TwiceDoesNothingTheSecondTime) {
    zip.Open(WriteArchive({{"a.txt", "a"}}), CZipHandler::openExisting, 0);
    zip.Close(false);
    EXPECT_TRUE(zip.IsClosed(true));
    EXPECT_TRUE(zip.IsClosed(false));
    EXPECT_NO_THROW(zip.Close(false));
    EXPECT_NO_THROW(zip.Close(true));
}

TEST_F(ZipHandlerTest, Close_AfterFailedOpenReleasesTheFile) {
    const std::string path = folder.Join("not-an-archive.zip");
    test_support::WriteFile(path, std::string(100, 'n'));
    try {
        zip.Open(path, CZipHandler::openExisting, 0);
        FAIL() << "a file without end record opened";
    } catch (const CZipException& e) {
        EXPECT_EQ(e.code, CZipException::rootDirectoryNotFound);
        EXPECT_EQ(e.filePath, path);
    }
    EXPECT_TRUE(zip.IsClosed(true));
    EXPECT_FALSE(zip.IsClosed(false));
    zip.Close(false);  // a normal close of a closed archive does nothing
    EXPECT_FALSE(zip.IsClosed(false));
    zip.Close(true);
    EXPECT_TRUE(zip.IsClosed(false));
    EXPECT_EQ(test_support::ReadFile(path), std::string(100, 'n'));

    // The object opens the next archive normally.
    zip.Open(WriteArchive({{"a.txt", "a"}}), CZipHandler::openReadOnly, 0);
    EXPECT_EQ(zip.GetEntryCount(), 1);
    zip.Close(false);
}

TEST_F(ZipHandlerTest, Open_WhileOpenIsIgnored) {
    zip.Open(WriteArchive({{"a.txt", "a"}}), CZipHandler::openReadOnly, 0);
    zip.Open(folder.Join("missing.zip"), CZipHandler::openReadOnly, 0);
    EXPECT_EQ(zip.GetEntryCount(), 1);
    zip.Close(false);
}

TEST_F(ZipHandlerTest, Open_MissingFileThrowsFileException) {
    EXPECT_THROW(zip.Open(folder.Join("missing.zip"), CZipHandler::openReadOnly, 0),
                 CFileException);
    EXPECT_TRUE(zip.IsClosed(true));
}

TEST_F(ZipHandlerTest, Create_ClosedWithoutEntriesIsTheEmptyArchive) {
    const std::string path = folder.Join("empty.zip");
    zip.Open(path, CZipHandler::create, 0);
    EXPECT_FALSE(zip.IsClosed(true));
    EXPECT_EQ(zip.GetEntryCount(), 0);
    zip.Close(false);
    const std::string expected = std::string("PK\x05\x06", 4) + std::string(18, '\0');
    EXPECT_EQ(test_support::ReadFile(path), expected);

    zip.Open(path, CZipHandler::openExisting, 0);
    EXPECT_EQ(zip.GetEntryCount(), 0);
    zip.Close(false);
    EXPECT_EQ(test_support::ReadFile(path), expected);
}

TEST_F(ZipHandlerTest, NameIndexSwitchSurvivesCloseAndOpen) {
    const std::string path = WriteArchive({{"b", "b"}, {"a", "a"}});
    zip.Open(path, CZipHandler::openReadOnly, 0);
    zip.EnableNameIndex(true);
    EXPECT_EQ(zip.GetCentralDirectory().nameIndex.size(), 2u);
    zip.Close(false);
    EXPECT_TRUE(zip.GetCentralDirectory().nameIndexEnabled);
    EXPECT_TRUE(zip.GetCentralDirectory().nameIndex.empty());
    zip.Open(path, CZipHandler::openReadOnly, 0);
    ASSERT_EQ(zip.GetCentralDirectory().nameIndex.size(), 2u);  // rebuilt while reading
    EXPECT_EQ(zip.GetCentralDirectory().nameIndex[0].index, 1);
    zip.Close(false);
}

TEST_F(ZipHandlerTest, ThrowError_NamesTheOpenArchiveOnly) {
    try {
        zip.ThrowError(ZipRaw::corruptedArchive);
    } catch (const CZipException& e) {
        EXPECT_EQ(e.code, CZipException::corruptedArchive);
        EXPECT_TRUE(e.filePath.empty());
    }
    const std::string path = WriteArchive({{"a", "a"}});
    zip.Open(path, CZipHandler::openReadOnly, 0);
    try {
        zip.ThrowError(-3);
    } catch (const CZipException& e) {
        EXPECT_EQ(e.code, CZipException::dataError);
        EXPECT_EQ(e.filePath, path);
    }
    zip.Close(false);
}

TEST_F(ZipHandlerTest, CheckZlibResult_PassesOkAndNeedDictOnly) {
    EXPECT_EQ(zip.CheckZlibResult(Z_OK), Z_OK);
    EXPECT_EQ(zip.CheckZlibResult(Z_NEED_DICT), Z_NEED_DICT);
    const int failing[] = {Z_STREAM_END, Z_ERRNO,     Z_STREAM_ERROR, Z_DATA_ERROR,
                           Z_MEM_ERROR,  Z_BUF_ERROR, Z_VERSION_ERROR};
    for (int result : failing) EXPECT_THROW(zip.CheckZlibResult(result), CZipException) << result;
}

TEST_F(ZipHandlerTest, ZipAlloc_TracksBlocksUntilFreed) {
    void* untracked = CZipHandler::ZipAlloc(nullptr, 4, 8);
    ASSERT_NE(untracked, nullptr);
    CZipHandler::ZipFree(nullptr, untracked);

    void* a = CZipHandler::ZipAlloc(&CZipHandlerTestAccess::Allocations(zip), 10, 10);
    void* b = CZipHandler::ZipAlloc(&CZipHandlerTestAccess::Allocations(zip), 1, 1);
    void* c = CZipHandler::ZipAlloc(&CZipHandlerTestAccess::Allocations(zip), 3, 7);
    ASSERT_EQ(CZipHandlerTestAccess::Allocations(zip).size(), 3u);
    CZipHandler::ZipFree(&CZipHandlerTestAccess::Allocations(zip), b);
    EXPECT_EQ(CZipHandlerTestAccess::Allocations(zip), (std::vector<void*>{a, c}));
    zip.FreeTrackedAllocations();  // ASan reports a leak or a double free if this is wrong
    EXPECT_TRUE(CZipHandlerTestAccess::Allocations(zip).empty());
}

TEST_F(ZipHandlerTest, ZlibStreamThroughHooksLeavesNothingTracked) {
    z_stream& stream = CZipHandlerTestAccess::Stream(zip);
    stream.opaque = &CZipHandlerTestAccess::Allocations(zip);
    ASSERT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    EXPECT_FALSE(CZipHandlerTestAccess::Allocations(zip).empty());
    deflateEnd(&stream);
    EXPECT_TRUE(CZipHandlerTestAccess::Allocations(zip).empty());

    // An interrupted stream's blocks are freed by the object.
    ASSERT_EQ(inflateInit2(&stream, -15), Z_OK);
    EXPECT_FALSE(CZipHandlerTestAccess::Allocations(zip).empty());
    stream.opaque = nullptr;
}

}  // namespace

// Tests of the volume storage: buffered writing, reading, numbered volumes and disk changes.
#include "zip/volume_storage.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "support/test_support.h"
#include "zip/path_helpers.h"
#include "zip/zip_exception.h"
#include "zip/zip_handler.h"

namespace {

using test_support::ReadFile;
using test_support::TempFolder;
using test_support::WriteFile;

constexpr int openExisting = 0;
constexpr int openReadOnly = 1;
constexpr int create = 2;
constexpr int createSpanned = 3;

std::string Pattern(size_t size, uint32_t seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(seed >> 16);
    }
    return bytes;
}

void WriteText(CZipVolumeStorage& storage, const std::string& text, bool atOnce) {
    storage.Write(text.data(), static_cast<uint32_t>(text.size()), atOnce);
}

std::string ReadText(CZipVolumeStorage& storage, uint32_t count, bool atOnce) {
    std::string text(count, '\0');
    EXPECT_EQ(storage.Read(text.data(), count, atOnce), count);
    return text;
}

// Runs action and returns the CZipException it throws; fails the test when it throws none.
template <typename Action>
CZipException ZipErrorOf(Action action) {
    try {
        action();
    } catch (const CZipException& error) {
        return error;
    }
    ADD_FAILURE() << "no CZipException was thrown";
    return CZipException(CZipException::success, "");
}

void ExpectClosed(const CZipVolumeStorage& storage) {
    EXPECT_EQ(storage.GetCurrentVolume(), -1);
    EXPECT_EQ(storage.GetFile(), nullptr);
    EXPECT_EQ(storage.GetSpanState(), CZipVolumeStorage::SpanState::none);
}

TEST(VolumeStorage, WritesThroughTheBufferAndReadsBack) {
    TempFolder temp;
    const std::string path = temp.Join("plain.zip");
    const std::string data = Pattern(100000, 1);
    CZipVolumeStorage storage;
    storage.Open(path, create, 0);
    EXPECT_EQ(storage.GetCurrentVolume(), 0);
    EXPECT_EQ(storage.GetSpanState(), CZipVolumeStorage::SpanState::none);
    WriteText(storage, data.substr(0, 40000), false);
    EXPECT_EQ(storage.GetFile()->GetLength(), 0u);  // still all in the buffer
    EXPECT_EQ(storage.GetPosition(), 40000u);
    WriteText(storage, data.substr(40000), true);
    // One full buffer of 65535 bytes went out; the rest waits and still counts.
    EXPECT_EQ(storage.GetFile()->GetLength(), 65535u);
    EXPECT_EQ(storage.FreeInBuffer(), 65535u - (100000u - 65535u));
    EXPECT_EQ(storage.GetPosition(), 100000u);
    storage.Flush();
    EXPECT_EQ(storage.GetFile()->GetLength(), 100000u);
    storage.Close(false);
    ExpectClosed(storage);

    storage.Open(path, openReadOnly, 0);
    storage.SetSpanModeFromDirectory(0);
    EXPECT_EQ(storage.GetSpanState(), CZipVolumeStorage::SpanState::none);
    EXPECT_EQ(storage.Read(nullptr, 0, true), 0u);
    EXPECT_EQ(ReadText(storage, 70000, true), data.substr(0, 70000));
    EXPECT_EQ(ReadText(storage, 30000, false), data.substr(70000));
    char byte = 0;
    const CZipException error = ZipErrorOf([&] { storage.Read(&byte, 1, false); });
    EXPECT_EQ(error.code, CZipException::corruptedArchive);
    EXPECT_EQ(error.filePath, path);
    storage.Close(false);
}

TEST(VolumeStorage, ShortReadOfAPlainArchiveIsCorrupted) {
    TempFolder temp;
    const std::string path = temp.Join("short.zip");
    WriteFile(path, "12345");
    CZipVolumeStorage storage;
    storage.Open(path, openReadOnly, 0);
    storage.SetSpanModeFromDirectory(0);
    std::string text(8, '\0');
    EXPECT_EQ(ZipErrorOf([&] { storage.Read(text.data(), 8, false); }).code,
              CZipException::corruptedArchive);
    storage.Close(false);
}

TEST(VolumeStorage, OpenExistingKeepsTheContentUntilOverwritten) {
    TempFolder temp;
    const std::string path = temp.Join("old.zip");
    WriteFile(path, "0123456789");
    CZipVolumeStorage storage;
    storage.Open(path, openExisting, 0);
    EXPECT_EQ(storage.spanMode, CZipVolumeStorage::existingUnknown);
    EXPECT_EQ(storage.GetCurrentVolume(), -1);  // until the end record has been read
    EXPECT_EQ(storage.GetFile()->GetLength(), 10u);
    storage.SetSpanModeFromDirectory(0);
    EXPECT_EQ(storage.GetCurrentVolume(), 0);
    EXPECT_EQ(storage.spanMode, CZipVolumeStorage::notSpanned);
    WriteText(storage, "abc", false);
    storage.Close(false);
    EXPECT_EQ(ReadFile(path), "abc3456789");

    storage.Open(path, openReadOnly, 5);
    EXPECT_EQ(storage.spanMode, CZipVolumeStorage::existingNumbered);
    storage.Close(false);
}

TEST(VolumeStorage, CreateTruncatesAndCloseAfterExceptionWritesNothing) {
    TempFolder temp;
    const std::string path = temp.Join("new.zip");
    WriteFile(path, "old content");
    CZipVolumeStorage storage;
    storage.Open(path, create, 0);
    EXPECT_EQ(storage.GetFile()->GetLength(), 0u);
    WriteText(storage, "never written", false);
    storage.Close(true);
    ExpectClosed(storage);
    EXPECT_EQ(ReadFile(path), "");
}

TEST(VolumeStorage, FailedOpenLeavesTheStorageClosed) {
    TempFolder temp;
    CZipVolumeStorage storage;
    EXPECT_THROW(storage.Open(temp.Join("missing.zip"), openExisting, 0), CFileException);
    ExpectClosed(storage);
    EXPECT_THROW(storage.Open(temp.Join("no\\such\\folder.zip"), create, 0), CFileException);
    ExpectClosed(storage);
    EXPECT_THROW(storage.Open(temp.Join("no\\such\\folder.zip"), createSpanned, 100),
                 CFileException);
    ExpectClosed(storage);
}

TEST(VolumeStorage, CreatesNumberedVolumesAndRenamesTheLastOnClose) {
    TempFolder temp;
    ASSERT_TRUE(platform::CreateFolder(temp.Join("out")));
    const std::string path = temp.Join("out\\backup.zip");
    WriteFile(path, "an older archive of that name");
    const std::string data = Pattern(150 + 30 + 60 + 250, 2);
    CZipVolumeStorage storage;
    storage.Open(path, createSpanned, 100);
    EXPECT_EQ(storage.GetSpanState(), CZipVolumeStorage::SpanState::creating);
    EXPECT_EQ(storage.spanMode, CZipVolumeStorage::numberedVolumes);
    EXPECT_EQ(storage.GetFile()->GetFilePath(), temp.Join("out\\backup.000"));
    EXPECT_EQ(storage.GetPosition(), 4u);  // the span marker, still buffered
    EXPECT_EQ(storage.FreeInVolume(), 96u);

    WriteText(storage, data.substr(0, 150), false);  // 96 fill volume 0, 54 go on
    EXPECT_EQ(storage.GetCurrentVolume(), 1);
    WriteText(storage, data.substr(150, 30), true);  // fits beside them
    EXPECT_EQ(storage.GetCurrentVolume(), 1);
    WriteText(storage, data.substr(180, 60), true);  // 16 left: a new volume
    EXPECT_EQ(storage.GetCurrentVolume(), 2);
    WriteText(storage, data.substr(240, 250), true);  // larger than any volume: one of its own
    EXPECT_EQ(storage.GetCurrentVolume(), 3);
    storage.Close(false);
    ExpectClosed(storage);

    const std::string volume0 = ReadFile(temp.Join("out\\backup.000"));
    const std::string volume1 = ReadFile(temp.Join("out\\backup.001"));
    const std::string volume2 = ReadFile(temp.Join("out\\backup.002"));
    const std::string last = ReadFile(path);
    EXPECT_EQ(volume0.size(), 100u);
    EXPECT_EQ(volume1.size(), 84u);
    EXPECT_EQ(volume2.size(), 60u);
    EXPECT_EQ(last.size(), 250u);
    EXPECT_EQ(volume0.substr(0, 4), std::string("PK\x07\x08", 4));
    EXPECT_EQ(volume0.substr(4) + volume1 + volume2 + last, data);
    EXPECT_FALSE(test_support::Exists(temp.Join("out\\backup.003")));
}

TEST(VolumeStorage, VolumeFileNameUsesThreeDigitsAndZipForTheLast) {
    CZipVolumeStorage storage;
    const std::string path = "C:\\out\\set.zip";
    storage.currentVolume = 0;
    EXPECT_EQ(storage.VolumeFileName(false, &path), "C:\\out\\set.000");
    storage.currentVolume = 12;
    EXPECT_EQ(storage.VolumeFileName(false, &path), "C:\\out\\set.012");
    EXPECT_EQ(storage.VolumeFileName(true, &path), "C:\\out\\set.zip");
    const std::string bare = "disk.bak";
    storage.currentVolume = 998;
    EXPECT_EQ(storage.VolumeFileName(false, &bare), "disk.998");
}

TEST(VolumeStorage, StopsAtTheLimitOf999Volumes) {
    TempFolder temp;
    const std::string path = temp.Join("many.zip");
    CZipVolumeStorage storage;
    storage.Open(path, createSpanned, 1);
    // Volume 0 holds the marker; every further byte takes a volume of its own.
    const std::string data = Pattern(999, 3);
    const CZipException error = ZipErrorOf([&] { WriteText(storage, data, false); });
    EXPECT_EQ(error.code, CZipException::volumeLimitReached);
    EXPECT_EQ(error.filePath, temp.Join("many.998"));
    storage.Close(true);
    EXPECT_EQ(ReadFile(temp.Join("many.998")), data.substr(997, 1));
    EXPECT_FALSE(test_support::Exists(temp.Join("many.999")));
    EXPECT_FALSE(test_support::Exists(temp.Join("many.zip")));
}

class VolumeStorageNumberedReading : public ::testing::Test {
protected:
    void SetUp() override {
        if (IsRemovableDrive(temp.Path())) {
            GTEST_SKIP() << "the temporary folder lies on removable media";
        }
        WriteFile(temp.Join("set.000"), "AAAAAAAAAA");
        WriteFile(temp.Join("set.001"), "BBBBBBBBBB");
        WriteFile(temp.Join("set.zip"), "CCCCC");
        storage.Open(temp.Join("set.zip"), openReadOnly, 0);
        storage.SetSpanModeFromDirectory(2);
    }

    TempFolder temp;
    CZipVolumeStorage storage;
};

TEST_F(VolumeStorageNumberedReading, DirectoryOnALaterDiskMeansNumberedVolumes) {
    EXPECT_EQ(storage.spanMode, CZipVolumeStorage::numberedVolumes);
    EXPECT_EQ(storage.volumeSize, 2);
    EXPECT_EQ(storage.GetCurrentVolume(), 2);
    EXPECT_EQ(storage.GetSpanState(), CZipVolumeStorage::SpanState::existing);
    EXPECT_EQ(storage.FreeInBuffer(), 0u);
    // An archive opened spanned is only read; a write fails instead of waiting for room.
    EXPECT_EQ(ZipErrorOf([&] { WriteText(storage, "x", false); }).code,
              CZipException::genericError);
}

TEST_F(VolumeStorageNumberedReading, PlainReadsContinueOnTheNextVolume) {
    storage.ChangeVolume(0);
    EXPECT_EQ(storage.GetFile()->GetFilePath(), temp.Join("set.000"));
    EXPECT_EQ(ReadText(storage, 8, true), "AAAAAAAA");
    EXPECT_EQ(ReadText(storage, 6, false), "AABBBB");
    EXPECT_EQ(storage.GetCurrentVolume(), 1);
    EXPECT_EQ(ReadText(storage, 6, true), "BBBBBB");
    // A volume with nothing left is left before a block is read at once.
    EXPECT_EQ(ReadText(storage, 3, true), "CCC");
    EXPECT_EQ(storage.GetCurrentVolume(), 2);
    EXPECT_EQ(storage.GetFile()->GetFilePath(), temp.Join("set.zip"));
}

TEST_F(VolumeStorageNumberedReading, BlockReadAtOnceMustNotCrossAVolumeEnd) {
    storage.ChangeVolume(0);
    std::string block(12, '\0');
    const CZipException error = ZipErrorOf([&] { storage.Read(block.data(), 12, true); });
    EXPECT_EQ(error.code, CZipException::corruptedArchive);
    EXPECT_EQ(error.filePath, temp.Join("set.000"));
}

TEST_F(VolumeStorageNumberedReading, NeverReadsBeyondTheLastVolume) {
    EXPECT_EQ(ReadText(storage, 5, false), "CCCCC");
    char byte = 0;
    EXPECT_EQ(ZipErrorOf([&] { storage.Read(&byte, 1, false); }).code,
              CZipException::corruptedArchive);
    EXPECT_EQ(ZipErrorOf([&] { storage.ChangeVolume(3); }).code, CZipException::corruptedArchive);
    EXPECT_EQ(storage.GetFile()->GetFilePath(), temp.Join("set.zip"));
}

TEST(VolumeStorage, OtherVolumeOfAPlainArchiveIsCorrupted) {
    TempFolder temp;
    const std::string path = temp.Join("plain.zip");
    WriteFile(path, "x");
    CZipVolumeStorage storage;
    storage.Open(path, openReadOnly, 0);
    storage.SetSpanModeFromDirectory(0);
    EXPECT_EQ(ZipErrorOf([&] { storage.ChangeVolume(4); }).code, CZipException::corruptedArchive);
    EXPECT_TRUE(storage.GetFile()->IsOpen());
    storage.Close(false);
}

// Records the callback's calls and acts for the user at each of them.
struct DiskChanger {
    std::vector<std::pair<int32_t, int32_t>> calls;
    std::vector<std::function<bool()>> answers;

    static bool Callback(int32_t volume, int32_t code, intptr_t userValue) {
        auto* self = reinterpret_cast<DiskChanger*>(userValue);
        self->calls.emplace_back(volume, code);
        const size_t call = self->calls.size() - 1;
        return call < self->answers.size() && self->answers[call]();
    }

    void Install(CZipVolumeStorage& storage) {
        storage.SetVolumeCallback(&DiskChanger::Callback, reinterpret_cast<intptr_t>(this));
    }
};

using Calls = std::vector<std::pair<int32_t, int32_t>>;

TEST(VolumeStorage, RemovableSpanningNeedsACallbackAndARemovableDrive) {
    TempFolder temp;
    const std::string path = temp.Join("disk.zip");
    CZipVolumeStorage storage;
    EXPECT_EQ(ZipErrorOf([&] { storage.Open(path, createSpanned, 0); }).code,
              CZipException::callBackMissing);
    ExpectClosed(storage);
    if (IsRemovableDrive(path))
        GTEST_SKIP() << "the temporary folder lies on removable media";
    DiskChanger changer;
    changer.Install(storage);
    EXPECT_EQ(ZipErrorOf([&] { storage.Open(path, createSpanned, 0); }).code,
              CZipException::diskNotRemovable);
    ExpectClosed(storage);
    EXPECT_TRUE(changer.calls.empty());
    EXPECT_FALSE(test_support::Exists(path));
}

// A fixed drive cannot be taken for a removable one, so these tests put a created storage into
// the removable-disk mode by hand and then start volumes as Open does for a removable drive.
void MakeRemovableCreating(CZipVolumeStorage& storage, const std::string& seedPath) {
    storage.Open(seedPath, create, 0);
    storage.spanMode = CZipVolumeStorage::removableDisks;
    storage.creatingSpanned = true;
    storage.volumeWritten = 0;
}

TEST(VolumeStorage, RemovableDiskHoldingTheFileIsRefusedAndAbortNamesTheVolume) {
    TempFolder temp;
    const std::string path = temp.Join("disk.zip");
    WriteFile(path, "something the user keeps");
    CZipVolumeStorage storage;
    DiskChanger changer;
    changer.Install(storage);
    changer.answers = {[] { return true; }, [] { return false; }};
    MakeRemovableCreating(storage, temp.Join("seed.bin"));
    const CZipException error = ZipErrorOf([&] { storage.StartNextVolume(4, &path); });
    EXPECT_EQ(error.code, CZipException::operationAborted);
    EXPECT_EQ(error.filePath, path);
    EXPECT_EQ(changer.calls, (Calls{{1, 4}, {1, -2}}));
    EXPECT_EQ(ReadFile(path), "something the user keeps");
    storage.Close(true);
}

TEST(VolumeStorage, RemovableDisksAreAskedForUntilAVolumeCanBeCreated) {
    TempFolder temp;
    if (!GetPathDrive(temp.Path()).empty()) {
        // There the next step would set the label of the real drive that holds the folder.
        GTEST_SKIP() << "the temporary folder lies on a lettered drive whose label stays untouched";
    }
    ASSERT_TRUE(platform::CreateFolder(temp.Join("disk")));
    const std::string path = temp.Join("disk\\span.zip");
    const std::string takenOut1 = temp.Join("taken-out-1");
    const std::string takenOut2 = temp.Join("taken-out-2");
    CZipVolumeStorage storage;
    DiskChanger changer;
    changer.Install(storage);
    changer.answers = {
        [] { return true; },  // first disk: empty
        [] { return true; },  // second disk asked for, but the user leaves the first one in
        [&] { return platform::MoveFileTo(path, takenOut1); },  // now swapped
        [&] {                                                   // third disk without the folder
            return platform::MoveFileTo(path, takenOut2) &&
                   platform::MoveFileTo(temp.Join("disk"), temp.Join("disk-2"));
        },
        [&] { return platform::CreateFolder(temp.Join("disk")); },
    };
    MakeRemovableCreating(storage, temp.Join("seed.bin"));
    storage.StartNextVolume(4, &path);
    WriteText(storage, "PK\x07\x08", true);
    WriteText(storage, "first", false);
    EXPECT_GT(storage.FreeInVolume(), 0u);
    storage.StartNextVolume(100, nullptr);
    EXPECT_EQ(storage.GetCurrentVolume(), 1);
    WriteText(storage, "second", false);
    storage.StartNextVolume(50, nullptr);
    EXPECT_EQ(storage.GetCurrentVolume(), 2);
    WriteText(storage, "third", false);
    storage.Close(false);

    EXPECT_EQ(changer.calls, (Calls{{1, 4}, {2, 100}, {2, -2}, {3, 50}, {3, -4}}));
    EXPECT_EQ(ReadFile(takenOut1),
              "PK\x07\x08"
              "first");
    EXPECT_EQ(ReadFile(takenOut2), "second");
    EXPECT_EQ(ReadFile(path), "third");
}

TEST(VolumeStorage, ReadingRemovableDisksAsksForEachNextDisk) {
    TempFolder temp;
    const std::string path = temp.Join("span.zip");
    const std::string secondDisk = temp.Join("second-disk");
    WriteFile(path, "1111");
    WriteFile(secondDisk, "2222");
    CZipVolumeStorage storage;
    DiskChanger changer;
    changer.Install(storage);
    changer.answers = {
        [&] { return platform::RemoveFile(path) && platform::MoveFileTo(secondDisk, path); },
        [] { return false; },
    };
    storage.Open(path, openReadOnly, 0);
    // Read as the last step of opening would leave an archive found on a removable disk.
    storage.spanMode = CZipVolumeStorage::removableDisks;
    storage.currentVolume = 0;
    storage.volumeSize = 2;  // the end record lies on the third disk
    storage.writeBuffer.Release();
    EXPECT_EQ(ReadText(storage, 6, false), "111122");
    EXPECT_EQ(storage.GetCurrentVolume(), 1);
    std::string rest(5, '\0');
    const CZipException error = ZipErrorOf([&] { storage.Read(rest.data(), 5, false); });
    EXPECT_EQ(error.code, CZipException::operationAborted);
    EXPECT_EQ(error.filePath, path);
    EXPECT_EQ(changer.calls, (Calls{{2, -1}, {3, -1}}));
    storage.Close(true);
}

TEST(VolumeStorage, FreeDiskSpaceNeverWrapsRound) {
    TempFolder temp;
    const std::string path = temp.Join("space.zip");
    CZipVolumeStorage storage;
    storage.Open(path, create, 0);
    uint64_t hostFree = 0;
    ASSERT_TRUE(platform::GetFreeDiskSpace(path, hostFree));
    const uint32_t free = storage.FreeDiskSpace();
    if (hostFree > (uint64_t{1} << 33)) {
        EXPECT_EQ(free, UINT32_MAX);
    } else if (hostFree > (uint64_t{1} << 24)) {
        EXPECT_GT(free, hostFree / 2);
    }
    storage.Close(false);
    EXPECT_EQ(storage.FreeDiskSpace(), 0u);
}

TEST(VolumeStorage, DriveQueriesAnswerForAVolumeNotYetCreated) {
    TempFolder temp;
    // A volume about to be created lies on the drive of the folder that will hold it.
    const std::string future = temp.Join("not\\yet\\there.zip");
    uint64_t freeHere = 0;
    uint64_t freeThere = 0;
    ASSERT_TRUE(platform::GetFreeDiskSpace(temp.Path(), freeHere));
    ASSERT_TRUE(platform::GetFreeDiskSpace(future, freeThere));
    EXPECT_GT(freeThere, 0u);
    // The same file system; others may write to it meanwhile.
    const uint64_t difference = freeHere > freeThere ? freeHere - freeThere : freeThere - freeHere;
    EXPECT_LT(difference, uint64_t{1} << 30);
    EXPECT_EQ(IsRemovableDrive(future), IsRemovableDrive(temp.Path()));
}

}  // namespace

// A set opened by a relative name keeps working once the current folder has changed: volume
// names and the paths errors carry are absolute. With one volume missing, only the entries on it
// fail; every entry on a later volume still extracts.
TEST(VolumeStorage, RelativeSetSurvivesAFolderChangeAndAMissingVolumeFailsOnlyItsEntries) {
    TempFolder temp;
    const std::string away = temp.Join("away");
    ASSERT_TRUE(platform::CreateFolder(away));
    std::vector<std::string> contents;
    {
        CZipHandler zip;
        zip.Open(temp.Join("set.zip"), createSpanned, 4000);
        for (uint32_t i = 0; i < 8; ++i) {
            contents.push_back(Pattern(1500, i));
            CZipEntryHeader templateHeader;
            templateHeader.SetFileName("file" + std::to_string(i) + ".bin");
            ASSERT_TRUE(zip.OpenNewEntry(templateHeader, 0, nullptr));
            zip.WriteNewEntry(contents.back().data(), 1500);
            ASSERT_TRUE(zip.CloseNewEntry());
        }
        zip.Close(false);
    }
    std::string previous;
    ASSERT_TRUE(platform::GetCurrentFolder(previous));
    // Extracts every entry of the set opened as "set.zip" from the temporary folder, with the
    // current folder elsewhere; the volumes of the entries that failed, and their error paths.
    const auto extractAll = [&](std::vector<int>& volumesFailed, std::vector<std::string>& paths) {
        CZipHandler zip;
        EXPECT_TRUE(platform::SetCurrentFolder(temp.Path()));
        zip.Open("set.zip", openReadOnly, 0);
        EXPECT_TRUE(platform::SetCurrentFolder(away));
        EXPECT_EQ(zip.GetStorage().GetFile()->GetFilePath(), temp.Join("set.zip"));
        for (uint16_t i = 0; i < zip.GetEntryCount(); ++i) {
            CZipEntryHeader header;
            zip.GetEntryInfo(header, i);
            try {
                EXPECT_TRUE(zip.ExtractEntry(i, temp.Join("out"), false, nullptr, nullptr, 0, 512));
                EXPECT_EQ(ReadFile(temp.Join("out\\" + header.GetFileName())), contents[i]);
            } catch (const CFileException& e) {
                volumesFailed.push_back(header.diskNumberStart);
                paths.push_back(e.fileName);
                zip.AbandonEntry();
            }
        }
        zip.Close(false);
        platform::SetCurrentFolder(previous);
    };
    std::vector<int> failed;
    std::vector<std::string> paths;
    extractAll(failed, paths);
    EXPECT_TRUE(failed.empty());

    ASSERT_TRUE(platform::RemoveFile(temp.Join("set.001")));
    extractAll(failed, paths);
    // An entry fails when it lies on volume 1 or runs on into it from volume 0.
    ASSERT_FALSE(failed.empty());
    for (size_t i = 0; i < failed.size(); ++i) {
        EXPECT_LE(failed[i], 1);
        EXPECT_EQ(paths[i], temp.Join("set.001"));
    }
    EXPECT_LT(failed.size(), 5u);  // the entries on volumes 2 and later all came out
}

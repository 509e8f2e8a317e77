// Robustness and interoperability over the shared corpus of third-party archives: every archive
// opens or fails as its manifest row expects, and none crashes, hangs or leaves a foreign error.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/file_system.h"
#include "zip/zip_exception.h"
#include "zip/zip_handler.h"

namespace {

struct Row {
    std::string file;      // relative, forward slashes
    std::string expected;  // the outcome its own project's tests expect, in words
    std::string scope;     // "IN-SCOPE ...", "OUT-OF-SCOPE ...", "robustness ...", "n/a ..."
    std::string scan;      // the structural scan: "N entries; ...; names=a|b|..."
};

// Outcome of one archive with our engine.
struct Outcome {
    bool opened = false;
    int zipCode = -1;                // CZipException code when it failed so
    bool fileError = false;          // CFileException
    std::vector<std::string> names;  // archive form (forward slashes)
    int entryFailures = 0;           // entries whose local header or descriptor did not check out
};

std::vector<Row> ReadManifest(const std::string& hostFolder) {
    std::vector<Row> rows;
    std::ifstream manifest(hostFolder + "/MANIFEST.tsv");
    std::string line;
    std::getline(manifest, line);  // column titles
    while (std::getline(manifest, line)) {
        std::vector<std::string> columns;
        std::stringstream fields(line);
        std::string field;
        while (std::getline(fields, field, '\t')) columns.push_back(field);
        if (columns.size() < 7)
            continue;
        rows.push_back({columns[0], columns[4], columns[6], columns.size() > 7 ? columns[7] : ""});
    }
    return rows;
}

// Every entry is positioned and its descriptor checked, as extraction would; failures there are
// counted, and must be engine or file errors too.
void WalkEntries(CZipHandler& zip, Outcome& outcome) {
    CZipCentralDirectory& dir = zip.GetCentralDirectory();
    for (int i = 0; i < zip.GetEntryCount(); ++i) {
        try {
            dir.OpenEntryRecord(i);
            zip.GetStorage().GetFile()->Seek(dir.currentHeader->compressedSize, CFile::current);
            dir.CloseEntryRecord();
        } catch (const CZipException&) {
            ++outcome.entryFailures;
            dir.currentHeader = nullptr;
        } catch (const CFileException&) {
            ++outcome.entryFailures;
            dir.currentHeader = nullptr;
        }
    }
}

Outcome OpenArchive(const std::string& path) {
    Outcome outcome;
    CZipHandler zip;
    try {
        zip.Open(path, CZipHandler::openReadOnly, 0);
        outcome.opened = true;
        for (int i = 0; i < zip.GetEntryCount(); ++i) {
            CZipEntryHeader header;
            zip.GetEntryInfo(header, static_cast<uint16_t>(i));
            header.ConvertSlashes(false);
            outcome.names.push_back(header.GetFileName());
        }
        WalkEntries(zip, outcome);
        zip.Close(false);
    } catch (const CZipException& e) {
        outcome.zipCode = e.code;
        zip.Close(true);
    } catch (const CFileException&) {
        outcome.fileError = true;
        zip.Close(true);
    }
    return outcome;
}

// "N entries; ...; names=a|b|...": the entry count and the listed names (possibly cut short).
bool ParseScan(const std::string& scan, size_t& count, std::vector<std::string>& names) {
    const size_t space = scan.find(" entries;");
    if (space == std::string::npos || scan.find("(EOCD") != std::string::npos)
        return false;
    try {
        count = std::stoul(scan.substr(0, space));
    } catch (...) {
        return false;
    }
    const size_t at = scan.find("names=");
    if (at == std::string::npos)
        return true;
    const size_t end = scan.find(';', at);
    std::stringstream list(
        scan.substr(at + 6, end == std::string::npos ? std::string::npos : end - at - 6));
    std::string name;
    while (std::getline(list, name, '|')) names.push_back(name);
    return true;
}

// Names are compared where both sides are plain printable ASCII; other names went through a code
// page (ours: 437 to Windows-1252; the scan's: its own decoding) and cannot be compared as bytes.
bool Plain(const std::string& name) {
    for (char c : name)
        if (c < 0x20 || c > 0x7E)
            return false;
    return true;
}

bool Contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

// Rows whose archive must open with the entries the scan lists: in scope, with an outcome that
// someone expects (fuzz seeds may go either way) and a directory the scan could read.
bool ExpectsToOpen(const Row& row) {
    return row.scope.rfind("IN-SCOPE", 0) == 0 && !Contains(row.expected, "no expected outcome") &&
           !Contains(row.expected, "seed:");
}

// Rows whose own project finds the local header at odds with the central record.
bool ExpectsLocalMismatch(const Row& row) {
    return row.scope.rfind("IN-SCOPE", 0) == 0 &&
           Contains(row.expected, "local and central headers do not match");
}

// Rows where our engine disagrees with its row, and why our rules give the sounder answer.
const std::map<std::string, std::string> expectedDisagreements = {
    // The end record's comment length runs past the end of the file: an archive comment that
    // cannot be read in full is a damaged archive (strict libzip agrees).
    {"libzip/incons-archive-comment-longer.zip", "comment cut short: corruptedArchive"},
    // The directory's size reaches past the end record: corruptedArchive (strict libzip agrees).
    {"libzip/incons-cdsize-large.zip", "directory overlaps the end record"},
    // The headers the count gives disagree with the directory's size: corruptedArchive (strict
    // libzip agrees).
    {"libzip/incons-central-file-comment-longer.zip", "headers overrun the directory's size"},
    {"libzip/incons-central-file-comment-shorter.zip",
     "directory's size covers more than the headers"},
    // Size one too small, or one stray byte before the end record: our reader takes the gap for
    // bytes before the archive (as it must for self-extracting stubs), finds no central record
    // there and reports corruptedArchive rather than guessing.
    {"libzip/incons-cdsize-small.zip", "gap taken as bytes before the archive"},
    {"libzip/incons-gap-before-eocd.zip", "gap taken as bytes before the archive"},
    {"rawzip/test-baddirsz.zip", "wrong directory size: gap taken as bytes before the archive"},
    // The directory stands at the front with offsets that only fit a reader that ignores the
    // end record's position; the 1048 "bytes before" land on no central record.
    {"rawzip/omni-mini.ja", "directory before the data: corruptedArchive"},
};

// Rows listed as local/central mismatches that our checks accept: the engine compares only the
// fields it relies on (flag, method, name length, crc-32 and sizes), not the time, the date, the
// version or the extra fields, which it never uses from the local header.
const std::map<std::string, std::string> acceptedLocalDifferences = {
    {"libzip/incons-central-date.zip", "date not compared"},
    {"libzip/incons-local-filename.zip", "same length, other bytes: name not compared"},
    {"libzip/incons-ef-local-dupe-utf8name.zip", "local extra field not interpreted"},
};

// ZIP64 archives: those whose values all fit the engine's fields open with every entry, and
// those that need 64 bits or whose ZIP64 records contradict the end record are refused as
// damaged. entries -1: refused with corruptedArchive.
struct Zip64Case {
    const char* file;
    int entries;
    int entryFailures;
};
const Zip64Case zip64Cases[] = {
    {"libzip/zip64.zip", 1, 0},
    {"rawzip/zip64.zip", 1, 0},
    {"rawzip/zip64-2.zip", 1, 0},
    {"rawzip/zip64-cd-size-sentinel.zip", 2, 0},
    {"libzip/zip64-3mf.zip", 1, 0},       // disk fields 0xFFFF: no spanned set
    {"libzip/streamed-zip64.zip", 1, 0},  // descriptor with 8-byte sizes
    {"zip2/zip64_demo.zip", 1, 0},        // bytes before the archive
    {"commons-compress/COMPRESS-228.zip", 23, 0},
    {"commons-compress/COMPRESS-477/split_zip_created_by_zip/split_zip_created_by_zip_zip64.zip",
     272, 0},
    {"libzip/incons-ef-local-dupe-zip64-v2.zip", 1, 0},
    // Two ZIP64 fields in the local header: the first gives sizes that disagree with the central
    // record, as strict libzip finds.
    {"libzip/incons-ef-local-dupe-zip64-v1.zip", 1, 1},
    // The end record nearest to the end of the file wins: the ZIP64 archive inside the comment,
    // as Python reads it.
    {"libzip/zip64-in-archive-comment.zip", 1, 0},
    {"libzip/incons-file-count-overflow.zip", -1, 0},
    {"libzip/incons-zip64-checkcons-overflow.zip", -1, 0},
    {"commons-compress/org/apache/commons/compress/zip/createBoundedInputStream.bin", -1, 0},
    {"libzip/incons-eocd64.zip", -1, 0},      // ZIP64 end record disagrees with the end record
    {"libzip/incons-eocd64-gap.zip", -1, 0},  // gap between ZIP64 end record and its locator
};

// Split sets and the single archive their makers' tests compare them with: the same entries.
const std::pair<const char*, const char*> splitSets[] = {
    {"split_zip_created_by_zip/split_zip_created_by_zip.zip",
     "split_zip_created_by_zip/zip_to_compare_created_by_zip.zip"},
    {"split_zip_created_by_zip/split_zip_created_by_zip_zip64.zip",
     "split_zip_created_by_zip/zip_to_compare_created_by_zip_zip64.zip"},
    {"split_zip_created_by_winrar/split_zip_created_by_winrar.zip",
     "split_zip_created_by_winrar/zip_to_compare_created_by_winrar.zip"},
};

std::string CorpusPath(const std::string& folder, const std::string& file) {
    std::string path = folder + "\\" + file;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

// Name, crc-32 and sizes of every entry, in archive order.
std::vector<std::string> EntrySummary(const std::string& path) {
    std::vector<std::string> entries;
    CZipHandler zip;
    zip.Open(path, CZipHandler::openReadOnly, 0);
    for (int i = 0; i < zip.GetEntryCount(); ++i) {
        CZipEntryHeader header;
        zip.GetEntryInfo(header, static_cast<uint16_t>(i));
        entries.push_back(header.GetFileName() + " " + std::to_string(header.crc32Value) + " " +
                          std::to_string(header.compressedSize) + " " +
                          std::to_string(header.uncompressedSize));
    }
    zip.Close(false);
    return entries;
}

TEST(CorpusTest, Zip64ArchivesOpenWhereTheirValuesFit) {
    const std::string hostFolder = BRENNICK_CORPUS_DIR;
    std::ifstream probe(hostFolder + "/MANIFEST.tsv");
    if (!probe)
        GTEST_SKIP() << "corpus not found at " << hostFolder;
    const std::string folder = platform::FromHostPath(hostFolder);
    for (const Zip64Case& c : zip64Cases) {
        const Outcome outcome = OpenArchive(CorpusPath(folder, c.file));
        if (c.entries < 0) {
            EXPECT_FALSE(outcome.opened) << c.file;
            EXPECT_EQ(outcome.zipCode, CZipException::corruptedArchive) << c.file;
            continue;
        }
        EXPECT_TRUE(outcome.opened) << c.file << ": code " << outcome.zipCode;
        EXPECT_EQ(outcome.names.size(), static_cast<size_t>(c.entries)) << c.file;
        EXPECT_EQ(outcome.entryFailures, c.entryFailures) << c.file;
    }
    const std::string sets = "commons-compress/COMPRESS-477/";
    for (const auto& [split, whole] : splitSets) {
        try {
            EXPECT_EQ(EntrySummary(CorpusPath(folder, sets + split)),
                      EntrySummary(CorpusPath(folder, sets + whole)))
                << split;
        } catch (const CException&) {
            ADD_FAILURE() << split << " or " << whole << " does not open";
        }
    }
}

TEST(CorpusTest, EveryArchiveOpensOrFailsCleanly) {
    const std::string hostFolder = BRENNICK_CORPUS_DIR;
    const std::string folder = platform::FromHostPath(hostFolder);
    std::ifstream probe(hostFolder + "/MANIFEST.tsv");
    if (!probe)
        GTEST_SKIP() << "corpus not found at " << hostFolder;
    const std::vector<Row> rows = ReadManifest(hostFolder);
    ASSERT_GT(rows.size(), 100u);

    int archives = 0, opened = 0, zipErrors = 0, fileErrors = 0, checked = 0, excused = 0;
    for (const Row& row : rows) {
        if (row.scope.rfind("n/a", 0) == 0)
            continue;  // reference data, not an archive
        std::string path = folder + "\\" + row.file;
        for (char& c : path)
            if (c == '/')
                c = '\\';
        // Any exception other than the engine's or the file object's escapes and fails the test.
        const Outcome outcome = OpenArchive(path);
        ++archives;
        opened += outcome.opened;
        zipErrors += outcome.zipCode >= 0;
        fileErrors += outcome.fileError;

        if (ExpectsLocalMismatch(row)) {
            const bool accepted = acceptedLocalDifferences.count(row.file) != 0;
            EXPECT_EQ(outcome.opened && outcome.entryFailures == 0, accepted)
                << row.file << ": opened " << outcome.opened << ", entry failures "
                << outcome.entryFailures;
        }
        size_t count = 0;
        std::vector<std::string> names;
        if (!ExpectsToOpen(row) || !ParseScan(row.scan, count, names))
            continue;
        ++checked;
        if (expectedDisagreements.count(row.file) != 0) {
            ++excused;
            EXPECT_FALSE(outcome.opened) << row.file << " opens now; drop it from the table";
            EXPECT_EQ(outcome.zipCode, CZipException::corruptedArchive) << row.file;
            continue;
        }
        EXPECT_TRUE(outcome.opened)
            << row.file << ": code " << outcome.zipCode << (outcome.fileError ? " file error" : "");
        EXPECT_EQ(outcome.names.size(), count) << row.file;
        for (size_t i = 0; i < names.size() && i < outcome.names.size(); ++i) {
            if (names[i] == "..." || !Plain(names[i]) || !Plain(outcome.names[i]))
                continue;
            EXPECT_EQ(outcome.names[i].rfind(names[i], 0), 0u)
                << row.file << ": entry " << i << " is " << outcome.names[i];
        }
    }
    std::printf(
        "corpus: %d archives: %d opened, %d CZipException, %d CFileException; "
        "%d rows checked against their listing, %d of them disagreeing by our rules\n",
        archives, opened, zipErrors, fileErrors, checked, excused);
}

}  // namespace

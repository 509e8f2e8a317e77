// Extracting a run of entries with their reading and decompressing done ahead, on a thread of
// their own, while the caller makes and writes the files.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "zip/zip_handler.h"

// An install of many small files spends about as long decompressing as waiting for the file
// system to make the files; one thread each, the two overlap. Every change to the file system
// stays with the caller, in the caller's order (the fault seam counts them as before); the
// thread only reads the archive. What ExtractEntry prints, writes and throws is what
// CZipHandler::ExtractEntry would, step for step: a failure met while reading ahead is thrown
// where reading the entry in place would have met it.
//
// A spanned archive (whose volumes may have to be asked for) is read in place, without a thread.
class CZipExtractAhead {
public:
    // Starts reading the entries at indices, in that order, in pieces of copyBufferSize bytes.
    // The archive belongs to this object until it is destroyed: nothing else may use it.
    CZipExtractAhead(CZipHandler& zip, std::vector<uint16_t> indices, uint32_t copyBufferSize);
    CZipExtractAhead(const CZipExtractAhead&) = delete;
    CZipExtractAhead& operator=(const CZipExtractAhead&) = delete;
    ~CZipExtractAhead();

    // As zip.ExtractEntry(index, targetFolder, {.newName = newName, .copyBufferSize = ...})
    // would. Entries are asked for in the order given, each at most once; those passed over are
    // dropped. False, as for an entry that cannot be read, for an index not among those left.
    bool ExtractEntry(uint16_t index, const std::string& targetFolder, const std::string* newName);

private:
    // One step of reading an entry, as CZipHandler takes them.
    struct Step {
        enum class Kind : uint8_t {
            header,
            opened,
            notOpened,
            chunk,
            dataEnded,
            recordEnded,
            failed
        };
        Step() = default;
        Step(Kind kind, size_t position) : kind(kind), position(position) {}

        Kind kind = Kind::header;
        size_t position = 0;  // of the entry in the indices given
        // header: the entry's header, whether it is a folder, and false when it has none
        std::shared_ptr<const CZipEntryHeader> header;
        bool isDirectory = false;
        bool found = true;
        std::vector<uint8_t> chunk;                                          // chunk
        CZipHandler::CloseResult ended = CZipHandler::CloseResult::notOpen;  // dataEnded
        std::exception_ptr failure;                                          // failed
    };

    void ReadAhead();
    void ReadEntry(size_t position, std::vector<Step>& batch);
    bool Hand(std::vector<Step>& batch);
    Step Next();
    Step NextOf(size_t position);

    CZipHandler& zip;
    const std::vector<uint16_t> indices;
    const uint32_t copyBufferSize;
    bool inPlace;
    std::string archivePath;  // as failures name it
    size_t nextPosition = 0;  // the first entry not yet asked for

    std::mutex lock;
    std::condition_variable stepsHanded;
    std::deque<Step> steps;  // read ahead, not yet taken
    size_t bytesAhead = 0;   // their data
    bool readerDone = false;
    bool stopping = false;
    bool readerWaits = false;
    bool callerWaits = false;
    std::condition_variable roomMade;
    std::deque<Step> taken;  // taken, not yet used (the caller's own)
    std::thread reader;
};

// Extraction with the entries read and decompressed ahead on a thread of their own.
#include "zip/extract_ahead.h"

#include <optional>
#include <system_error>
#include <utility>

#include "zip/entry_writing.h"
#include "zip/zip_exception.h"

namespace {

// Data read ahead and not yet taken: at most about this much, so that a mission of big files
// costs the install little memory.
constexpr size_t bytesAheadLimit = 256 << 10;
// The reader hands what it read an entry at a time, or every so much of a big one; the caller,
// once it has caught up, waits for a few entries before it is woken, so that the two do not wake
// each other for every small file.
constexpr size_t handBytes = 64 << 10;
constexpr size_t wakeSteps = 32;
constexpr size_t noPosition = SIZE_MAX;

}  // namespace

CZipExtractAhead::CZipExtractAhead(CZipHandler& zip, std::vector<uint16_t> indices,
                                   uint32_t copyBufferSize)
    : zip(zip),
      indices(std::move(indices)),
      copyBufferSize(copyBufferSize),
      inPlace(zip.IsClosed(CZipHandler::wholeArchive) ||
              zip.GetStorage().GetSpanState() != CZipVolumeStorage::SpanState::none ||
              copyBufferSize == 0) {
    if (inPlace)
        return;
    archivePath = zip.GetStorage().GetFile()->GetFilePath();
    try {
        reader = std::thread([this] { ReadAhead(); });
    } catch (const std::system_error&) {
        inPlace = true;  // no thread to be had: read in place
    }
}

CZipExtractAhead::~CZipExtractAhead() {
    {
        const std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    roomMade.notify_all();
    if (reader.joinable())
        reader.join();
}

bool CZipExtractAhead::ExtractEntry(uint16_t index, const std::string& targetFolder,
                                    const std::string* newName) {
    size_t position = nextPosition;
    while (position < indices.size() && indices[position] != index) ++position;
    if (position == indices.size())
        return false;
    nextPosition = position + 1;
    const CZipHandler::ExtractOptions options{.newName = newName, .copyBufferSize = copyBufferSize};
    if (inPlace) {
        try {
            return zip.ExtractEntry(index, targetFolder, options);
        } catch (...) {
            if (zip.GetEntryState() != CZipHandler::EntryState::none)
                zip.AbandonEntry();  // so that the later entries can still be extracted
            throw;
        }
    }
    // The entry's steps in the order they were read, a failure thrown where it was met.
    std::optional<Step> held;  // a step looked at and left for the next one to take
    const auto take = [&] {
        Step step = held ? std::move(*held) : NextOf(position);
        held.reset();
        if (step.kind == Step::Kind::failed)
            std::rethrow_exception(step.failure);
        return step;
    };
    const Step head = take();
    if (head.kind != Step::Kind::header || !head.found)
        return false;
    const CZipEntryReading reading{
        [&] { return take().kind == Step::Kind::opened; },
        [&](const CZipEntryReading::Take& write) {
            for (;;) {
                Step step = held ? std::move(*held) : NextOf(position);
                held.reset();
                if (step.kind != Step::Kind::chunk) {
                    held = std::move(step);  // a failure is thrown where the data would end
                    return;
                }
                write(step.chunk.data(), static_cast<uint32_t>(step.chunk.size()));
            }
        },
        [&] {
            const Step step = take();
            return step.kind == Step::Kind::dataEnded ? step.ended
                                                      : CZipHandler::CloseResult::notOpen;
        },
        [&] { take(); }};
    return WriteExtractedEntry(*head.header, head.isDirectory, archivePath, targetFolder, options,
                               reading);
}

// ---- The reader's side ------------------------------------------------------------------------

void CZipExtractAhead::ReadAhead() {
    std::vector<Step> batch;
    for (size_t position = 0; position < indices.size(); ++position) {
        {
            const std::lock_guard<std::mutex> guard(lock);
            if (stopping)
                break;
        }
        try {
            ReadEntry(position, batch);
        } catch (...) {
            Step failed(Step::Kind::failed, position);
            failed.failure = std::current_exception();
            if (zip.GetEntryState() != CZipHandler::EntryState::none)
                zip.AbandonEntry();  // so that the later entries can still be read
            batch.push_back(std::move(failed));
        }
        if (!batch.empty())
            Hand(batch);
    }
    {
        const std::lock_guard<std::mutex> guard(lock);
        readerDone = true;
    }
    stepsHanded.notify_all();
}

void CZipExtractAhead::ReadEntry(size_t position, std::vector<Step>& batch) {
    const uint16_t index = indices[position];
    auto header = std::make_shared<CZipEntryHeader>();
    Step head(Step::Kind::header, position);
    head.found = zip.GetEntryInfo(*header, index);
    head.isDirectory = head.found && zip.IsEntryDirectory(index);
    head.header = std::move(header);
    const bool read = head.found && !head.isDirectory;
    batch.push_back(std::move(head));
    if (!read)
        return;
    if (!zip.OpenEntry(index)) {
        batch.emplace_back(Step::Kind::notOpened, position);
        return;
    }
    batch.emplace_back(Step::Kind::opened, position);
    size_t bytes = 0;
    zip.ReadEntryChunks(copyBufferSize, [&](const uint8_t* data, uint32_t size) {
        Step chunk(Step::Kind::chunk, position);
        chunk.chunk.assign(data, data + size);
        batch.push_back(std::move(chunk));
        bytes += size;
        if (bytes >= handBytes) {
            bytes = 0;
            return Hand(batch);
        }
        return true;
    });
    Step ended(Step::Kind::dataEnded, position);
    ended.ended = zip.EndEntryData();
    batch.push_back(std::move(ended));
    zip.EndEntryRecord();
    batch.emplace_back(Step::Kind::recordEnded, position);
}

// Hands the batch over, once there is room for it; false when the reading is to stop.
bool CZipExtractAhead::Hand(std::vector<Step>& batch) {
    size_t bytes = 0;
    for (const Step& step : batch) bytes += step.chunk.size();
    std::unique_lock<std::mutex> guard(lock);
    readerWaits = true;
    roomMade.wait(guard, [this] { return stopping || bytesAhead < bytesAheadLimit; });
    readerWaits = false;
    if (stopping)
        return false;
    for (Step& step : batch) steps.push_back(std::move(step));
    bytesAhead += bytes;
    const bool wake = callerWaits && (steps.size() >= wakeSteps || bytesAhead >= handBytes);
    guard.unlock();
    batch.clear();
    if (wake)
        stepsHanded.notify_one();
    return true;
}

// ---- The caller's side ------------------------------------------------------------------------

// The next step of the entry at position; the steps of earlier entries, passed over or left
// part-way, are dropped.
CZipExtractAhead::Step CZipExtractAhead::NextOf(size_t position) {
    for (;;) {
        Step step = Next();
        if (step.position >= position) {
            if (step.position == position)
                return step;
            // Only a reader that stopped short leaves an entry without its steps.
            Step failed(Step::Kind::failed, position);
            failed.failure =
                std::make_exception_ptr(CZipException(CZipException::genericError, archivePath));
            return failed;
        }
    }
}

CZipExtractAhead::Step CZipExtractAhead::Next() {
    if (taken.empty()) {
        std::unique_lock<std::mutex> guard(lock);
        callerWaits = true;
        stepsHanded.wait(guard, [this] {
            return readerDone || steps.size() >= wakeSteps || bytesAhead >= handBytes ||
                   (readerWaits && !steps.empty());
        });
        callerWaits = false;
        std::swap(taken, steps);
        bytesAhead = 0;
        const bool wake = readerWaits;
        guard.unlock();
        if (wake)
            roomMade.notify_one();
    }
    if (taken.empty())
        return Step(Step::Kind::header, noPosition);
    Step step = std::move(taken.front());
    taken.pop_front();
    return step;
}

// Writing an extracted entry to its file, whoever reads the entry's data: CZipHandler reads it
// itself (ExtractEntry), CZipExtractAhead on a thread of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "zip/zip_handler.h"

// The reading steps of one entry, as CZipHandler takes them (OpenEntry, ReadEntryChunks,
// EndEntryData, EndEntryRecord).
struct CZipEntryReading {
    using Take = std::function<bool(const uint8_t* data, uint32_t size)>;
    std::function<bool()> open;
    std::function<void(const Take& take)> readChunks;
    std::function<CZipHandler::CloseResult()> endData;
    std::function<void()> endRecord;
};

// ExtractEntry from the entry's header on: the name checked, a folder made, or the file made and
// written piece by piece as read, given the entry's time stamp and attributes, and closed.
// Failures are thrown as ExtractEntry throws them; archivePath names the archive in them.
bool WriteExtractedEntry(const CZipEntryHeader& header, bool isDirectory,
                         const std::string& archivePath, const std::string& targetFolder,
                         const CZipHandler::ExtractOptions& options,
                         const CZipEntryReading& reading);

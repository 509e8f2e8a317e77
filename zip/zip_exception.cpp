// The engine's error codes: mapping raw numbers, throwing, and the message of each code.
#include "zip/zip_exception.h"

#include <array>

namespace {

constexpr std::array<const char*, 20> kMessages = {
    "Success Code",
    "Generic Error",
    "ZLib: streamEnd",
    "ZLib: needDict",
    "ZLib: errNo",
    "ZLib: streamError",
    "ZLib: dataError",
    "ZLib: memError",
    "ZLib: bufError",
    "ZLib: versionError",
    "Bad or corrupted ZIP file",
    "Invalid file CRC",
    "No CallBack function set",
    "Operation Aborted",
    "The disk selected for pkSpan archive is non removable",
    "Limit of the maximum volumes reached (999)",
    "Filename is too long",
    "Bad archive password",
    "Root archive directory not found",
    "Directory with size!=0 found"};

}  // namespace

int ZipErrorFromRaw(int raw) {
    // zlib's results 1, 2 and -1 to -6 come first, then the engine's own -101 to -109.
    if (raw == 1)
        return CZipException::streamEnd;
    if (raw == 2)
        return CZipException::needDict;
    if (raw <= -1 && raw >= -6)
        return CZipException::errNo - 1 - raw;
    if (raw <= ZipRaw::corruptedArchive && raw >= ZipRaw::rootDirectoryNotFound) {
        return CZipException::corruptedArchive + (ZipRaw::corruptedArchive - raw);
    }
    return CZipException::genericError;
}

void ThrowZipException(int raw, const std::string& filePath) {
    throw CZipException(ZipErrorFromRaw(raw), filePath);
}

std::string GetErrorText(int code) {
    if (code < 0 || code >= static_cast<int>(kMessages.size()))
        return "Unknown Error";
    return kMessages[static_cast<size_t>(code)];
}

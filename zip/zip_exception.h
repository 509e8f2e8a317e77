// The engine's own errors: public codes, their messages, and the one throw function.
#pragma once

#include <string>

#include "platform/exceptions.h"

class CZipException : public CException {
public:
    enum Code {
        success = 0,
        genericError = 1,
        streamEnd = 2,
        needDict = 3,
        errNo = 4,
        streamError = 5,
        dataError = 6,
        memError = 7,
        bufError = 8,
        versionError = 9,
        corruptedArchive = 10,
        invalidCrc = 11,
        callBackMissing = 12,
        operationAborted = 13,
        diskNotRemovable = 14,
        volumeLimitReached = 15,
        fileNameTooLong = 16,
        badArchivePassword = 17,
        rootDirectoryNotFound = 18,
        directorySizeNotZero = 19
    };

    CZipException(int code, const char* filePath)
        : filePath(filePath ? filePath : ""), code(code) {}
    CZipException(int code, const std::string& filePath) : filePath(filePath), code(code) {}

    std::string filePath;
    int code;
};

// The engine's own raw error numbers, passed to the throw function.
namespace ZipRaw {
constexpr int corruptedArchive = -101;
constexpr int invalidCrc = -102;
constexpr int callBackMissing = -103;
constexpr int operationAborted = -104;
constexpr int diskNotRemovable = -105;
constexpr int volumeLimitReached = -106;
constexpr int fileNameTooLong = -107;
constexpr int badArchivePassword = -108;
constexpr int rootDirectoryNotFound = -109;
}  // namespace ZipRaw

int ZipErrorFromRaw(int raw);
[[noreturn]] void ThrowZipException(int raw, const std::string& filePath);
std::string GetErrorText(int code);

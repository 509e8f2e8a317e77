// The exception family shared by the platform layer, the ZIP engine and the installer.
#pragma once

#include <string>

// Common base of every exception the program throws on purpose. Thrown by value, caught by const&.
class CException {
public:
    virtual ~CException() = default;
};

// A failed file-system operation: the operating system's error number (errno on Linux,
// GetLastError() on Windows) and the name of the file concerned.
class CFileException : public CException {
public:
    CFileException() = default;
    CFileException(long osError, std::string fileName)
        : osError(osError), fileName(std::move(fileName)) {}

    long osError = -1;  // -1 when no operating-system error number is known
    std::string fileName;
};

// Memory could not be had.
class CMemoryException : public CException {};

// The file object through which the volume storage reaches its files.
#pragma once

#include "platform/file.h"

class CZipBigFile : public CFile {
public:
    // Stores the path as given, unchanged.
    void SetFilePath(const std::string& path) override { filePath = path; }
};

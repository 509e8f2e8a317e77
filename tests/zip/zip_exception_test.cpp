// The engine's error codes: raw numbers mapped to codes, the throw function and the messages.
#include "zip/zip_exception.h"

#include <gtest/gtest.h>

namespace {

struct Row {
    int raw;
    int code;
    const char* message;
};

TEST(ZipExceptionTest, ThrowZipException_MapsEveryRawNumberToCodeAndMessage) {
    const Row rows[] = {
        {1, 2, "ZLib: streamEnd"},
        {2, 3, "ZLib: needDict"},
        {-1, 4, "ZLib: errNo"},
        {-2, 5, "ZLib: streamError"},
        {-3, 6, "ZLib: dataError"},
        {-4, 7, "ZLib: memError"},
        {-5, 8, "ZLib: bufError"},
        {-6, 9, "ZLib: versionError"},
        {-101, 10, "Bad or corrupted ZIP file"},
        {-102, 11, "Invalid file CRC"},
        {-103, 12, "No CallBack function set"},
        {-104, 13, "Operation Aborted"},
        {-105, 14, "The disk selected for pkSpan archive is non removable"},
        {-106, 15, "Limit of the maximum volumes reached (999)"},
        {-107, 16, "Filename is too long"},
        {-108, 17, "Bad archive password"},
        {-109, 18, "Root archive directory not found"},
        // Everything else, success included, is a generic error.
        {0, 1, "Generic Error"},
        {3, 1, "Generic Error"},
        {-7, 1, "Generic Error"},
        {-100, 1, "Generic Error"},
        {-110, 1, "Generic Error"},
    };
    for (const Row& row : rows) {
        try {
            ThrowZipException(row.raw, "C:\\game\\Brennick.Zip");
            ADD_FAILURE() << "raw " << row.raw << " did not throw";
        } catch (const CZipException& error) {
            EXPECT_EQ(error.code, row.code) << "raw " << row.raw;
            EXPECT_EQ(error.filePath, "C:\\game\\Brennick.Zip");
            EXPECT_EQ(GetErrorText(error.code), row.message) << "raw " << row.raw;
        }
    }
}

TEST(ZipExceptionTest, GetErrorText_KnowsCodesZeroToNineteenOnly) {
    EXPECT_EQ(GetErrorText(0), "Success Code");
    EXPECT_EQ(GetErrorText(19), "Directory with size!=0 found");
    EXPECT_EQ(GetErrorText(20), "Unknown Error");
    EXPECT_EQ(GetErrorText(-1), "Unknown Error");
}

TEST(ZipExceptionTest, ThrowZipException_IsCatchableAsBaseWithEmptyPath) {
    try {
        ThrowZipException(ZipRaw::corruptedArchive, "");
    } catch (const CException& error) {
        const auto* zipError = dynamic_cast<const CZipException*>(&error);
        ASSERT_NE(zipError, nullptr);
        EXPECT_EQ(zipError->code, CZipException::corruptedArchive);
        EXPECT_TRUE(zipError->filePath.empty());
        return;
    }
    FAIL() << "nothing was thrown";
}

}  // namespace

// The lines the installer's catch sites print for a caught exception.
#include "app/report.h"

#include <gtest/gtest.h>

#include "zip/zip_exception.h"

namespace {

std::string Reported(const CException& error, int line) {
    ::testing::internal::CaptureStdout();
    ReportException(error, line);
    return ::testing::internal::GetCapturedStdout();
}

TEST(ReportTest, ReportException_PrintsZipAndFileErrorsAndNothingElse) {
    EXPECT_EQ(Reported(CZipException(CZipException::invalidCrc, "a.zip"), 42),
              "Error ZipException 11 [Invalid file CRC] (Source Line 42)!\n");
    EXPECT_EQ(Reported(CFileException(13, "a.txt"), 7),
              "Error FileException 13 (Source Line 7)!\n");
    EXPECT_EQ(Reported(CMemoryException(), 1), "");
}

}  // namespace

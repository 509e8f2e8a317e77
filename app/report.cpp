// Prints a caught engine or file error the way the installer's catch sites report it.
#include "app/report.h"

#include "platform/exceptions.h"
#include "platform/system.h"
#include "zip/zip_exception.h"

void ReportException(const CException& error, int sourceLine) {
    if (const auto* zipError = dynamic_cast<const CZipException*>(&error)) {
        platform::Printf("Error ZipException %d [%s] (Source Line %d)!\n", zipError->code,
                         GetErrorText(zipError->code).c_str(), sourceLine);
        return;
    }
    if (const auto* fileError = dynamic_cast<const CFileException*>(&error)) {
        platform::Printf("Error FileException %ld (Source Line %d)!\n", fileError->osError,
                         sourceLine);
    }
}

// Reading an archive whose central directory never got written (its writer was killed).
#pragma once

#include <string>

class CZipHandler;

// Opens path read-only on a closed archive object and rebuilds its entry list from the local
// headers, which hold the real CRC-32 and sizes once an entry is finished. An incomplete last
// entry is dropped. Returns the number of entries recovered; file errors throw CFileException.
int RecoverArchive(CZipHandler& zip, const std::string& path);

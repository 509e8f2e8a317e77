// How the installer's catch sites report a caught exception.
#pragma once

class CException;

// Prints the ZipException or FileException line for the exception with the site's line number.
void ReportException(const CException& error, int sourceLine);

// A test seam that makes the n-th write, flush, rename or delete of the process fail.
//
// Set BRENNICK_FAULT to "<operation>:<n>:<kind>" before the program starts, with operation one
// of write, flush, rename, delete; n counted from 1 over the whole run; kind one of full (the
// disk is full), denied (permission denied) or locked (the file is in use). When the fault fires
// and BRENNICK_FAULT_MARK names a file, that file is created, so a test can tell that the n-th
// operation was reached. Without BRENNICK_FAULT nothing changes.
#pragma once

#include <string>

namespace platform {

enum class FaultOperation { write, flush, rename, remove };
enum class FaultKind { diskFull, accessDenied, fileLocked };

// True when this call of the operation must fail; kind then says how.
bool FaultFires(FaultOperation operation, FaultKind& kind);

// Throws the file exception of a fault when this call of the operation must fail.
void CheckFault(FaultOperation operation, const std::string& fileName);

// The host's error number for a fault of that kind (errno or a Windows error code).
long FaultErrorNumber(FaultKind kind);

}  // namespace platform

// Windows error codes of the fault seam, and the environment setter the tests use with it.
#include <windows.h>

#include <cstdlib>

#include "platform/fault_injection.h"
#include "platform/process.h"

namespace platform {

long FaultErrorNumber(FaultKind kind) {
    switch (kind) {
        case FaultKind::diskFull:
            return ERROR_DISK_FULL;
        case FaultKind::accessDenied:
            return ERROR_ACCESS_DENIED;
        case FaultKind::fileLocked:
            return ERROR_SHARING_VIOLATION;
    }
    return ERROR_GEN_FAILURE;
}

void SetEnvironmentValue(const std::string& name, const std::string& value) {
    // Both the process environment block (inherited by CreateProcessA) and the C runtime's copy.
    SetEnvironmentVariableA(name.c_str(), value.empty() ? nullptr : value.c_str());
    _putenv((name + "=" + value).c_str());
}

}  // namespace platform

// Windows error codes of the fault seam.
#include <windows.h>

#include "platform/fault_injection.h"

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

}  // namespace platform

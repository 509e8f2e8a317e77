// Linux error numbers of the fault seam.
#include <cerrno>

#include "platform/fault_injection.h"

namespace platform {

long FaultErrorNumber(FaultKind kind) {
    switch (kind) {
        case FaultKind::diskFull:
            return ENOSPC;
        case FaultKind::accessDenied:
            return EACCES;
        case FaultKind::fileLocked:
            return EBUSY;
    }
    return EIO;
}

}  // namespace platform

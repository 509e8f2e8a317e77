// Linux error numbers of the fault seam, and the environment setter the tests use with it.
#include <cerrno>
#include <cstdlib>

#include "platform/fault_injection.h"
#include "platform/process.h"

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

void SetEnvironmentValue(const std::string& name, const std::string& value) {
    if (value.empty()) {
        unsetenv(name.c_str());
    } else {
        setenv(name.c_str(), value.c_str(), 1);
    }
}

}  // namespace platform

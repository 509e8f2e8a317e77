// The fault seam's counters, set up once from the environment.
#include "platform/fault_injection.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/file.h"

namespace platform {

namespace {

struct FaultPlan {
    bool active = false;
    FaultOperation operation = FaultOperation::write;
    long target = 0;
    FaultKind kind = FaultKind::diskFull;
    long seen = 0;
    std::string mark;
};

bool ParseOperation(const std::string& text, FaultOperation& operation) {
    if (text == "write") {
        operation = FaultOperation::write;
    } else if (text == "flush") {
        operation = FaultOperation::flush;
    } else if (text == "rename") {
        operation = FaultOperation::rename;
    } else if (text == "delete") {
        operation = FaultOperation::remove;
    } else {
        return false;
    }
    return true;
}

bool ParseKind(const std::string& text, FaultKind& kind) {
    if (text == "full") {
        kind = FaultKind::diskFull;
    } else if (text == "denied") {
        kind = FaultKind::accessDenied;
    } else if (text == "locked") {
        kind = FaultKind::fileLocked;
    } else {
        return false;
    }
    return true;
}

FaultPlan ReadPlan() {
    FaultPlan plan;
    const char* setting = std::getenv("BRENNICK_FAULT");
    if (setting == nullptr)
        return plan;
    const std::string text = setting;
    const size_t first = text.find(':');
    const size_t second = first == std::string::npos ? first : text.find(':', first + 1);
    if (second == std::string::npos)
        return plan;
    plan.target = std::atol(text.substr(first + 1, second - first - 1).c_str());
    plan.active = plan.target > 0 && ParseOperation(text.substr(0, first), plan.operation) &&
                  ParseKind(text.substr(second + 1), plan.kind);
    if (const char* mark = std::getenv("BRENNICK_FAULT_MARK"))
        plan.mark = mark;
    return plan;
}

FaultPlan& Plan() {
    static FaultPlan plan = ReadPlan();
    return plan;
}

}  // namespace

bool FaultFires(FaultOperation operation, FaultKind& kind) {
    FaultPlan& plan = Plan();
    if (!plan.active || plan.operation != operation || ++plan.seen != plan.target)
        return false;
    kind = plan.kind;
    if (!plan.mark.empty()) {
        plan.active = false;  // creating the mark must not count as an operation of its own
        CFile mark;
        mark.Open(plan.mark, CFile::modeCreate | CFile::modeWrite);
        mark.Abort();
    }
    return true;
}

}  // namespace platform

namespace platform {

void CheckFault(FaultOperation operation, const std::string& fileName) {
    FaultKind kind;
    if (FaultFires(operation, kind))
        throw CFileException(FaultErrorNumber(kind), fileName);
}

}  // namespace platform

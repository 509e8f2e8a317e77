// Deinstalling a mission (placeholder until the deinstall operation lands).
#include "app/deinstall.h"

bool DeinstallMission(const std::string&, bool) { return false; }

// Installing a mission (placeholder until the install operation lands).
#include "app/install.h"

bool InstallMission(const std::string&, bool) { return false; }

// Deinstalling a mission: delete what it added, restore what it replaced, remove emptied folders.
#pragma once

#include <string>

bool DeinstallMission(const std::string& targetFolder, bool keepFolders);

// Copies of the program stacked in one game folder: a mission and a modification of it.
#pragma once

#include <string>

// The name of another copy of the program beside this one (its state file's name without the
// extension) that is still installed, was installed after this one, and replaced files this one
// also installed; empty when there is none. Deinstalling this one first would put the game's
// originals back under the other's files, and the other's deinstall would then restore this
// mission's versions over them.
std::string FindLaterOverlappingCopy();

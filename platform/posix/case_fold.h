// Letter case on Linux: names compare as Windows matches them, through Unicode simple case folding.
#pragma once

#include <string>

namespace platform::posix {

// Every valid UTF-8 character of text as its simple case fold (the small letter, mostly: "Ä" and
// "ä" give "ä", "ẞ" gives "ß", "Σ" and "ς" give "σ"); bytes that are not valid UTF-8 stay as they
// are. Two names that differ only in letter case fold to the same text, and a folded text folds
// to itself.
std::string FoldName(const std::string& text);

// The byte order of FoldName(a) against FoldName(b) (-1, 0 or 1), without building either.
int CompareFolded(const std::string& a, const std::string& b);

}  // namespace platform::posix

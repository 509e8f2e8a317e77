// Matching path components regardless of letter case on Linux, over cached folder listings.
//
// Windows ignores letter case in file names and game folders and mission archives mix cases
// freely, so a name that does not exist with exactly its spelling is looked for in its folder
// ignoring case (Unicode simple case folding), as Wine does. Each folder's listing is read once and
// kept as a case-folded hash map for the rest of the run, so that many files created in one
// folder cost no rescans: the program's own creates, deletes and renames update the listing in
// place. A listing is read again when its folder changed in another way (its status differs
// from the one recorded) or when a name it reports has gone.
#pragma once

#include <cstdint>
#include <string>

namespace platform::posix {

// Each component of hostPath (UTF-8, '/') that exists with exactly its spelling stays; one that
// exists only in another letter case gets the spelling found on disk; the first component that
// does not exist at all and everything after it keep the spelling given. Of several names in one
// folder that equal a component ignoring case, the first in byte order is taken (capital letters
// before small ones), so the choice never depends on the order the folder lists them in.
std::string MatchExistingCase(const std::string& hostPath);
// The same for a hostPath already found absent as spelled, with the errno that said so.
std::string MatchMissingCase(const std::string& hostPath, int missing);

// hostPath with every existing component spelled as its folder lists it, also where the file
// system itself ignores letter case (an exact spelling, when listed, is kept).
std::string SpellingOnDisk(const std::string& hostPath);

// The last component of hostPath as its folder lists it (only that folder is consulted).
std::string LastNameOnDisk(const std::string& hostPath);

// A host path as MatchExistingCase gives it, and whether it is known to name nothing (found
// absent from its folder's listing), so that no further look is needed to tell.
struct MatchedName {
    std::string path;
    bool absent = false;
};
MatchedName MatchName(const std::string& hostPath);

// One change the program makes to the names in a folder: constructed (with the host path of the
// name) before the system call, told the outcome after it succeeded, so that the cached listing
// of the folder stays right without reading it again. The program is the only one changing the
// game folder while it runs: a folder's listing changed this way takes the folder's next stamp
// as its own, without a look at the folder for each change. Changes made by others are seen
// whenever they come between two looks at the folder.
class EntryChange {
public:
    explicit EntryChange(const std::string& hostPath);
    void Created() const;  // the name exists now
    void Removed() const;  // the name is gone

private:
    void Apply(bool exists) const;

    std::string folder;
    std::string name;
};

}  // namespace platform::posix

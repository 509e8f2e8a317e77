// Writing a profile file so that a process killed at any instant leaves the old or the new
// content: one small write in place, or the whole file written beside it and put in its place.
#pragma once

#include <cstdint>
#include <string>

namespace platform::profile {

// One single write of bytes at offset of an existing file; on failure what it may have changed
// is put back (oldSize when the write appended, else oldBytes).
bool WriteInPlace(const std::string& path, uint64_t offset, const std::string& bytes,
                  const std::string& oldBytes, uint64_t oldSize);
// Writes content beside the file and puts it in place in one step.
bool Rewrite(const std::string& path, const std::string& content);
// Removes the copy beside the file that a rewrite killed before it put the copy in place left
// behind: it holds nothing the file took. Looks once a run for each file; the caller holds the
// lock of the profile files.
void RemoveUnfinishedRewrite(const std::string& path);

}  // namespace platform::profile

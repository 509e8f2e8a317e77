// Opening a host path only when it names a regular file, without blocking on a FIFO or device.
#pragma once

#include <sys/types.h>

#include <string>

namespace platform::posix {

// open(2) of a host path that refuses anything but a regular file: a folder with EISDIR, a FIFO,
// device or socket with ENXIO, never waiting for a FIFO's other end. The descriptor returned
// reads and writes as a plain one would (O_NONBLOCK cleared); -1 with errno set on failure.
// opened, when given, receives the file's permission bits.
//
// A name to be created (O_CREAT without O_EXCL) is tried as a new file first: one made by this
// call is a regular file by construction and needs no look at what was opened.
int OpenRegularFile(const std::string& host, int flags, mode_t mode, mode_t* opened = nullptr);

}  // namespace platform::posix

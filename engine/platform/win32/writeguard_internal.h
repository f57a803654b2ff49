// writeguard_internal.h - what the durable replacement asks of the writer
// lock on Windows. Internal to the platform room.
#pragma once

#include <string>

namespace vzrfs::internal {

// Closes this process's lock handle on the file at path, if it holds one:
// Windows moves no file over one that is open, and the lock's file is
// about to be replaced. The holders keep their lock objects.
void LetGoOfLockedFile(const std::string& path);

}  // namespace vzrfs::internal

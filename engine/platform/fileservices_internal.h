// fileservices_internal.h - what the files of the file services share among
// themselves: the test hooks' side (fault injection, recording) and the
// fresh names of new files. Not for use outside them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fileservices.h"

namespace vzrfs::internal {

// Whether a recorder is set (recording costs a look at the file's path).
bool Recording();
// Hands one operation to the recorder; paths absolute.
void Record(FsOperation::Kind kind, const std::string& path, const std::string& target = std::string());
void RecordWrite(NativeHandle file, uint64_t offset, const void* data, uint64_t length);
// path made absolute against the current directory, as the recorder wants it.
std::string AbsoluteFor(const std::string& path);
// The path an open handle names (the system's own idea of it), and that of
// name in the open folder dir.
std::string PathOfHandle(NativeHandle handle);
std::string PathAt(const Folder& dir, const std::string& name);

// Listing order: names compared with a-z folded to upper case, then by bytes.
bool ListingLess(const std::string& a, const std::string& b);
// Whether anything (even a dangling link) has the name path.
bool Exists(const std::string& path);
// The names in a folder (empty: the current one), without "." and "..", in
// the system's order.
std::vector<std::string> NamesIn(const std::string& folder);

// Asks the fault hook whether this write (or flush) is to fail; when it is,
// errno is set and the failure kept for LastWriteError. True: fail it.
bool InjectedFailure();
// Keeps errno (EIO when unset) as the last write error; returns false.
bool RecordFailure();

// Six random letters or digits for a new file's name.
std::string RandomSuffix();

// Seeks a stream just opened for writing to its start, where it already is:
// the C library then keeps count of its position, and the position asked
// for each entry written costs no system call.
void LearnPosition(std::FILE* f);

}  // namespace vzrfs::internal

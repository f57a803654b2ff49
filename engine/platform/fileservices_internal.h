// fileservices_internal.h - what the files of the file services share among
// themselves: the test hooks' side (fault injection, recording) and the
// fresh names of new files. Not for use outside them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "fileservices.h"

namespace vzrfs::internal {

// Whether a recorder is set (recording costs a look at the file's path).
bool Recording();
// Hands one operation to the recorder; paths absolute.
void Record(FsOperation::Kind kind, const std::string& path, const std::string& target = std::string());
void RecordWrite(int fd, uint64_t offset, const void* data, uint64_t length);
// path made absolute against the current directory, as the recorder wants it.
std::string AbsoluteFor(const std::string& path);
// The path an open descriptor names, and that of name in the open folder dirFd.
std::string PathOfFd(int fd);
std::string PathAt(int dirFd, const std::string& name);

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

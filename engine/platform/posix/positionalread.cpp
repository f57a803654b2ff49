// positionalread.cpp - positional reads on an open stream's file (POSIX: pread).
#include "positionalread.h"

#include <cerrno>

#include <unistd.h>

namespace vzrfs {

bool ReadAtOffset(std::FILE* f, uint64_t offset, void* to, std::size_t n) {
  auto* p = static_cast<unsigned char*>(to);
  const int fd = ::fileno(f);
  while (n > 0) {
    const ssize_t got = ::pread(fd, p, n, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got == 0) errno = 0;
      return false;
    }
    p += got;
    offset += static_cast<uint64_t>(got);
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace vzrfs

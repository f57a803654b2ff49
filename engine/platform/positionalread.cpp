// positionalread.cpp - positional reads on an open stream's file.
#include "positionalread.h"

#include <cerrno>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace vzrfs {

bool ReadAtOffset(std::FILE* f, uint64_t offset, void* to, std::size_t n) {
  auto* p = static_cast<unsigned char*>(to);
#ifdef _WIN32
  const HANDLE file = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(f)));
  while (n > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    const DWORD want = n > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n);
    DWORD got = 0;
    if (!::ReadFile(file, p, want, &got, &at) || got == 0) {
      errno = got == 0 ? 0 : EIO;
      return false;
    }
    p += got;
    offset += got;
    n -= got;
  }
#else
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
#endif
  return true;
}

}  // namespace vzrfs

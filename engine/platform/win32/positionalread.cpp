// positionalread.cpp - positional reads on an open stream's file (Win32: ReadFile with an offset).
#include "positionalread.h"

#include <cerrno>

#include <io.h>
#include <windows.h>

namespace vzrfs {

bool ReadAtOffset(std::FILE* f, uint64_t offset, void* to, std::size_t n) {
  auto* p = static_cast<unsigned char*>(to);
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
  return true;
}

}  // namespace vzrfs

// fileservices_io.cpp - checked reads and writes on Windows: each says
// whether every byte moved, asks the fault hook before it writes, and tells
// the recorder what it wrote. Streams are the C runtime's over a handle
// opened with the W calls.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <vector>

#include "fileservices.h"
#include "fileservices_internal.h"
#include "paths.h"
#include "wide.h"

namespace vzrfs {

using namespace internal;
using namespace win32;

namespace {

HANDLE HandleOf(std::FILE* f) { return AsHandle(::_get_osfhandle(::_fileno(f))); }

// A stream over a handle: the runtime owns the handle from here on.
std::FILE* StreamOf(HANDLE handle, int flags, const char* mode) {
  const int fd = ::_open_osfhandle(AsNative(handle), flags | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(handle);
    errno = EMFILE;
    return nullptr;
  }
  std::FILE* f = ::_fdopen(fd, mode);
  if (!f) ::_close(fd);
  return f;
}

// Opens path for reading, shared every way: the game or an editor may hold
// it, and a writer may replace it meanwhile. A sharing violation (a program
// that shares nothing) is tried again for a moment.
HANDLE OpenForReading(const std::string& path) {
  const std::wstring wide = SystemPath(path);
  for (int attempt = 0;; ++attempt) {
    HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle != INVALID_HANDLE_VALUE) return handle;
    if (!InUse(::GetLastError()) || attempt >= kInUseRetries) {
      Fail();
      return INVALID_HANDLE_VALUE;
    }
    ::Sleep(kInUseRetryMs);
  }
}

bool WriteAll(HANDLE handle, uint64_t offset, const unsigned char* bytes, std::size_t n) {
  for (std::size_t done = 0; done < n;) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset + done);
    at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(n - done, 0x40000000));
    DWORD put = 0;
    if (!::WriteFile(handle, bytes + done, chunk, &put, &at)) return Fail();
    if (put == 0) {
      errno = ENOSPC;
      return false;
    }
    done += put;
  }
  return true;
}

bool ReadAll(HANDLE handle, uint64_t offset, unsigned char* bytes, std::size_t n, std::size_t& got) {
  got = 0;
  while (got < n) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset + got);
    at.OffsetHigh = static_cast<DWORD>((offset + got) >> 32);
    DWORD read = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(n - got, 0x40000000));
    if (!::ReadFile(handle, bytes + got, chunk, &read, &at)) return ::GetLastError() == ERROR_HANDLE_EOF || Fail();
    if (read == 0) return true;
    got += read;
  }
  return true;
}

}  // namespace

std::FILE* OpenRead(const char* path, uint64_t* length) {
  const std::string written = WithSlashes(path);
  HANDLE handle = written.empty() ? INVALID_HANDLE_VALUE : OpenForReading(written);
  if (handle == INVALID_HANDLE_VALUE && ErrnoOf(::GetLastError()) == ENOENT) handle = OpenForReading(ResolvePath(path));
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(handle, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    errno = EISDIR;  // a folder is not a file to read
    ::CloseHandle(handle);
    return nullptr;
  }
  if (length) *length = (uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  return StreamOf(handle, _O_RDONLY, "rb");
}

void internal::LearnPosition(std::FILE* f) { ::_fseeki64(f, 0, SEEK_SET); }

std::FILE* OpenWrite(const char* path) {
  const std::string resolved = ResolvePath(path);
  HANDLE handle = ::CreateFileW(SystemPath(resolved).c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    Fail();
    return nullptr;
  }
  std::FILE* f = StreamOf(handle, _O_RDWR, "w+b");
  if (f) LearnPosition(f);
  if (f && Recording()) Record(FsOperation::Kind::Create, AbsoluteFor(resolved));
  return f;
}

bool Read(std::FILE* f, void* data, std::size_t n) { return n == 0 || std::fread(data, 1, n, f) == n; }

std::size_t ReadSome(std::FILE* f, void* data, std::size_t n) { return n == 0 ? 0 : std::fread(data, 1, n, f); }

bool Write(std::FILE* f, const void* data, std::size_t n) {
  if (InjectedFailure()) return false;
  if (n == 0) return true;
  errno = 0;
  uint64_t offset = 0;
  const bool recording = Recording() && Tell(f, offset);
  if (std::fwrite(data, 1, n, f) != n) return RecordFailure();
  if (recording) RecordWrite(AsNative(HandleOf(f)), offset, data, n);
  return true;
}

bool WriteGathered(std::FILE* f, const ConstBytes* pieces, std::size_t count) {
  if (InjectedFailure()) return false;
  errno = 0;
  uint64_t at = 0;
  const bool recording = Recording() && Tell(f, at);
  // The stream's buffer gathers them; Windows has no gathering write for
  // a file opened with buffering.
  for (std::size_t i = 0; i < count; ++i) {
    if (pieces[i].size > 0 && std::fwrite(pieces[i].data, 1, pieces[i].size, f) != pieces[i].size)
      return RecordFailure();
    if (recording) RecordWrite(AsNative(HandleOf(f)), at, pieces[i].data, pieces[i].size);
    at += pieces[i].size;
  }
  return true;
}

bool WriteAt(PositionalFile& out, uint64_t offset, const void* data, std::size_t n) {
  if (InjectedFailure()) return false;
  errno = 0;
  if (!WriteAll(AsHandle(out.Native()), offset, static_cast<const unsigned char*>(data), n)) return RecordFailure();
  if (n && Recording()) RecordWrite(out.Native(), offset, data, n);
  return true;
}

bool Close(PositionalFile& file) {
  errno = 0;
  return file.Close() || RecordFailure();
}

bool Seek(std::FILE* f, uint64_t offset) {
  return offset <= static_cast<uint64_t>(INT64_MAX) && ::_fseeki64(f, static_cast<int64_t>(offset), SEEK_SET) == 0;
}

bool Tell(std::FILE* f, uint64_t& offset) {
  const int64_t pos = ::_ftelli64(f);
  if (pos < 0) return false;
  offset = static_cast<uint64_t>(pos);
  return true;
}

bool FileLength(std::FILE* f, uint64_t& length) {
  LARGE_INTEGER size{};
  if (std::fflush(f) != 0 || !::GetFileSizeEx(HandleOf(f), &size)) return false;
  length = static_cast<uint64_t>(size.QuadPart);
  return true;
}

bool Truncate(std::FILE* f, uint64_t length) {
  return std::fflush(f) == 0 && length <= static_cast<uint64_t>(INT64_MAX) &&
         ::_chsize_s(::_fileno(f), static_cast<int64_t>(length)) == 0;
}

bool Close(std::FILE* f) {
  if (!f) return true;
  errno = 0;
  const bool flushed = std::fflush(f) == 0;
  if (!flushed) RecordFailure();
  const bool closed = std::fclose(f) == 0;
  if (!closed && flushed) RecordFailure();
  return flushed && closed;
}

namespace {
// Copies n bytes between two handles at explicit offsets through buffer;
// the fault hook is asked once per chunk of at most bufferSize bytes.
bool CopyAtOffsets(HANDLE in, uint64_t inPos, HANDLE out, uint64_t outPos, uint64_t n, unsigned char* buffer,
                   std::size_t bufferSize) {
  for (uint64_t done = 0; done < n;) {
    const std::size_t chunk = static_cast<std::size_t>(std::min<uint64_t>(n - done, bufferSize));
    if (InjectedFailure()) return false;
    std::size_t got = 0;
    if (!ReadAll(in, inPos + done, buffer, chunk, got) || got == 0) return false;
    if (!WriteAll(out, outPos + done, buffer, got)) return RecordFailure();
    if (Recording()) RecordWrite(AsNative(out), outPos + done, buffer, got);
    done += got;
  }
  return true;
}
// Positional reads and writes of a synchronous handle move its file
// pointer, which a stream over it reads its position from: the pointer is
// put back when this goes.
class KeepPointer {
 public:
  explicit KeepPointer(HANDLE handle) : handle_(handle) {
    kept_ = ::SetFilePointerEx(handle_, LARGE_INTEGER{}, &position_, FILE_CURRENT) != 0;
  }
  ~KeepPointer() {
    if (kept_) ::SetFilePointerEx(handle_, position_, nullptr, FILE_BEGIN);
  }
  KeepPointer(const KeepPointer&) = delete;
  KeepPointer& operator=(const KeepPointer&) = delete;

 private:
  HANDLE handle_;
  LARGE_INTEGER position_{};
  bool kept_ = false;
};
}  // namespace

bool CopyRange(std::FILE* in, std::FILE* out, uint64_t n, unsigned char* buffer, std::size_t bufferSize) {
  uint64_t inPos = 0, outPos = 0;
  if (!Tell(in, inPos) || !Tell(out, outPos)) return false;
  errno = 0;
  if (std::fflush(out) != 0) return RecordFailure();
  if (!CopyAtOffsets(HandleOf(in), inPos, HandleOf(out), outPos, n, buffer, bufferSize)) return false;
  return Seek(in, inPos + n) && Seek(out, outPos + n);
}

bool CopyRangeAt(std::FILE* in, uint64_t inOffset, std::FILE* out, uint64_t outOffset, uint64_t n,
                 unsigned char* buffer, std::size_t bufferSize) {
  errno = 0;
  if (std::fflush(out) != 0) return RecordFailure();
  const KeepPointer keepIn(HandleOf(in)), keepOut(HandleOf(out));
  return CopyAtOffsets(HandleOf(in), inOffset, HandleOf(out), outOffset, n, buffer, bufferSize);
}

bool CopyRangeToFile(std::FILE* in, uint64_t inOffset, PositionalFile& out, uint64_t outOffset, uint64_t n,
                     unsigned char* buffer, std::size_t bufferSize) {
  errno = 0;
  const KeepPointer keepIn(HandleOf(in));
  return CopyAtOffsets(HandleOf(in), inOffset, AsHandle(out.Native()), outOffset, n, buffer, bufferSize);
}

// Windows writes a file's cache out on its own schedule; no hint to give.
void StartWriteOut(std::FILE*, uint64_t, uint64_t) {}

}  // namespace vzrfs

// fileservices_io.cpp - checked reads and writes: each says whether every
// byte moved, asks the fault hook before it writes, and tells the recorder
// what it wrote.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <vector>

#include "fileservices.h"
#include "fileservices_internal.h"
#include "paths.h"

namespace vzrfs {

using namespace internal;

std::FILE* OpenRead(const char* path, uint64_t* length) {
  // A path that opens as written is what ResolvePath would give back (it
  // keeps a path that exists); only a miss needs the case-insensitive search.
  const std::string written = WithSlashes(path);
  std::FILE* f = written.empty() ? nullptr : std::fopen(written.c_str(), "rb");
  if (!f) f = std::fopen(ResolvePath(path).c_str(), "rb");
  if (!f) return nullptr;
  struct stat st;
  if (::fstat(::fileno(f), &st) != 0 || S_ISDIR(st.st_mode)) {  // a folder is not a file to read
    std::fclose(f);
    return nullptr;
  }
  if (length) *length = static_cast<uint64_t>(st.st_size);
  return f;
}

void internal::LearnPosition(std::FILE* f) { ::fseeko(f, 0, SEEK_SET); }

std::FILE* OpenWrite(const char* path) {
  const std::string resolved = ResolvePath(path);
  std::FILE* f = std::fopen(resolved.c_str(), "wb");
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
  if (recording) RecordWrite(::fileno(f), offset, data, n);
  return true;
}

namespace {

// Writes vec[0..count) whole at fd's position, going on after a short write
// (vec is used up as it goes).
bool WriteVector(int fd, iovec* vec, int count) {
  while (count > 0) {
    const ssize_t put = ::writev(fd, vec, count);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      if (put == 0) errno = ENOSPC;
      return false;
    }
    auto left = static_cast<std::size_t>(put);
    for (; count > 0 && left >= vec->iov_len; ++vec, --count) left -= vec->iov_len;
    if (count > 0) {
      vec->iov_base = static_cast<char*>(vec->iov_base) + left;
      vec->iov_len -= left;
    }
  }
  return true;
}

}  // namespace

bool WriteGathered(std::FILE* f, const ConstBytes* pieces, std::size_t count) {
  if (InjectedFailure()) return false;
  errno = 0;
  uint64_t offset = 0;
  if (!Tell(f, offset)) {
    // A stream without a position (a pipe) takes the pieces through its buffer.
    for (std::size_t i = 0; i < count; ++i)
      if (pieces[i].size > 0 && std::fwrite(pieces[i].data, 1, pieces[i].size, f) != pieces[i].size)
        return RecordFailure();
    return true;
  }
  if (std::fflush(f) != 0) return RecordFailure();
  const int fd = ::fileno(f);
  constexpr std::size_t kBatch = 512;  // within every system's limit of pieces per call
  iovec vec[kBatch];
  uint64_t at = offset;
  for (std::size_t done = 0; done < count;) {
    const std::size_t batch = std::min(kBatch, count - done);
    for (std::size_t i = 0; i < batch; ++i) vec[i] = {const_cast<void*>(pieces[done + i].data), pieces[done + i].size};
    if (!WriteVector(fd, vec, static_cast<int>(batch))) return RecordFailure();
    for (std::size_t i = 0; i < batch; ++i, ++done) {
      if (Recording()) RecordWrite(fd, at, pieces[done].data, pieces[done].size);
      at += pieces[done].size;
    }
  }
  // The stream is told where the descriptor now stands, so its own idea of
  // the position stays right whatever the C library keeps.
  return Seek(f, at) || RecordFailure();
}

bool WriteAt(PositionalFile& out, uint64_t offset, const void* data, std::size_t n) {
  return WriteAt(static_cast<int>(out.Native()), offset, data, n);
}

bool WriteAt(int fd, uint64_t offset, const void* data, std::size_t n) {
  if (InjectedFailure()) return false;
  errno = 0;
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (std::size_t done = 0; done < n;) {
    const ssize_t put = ::pwrite(fd, bytes + done, n - done, static_cast<off_t>(offset + done));
    if (put <= 0) {
      if (put == 0) errno = ENOSPC;
      return RecordFailure();
    }
    done += static_cast<std::size_t>(put);
  }
  if (n && Recording()) RecordWrite(fd, offset, data, n);
  return true;
}

bool Close(PositionalFile& file) {
  errno = 0;
  return file.Close() || RecordFailure();
}

bool Seek(std::FILE* f, uint64_t offset) {
  return offset <= static_cast<uint64_t>(INT64_MAX) && ::fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool Tell(std::FILE* f, uint64_t& offset) {
  const off_t pos = ::ftello(f);
  if (pos < 0) return false;
  offset = static_cast<uint64_t>(pos);
  return true;
}

bool FileLength(std::FILE* f, uint64_t& length) {
  struct stat st;
  if (::fstat(::fileno(f), &st) != 0) return false;
  length = static_cast<uint64_t>(st.st_size);
  return true;
}

bool Truncate(std::FILE* f, uint64_t length) {
  return std::fflush(f) == 0 && length <= static_cast<uint64_t>(INT64_MAX) &&
         ::ftruncate(::fileno(f), static_cast<off_t>(length)) == 0;
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
// Records bytes the kernel copied, read again from where they came from (the
// file they went to is open for writing only).
void RecordCopied(int inFd, uint64_t inOffset, int outFd, uint64_t outOffset, std::size_t n) {
  std::vector<unsigned char> bytes(n);
  if (::pread(inFd, bytes.data(), n, static_cast<off_t>(inOffset)) == static_cast<ssize_t>(n))
    RecordWrite(outFd, outOffset, bytes.data(), n);
}

// Copies n bytes between two descriptors at explicit offsets, leaving both
// file offsets alone; inside the kernel where it can, else through buffer:
// a file system or pair of files the kernel cannot copy between (EXDEV,
// ENOSYS, EINVAL, EOPNOTSUPP), or a kernel copy that moves nothing, goes on
// with reads and writes, which tell a source that really ended. The fault
// hook is asked once per chunk of at most bufferSize bytes, either way.
bool CopyAtOffsets(int inFd, uint64_t inPos, int outFd, uint64_t outPos, uint64_t n, unsigned char* buffer,
                   std::size_t bufferSize) {
  bool kernelCopy = true;
  uint64_t done = 0;
  while (done < n) {
    const std::size_t chunk = static_cast<std::size_t>(std::min<uint64_t>(n - done, bufferSize));
    if (InjectedFailure()) return false;
    if (kernelCopy) {
      loff_t offIn = static_cast<loff_t>(inPos + done), offOut = static_cast<loff_t>(outPos + done);
      const ssize_t copied = ::copy_file_range(inFd, &offIn, outFd, &offOut, chunk, 0);
      if (copied > 0) {
        if (Recording()) RecordCopied(inFd, inPos + done, outFd, outPos + done, static_cast<std::size_t>(copied));
        done += static_cast<uint64_t>(copied);
        continue;
      }
      if (copied < 0 && errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)
        return RecordFailure();
      kernelCopy = false;
    }
    const ssize_t got = ::pread(inFd, buffer, chunk, static_cast<off_t>(inPos + done));
    if (got <= 0) return false;
    std::size_t written = 0;
    while (written < static_cast<std::size_t>(got)) {
      const ssize_t put = ::pwrite(outFd, buffer + written, static_cast<std::size_t>(got) - written,
                                   static_cast<off_t>(outPos + done + written));
      if (put <= 0) {
        if (put == 0) errno = ENOSPC;
        return RecordFailure();
      }
      written += static_cast<std::size_t>(put);
    }
    if (Recording()) RecordWrite(outFd, outPos + done, buffer, static_cast<uint64_t>(got));
    done += static_cast<uint64_t>(got);
  }
  return true;
}
}  // namespace

bool CopyRange(std::FILE* in, std::FILE* out, uint64_t n, unsigned char* buffer, std::size_t bufferSize) {
  uint64_t inPos = 0, outPos = 0;
  if (!Tell(in, inPos) || !Tell(out, outPos)) return false;
  errno = 0;
  if (std::fflush(out) != 0) return RecordFailure();
  if (!CopyAtOffsets(::fileno(in), inPos, ::fileno(out), outPos, n, buffer, bufferSize)) return false;
  return Seek(in, inPos + n) && Seek(out, outPos + n);
}

bool CopyRangeAt(std::FILE* in, uint64_t inOffset, std::FILE* out, uint64_t outOffset, uint64_t n,
                 unsigned char* buffer, std::size_t bufferSize) {
  errno = 0;
  if (std::fflush(out) != 0) return RecordFailure();
  return CopyAtOffsets(::fileno(in), inOffset, ::fileno(out), outOffset, n, buffer, bufferSize);
}

bool CopyRangeToFile(std::FILE* in, uint64_t inOffset, PositionalFile& out, uint64_t outOffset, uint64_t n,
                     unsigned char* buffer, std::size_t bufferSize) {
  errno = 0;
  return CopyAtOffsets(::fileno(in), inOffset, static_cast<int>(out.Native()), outOffset, n, buffer, bufferSize);
}

void StartWriteOut(std::FILE* f, uint64_t offset, uint64_t n) {
  if (f && offset <= static_cast<uint64_t>(INT64_MAX) && n <= static_cast<uint64_t>(INT64_MAX))
    ::sync_file_range(::fileno(f), static_cast<off64_t>(offset), static_cast<off64_t>(n), SYNC_FILE_RANGE_WRITE);
}

}  // namespace vzrfs

// fileservices.cpp - POSIX realisation of the file services: folders, the
// current directory, deleting and moving, and the durable replacement of one
// file by another. Listings are in fileservices_listing.cpp, the operations
// that follow no links in fileservices_nofollow.cpp, the checked reads and
// writes in fileservices_io.cpp, the test hooks in fileservices_hooks.cpp.
#include "fileservices.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <random>

#include "fileservices_internal.h"
#include "paths.h"
#include "temporaries_internal.h"

namespace vzrfs {

using namespace internal;

bool CreateFolder(const char* path) {
  const std::string resolved = ResolvePath(path);
  if (::mkdir(resolved.c_str(), 0777) == 0) return true;
  return errno == EEXIST && IsDirectory(resolved.c_str());
}

bool CreateFolderAsWritten(const char* path) { return CreateFolderNoFollow(WithSlashes(path), false); }

std::string GetCurrentDir() {
  std::vector<char> buffer(PATH_MAX + 1);
  if (!::getcwd(buffer.data(), buffer.size())) return std::string();
  return std::string(buffer.data());
}

bool SetCurrentDir(const char* path) {
  if (!path || !*path) return false;
  return ::chdir(ResolvePath(path).c_str()) == 0;
}

bool MakeWritable(const char* path) {
  const std::string resolved = ResolvePath(path);
  struct stat st;
  if (::stat(resolved.c_str(), &st) != 0) return errno == ENOENT;
  return ::chmod(resolved.c_str(), (st.st_mode & 07777) | S_IRUSR | S_IWUSR) == 0;
}

bool DeleteFile(const char* path) {
  const std::string resolved = ResolvePath(path);
  const bool deleted = ::unlink(resolved.c_str()) == 0;
  temporaries::ReleasePath(resolved);
  if (deleted && Recording()) Record(FsOperation::Kind::Delete, AbsoluteFor(resolved));
  return deleted;
}

bool MoveReplace(const char* src, const char* dst) {
  const std::string from = ResolvePath(src), to = ResolvePath(dst);
  if (::rename(from.c_str(), to.c_str()) != 0) return false;
  temporaries::ReleasePath(from);
  if (Recording()) Record(FsOperation::Kind::Rename, AbsoluteFor(from), AbsoluteFor(to));
  return true;
}

bool IsDirectory(const char* path) {
  struct stat st;
  return ::stat(ResolvePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FreeBytes(const char* directory, uint64_t& bytes) {
  struct statvfs vfs;
  if (::statvfs(ResolvePath(directory).c_str(), &vfs) != 0) return false;
  bytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
  return true;
}

bool SameFile(const char* a, const char* b) {
  struct stat sa, sb;
  if (::stat(ResolvePath(a).c_str(), &sa) != 0 || ::stat(ResolvePath(b).c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string internal::RandomSuffix() {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 generator{std::random_device{}()};
  std::string suffix(6, 'x');
  for (char& c : suffix) c = kChars[generator() % (sizeof kChars - 1)];
  return suffix;
}

namespace {

// Opens a new file exclusively: a name that exists (even as a link) fails.
std::FILE* CreateExclusive(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  std::FILE* f = ::fdopen(fd, "wb");
  if (f) internal::LearnPosition(f);
  if (!f) {
    ::close(fd);
    ::unlink(path.c_str());
  } else if (Recording()) {
    Record(FsOperation::Kind::Create, AbsoluteFor(path));
  }
  return f;
}

// Flushes a folder's entries (a rename or a new name in it) to the device.
void FlushFolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  // The rename is done either way; nothing to undo on failure.
  if (::fsync(fd) == 0 && Recording()) Record(FsOperation::Kind::FlushFolder, AbsoluteFor(folder));
  ::close(fd);
}
}  // namespace

std::FILE* CreateBeside(const char* path, std::string& tempPath) {
  const std::string target = ResolvePath(path);
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  // No signal handler may see the file before it is registered.
  temporaries::SignalsHeld held;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string suffix = RandomSuffix();
    tempPath = target + "." + suffix;
    std::FILE* f = CreateExclusive(tempPath);
    if (!f && errno == ENAMETOOLONG) {  // the target's own name is near the limit
      tempPath = folder + "vzr." + suffix;
      f = CreateExclusive(tempPath);
    }
    if (f) {
      temporaries::RegisterPath(tempPath);
      return f;
    }
    if (errno != EEXIST) break;
  }
  tempPath.clear();
  return nullptr;
}

namespace {
volatile sig_atomic_t g_archivesReplaced = 0;
}  // namespace

bool ReplaceDurably(const char* src, const char* dst, bool* flushFailed) {
  if (flushFailed) *flushFailed = false;
  const std::string from = ResolvePath(src), to = ResolvePath(dst);
  // Across file systems no rename can work; the caller copies instead, and
  // nothing is flushed (or asked of the fault hook) for a move that cannot be.
  const std::size_t slash = to.rfind('/');
  const std::string toFolder = slash == std::string::npos ? "." : slash == 0 ? "/" : to.substr(0, slash);
  struct stat a, b;
  if (::stat(from.c_str(), &a) == 0 && ::stat(toFolder.c_str(), &b) == 0 && a.st_dev != b.st_dev) {
    errno = EXDEV;
    return false;
  }
  errno = 0;
  const int fd = ::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;  // no such file: nothing to flush or move
  const bool flushed = !InjectedFailure() && (::fsync(fd) == 0 || RecordFailure());
  ::close(fd);
  if (!flushed) {
    if (flushFailed) *flushFailed = true;
    return false;
  }
  if (Recording()) Record(FsOperation::Kind::Flush, AbsoluteFor(from));
  // A signal that comes during the rename is handled once it is counted, so
  // a handler tells a finished replacement from one that did not happen.
  temporaries::SignalsHeld held;
  if (::rename(from.c_str(), to.c_str()) != 0) return false;
  temporaries::ReleasePath(from);
  g_archivesReplaced = g_archivesReplaced + 1;
  if (Recording()) Record(FsOperation::Kind::Rename, AbsoluteFor(from), AbsoluteFor(to));
  FlushFolderOf(to);
  return true;
}

int ArchivesReplaced() { return g_archivesReplaced; }

}  // namespace vzrfs

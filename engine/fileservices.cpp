// fileservices.cpp - POSIX realisation of the file services.
#include "fileservices.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <random>

#include "paths.h"
#include "temporaries.h"

namespace vzrfs {
namespace {

WriteFaultHook& FaultHook() {
  static WriteFaultHook hook;
  return hook;
}
uint64_t g_writeNumber = 0;
int g_lastWriteError = 0;

OperationRecorder& Recorder() {
  static OperationRecorder recorder;
  return recorder;
}
bool Recording() { return static_cast<bool>(Recorder()); }

std::string AbsoluteFor(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  std::vector<char> buffer(PATH_MAX + 1);
  const std::string cwd = ::getcwd(buffer.data(), buffer.size()) ? buffer.data() : "";
  return cwd + "/" + path;
}
// The path an open descriptor names (the system keeps it for every fd).
std::string PathOfFd(int fd) {
  std::vector<char> buffer(PATH_MAX + 1);
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t n = ::readlink(link.c_str(), buffer.data(), buffer.size() - 1);
  return n > 0 ? std::string(buffer.data(), static_cast<std::size_t>(n)) : std::string();
}
std::string PathAt(int dirFd, const std::string& name) { return PathOfFd(dirFd) + "/" + name; }

void Record(FsOperation::Kind kind, const std::string& path, const std::string& target = std::string()) {
  FsOperation operation;
  operation.kind = kind;
  operation.path = path;
  operation.target = target;
  Recorder()(operation);
}
void RecordWrite(int fd, uint64_t offset, const void* data, uint64_t length) {
  FsOperation operation;
  operation.path = PathOfFd(fd);
  operation.offset = offset;
  operation.data = static_cast<const unsigned char*>(data);
  operation.length = length;
  Recorder()(operation);
}

// Listing order: names compared with a-z folded to upper case, then by bytes.
bool ListingLess(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(FoldUpper(a[i]));
    const auto cb = static_cast<unsigned char>(FoldUpper(b[i]));
    if (ca != cb) return ca < cb;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// The names in a folder (without "." and ".."), sorted in listing order.
std::vector<std::string> SortedNames(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return names;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    names.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end(), ListingLess);
  return names;
}
}  // namespace

bool WildcardMatch(const char* pattern, const char* name) {
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name) {
    if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (*pattern && (*pattern == '?' || FoldUpper(*pattern) == FoldUpper(*name))) {
      ++pattern;
      ++name;
    } else if (star) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

std::string ResolvePath(const char* path) {
  std::string whole = WithSlashes(path);
  if (whole.empty() || Exists(whole)) return whole;

  std::string resolved;
  std::size_t pos = 0;
  if (whole[0] == '/') {
    resolved = "/";
    pos = 1;
  }
  while (pos <= whole.size()) {
    std::size_t slash = whole.find('/', pos);
    if (slash == std::string::npos) slash = whole.size();
    const std::string component = whole.substr(pos, slash - pos);
    const bool last = slash >= whole.size();
    std::string candidate = resolved + component;
    if (!component.empty() && component != "." && component != ".." && !Exists(candidate)) {
      std::string match;
      for (const std::string& name : SortedNames(resolved)) {
        if (EqualsIgnoringCase(name, component)) {
          match = name;
          break;
        }
      }
      if (match.empty()) return resolved + whole.substr(pos);  // the rest stays as written
      candidate = resolved + match;
    }
    resolved = candidate;
    if (last) break;
    resolved += '/';
    pos = slash + 1;
  }
  return resolved;
}

std::vector<FindEntry> FindMatches(const char* pattern) {
  std::vector<FindEntry> matches;
  const std::string full = WithSlashes(pattern);
  const std::size_t slash = full.rfind('/');
  const std::string folderPart = slash == std::string::npos ? std::string() : full.substr(0, slash + 1);
  const std::string namePattern = slash == std::string::npos ? full : full.substr(slash + 1);
  const std::string folder = folderPart.empty() ? std::string() : ResolvePath(folderPart.c_str());

  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return matches;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir))
    if (WildcardMatch(namePattern.c_str(), entry->d_name)) names.emplace_back(entry->d_name);

  auto rank = [](const std::string& n) { return n == "." ? 0 : n == ".." ? 1 : 2; };
  std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
    if (rank(a) != rank(b)) return rank(a) < rank(b);
    return ListingLess(a, b);
  });

  // Each match is examined relative to the open folder: the kernel then
  // looks up one name instead of walking the whole path again.
  const int folderFd = ::dirfd(dir);
  matches.reserve(names.size());
  for (std::string& name : names) {
    struct stat st {};
    FindEntry entry;
    if (::fstatat(folderFd, name.c_str(), &st, 0) == 0) {
      entry.isDirectory = S_ISDIR(st.st_mode);
      entry.isSpecial = !S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode);
      entry.size = static_cast<uint32_t>(st.st_size);
      entry.device = static_cast<uint64_t>(st.st_dev);
      entry.inode = static_cast<uint64_t>(st.st_ino);
    }
    entry.name = std::move(name);
    matches.push_back(std::move(entry));
  }
  ::closedir(dir);
  return matches;
}

DirectorySearch::DirectorySearch(const char* pattern) : matches_(FindMatches(pattern)) {}

const FindEntry* DirectorySearch::Next() {
  if (next_ >= matches_.size()) return nullptr;
  return &matches_[next_++];
}

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

std::FILE* OpenWrite(const char* path) {
  const std::string resolved = ResolvePath(path);
  std::FILE* f = std::fopen(resolved.c_str(), "wb");
  if (f && Recording()) Record(FsOperation::Kind::Create, AbsoluteFor(resolved));
  return f;
}

namespace {
// Six random letters or digits for a temporary name.
std::string RandomSuffix() {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 generator{std::random_device{}()};
  std::string suffix(6, 'x');
  for (char& c : suffix) c = kChars[generator() % (sizeof kChars - 1)];
  return suffix;
}

// Opens a new file exclusively: a name that exists (even as a link) fails.
std::FILE* CreateExclusive(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  std::FILE* f = ::fdopen(fd, "wb");
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

bool InjectedFailure();
bool RecordFailure();
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

bool HasLinkComponent(const std::string& path) {
  struct stat st;
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (::lstat(prefix.c_str(), &st) != 0) return false;  // the rest does not exist yet
    if (S_ISLNK(st.st_mode)) return true;
    if (slash == std::string::npos) return false;
  }
}

int OpenFolderNoFollow(const std::string& folder) {
  int fd = ::open(!folder.empty() && folder[0] == '/' ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  std::size_t pos = 0;
  while (fd >= 0 && pos < folder.size()) {
    std::size_t slash = folder.find('/', pos);
    if (slash == std::string::npos) slash = folder.size();
    const std::string component = folder.substr(pos, slash - pos);
    pos = slash + 1;
    if (component.empty() || component == ".") continue;
    const int next = ::openat(fd, component.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    ::close(fd);
    fd = next;
  }
  return fd;
}

bool CreateFolderNoFollow(const std::string& path, bool existingIsFine) {
  const std::size_t slash = path.rfind('/');
  const std::string parent = slash == std::string::npos ? std::string() : slash == 0 ? "/" : path.substr(0, slash);
  const std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
  const int fd = OpenFolderNoFollow(parent);
  if (fd < 0) return false;
  bool made = ::mkdirat(fd, leaf.c_str(), 0777) == 0;
  if (made && Recording()) Record(FsOperation::Kind::Create, PathAt(fd, leaf));
  if (!made && errno == EEXIST && existingIsFine) {
    struct stat st;
    made = ::fstatat(fd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
  }
  ::close(fd);
  return made;
}

bool IsLinkAt(int dirFd, const std::string& name) {
  struct stat st;
  return ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

bool IsFolderAt(int dirFd, const std::string& name) {
  struct stat st;
  return ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
}

bool CreateFolderAt(int dirFd, const std::string& name) {
  if (::mkdirat(dirFd, name.c_str(), 0777) != 0) return false;
  if (Recording()) Record(FsOperation::Kind::Create, PathAt(dirFd, name));
  return true;
}

namespace {
// Creates tempName in dirFd exclusively, registered from the moment it exists.
int CreateRegisteredAt(int dirFd, const std::string& tempName) {
  const int slot = temporaries::Reserve(dirFd, tempName);
  const int fd = ::openat(dirFd, tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  const int error = errno;
  if (fd >= 0) temporaries::Publish(slot);
  else temporaries::Cancel(slot);
  errno = error;
  return fd;
}
}  // namespace

int CreateBesideAt(int dirFd, const std::string& leaf, std::string& tempName) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string suffix = RandomSuffix();
    tempName = leaf + "." + suffix;
    int fd = CreateRegisteredAt(dirFd, tempName);
    if (fd < 0 && errno == ENAMETOOLONG) {  // the entry's own name is near the limit
      tempName = "vzr." + suffix;
      fd = CreateRegisteredAt(dirFd, tempName);
    }
    if (fd >= 0) {
      if (Recording()) Record(FsOperation::Kind::Create, PathAt(dirFd, tempName));
      return fd;
    }
    if (errno != EEXIST) break;
  }
  tempName.clear();
  return -1;
}

bool RenameAt(int dirFd, const std::string& from, const std::string& to, bool mayReplace) {
  int renamed = -1;
  if (!mayReplace) {
    renamed = ::renameat2(dirFd, from.c_str(), dirFd, to.c_str(), RENAME_NOREPLACE);
    // A file system without the flag: look first (a name appearing between
    // the look and the rename is replaced, as a plain rename would).
    if (renamed != 0 && errno == EINVAL) {
      struct stat st;
      if (::fstatat(dirFd, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return false;
      }
      mayReplace = true;
    }
  }
  if (mayReplace) renamed = ::renameat(dirFd, from.c_str(), dirFd, to.c_str());
  if (renamed != 0) return false;
  temporaries::Release(dirFd, from);
  if (Recording()) Record(FsOperation::Kind::Rename, PathAt(dirFd, from), PathAt(dirFd, to));
  return true;
}

void DeleteAt(int dirFd, const std::string& name) {
  const bool deleted = ::unlinkat(dirFd, name.c_str(), 0) == 0;
  temporaries::Release(dirFd, name);
  if (deleted && Recording()) Record(FsOperation::Kind::Delete, PathAt(dirFd, name));
}

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
  if (::rename(from.c_str(), to.c_str()) != 0) return false;
  temporaries::ReleasePath(from);
  if (Recording()) Record(FsOperation::Kind::Rename, AbsoluteFor(from), AbsoluteFor(to));
  FlushFolderOf(to);
  return true;
}

bool Read(std::FILE* f, void* data, std::size_t n) { return n == 0 || std::fread(data, 1, n, f) == n; }

std::size_t ReadSome(std::FILE* f, void* data, std::size_t n) { return n == 0 ? 0 : std::fread(data, 1, n, f); }

namespace {
// Asks the test hook whether this write (or flush) is to fail; records the failure.
bool InjectedFailure() {
  if (!FaultHook()) return false;
  const int err = FaultHook()(++g_writeNumber);
  if (err == 0) return false;
  errno = err;
  g_lastWriteError = err;
  return true;
}
bool RecordFailure() {
  g_lastWriteError = errno ? errno : EIO;
  return false;
}
}  // namespace

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

bool CloseFd(int fd) {
  errno = 0;
  return ::close(fd) == 0 || RecordFailure();
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
// file offsets alone; inside the kernel where it can, else through buffer.
// The fault hook is asked once per chunk of at most bufferSize bytes.
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
      if (copied == 0) return false;  // the source ended early
      if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) return RecordFailure();
      kernelCopy = false;  // fall back to plain reads and writes
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

bool CopyRangeToFd(std::FILE* in, uint64_t inOffset, int out, uint64_t outOffset, uint64_t n, unsigned char* buffer,
                   std::size_t bufferSize) {
  errno = 0;
  return CopyAtOffsets(::fileno(in), inOffset, out, outOffset, n, buffer, bufferSize);
}

void StartWriteOut(std::FILE* f, uint64_t offset, uint64_t n) {
  if (f && offset <= static_cast<uint64_t>(INT64_MAX) && n <= static_cast<uint64_t>(INT64_MAX))
    ::sync_file_range(::fileno(f), static_cast<off64_t>(offset), static_cast<off64_t>(n), SYNC_FILE_RANGE_WRITE);
}

int LastWriteError() { return g_lastWriteError; }

void SetOperationRecorder(OperationRecorder recorder) { Recorder() = std::move(recorder); }

void SetWriteFaultHook(WriteFaultHook hook) {
  FaultHook() = std::move(hook);
  g_writeNumber = 0;
}

}  // namespace vzrfs

// fileservices.cpp - the file services on Windows: folders, the current
// directory, deleting and moving, and the durable replacement of one file
// by another. Every call takes UTF-16 in the long "\\?\" form.
#include "fileservices.h"

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cerrno>
#include <random>

#include "fileservices_internal.h"
#include "paths.h"
#include "temporaries_internal.h"
#include "wide.h"

namespace vzrfs {

using namespace internal;
using namespace win32;

bool CreateFolder(const char* path) {
  const std::string resolved = ResolvePath(path);
  if (::CreateDirectoryW(SystemPath(resolved).c_str(), nullptr)) return true;
  return ::GetLastError() == ERROR_ALREADY_EXISTS ? IsDirectory(resolved.c_str()) : Fail();
}

bool CreateFolderAsWritten(const char* path) { return CreateFolderNoFollow(WithSlashes(path), false); }

std::string GetCurrentDir() {
  const DWORD n = ::GetCurrentDirectoryW(0, nullptr);
  if (n == 0) return std::string();
  std::wstring buffer(n, L'\0');
  buffer.resize(::GetCurrentDirectoryW(n, buffer.data()));
  std::string dir = EnginePath(buffer);
  if (dir.size() > 3 && dir.back() == '/') dir.pop_back();
  return dir;
}

bool SetCurrentDir(const char* path) {
  if (!path || !*path) return false;
  // The plain absolute form: the current directory takes no "\\?\" prefix.
  std::wstring wide = SystemPath(ResolvePath(path));
  if (wide.rfind(L"\\\\?\\UNC\\", 0) == 0) wide = L"\\\\" + wide.substr(8);
  else if (wide.rfind(L"\\\\?\\", 0) == 0) wide = wide.substr(4);
  return ::SetCurrentDirectoryW(wide.c_str()) != 0 || Fail();
}

bool MakeWritable(const char* path) {
  const std::wstring wide = SystemPath(ResolvePath(path));
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return ErrnoOf(::GetLastError()) == ENOENT;
  if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) return true;
  return ::SetFileAttributesW(wide.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY)) != 0 || Fail();
}

bool DeleteFile(const char* path) {
  const std::string resolved = ResolvePath(path);
  const bool deleted = ::DeleteFileW(SystemPath(resolved).c_str()) != 0 || Fail();
  temporaries::ReleasePath(resolved);
  if (deleted && Recording()) Record(FsOperation::Kind::Delete, AbsoluteFor(resolved));
  return deleted;
}

bool MoveReplace(const char* src, const char* dst) {
  const std::string from = ResolvePath(src), to = ResolvePath(dst);
  if (!::MoveFileExW(SystemPath(from).c_str(), SystemPath(to).c_str(), MOVEFILE_REPLACE_EXISTING)) return Fail();
  temporaries::ReleasePath(from);
  if (Recording()) Record(FsOperation::Kind::Rename, AbsoluteFor(from), AbsoluteFor(to));
  return true;
}

bool IsDirectory(const char* path) {
  const DWORD attributes = ::GetFileAttributesW(SystemPath(ResolvePath(path)).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool FreeBytes(const char* directory, uint64_t& bytes) {
  // The caller's share: what a quota leaves it, not the volume's whole free space.
  ULARGE_INTEGER available{};
  std::wstring folder = SystemPath(ResolvePath(directory));
  if (folder.empty() || folder.back() != L'\\') folder += L'\\';
  if (!::GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return Fail();
  bytes = available.QuadPart;
  return true;
}

bool SameFile(const char* a, const char* b) {
  NodeFacts fa, fb;
  return FactsOf(ResolvePath(a), fa) && FactsOf(ResolvePath(b), fb) && fa.inode != 0 && fa.device == fb.device &&
         fa.inode == fb.inode;
}

std::string internal::RandomSuffix() {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 generator{std::random_device{}()};
  std::string suffix(6, 'x');
  for (char& c : suffix) c = kChars[generator() % (sizeof kChars - 1)];
  return suffix;
}

namespace {

// Opens a new file exclusively as a stream: a name that exists (even as a
// link) fails. Shared for reading and deleting, so an interruption's
// handler may remove it while it is open.
std::FILE* CreateExclusive(const std::string& path) {
  HANDLE handle = ::CreateFileW(SystemPath(path).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    Fail();
    return nullptr;
  }
  const int fd = ::_open_osfhandle(AsNative(handle), _O_BINARY | _O_RDWR);
  std::FILE* f = fd < 0 ? nullptr : ::_fdopen(fd, "w+b");
  if (!f) {
    if (fd >= 0) ::_close(fd);
    else ::CloseHandle(handle);
    ::DeleteFileW(SystemPath(path).c_str());
    errno = ENOMEM;
    return nullptr;
  }
  LearnPosition(f);
  if (Recording()) Record(FsOperation::Kind::Create, AbsoluteFor(path));
  return f;
}

}  // namespace

std::FILE* CreateBeside(const char* path, std::string& tempPath) {
  const std::string target = ResolvePath(path);
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  // A name NTFS cannot hold (over 255 UTF-16 units) fails with an error
  // that differs from system to system, so its length is checked first.
  constexpr std::size_t kLongestName = 255;
  const std::size_t leafUnits = Widen(target.substr(folder.size())).size();
  temporaries::SignalsHeld held;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string suffix = RandomSuffix();
    const bool fits = leafUnits + 1 + suffix.size() <= kLongestName;
    tempPath = fits ? target + "." + suffix : folder + "vzr." + suffix;
    std::FILE* f = CreateExclusive(tempPath);
    if (fits && !f && errno == ENAMETOOLONG) {  // the target's own name is near the limit
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
std::atomic<int> g_archivesReplaced{0};

// Keeps the read-only and hidden attributes (and the rest) of the file the
// new one replaces: MoveFileExW gives the moved file its own.
void TakeOverAttributes(const std::wstring& from, const std::wstring& to) {
  const DWORD old = ::GetFileAttributesW(to.c_str());
  if (old == INVALID_FILE_ATTRIBUTES) return;
  constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                          FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  const DWORD mine = ::GetFileAttributesW(from.c_str());
  if (mine != INVALID_FILE_ATTRIBUTES) ::SetFileAttributesW(from.c_str(), (mine & ~kKept) | (old & kKept));
}

// Moves from over to; an archive held open by another program (a sharing
// violation) is tried again for a moment before the move fails.
bool MoveOver(const std::wstring& from, const std::wstring& to) {
  for (int attempt = 0;; ++attempt) {
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    const DWORD error = ::GetLastError();
    if (!(InUse(error) || error == ERROR_ACCESS_DENIED)) return Fail();
    if (attempt >= kInUseRetries) {
      // Denied on a file the user may write: another program holds it open
      // without letting it be replaced.
      const DWORD attributes = ::GetFileAttributesW(to.c_str());
      const bool held = InUse(error) || (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_READONLY));
      errno = held ? EBUSY : EACCES;
      return false;
    }
    ::Sleep(kInUseRetryMs);
  }
}
}  // namespace

bool ReplaceDurably(const char* src, const char* dst, bool* flushFailed) {
  if (flushFailed) *flushFailed = false;
  const std::string from = ResolvePath(src), to = ResolvePath(dst);
  const std::wstring wideFrom = SystemPath(from), wideTo = SystemPath(to);
  errno = 0;
  HANDLE handle = ::CreateFileW(wideFrom.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return Fail();  // no such file: nothing to flush or move
  const bool flushed = !InjectedFailure() && (::FlushFileBuffers(handle) != 0 || (Fail(), RecordFailure()));
  ::CloseHandle(handle);
  if (!flushed) {
    if (flushFailed) *flushFailed = true;
    return false;
  }
  if (Recording()) Record(FsOperation::Kind::Flush, AbsoluteFor(from));
  TakeOverAttributes(wideFrom, wideTo);
  // A read-only archive the user chose to replace: the attribute goes for
  // the move and comes back on the new file.
  const DWORD old = ::GetFileAttributesW(wideTo.c_str());
  const bool readOnly = old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY);
  if (readOnly) ::SetFileAttributesW(wideTo.c_str(), old & ~DWORD(FILE_ATTRIBUTE_READONLY));
  temporaries::SignalsHeld held;
  if (!MoveOver(wideFrom, wideTo)) {
    const int error = errno;
    if (readOnly) ::SetFileAttributesW(wideTo.c_str(), old);
    errno = error;
    return false;
  }
  if (readOnly) {
    const DWORD now = ::GetFileAttributesW(wideTo.c_str());
    if (now != INVALID_FILE_ATTRIBUTES) ::SetFileAttributesW(wideTo.c_str(), now | FILE_ATTRIBUTE_READONLY);
  }
  temporaries::ReleasePath(from);
  ++g_archivesReplaced;
  if (Recording()) Record(FsOperation::Kind::Rename, AbsoluteFor(from), AbsoluteFor(to));
  return true;
}

int ArchivesReplaced() { return g_archivesReplaced.load(); }

}  // namespace vzrfs

// fileservices_native.cpp - handles, facts and positional reads on POSIX.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "fileservices.h"
#include "fileservices_internal.h"
#include "paths.h"

namespace vzrfs {

const int kErrorChangedOnDisk = ESTALE;

bool CloseNativeHandle(NativeHandle handle) { return ::close(static_cast<int>(handle)) == 0; }

std::size_t MaxNameLength() { return NAME_MAX; }

// Linux writes such names as they are: "aux.con" and "a:b" are plain files
// there, and archives made for the game hold them.
bool RefusesWindowsNames() { return false; }

std::string ErrorText(int error) { return std::strerror(error); }

bool IsAbsolute(const std::string& path) { return !path.empty() && IsSeparator(path[0]); }

namespace {
void Fill(const struct stat& st, NodeFacts& facts) {
  facts.kind = S_ISREG(st.st_mode)   ? NodeKind::File
               : S_ISDIR(st.st_mode) ? NodeKind::Folder
               : S_ISLNK(st.st_mode) ? NodeKind::Link
                                     : NodeKind::Other;
  facts.size = static_cast<uint64_t>(st.st_size);
  facts.device = static_cast<uint64_t>(st.st_dev);
  facts.inode = static_cast<uint64_t>(st.st_ino);
  facts.names = static_cast<uint32_t>(st.st_nlink);
  facts.modifiedSeconds = st.st_mtim.tv_sec;
  facts.modifiedNanoseconds = static_cast<int32_t>(st.st_mtim.tv_nsec);
  facts.readOnly = (st.st_mode & S_IWUSR) == 0;
}
}  // namespace

bool FactsOf(const std::string& path, NodeFacts& facts, bool followLinks) {
  struct stat st {};
  facts = NodeFacts{};
  if ((followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0) return false;
  Fill(st, facts);
  return true;
}

bool FactsOf(std::FILE* f, NodeFacts& facts) {
  struct stat st {};
  facts = NodeFacts{};
  if (!f || ::fstat(::fileno(f), &st) != 0) return false;
  Fill(st, facts);
  return true;
}

std::string internal::PathOfHandle(NativeHandle handle) {
  std::vector<char> buffer(PATH_MAX + 1);
  const std::string link = "/proc/self/fd/" + std::to_string(handle);
  const ssize_t n = ::readlink(link.c_str(), buffer.data(), buffer.size() - 1);
  return n > 0 ? std::string(buffer.data(), static_cast<std::size_t>(n)) : std::string();
}

PositionalFile OpenPositional(const char* path, NodeFacts& facts) {
  const std::string resolved = ResolvePath(path);
  PositionalFile file(::open(resolved.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) return file;
  struct stat st {};
  if (::fstat(static_cast<int>(file.Native()), &st) != 0) return PositionalFile();
  Fill(st, facts);
  if (facts.kind == NodeKind::Folder) {
    errno = EISDIR;
    return PositionalFile();
  }
  return file;
}

int64_t ReadSomeAt(const PositionalFile& file, uint64_t offset, void* data, std::size_t n) {
  for (;;) {
    const ssize_t got = ::pread(static_cast<int>(file.Native()), data, n, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    return got;
  }
}

}  // namespace vzrfs

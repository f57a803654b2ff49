// fileservices_nofollow.cpp - the operations extraction writes with: each
// works in a folder opened without following links, so a link planted on
// the way, even a moment ago, redirects nothing.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "fileservices.h"
#include "fileservices_internal.h"
#include "temporaries_internal.h"

namespace vzrfs {

using namespace internal;

bool HasLinkComponent(const std::string& path) {
  struct stat st;
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (::lstat(prefix.c_str(), &st) != 0) return false;  // the rest does not exist yet
    if (S_ISLNK(st.st_mode)) return true;
    if (slash == std::string::npos) return false;
  }
}

namespace {
int Fd(const Folder& dir) { return static_cast<int>(dir.Native()); }
}  // namespace

Folder OpenFolderNoFollow(const std::string& folder) {
  const std::string start = !folder.empty() && folder[0] == '/' ? "/" : ".";
  Folder dir(::open(start.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), start);
  std::size_t pos = 0;
  while (dir && pos < folder.size()) {
    std::size_t slash = folder.find('/', pos);
    if (slash == std::string::npos) slash = folder.size();
    const std::string component = folder.substr(pos, slash - pos);
    pos = slash + 1;
    if (component.empty() || component == ".") continue;
    dir = OpenFolderAt(dir, component);
  }
  return dir;
}

bool EnterFolder(const Folder& dir) { return dir && ::fchdir(Fd(dir)) == 0; }

Folder OpenFolderAt(const Folder& parent, const std::string& name) {
  const int fd = ::openat(Fd(parent), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  return fd < 0 ? Folder() : Folder(fd, parent.Path() + "/" + name);
}

Folder SameFolder(const Folder& dir) {
  const int fd = dir ? ::fcntl(Fd(dir), F_DUPFD_CLOEXEC, 0) : -1;
  if (!dir) errno = EBADF;
  return fd < 0 ? Folder() : Folder(fd, dir.Path());
}

bool CreateFolderNoFollow(const std::string& path, bool existingIsFine) {
  const std::size_t slash = path.rfind('/');
  const std::string parent = slash == std::string::npos ? std::string() : slash == 0 ? "/" : path.substr(0, slash);
  const std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
  const Folder dir = OpenFolderNoFollow(parent);
  if (!dir) return false;
  bool made = ::mkdirat(Fd(dir), leaf.c_str(), 0777) == 0;
  if (made && Recording()) Record(FsOperation::Kind::Create, PathAt(dir, leaf));
  if (!made && errno == EEXIST && existingIsFine) made = IsFolderAt(dir, leaf);
  return made;
}

bool IsLinkAt(const Folder& dir, const std::string& name) {
  struct stat st;
  return ::fstatat(Fd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

bool IsFolderAt(const Folder& dir, const std::string& name) {
  struct stat st;
  return ::fstatat(Fd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
}

bool CreateFolderAt(const Folder& dir, const std::string& name) {
  if (::mkdirat(Fd(dir), name.c_str(), 0777) != 0) return false;
  if (Recording()) Record(FsOperation::Kind::Create, PathAt(dir, name));
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

PositionalFile CreateBesideAt(const Folder& dir, const std::string& leaf, std::string& tempName) {
  const int dirFd = Fd(dir);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string suffix = RandomSuffix();
    tempName = leaf + "." + suffix;
    int fd = CreateRegisteredAt(dirFd, tempName);
    if (fd < 0 && errno == ENAMETOOLONG) {  // the entry's own name is near the limit
      tempName = "vzr." + suffix;
      fd = CreateRegisteredAt(dirFd, tempName);
    }
    if (fd >= 0) {
      if (Recording()) Record(FsOperation::Kind::Create, PathAt(dir, tempName));
      return PositionalFile(fd);
    }
    if (errno != EEXIST) break;
  }
  tempName.clear();
  return PositionalFile();
}

bool RenameAt(const Folder& dir, const std::string& from, const std::string& to, bool mayReplace) {
  const int dirFd = Fd(dir);
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
  if (Recording()) Record(FsOperation::Kind::Rename, PathAt(dir, from), PathAt(dir, to));
  return true;
}

void DeleteAt(const Folder& dir, const std::string& name) {
  const bool deleted = ::unlinkat(Fd(dir), name.c_str(), 0) == 0;
  temporaries::Release(Fd(dir), name);
  if (deleted && Recording()) Record(FsOperation::Kind::Delete, PathAt(dir, name));
}

}  // namespace vzrfs

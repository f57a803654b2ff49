// fileservices_nofollow.cpp - the operations extraction writes with, on
// Windows. Each folder on the way is opened as itself (a reparse point is
// refused, never followed) and held open without delete sharing, so while
// it is held nobody can rename it away and plant a junction or symbolic
// link under its name: every name made inside it lands in it.
#include <cerrno>
#include <cstdio>

#include "fileservices.h"
#include "fileservices_internal.h"
#include "paths.h"
#include "temporaries_internal.h"
#include "wide.h"

namespace vzrfs {

using namespace internal;
using namespace win32;

namespace {

std::string Child(const Folder& dir, const std::string& name) {
  return dir.Path().empty() || dir.Path().back() == '/' ? dir.Path() + name : dir.Path() + "/" + name;
}

DWORD AttributesOf(const std::string& path) { return ::GetFileAttributesW(SystemPath(path).c_str()); }

// Opens the folder at path as itself; an invalid Folder when it is a
// reparse point or no folder.
Folder OpenAsItself(const std::string& path) {
  HANDLE handle = ::CreateFileW(SystemPath(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    Fail();
    return Folder();
  }
  Folder dir(AsNative(handle), path);
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(handle, &info)) {
    Fail();
    return Folder();
  }
  if (IsReparse(info.dwFileAttributes) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    errno = IsReparse(info.dwFileAttributes) ? ELOOP : ENOTDIR;
    return Folder();
  }
  return dir;
}

// The root an absolute path starts from ("C:/", "//server/share/"), and the
// length of path it takes up; the current directory for a relative one.
std::string StartOf(const std::string& path, std::size_t& used) {
  used = 0;
  if (!IsAbsolute(path)) return GetCurrentDir();
  if (IsSeparator(path[0])) {  // "//server/share/..."
    std::size_t cut = path.find('/', 2);
    cut = cut == std::string::npos ? path.size() : path.find('/', cut + 1);
    used = cut == std::string::npos ? path.size() : cut;
    return path.substr(0, used) + "/";
  }
  used = 3;
  return path.substr(0, 3);
}

}  // namespace

bool HasLinkComponent(const std::string& path) {
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const DWORD attributes = AttributesOf(path.substr(0, slash));
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;  // the rest does not exist yet
    if (IsReparse(attributes)) return true;
    if (slash == std::string::npos) return false;
  }
}

Folder OpenFolderNoFollow(const std::string& folder) {
  std::size_t pos = 0;
  Folder dir = OpenAsItself(StartOf(folder, pos));
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

Folder OpenFolderAt(const Folder& parent, const std::string& name) {
  if (!parent) return Folder();
  Folder dir = OpenAsItself(Child(parent, name));
  // The system's own name of the folder opened must be the parent's with
  // name below it: a link the system does not report as a reparse point
  // (a POSIX symbolic link under a compatibility layer) shows here.
  if (dir) {
    const std::string opened = internal::PathOfHandle(dir.Native());
    std::string expected = internal::PathOfHandle(parent.Native());
    if (expected.empty() || expected.back() != '/') expected += '/';
    expected += name;
    if (!opened.empty() && !EqualsIgnoringCase(opened, expected)) {
      errno = ELOOP;
      return Folder();
    }
  }
  return dir;
}

Folder SameFolder(const Folder& dir) {
  HANDLE copy = nullptr;
  if (!dir || !::DuplicateHandle(::GetCurrentProcess(), AsHandle(dir.Native()), ::GetCurrentProcess(), &copy, 0, FALSE,
                                 DUPLICATE_SAME_ACCESS)) {
    if (dir) Fail();
    else errno = EBADF;
    return Folder();
  }
  return Folder(AsNative(copy), dir.Path());
}

bool CreateFolderNoFollow(const std::string& path, bool existingIsFine) {
  const std::size_t slash = path.rfind('/');
  const std::string parent = slash == std::string::npos ? std::string() : path.substr(0, slash == 2 && path[1] == ':' ? 3 : slash);
  const std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
  const Folder dir = OpenFolderNoFollow(parent);
  if (!dir) return false;
  bool made = CreateFolderAt(dir, leaf);
  if (!made && errno == EEXIST && existingIsFine) made = IsFolderAt(dir, leaf);
  return made;
}

bool IsLinkAt(const Folder& dir, const std::string& name) { return IsReparse(AttributesOf(Child(dir, name))); }

bool IsFolderAt(const Folder& dir, const std::string& name) {
  const DWORD attributes = AttributesOf(Child(dir, name));
  return attributes != INVALID_FILE_ATTRIBUTES && !IsReparse(attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateFolderAt(const Folder& dir, const std::string& name) {
  if (!::CreateDirectoryW(SystemPath(Child(dir, name)).c_str(), nullptr)) return Fail();
  if (Recording()) Record(FsOperation::Kind::Create, Child(dir, name));
  return true;
}

PositionalFile CreateBesideAt(const Folder& dir, const std::string& leaf, std::string& tempName) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string suffix = RandomSuffix();
    tempName = leaf + "." + suffix;
    for (int form = 0; form < 2; ++form) {
      const std::string path = Child(dir, tempName);
      temporaries::SignalsHeld held;
      // CREATE_NEW fails on any name there, a link included, so nothing is
      // written through one; delete sharing lets an interruption remove it.
      HANDLE handle = ::CreateFileW(SystemPath(path).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
      if (handle != INVALID_HANDLE_VALUE) {
        temporaries::RegisterPath(path);
        if (Recording()) Record(FsOperation::Kind::Create, path);
        return PositionalFile(AsNative(handle));
      }
      Fail();
      if (errno != ENAMETOOLONG || form == 1) break;
      tempName = "vzr." + suffix;  // the entry's own name is near the limit
    }
    if (errno != EEXIST) break;
  }
  tempName.clear();
  return PositionalFile();
}

bool RenameAt(const Folder& dir, const std::string& from, const std::string& to, bool mayReplace) {
  const std::string source = Child(dir, from), target = Child(dir, to);
  // MOVEFILE_REPLACE_EXISTING replaces a link at the name itself, never
  // what it leads to.
  const DWORD flags = mayReplace ? MOVEFILE_REPLACE_EXISTING : 0;
  if (!::MoveFileExW(SystemPath(source).c_str(), SystemPath(target).c_str(), flags)) return Fail();
  temporaries::ReleasePath(source);
  if (Recording()) Record(FsOperation::Kind::Rename, source, target);
  return true;
}

void DeleteAt(const Folder& dir, const std::string& name) {
  const std::string path = Child(dir, name);
  const bool deleted = ::DeleteFileW(SystemPath(path).c_str()) != 0;
  temporaries::ReleasePath(path);
  if (deleted && Recording()) Record(FsOperation::Kind::Delete, path);
}

}  // namespace vzrfs

// mount_fuse.cpp - the FUSE adapter of "vzr mount".
//
// The operations below are thin: the tree (mount_tree) says what is where,
// the entry reader reads archive content, and a writable mount keeps its
// changes in the overlay (mount_overlay), applied to the archive in one
// rewrite when the mount ends (mount_session).
#define FUSE_USE_VERSION 31
#include "mount_fuse.h"

#include <fcntl.h>
#include <fuse_lowlevel.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "fileservices.h"

namespace fs = std::filesystem;

namespace vzrmount {
namespace {

constexpr uint64_t kAliasBase = uint64_t{1} << 32;

// What the adapter keeps beside the session, guarded by the session's lock.
struct Served {
  bool noOpen = false;  // the kernel opens files without asking (read-only mounts)
  uid_t uid = 0;
  gid_t gid = 0;
  // Names looked up in another letter case than the node's get node numbers
  // of their own (from kAliasBase on), as different names of one file: the
  // kernel then treats a rename that changes only the case as a rename.
  std::vector<uint32_t> aliasOf;                       // alias number - kAliasBase -> node
  std::unordered_map<std::string, uint64_t> aliasFor;  // node and spelling -> alias number
  // The overlay files open for writing, by node: a file removed while open
  // still has its size (the kernel asks by node).
  std::unordered_multimap<uint32_t, int> openFiles;
};

Session* g_session = nullptr;
Served g_served;

Session& State() { return *g_session; }
Served& Adapter() { return g_served; }
// A file handle: an overlay file's descriptor (low bits 1), an archive entry
// (low bits 2), or 0 when the kernel opened the file without asking (a
// read-only mount answers no open, which spares two requests per file).
uint64_t ArchiveHandle(const vzrmount::Content& c) {
  return (static_cast<uint64_t>(c.archive) << 34) | (static_cast<uint64_t>(c.entry) << 2) | 2;
}
uint64_t FdHandle(int fd) { return (static_cast<uint64_t>(fd) << 2) | 1; }
bool IsFd(uint64_t fh) { return (fh & 3) == 1; }
int FdOf(uint64_t fh) { return static_cast<int>(fh >> 2); }

// ---------------------------------------------------------------------------
// Helpers of the operations (called with the lock held)

// The kernel's node numbers are the tree's node numbers plus one (the root
// is FUSE_ROOT_ID), so no second table maps one to the other.
fuse_ino_t InoOf(uint32_t id) { return fuse_ino_t{id} + 1; }
uint32_t IdOf(fuse_ino_t ino) {
  const Session& s = State();
  if (ino >= kAliasBase) return ino - kAliasBase < Adapter().aliasOf.size() ? Adapter().aliasOf[ino - kAliasBase] : Tree::kNone;
  return ino >= 1 && ino - 1 < s.tree.Size() ? static_cast<uint32_t>(ino - 1) : Tree::kNone;
}
// The kernel's node number for node id found under `name`.
fuse_ino_t InoFor(uint32_t id, const char* name) {
  Session& s = State();
  if (s.tree.At(id).name == name) return InoOf(id);
  const std::string key = std::to_string(id) + '/' + name;
  const auto [at, added] = Adapter().aliasFor.emplace(key, kAliasBase + Adapter().aliasOf.size());
  if (added) Adapter().aliasOf.push_back(id);
  return at->second;
}
// A node still in the tree, or kNone.
uint32_t LiveOf(fuse_ino_t ino) {
  const uint32_t id = IdOf(ino);
  return id != Tree::kNone && State().tree.At(id).live ? id : Tree::kNone;
}
// A folder still in the tree, or kNone.
uint32_t FolderOf(fuse_ino_t ino) {
  const uint32_t id = LiveOf(ino);
  return id != Tree::kNone && State().tree.At(id).isDir ? id : Tree::kNone;
}

// How long the kernel may keep what it was told: nothing changes in a
// read-only mount; in a writable one the kernel hears of every change, but
// is kept to a second as a folder would be over a network.
double KeepFor() { return State().writable ? 1.0 : 3600.0; }

std::string OverlayPath(uint32_t id) { return State().overlay->TreePath(State().tree.PathOf(id)); }

void FillStat(uint32_t id, struct stat* st) {
  Session& s = State();
  const Node& n = s.tree.At(id);
  std::memset(st, 0, sizeof *st);
  st->st_ino = InoOf(id);
  st->st_uid = Adapter().uid;
  st->st_gid = Adapter().gid;
  st->st_atime = st->st_mtime = st->st_ctime = s.time;
  st->st_blksize = 4096;
  if (n.isDir) {
    st->st_mode = S_IFDIR | (s.writable ? 0755 : 0555);
    st->st_nlink = n.live ? 2 : 0;
    return;
  }
  st->st_mode = S_IFREG | (s.writable ? 0644 : 0444);
  st->st_nlink = n.live ? 1 : 0;
  st->st_size = static_cast<off_t>(n.content.size);
  struct stat real {};
  // A removed node's path may name another file by now: an open copy's
  // descriptor tells.
  const auto open = n.live ? Adapter().openFiles.end() : Adapter().openFiles.find(id);
  const bool known = open != Adapter().openFiles.end() ? ::fstat(open->second, &real) == 0
                                               : n.inOverlay && n.live && ::lstat(OverlayPath(id).c_str(), &real) == 0;
  if (known) {
    st->st_size = real.st_size;
    st->st_atim = real.st_atim;
    st->st_mtim = real.st_mtim;
    st->st_ctim = real.st_ctim;
  }
  st->st_blocks = (st->st_size + 511) / 512;
}

void ReplyEntry(fuse_req_t req, uint32_t id, fuse_ino_t ino) {
  struct fuse_entry_param e {};
  e.ino = ino;
  FillStat(id, &e.attr);
  e.attr_timeout = e.entry_timeout = KeepFor();
  fuse_reply_entry(req, &e);
}

void ReplyAttr(fuse_req_t req, uint32_t id) {
  struct stat st {};
  FillStat(id, &st);
  fuse_reply_attr(req, &st, KeepFor());
}

// Replies with an error when rc is one (-errno), else with nothing more.
void ReplyDone(fuse_req_t req, int rc) { fuse_reply_err(req, -rc); }
int MakeOverlayFolders(const std::string& rel) {
  std::error_code ec;
  fs::create_directories(State().overlay->TreePath(rel), ec);
  return ec ? -ec.value() : 0;
}

// Gives file id its content as a file in the overlay (a copy of its entry).
int CopyUp(uint32_t id) {
  Session& s = State();
  Node& n = s.tree.At(id);
  if (n.inOverlay) return 0;
  const std::string rel = s.tree.PathOf(id);
  if (int rc = MakeOverlayFolders(s.tree.PathOf(n.parent)); rc != 0) return rc;
  std::string work;
  const int fd = s.overlay->MakeWorkFile(work);
  if (fd < 0) return -errno;
  int rc = 0;
  uint64_t at = 0;
  const bool copied = s.readers[n.content.archive]->Stream(n.content.entry, [&](const unsigned char* data, std::size_t k) {
    if (!vzrfs::WriteAt(fd, at, data, k)) {
      rc = errno ? -errno : -EIO;
      return false;
    }
    at += k;
    return true;
  });
  if (!copied && rc == 0) rc = -EIO;
  if (::close(fd) != 0 && rc == 0) rc = -errno;
  if (rc == 0 && ::rename(work.c_str(), s.overlay->TreePath(rel).c_str()) != 0) rc = -errno;
  if (rc != 0) {
    ::unlink(work.c_str());
    return rc;
  }
  n.inOverlay = true;
  return 0;
}

int Record(const std::string& rel) { return State().overlay->RecordRemoved(rel) ? 0 : -EIO; }

// ---------------------------------------------------------------------------
// The operations. Each takes the lock for what it reads or changes of the
// tree; archive reads need none.

void OnInit(void*, struct fuse_conn_info* conn) {
  // Nothing changes in a read-only mount: the kernel needs to ask nothing
  // when a file is opened or closed (two requests per file spared).
  if (!State().writable && (conn->capable & FUSE_CAP_NO_OPEN_SUPPORT)) {
    conn->want |= FUSE_CAP_NO_OPEN_SUPPORT;
    Adapter().noOpen = true;
  }
}

void OnLookup(fuse_req_t req, fuse_ino_t parent, const char* name) {
  Session& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  const uint32_t dir = FolderOf(parent);
  const uint32_t id = dir == Tree::kNone ? Tree::kNone : s.tree.Child(dir, name);
  if (id != Tree::kNone) return ReplyEntry(req, id, InoFor(id, name));
  if (dir == Tree::kNone || s.writable) return (void)fuse_reply_err(req, ENOENT);
  // A name missing from a read-only mount stays missing: the kernel may
  // remember that too.
  struct fuse_entry_param none {};
  none.entry_timeout = KeepFor();
  fuse_reply_entry(req, &none);
}

void OnGetattr(fuse_req_t req, fuse_ino_t ino, struct fuse_file_info*) {
  Session& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  const uint32_t id = IdOf(ino);
  if (id == Tree::kNone) return (void)fuse_reply_err(req, ENOENT);
  ReplyAttr(req, id);
}

// One reply of a folder listing, from position `from` on: ".", "..", then
// the folder's nodes in the order they came.
void ReplyListing(fuse_req_t req, fuse_ino_t ino, size_t size, off_t from, bool plus) {
  Session& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  const uint32_t id = LiveOf(ino);
  if (id == Tree::kNone) return (void)fuse_reply_err(req, ENOENT);
  const Node& folder = s.tree.At(id);
  if (!folder.isDir) return (void)fuse_reply_err(req, ENOTDIR);
  thread_local std::vector<char> buffer;
  buffer.resize(size);
  std::size_t used = 0;
  for (std::size_t k = from < 0 ? 0 : static_cast<std::size_t>(from); k < folder.children.size() + 2; ++k) {
    const uint32_t node = k == 0 ? id : k == 1 ? folder.parent : folder.children[k - 2];
    const char* name = k == 0 ? "." : k == 1 ? ".." : s.tree.At(node).name.c_str();
    const auto next = static_cast<off_t>(k + 1);
    std::size_t need;
    if (plus) {
      struct fuse_entry_param e {};
      FillStat(node, &e.attr);
      if (k >= 2) {  // "." and ".." are the kernel's own
        e.ino = InoOf(node);
        e.attr_timeout = e.entry_timeout = KeepFor();
      }
      need = fuse_add_direntry_plus(req, buffer.data() + used, size - used, name, &e, next);
    } else {
      struct stat st {};
      FillStat(node, &st);
      need = fuse_add_direntry(req, buffer.data() + used, size - used, name, &st, next);
    }
    if (need > size - used) break;
    used += need;
  }
  fuse_reply_buf(req, buffer.data(), used);
}

void OnReaddir(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, struct fuse_file_info*) {
  ReplyListing(req, ino, size, off, false);
}
void OnReaddirplus(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, struct fuse_file_info*) {
  ReplyListing(req, ino, size, off, true);
}

int Open(fuse_ino_t ino, struct fuse_file_info* fi) {
  Session& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  const uint32_t id = LiveOf(ino);
  if (id == Tree::kNone) return -ENOENT;
  if (s.tree.At(id).isDir) return -EISDIR;
  const bool writing = (fi->flags & O_ACCMODE) != O_RDONLY || (fi->flags & O_TRUNC);
  if (writing && !s.writable) return -EROFS;
  if (Adapter().noOpen) return -ENOSYS;
  if (!writing && !s.tree.At(id).inOverlay) {
    fi->fh = ArchiveHandle(s.tree.At(id).content);
    fi->keep_cache = !s.writable;
    return 0;
  }
  // A file opened to be emptied needs no copy of what it held.
  const bool emptied = (fi->flags & O_TRUNC) && !s.tree.At(id).inOverlay;
  if (int rc = emptied ? MakeOverlayFolders(s.tree.PathOf(s.tree.At(id).parent)) : CopyUp(id); rc != 0) return rc;
  const int fd = ::open(OverlayPath(id).c_str(),
                        (fi->flags & ~(O_EXCL | O_NOFOLLOW)) | (emptied ? O_CREAT : 0) | O_CLOEXEC, 0644);
  if (fd < 0) return -errno;
  s.tree.At(id).inOverlay = true;
  Adapter().openFiles.emplace(id, fd);
  fi->fh = FdHandle(fd);
  return 0;
}

void OnOpen(fuse_req_t req, fuse_ino_t ino, struct fuse_file_info* fi) {
  if (int rc = Open(ino, fi); rc != 0) return ReplyDone(req, rc);
  fuse_reply_open(req, fi);
}

void OnRead(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset, struct fuse_file_info* fi) {
  thread_local std::vector<char> buffer;
  if (buffer.size() < size) buffer.resize(size);
  if (IsFd(fi->fh)) {
    const ssize_t n = ::pread(FdOf(fi->fh), buffer.data(), size, offset);
    if (n < 0) return (void)fuse_reply_err(req, errno);
    return (void)fuse_reply_buf(req, buffer.data(), static_cast<size_t>(n));
  }
  vzrmount::Content content;
  if (fi->fh == 0) {
    std::lock_guard<std::mutex> guard(State().lock);
    const uint32_t id = IdOf(ino);
    if (id == Tree::kNone || State().tree.At(id).isDir) return (void)fuse_reply_err(req, ENOENT);
    content = State().tree.At(id).content;
  } else {
    content.archive = static_cast<int32_t>(fi->fh >> 34);
    content.entry = static_cast<uint32_t>((fi->fh >> 2) & 0xffffffffu);
  }
  State().archiveReads.fetch_add(1, std::memory_order_relaxed);
  const int64_t n =
      State().readers[content.archive]->Read(content.entry, static_cast<uint64_t>(offset), buffer.data(), size);
  if (n < 0) return (void)fuse_reply_err(req, EIO);
  fuse_reply_buf(req, buffer.data(), static_cast<size_t>(n));
}

void OnWrite(fuse_req_t req, fuse_ino_t, const char* buf, size_t size, off_t offset, struct fuse_file_info* fi) {
  if (!IsFd(fi->fh)) return (void)fuse_reply_err(req, EBADF);
  const ssize_t n = ::pwrite(FdOf(fi->fh), buf, size, offset);
  if (n < 0) return (void)fuse_reply_err(req, errno);
  fuse_reply_write(req, static_cast<size_t>(n));
}

void OnRelease(fuse_req_t req, fuse_ino_t ino, struct fuse_file_info* fi) {
  if (IsFd(fi->fh)) {
    Session& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    const auto [first, last] = Adapter().openFiles.equal_range(IdOf(ino));
    for (auto it = first; it != last; ++it)
      if (it->second == FdOf(fi->fh)) {
        Adapter().openFiles.erase(it);
        break;
      }
    ::close(FdOf(fi->fh));
  }
  fuse_reply_err(req, 0);
}

void OnFsync(fuse_req_t req, fuse_ino_t, int dataOnly, struct fuse_file_info* fi) {
  if (!IsFd(fi->fh)) return (void)fuse_reply_err(req, 0);
  fuse_reply_err(req, (dataOnly ? ::fdatasync(FdOf(fi->fh)) : ::fsync(FdOf(fi->fh))) == 0 ? 0 : errno);
}

// Where a new name may go under parent: its folder and its path in the
// tree, or the error that refuses it (read-only, no such folder, taken,
// too long).
int PlaceForNewName(fuse_ino_t parent, const char* name, uint32_t& dir, std::string& rel) {
  Session& s = State();
  if (!s.writable) return -EROFS;
  dir = FolderOf(parent);
  if (dir == Tree::kNone) return -ENOENT;
  if (s.tree.Child(dir, name) != Tree::kNone) return -EEXIST;
  rel = JoinPath(s.tree.PathOf(dir), name);
  if (rel.size() > kLongestName) return -ENAMETOOLONG;
  return 0;
}

int Create(fuse_ino_t parent, const char* name, mode_t mode, struct fuse_file_info* fi, uint32_t& made) {
  Session& s = State();
  uint32_t dir = Tree::kNone;
  std::string rel;
  if (int rc = PlaceForNewName(parent, name, dir, rel); rc != 0) return rc;
  if (int rc = MakeOverlayFolders(s.tree.PathOf(dir)); rc != 0) return rc;
  const int fd = ::open(s.overlay->TreePath(rel).c_str(), fi->flags | O_CREAT | O_TRUNC | O_CLOEXEC, mode | 0600);
  if (fd < 0) return -errno;
  made = s.tree.Make(dir, name, false);
  s.tree.At(made).inOverlay = true;
  Adapter().openFiles.emplace(made, fd);
  fi->fh = FdHandle(fd);
  return 0;
}

void OnCreate(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t mode, struct fuse_file_info* fi) {
  std::lock_guard<std::mutex> guard(State().lock);
  uint32_t made = Tree::kNone;
  if (int rc = Create(parent, name, mode, fi, made); rc != 0) return ReplyDone(req, rc);
  struct fuse_entry_param e {};
  e.ino = InoOf(made);
  FillStat(made, &e.attr);
  e.attr_timeout = e.entry_timeout = KeepFor();
  fuse_reply_create(req, &e, fi);
}

int Truncate(uint32_t id, off_t size, struct fuse_file_info* fi) {
  Session& s = State();
  if (fi && IsFd(fi->fh)) return ::ftruncate(FdOf(fi->fh), size) == 0 ? 0 : -errno;
  if (!s.tree.At(id).live) return -ENOENT;
  if (s.tree.At(id).isDir) return -EISDIR;
  if (int rc = CopyUp(id); rc != 0) return rc;
  return ::truncate(OverlayPath(id).c_str(), size) == 0 ? 0 : -errno;
}

// An archive's entries carry no times of their own; a copy keeps its own.
int SetTimes(uint32_t id, const struct stat* attr, int toSet) {
  if (!State().tree.At(id).inOverlay || !State().tree.At(id).live) return 0;
  auto pick = [](bool now, bool given, const struct timespec& t) {
    return now ? timespec{0, UTIME_NOW} : given ? t : timespec{0, UTIME_OMIT};
  };
  const struct timespec tv[2] = {
      pick(toSet & FUSE_SET_ATTR_ATIME_NOW, toSet & FUSE_SET_ATTR_ATIME, attr->st_atim),
      pick(toSet & FUSE_SET_ATTR_MTIME_NOW, toSet & FUSE_SET_ATTR_MTIME, attr->st_mtim)};
  return ::utimensat(AT_FDCWD, OverlayPath(id).c_str(), tv, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : -errno;
}

// Size and times; modes and owners are accepted and change nothing (the
// format keeps none, and editors that save a copy set them).
void OnSetattr(fuse_req_t req, fuse_ino_t ino, struct stat* attr, int toSet, struct fuse_file_info* fi) {
  Session& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  const uint32_t id = IdOf(ino);
  if (id == Tree::kNone) return (void)fuse_reply_err(req, ENOENT);
  if (!s.writable) return (void)fuse_reply_err(req, EROFS);
  int rc = 0;
  if (toSet & FUSE_SET_ATTR_SIZE) rc = Truncate(id, attr->st_size, fi);
  if (rc == 0 && (toSet & (FUSE_SET_ATTR_ATIME | FUSE_SET_ATTR_MTIME | FUSE_SET_ATTR_ATIME_NOW | FUSE_SET_ATTR_MTIME_NOW)))
    rc = SetTimes(id, attr, toSet);
  if (rc != 0) return ReplyDone(req, rc);
  ReplyAttr(req, id);
}

int Unlink(fuse_ino_t parent, const char* name) {
  Session& s = State();
  if (!s.writable) return -EROFS;
  const uint32_t dir = FolderOf(parent);
  const uint32_t id = dir == Tree::kNone ? Tree::kNone : s.tree.Child(dir, name);
  if (id == Tree::kNone) return -ENOENT;
  if (s.tree.At(id).isDir) return -EISDIR;
  // The journal first: until the copy goes, the file still shows.
  if (int rc = Record(s.tree.PathOf(id)); rc != 0) return rc;
  if (s.tree.At(id).inOverlay && ::unlink(OverlayPath(id).c_str()) != 0 && errno != ENOENT) return -errno;
  s.tree.Remove(id);
  return 0;
}

void OnUnlink(fuse_req_t req, fuse_ino_t parent, const char* name) {
  std::lock_guard<std::mutex> guard(State().lock);
  ReplyDone(req, Unlink(parent, name));
}

int Mkdir(fuse_ino_t parent, const char* name, uint32_t& made) {
  Session& s = State();
  uint32_t dir = Tree::kNone;
  std::string rel;
  if (int rc = PlaceForNewName(parent, name, dir, rel); rc != 0) return rc;
  if (int rc = MakeOverlayFolders(rel); rc != 0) return rc;
  made = s.tree.Make(dir, name, true);
  return 0;
}

void OnMkdir(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t) {
  std::lock_guard<std::mutex> guard(State().lock);
  uint32_t made = Tree::kNone;
  if (int rc = Mkdir(parent, name, made); rc != 0) return ReplyDone(req, rc);
  ReplyEntry(req, made, InoOf(made));
}

int Rmdir(fuse_ino_t parent, const char* name) {
  Session& s = State();
  if (!s.writable) return -EROFS;
  const uint32_t dir = FolderOf(parent);
  const uint32_t id = dir == Tree::kNone ? Tree::kNone : s.tree.Child(dir, name);
  if (id == Tree::kNone) return -ENOENT;
  if (!s.tree.At(id).isDir) return -ENOTDIR;
  if (!s.tree.At(id).children.empty()) return -ENOTEMPTY;
  if (::rmdir(OverlayPath(id).c_str()) != 0 && errno != ENOENT) return -errno;
  s.tree.Remove(id);
  return 0;
}

void OnRmdir(fuse_req_t req, fuse_ino_t parent, const char* name) {
  std::lock_guard<std::mutex> guard(State().lock);
  ReplyDone(req, Rmdir(parent, name));
}

// Moves a file or folder; its content ends up in the overlay under the new
// path before the old path is journalled, so a kill at any step keeps it.
int MoveInOverlay(uint32_t id, const std::string& to) {
  Session& s = State();
  const std::vector<uint32_t> files = s.tree.FilesBelow(id);
  for (uint32_t f : files)
    if (int rc = CopyUp(f); rc != 0) return rc;
  for (uint32_t f : files)
    if (int rc = Record(s.tree.PathOf(f)); rc != 0) return rc;
  const std::string from = OverlayPath(id);
  if (int rc = MakeOverlayFolders(fs::path(to).parent_path().string()); rc != 0) return rc;
  std::error_code ec;
  if (!fs::exists(from, ec)) return MakeOverlayFolders(to);  // a folder never written to
  return ::rename(from.c_str(), s.overlay->TreePath(to).c_str()) == 0 ? 0 : -errno;
}

int Rename(fuse_ino_t parent, const char* name, fuse_ino_t newParent, const char* newName, unsigned int flags) {
  Session& s = State();
  if (!s.writable) return -EROFS;
  if (flags & RENAME_EXCHANGE) return -EINVAL;
  Tree& tree = s.tree;
  const uint32_t from = FolderOf(parent);
  const uint32_t id = from == Tree::kNone ? Tree::kNone : tree.Child(from, name);
  if (id == Tree::kNone) return -ENOENT;
  const uint32_t dir = FolderOf(newParent);
  if (dir == Tree::kNone) return -ENOENT;
  const std::string leaf = newName;
  if (tree.IsWithin(dir, id)) return -EINVAL;
  const uint32_t target = tree.Child(dir, leaf);
  if (target == id && tree.At(id).name == leaf) return 0;
  if (target != Tree::kNone && target != id) {
    if (flags & RENAME_NOREPLACE) return -EEXIST;
    if (tree.At(target).isDir && !tree.At(id).isDir) return -EISDIR;
    if (!tree.At(target).isDir && tree.At(id).isDir) return -ENOTDIR;
    if (tree.At(target).isDir && !tree.At(target).children.empty()) return -ENOTEMPTY;
  }
  const std::string rel = JoinPath(tree.PathOf(dir), leaf);
  const std::size_t oldLength = tree.PathOf(id).size();
  for (uint32_t f : tree.FilesBelow(id))
    if (tree.PathOf(f).size() - oldLength + rel.size() > kLongestName) return -ENAMETOOLONG;
  // A file replaced by the move is replaced by the overlay's copy (the
  // rename below); an empty folder replaced goes first.
  if (target != Tree::kNone && target != id && tree.At(target).isDir) {
    if (::rmdir(OverlayPath(target).c_str()) != 0 && errno != ENOENT) return -errno;
  }
  if (int rc = MoveInOverlay(id, rel); rc != 0) return rc;
  if (target != Tree::kNone && target != id) tree.Remove(target);
  tree.Move(id, dir, leaf);
  return 0;
}

void OnRename(fuse_req_t req, fuse_ino_t parent, const char* name, fuse_ino_t newParent, const char* newName,
              unsigned int flags) {
  std::lock_guard<std::mutex> guard(State().lock);
  ReplyDone(req, Rename(parent, name, newParent, newName, flags));
}

void OnStatfs(fuse_req_t req, fuse_ino_t) {
  Session& s = State();
  struct statvfs st {};
  if (s.writable) {
    if (::statvfs(s.overlay->Folder().c_str(), &st) != 0) return (void)fuse_reply_err(req, errno);
    return (void)fuse_reply_statfs(req, &st);
  }
  st.f_bsize = st.f_frsize = 4096;
  st.f_blocks = (s.archiveBytes + 4095) / 4096;
  {
    std::lock_guard<std::mutex> guard(s.lock);
    st.f_files = s.tree.LiveCount();
  }
  st.f_namemax = 255;
  fuse_reply_statfs(req, &st);
}

void OnAccess(fuse_req_t req, fuse_ino_t ino, int mask) {
  Session& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  const uint32_t id = LiveOf(ino);
  if (id == Tree::kNone) return (void)fuse_reply_err(req, ENOENT);
  if ((mask & W_OK) && !s.writable) return (void)fuse_reply_err(req, EROFS);
  if ((mask & X_OK) && !s.tree.At(id).isDir) return (void)fuse_reply_err(req, EACCES);
  fuse_reply_err(req, 0);
}

struct fuse_lowlevel_ops Operations() {
  struct fuse_lowlevel_ops ops {};
  ops.init = OnInit;
  ops.lookup = OnLookup;
  ops.getattr = OnGetattr;
  ops.setattr = OnSetattr;
  ops.readdir = OnReaddir;
  ops.readdirplus = OnReaddirplus;
  ops.open = OnOpen;
  ops.read = OnRead;
  ops.write = OnWrite;
  ops.release = OnRelease;
  ops.fsync = OnFsync;
  ops.create = OnCreate;
  ops.unlink = OnUnlink;
  ops.mkdir = OnMkdir;
  ops.rmdir = OnRmdir;
  ops.rename = OnRename;
  ops.statfs = OnStatfs;
  ops.access = OnAccess;
  return ops;
}

}  // namespace

struct FuseMount::Args {
  struct fuse_args args = FUSE_ARGS_INIT(0, nullptr);
  ~Args() { fuse_opt_free_args(&args); }
};

FuseMount::FuseMount(Session& session, const MountOptions& options)
    : threads_(options.threads), allowOther_(options.allowOther), args_(std::make_unique<Args>()) {
  g_session = &session;
  g_served = Served{};
  g_served.uid = ::getuid();
  g_served.gid = ::getgid();
}

FuseMount::~FuseMount() { End(); }

bool FuseMount::Mount(const std::string& mountpoint, std::string& why) {
  std::string fuseOptions = "fsname=vzr,subtype=vzr,default_permissions";
  if (!State().writable) fuseOptions += ",ro";
  if (allowOther_) fuseOptions += ",allow_other";
  for (const char* a : {"vzr", "-o", fuseOptions.c_str()}) fuse_opt_add_arg(&args_->args, a);
  const struct fuse_lowlevel_ops ops = Operations();
  fuse_ = fuse_session_new(&args_->args, &ops, sizeof ops, nullptr);
  if (!fuse_) {
    why = "could not be mounted";
    return false;
  }
  if (fuse_session_mount(fuse_, mountpoint.c_str()) != 0) {
    End();
    why = "could not be mounted (is it an empty folder of yours?)";
    return false;
  }
  mounted_ = true;
  return true;
}

int FuseMount::Serve(const std::function<void()>& ready) {
  fuse_set_signal_handlers(fuse_);
  ready();
  // One thread serves best what most programs do (one request after the
  // other): every hand-over between threads costs a task switch.
  const int served = threads_ ? fuse_session_loop_mt(fuse_, 0) : fuse_session_loop(fuse_);
  fuse_remove_signal_handlers(fuse_);
  End();
  return served;
}

void FuseMount::End() {
  if (!fuse_) return;
  if (mounted_) fuse_session_unmount(fuse_);
  mounted_ = false;
  fuse_session_destroy(fuse_);
  fuse_ = nullptr;
}

}  // namespace vzrmount

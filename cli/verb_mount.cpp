// verb_mount.cpp - "vzr mount" and "vzr umount": an archive, or every archive
// of a mod merged, as a folder that any program can read (and, with -o rw,
// change), served through FUSE.
//
// The operations below are thin: the tree (mount_tree) says what is where,
// the entry reader reads archive content, and a writable mount keeps its
// changes in the overlay (mount_overlay), applied to the archive in one
// rewrite when the mount ends.
//
// It speaks FUSE's node-number interface: the kernel's node numbers are the
// tree's own, so nothing else keeps a table of the nodes the kernel knows.
#define FUSE_USE_VERSION 31
#include <fcntl.h>
#include <fuse_lowlevel.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "cli.h"
#include "discovery.h"
#include "entryreader.h"
#include "fileservices.h"
#include "mount_overlay.h"
#include "mount_tree.h"
#include "vzrpack.h"

namespace fs = std::filesystem;
using vzrmount::Node;
using vzrmount::Tree;

namespace {

constexpr std::size_t kLongestName = 259;  // an index name's limit

struct MountOptions {
  bool writable = false;
  int level = kDefaultCompressionLevel;
  std::size_t cacheBytes = EntryReader::kDefaultCacheBytes;
  bool allowOther = false;
  bool threads = false;  // serve requests on several threads
  bool stats = false;    // tell at unmount how reads were served
};

// Everything the served operations share. The tree and the overlay are
// guarded by `lock`; archive reads need no lock.
struct MountState {
  std::vector<std::unique_ptr<EntryReader>> readers;
  Tree tree;
  std::unique_ptr<vzrmount::Overlay> overlay;  // writable mounts only
  bool writable = false;
  bool noOpen = false;      // the kernel opens files without asking (read-only mounts)
  std::string archivePath;  // absolute, links resolved (the one a writable mount rewrites)
  int level = kDefaultCompressionLevel;
  int64_t time = 0;         // the archives' newest modification time
  uint64_t archiveBytes = 0;
  uid_t uid = 0;
  gid_t gid = 0;
  std::atomic<uint64_t> archiveReads{0};  // read requests served from archives
  // Names looked up in another letter case than the node's get node numbers
  // of their own (from kAliasBase on), as different names of one file: the
  // kernel then treats a rename that changes only the case as a rename.
  std::vector<uint32_t> aliasOf;                       // alias number - kAliasBase -> node
  std::unordered_map<std::string, uint64_t> aliasFor;  // node and spelling -> alias number
  // The overlay files open for writing, by node: a file removed while open
  // still has its size (the kernel asks by node).
  std::unordered_multimap<uint32_t, int> openFiles;
  std::mutex lock;
};

constexpr uint64_t kAliasBase = uint64_t{1} << 32;

MountState& State() {
  static MountState state;
  return state;
}

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
  const MountState& s = State();
  if (ino >= kAliasBase) return ino - kAliasBase < s.aliasOf.size() ? s.aliasOf[ino - kAliasBase] : Tree::kNone;
  return ino >= 1 && ino - 1 < s.tree.Size() ? static_cast<uint32_t>(ino - 1) : Tree::kNone;
}
// The kernel's node number for node id found under `name`.
fuse_ino_t InoFor(uint32_t id, const char* name) {
  MountState& s = State();
  if (s.tree.At(id).name == name) return InoOf(id);
  const std::string key = std::to_string(id) + '/' + name;
  const auto [at, added] = s.aliasFor.emplace(key, kAliasBase + s.aliasOf.size());
  if (added) s.aliasOf.push_back(id);
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
  MountState& s = State();
  const Node& n = s.tree.At(id);
  std::memset(st, 0, sizeof *st);
  st->st_ino = InoOf(id);
  st->st_uid = s.uid;
  st->st_gid = s.gid;
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
  const auto open = n.live ? s.openFiles.end() : s.openFiles.find(id);
  const bool known = open != s.openFiles.end() ? ::fstat(open->second, &real) == 0
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

// The folder and the last name of a path; kNone when the folder is missing.
uint32_t ParentOf(const char* path, std::string& leaf) {
  std::string_view p(path);
  const std::size_t slash = p.rfind('/');
  leaf = std::string(p.substr(slash == std::string_view::npos ? 0 : slash + 1));
  const uint32_t dir = State().tree.Find(slash == std::string_view::npos ? "" : p.substr(0, slash));
  return dir != Tree::kNone && State().tree.At(dir).isDir ? dir : Tree::kNone;
}

std::string JoinPath(const std::string& dir, const std::string& leaf) { return dir.empty() ? leaf : dir + "/" + leaf; }

int MakeOverlayFolders(const std::string& rel) {
  std::error_code ec;
  fs::create_directories(State().overlay->TreePath(rel), ec);
  return ec ? -ec.value() : 0;
}

// Gives file id its content as a file in the overlay (a copy of its entry).
int CopyUp(uint32_t id) {
  MountState& s = State();
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
    State().noOpen = true;
  }
}

void OnLookup(fuse_req_t req, fuse_ino_t parent, const char* name) {
  MountState& s = State();
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
  MountState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  const uint32_t id = IdOf(ino);
  if (id == Tree::kNone) return (void)fuse_reply_err(req, ENOENT);
  ReplyAttr(req, id);
}

// One reply of a folder listing, from position `from` on: ".", "..", then
// the folder's nodes in the order they came.
void ReplyListing(fuse_req_t req, fuse_ino_t ino, size_t size, off_t from, bool plus) {
  MountState& s = State();
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
  MountState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  const uint32_t id = LiveOf(ino);
  if (id == Tree::kNone) return -ENOENT;
  if (s.tree.At(id).isDir) return -EISDIR;
  const bool writing = (fi->flags & O_ACCMODE) != O_RDONLY || (fi->flags & O_TRUNC);
  if (writing && !s.writable) return -EROFS;
  if (s.noOpen) return -ENOSYS;
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
  s.openFiles.emplace(id, fd);
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
    MountState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    const auto [first, last] = s.openFiles.equal_range(IdOf(ino));
    for (auto it = first; it != last; ++it)
      if (it->second == FdOf(fi->fh)) {
        s.openFiles.erase(it);
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
  MountState& s = State();
  if (!s.writable) return -EROFS;
  dir = FolderOf(parent);
  if (dir == Tree::kNone) return -ENOENT;
  if (s.tree.Child(dir, name) != Tree::kNone) return -EEXIST;
  rel = JoinPath(s.tree.PathOf(dir), name);
  if (rel.size() > kLongestName) return -ENAMETOOLONG;
  return 0;
}

int Create(fuse_ino_t parent, const char* name, mode_t mode, struct fuse_file_info* fi, uint32_t& made) {
  MountState& s = State();
  uint32_t dir = Tree::kNone;
  std::string rel;
  if (int rc = PlaceForNewName(parent, name, dir, rel); rc != 0) return rc;
  if (int rc = MakeOverlayFolders(s.tree.PathOf(dir)); rc != 0) return rc;
  const int fd = ::open(s.overlay->TreePath(rel).c_str(), fi->flags | O_CREAT | O_TRUNC | O_CLOEXEC, mode | 0600);
  if (fd < 0) return -errno;
  made = s.tree.Make(dir, name, false);
  s.tree.At(made).inOverlay = true;
  s.openFiles.emplace(made, fd);
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
  MountState& s = State();
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
  MountState& s = State();
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
  MountState& s = State();
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
  MountState& s = State();
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
  MountState& s = State();
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
  MountState& s = State();
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
  MountState& s = State();
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
  MountState& s = State();
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
  MountState& s = State();
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

// ---------------------------------------------------------------------------
// Building what a mount shows

std::string Absolute(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::absolute(path, ec).lexically_normal();
  if (!p.has_filename() && p.has_parent_path() && p != p.root_path()) p = p.parent_path();
  return p.string();
}

// True when one of the folders a and b (both without links) holds the
// other or is it.
bool FoldersOverlap(const std::string& a, const std::string& b) {
  const auto holds = [](const std::string& outer, const std::string& inner) {
    return inner.compare(0, outer.size(), outer) == 0 &&
           (inner.size() == outer.size() || inner[outer.size()] == '/' || outer == "/");
  };
  return holds(a, b) || holds(b, a);
}

// False (with the message) when a writable mount at mountpoint would hide
// its own overlay: the server reaches the overlay by path, through the
// mount it serves, and every program touching the mount would hang.
bool OverlayOutsideMount(const std::string& archive, const std::string& mountpoint) {
  char* real = ::realpath(mountpoint.c_str(), nullptr);
  const std::string point = real ? real : mountpoint;
  std::free(real);
  const std::string overlay = vzrmount::Overlay::FolderFor(archive);
  if (!FoldersOverlap(point, overlay)) return true;
  cli::FileMessage(mountpoint, "-o rw cannot mount here: it would hide " + overlay +
                                   ", where the changes are kept (choose a folder apart from the archive's)");
  return false;
}

// The archives of a mod, in the order `vzr mod unpack` extracts them.
std::vector<std::string> ModArchives(const std::string& mod) {
  std::vector<std::string> archives = modkit::ModArchives(mod);
  for (std::string& path : archives) path = vzrfs::ResolvePath(path.c_str());
  return archives;
}

// Opens every archive and puts its entries into the tree, each later
// archive's over the earlier ones; names what is not shown.
bool LoadSources(const std::vector<std::string>& paths, const MountOptions& options) {
  MountState& s = State();
  const std::size_t cache = std::max<std::size_t>(options.cacheBytes / paths.size(), std::size_t{1} << 20);
  for (const std::string& path : paths) {
    VzrError error;
    auto reader = EntryReader::Open(path, &error, cache);
    if (!reader) {
      cli::FileMessage(path, error.message.empty() ? "not an archive" : error.message);
      return false;
    }
    if (reader->IndexDamaged()) {
      if (options.writable) {
        cli::FileMessage(path, "not mounted writable: its index is damaged");
        return false;
      }
      cli::FileMessage(path, "damaged index: showing the " + std::to_string(reader->Count()) +
                                 " entries that could be read");
    }
    s.time = std::max(s.time, reader->ModificationTime());
    std::error_code ec;
    s.archiveBytes += fs::file_size(path, ec);
    const auto archive = static_cast<int32_t>(s.readers.size());
    s.tree.Reserve(reader->Count() + reader->Count() / 8);
    for (uint32_t i = 0; i < reader->Count(); ++i) {
      const EntryReader::EntryInfo e = reader->Entry(i);
      const std::string_view name(e.name, e.nameLength);
      const Tree::Placed placed = s.tree.Add(name, archive, i, e.fileSize);
      if (placed == Tree::Placed::kRefused)
        cli::FileMessage(path, "'" + std::string(name) + "' not shown: extraction refuses this name");
      else if (placed == Tree::Placed::kClash)
        cli::FileMessage(path, "'" + std::string(name) + "' not shown: a file and a folder of one name");
    }
    s.readers.push_back(std::move(reader));
  }
  return true;
}

// A writable mount starts from the changes an earlier one left in the overlay.
bool ApplyOverlay(const std::string& archive) {
  MountState& s = State();
  s.overlay = std::make_unique<vzrmount::Overlay>(vzrmount::Overlay::FolderFor(archive));
  std::string error;
  if (!s.overlay->Open(error)) {
    cli::FileMessage(archive, "not mounted writable: " + error);
    return false;
  }
  if (!s.overlay->HasChanges()) return true;
  cli::FileMessage(archive, "starting from the changes kept in " + s.overlay->Folder());
  Tree& tree = s.tree;
  const std::set<std::string> removed = s.overlay->RemovedPaths();
  for (uint32_t file : tree.FilesBelow(Tree::kRoot))
    if (removed.count(vzrmount::Fold(tree.PathOf(file)))) tree.Remove(file);
  s.overlay->Walk([&](const std::string& rel, bool isDir) {
    std::string leaf;
    const uint32_t dir = ParentOf(("/" + rel).c_str(), leaf);
    if (dir == Tree::kNone) return;  // below something that is no folder: named with it
    const uint32_t found = tree.Child(dir, leaf);
    if (found == Tree::kNone) {
      tree.At(tree.Make(dir, leaf, isDir)).inOverlay = !isDir;
    } else if (tree.At(found).isDir == isDir) {
      tree.At(found).inOverlay = !isDir;
    } else {
      cli::FileMessage(s.overlay->TreePath(rel), "not shown: a file and a folder of one name");
    }
  });
  return true;
}

// ---------------------------------------------------------------------------
// Where `vzr umount` finds the server of a mount point: a file per mount
// point in a folder of the user's own, locked by the server until it has
// applied its changes and ended, holding the outcome for umount to tell.

std::string MountKey(const std::string& mountpoint) {
  const fs::path p(Absolute(mountpoint));
  std::string canonical = p.string();
  if (char* parent = ::realpath(p.parent_path().c_str(), nullptr)) {
    canonical = (fs::path(parent) / p.filename()).string();
    std::free(parent);
  }
  uint64_t hash = 1469598103934665603ull;  // FNV-1a
  for (unsigned char c : canonical) hash = (hash ^ c) * 1099511628211ull;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return hex;
}

std::string RegistryFile(const std::string& mountpoint) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string folder = runtime && *runtime ? std::string(runtime) + "/vzr-mounts"
                                                 : "/tmp/vzr-mounts-" + std::to_string(::getuid());
  ::mkdir(folder.c_str(), 0700);
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) return "";
  return folder + "/" + MountKey(mountpoint);
}

void WriteOutcome(int fd, const std::string& text) {
  if (fd < 0) return;
  if (::ftruncate(fd, 0) == 0) (void)!::pwrite(fd, text.data(), text.size(), 0);
  ::fsync(fd);
}

// Applies a writable mount's changes; the outcome for `vzr umount`: "ok" or
// "failed", then the lines to show.
std::string Commit() {
  MountState& s = State();
  if (!s.overlay) return "ok\n";
  std::vector<std::string> notes;
  std::string error;
  if (!s.overlay->HasChanges()) {
    s.overlay->Discard();
    return "ok\n";
  }
  const bool done = vzrmount::CommitOverlay(s.archivePath, *s.overlay, s.level, notes, error);
  std::string outcome = done ? "ok\n" : "failed\n";
  for (const std::string& note : notes) outcome += s.archivePath + ": " + note + "\n";
  if (done)
    s.overlay->Discard();
  else
    outcome += s.archivePath + ": could not be rewritten: " + error + "; the changes are kept in " +
               s.overlay->Folder() + " and the next vzr mount -o rw of it starts from them\n";
  return outcome;
}

// How reads were served, for -o stats.
std::string Statistics() {
  uint64_t decoded = 0, hits = 0;
  for (const auto& reader : State().readers) {
    const EntryReader::Stats stats = reader->CacheStats();
    decoded += stats.segmentsDecoded;
    hits += stats.cacheHits;
  }
  return "statistics: " + std::to_string(State().archiveReads.load()) + " reads, " + std::to_string(decoded) +
         " segments decoded, " + std::to_string(hits) + " segments from the cache\n";
}

void ShowOutcome(const std::string& outcome) {
  std::size_t start = outcome.find('\n') + 1;
  for (std::size_t end; (end = outcome.find('\n', start)) != std::string::npos; start = end + 1)
    cli::Message(outcome.substr(start, end - start));
}

// Ends this process's part in a background start: tells the waiting parent
// the mount is ready and lets go of the terminal.
void Detach(int readyPipe) {
  ::setsid();
  (void)!::chdir("/");
  const int null = ::open("/dev/null", O_RDWR);
  if (null >= 0) {
    ::dup2(null, STDIN_FILENO);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    if (null > STDERR_FILENO) ::close(null);
  }
  (void)!::write(readyPipe, "r", 1);
  ::close(readyPipe);
}

struct FuseArgs {
  struct fuse_args args = FUSE_ARGS_INIT(0, nullptr);
  ~FuseArgs() { fuse_opt_free_args(&args); }
};

int Serve(const std::string& mountpoint, bool foreground, const MountOptions& options) {
  MountState& s = State();
  const std::string registry = RegistryFile(mountpoint);
  const int outcomeFd = registry.empty() ? -1 : ::open(registry.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (outcomeFd >= 0 && ::flock(outcomeFd, LOCK_EX | LOCK_NB) != 0) {
    cli::FileMessage(mountpoint, "a mount there is still being served");
    return cli::kNothing;
  }
  WriteOutcome(outcomeFd, s.overlay ? "failed\n" + s.archivePath +
                                          ": the mount's server ended before applying the changes; they are kept in " +
                                          s.overlay->Folder() + "\n"
                                    : "ok\n");
  FuseArgs args;
  std::string fuseOptions = "fsname=vzr,subtype=vzr,default_permissions";
  if (!s.writable) fuseOptions += ",ro";
  if (options.allowOther) fuseOptions += ",allow_other";
  for (const char* a : {"vzr", "-o", fuseOptions.c_str()}) fuse_opt_add_arg(&args.args, a);
  const struct fuse_lowlevel_ops ops = Operations();
  struct fuse_session* session = fuse_session_new(&args.args, &ops, sizeof ops, nullptr);
  if (!session) {
    cli::FileMessage(mountpoint, "could not be mounted");
    return cli::kNothing;
  }
  if (fuse_session_mount(session, mountpoint.c_str()) != 0) {
    fuse_session_destroy(session);
    if (s.overlay && !s.overlay->HasChanges()) s.overlay->Discard();
    cli::FileMessage(mountpoint, "could not be mounted (is it an empty folder of yours?)");
    return cli::kNothing;
  }
  int ready[2] = {-1, -1};
  if (!foreground) {
    if (::pipe(ready) != 0) ready[0] = ready[1] = -1;
    const pid_t child = ::fork();
    if (child > 0) {
      ::close(ready[1]);
      char byte = 0;
      const bool served = ::read(ready[0], &byte, 1) == 1;
      ::_exit(served ? cli::kDone : cli::kProblems);
    }
    ::close(ready[0]);
  }
  // The interruption handlers of every verb would end the process at once;
  // here SIGINT, SIGTERM and SIGHUP end the serving, so the mount goes and
  // the changes are applied.
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::signal(signal, SIG_DFL);
  fuse_set_signal_handlers(session);
  if (!foreground) Detach(ready[1]);
  // One thread serves best what most programs do (one request after the
  // other): every hand-over between threads costs a task switch.
  const int served = options.threads ? fuse_session_loop_mt(session, 0) : fuse_session_loop(session);
  fuse_remove_signal_handlers(session);
  fuse_session_unmount(session);
  fuse_session_destroy(session);
  std::string outcome = Commit();
  if (options.stats) outcome += Statistics();
  WriteOutcome(outcomeFd, outcome);
  ShowOutcome(outcome);
  if (outcomeFd >= 0) ::close(outcomeFd);
  if (outcome.rfind("ok", 0) != 0) return cli::kProblems;
  // Ctrl+C, SIGTERM and SIGHUP are how a foreground mount is meant to end.
  const bool endedAsMeant = served == 0 || served == SIGINT || served == SIGTERM || served == SIGHUP;
  return endedAsMeant ? cli::kDone : cli::kProblems;
}

bool ReadOptions(const cli::Args& args, MountOptions& options) {
  for (const auto& [name, value] : args.options) {
    if (name != "-o") continue;
    std::size_t start = 0;
    while (start <= value.size()) {
      std::size_t end = value.find(',', start);
      if (end == std::string::npos) end = value.size();
      const std::string option = value.substr(start, end - start);
      start = end + 1;
      char* rest = nullptr;
      if (option == "rw") {
        options.writable = true;
      } else if (option == "ro") {
        options.writable = false;
      } else if (option == "stats") {
        options.stats = true;
      } else if (option == "threads") {
        options.threads = true;
      } else if (option == "allow_other") {
        options.allowOther = true;
      } else if (option.rfind("level=", 0) == 0) {
        const long level = std::strtol(option.c_str() + 6, &rest, 10);
        if (option.size() == 6 || *rest || level < 0 || level > 9) return cli::Usage("mount", "level is 0..9"), false;
        options.level = static_cast<int>(level);
      } else if (option.rfind("cache=", 0) == 0) {
        const long mib = std::strtol(option.c_str() + 6, &rest, 10);
        if (option.size() == 6 || *rest || mib < 1 || mib > 65536)
          return cli::Usage("mount", "cache is 1..65536 (MiB)"), false;
        options.cacheBytes = static_cast<std::size_t>(mib) << 20;
      } else if (!option.empty()) {
        return cli::Usage("mount", "unknown option '" + option + "'"), false;
      }
    }
  }
  return true;
}

int RunMount(const cli::Args& args) {
  if (args.positionals.size() != 2) return cli::Usage("mount", "an archive or a mod folder, and a mount point are needed");
  MountOptions options;
  if (!ReadOptions(args, options)) return cli::kNothing;
  const std::string source = Absolute(args.positionals[0]);
  const std::string mountpoint = Absolute(args.positionals[1]);
  if (!cli::RequireFolder(mountpoint)) return cli::kNothing;
  std::error_code ec;
  std::vector<std::string> archives;
  if (fs::is_directory(source, ec)) {
    if (options.writable) return cli::Usage("mount", "-o rw takes one archive, not a mod folder");
    archives = ModArchives(source);
    if (archives.empty()) {
      cli::FileMessage(source, "no archives in the mod's Archives folders");
      return cli::kNothing;
    }
  } else {
    // A writable mount rewrites the archive a link leads to.
    char* real = ::realpath(source.c_str(), nullptr);
    if (!real) {
      cli::FileMessage(source, std::strerror(errno));
      return cli::kNothing;
    }
    archives.push_back(real);
    std::free(real);
  }
  MountState& s = State();
  s.writable = options.writable;
  s.level = options.level;
  s.uid = ::getuid();
  s.gid = ::getgid();
  s.archivePath = archives.front();
  if (options.writable && !OverlayOutsideMount(s.archivePath, mountpoint)) return cli::kNothing;
  if (!LoadSources(archives, options)) return cli::kNothing;
  if (options.writable && !ApplyOverlay(s.archivePath)) return cli::kNothing;
  return Serve(mountpoint, args.Has("-f"), options);
}

// Runs fusermount3 -u; as root without it, unmounts directly.
bool Unmount(const std::string& mountpoint) {
  const char* argv[] = {"fusermount3", "-u", mountpoint.c_str(), nullptr};
  pid_t pid = 0;
  if (::posix_spawnp(&pid, "fusermount3", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0) {
    if (::geteuid() == 0 && ::umount2(mountpoint.c_str(), 0) == 0) return true;
    cli::FileMessage(mountpoint, std::string("could not be unmounted: ") + std::strerror(errno));
    return false;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int RunUmount(const cli::Args& args) {
  if (args.positionals.size() != 1) return cli::Usage("umount", "one mount point is needed");
  const std::string mountpoint = Absolute(args.positionals[0]);
  const std::string registry = RegistryFile(mountpoint);
  const int fd = registry.empty() ? -1 : ::open(registry.c_str(), O_RDWR | O_CLOEXEC);
  if (!Unmount(mountpoint)) {
    if (fd >= 0) ::close(fd);
    return cli::kNothing;
  }
  if (fd < 0) return cli::kDone;
  // The server lets go of the file once it has applied the changes and ended.
  while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
  std::string outcome;
  char buf[4096];
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) outcome.append(buf, static_cast<std::size_t>(n));
  ::unlink(registry.c_str());
  ::close(fd);
  ShowOutcome(outcome);
  return outcome.rfind("ok", 0) == 0 || outcome.empty() ? cli::kDone : cli::kProblems;
}

const cli::Register mountVerb(
    {"mount", "an archive, or a whole mod, as a folder",
     "usage: vzr mount [-o OPTION,...] [-f] ARCHIVE|MODDIR MOUNTPOINT\n"
     "Shows the entries of ARCHIVE as files below MOUNTPOINT, each where extraction\n"
     "would write it, and returns once the folder can be used. A MODDIR shows every\n"
     "archive of the mod merged as vzr mod unpack would write them into an empty\n"
     "folder (a later archive's file replaces an earlier one's). Names extraction\n"
     "refuses are not shown and are named on standard error; of names equal but\n"
     "for letter case the last entry shows, once, and is found in any case.\n"
     "Read-only unless -o rw. The archive is read as it was at mount: a new copy\n"
     "moved over it meanwhile is not seen. vzr umount MOUNTPOINT ends the mount.\n"
     "  -f           serve in the foreground; Ctrl+C unmounts\n"
     "  -o rw        files and folders may be created, changed, renamed and\n"
     "               removed (one archive only). Changes are kept in the folder\n"
     "               .NAME.overlay beside the archive NAME and go into the archive\n"
     "               in one rewrite when the mount ends (vzr umount, fusermount3 -u,\n"
     "               Ctrl+C, SIGTERM). If that fails the archive stays as it was,\n"
     "               the changes stay in the overlay and the next -o rw mount of the\n"
     "               archive starts from them. Folders left empty are not kept.\n"
     "  -o level=N   compression level 0..9 of changed files in a segmented archive\n"
     "               (default 6); a raw archive stays raw\n"
     "  -o cache=MIB memory for decoded segments (default 64)\n"
     "  -o threads   serve requests on several threads (for many programs reading\n"
     "               at once; one thread is faster for one program at a time)\n"
     "  -o stats     at unmount, tell how many reads were served and how many\n"
     "               segments were decoded for them\n"
     "  -o allow_other  other users may use the mount too\n",
     {{"-o", true}, {"-f", false}},
     RunMount});

const cli::Register umountVerb({"umount", "ends a mount made by vzr mount",
                                "usage: vzr umount MOUNTPOINT\n"
                                "Unmounts MOUNTPOINT and, for a mount made with -o rw, waits until the\n"
                                "changes are in the archive (or says where they are kept).\n",
                                {},
                                RunUmount});

}  // namespace

// writeguard.cpp - what keeps two writers of one archive from losing each
// other's change, and a rewrite from changing what the archive is: the
// lock, the identity a writer read, the real file behind a link, the
// permission check and the mode and owner the new copy takes over.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "fileservices.h"

namespace vzrfs {
namespace {

int g_lockWaitMs = 5000;

// The locks this process holds, so that a second lock of the same archive
// nests instead of waiting for the first (flock locks of two descriptors
// of one process exclude each other).
struct HeldLock {
  uint64_t device = 0, inode = 0;
  int fd = -1;
  int holders = 0;
};
std::mutex g_heldMutex;
std::vector<HeldLock>& Held() {
  static std::vector<HeldLock> held;
  return held;
}

FileIdentity IdentityOfStat(const struct stat& st) {
  FileIdentity id;
  id.device = static_cast<uint64_t>(st.st_dev);
  id.inode = static_cast<uint64_t>(st.st_ino);
  id.size = static_cast<uint64_t>(st.st_size);
  id.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return id;
}

// Takes the lock on fd, then makes sure path still names the locked file.
// 0 held; ESTALE: path now names another file; EWOULDBLOCK: busy.
int LockIfCurrent(int fd, const std::string& path) {
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return errno == EWOULDBLOCK ? EWOULDBLOCK : errno;
  struct stat locked, now;
  if (::fstat(fd, &locked) != 0) return errno;
  if (::stat(path.c_str(), &now) != 0) return errno;
  if (locked.st_dev != now.st_dev || locked.st_ino != now.st_ino) return ESTALE;
  return 0;
}

// Where a chain of links starting at `link` ends when its last link leads
// to nothing: the name a file written through the links takes. Empty when
// the chain goes round or stops at something that is no link.
std::string EndOfLinkChain(const std::string& link) {
  constexpr int kMostHops = 40;  // as many as the kernel follows
  std::string at = link;
  for (int hop = 0; hop < kMostHops; ++hop) {
    struct stat st;
    if (::lstat(at.c_str(), &st) != 0) return errno == ENOENT ? at : std::string();
    if (!S_ISLNK(st.st_mode)) return std::string();
    std::vector<char> to(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
    const ssize_t n = ::readlink(at.c_str(), to.data(), to.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= to.size()) return std::string();
    const std::string next(to.data(), static_cast<std::size_t>(n));
    // A relative link counts from the folder the link stands in.
    const std::size_t slash = at.rfind('/');
    at = next[0] == '/' || slash == std::string::npos ? next : at.substr(0, slash + 1) + next;
  }
  return std::string();
}

}  // namespace

std::string ArchiveTarget(const char* path) {
  const std::string resolved = ResolvePath(path);
  char real[PATH_MAX];
  struct stat st;
  if (::lstat(resolved.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return resolved;
  if (::realpath(resolved.c_str(), real)) return real;
  // A link that leads nowhere yet: the archive is written where it leads,
  // so the link stays a link (and a missing folder there refuses the write).
  const std::string end = EndOfLinkChain(resolved);
  return end.empty() ? resolved : end;
}

bool IdentityOf(std::FILE* f, FileIdentity& identity) {
  struct stat st;
  if (!f || ::fstat(::fileno(f), &st) != 0) return false;
  identity = IdentityOfStat(st);
  return true;
}

bool IdentityOfPath(const char* path, FileIdentity& identity) {
  struct stat st;
  if (::stat(ResolvePath(path).c_str(), &st) != 0) return false;
  identity = IdentityOfStat(st);
  return true;
}

int ArchiveLock::Acquire(const char* path) {
  Release();
  const std::string target = ArchiveTarget(path);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(g_lockWaitMs);
  for (;;) {
    const int fd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
      const int err = errno;
      ::close(fd);
      return err;
    }
    {
      std::lock_guard<std::mutex> guard(g_heldMutex);
      std::vector<HeldLock>& held = Held();
      for (std::size_t i = 0; i < held.size(); ++i)
        if (held[i].fd >= 0 && held[i].device == uint64_t(st.st_dev) && held[i].inode == uint64_t(st.st_ino)) {
          ++held[i].holders;
          slot_ = static_cast<int>(i);
          ::close(fd);
          return 0;
        }
    }
    int result = LockIfCurrent(fd, target);
    while (result == EWOULDBLOCK && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      result = LockIfCurrent(fd, target);
    }
    if (result == 0) {
      std::lock_guard<std::mutex> guard(g_heldMutex);
      std::vector<HeldLock>& held = Held();
      std::size_t i = 0;
      while (i < held.size() && held[i].fd >= 0) ++i;
      if (i == held.size()) held.emplace_back();
      held[i] = {uint64_t(st.st_dev), uint64_t(st.st_ino), fd, 1};
      slot_ = static_cast<int>(i);
      return 0;
    }
    ::close(fd);  // drops the lock, if this descriptor got it
    // The archive was replaced while we waited: lock the one there now.
    if (result != ESTALE) return result;
    if (std::chrono::steady_clock::now() >= deadline) return EWOULDBLOCK;
  }
}

void ArchiveLock::Release() {
  if (slot_ < 0) return;
  std::lock_guard<std::mutex> guard(g_heldMutex);
  HeldLock& lock = Held()[static_cast<std::size_t>(slot_)];
  if (--lock.holders == 0) {
    ::close(lock.fd);
    lock = HeldLock{};
  }
  slot_ = -1;
}

int ArchiveLockWaitMs() { return g_lockWaitMs; }
void SetArchiveLockWaitMs(int milliseconds) { g_lockWaitMs = milliseconds; }

int MayReplace(std::FILE* archive) {
  struct stat st;
  if (::fstat(::fileno(archive), &st) != 0) return errno;
  const std::string path = "/proc/self/fd/" + std::to_string(::fileno(archive));
  if ((st.st_mode & S_IWUSR) == 0) return EACCES;
  if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES) return EACCES;
  return 0;
}

void TakeOverModeAndOwner(std::FILE* out, std::FILE* archive) {
  struct stat st;
  if (!out || !archive || ::fstat(::fileno(archive), &st) != 0) return;
  const int fd = ::fileno(out);
  // Owner first: a change of owner clears the set-id bits the mode then restores.
  if (::fchown(fd, st.st_uid, st.st_gid) != 0) (void)!::fchown(fd, static_cast<uid_t>(-1), st.st_gid);
  (void)!::fchmod(fd, st.st_mode & 07777);
}

}  // namespace vzrfs

// temporaries.cpp - the temporary files an interruption must not leave
// behind. A signal handler may call RemoveTemporaries at any moment, so the
// registry is a fixed array of slots, each with an atomic state, a folder
// descriptor and a name buffer: the handler reads them without locks and
// only calls unlinkat.
#include "temporaries_internal.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>

#include "fileservices.h"
#include "paths.h"

namespace vzrfs {
namespace {

enum SlotState : int { kFree = 0, kBusy = 1, kLive = 2 };

struct Slot {
  std::atomic<int> state{kFree};
  int folderFd = -1;
  int callerFd = -1;  // the descriptor the file was registered with
  bool ownsFolderFd = true;  // false: the registering caller's, closed by it
  char name[NAME_MAX + 1] = {};
};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler reads the slot states");

// A pack holds its new archive and the archive it claimed, a move's copy
// fallback one more: a few slots are plenty.
constexpr int kSlots = 8;
Slot g_slots[kSlots];
std::atomic<int> g_live{0};  // slots not free: lets the common case skip the search

bool SameFolder(int a, int b) {
  struct stat sa, sb;
  return ::fstat(a, &sa) == 0 && ::fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

void SplitPath(const std::string& path, std::string& folder, std::string& name) {
  const std::string p = vzrfs::WithSlashes(path);
  const std::size_t slash = p.rfind('/');
  folder = slash == std::string::npos ? "." : slash == 0 ? "/" : p.substr(0, slash);
  name = slash == std::string::npos ? p : p.substr(slash + 1);
}

int OpenFolder(const std::string& folder) { return ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC); }

// callerFd is the descriptor later releases are expected through, or -1
// when the registering descriptor does not outlive the call.
// Takes a free slot for name in folder descriptor folderFd (kept busy, so
// the handler passes it by); -1 when every slot is taken.
int Claim(int folderFd, const std::string& name, int callerFd, bool ownsFolderFd) {
  for (int i = 0; i < kSlots; ++i) {
    Slot& slot = g_slots[i];
    int expected = kFree;
    if (!slot.state.compare_exchange_strong(expected, kBusy)) continue;
    g_live.fetch_add(1);
    slot.folderFd = folderFd;
    slot.callerFd = callerFd;
    slot.ownsFolderFd = ownsFolderFd;
    std::memcpy(slot.name, name.c_str(), name.size() + 1);
    return i;
  }
  return -1;
}

// Gives a slot the caller holds busy back.
void Free(Slot& slot) {
  if (slot.ownsFolderFd) ::close(slot.folderFd);
  slot.folderFd = -1;
  slot.callerFd = -1;
  slot.name[0] = '\0';
  slot.state.store(kFree, std::memory_order_release);
  g_live.fetch_sub(1);
}

void RegisterIn(int dirFd, const std::string& name, int callerFd) {
  if (name.empty() || name.size() > NAME_MAX) return;
  const int own = dirFd == AT_FDCWD ? OpenFolder(".") : ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
  if (own < 0) return;
  const int slot = Claim(own, name, callerFd, true);
  if (slot < 0) {
    ::close(own);  // every slot taken: the file goes unregistered
    return;
  }
  g_slots[slot].state.store(kLive, std::memory_order_release);
}

}  // namespace

namespace temporaries {

void Register(int dirFd, const std::string& name) { RegisterIn(dirFd, name, dirFd == AT_FDCWD ? -1 : dirFd); }

int Reserve(int dirFd, const std::string& name) {
  if (dirFd == AT_FDCWD || name.empty() || name.size() > NAME_MAX) return -1;
  return Claim(dirFd, name, dirFd, false);
}

void Publish(int slot) {
  if (slot >= 0 && slot < kSlots) g_slots[slot].state.store(kLive, std::memory_order_release);
}

void Cancel(int slot) {
  if (slot >= 0 && slot < kSlots) Free(g_slots[slot]);
}

void Release(int dirFd, const std::string& name) {
  if (g_live.load() == 0) return;
  const int folder = dirFd == AT_FDCWD ? OpenFolder(".") : dirFd;
  for (Slot& slot : g_slots) {
    if (slot.state.load(std::memory_order_acquire) != kLive || name != slot.name) continue;
    // The caller mostly releases through the descriptor it registered with,
    // which saves comparing the folders themselves.
    if (folder < 0 || (dirFd != slot.callerFd && !SameFolder(folder, slot.folderFd))) continue;
    int expected = kLive;
    if (!slot.state.compare_exchange_strong(expected, kBusy)) continue;
    Free(slot);
    break;
  }
  if (dirFd == AT_FDCWD && folder >= 0) ::close(folder);
}

void RegisterPath(const std::string& path) {
  std::string folder, name;
  SplitPath(path, folder, name);
  const int fd = OpenFolder(folder);
  if (fd < 0) return;
  RegisterIn(fd, name, -1);
  ::close(fd);
}

void ReleasePath(const std::string& path) {
  if (g_live.load() == 0) return;
  std::string folder, name;
  SplitPath(path, folder, name);
  const int fd = OpenFolder(folder);
  if (fd < 0) return;
  Release(fd, name);
  ::close(fd);
}

SignalsHeld::SignalsHeld() {
  sigset_t all;
  sigfillset(&all);
  ::pthread_sigmask(SIG_BLOCK, &all, &saved_);
}

SignalsHeld::~SignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

}  // namespace temporaries

void RegisterTemporary(const char* path) {
  if (path && *path) temporaries::RegisterPath(path);
}

void ReleaseTemporary(const char* path) {
  if (path && *path) temporaries::ReleasePath(path);
}

void RemoveTemporaries() {
  for (Slot& slot : g_slots)
    if (slot.state.load(std::memory_order_acquire) == kLive) ::unlinkat(slot.folderFd, slot.name, 0);
}

}  // namespace vzrfs

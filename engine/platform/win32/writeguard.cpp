// writeguard.cpp - what keeps two writers of one archive from losing each
// other's change, on Windows: the lock (LockFileEx on the archive itself),
// the identity a writer read, the real file behind a link, and the
// permission check.
#include <io.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "fileservices.h"
#include "fileservices_internal.h"
#include "paths.h"
#include "wide.h"
#include "writeguard_internal.h"

namespace vzrfs {

using namespace win32;

namespace {

int g_lockWaitMs = 5000;

// The lock covers one byte far past the end of any archive (the format
// ends at 4 GiB): Windows locks are mandatory, and a lock on the content
// would stop every reader of it, this program's own included.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

// The locks this process holds, so that a second lock of the same archive
// nests instead of waiting for the first (locks of two handles of one
// process exclude each other).
struct HeldLock {
  uint64_t device = 0, inode = 0;
  HANDLE handle = INVALID_HANDLE_VALUE;
  int holders = 0;
};
std::mutex g_heldMutex;
std::vector<HeldLock>& Held() {
  static std::vector<HeldLock> held;
  return held;
}

FileIdentity IdentityOfFacts(const NodeFacts& facts) {
  FileIdentity id;
  id.device = facts.device;
  id.inode = facts.inode;
  id.size = facts.size;
  id.mtimeNs = facts.modifiedSeconds * 1000000000 + facts.modifiedNanoseconds;
  return id;
}

bool TryLock(HANDLE handle) {
  OVERLAPPED at{};
  at.Offset = 0;
  at.OffsetHigh = kLockOffsetHigh;
  return ::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

// Takes the lock on handle, then makes sure path still names the locked
// file. 0 held; kErrorChangedOnDisk: path now names another file;
// EWOULDBLOCK: busy.
int LockIfCurrent(HANDLE handle, const BY_HANDLE_FILE_INFORMATION& locked, const std::string& path) {
  if (!TryLock(handle)) {
    const DWORD error = ::GetLastError();
    return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? EWOULDBLOCK : ErrnoOf(error);
  }
  NodeFacts now;
  if (!FactsOf(path, now)) return errno;
  const uint64_t inode = (uint64_t(locked.nFileIndexHigh) << 32) | locked.nFileIndexLow;
  if (now.device != locked.dwVolumeSerialNumber || now.inode != inode) return kErrorChangedOnDisk;
  return 0;
}

// Opens the archive to lock it, shared every way (readers, and the rename
// that replaces it, go on). A program that holds it without sharing is
// waited for a moment; then the archive is in use (EBUSY).
HANDLE OpenToLock(const std::string& target, int& error) {
  const std::wstring wide = SystemPath(target);
  for (int attempt = 0;; ++attempt) {
    HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) return handle;
    const DWORD code = ::GetLastError();
    if (!InUse(code) || attempt >= kInUseRetries) {
      error = ErrnoOf(code);
      return INVALID_HANDLE_VALUE;
    }
    ::Sleep(kInUseRetryMs);
  }
}

}  // namespace

std::string ArchiveTarget(const char* path) {
  const std::string resolved = ResolvePath(path);
  const DWORD attributes = ::GetFileAttributesW(SystemPath(resolved).c_str());
  if (!IsReparse(attributes)) return resolved;
  HANDLE handle = ::CreateFileW(SystemPath(resolved).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return resolved;  // leads nowhere
  const std::string real = internal::PathOfHandle(AsNative(handle));
  ::CloseHandle(handle);
  return real.empty() ? resolved : real;
}

bool IdentityOf(std::FILE* f, FileIdentity& identity) {
  NodeFacts facts;
  if (!FactsOf(f, facts)) return false;
  identity = IdentityOfFacts(facts);
  return true;
}

bool IdentityOfPath(const char* path, FileIdentity& identity) {
  NodeFacts facts;
  if (!FactsOf(ResolvePath(path), facts)) return false;
  identity = IdentityOfFacts(facts);
  return true;
}

int ArchiveLock::Acquire(const char* path) {
  Release();
  const std::string target = ArchiveTarget(path);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(g_lockWaitMs);
  for (;;) {
    int error = 0;
    HANDLE handle = OpenToLock(target, error);
    if (handle == INVALID_HANDLE_VALUE) return error;
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(handle, &info)) {
      const int err = ErrnoOf(::GetLastError());
      ::CloseHandle(handle);
      return err;
    }
    const uint64_t inode = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    {
      std::lock_guard<std::mutex> guard(g_heldMutex);
      std::vector<HeldLock>& held = Held();
      for (std::size_t i = 0; i < held.size(); ++i)
        if (held[i].holders > 0 && held[i].handle != INVALID_HANDLE_VALUE &&
            held[i].device == info.dwVolumeSerialNumber && held[i].inode == inode) {
          ++held[i].holders;
          slot_ = static_cast<int>(i);
          ::CloseHandle(handle);
          return 0;
        }
    }
    int result = LockIfCurrent(handle, info, target);
    while (result == EWOULDBLOCK && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      result = LockIfCurrent(handle, info, target);
    }
    if (result == 0) {
      std::lock_guard<std::mutex> guard(g_heldMutex);
      std::vector<HeldLock>& held = Held();
      std::size_t i = 0;
      while (i < held.size() && held[i].holders > 0) ++i;
      if (i == held.size()) held.emplace_back();
      held[i] = {info.dwVolumeSerialNumber, inode, handle, 1};
      slot_ = static_cast<int>(i);
      return 0;
    }
    ::CloseHandle(handle);  // drops the lock, if this handle got it
    // The archive was replaced while we waited: lock the one there now.
    if (result != kErrorChangedOnDisk) return result;
    if (std::chrono::steady_clock::now() >= deadline) return EWOULDBLOCK;
  }
}

void ArchiveLock::Release() {
  if (slot_ < 0) return;
  std::lock_guard<std::mutex> guard(g_heldMutex);
  HeldLock& lock = Held()[static_cast<std::size_t>(slot_)];
  if (--lock.holders == 0) {
    if (lock.handle != INVALID_HANDLE_VALUE) ::CloseHandle(lock.handle);
    lock = HeldLock{};
  }
  slot_ = -1;
}

void internal::LetGoOfLockedFile(const std::string& path) {
  NodeFacts facts;
  if (!FactsOf(path, facts)) return;
  std::lock_guard<std::mutex> guard(g_heldMutex);
  for (HeldLock& lock : Held())
    if (lock.holders > 0 && lock.handle != INVALID_HANDLE_VALUE && lock.device == facts.device &&
        lock.inode == facts.inode) {
      // The holders keep their slot until they release it; the handle goes
      // now, as the file it locks is about to be replaced.
      ::CloseHandle(lock.handle);
      lock.handle = INVALID_HANDLE_VALUE;
    }
}

int ArchiveLockWaitMs() { return g_lockWaitMs; }
void SetArchiveLockWaitMs(int milliseconds) { g_lockWaitMs = milliseconds; }

int MayReplace(std::FILE* archive) {
  NodeFacts facts;
  if (!FactsOf(archive, facts)) return errno;
  return facts.readOnly ? EACCES : 0;
}

// Windows files have no mode bits or owner to hand on; the attributes go
// over when the new file takes the archive's place (ReplaceDurably).
void TakeOverModeAndOwner(std::FILE*, std::FILE*) {}

}  // namespace vzrfs

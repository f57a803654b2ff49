// writeguard.cpp - what keeps two writers of one archive from losing each
// other's change, on Windows: the lock (LockFileEx on the archive path's
// lock file),
// the identity a writer read, the real file behind a link, and the
// permission check.
#include <io.h>

#include <cerrno>
#include <cwchar>
#include <cwctype>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "fileservices.h"
#include "fileservices_internal.h"
#include "paths.h"
#include "wide.h"

namespace vzrfs {

using namespace win32;

namespace {

int g_lockWaitMs = 5000;

// The locks this process holds, so that a second lock of the same archive
// nests instead of waiting for the first (locks of two handles of one
// process exclude each other).
struct HeldLock {
  std::wstring key;
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

// The file a writer of the archive at path (its real file, in the long
// form) locks: one per archive path, in a folder of the user's temporary
// files. Windows moves no file over one that is open, so the lock cannot
// be on the archive itself and still be held while the new copy takes its
// place; a path's lock file outlives each archive that stands there.
std::wstring LockFileOf(const std::wstring& archive) {
  uint64_t hash = 1469598103934665603ULL;  // FNV-1a of the path, letter case folded
  for (const wchar_t c : archive) {
    hash ^= static_cast<uint64_t>(std::towlower(c));
    hash *= 1099511628211ULL;
  }
  std::wstring folder(MAX_PATH + 1, L'\0');
  folder.resize(::GetTempPathW(static_cast<DWORD>(folder.size()), folder.data()));
  folder += L"vzr-writers";
  ::CreateDirectoryW(folder.c_str(), nullptr);
  wchar_t name[32];
  std::swprintf(name, 32, L"\\%016llx.lock", static_cast<unsigned long long>(hash));
  return folder + name;
}

bool TryLock(HANDLE handle) {
  OVERLAPPED at{};
  return ::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
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
  // The archive must be there, and not held by a program that shares
  // nothing (a game, an editor): that is told as the archive in use.
  int error = 0;
  HANDLE archive = OpenToLock(target, error);
  if (archive == INVALID_HANDLE_VALUE) return error;
  ::CloseHandle(archive);
  const std::wstring key = LockFileOf(SystemPath(target));
  {
    std::lock_guard<std::mutex> guard(g_heldMutex);
    std::vector<HeldLock>& held = Held();
    for (std::size_t i = 0; i < held.size(); ++i)
      if (held[i].holders > 0 && held[i].key == key) {
        ++held[i].holders;
        slot_ = static_cast<int>(i);
        return 0;
      }
  }
  HANDLE handle = ::CreateFileW(key.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return ErrnoOf(::GetLastError());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(g_lockWaitMs);
  bool locked = TryLock(handle);
  while (!locked && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    locked = TryLock(handle);
  }
  if (!locked) {
    ::CloseHandle(handle);
    return EWOULDBLOCK;
  }
  std::lock_guard<std::mutex> guard(g_heldMutex);
  std::vector<HeldLock>& held = Held();
  std::size_t i = 0;
  while (i < held.size() && held[i].holders > 0) ++i;
  if (i == held.size()) held.emplace_back();
  held[i] = {key, handle, 1};
  slot_ = static_cast<int>(i);
  return 0;
}

void ArchiveLock::Release() {
  if (slot_ < 0) return;
  std::lock_guard<std::mutex> guard(g_heldMutex);
  HeldLock& lock = Held()[static_cast<std::size_t>(slot_)];
  if (--lock.holders == 0) {
    ::CloseHandle(lock.handle);  // the system drops the lock with it
    lock = HeldLock{};
  }
  slot_ = -1;
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

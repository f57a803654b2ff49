// temporaries.cpp - the temporary files an interruption must not leave
// behind, on Windows: absolute UTF-16 paths under one lock, which the
// interruption handler's thread takes before it deletes them.
#include "temporaries_internal.h"

#include <mutex>
#include <set>

#include "fileservices.h"
#include "wide.h"

namespace vzrfs {
namespace {

std::recursive_mutex& Guard() {
  static std::recursive_mutex guard;
  return guard;
}
std::set<std::wstring>& Registered() {
  static std::set<std::wstring> paths;
  return paths;
}

}  // namespace

namespace temporaries {

void RegisterPath(const std::string& path) {
  std::lock_guard<std::recursive_mutex> lock(Guard());
  Registered().insert(win32::SystemPath(path));
}

void ReleasePath(const std::string& path) {
  std::lock_guard<std::recursive_mutex> lock(Guard());
  if (!Registered().empty()) Registered().erase(win32::SystemPath(path));
}

SignalsHeld::SignalsHeld() { Guard().lock(); }
SignalsHeld::~SignalsHeld() { Guard().unlock(); }

}  // namespace temporaries

void RegisterTemporary(const char* path) {
  if (path && *path) temporaries::RegisterPath(path);
}

void ReleaseTemporary(const char* path) {
  if (path && *path) temporaries::ReleasePath(path);
}

void RemoveTemporaries() {
  std::lock_guard<std::recursive_mutex> lock(Guard());
  // A file still open is deleted once its last handle closes (every
  // temporary is opened shared for deletion); the process ends right after.
  for (const std::wstring& path : Registered()) {
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(path.c_str());
  }
  Registered().clear();
}

}  // namespace vzrfs

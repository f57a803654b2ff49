// fileservices_native.cpp - handles, facts and positional reads on Windows.
#include <io.h>

#include <cerrno>
#include <cstring>

#include "fileservices.h"
#include "fileservices_internal.h"
#include "paths.h"
#include "wide.h"

namespace vzrfs {

using namespace win32;

// The runtime has no ESTALE: the number Linux gives it, which no Windows
// error maps to.
const int kErrorChangedOnDisk = 116;

bool CloseNativeHandle(NativeHandle handle) { return ::CloseHandle(AsHandle(handle)) != 0 || Fail(); }

std::size_t MaxNameLength() { return 255; }

bool RefusesWindowsNames() { return true; }

std::string ErrorText(int error) {
  if (error == kErrorChangedOnDisk) return "File changed on disk";
  // What a sharing violation maps to: a file another program holds.
  if (error == EBUSY) return "in use by another program";
  return std::strerror(error);
}

bool IsAbsolute(const std::string& path) {
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) return true;  // UNC or device
  return path.size() >= 3 && ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':' &&
         IsSeparator(path[2]);
}

namespace {

// 100-nanosecond ticks since 1601 to seconds and nanoseconds since 1970.
void FillTime(const FILETIME& time, NodeFacts& facts) {
  const uint64_t ticks = (uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  constexpr uint64_t kEpochTicks = 116444736000000000ULL;
  const int64_t since1970 = static_cast<int64_t>(ticks - kEpochTicks);
  facts.modifiedSeconds = since1970 / 10000000;
  facts.modifiedNanoseconds = static_cast<int32_t>((since1970 % 10000000) * 100);
}

bool FillFromHandle(HANDLE handle, NodeFacts& facts) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(handle, &info)) return Fail();
  facts.kind = IsReparse(info.dwFileAttributes)                      ? NodeKind::Link
               : (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? NodeKind::Folder
               : ::GetFileType(handle) == FILE_TYPE_DISK            ? NodeKind::File
                                                                    : NodeKind::Other;
  facts.size = (uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  facts.device = info.dwVolumeSerialNumber;
  facts.inode = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  facts.names = info.nNumberOfLinks;
  facts.readOnly = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  FillTime(info.ftLastWriteTime, facts);
  return true;
}

}  // namespace

bool FactsOf(const std::string& path, NodeFacts& facts, bool followLinks) {
  facts = NodeFacts{};
  const std::wstring wide = SystemPath(path);
  // Opened for its attributes only, shared every way: no program that holds
  // the file is disturbed, and a folder opens too.
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  HANDLE handle = ::CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    // A file held without any sharing still shows its attributes.
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!InUse(::GetLastError()) || !::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) return Fail();
    facts.kind = IsReparse(data.dwFileAttributes) && !followLinks ? NodeKind::Link
                 : (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? NodeKind::Folder
                                                                      : NodeKind::File;
    facts.size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    facts.readOnly = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    FillTime(data.ftLastWriteTime, facts);
    return true;
  }
  const bool filled = FillFromHandle(handle, facts);
  ::CloseHandle(handle);
  if (filled && followLinks && facts.kind == NodeKind::Link) facts.kind = NodeKind::Other;
  return filled;
}

bool FactsOf(std::FILE* f, NodeFacts& facts) {
  facts = NodeFacts{};
  if (!f) return false;
  const intptr_t handle = ::_get_osfhandle(::_fileno(f));
  return handle != -1 && FillFromHandle(AsHandle(handle), facts);
}

std::string internal::PathOfHandle(NativeHandle handle) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetFinalPathNameByHandleW(AsHandle(handle), path.data(), static_cast<DWORD>(path.size()),
                                                FILE_NAME_NORMALIZED);
    if (n == 0) return std::string();
    if (n < path.size()) {
      path.resize(n);
      return EnginePath(path);
    }
    path.resize(n + 1);
  }
}

PositionalFile OpenPositional(const char* path, NodeFacts& facts) {
  const std::wstring wide = SystemPath(ResolvePath(path));
  HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    Fail();
    return PositionalFile();
  }
  PositionalFile file(AsNative(handle));
  if (!FillFromHandle(handle, facts)) return PositionalFile();
  if (facts.kind == NodeKind::Folder) {
    errno = EISDIR;
    return PositionalFile();
  }
  return file;
}

int64_t ReadSomeAt(const PositionalFile& file, uint64_t offset, void* data, std::size_t n) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  const DWORD want = n > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n);
  if (::ReadFile(AsHandle(file.Native()), data, want, &got, &at)) return got;
  if (::GetLastError() == ERROR_HANDLE_EOF) return 0;
  Fail();
  return -1;
}

bool EnterFolder(const Folder& dir) {
  return dir && SetCurrentDir(dir.Path().c_str());
}

}  // namespace vzrfs

// wide.cpp - UTF-8 <-> UTF-16, long paths and error numbers on Windows.
#include "wide.h"

#include <cerrno>
#include <vector>

#include "fileservices.h"
#include "paths.h"

namespace vzrfs::win32 {

std::wstring Widen(std::string_view utf8) {
  if (utf8.empty()) return std::wstring();
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

std::string Narrow(std::wstring_view utf16) {
  if (utf16.empty()) return std::string();
  const int n =
      ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), narrow.data(), n, nullptr, nullptr);
  return narrow;
}

std::wstring SystemPath(const std::string& path) {
  std::wstring wide = Widen(path.empty() ? std::string(".") : path);
  for (wchar_t& c : wide)
    if (c == L'/') c = L'\\';
  if (wide.rfind(L"\\\\?\\", 0) == 0 || wide.rfind(L"\\\\.\\", 0) == 0) return wide;
  // GetFullPathNameW makes it absolute and folds "." and ".." the way the
  // system would; the long form then keeps every other name as written.
  const DWORD n = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return wide;
  std::wstring full(n, L'\0');
  const DWORD got = ::GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
  full.resize(got);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::string EnginePath(std::wstring_view path) {
  std::string narrow = Narrow(path);
  if (narrow.rfind("\\\\?\\UNC\\", 0) == 0) narrow = "//" + narrow.substr(8);
  else if (narrow.rfind("\\\\?\\", 0) == 0) narrow = narrow.substr(4);
  ToSlashes(narrow);
  return narrow;
}

int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS: return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_CANNOT_MAKE:
      return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
      return EBUSY;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW:
      return ENAMETOOLONG;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_PARAMETER:
      return EINVAL;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_NOT_SUPPORTED:
      return EOPNOTSUPP;
    case ERROR_CANT_RESOLVE_FILENAME:
      return ELOOP;
    default:
      return EIO;
  }
}

bool Fail() {
  errno = ErrnoOf(::GetLastError());
  return false;
}

}  // namespace vzrfs::win32

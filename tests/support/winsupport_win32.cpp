// winsupport_win32.cpp - the Windows calls behind winsupport.h.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winioctl.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "winsupport.h"

namespace testutil {

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Narrow(const std::wstring& utf16) {
  if (utf16.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), nullptr, 0, nullptr,
                                      nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::string LastErrorText() {
  const DWORD code = ::GetLastError();
  wchar_t* text = nullptr;
  ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string words = text ? Narrow(text) : std::string();
  if (text) ::LocalFree(text);
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r')) words.pop_back();
  return "error " + std::to_string(code) + (words.empty() ? "" : ": " + words);
}

HeldOpen::HeldOpen(const std::string& path)
    : handle_(::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}

HeldOpen::~HeldOpen() { Release(); }

bool HeldOpen::Valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }

void HeldOpen::Release() {
  if (Valid()) ::CloseHandle(handle_);
  handle_ = nullptr;
}

namespace {

// The mount-point form of REPARSE_DATA_BUFFER (the SDK's own is kernel-mode only).
struct MountPointReparse {
  DWORD tag;
  WORD dataLength;
  WORD reserved;
  WORD substituteOffset, substituteLength, printOffset, printLength;
  wchar_t names[1];
};

}  // namespace

bool MakeJunction(const std::string& link, const std::string& target, std::string& why) {
  if (!::CreateDirectoryW(Wide(link).c_str(), nullptr)) return why = "CreateDirectoryW: " + LastErrorText(), false;
  wchar_t full[MAX_PATH * 4];
  if (!::GetFullPathNameW(Wide(target).c_str(), MAX_PATH * 4, full, nullptr))
    return why = "GetFullPathNameW: " + LastErrorText(), false;
  const std::wstring substitute = L"\\??\\" + std::wstring(full);
  const std::wstring print = full;
  const std::size_t nameBytes = (substitute.size() + 1 + print.size() + 1) * sizeof(wchar_t);
  std::vector<unsigned char> buffer(offsetof(MountPointReparse, names) + nameBytes);
  auto* data = reinterpret_cast<MountPointReparse*>(buffer.data());
  data->tag = IO_REPARSE_TAG_MOUNT_POINT;
  data->dataLength = static_cast<WORD>(buffer.size() - 8);
  data->substituteOffset = 0;
  data->substituteLength = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
  data->printOffset = static_cast<WORD>((substitute.size() + 1) * sizeof(wchar_t));
  data->printLength = static_cast<WORD>(print.size() * sizeof(wchar_t));
  std::memcpy(data->names, substitute.c_str(), (substitute.size() + 1) * sizeof(wchar_t));
  std::memcpy(data->names + substitute.size() + 1, print.c_str(), (print.size() + 1) * sizeof(wchar_t));

  HANDLE folder = ::CreateFileW(Wide(link).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return why = "CreateFileW: " + LastErrorText(), false;
  DWORD returned = 0;
  const bool made = ::DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, buffer.data(), static_cast<DWORD>(buffer.size()),
                                      nullptr, 0, &returned, nullptr);
  if (!made) why = "FSCTL_SET_REPARSE_POINT: " + LastErrorText();
  ::CloseHandle(folder);
  if (!made) ::RemoveDirectoryW(Wide(link).c_str());
  return made;
}

bool MakeSymlink(const std::string& link, const std::string& target, bool toFolder, std::string& why) {
  const DWORD flags = (toFolder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | 0x2 /* ALLOW_UNPRIVILEGED_CREATE */;
  if (::CreateSymbolicLinkW(Wide(link).c_str(), Wide(target).c_str(), flags)) return true;
  why = "CreateSymbolicLinkW: " + LastErrorText();
  return false;
}

bool IsReparsePoint(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool SendCtrlBreak(long processId) {
  return ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, static_cast<DWORD>(processId));
}

unsigned long AttributesOf(const std::string& path) { return ::GetFileAttributesW(Wide(path).c_str()); }

bool SetAttributes(const std::string& path, unsigned long attributes) {
  return ::SetFileAttributesW(Wide(path).c_str(), attributes);
}

}  // namespace testutil

// wide.h - what the Win32 realisation shares: UTF-8 <-> UTF-16, the long
// path form of every path handed to the system, and the system's error
// codes as errno numbers. Internal to the platform room.
#pragma once

#include <windows.h>
// The file services have a DeleteFile of their own.
#undef DeleteFile

#include <cstdint>
#include <string>
#include <string_view>

namespace vzrfs::win32 {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

// path (UTF-8, '/' or '\') as the system is to get it: absolute, with '\',
// in the "\\?\" form that lifts the 260-character limit (and takes names
// as written: no trailing dot or space is dropped).
std::wstring SystemPath(const std::string& path);
// A path the system gave back, as the engine writes paths: UTF-8 with '/',
// without the "\\?\" prefix.
std::string EnginePath(std::wstring_view path);

// The errno number of a system error code.
int ErrnoOf(DWORD error);
// Sets errno from GetLastError(); returns false for use in "return Fail();".
bool Fail();

inline HANDLE AsHandle(std::intptr_t native) { return reinterpret_cast<HANDLE>(native); }
inline std::intptr_t AsNative(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

// Whether a file's attributes say it is a link of some kind (a symbolic
// link, a junction, or any other reparse point).
inline bool IsReparse(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// A file another program holds is tried again this often, this far apart,
// before the operation is refused: a game or an editor that has just let
// go, or a virus scanner's look, is waited out.
inline constexpr int kInUseRetries = 20;
inline constexpr DWORD kInUseRetryMs = 100;

// A sharing violation or lock conflict: another program holds the file.
inline bool InUse(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION; }

}  // namespace vzrfs::win32

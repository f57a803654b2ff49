// winsupport.h - what the Windows-only tests ask of Windows itself, behind
// plain declarations, so that no test file takes in <windows.h> (whose
// macros rename DeleteFile, CopyFile and the like).
#pragma once

#include <memory>
#include <string>

namespace testutil {

// UTF-8 to UTF-16 and back.
std::wstring Wide(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);

// A file kept open, as a game or an editor keeps it: shared for reading and
// writing but not for deletion or renaming over it (no FILE_SHARE_DELETE).
class HeldOpen {
 public:
  explicit HeldOpen(const std::string& path);
  ~HeldOpen();
  HeldOpen(const HeldOpen&) = delete;
  HeldOpen& operator=(const HeldOpen&) = delete;
  bool Valid() const;
  void Release();

 private:
  void* handle_;
};

// Plants a junction (a mount-point reparse point) at link leading to the
// folder target; false with the system's words in why when it cannot.
bool MakeJunction(const std::string& link, const std::string& target, std::string& why);
// Plants a symbolic link at link to target (a folder link when toFolder);
// false with the system's words in why when it cannot.
bool MakeSymlink(const std::string& link, const std::string& target, bool toFolder, std::string& why);
// Whether path is a reparse point (not followed).
bool IsReparsePoint(const std::string& path);

// Sends Ctrl+Break to the console process group of processId (a process
// started with ownConsoleGroup); false when the system refused.
bool SendCtrlBreak(long processId);

// The file attributes of path (FILE_ATTRIBUTE_*), 0xFFFFFFFF when none.
unsigned long AttributesOf(const std::string& path);
bool SetAttributes(const std::string& path, unsigned long attributes);
// The bits of FILE_ATTRIBUTE_READONLY and FILE_ATTRIBUTE_HIDDEN.
inline constexpr unsigned long kReadOnlyAttribute = 0x1, kHiddenAttribute = 0x2;

// The system's words for its last error.
std::string LastErrorText();

}  // namespace testutil

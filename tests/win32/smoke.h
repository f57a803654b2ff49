// smoke.h - what the smoke tests of the Win32 windows share: starting a
// program, finding its window by caption, reading and setting its controls
// from outside, a screenshot, and the test's verdict. Each test is a console
// program that exits 0 (passed), 1 (failed) or 77 (skipped).
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

namespace smoke {

inline constexpr int kPassed = 0;
inline constexpr int kFailed = 1;
inline constexpr int kSkipped = 77;

// A started program; it is ended when the object goes and it still runs.
class Program {
 public:
  // exe is started with arguments (the command line after its name) in folder.
  Program(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder);
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  bool Started() const { return info_.hProcess != nullptr; }
  HANDLE Process() const { return info_.hProcess; }
  DWORD Id() const { return info_.dwProcessId; }
  // True once the program ended within the time.
  bool WaitForExit(std::chrono::milliseconds timeout);

 private:
  PROCESS_INFORMATION info_ = {};
};

// Polls until the predicate holds or the time is up.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// The visible top-level window of process pid with this caption, or null.
HWND FindWindowOf(DWORD pid, const std::wstring& caption);

// A control's text, read with WM_GETTEXT (which the system carries across
// processes), and set with WM_SETTEXT.
std::wstring Text(HWND control);
void SetText(HWND control, const std::wstring& text);

// Selects row alone in another process's list view: the item record the
// message points at must live in that process.
bool SelectListRow(HANDLE process, HWND list, int row);

// Clicks a button and returns once its command has run.
void Click(HWND button);

// What the screen shows of the window, as a 24-bit BMP file.
bool SaveScreenshot(HWND window, const std::wstring& path);

// A fresh folder for the test's files, removed with it.
class TempFolder {
 public:
  explicit TempFolder(const std::wstring& name);
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::wstring& Path() const { return path_; }

 private:
  std::wstring path_;
};

bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);

// Reports a failed check and counts it.
int& Failures();
void Check(bool ok, const char* what);

}  // namespace smoke

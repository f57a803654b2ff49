// VzrPack.exe: one window, run modally; the program ends with it. It works
// from the folder it is started in, which must be the mod's Archives folder.
#include <windows.h>

#include <commctrl.h>

#include <string>

#include "quickpackwindow.h"

namespace {

std::wstring FolderName(const std::wstring& path) {
  std::wstring trimmed = path;
  while (!trimmed.empty() && (trimmed.back() == L'\\' || trimmed.back() == L'/')) trimmed.pop_back();
  return trimmed.substr(trimmed.find_last_of(L"\\/") + 1);
}

// A program copied into a mod's Archives folder may be started with another
// working directory (a shortcut's, a console's): it then works from its own
// folder, as a double-click in that folder would.
void WorkFromArchivesFolder() {
  wchar_t current[MAX_PATH] = {};
  wchar_t program[MAX_PATH] = {};
  if (GetCurrentDirectoryW(MAX_PATH, current) == 0 || GetModuleFileNameW(nullptr, program, MAX_PATH) == 0) return;
  std::wstring programFolder = program;
  programFolder.erase(programFolder.find_last_of(L"\\/"));
  if (CompareStringOrdinal(FolderName(current).c_str(), -1, L"Archives", -1, TRUE) == CSTR_EQUAL) return;
  if (CompareStringOrdinal(FolderName(programFolder).c_str(), -1, L"Archives", -1, TRUE) != CSTR_EQUAL) return;
  SetCurrentDirectoryW(programFolder.c_str());
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  WorkFromArchivesFolder();
  quickpack_win32::QuickPackWindow window;  // message boxes without a caption show the program's name
  window.DoModal(nullptr);
  return 0;
}

// VZR_Toolset.exe: browse, view, edit, extract and pack .vzr archives. A .vzr
// path on the command line (what a double-click in Explorer sends) is opened
// once the window is up.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "toolsetwindow.h"
#include "winhost.h"
#include "wintext.h"

namespace {

std::vector<std::string> CommandLineArguments() {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(win32ui::Narrow(argv[i]));
  LocalFree(argv);
  return arguments;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // The rich edit control must be registered before the template names it;
  // the folder browser's new style wants OLE on this thread.
  HMODULE richEdit = LoadLibraryW(L"Msftedit.dll");
  const HRESULT ole = OleInitialize(nullptr);
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  win32ui::SetApplicationName("VZR_Toolset");
  {
    toolset_win32::ToolsetWindow window;
    if (const auto path = present::StartupArchivePath(CommandLineArguments())) window.OpenWhenShown(*path);
    try {
      window.DoModal(nullptr);
    } catch (...) {
      win32ui::Ask(window.Handle(), {"MAJOR CRASH!\ndlg.DoModal()", "ERROR!", present::Buttons::Ok, present::Icon::Error});
    }
  }
  if (SUCCEEDED(ole)) OleUninitialize();
  if (richEdit != nullptr) FreeLibrary(richEdit);
  return 0;
}

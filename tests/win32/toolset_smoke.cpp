// toolset_smoke - VZR_Toolset.exe as a user meets it: started on an archive
// this test made, its window found by caption, a script entry selected,
// changed and saved, the window closed; then the archive's bytes are read
// back with the engine.
//   toolset_smoke VZR_TOOLSET_EXE SCREENSHOT_BMP
#include <windows.h>

#include <string>

#include "smoke.h"
#include "vzrpack.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kScriptName = "data/scripts/init.con";
// Windows-1252 text with CR LF line ends: the é must show as é and come back
// as the one byte E9, and every CR LF must come back.
const std::string kScript = "// caf\xe9 start\r\nset speed 1\r\n";
const std::wstring kEdited = L"// caf\u00e9 start\r\nset speed 2\r\n";
const std::string kEditedBytes = "// caf\xe9 start\r\nset speed 2\r\n";

int RowOf(VzrArchive& archive, const char* name) {
  for (uint32_t i = 0; i < archive.FileIndex.count; ++i)
    if (std::string(archive.FileIndex.files[i].name) == name) return static_cast<int>(i);
  return -1;
}

std::string EntryBytes(const std::string& archivePath, const char* name) {
  VzrArchive archive;
  archive.LoadIndex(archivePath.c_str());
  const int row = RowOf(archive, name);
  if (row < 0) return "(no entry)";
  const unsigned char* data = archive.Extract(static_cast<uint32_t>(row), nullptr);
  if (data == nullptr) return "(unreadable)";
  return std::string(reinterpret_cast<const char*>(data), archive.FileIndex.files[row].fileSize);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: toolset_smoke VZR_TOOLSET_EXE SCREENSHOT_BMP\n");
    return smoke::kFailed;
  }
  SetTraceSink([](const std::string&) {});  // the engine's trace would drown the checks
  smoke::TempFolder folder(L"vzr-toolset-smoke");
  const std::string root = smoke::Narrow(folder.Path());
  smoke::WriteFileBytes(folder.Path() + L"\\src\\scripts\\init.con", kScript);
  smoke::WriteFileBytes(folder.Path() + L"\\src\\maps\\ground.dds", std::string("DDS \x7c\0\0\0", 8));
  std::string source = root + "\\src", base = "data", archivePath = root + "\\test.vzr";
  source.resize(512);
  base.resize(512);
  PackDirectory(source.data(), base.data(), archivePath.c_str(), 1);
  VzrArchive made;
  made.LoadIndex(archivePath.c_str());
  const int row = RowOf(made, kScriptName);
  if (made.FileIndex.count != 2 || row < 0) {
    std::fprintf(stderr, "the engine could not make the test archive\n");
    return smoke::kFailed;
  }

  smoke::Program toolset(argv[1], L"\"" + smoke::Widen(archivePath) + L"\"", folder.Path());
  if (!toolset.Started()) return smoke::kFailed;
  HWND window = nullptr;
  smoke::WaitFor([&] { return (window = smoke::FindWindowOf(toolset.Id(), L"winVZR 2.05")) != nullptr; }, 60s);
  smoke::Check(window != nullptr, "the window is found by its caption");
  if (window == nullptr) return smoke::kFailed;
  HWND list = GetDlgItem(window, 1001);
  HWND status = GetDlgItem(window, 1012);
  HWND label = GetDlgItem(window, 1014);
  HWND save = GetDlgItem(window, 1017);
  HWND editor = GetDlgItem(window, 1024);

  smoke::Check(smoke::WaitFor([&] { return smoke::Text(status) == L"Files: 2"; }, 20s),
               "the archive named on the command line is open: \"Files: 2\"");
  smoke::Check(smoke::SelectListRow(toolset.Process(), list, row), "the script's row is selected");
  smoke::Check(smoke::WaitFor([&] { return smoke::Text(label) == smoke::Widen(kScriptName); }, 20s),
               "the current-file label names the script");
  smoke::Check(smoke::Text(editor).find(L"caf\u00e9 start") != std::wstring::npos,
               "the editor shows the Windows-1252 text with its accent");
  smoke::Check(IsWindowEnabled(save) && IsWindowEnabled(editor), "Save Changes and the editor are enabled");

  smoke::SetText(editor, kEdited);
  smoke::Click(save);
  const std::wstring after = smoke::Text(status);
  smoke::Check(after.size() >= 17 && after.compare(after.size() - 17, 17, L".vzr was updated.") == 0,
               "the status line says the archive was updated");
  Sleep(500);  // let the window paint before it is captured
  smoke::Check(smoke::SaveScreenshot(window, argv[2]), "a screenshot is kept");

  PostMessageW(window, WM_CLOSE, 0, 0);
  smoke::Check(toolset.WaitForExit(20s), "the window closes without a question after the save");

  const std::string bytes = EntryBytes(archivePath, kScriptName);
  smoke::Check(bytes == kEditedBytes, "the archive holds the edited script, CR LF and the byte E9 as they were");
  if (bytes != kEditedBytes) std::printf("  stored: \"%s\" (%zu bytes)\n", bytes.c_str(), bytes.size());
  return smoke::Failures() == 0 ? smoke::kPassed : smoke::kFailed;
}

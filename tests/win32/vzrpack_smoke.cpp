// vzrpack_smoke - VzrPack.exe as a user meets it: copied into the Archives
// folder of a test mod and started there, its window found by caption, the
// mod's folder packed with Pack Folder, the window closed; then the archive
// is read back with the engine.
//   vzrpack_smoke VZRPACK_EXE SCREENSHOT_BMP
#include <windows.h>

#include <map>
#include <string>

#include "smoke.h"
#include "vzrpack.h"

namespace {

using namespace std::chrono_literals;

const std::map<std::string, std::string> kObjects = {
    {"Objects/crate.txt", "wooden crate\r\nweight 12\r\n"},
    {"Objects/props/lamp.txt", "lamp \xc3\xab brass\n"},
};

std::map<std::string, std::string> ArchiveContents(const std::string& path) {
  std::map<std::string, std::string> contents;
  VzrArchive archive;
  archive.LoadIndex(path.c_str());
  for (uint32_t i = 0; i < archive.FileIndex.count; ++i) {
    const unsigned char* data = archive.Extract(i, nullptr);
    contents[archive.FileIndex.files[i].name] =
        data ? std::string(reinterpret_cast<const char*>(data), archive.FileIndex.files[i].fileSize) : "(unreadable)";
  }
  return contents;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: vzrpack_smoke VZRPACK_EXE SCREENSHOT_BMP\n");
    return smoke::kFailed;
  }
  SetTraceSink([](const std::string&) {});  // the engine's trace would drown the checks
  smoke::TempFolder folder(L"vzr-pack-smoke");
  const std::wstring mod = folder.Path() + L"\\Mod";
  for (const auto& [name, bytes] : kObjects) {
    std::wstring path = mod + L"\\" + smoke::Widen(name);
    for (wchar_t& c : path)
      if (c == L'/') c = L'\\';
    smoke::WriteFileBytes(path, bytes);
  }
  CreateDirectoryW((mod + L"\\Archives").c_str(), nullptr);
  const std::wstring program = mod + L"\\Archives\\VzrPack.exe";
  smoke::Check(CopyFileW(argv[1], program.c_str(), FALSE) != 0, "VzrPack.exe is copied into the mod's Archives folder");

  // Started from elsewhere, as a shortcut may: it works from its own folder.
  smoke::Program vzrpack(program, L"", folder.Path());
  if (!vzrpack.Started()) return smoke::kFailed;
  HWND window = nullptr;
  smoke::WaitFor([&] { return (window = smoke::FindWindowOf(vzrpack.Id(), L"Vzr Mod Quick Pack 1.3")) != nullptr; },
                 60s);
  smoke::Check(window != nullptr, "the window is found by its caption");
  if (window == nullptr) return smoke::kFailed;
  HWND folders = GetDlgItem(window, 1006);
  HWND status = GetDlgItem(window, 1008);
  smoke::Check(smoke::WaitFor([&] { return smoke::Text(folders) == L"Objects"; }, 20s),
               "the folder list offers the mod's Objects folder");

  smoke::Click(GetDlgItem(window, 1007));
  const std::wstring after = smoke::Text(status);
  smoke::Check(after.rfind(L"Files packed", 0) == 0, "the status line tells the files packed");
  if (after.rfind(L"Files packed", 0) != 0) std::printf("  status: %s\n", smoke::Narrow(after).c_str());
  Sleep(500);
  smoke::Check(smoke::SaveScreenshot(window, argv[2]), "a screenshot is kept");

  PostMessageW(window, WM_CLOSE, 0, 0);
  smoke::Check(vzrpack.WaitForExit(20s), "the window closes");

  const auto contents = ArchiveContents(smoke::Narrow(mod + L"\\Archives\\Objects.vzr"));
  smoke::Check(contents == kObjects, "Archives/Objects.vzr holds the folder's files under Objects/");
  for (const auto& [name, bytes] : contents) std::printf("  entry %s: %zu bytes\n", name.c_str(), bytes.size());
  return smoke::Failures() == 0 ? smoke::kPassed : smoke::kFailed;
}

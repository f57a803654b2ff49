// toolset_open_win32 - what opening a large archive costs in the Win32 main
// window, under wine or on Windows.
//
// File > Open .vzr on an archive of 100,000 entries in the real window
// (OnFileOpen through the scripted file dialog, FillFileList, then the
// messages the open left and the paint of the list and the status line),
// against LoadIndex alone on the same archive. The list is virtual: it asks
// only for the rows it shows, so the window should add little; the goal is
// a ratio of at most 1.2. The repetitions of the two run interleaved, and
// the ratio is the median of the paired repetitions, with its spread.
//   toolset_open_win32 [REPETITIONS]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "archivebytes.h"
#include "toolsetwindow.h"
#include "winscript.h"
#include "vzrpack.h"

namespace {

constexpr int kEntries = 100000;
using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

std::string WriteLargeArchive(const std::string& folder) {
  testutil::ArchiveLayout layout;
  layout.entries.reserve(kEntries);
  char name[64];
  for (int i = 0; i < kEntries; ++i) {
    std::snprintf(name, sizeof name, "objects/group%03d/part%06d.con", i / 1000, i);
    layout.AddRaw(name, "unit.spawn x\r\n");
  }
  const std::string path = folder + "\\large.vzr";
  layout.WriteTo(path);
  return path;
}

// Handles every message waiting, then paints what is still invalid.
void HandleWaitingMessages(HWND window) {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int repetitions = argc > 1 ? std::max(3, std::atoi(argv[1])) : 9;
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  const std::string folder = std::string(temp) + "vzr-open-bench";
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::string path = WriteLargeArchive(folder);
  SetTraceSink([](const std::string&) {});  // the figures alone go to standard output

  LoadLibraryW(L"Msftedit.dll");
  toolset_win32::ToolsetWindow window;
  if (!window.Create(nullptr)) {
    std::fprintf(stderr, "the window could not be created\n");
    return 1;
  }
  HandleWaitingMessages(window.Handle());

  std::vector<double> loads, opens, ratios;
  for (int i = 0; i < repetitions; ++i) {
    {
      auto archive = std::make_unique<VzrArchive>();
      const auto start = Clock::now();
      archive->LoadIndex(path.c_str());
      loads.push_back(Milliseconds(Clock::now() - start));
      if (archive->FileIndex.count != kEntries) {
        std::fprintf(stderr, "the archive did not load whole\n");
        return 1;
      }
    }
    window.SetStatusText("Ready...");
    HandleWaitingMessages(window.Handle());
    const auto start = Clock::now();
    {
      win32ui::ScriptedAnswers script;
      script.File(path);
      window.Presenter().OnFileOpen();
    }
    HandleWaitingMessages(window.Handle());
    opens.push_back(Milliseconds(Clock::now() - start));
    if (window.StatusText() != "Files: 100000") {
      std::fprintf(stderr, "the window did not open the archive: \"%s\"\n", window.StatusText().c_str());
      return 1;
    }
    ratios.push_back(opens.back() / loads.back());
  }
  std::printf("Open of %d entries in the Win32 window, %d paired repetitions (medians):\n", kEntries, repetitions);
  std::printf("  LoadIndex alone (baseline)   %8.1f ms\n", Median(loads));
  std::printf("  File > Open .vzr in window   %8.1f ms\n", Median(opens));
  std::printf("  ratio window / LoadIndex     %8.2f  (paired, spread %.2f .. %.2f; goal <= 1.20)\n", Median(ratios),
              *std::min_element(ratios.begin(), ratios.end()), *std::max_element(ratios.begin(), ratios.end()));
  window.EndDialog(IDCANCEL);
  DeleteFileA(path.c_str());
  RemoveDirectoryA(folder.c_str());
  return 0;
}

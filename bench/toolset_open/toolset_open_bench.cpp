// toolset_open_bench - what opening a large archive costs in the window.
//
// File > Open .vzr on an archive of 100,000 entries, in the real main window
// offscreen (OnFileOpen, FillFileList, and the list's layout and paint that
// follow), against LoadIndex alone on the same archive. The list is a model
// over the index, so the window should add little: the goal is a ratio of at
// most 1.2. The same ratio is printed against the index loader LoadIndex
// replaced (bench/old_loadindex.h), so that a faster LoadIndex shows as a
// worse ratio on paper beside an unchanged open. The repetitions of the two run interleaved, so a busy spell of
// the machine hits both; the ratio is the median of the paired repetitions,
// printed with its spread. Trace lines go to /dev/null; the figures go to
// standard output.
//
// What is timed is what the user waits for and no more: the open, then the
// event loop's handling of what it left (the list's layout and the paint of
// what changed), until the list and the status line have been painted. The
// status line's throttled repaint falls inside a user's open (the file
// chooser took longer than its interval) but only inside some repetitions
// here; either way the list is laid out and painted once.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "filelistview.h"
#include "script.h"
#include "statusbinding.h"
#include "testutil.h"
#include "toolsetdialog.h"
#include "vzrpack.h"
#include "../old_loadindex.h"
#include "../repetitions.h"

namespace {

constexpr int kEntries = 100000;
// Event loop passes an open may take to show its list.
constexpr int kMaxPasses = 100;

// Counts the paint events two widgets receive.
class PaintCounter : public QObject {
 public:
  PaintCounter(QWidget* list, QWidget* status) : list_(list), status_(status) {
    list_->installEventFilter(this);
    status_->installEventFilter(this);
  }
  void Reset() { listPaints = statusPaints = 0; }
  int listPaints = 0;
  int statusPaints = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      if (watched == list_) ++listPaints;
      if (watched == status_) ++statusPaints;
    }
    return false;
  }

 private:
  QWidget* list_;
  QWidget* status_;
};

// The label that shows text in window, or null.
QLabel* LabelShowing(const QWidget& window, const QString& text) {
  for (QLabel* label : window.findChildren<QLabel*>())
    if (label->text() == text) return label;
  return nullptr;
}

std::string WriteLargeArchive(const std::string& folder) {
  testutil::ArchiveLayout layout;
  layout.entries.reserve(kEntries);
  char name[64];
  for (int i = 0; i < kEntries; ++i) {
    std::snprintf(name, sizeof name, "objects/group%03d/part%06d.con", i / 1000, i);
    layout.AddRaw(name, "unit.spawn x\r\n");
  }
  const std::string path = folder + "/large.vzr";
  layout.WriteTo(path);
  return path;
}

void LoadIndexAlone(benchmark::State& state, const std::string* path) {
  for (auto _ : state) {
    state.PauseTiming();
    auto archive = std::make_unique<VzrArchive>();
    state.ResumeTiming();
    archive->LoadIndex(path->c_str());
    benchmark::DoNotOptimize(archive->FileIndex.count);
    state.PauseTiming();
    if (archive->FileIndex.count != kEntries) state.SkipWithError("the archive did not load whole");
    archive.reset();
    state.ResumeTiming();
  }
}

void OldLoadIndexAlone(benchmark::State& state, const std::string* path) {
  for (auto _ : state) {
    state.PauseTiming();
    auto index = std::make_unique<FileIndex>();
    state.ResumeTiming();
    const bool whole = benchbase::OldLoadIndex(path->c_str(), *index);
    benchmark::DoNotOptimize(index->files.data());
    state.PauseTiming();
    if (!whole || index->count != kEntries) state.SkipWithError("the archive did not load whole");
    index.reset();
    state.ResumeTiming();
  }
}

void OpenInWindow(benchmark::State& state, toolset::ToolsetDialog* window, QLabel* statusLine, PaintCounter* paints,
                  const std::string* path) {
  for (auto _ : state) {
    state.PauseTiming();
    // The status line shows something else before each open, as it does
    // before a user's, so that the open has to paint its new text.
    statusLine->setText("Ready...");
    QApplication::processEvents();
    paints->Reset();
    state.ResumeTiming();
    vzrui::ScriptedAnswers script;
    script.File(*path);
    window->OnFileOpen();
    // What the event loop does next, until the user sees the list and the
    // status text: the list's layout (on a zero timer) and the paint of what
    // changed.
    for (int pass = 0; pass < kMaxPasses && (paints->listPaints == 0 || paints->statusPaints == 0); ++pass)
      QApplication::processEvents();
    state.PauseTiming();
    const char* fault = nullptr;
    if (window->m_strStatus != "Files: " + std::to_string(kEntries)) fault = "the window did not list it";
    if (paints->listPaints == 0) fault = "the list was not painted";
    if (paints->statusPaints == 0) fault = "the status line was not painted";
    if (fault) {
      state.SkipWithError(fault);
      break;
    }
    state.ResumeTiming();
  }
}

class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  SummaryReporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
      realTime[run.benchmark_name()].push_back(run.GetAdjustedRealTime());
      cpuTime[run.benchmark_name()].push_back(run.GetAdjustedCPUTime());
    }
  }
  std::map<std::string, std::vector<double>> realTime;
  std::map<std::string, std::vector<double>> cpuTime;
};

constexpr double kGoal = 1.2;

// The window's time over the index load's, median and spread of the paired
// repetitions, or nothing when either is missing.
void PrintRatio(std::ostream& out, const char* kind, const std::map<std::string, std::vector<double>>& times,
                const char* loader = "LoadIndex/100000", const char* loaderText = "LoadIndex alone") {
  const auto load = times.find(loader);
  const auto open = times.find("OnFileOpen+FillFileList/100000");
  if (load == times.end() || open == times.end()) return;
  std::vector<double> ratios;
  for (std::size_t i = 0; i < std::min(load->second.size(), open->second.size()); ++i)
    if (load->second[i] > 0) ratios.push_back(open->second[i] / load->second[i]);
  if (ratios.empty()) return;
  std::sort(ratios.begin(), ratios.end());
  const std::size_t m = ratios.size() / 2;
  const double median = ratios.size() % 2 ? ratios[m] : (ratios[m - 1] + ratios[m]) / 2;
  char line[200];
  std::snprintf(line, sizeof line,
                "Open in the window / %s (%s time): %.2f (%.2f-%.2f, %zu runs; goal <= %.2f) %s\n", loaderText,
                kind, median, ratios.front(), ratios.back(), ratios.size(), kGoal, median <= kGoal ? "met" : "NOT MET");
  out << line;
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The engine's and the window's trace lines would bury the figures.
  const int figures = dup(STDOUT_FILENO);
  const int devnull = open("/dev/null", O_WRONLY);
  dup2(devnull, STDOUT_FILENO);
  close(devnull);
  std::ofstream out("/dev/fd/" + std::to_string(figures));

  QApplication app(argc, argv);
  // Five repetitions unless asked otherwise, interleaved.
  InitializeInterleaved(argc, argv);
  testutil::TempDir dir;
  static const std::string path = WriteLargeArchive(dir.str());
  out << "archive: " << kEntries << " entries\n";

  toolset::ToolsetDialog window;
  vzrui::ProcessStatusSink status(window);
  window.Initialize();
  window.show();
  // The user sees the window before choosing File > Open.
  QApplication::processEvents();
  QLabel* statusLine = LabelShowing(window, "Ready...");
  if (statusLine == nullptr) {
    out << "no status line showing \"Ready...\"\n";
    return 1;
  }
  PaintCounter paints(window.m_ctlFileList->viewport(), statusLine);

  benchmark::RegisterBenchmark("LoadIndex/100000", LoadIndexAlone, &path)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("OldLoadIndex/100000", OldLoadIndexAlone, &path)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("OnFileOpen+FillFileList/100000", OpenInWindow, &window, statusLine, &paints, &path)
      ->Unit(benchmark::kMillisecond);

  SummaryReporter reporter;
  reporter.SetOutputStream(&out);
  reporter.SetErrorStream(&out);
  benchmark::RunSpecifiedBenchmarks(&reporter);

  out << "\n";
  PrintRatio(out, "wall", reporter.realTime);
  PrintRatio(out, "CPU", reporter.cpuTime);
  PrintRatio(out, "wall", reporter.realTime, "OldLoadIndex/100000", "the old LoadIndex");
  PrintRatio(out, "CPU", reporter.cpuTime, "OldLoadIndex/100000", "the old LoadIndex");
  out.flush();
  benchmark::Shutdown();
  return 0;
}

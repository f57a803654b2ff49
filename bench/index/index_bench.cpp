// index_bench - what loading the index of a 100,000-entry archive costs.
//
// Three ways over the same archive, their repetitions interleaved:
//   ReadAndWalk   the floor: the index's bytes read into memory in one go,
//                 then every record walked once (its numbers summed);
//   LoadIndex     the engine's loader, which does that and fills FileIndex;
//   OldLoadIndex  the loader LoadIndex replaced (entry storage zero-filled,
//                 three freads per entry), kept here only as a baseline.
// The goal: LoadIndex within 1.5 times ReadAndWalk. Trace lines go to
// /dev/null; the figures go to standard output.
//
//   index_bench [--benchmark_repetitions=N]
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "archivebytes.h"
#include "old_loadindex.h"
#include "repetitions.h"
#include "testutil.h"
#include "vzrpack.h"

namespace {

constexpr int kEntries = 100000;
constexpr double kGoal = 1.5;

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

uint32_t Word(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The floor: header, then the index's bytes in one read, then one walk of
// the records. Returns the number of records walked.
uint32_t ReadAndWalk(const char* path, uint64_t& sum) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path, "rb"), std::fclose);
  unsigned char header[8];
  if (!f || std::fread(header, 1, 8, f.get()) != 8) return 0;
  std::fseek(f.get(), 0, SEEK_END);
  const long length = std::ftell(f.get());
  const uint32_t indexOffset = Word(header);
  const auto size = static_cast<std::size_t>(length - long(indexOffset));
  auto bytes = std::make_unique_for_overwrite<unsigned char[]>(size);
  if (std::fseek(f.get(), long(indexOffset), SEEK_SET) != 0 || std::fread(bytes.get(), 1, size, f.get()) != size) return 0;
  const uint32_t count = Word(bytes.get());
  const unsigned char* at = bytes.get() + 4;
  const unsigned char* end = bytes.get() + size;
  uint32_t k = 0;
  for (; k < count && end - at >= 28; ++k) {
    const uint32_t nameLength = Word(at);
    sum += Word(at + 4 + nameLength + 4) + at[4];
    at += 28 + nameLength;
  }
  return k;
}

void BM_ReadAndWalk(benchmark::State& state, const std::string* path) {
  for (auto _ : state) {
    uint64_t sum = 0;
    if (ReadAndWalk(path->c_str(), sum) != kEntries) state.SkipWithError("the walk did not reach every record");
    benchmark::DoNotOptimize(sum);
  }
}

void BM_LoadIndex(benchmark::State& state, const std::string* path) {
  for (auto _ : state) {
    state.PauseTiming();
    auto archive = std::make_unique<VzrArchive>();
    state.ResumeTiming();
    archive->LoadIndex(path->c_str());
    benchmark::DoNotOptimize(archive->FileIndex.files.data());
    state.PauseTiming();
    if (archive->FileIndex.count != kEntries) state.SkipWithError("the archive did not load whole");
    archive.reset();
    state.ResumeTiming();
  }
}

void BM_OldLoadIndex(benchmark::State& state, const std::string* path) {
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

class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  SummaryReporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
      if (!run.error_occurred && run.run_type == Run::RT_Iteration) {
        realTime[run.benchmark_name()].push_back(run.GetAdjustedRealTime());
        cpuTime[run.benchmark_name()].push_back(run.GetAdjustedCPUTime());
      }
  }
  std::map<std::string, std::vector<double>> realTime;
  std::map<std::string, std::vector<double>> cpuTime;
};

// Median and spread of the paired repetitions' ratio top / bottom.
void PrintRatio(std::ostream& out, const std::map<std::string, std::vector<double>>& times, const std::string& top,
                const std::string& bottom, const std::string& what, double goal) {
  const auto t = times.find(top), b = times.find(bottom);
  if (t == times.end() || b == times.end()) return;
  std::vector<double> ratios;
  for (std::size_t i = 0; i < std::min(t->second.size(), b->second.size()); ++i)
    if (b->second[i] > 0) ratios.push_back(t->second[i] / b->second[i]);
  if (ratios.empty()) return;
  std::sort(ratios.begin(), ratios.end());
  const std::size_t m = ratios.size() / 2;
  const double median = ratios.size() % 2 ? ratios[m] : (ratios[m - 1] + ratios[m]) / 2;
  char line[240];
  if (goal > 0)
    std::snprintf(line, sizeof line, "%s: %.2f (%.2f-%.2f, %zu runs; goal <= %.2f) %s\n", what.c_str(), median,
                  ratios.front(), ratios.back(), ratios.size(), goal, median <= goal ? "met" : "NOT MET");
  else
    std::snprintf(line, sizeof line, "%s: %.2f (%.2f-%.2f, %zu runs)\n", what.c_str(), median, ratios.front(), ratios.back(),
                  ratios.size());
  out << line;
}

}  // namespace

int main(int argc, char** argv) {
  // The engine's trace lines would bury the figures.
  const int figures = ::dup(STDOUT_FILENO);
  const int devnull = ::open("/dev/null", O_WRONLY);
  ::dup2(devnull, STDOUT_FILENO);
  ::close(devnull);
  std::ofstream out("/dev/fd/" + std::to_string(figures));

  InitializeInterleaved(argc, argv);
  testutil::TempDir dir;
  static const std::string path = WriteLargeArchive(dir.str());
  out << "archive: " << kEntries << " entries\n";
  const std::string n = "/" + std::to_string(kEntries);
  benchmark::RegisterBenchmark(("ReadAndWalk" + n).c_str(), BM_ReadAndWalk, &path)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark(("LoadIndex" + n).c_str(), BM_LoadIndex, &path)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark(("OldLoadIndex" + n).c_str(), BM_OldLoadIndex, &path)->Unit(benchmark::kMillisecond);
  SummaryReporter reporter;
  reporter.SetOutputStream(&out);
  reporter.SetErrorStream(&out);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  out << "\n";
  for (const auto& [kind, times] : {std::pair{"wall", &reporter.realTime}, std::pair{"CPU", &reporter.cpuTime}}) {
    const std::string in = std::string(" (") + kind + " time)";
    PrintRatio(out, *times, "LoadIndex" + n, "ReadAndWalk" + n, "LoadIndex / reading and walking the index" + in, kGoal);
    PrintRatio(out, *times, "OldLoadIndex" + n, "ReadAndWalk" + n, "old LoadIndex / reading and walking" + in, 0);
    PrintRatio(out, *times, "OldLoadIndex" + n, "LoadIndex" + n, "old LoadIndex / LoadIndex" + in, 0);
  }
  benchmark::Shutdown();
  return 0;
}

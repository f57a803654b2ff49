// compress_bench - the segment compressor beside liblzo2 in the same run, on
// one CPU: level 1 against lzo1x_1_compress and level 9 against
// lzo1x_999_compress (speed and size, text and binary), decoding of level-9
// streams by Decompression against lzo1x_decompress_safe, and
// PackDirectoryCompressed on two threads against one (the only part given
// both CPUs), on four corpora of 1 MiB: script-like text, mixed binary, and
// a second pair built differently (cue-sheet text, fixed-size records).
// Repetitions run interleaved, so a busy spell of the shared machine hits
// both sides of a pair; every ratio is printed as the median of the paired
// repetitions with their spread.
#include <benchmark/benchmark.h>
#include <lzo/lzo1x.h>
#include <sched.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "corpora.h"
#include "format.h"
#include "vzrpack.h"
#include "../repetitions.h"

namespace {

using corpora::Bytes;
constexpr std::size_t kCorpusSize = 1 << 20;
constexpr uint32_t kSegment = vzr::kSegmentSize;

constexpr int kCorpora = 4;

const Bytes& Corpus(int which) {
  static const Bytes corpus[kCorpora] = {corpora::ScriptText(kCorpusSize, 7), corpora::MixedBinary(kCorpusSize, 11),
                                         corpora::CueScript(kCorpusSize, 13), corpora::RecordFile(kCorpusSize, 17)};
  return corpus[which];
}
const char* CorpusName(int which) {
  static const char* const kNames[kCorpora] = {"text", "binary", "cues (text)", "records (binary)"};
  return kNames[which];
}

// Every repetition's time per benchmark name (CPU time, clock for BM_Pack).
std::map<std::string, std::vector<double>> g_seconds;
std::map<std::string, double> g_bytes;  // output size per benchmark name

using Streams = std::vector<Bytes>;

// Output buffers of one corpus, allocated once: the timed loops measure the
// compressors, not the allocator.
struct Outputs {
  std::vector<Bytes> buffers;
  std::vector<std::size_t> lengths;

  unsigned char* Slot(std::size_t k, std::size_t capacity) {
    if (buffers.size() <= k) {
      buffers.emplace_back(capacity);
      lengths.push_back(0);
    }
    return buffers[k].data();
  }
  double Total() const {
    double t = 0;
    for (std::size_t l : lengths) t += static_cast<double>(l);
    return t;
  }
  Streams ToStreams() const {
    Streams s;
    for (std::size_t k = 0; k < buffers.size(); ++k)
      s.emplace_back(buffers[k].begin(), buffers[k].begin() + long(lengths[k]));
    return s;
  }
};

void OurStreams(const Bytes& in, int level, Outputs& out) {
  std::size_t k = 0;
  for (std::size_t at = 0; at < in.size(); at += kSegment, ++k) {
    const uint32_t n = static_cast<uint32_t>(std::min<std::size_t>(kSegment, in.size() - at));
    const uint32_t bound = CompressBound(kSegment);
    unsigned char* s = out.Slot(k, bound);
    out.lengths[k] = CompressSegment(in.data() + at, n, s, bound, level);
  }
}

Streams OurStreams(const Bytes& in, int level) {
  Outputs out;
  OurStreams(in, level, out);
  return out.ToStreams();
}

void LzoStreams(const Bytes& in, bool best, Outputs& out) {
  static Bytes work(std::max<std::size_t>(LZO1X_1_MEM_COMPRESS, LZO1X_999_MEM_COMPRESS));
  std::size_t k = 0;
  for (std::size_t at = 0; at < in.size(); at += kSegment, ++k) {
    const std::size_t n = std::min<std::size_t>(kSegment, in.size() - at);
    const std::size_t capacity = kSegment + kSegment / 16 + 67;
    unsigned char* s = out.Slot(k, capacity);
    lzo_uint length = capacity;
    if (best)
      lzo1x_999_compress(in.data() + at, n, s, &length, work.data());
    else
      lzo1x_1_compress(in.data() + at, n, s, &length, work.data());
    out.lengths[k] = length;
  }
}

void BM_Ours(benchmark::State& state) {
  const char* kind = "BM_Ours";
  const int which = static_cast<int>(state.range(0));
  const int level = static_cast<int>(state.range(1));
  Outputs s;
  for (auto _ : state) {
    OurStreams(Corpus(which), level, s);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kCorpusSize));
  g_bytes[std::string(kind) + "/" + std::to_string(state.range(0)) + "/" + std::to_string(state.range(1))] = s.Total();
}

void BM_Lzo(benchmark::State& state) {
  const char* kind = "BM_Lzo";
  const int which = static_cast<int>(state.range(0));
  const bool best = state.range(1) == 9;
  Outputs s;
  for (auto _ : state) {
    LzoStreams(Corpus(which), best, s);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kCorpusSize));
  g_bytes[std::string(kind) + "/" + std::to_string(state.range(0)) + "/" + std::to_string(state.range(1))] = s.Total();
}

// Decoding every level-9 stream, one segment at a time.
void BM_Decode(benchmark::State& state) {
  const int which = static_cast<int>(state.range(0));
  const bool lzo = state.range(1) == 1;
  const Bytes& in = Corpus(which);
  const Streams streams = OurStreams(in, 9);
  std::vector<Bytes> forms;
  for (std::size_t k = 0; k < streams.size(); ++k) {
    const uint32_t raw = static_cast<uint32_t>(std::min<std::size_t>(kSegment, in.size() - k * kSegment));
    Bytes f(16);
    const uint32_t words[4] = {1, static_cast<uint32_t>(streams[k].size()), raw, 0};
    for (int i = 0; i < 4; ++i) vzr::WriteLE32(f.data() + 4 * i, words[i]);
    f.insert(f.end(), streams[k].begin(), streams[k].end());
    forms.push_back(std::move(f));
  }
  Bytes out(kSegment + 64);
  for (auto _ : state) {
    for (std::size_t k = 0; k < streams.size(); ++k) {
      if (lzo) {
        lzo_uint n = kSegment;
        lzo1x_decompress_safe(streams[k].data(), streams[k].size(), out.data(), &n, nullptr);
      } else {
        Decompression(forms[k].data(), static_cast<uint32_t>(forms[k].size()), out.data(),
                      static_cast<uint32_t>(out.size()));
      }
      benchmark::ClobberMemory();
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kCorpusSize));
}

void SetCpus(bool all) {
  cpu_set_t set;
  CPU_ZERO(&set);
  const int cpu = sched_getcpu();
  if (all)
    for (int c = 0; c < CPU_SETSIZE; ++c) CPU_SET(c, &set);
  else
    CPU_SET(cpu < 0 ? 0 : cpu, &set);
  sched_setaffinity(0, sizeof set, &set);
}

// PackDirectoryCompressed of 8 MiB in four files at the default level.
void BM_Pack(benchmark::State& state) {
  const unsigned threads = static_cast<unsigned>(state.range(0));
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "vzr_compress_bench";
  std::filesystem::create_directories(dir / "src");
  for (int f = 0; f < 4; ++f) {
    std::ofstream out(dir / "src" / std::string("f").append(std::to_string(f)), std::ios::binary);
    const Bytes& c = Corpus(f % 2);
    out.write(reinterpret_cast<const char*>(c.data()), static_cast<std::streamsize>(c.size()));
    out.write(reinterpret_cast<const char*>(c.data()), static_cast<std::streamsize>(c.size()));
  }
  SetCpus(true);
  for (auto _ : state) {
    char src[512], base[512] = "b";
    std::snprintf(src, sizeof src, "%s", (dir / "src").c_str());
    PackDirectoryCompressed(src, base, (dir / "out.vzr").c_str(), kDefaultCompressionLevel, threads);
  }
  SetCpus(false);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(8 * kCorpusSize));
  std::filesystem::remove_all(dir);
}

class Recorder : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type != Run::RT_Iteration) continue;
      // CPU time of the one benchmark thread: on a busy machine it leaves out
      // the time the thread waited for the CPU. The pack benchmark runs on
      // several threads and is timed by the clock.
      const std::string name = r.run_name.str();
      const double s = name.find("real_time") != std::string::npos ? r.GetAdjustedRealTime() : r.GetAdjustedCPUTime();
      g_seconds[name].push_back(s);
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

// Speed: theirs / ours per paired repetition (ours faster above 1), median
// and spread. Size: ours / theirs (the streams do not change between runs).
void Ratio(const char* what, const std::string& ours, const std::string& theirs, bool sizes, double goal) {
  if (sizes) {
    if (!g_bytes.count(ours) || !g_bytes.count(theirs)) return;
    const double r = g_bytes.at(ours) / g_bytes.at(theirs);
    std::printf("%-48s %8.3fx %19s goal <= %.2f %s\n", what, r, "", goal, r <= goal ? "met" : "NOT MET");
    return;
  }
  if (!g_seconds.count(ours) || !g_seconds.count(theirs)) return;
  const std::vector<double>& a = g_seconds.at(ours);
  const std::vector<double>& b = g_seconds.at(theirs);
  std::vector<double> ratios;
  for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
    if (a[i] > 0) ratios.push_back(b[i] / a[i]);
  if (ratios.empty()) return;
  const double r = Median(ratios);
  const auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
  std::printf("%-48s %8.3fx (%5.2f-%5.2f, %zu runs) goal >= %.2f %s\n", what, r, *low, *high, ratios.size(), goal,
              r >= goal ? "met" : "NOT MET");
}

}  // namespace

BENCHMARK(BM_Ours)->ArgsProduct({{0, 1, 2, 3}, {1, 9}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lzo)->ArgsProduct({{0, 1, 2, 3}, {1, 9}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decode)->ArgsProduct({{0, 1, 2, 3}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pack)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
  SetCpus(false);
  if (lzo_init() != LZO_E_OK) return 1;
  // Five repetitions unless asked otherwise, interleaved across benchmarks.
  InitializeInterleaved(argc, argv);
  Recorder recorder;
  benchmark::RunSpecifiedBenchmarks(&recorder);
  std::printf("\nratios (speed: ours faster when above 1; size: ours smaller when below 1)\n");
  for (int c = 0; c < kCorpora; ++c) {
    const std::string id = std::to_string(c);
    const std::string corpus = CorpusName(c);
    Ratio(("level 1 speed / lzo1x_1, " + corpus).c_str(), "BM_Ours/" + id + "/1", "BM_Lzo/" + id + "/1", false, 1.3);
    Ratio(("level 1 size / lzo1x_1, " + corpus).c_str(), "BM_Ours/" + id + "/1", "BM_Lzo/" + id + "/1", true, 1.01);
    Ratio(("level 9 speed / lzo1x_999, " + corpus).c_str(), "BM_Ours/" + id + "/9", "BM_Lzo/" + id + "/9", false, 3);
    Ratio(("level 9 size / lzo1x_999, " + corpus).c_str(), "BM_Ours/" + id + "/9", "BM_Lzo/" + id + "/9", true, 0.99);
    Ratio(("decode level-9 / lzo1x_decompress_safe, " + corpus).c_str(), "BM_Decode/" + id + "/0",
          "BM_Decode/" + id + "/1", false, 2);
  }
  Ratio("PackDirectoryCompressed 2 threads / 1", "BM_Pack/2/real_time", "BM_Pack/1/real_time", false, 1.8);
  benchmark::Shutdown();
  return 0;
}

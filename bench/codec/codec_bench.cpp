// codec_bench - throughput of the segment codec, each figure beside a
// baseline measured in the same run on the same bytes:
//   - Decompression against liblzo2's lzo1x_decompress_safe, on streams from
//     lzo1x_1 and lzo1x_999 over script-like text, mixed binary, random bytes
//     and repetitive data;
//   - Decompression of the literal-only streams this system writes against
//     memcpy of the content;
//   - the in-memory encoder (EncodeSegment over every segment into
//     storeBuffer) against memcpy of the content;
//   - the literal-only entry writer (WriteEntry in a segmented archive, the
//     corpus as 1 MB files, the archive stream on /dev/null so that the
//     figure is the encoder's, not the disk's) against memcpy of the content.
// The program pins itself to one CPU, runs the repetitions of all
// benchmarks interleaved (so a busy spell of the machine hits both sides of
// a pair), and prints each pair's median ratio and its spread at the end.
#include <benchmark/benchmark.h>
#include <lzo/lzo1x.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "corpora.h"
#include "fileservices.h"
#include "format.h"
#include "vzrpack.h"
#include "../repetitions.h"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr std::size_t kCorpusSize = 3900000;  // fits the engine object's first buffers
constexpr std::size_t kSegment = vzr::kSegmentSize;

// --- Corpora --------------------------------------------------------------

using corpora::MixedBinary;
using corpora::ScriptText;

// Bytes with no structure at all: streams of long literal runs.
Bytes RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (unsigned char& b : out) b = static_cast<unsigned char>(rng());
  return out;
}

// Runs of one byte, short repeated patterns (periods 1 to 12) and repeated
// text lines with a changed byte now and then: long, often overlapping matches.
Bytes Repetitive(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes out;
  out.reserve(n + 8192);
  while (out.size() < n) {
    const std::size_t piece = 64 + rng() % 4096;
    const std::size_t period = 1 + rng() % 12;
    Bytes pattern(period);
    for (unsigned char& b : pattern) b = static_cast<unsigned char>('a' + rng() % 26);
    for (std::size_t i = 0; i < piece; ++i) {
      out.push_back(pattern[i % period]);
      if (rng() % 509 == 0) out.back() ^= 0x20;
    }
  }
  out.resize(n);
  return out;
}

// --- Stored forms ---------------------------------------------------------

struct Segmented {
  Bytes stored;                // segmentCount, table, streams
  std::vector<Bytes> streams;  // each segment's stream on its own, for liblzo2
};

// One byte at a time: GCC 12 at -O3 takes a four-byte insert at the end of
// an empty vector for an overflow.
void AppendLE32(Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

Segmented Wrap(std::vector<Bytes> streams, std::size_t contentSize) {
  Segmented s;
  AppendLE32(s.stored, static_cast<uint32_t>(streams.size()));
  uint32_t offset = 0;
  for (std::size_t k = 0; k < streams.size(); ++k) {
    AppendLE32(s.stored, static_cast<uint32_t>(streams[k].size()));
    AppendLE32(s.stored, static_cast<uint32_t>(std::min(kSegment, contentSize - k * kSegment)));
    AppendLE32(s.stored, offset);
    offset += static_cast<uint32_t>(streams[k].size());
  }
  for (const Bytes& stream : streams) s.stored.insert(s.stored.end(), stream.begin(), stream.end());
  s.streams = std::move(streams);
  return s;
}

Segmented CompressWithLzo(const Bytes& content, bool best) {
  std::vector<unsigned char> work(std::max<std::size_t>(LZO1X_1_MEM_COMPRESS, LZO1X_999_MEM_COMPRESS));
  std::vector<Bytes> streams;
  for (std::size_t at = 0; at < content.size(); at += kSegment) {
    const std::size_t n = std::min(kSegment, content.size() - at);
    Bytes out(n + n / 16 + 64 + 3);
    lzo_uint outLength = out.size();
    const int rc = best ? lzo1x_999_compress(content.data() + at, n, out.data(), &outLength, work.data())
                        : lzo1x_1_compress(content.data() + at, n, out.data(), &outLength, work.data());
    if (rc != LZO_E_OK) std::abort();
    out.resize(outLength);
    streams.push_back(std::move(out));
  }
  return Wrap(std::move(streams), content.size());
}

// The literal-only form this system writes, made by the engine's own encoder.
Segmented LiteralForm(const Bytes& content) {
  VzrArchive archive;
  std::memcpy(archive.fileBuffer, content.data(), content.size());
  archive.curLength = static_cast<uint32_t>(content.size());
  const uint32_t count = static_cast<uint32_t>((content.size() - 1) / kSegment + 1);
  archive.segments.assign(count, SegmentRecord{});
  archive.outPos = 0;
  std::vector<Bytes> streams;
  for (uint32_t k = 0; k < count; ++k) {
    archive.segments[k].rawLength = static_cast<uint32_t>(std::min(kSegment, content.size() - k * kSegment));
    const int32_t start = archive.outPos;
    archive.EncodeSegment(k);
    streams.emplace_back(archive.storeBuffer + start, archive.storeBuffer + archive.outPos);
  }
  return Wrap(std::move(streams), content.size());
}

// --- Benchmarks -----------------------------------------------------------

struct Corpus {
  std::string name;
  Bytes content;
};

// Output buffer shared by all runs, touched once so page faults stay out of the figures.
Bytes& OutputBuffer() {
  static Bytes out(kCorpusSize + 4096, 0);
  return out;
}

void DecodeOurs(benchmark::State& state, const Segmented* form, const Bytes* content) {
  Bytes& out = OutputBuffer();
  for (auto _ : state) {
    const int32_t n = Decompression(form->stored.data(), static_cast<uint32_t>(form->stored.size()), out.data(),
                                    static_cast<uint32_t>(out.size()));
    if (n != static_cast<int32_t>(content->size())) state.SkipWithError("Decompression failed");
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * content->size()));
}

void DecodeLzoSafe(benchmark::State& state, const Segmented* form, const Bytes* content) {
  Bytes& out = OutputBuffer();
  for (auto _ : state) {
    std::size_t at = 0;
    for (const Bytes& stream : form->streams) {
      lzo_uint n = out.size() - at;
      if (lzo1x_decompress_safe(stream.data(), stream.size(), out.data() + at, &n, nullptr) != LZO_E_OK)
        state.SkipWithError("lzo1x_decompress_safe failed");
      at += n;
    }
    if (at != content->size()) state.SkipWithError("lzo1x_decompress_safe gave the wrong size");
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * content->size()));
}

void Memcpy(benchmark::State& state, const Bytes* content) {
  Bytes& out = OutputBuffer();
  for (auto _ : state) {
    std::memcpy(out.data(), content->data(), content->size());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * content->size()));
}

// EncodeSegment over every segment, as WriteEntry runs it, without the file writes.
void Encode(benchmark::State& state, VzrArchive* archive) {
  const uint32_t length = archive->curLength;
  const uint32_t count = ((length - 1) >> vzr::kSegmentShift) + 1;
  for (auto _ : state) {
    archive->segments.assign(count, SegmentRecord{});
    archive->outPos = 0;
    for (uint32_t k = 0; k < count; ++k) {
      const uint32_t remaining = length - k * vzr::kSegmentSize;
      archive->segments[k].rawLength = std::min(remaining, vzr::kSegmentSize);
      archive->segments[k].streamOffset = static_cast<uint32_t>(archive->outPos);
      archive->segments[k].compLength = archive->EncodeSegment(k);
    }
    benchmark::DoNotOptimize(archive->storeBuffer);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * length));
}

void MemcpyToStore(benchmark::State& state, VzrArchive* archive) {
  for (auto _ : state) {
    std::memcpy(archive->storeBuffer, archive->fileBuffer, archive->curLength);
    benchmark::DoNotOptimize(archive->storeBuffer);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * archive->curLength));
}

// The corpus as entries of 1 MB written by WriteEntry into a segmented
// archive (level 0), one engine object per file, its stream on /dev/null.
struct EntryWriters {
  std::vector<std::unique_ptr<VzrArchive>> files;
  std::size_t bytes = 0;
};

constexpr std::size_t kEntryFileSize = 1 << 20;

void WriteEntries(benchmark::State& state, EntryWriters* writers) {
  for (auto _ : state) {
    for (auto& archive : writers->files) archive->WriteEntry(archive->curLength, "bench/entry.con", true);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * writers->bytes));
}

void PrepareEntryWriters(EntryWriters& writers, const Bytes& content) {
  for (std::size_t at = 0; at < content.size(); at += kEntryFileSize) {
    auto archive = std::make_unique<VzrArchive>();
    archive->storageMode = vzr::kStorageSegmented;
    archive->curLength = static_cast<uint32_t>(std::min(kEntryFileSize, content.size() - at));
    std::memcpy(archive->fileBuffer, content.data() + at, archive->curLength);
    std::memset(archive->storeBuffer, 0, archive->storeBufferCapacity);
    archive->vzrFileStream = vzrfs::OpenWrite("/dev/null");  // opened as the engine opens an archive
    if (archive->vzrFileStream == nullptr) std::abort();
    writers.bytes += archive->curLength;
    writers.files.push_back(std::move(archive));
  }
}

// Console output as usual, and every repetition's throughput kept for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  SummaryReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
      const auto it = run.counters.find("bytes_per_second");
      if (it == run.counters.end()) continue;
      throughput[run.run_name.str()].push_back(it->second.value);
    }
  }
  std::map<std::string, std::vector<double>> throughput;
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

struct Pair {
  std::string measured;
  std::string baseline;
  double goal;
};

void PinToOneCpu() {
  const int cpu = sched_getcpu();
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu < 0 ? 0 : cpu, &set);
  if (sched_setaffinity(0, sizeof set, &set) != 0)
    std::fprintf(stderr, "could not pin to CPU %d; figures may wander\n", cpu);
  else
    std::printf("pinned to CPU %d\n", cpu < 0 ? 0 : cpu);
}

}  // namespace

int main(int argc, char** argv) {
  PinToOneCpu();
  if (lzo_init() != LZO_E_OK) return 1;
  // Five repetitions unless asked otherwise, interleaved across benchmarks;
  // the summary gives the median and the spread.
  InitializeInterleaved(argc, argv);

  static const std::vector<Corpus> corpora = {{"text", ScriptText(kCorpusSize, 1)},
                                              {"binary", MixedBinary(kCorpusSize, 2)},
                                              {"random", RandomBytes(kCorpusSize, 3)},
                                              {"repetitive", Repetitive(kCorpusSize, 4)},
                                              {"cues", corpora::CueScript(kCorpusSize, 5)},
                                              {"records", corpora::RecordFile(kCorpusSize, 6)}};
  static std::map<std::string, Segmented> forms;
  static std::map<std::string, std::unique_ptr<VzrArchive>> encoders;
  static std::map<std::string, EntryWriters> entryWriters;
  std::vector<Pair> pairs;

  for (const Corpus& corpus : corpora) {
    for (const bool best : {false, true}) {
      const std::string set = corpus.name + "/" + (best ? "lzo1x_999" : "lzo1x_1");
      Segmented& form = forms[set] = CompressWithLzo(corpus.content, best);
      std::printf("%s: %zu bytes stored for %zu\n", set.c_str(), form.stored.size(), corpus.content.size());
      benchmark::RegisterBenchmark(("Decompression/" + set).c_str(), DecodeOurs, &form, &corpus.content);
      benchmark::RegisterBenchmark(("lzo1x_decompress_safe/" + set).c_str(), DecodeLzoSafe, &form,
                                   &corpus.content);
      pairs.push_back({"Decompression/" + set, "lzo1x_decompress_safe/" + set, 2.0});
    }
    const std::string literal = corpus.name + "/literal";
    Segmented& form = forms[literal] = LiteralForm(corpus.content);
    benchmark::RegisterBenchmark(("Decompression/" + literal).c_str(), DecodeOurs, &form, &corpus.content);
    benchmark::RegisterBenchmark(("memcpy/" + corpus.name).c_str(), Memcpy, &corpus.content);
    pairs.push_back({"Decompression/" + literal, "memcpy/" + corpus.name, 0.9});

    auto& archive = encoders[corpus.name] = std::make_unique<VzrArchive>();
    std::memcpy(archive->fileBuffer, corpus.content.data(), corpus.content.size());
    archive->curLength = static_cast<uint32_t>(corpus.content.size());
    std::memset(archive->storeBuffer, 0, archive->storeBufferCapacity);
    benchmark::RegisterBenchmark(("EncodeSegment/" + corpus.name).c_str(), Encode, archive.get());
    benchmark::RegisterBenchmark(("memcpy-to-storeBuffer/" + corpus.name).c_str(), MemcpyToStore, archive.get());
    pairs.push_back({"EncodeSegment/" + corpus.name, "memcpy-to-storeBuffer/" + corpus.name, 0.9});

    EntryWriters& writers = entryWriters[corpus.name];
    PrepareEntryWriters(writers, corpus.content);
    benchmark::RegisterBenchmark(("WriteEntry/" + corpus.name).c_str(), WriteEntries, &writers);
    pairs.push_back({"WriteEntry/" + corpus.name, "memcpy/" + corpus.name, 0.9});
  }

  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  // Repetition i of a pair ran close in time to repetition i of its
  // baseline (interleaved), so their ratio is one paired measurement.
  std::printf("\n%-34s %-40s %8s %15s %6s\n", "measured", "against", "median", "spread", "goal");
  for (const Pair& p : pairs) {
    const auto a = reporter.throughput.find(p.measured), b = reporter.throughput.find(p.baseline);
    if (a == reporter.throughput.end() || b == reporter.throughput.end()) continue;
    std::vector<double> ratios;
    for (std::size_t i = 0; i < std::min(a->second.size(), b->second.size()); ++i)
      if (b->second[i] > 0) ratios.push_back(a->second[i] / b->second[i]);
    if (ratios.empty()) continue;
    const double ratio = Median(ratios);
    const auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
    std::printf("%-34s %-40s %8.2f %7.2f-%-7.2f %6.2f %s\n", p.measured.c_str(), p.baseline.c_str(), ratio, *low,
                *high, p.goal, ratio >= p.goal ? "met" : "NOT MET");
  }
  benchmark::Shutdown();
  return 0;
}

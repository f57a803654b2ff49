// pack_threads_bench - PackDirectoryCompressed (what "vzr pack --compress"
// runs) on two threads against one thread, in the same run, on two invented
// trees: many small scripts (fewer segments per file than threads) and a mix
// of small and multi-segment files. The runs alternate one thread, two
// threads, so load from other work falls on both alike; the best wall time of
// each counts. Prints each throughput and the ratio (goal: 1.8x), and the
// CPU each run got: on a machine shared with other work, whose scheduler
// shares the cores between sessions, two threads may get no more CPU than
// one, and the ratio then says little.
//
//   pack_threads_bench [RUNS] [LEVEL]      defaults: 5 runs, level 6
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "vzrpack.h"

namespace fs = std::filesystem;

namespace {

// Text in the manner of a mod's scripts, from invented words.
std::string Script(std::size_t n, unsigned seed) {
  static const char* const kWords[] = {"being", "phase", "sproutat", "ifnear", "wander", "{", "}", "halt", "var",
                                       "lantern_keeper", "moss_gate", "4096", "12", "0", "// waits by the well",
                                       "settint", "iflampoil", "glide", "quietly", "endphase"};
  std::mt19937 rng(seed);
  std::string out;
  out.reserve(n + 64);
  while (out.size() < n) {
    out.append(rng() % 4, '\t');
    for (int w = 1 + int(rng() % 6); w > 0; --w) out += std::string(kWords[rng() % std::size(kWords)]) + ' ';
    out.back() = '\n';
  }
  out.resize(n);
  return out;
}

// Records of slowly changing numbers, as level data holds them.
std::string Records(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string out;
  uint32_t x = rng() % 1000;
  while (out.size() < n) {
    x += rng() % 24;
    const uint32_t fields[3] = {x, x / 5, uint32_t(rng() % 6)};
    out.append(reinterpret_cast<const char*>(fields), sizeof fields);
  }
  out.resize(n);
  return out;
}

void Put(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

uint64_t MakeSmallTree(const fs::path& root) {
  uint64_t bytes = 0;
  std::mt19937 rng(1);
  for (int i = 0; i < 2400; ++i) {
    const std::size_t n = 1500 + rng() % 12000;
    const std::string data = i % 4 == 3 ? Records(n, i) : Script(n, i);
    Put(root / std::string("part").append(std::to_string(i % 12)) /
            std::string("f").append(std::to_string(i)).append(i % 4 == 3 ? ".lvd" : ".con"),
        data);
    bytes += n;
  }
  return bytes;
}

uint64_t MakeMixedTree(const fs::path& root) {
  uint64_t bytes = 0;
  std::mt19937 rng(2);
  for (int i = 0; i < 600; ++i) {
    const std::size_t n = 1500 + rng() % 12000;
    Put(root / "scripts" / std::string("s").append(std::to_string(i)).append(".con"), Script(n, 100 + i));
    bytes += n;
  }
  for (int i = 0; i < 6; ++i) {
    const std::size_t n = (1 + i) * 400000;
    Put(root / "levels" / std::string("l").append(std::to_string(i)).append(".lvd"), i % 2 ? Records(n, i) : Script(n, 200 + i));
    bytes += n;
  }
  return bytes;
}

// CPU seconds this process (RUSAGE_SELF) or the calling thread
// (RUSAGE_THREAD) has used.
double CpuSeconds(int who = RUSAGE_SELF) {
  rusage u{};
  ::getrusage(who, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Timing {
  double wall = 1e30;  // best wall time
  double cpu = 0;      // CPU time of that run, all threads
  double mainCpu = 0;  // of which the calling thread's
};

// One pack; keeps it in best when its wall time is the best so far.
void Pack(const fs::path& src, const fs::path& archive, int level, unsigned threads, Timing& best) {
  char source[512], base[512] = "data";
  std::snprintf(source, sizeof source, "%s", src.c_str());
  const double cpu = CpuSeconds(), mainCpu = CpuSeconds(RUSAGE_THREAD);
  const auto start = std::chrono::steady_clock::now();
  const int packed = PackDirectoryCompressed(source, base, archive.c_str(), level, threads);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (seconds < best.wall) best = {seconds, CpuSeconds() - cpu, CpuSeconds(RUSAGE_THREAD) - mainCpu};
  if (packed <= 1) {
    std::fprintf(stderr, "pack of %s failed\n", src.c_str());
    std::exit(1);
  }
}

std::string Bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const int level = argc > 2 ? std::atoi(argv[2]) : kDefaultCompressionLevel;
  SetTraceSink([](const std::string&) {});  // the packer's trace lines are not wanted here
  const fs::path dir = fs::temp_directory_path() / ("pack_threads_bench." + std::to_string(::getpid()));
  struct Tree {
    const char* name;
    uint64_t (*make)(const fs::path&);
  } trees[] = {{"many small files", MakeSmallTree}, {"small and large files", MakeMixedTree}};
  std::printf("PackDirectoryCompressed, level %d, best of %d alternating runs (wall time)\n", level, runs);
  std::printf("%-22s %6s %12s %14s %7s   %s   %s\n", "tree", "MiB", "1 thread", "2 threads", "ratio",
              "CPU/wall 1t 2t", "split");
  bool same = true;
  for (const Tree& tree : trees) {
    fs::remove_all(dir);
    const uint64_t bytes = tree.make(dir / "src");
    Timing one, two;
    for (int r = 0; r < runs; ++r) {
      Pack(dir / "src", dir / "one.vzr", level, 1, one);
      Pack(dir / "src", dir / "two.vzr", level, 2, two);
    }
    same = same && Bytes(dir / "one.vzr") == Bytes(dir / "two.vzr");
    const double mib = double(bytes) / (1 << 20);
    // CPU/wall shows how much of the machine a run got: near 1 and 2 on an
    // idle machine, lower when other work takes the cores.
    // split: the one-thread CPU time over the busier thread's CPU time in the
    // two-thread run, which bounds the ratio two free cores could give (an
    // estimate of the work's balance, not a measured ratio).
    const double busier = std::max(two.mainCpu, two.cpu - two.mainCpu);
    std::printf("%-22s %6.1f %7.1f MiB/s %9.1f MiB/s %6.2fx   %5.2f %5.2f   %5.2fx\n", tree.name, mib,
                mib / one.wall, mib / two.wall, one.wall / two.wall, one.cpu / one.wall, two.cpu / two.wall,
                busier > 0 ? one.cpu / busier : 0.0);
  }
  fs::remove_all(dir);
  std::printf("archives of 1 and 2 threads identical: %s\n", same ? "yes" : "NO");
  return same ? 0 : 1;
}

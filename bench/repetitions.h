// repetitions.h - how the benchmark programs start Google Benchmark: five
// repetitions unless the command line asks for another number, interleaved
// at random across benchmarks, so that a summary's median and spread compare
// runs made side by side.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <vector>

inline void InitializeInterleaved(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  static char defaultRepetitions[] = "--benchmark_repetitions=5";
  static char interleave[] = "--benchmark_enable_random_interleaving=true";
  if (std::none_of(args.begin(), args.end(),
                   [](const char* a) { return std::strncmp(a, "--benchmark_repetitions", 23) == 0; }))
    args.push_back(defaultRepetitions);
  args.push_back(interleave);
  int argCount = static_cast<int>(args.size());
  args.push_back(nullptr);
  benchmark::Initialize(&argCount, args.data());
}

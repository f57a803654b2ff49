// progress.cpp - the progress bar: percent, bytes and rate.
#include "progress.h"

#include <cstdio>

#include "console.h"

namespace cli {

Progress::Progress(uint64_t totalBytes, bool quiet)
    : total_(totalBytes), enabled_(!quiet && vzrsys::StandardErrorIsTerminal()) {
  start_ = last_ = std::chrono::steady_clock::now();
}

Progress::~Progress() { Clear(); }

void Progress::Update(uint64_t doneBytes) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (shown_ && now - last_ < std::chrono::milliseconds(100)) return;
  last_ = now;
  Draw(doneBytes);
}

void Progress::Draw(uint64_t done) {
  const double seconds = std::chrono::duration<double>(last_ - start_).count();
  const double mib = double(done) / (1024.0 * 1024.0);
  const double rate = seconds > 0 ? mib / seconds : 0.0;
  const int percent = total_ ? int(done * 100 / total_) : 100;
  char bar[31];
  const int filled = percent * 30 / 100;
  for (int i = 0; i < 30; ++i) bar[i] = i < filled ? '#' : '.';
  bar[30] = 0;
  std::fprintf(stderr, "\r[%s] %3d%% %9.1f MiB %8.1f MiB/s", bar, percent, mib, rate);
  std::fflush(stderr);
  shown_ = true;
}

void Progress::Clear() {
  if (!shown_) return;
  std::fprintf(stderr, "\r%70s\r", "");
  std::fflush(stderr);
  shown_ = false;
}

}  // namespace cli

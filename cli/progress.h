// progress.h - the one-line progress bar of long verbs, on standard error
// only when it is a terminal, redrawn at most 10 times a second.
#pragma once

#include <chrono>
#include <cstdint>

#include "progressevents.h"

namespace cli {

class Progress {
 public:
  // quiet (-q) or a standard error that is no terminal turns it off.
  Progress(uint64_t totalBytes, bool quiet);
  ~Progress();  // clears the bar
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // doneBytes of totalBytes are finished; redraws when 100 ms have passed.
  void Update(uint64_t doneBytes);
  // Clears the bar before a message line is printed.
  void Clear();

 private:
  void Draw(uint64_t doneBytes);
  uint64_t total_;
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_, last_;
};

// Draws the engine's progress events of one phase on a bar for as long as it
// lives: their bytes done, whatever the status texts of the moment say.
class ProgressFollower {
 public:
  ProgressFollower(Progress& bar, ProgressPhase phase)
      : scope_([&bar, phase](const ProgressEvent& event) {
          if (event.phase == phase) bar.Update(event.bytesDone);
        }) {}

 private:
  ProgressObserverScope scope_;
};

}  // namespace cli

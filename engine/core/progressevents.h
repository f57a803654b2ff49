// progressevents.h - progress as numbers, beside the status texts: what phase an
// operation is in, the entry it is at, and its bytes done of its bytes to
// do. Progress bars draw from these; the status texts stay what the windows
// show, so no bar depends on their wording.
#pragma once

#include <cstdint>
#include <functional>

enum class ProgressPhase {
  kPacking,     // a pack stored a file (or left it out): entry is its place in the walk
  kExtracting,  // an extraction starts an entry: entry is its index position
  kExtracted,   // an extraction wrote that entry's file
  kRewriting,   // a rewrite wrote an added entry: entry counts the additions
};

struct ProgressEvent {
  ProgressPhase phase = ProgressPhase::kPacking;
  uint32_t entry = 0;
  const char* name = "";    // the entry or source file; valid during the call only
  uint64_t bytesDone = 0;   // content bytes done, this entry's included once it is done
  uint64_t bytesTotal = 0;  // content bytes of the whole operation; 0 when not known beforehand
};

// Called on the thread that runs the operation, after the status text of
// the same moment is set.
using ProgressObserver = std::function<void(const ProgressEvent& event)>;

// The process's one observer (an empty function: none), as the status sink.
void SetProgressObserver(ProgressObserver observer);
// Tells the observer, if there is one.
void ReportProgress(const ProgressEvent& event);

// Installs an observer for as long as it lives; none again when it ends.
class ProgressObserverScope {
 public:
  explicit ProgressObserverScope(ProgressObserver observer) { SetProgressObserver(std::move(observer)); }
  ~ProgressObserverScope() { SetProgressObserver(nullptr); }
  ProgressObserverScope(const ProgressObserverScope&) = delete;
  ProgressObserverScope& operator=(const ProgressObserverScope&) = delete;
};

// progressevents.cpp - the process's progress observer.
#include "progressevents.h"

#include <utility>

namespace {

ProgressObserver& Observer() {
  static ProgressObserver observer;
  return observer;
}

}  // namespace

void SetProgressObserver(ProgressObserver observer) { Observer() = std::move(observer); }

void ReportProgress(const ProgressEvent& event) {
  if (const ProgressObserver& observer = Observer()) observer(event);
}

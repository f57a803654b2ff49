// temporaries_internal.h - the registry of temporary files behind
// vzrfs::RegisterTemporary and RemoveTemporaries, on Windows. The console's
// interruption handler runs on a thread of its own, so a lock guards the
// registry and the handler deletes with ordinary calls.
#pragma once

#include <string>

namespace vzrfs::temporaries {

void RegisterPath(const std::string& path);
void ReleasePath(const std::string& path);

// Holds the interruption handler off while it lives, so that a file and its
// registration (or a replacement and its count) come into being together.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;
};

}  // namespace vzrfs::temporaries

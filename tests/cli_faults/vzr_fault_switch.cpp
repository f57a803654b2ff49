// vzr_fault_switch.cpp - linked into vzr_faulty, the test build of vzr, and
// never into the shipped program. With VZR_FAULT_WRITE=N in the environment
// the N-th write (or flush) of the engine fails with ENOSPC, as on a full
// disk; with VZR_FAULT_KILL set as well, the program ends on the spot just
// before it instead (exit code 86), as a kill would end it. With
// VZR_FAULT_PAUSE=N the N-th write waits for a signal instead, so a test
// can interrupt the program at a known point; with VZR_FAULT_RESUME=FILE as
// well it waits only until FILE exists, then goes on. VZR_FAULT_LOCK_WAIT_MS
// sets how long a writer waits for another one, and
// VZR_FAULT_SIGNAL_AFTER_RENAME=SIG sends the program SIG as soon as an
// archive has been renamed into place (POSIX only). On Windows a paused
// write without VZR_FAULT_RESUME waits until a console control event ends
// the program.
#ifndef _WIN32
#include <signal.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "fileservices.h"

namespace {

const bool g_installed = [] {
  if (const char* wait = std::getenv("VZR_FAULT_LOCK_WAIT_MS")) vzrfs::SetArchiveLockWaitMs(std::atoi(wait));
#ifndef _WIN32
  if (const char* sig = std::getenv("VZR_FAULT_SIGNAL_AFTER_RENAME")) {
    const int signal = std::atoi(sig);
    vzrfs::SetOperationRecorder([signal](const vzrfs::FsOperation& op) {
      if (op.kind == vzrfs::FsOperation::Kind::Rename) ::kill(::getpid(), signal);
    });
  }
#endif
  if (const char* pause = std::getenv("VZR_FAULT_PAUSE")) {
    const uint64_t n = std::strtoull(pause, nullptr, 10);
    const char* resume = std::getenv("VZR_FAULT_RESUME");
    vzrfs::SetWriteFaultHook([n, resume](uint64_t write) {
      if (write == n && resume) {
        // The name is UTF-8 on every system.
        const std::string name(resume);
        const std::filesystem::path go(std::u8string(name.begin(), name.end()));
        std::error_code error;
        while (!std::filesystem::exists(go, error)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
#ifdef _WIN32
      while (write == n && !resume) std::this_thread::sleep_for(std::chrono::hours(1));  // the ctrl handler ends it
#else
      while (write == n && !resume) ::pause();  // the program's signal handler ends it
#endif
      return 0;
    });
    return true;
  }
  const char* at = std::getenv("VZR_FAULT_WRITE");
  if (!at) return false;
  const uint64_t n = std::strtoull(at, nullptr, 10);
  const bool kill = std::getenv("VZR_FAULT_KILL") != nullptr;
  vzrfs::SetWriteFaultHook([n, kill](uint64_t write) {
    if (write != n) return 0;
    if (kill) ::_exit(86);
    return ENOSPC;
  });
  return true;
}();

}  // namespace

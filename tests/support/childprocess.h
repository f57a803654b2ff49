// childprocess.h - other programs a test starts (the real vzr, its test
// build), and pieces of a test run in a forked child: to kill it at a chosen
// write, or to give it a file-size limit of its own. Starting a program
// works on every system (childprocess_posix.cpp, childprocess_win32.cpp);
// forking is POSIX only, and a test that needs it begins with
// SKIP_WITHOUT_FORK().
#pragma once

#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "fileservices.h"

#ifdef _WIN32
// The type of a file-size limit, for the tests that Windows skips.
using rlim_t = std::uint64_t;
#endif

namespace testutil {

// What to start: the program, its arguments (UTF-8, no shell between), where
// its standard output and error go (empty: nowhere) and the folder it runs
// in (empty: the test's own). Standard input is the null device.
struct ProcessSpec {
  std::string program;
  std::vector<std::string> args;
  std::string outPath, errPath;
  std::string cwd;
  // Windows: a console process group of its own, so that a Ctrl+Break sent
  // to it reaches it alone.
  bool ownConsoleGroup = false;
};

// A started program, waited for (or ended) when the object goes. Move-only.
class Process {
 public:
  static Process Start(const ProcessSpec& spec);
  Process() = default;
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process();

  // Whether the program was started at all.
  bool Started() const;
  // Waits for its end: its exit status (128+signal when a signal ended it on
  // POSIX; 127 when it never started).
  int Wait();
  // Its exit status when it ends within timeout, nothing otherwise.
  std::optional<int> WaitFor(std::chrono::milliseconds timeout);
  // Ends it at once, as the task manager or SIGKILL would.
  void Kill();
  // The system's number of the process.
  long Id() const;
#ifndef _WIN32
  // Gives up ownership: the caller waits for the process itself.
  pid_t Release();
#endif

 private:
  void Reset();
#ifdef _WIN32
  void* handle_ = nullptr;  // the process's HANDLE
#else
  pid_t pid_ = -1;
#endif
  long id_ = -1;
  std::optional<int> status_;
};

// Runs spec's program and waits for it: its exit status.
inline int RunProcess(const ProcessSpec& spec) { return Process::Start(spec).Wait(); }

// How a child ended.
struct ChildEnd {
  bool exited = false;   // returned normally; code is its exit status
  int code = -1;
  bool signalled = false;  // ended by a signal
  int signal = 0;
  std::string Describe() const {
    if (exited) return "exit " + std::to_string(code);
    if (signalled) return "signal " + std::to_string(signal);
    return "unknown end";
  }
};

#ifdef _WIN32
// Windows has no fork and no file-size limit: a test of a child dying or
// hitting one is skipped there, and these stand-ins are never reached.
#define SKIP_WITHOUT_FORK() GTEST_SKIP() << "needs fork, kill signals or a file-size limit, which Windows has not"
inline ChildEnd RunInChild(const std::function<int()>&) { return {}; }
inline void KillAtWrite(uint64_t) {}
inline bool LimitFileSize(rlim_t) { return false; }
#else
#define SKIP_WITHOUT_FORK() static_cast<void>(0)

// Runs body in a forked child with its standard output (the engine's trace)
// sent to /dev/null; the child ends with body's result through _exit, so no
// test-framework or sanitizer shutdown runs twice.
inline ChildEnd RunInChild(const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (!std::freopen("/dev/null", "w", stdout)) ::_exit(120);
    ::_exit(body());
  }
  ChildEnd end;
  if (pid < 0) return end;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  end.exited = WIFEXITED(status);
  end.code = end.exited ? WEXITSTATUS(status) : -1;
  end.signalled = WIFSIGNALED(status);
  end.signal = end.signalled ? WTERMSIG(status) : 0;
  return end;
}

// In a child: the process dies by SIGKILL just before its n-th write through
// the file services, as it would if the machine's user killed it there.
inline void KillAtWrite(uint64_t n) {
  vzrfs::SetWriteFaultHook([n](uint64_t write) {
    if (write == n) ::raise(SIGKILL);
    return 0;
  });
}

// In a child: no file may grow past `bytes`; a write past it fails with
// EFBIG instead of killing the process.
inline bool LimitFileSize(rlim_t bytes) {
  ::signal(SIGXFSZ, SIG_IGN);
  const struct rlimit limit = {bytes, bytes};
  return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
}
#endif

// Counts the writes an operation makes (and lets them all succeed).
class WriteCounter {
 public:
  WriteCounter() {
    vzrfs::SetWriteFaultHook([this](uint64_t write) {
      count_ = write;
      return 0;
    });
  }
  ~WriteCounter() { vzrfs::SetWriteFaultHook(nullptr); }
  WriteCounter(const WriteCounter&) = delete;
  WriteCounter& operator=(const WriteCounter&) = delete;
  uint64_t Count() const { return count_; }

 private:
  uint64_t count_ = 0;
};

// Makes write n fail with err for as long as it lives (other writes succeed).
class FailWriteAt {
 public:
  FailWriteAt(uint64_t n, int err) {
    vzrfs::SetWriteFaultHook([n, err](uint64_t write) { return write == n ? err : 0; });
  }
  ~FailWriteAt() { vzrfs::SetWriteFaultHook(nullptr); }
  FailWriteAt(const FailWriteAt&) = delete;
  FailWriteAt& operator=(const FailWriteAt&) = delete;
};

}  // namespace testutil

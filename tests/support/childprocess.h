// childprocess.h - running a piece of a test in a forked child: to kill it
// at a chosen write, or to give it a file-size limit of its own.
#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "fileservices.h"

namespace testutil {

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

// run_vzr.h - runs the real vzr program and collects its output and status.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "testutil.h"

namespace clitest {

struct Result {
  int status = -1;  // exit status, or 128+signal
  std::string out;
  std::string err;
};

// Starts vzr with args (no shell), standard input from /dev/null, standard
// output and error into the files named; returns its process id.
inline pid_t StartVzr(const std::vector<std::string>& args, const std::string& outPath, const std::string& errPath,
                      const std::string& cwd = "", const std::string& binary = VZR_BINARY) {
  pid_t pid = ::fork();
  if (pid == 0) {
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(99);
    // vzr leaves a signal ignored at its start alone (a background job of a
    // script starts with SIGINT ignored): each test gets the usual ones.
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    if (!std::freopen("/dev/null", "rb", stdin) || !std::freopen(outPath.c_str(), "wb", stdout) ||
        !std::freopen(errPath.c_str(), "wb", stderr))
      ::_exit(98);
    std::vector<char*> argv;
    std::string bin = binary;
    argv.push_back(bin.data());
    std::vector<std::string> copy = args;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(bin.c_str(), argv.data());
    ::_exit(97);
  }
  return pid;
}

// Runs vzr with args and waits for it.
inline Result RunVzr(const std::vector<std::string>& args, const std::string& cwd = "") {
  testutil::TempDir tmp;
  const std::string outPath = tmp / "out", errPath = tmp / "err";
  const pid_t pid = StartVzr(args, outPath, errPath, cwd);
  int ws = 0;
  ::waitpid(pid, &ws, 0);
  Result r;
  r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
  auto text = [](const std::string& p) {
    testutil::Bytes b = testutil::ReadFileBytes(p);
    return std::string(b.begin(), b.end());
  };
  r.out = text(outPath);
  r.err = text(errPath);
  return r;
}

}  // namespace clitest

// run_vzr.h - runs the real vzr program (vzr.exe on Windows) and collects
// its output and status.
#pragma once

#include <string>
#include <vector>

#include "childprocess.h"
#include "testutil.h"

namespace clitest {

struct Result {
  int status = -1;  // exit status, or 128+signal
  std::string out;
  std::string err;
};

// Starts vzr with args (no shell), standard input from the null device,
// standard output and error into the files named.
inline testutil::Process StartVzrProcess(const std::vector<std::string>& args, const std::string& outPath,
                                         const std::string& errPath, const std::string& cwd = "",
                                         const std::string& binary = VZR_BINARY) {
  return testutil::Process::Start({binary, args, outPath, errPath, cwd});
}

#ifndef _WIN32
// The same, for the tests that signal and wait for the process themselves:
// its process id.
inline pid_t StartVzr(const std::vector<std::string>& args, const std::string& outPath, const std::string& errPath,
                      const std::string& cwd = "", const std::string& binary = VZR_BINARY) {
  return StartVzrProcess(args, outPath, errPath, cwd, binary).Release();
}
#endif

inline std::string FileText(const std::string& path) {
  const testutil::Bytes b = testutil::ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

// Runs vzr with args and waits for it.
inline Result RunVzr(const std::vector<std::string>& args, const std::string& cwd = "") {
  testutil::TempDir tmp;
  const std::string outPath = tmp / "out", errPath = tmp / "err";
  Result r;
  r.status = StartVzrProcess(args, outPath, errPath, cwd).Wait();
  r.out = FileText(outPath);
  r.err = FileText(errPath);
  return r;
}

}  // namespace clitest

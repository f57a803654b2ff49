// ops_testutil.h - fixtures for the tests of extraction, packing and
// replacement: a status recorder, trees of files, and (on POSIX) a child
// process with a file-size limit.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "childprocess.h"
#include "fileservices.h"
#include "testutil.h"
#include "vzrpack.h"

namespace opstest {

// Installs a status sink that records every text set and every repaint
// ("<repaint>"), and uninstalls it when it goes.
class StatusRecorder : public StatusWindow {
 public:
  StatusRecorder() {
    sink_.text = &text_;
    sink_.window = this;
    SetStatusSink(&sink_);
  }
  ~StatusRecorder() override { SetStatusSink(nullptr); }
  void PushFieldsToControls() override { events.push_back(text_); }
  void RepaintNow() override { events.push_back("<repaint>"); }
  // The texts only, without repaints.
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const std::string& e : events)
      if (e != "<repaint>") texts.push_back(e);
    return texts;
  }
  const std::string& Last() const { return text_; }
  std::vector<std::string> events;

 private:
  std::string text_;
  StatusSink sink_;
};

// Clears the write fault hook when it goes, so a failing test cannot leave it set.
struct FaultHookGuard {
  explicit FaultHookGuard(vzrfs::WriteFaultHook hook) { vzrfs::SetWriteFaultHook(std::move(hook)); }
  ~FaultHookGuard() { vzrfs::SetWriteFaultHook(nullptr); }
};

#ifndef _WIN32
// Runs body in a child process whose files cannot grow past limitBytes
// (SIGXFSZ ignored, so a write past the limit fails with EFBIG instead of
// killing it). The child's exit code is body's result; -1 when it died.
inline int RunWithFileSizeLimit(rlim_t limitBytes, const std::function<int()>& body) {
  std::fflush(stdout);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {limitBytes, limitBytes};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const int code = body();
    std::fflush(stdout);
    ::_exit(code);
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}
#else
// Windows has no file-size limit; the tests that need one are skipped there
// (SKIP_WITHOUT_FORK) before they come here.
inline int RunWithFileSizeLimit(rlim_t, const std::function<int()>&) { return -1; }
#endif

// Every regular file below root, as paths relative to it, sorted.
inline std::vector<std::string> FilesBelow(const std::filesystem::path& root) {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
    if (entry.is_regular_file()) {
      const std::u8string relative = std::filesystem::relative(entry.path(), root).generic_u8string();
      files.emplace_back(relative.begin(), relative.end());
    }
  std::sort(files.begin(), files.end());
  return files;
}

inline testutil::Bytes Pattern(std::size_t n, unsigned seed) {
  testutil::Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<unsigned char>((i * 131 + seed * 7 + (i >> 8)) & 0xFF);
  return bytes;
}

// Loads path into archive with the trace lines swallowed.
inline void Load(VzrArchive& archive, const std::string& path) {
  testutil::TraceCapture quiet;
  archive.LoadIndex(path.c_str());
}

}  // namespace opstest

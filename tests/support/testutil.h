// testutil.h - fixtures shared by the engine tests: temporary folders, the
// archive writer of archivebytes.h, and trace capture.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "archivebytes.h"

namespace testutil {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
 public:
  TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "vzrtest.XXXXXX").string();
    if (!::mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }
  std::string operator/(const std::string& rel) const { return (path_ / rel).string(); }

 private:
  std::filesystem::path path_;
};

// Restores the process's current directory when it goes.
class CurrentDirGuard {
 public:
  CurrentDirGuard() : saved_(std::filesystem::current_path()) {}
  ~CurrentDirGuard() {
    std::error_code ec;
    std::filesystem::current_path(saved_, ec);
  }

 private:
  std::filesystem::path saved_;
};

// The temporary files a replacement of path left beside it: names of path's
// folder that start with path's own name and a dot ("x.vzr.Ab3xZ9").
inline std::vector<std::string> TemporariesBeside(const std::string& path) {
  const std::filesystem::path p(path);
  const std::string prefix = p.filename().string() + ".";
  std::vector<std::string> found;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(p.parent_path(), error))
    if (entry.path().filename().string().rfind(prefix, 0) == 0) found.push_back(entry.path().filename().string());
  std::sort(found.begin(), found.end());
  return found;
}

// Collects what the engine writes to standard output while it lives.
class TraceCapture {
 public:
  TraceCapture() { testing::internal::CaptureStdout(); }
  ~TraceCapture() {
    if (!taken_) testing::internal::GetCapturedStdout();
  }
  // The captured lines (capture ends).
  std::vector<std::string> Lines() {
    taken_ = true;
    std::istringstream in(testing::internal::GetCapturedStdout());
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  std::string Text() {
    taken_ = true;
    return testing::internal::GetCapturedStdout();
  }

 private:
  bool taken_ = false;
};

}  // namespace testutil

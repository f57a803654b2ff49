// testutil.h - fixtures shared by the engine tests: temporary folders, the
// archive writer of archivebytes.h, environment settings, and trace capture.
// Paths are UTF-8 text on every system.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "archivebytes.h"

namespace testutil {

// Sets a variable of the process's environment for as long as it lives (the
// programs a test starts inherit it), and puts back what was there.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) saved_ = old, hadValue_ = true;
    Set(value.c_str());
  }
  ~ScopedEnv() { Set(hadValue_ ? saved_.c_str() : nullptr); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void Set(const char* value) {
#ifdef _WIN32
    ::_putenv_s(name_.c_str(), value ? value : "");
#else
    if (value)
      ::setenv(name_.c_str(), value, 1);
    else
      ::unsetenv(name_.c_str());
#endif
  }
  std::string name_;
  std::string saved_;
  bool hadValue_ = false;
};

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes. Its name is made up here and taken only if
// nothing has it (create_directory does not take an existing folder).
class TempDir {
 public:
  TempDir() {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static std::mt19937_64 random{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string name = "vzrtest.";
      for (int i = 0; i < 6; ++i) name += kLetters[pick(random)];
      std::error_code error;
      if (std::filesystem::create_directory(base / name, error)) {
        path_ = WithSlashes(base / name);
        return;
      }
      if (error) break;
    }
    throw std::runtime_error("no temporary folder could be made");
  }
  // On Windows, the path with '/' between its components, as the engine
  // writes paths, so that texts the tests expect match what it writes.
  static std::filesystem::path WithSlashes(const std::filesystem::path& path) {
#ifdef _WIN32
    std::string text = PathText(path);
    std::replace(text.begin(), text.end(), '\\', '/');
    return Utf8Path(text);
#else
    return path;
#endif
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return PathText(path_); }
  std::string operator/(const std::string& rel) const {
#ifdef _WIN32
    return PathText(path_) + "/" + rel;  // appending with '/' gives '\' on Windows
#else
    return PathText(path_ / Utf8Path(rel));
#endif
  }

 private:
  std::filesystem::path path_;
};

// Whether this system lets a test make symbolic links: always on POSIX; on
// Windows only with the right to make them, and never under wine, whose
// call succeeds and leaves nothing behind. Probed once.
inline bool SymlinksCanBeMade() {
#ifdef _WIN32
  static const bool made = [] {
    TempDir probe;
    std::error_code error;
    std::filesystem::create_symlink("target", probe.path() / "link", error);
    return !error && std::filesystem::is_symlink(std::filesystem::symlink_status(probe.path() / "link", error));
  }();
  return made;
#else
  return true;
#endif
}
#define SKIP_WITHOUT_SYMLINKS() \
  if (!testutil::SymlinksCanBeMade()) GTEST_SKIP() << "no symbolic link can be made here"

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
  const std::filesystem::path p = Utf8Path(path);
  const std::string prefix = PathText(p.filename()) + ".";
  std::vector<std::string> found;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(p.parent_path(), error)) {
    const std::string name = PathText(entry.path().filename());
    if (name.rfind(prefix, 0) == 0) found.push_back(name);
  }
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

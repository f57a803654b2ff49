// fspath.h - std::filesystem paths to and from the UTF-8 text every part
// of the tree keeps paths in. A path's narrow form is the system's own
// encoding (the ANSI code page on Windows), so conversions go through
// char8_t, which is UTF-8 on every system.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace vzrfs {

inline std::filesystem::path FsPath(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// The path as UTF-8 with '/' between its components.
inline std::string Utf8Path(const std::filesystem::path& path) {
  const std::u8string text = path.generic_u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace vzrfs

// testutil.h - fixtures shared by the engine tests: temporary folders, file
// bytes, an independent archive writer, and trace capture.
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

namespace testutil {

using Bytes = std::vector<unsigned char>;

inline Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

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

inline void WriteFileBytes(const std::string& path, const Bytes& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}
inline void WriteFileText(const std::string& path, const std::string& text) { WriteFileBytes(path, ToBytes(text)); }

inline Bytes ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

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

inline void PutLE32(Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
inline uint32_t GetLE32(const Bytes& in, std::size_t at) {
  return uint32_t(in.at(at)) | uint32_t(in.at(at + 1)) << 8 | uint32_t(in.at(at + 2)) << 16 |
         uint32_t(in.at(at + 3)) << 24;
}

// An archive writer independent of the engine: every field placed by the
// format's own table. Entries are given with their stored bytes.
struct ArchiveLayout {
  struct Entry {
    std::string name;
    Bytes stored;          // the stored form, as it goes into the data area
    uint32_t fileSize = 0;  // content size recorded in the index
  };
  uint32_t storageMode = 0;
  std::vector<Entry> entries;

  void AddRaw(const std::string& name, const Bytes& content) {
    entries.push_back({name, content, static_cast<uint32_t>(content.size())});
  }
  void AddRaw(const std::string& name, const std::string& content) { AddRaw(name, ToBytes(content)); }

  // The whole archive: header, data area, index, trailer.
  Bytes Build() const {
    Bytes out;
    PutLE32(out, 0);  // indexOffset, patched below
    PutLE32(out, storageMode);
    out.resize(156, 0);
    std::vector<uint32_t> offsets;
    for (const Entry& e : entries) {
      offsets.push_back(static_cast<uint32_t>(out.size()));
      out.insert(out.end(), e.stored.begin(), e.stored.end());
    }
    const auto indexOffset = static_cast<uint32_t>(out.size());
    PutLE32(out, static_cast<uint32_t>(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const Entry& e = entries[i];
      PutLE32(out, static_cast<uint32_t>(e.name.size()));
      out.insert(out.end(), e.name.begin(), e.name.end());
      PutLE32(out, static_cast<uint32_t>(e.stored.size()));
      PutLE32(out, e.fileSize);
      PutLE32(out, offsets[i]);
      PutLE32(out, 1253856);
      PutLE32(out, 0);
      PutLE32(out, 0);
    }
    PutLE32(out, 0);  // trailer
    for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(indexOffset >> (8 * i));
    return out;
  }
  void WriteTo(const std::string& path) const { WriteFileBytes(path, Build()); }
};

// The segmented stored form of content as this system writes it: one literal
// run and the end marker per 32768-byte segment.
inline Bytes LiteralSegmentedForm(const Bytes& content) {
  if (content.empty()) return Bytes{1, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x11, 0x11, 0, 0};
  std::vector<Bytes> streams;
  for (std::size_t at = 0; at < content.size(); at += 32768) {
    const std::size_t n = std::min<std::size_t>(32768, content.size() - at);
    Bytes s;
    if (n <= 238) {
      s.push_back(static_cast<unsigned char>(n + 17));
    } else {
      s.push_back(0);
      std::size_t m = n - 18;
      while (m > 255) {
        s.push_back(0);
        m -= 255;
      }
      s.push_back(static_cast<unsigned char>(m));
    }
    s.insert(s.end(), content.begin() + static_cast<std::ptrdiff_t>(at),
             content.begin() + static_cast<std::ptrdiff_t>(at + n));
    s.insert(s.end(), {0x11, 0x00, 0x00});
    streams.push_back(s);
  }
  Bytes out;
  PutLE32(out, static_cast<uint32_t>(streams.size()));
  uint32_t offset = 0;
  for (std::size_t k = 0; k < streams.size(); ++k) {
    PutLE32(out, static_cast<uint32_t>(streams[k].size()));
    PutLE32(out, static_cast<uint32_t>(std::min<std::size_t>(32768, content.size() - k * 32768)));
    PutLE32(out, offset);
    offset += static_cast<uint32_t>(streams[k].size());
  }
  for (const Bytes& s : streams) out.insert(out.end(), s.begin(), s.end());
  return out;
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

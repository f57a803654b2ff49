// archivebytes.h - the one writer of archive bytes for tests, benchmarks and
// the fuzzers' seeds, independent of the engine: every field placed by the
// format's own table, stored forms given as bytes. Needs the standard
// library only, so programs without GoogleTest use it too.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace testutil {

using Bytes = std::vector<unsigned char>;

inline Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A path from UTF-8 text, and the UTF-8 text of a path: on Windows a path
// made from a plain string would read it in the machine's code page.
inline std::filesystem::path Utf8Path(const std::string& text) {
  return std::filesystem::path(std::u8string(reinterpret_cast<const char8_t*>(text.data()), text.size()));
}
inline std::string PathText(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// Writes bytes as the whole file at path, making its folders; false when it could not.
inline bool WriteFileBytes(const std::string& path, const Bytes& bytes) {
  std::error_code error;
  std::filesystem::create_directories(Utf8Path(path).parent_path(), error);
  std::ofstream out(Utf8Path(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}
inline void WriteFileText(const std::string& path, const std::string& text) { WriteFileBytes(path, ToBytes(text)); }

inline Bytes ReadFileBytes(const std::string& path) {
  std::ifstream in(Utf8Path(path), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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
  // Unused bytes (0xEE) after every entry's stored form, as in archives
  // other tools edited: no two entries lie back to back.
  std::size_t gapBytes = 0;
  // Bytes 8..155 of the header, which readers keep as they are; zeros when empty.
  Bytes fixedBlock;

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
    std::copy_n(fixedBlock.begin(), std::min<std::size_t>(fixedBlock.size(), 148), out.begin() + 8);
    std::vector<uint32_t> offsets;
    for (const Entry& e : entries) {
      offsets.push_back(static_cast<uint32_t>(out.size()));
      out.insert(out.end(), e.stored.begin(), e.stored.end());
      out.insert(out.end(), gapBytes, 0xEE);
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
  bool WriteTo(const std::string& path) const { return WriteFileBytes(path, Build()); }
};

// The segmented stored form of contentSize bytes whose 32768-byte segments
// were encoded, in order, as streams: count, table, then the streams back to back.
inline Bytes SegmentedForm(const std::vector<Bytes>& streams, std::size_t contentSize) {
  Bytes out;
  PutLE32(out, static_cast<uint32_t>(streams.size()));
  uint32_t offset = 0;
  for (std::size_t k = 0; k < streams.size(); ++k) {
    PutLE32(out, static_cast<uint32_t>(streams[k].size()));
    PutLE32(out, static_cast<uint32_t>(std::min<std::size_t>(32768, contentSize - k * 32768)));
    PutLE32(out, offset);
    offset += static_cast<uint32_t>(streams[k].size());
  }
  for (const Bytes& s : streams) out.insert(out.end(), s.begin(), s.end());
  return out;
}

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
  return SegmentedForm(streams, content.size());
}

}  // namespace testutil

// old_loadindex.h - the index loader as it was before it read the index in
// one go, kept only as a baseline for the benchmarks: the entry storage
// sized (and so zero-filled) for every entry the file could hold, then each
// entry read through three freads. Not used by any program.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "vzrpack.h"

namespace benchbase {

inline bool ReadWord(std::FILE* f, uint32_t& value) {
  unsigned char b[4];
  if (std::fread(b, 1, 4, f) != 4) return false;
  value = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
  return true;
}

// The old loader's work on the archive at path, into index; false when the
// index could not be read whole.
inline bool OldLoadIndex(const char* path, FileIndex& index) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path, "rb"), std::fclose);
  if (!f) return false;
  std::fseek(f.get(), 0, SEEK_END);
  const auto length = static_cast<uint64_t>(std::ftell(f.get()));
  std::fseek(f.get(), 0, SEEK_SET);
  uint32_t indexOffset = 0, storageMode = 0, count = 0;
  if (!ReadWord(f.get(), indexOffset) || !ReadWord(f.get(), storageMode) || indexOffset >= length) return false;
  if (std::fseek(f.get(), long(indexOffset), SEEK_SET) != 0 || !ReadWord(f.get(), count)) return false;
  const auto capacity = static_cast<uint32_t>(std::min<uint64_t>(count, (length - indexOffset - 4) / 28));
  index.resize(capacity);
  uint32_t kept = 0;
  for (; kept < count && kept < capacity; ++kept) {
    FileEntry& e = index.files[kept];
    if (!ReadWord(f.get(), e.nameLength) || e.nameLength > 259) break;
    if (std::fread(e.name, 1, e.nameLength, f.get()) != e.nameLength) break;
    e.name[e.nameLength] = '\0';
    unsigned char rest[24];
    if (std::fread(rest, 1, sizeof rest, f.get()) != sizeof rest) break;
    e.compSize = uint32_t(rest[0]) | uint32_t(rest[1]) << 8 | uint32_t(rest[2]) << 16 | uint32_t(rest[3]) << 24;
    e.fileSize = uint32_t(rest[4]) | uint32_t(rest[5]) << 8 | uint32_t(rest[6]) << 16 | uint32_t(rest[7]) << 24;
    e.fileOffset = uint32_t(rest[8]) | uint32_t(rest[9]) << 8 | uint32_t(rest[10]) << 16 | uint32_t(rest[11]) << 24;
  }
  index.count = kept;
  return kept == count;
}

}  // namespace benchbase

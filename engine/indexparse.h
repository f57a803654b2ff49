// indexparse.h - reading the header words and the index of an archive from
// any byte source; shared by LoadIndex and EntryReader. Not part of the
// engine's public header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vzrpack.h"

namespace vzrindex {

// Where the bytes come from: sequential reads from a position set by Seek.
class Source {
 public:
  virtual ~Source() = default;
  virtual bool Read(void* to, std::size_t n) = 0;
  virtual bool Seek(uint64_t offset) = 0;
};

struct Header {
  uint32_t indexOffset = 0;
  uint32_t storageMode = 0;
  uint32_t totalSize = 0;  // sum of the loaded entries' fileSize (wraps)
};

enum class Outcome {
  kWhole,          // header and index read whole
  kDamaged,        // header or index cut short or impossible; entries before the damage kept
  kNoIndex,        // indexOffset at or past the end: no entries
};

// Reads the header and the index of an archive of `length` bytes (the
// length as LoadIndex keeps it). FileIndex gets the entries read, in index
// order, with room never sized beyond what the file can hold; `kept` is
// their number. For kNoIndex, `index` is left as it was (count untouched).
Outcome Parse(Source& source, uint32_t length, Header& header, FileIndex& index, uint32_t& kept);

}  // namespace vzrindex

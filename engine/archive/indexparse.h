// indexparse.h - reading the header words and the index of an archive from
// any byte source, for EntryReader. Not part of the engine's public header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive.h"

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

// Where the entries read go, in index order.
class Sink {
 public:
  virtual ~Sink() = default;
  // Room for at most n entries (never more than the file can hold).
  virtual void Room(uint32_t n) = 0;
  // The record entry k (< the room given) is read into; Keep(k) follows
  // once it is whole. A damaged entry is not kept.
  virtual FileEntry& Slot(uint32_t k) = 0;
  virtual void Keep(uint32_t k) = 0;
};

// Reads the header and the index of an archive of `length` bytes (the
// length as LoadIndex keeps it) into sink; `kept` is the number of entries
// kept. For kNoIndex the sink is given nothing.
Outcome Parse(Source& source, uint32_t length, Header& header, Sink& sink, uint32_t& kept);

}  // namespace vzrindex

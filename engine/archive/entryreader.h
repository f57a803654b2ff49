// entryreader.h - random access to the content of an archive's entries.
//
// An EntryReader opens an archive once, loads its index, and then reads any
// byte range of any entry with positional reads on that one descriptor,
// decoding only the segments the range covers. Decoded segments are kept in
// a cache bounded in bytes, so memory never grows with an entry's size. Every
// const member may be called from many threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "archive.h"

class EntryReader {
 public:
  static constexpr std::size_t kDefaultCacheBytes = std::size_t{64} << 20;

  // VzrError codes of the reader: the archive could not be opened or holds
  // no readable index; an entry's stored form lies outside the file, cannot
  // be read or does not decode; its segment table is not one the format
  // allows (every segment but the last 32768 bytes, the last at most that,
  // together the entry's size, every stream inside the stored form).
  static constexpr int kErrorOpen = 3;
  static constexpr int kErrorEntry = 5;
  static constexpr int kErrorTable = 6;

  struct Stats {
    uint64_t segmentsDecoded = 0;  // segment decodes done (cache misses)
    uint64_t cacheHits = 0;        // segments served from the cache
  };

  // Opens path for reading and loads its header and index. Null when the file
  // cannot be opened or holds no readable index; *error (when given) then
  // says why. An index damaged part-way keeps the entries before the damage
  // (IndexDamaged() is then true), as LoadIndex does.
  static std::unique_ptr<EntryReader> Open(const std::string& path, VzrError* error = nullptr,
                                           std::size_t cacheBytes = kDefaultCacheBytes);
  ~EntryReader();
  EntryReader(const EntryReader&) = delete;
  EntryReader& operator=(const EntryReader&) = delete;

  // What the index says of entry i (i < Count()). name holds nameLength
  // bytes and then a zero byte, and stays valid while the reader lives.
  struct EntryInfo {
    const char* name = "";
    uint32_t nameLength = 0;
    uint32_t compSize = 0;
    uint32_t fileSize = 0;
    uint32_t fileOffset = 0;
  };

  const std::string& Path() const;
  // The index is kept compact (a few words and the name's bytes per entry),
  // so a big archive's reader stays small.
  EntryInfo Entry(uint32_t i) const;
  uint32_t Count() const;
  uint32_t StorageMode() const;
  bool IndexDamaged() const;
  // The archive's modification time when it was opened (seconds since the epoch).
  int64_t ModificationTime() const;

  // Reads bytes [offset, offset + n) of entry i into out. Returns the bytes
  // read (fewer than n only at the end of the entry, 0 at or past it), or -1
  // when the range cannot be read as the entry's true content (a damaged
  // segment table or stream, a read error, i out of range); *error then says
  // why. Never writes outside out[0, n), never returns wrong bytes.
  int64_t Read(uint32_t i, uint64_t offset, void* out, std::size_t n, VzrError* error = nullptr) const;

  // Hands entry i's content to sink in order, a piece at a time (a segment,
  // or a bounded block of a raw entry); stops early when sink returns false.
  // True when the whole content was handed over (or sink stopped it); false
  // on damage, with *error saying why. Uses no cache and no buffer larger
  // than a segment; its buffers are kept per thread for the next call, so
  // sink must not call Stream itself.
  bool Stream(uint32_t i, const std::function<bool(const unsigned char* data, std::size_t n)>& sink,
              VzrError* error = nullptr) const;

  Stats CacheStats() const;

  // The archive's own bytes [offset, offset + n), for readers that decode
  // entries their own way (several threads at once); false unless all n
  // were read. FileLength is the archive's length when it was opened.
  bool ReadStored(uint64_t offset, void* to, std::size_t n) const;
  uint64_t FileLength() const;

 private:
  struct State;
  explicit EntryReader(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

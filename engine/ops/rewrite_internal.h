// rewrite_internal.h - the one way an existing archive is rewritten: a
// complete new copy beside it (a ReplacementFile), kept stored forms copied
// inside the kernel without decoding, moved over the archive only when
// whole. Internal to the engine.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

class VzrArchive;

namespace vzrops {

// What the new copy holds: every entry of the loaded index in order, less the
// dropped ones, with entry `replaced` given the first replacedSize bytes of
// fileBuffer, then the additions in order.
struct RewritePlan {
  struct Addition {
    std::string name;           // index name, checked by the caller
    std::function<bool()> load;  // puts the content in fileBuffer and curLength; false: failed
    std::string sourcePath;      // or, without load: the file whose content is streamed in
  };
  std::vector<bool> dropped;  // by entry index; shorter than the index: the rest kept
  uint32_t replaced = UINT32_MAX;
  uint32_t replacedSize = 0;
  std::string replacedSource;  // when set, entry `replaced` gets this file's content, streamed
  std::vector<Addition> additions;
  // Run once the new copy is written, before it replaces the archive: closes
  // what the caller still has open on the archive, as Windows replaces no
  // file that is open.
  std::function<void()> beforeReplace;
};

// The fewest bytes the stored form of `length` content bytes can take in
// archive a (exact for a raw archive and for literal-only segments).
uint64_t StoredBytesAtLeast(const VzrArchive& a, uint64_t length);
// Writes `length` bytes of input, from its start, as an entry's stored form
// at `position` of a.vzrFileStream, a few segments at a time; the stream is
// left after it and `stored` holds its size. False (writeError set) when a
// read or write failed or the archive would pass 4 GiB.
bool WriteEntryFromFile(VzrArchive& a, std::FILE* input, uint64_t length, uint64_t position, uint64_t& stored);

// Carries the plan out through a new file beside the archive. caller names the operation in
// the failure trace lines. 0 updated; 1 not, and then the archive on disk,
// FileIndex and indexOffset are as they were.
int RewriteArchive(VzrArchive& a, const RewritePlan& plan, const char* caller);

}  // namespace vzrops

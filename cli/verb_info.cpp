// verb_info.cpp - "vzr info": an archive's storage mode and byte counts.
#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "cli.h"
#include "vzrpack.h"

namespace {

constexpr uint64_t kDataStart = 156;  // the data area follows the fixed header

// Bytes of the data area (kDataStart .. indexOffset) that no stored form
// covers; overlapping forms are counted once.
uint64_t UnusedBytes(const VzrArchive& a) {
  std::vector<std::pair<uint64_t, uint64_t>> spans;
  const uint64_t end = std::max<uint64_t>(a.indexOffset, kDataStart);
  for (uint32_t i = 0; i < a.FileIndex.count; ++i) {
    const FileEntry& e = a.FileIndex.files[i];
    uint64_t lo = std::clamp<uint64_t>(e.fileOffset, kDataStart, end);
    uint64_t hi = std::clamp<uint64_t>(uint64_t(e.fileOffset) + e.compSize, kDataStart, end);
    if (lo < hi) spans.emplace_back(lo, hi);
  }
  std::sort(spans.begin(), spans.end());
  uint64_t covered = 0, reach = kDataStart;
  for (const auto& [lo, hi] : spans) {
    if (hi <= reach) continue;
    covered += hi - std::max(lo, reach);
    reach = hi;
  }
  return end - kDataStart - covered;
}

int RunInfo(const cli::Args& args) {
  if (args.positionals.size() != 1) return cli::Usage("info", "one archive is needed");
  VzrArchive archive;
  int rc = cli::LoadArchive(args.positionals[0], archive);
  if (rc == cli::kNothing) return rc;
  uint64_t content = 0, stored = 0;
  for (uint32_t i = 0; i < archive.FileIndex.count; ++i) {
    content += archive.FileIndex.files[i].fileSize;
    stored += archive.FileIndex.files[i].compSize;
  }
  const double ratio = content ? double(stored) / double(content) : 1.0;
  const uint64_t unused = UnusedBytes(archive);
  const char* mode = archive.storageMode == 1 ? "segmented" : archive.storageMode == 0 ? "raw" : "unknown";
  if (args.Has("json")) {
    std::printf("{\"archive\":%s,\"storageMode\":%u,\"storage\":\"%s\",\"entries\":%u,\"contentBytes\":%llu,"
                "\"storedBytes\":%llu,\"indexOffset\":%u,\"unusedBytes\":%llu,\"ratio\":%.4f,\"damaged\":%s}\n",
                cli::JsonString(args.positionals[0]).c_str(), archive.storageMode, mode, archive.FileIndex.count,
                (unsigned long long)content, (unsigned long long)stored, archive.indexOffset,
                (unsigned long long)unused, ratio, archive.indexDamaged ? "true" : "false");
    return rc;
  }
  std::printf("archive:       %s\n", args.positionals[0].c_str());
  std::printf("storage mode:  %u (%s)\n", archive.storageMode, mode);
  std::printf("entries:       %u\n", archive.FileIndex.count);
  std::printf("content bytes: %llu\n", (unsigned long long)content);
  std::printf("stored bytes:  %llu\n", (unsigned long long)stored);
  std::printf("ratio:         %.4f (stored/content)\n", ratio);
  std::printf("index offset:  %u\n", archive.indexOffset);
  std::printf("unused bytes:  %llu (in the data area)\n", (unsigned long long)unused);
  return rc;
}

const cli::Register reg({"info", "an archive's storage mode, entries and byte counts",
                         "usage: vzr info [--json] ARCHIVE\n"
                         "Prints the storage mode, the number of entries, content bytes, stored bytes,\n"
                         "their ratio, the index offset and the unused bytes in the data area.\n"
                         "  --json       one object with the same fields\n",
                         {{"json", false}},
                         RunInfo});

}  // namespace

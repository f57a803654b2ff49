// recompress.cpp - rewriting a whole archive in another storage mode or at
// another compression level.
//
// The rewrite is the one every writer of an existing archive uses: every
// entry is dropped and added back in order, its content decoded from the
// old archive by a second reader, into a complete new copy beside the
// archive that is moved over it only when whole.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fileservices.h"
#include "format.h"
#include "rewrite.h"
#include "trace.h"
#include "vzrpack.h"

int RecompressArchive(const char* path, int level, unsigned threads) {
  if (level > 9) return 1;
  // Held from the first read to the rename, so no other writer's change
  // made meanwhile is lost.
  vzrfs::ArchiveLock lock;
  if (lock.Acquire(path) == EWOULDBLOCK) {
    TraceLog("ERROR! RecompressArchive(): another program is writing the archive; nothing was changed: ", path);
    LastEngineError() = {1, "", EWOULDBLOCK, std::string("another program is writing the archive; nothing was changed")};
    return 1;
  }
  VzrArchive src;
  // A missing archive must not come into being, and a damaged one is not
  // rewritten with only the entries before the damage.
  if (std::snprintf(src.vzr_file_name, sizeof src.vzr_file_name, "%s", path) >= int(sizeof src.vzr_file_name) ||
      src.OpenArchiveStream() != 0)
    return 1;
  src.LoadIndex(path);
  if (src.indexDamaged) return 1;

  VzrArchive dst;
  dst.LoadIndex(path);
  if (dst.indexDamaged || dst.FileIndex.count != src.FileIndex.count) return 1;
  dst.storageMode = level < 0 ? vzr::kStorageRaw : vzr::kStorageSegmented;
  dst.compressionLevel = level < 0 ? 0 : level;
  dst.compressionThreads = threads;

  vzrops::RewritePlan plan;
  plan.dropped.assign(src.FileIndex.count, true);
  for (uint32_t i = 0; i < src.FileIndex.count; ++i) {
    plan.additions.push_back({src.FileIndex.files[i].name, [&src, &dst, i] {
                                const uint32_t size = src.FileIndex.files[i].fileSize;
                                const unsigned char* content = src.Extract(i, nullptr);
                                const uint32_t capacity = size + vzr::kBufferGrowthMargin;
                                if (!content || !dst.GrowFileBuffer(capacity) ||
                                    !dst.GrowStoreBuffer(vzr::StoreCapacityFor(capacity)))
                                  return false;
                                std::memcpy(dst.fileBuffer, content, size);
                                dst.curLength = size;
                                return true;
                              },
                              {}});
  }
  return vzrops::RewriteArchive(dst, plan, "RecompressArchive");
}

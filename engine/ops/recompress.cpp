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
#include <string>

#include "errors_internal.h"
#include "fileservices.h"
#include "format.h"
#include "ops_internal.h"
#include "rewrite_internal.h"
#include "trace.h"
#include "ops.h"

int RecompressArchive(const char* path, int level, unsigned threads) {
  VzrError& error = LastEngineError();
  error.clear();
  const auto fail = [&error](int sysError, const char* message) {
    vzrops::SetError(error, 1, "", sysError, message);
    return 1;
  };
  if (level > 9) return fail(0, "compression level above 9");
  // Held from the first read to the rename, so no other writer's change
  // made meanwhile is lost.
  vzrfs::ArchiveLock lock;
  const int locked = lock.Acquire(path);
  if (const std::string busy = vzrops::LockRefusal(locked); !busy.empty()) {
    TraceLog("ERROR! RecompressArchive(): ", busy, ": ", path);
    return fail(locked, busy.c_str());
  }
  VzrArchive src;
  // A missing archive must not come into being, and a damaged one is not
  // rewritten with only the entries before the damage.
  if (std::snprintf(src.vzr_file_name, sizeof src.vzr_file_name, "%s", path) >= int(sizeof src.vzr_file_name))
    return fail(ENAMETOOLONG, "path too long");
  if (src.OpenArchiveStream() != 0) return fail(errno, "Could not open .vzr File!");
  src.LoadIndex(path);
  if (src.indexDamaged) {
    error = src.lastError;
    return 1;
  }

  VzrArchive dst;
  dst.LoadIndex(path);
  if (dst.indexDamaged) {
    error = dst.lastError;
    return 1;
  }
  if (dst.FileIndex.count != src.FileIndex.count) return fail(0, "the archive changed while it was read");
  dst.storageMode = level < 0 ? vzr::kStorageRaw : vzr::kStorageSegmented;
  dst.compressionLevel = level < 0 ? 0 : level;
  dst.compressionThreads = threads;

  vzrops::RewritePlan plan;
  plan.dropped.assign(src.FileIndex.count, true);
  for (uint32_t i = 0; i < src.FileIndex.count; ++i) {
    // The stored name whole: a zero byte in it must not cut it short.
    const FileEntry& stored = src.FileIndex.files[i];
    plan.additions.push_back({std::string(stored.name, stored.nameLength), [&src, &dst, i] {
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
  plan.beforeReplace = [&src] { src.CloseArchiveStream(); };
  const int result = vzrops::RewriteArchive(dst, plan, "RecompressArchive");
  error = dst.lastError;
  return result;
}

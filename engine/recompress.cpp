// recompress.cpp - rewriting a whole archive in another storage mode or at
// another compression level.
//
// Every entry is decoded from the old archive and written afresh into a
// complete new copy beside it under a fresh name, which is moved over the
// archive only when whole, as a replaced entry is.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fileservices.h"
#include "format.h"
#include "trace.h"
#include "vzrpack.h"

namespace {

bool WriteWords(std::FILE* out, uint32_t a, uint32_t b) {
  unsigned char words[8];
  vzr::WriteLE32(words, a);
  vzr::WriteLE32(words + 4, b);
  return vzrfs::Write(out, words, sizeof words);
}

// Writes every entry of src into out as dst's entries; false on any failure.
bool WriteRecompressed(VzrArchive& src, VzrArchive& dst, std::FILE* out) {
  if (!WriteWords(out, 0, dst.storageMode) ||
      !vzrfs::Write(out, vzr::kFixedBlock.bytes, vzr::kFixedBlockSize))
    return false;
  dst.vzrFileStream = out;
  for (uint32_t i = 0; i < src.FileIndex.count; ++i) {
    const FileEntry& e = src.FileIndex.files[i];
    const unsigned char* content = src.Extract(i, nullptr);
    if (!content) return false;
    const uint32_t capacity = e.fileSize + vzr::kBufferGrowthMargin;
    if (!dst.GrowFileBuffer(capacity) || !dst.GrowStoreBuffer(vzr::StoreCapacityFor(capacity))) return false;
    std::memcpy(dst.fileBuffer, content, e.fileSize);
    dst.curLength = e.fileSize;
    dst.WriteEntry(e.fileSize, e.name, false);
    if (dst.writeError != 0 || dst.FileIndex.count != i + 1) return false;
  }
  uint64_t position = 0;
  if (!vzrfs::Tell(out, position) || position > UINT32_MAX) return false;
  dst.indexOffset = static_cast<uint32_t>(position);
  dst.WriteIndex();
  unsigned char trailer[4] = {0, 0, 0, 0};
  if (dst.writeError != 0 || !vzrfs::Write(out, trailer, sizeof trailer)) return false;
  if (!vzrfs::Tell(out, position) || position > UINT32_MAX) return false;
  return vzrfs::Seek(out, 0) && WriteWords(out, dst.indexOffset, dst.storageMode);
}

}  // namespace

int RecompressArchive(const char* path, int level, unsigned threads) {
  if (level > 9) return 1;
  VzrArchive src;
  // A missing archive must not come into being, and a damaged one is not
  // rewritten with only the entries before the damage.
  if (std::snprintf(src.vzr_file_name, sizeof src.vzr_file_name, "%s", path) >= int(sizeof src.vzr_file_name) ||
      src.OpenArchiveStream() != 0)
    return 1;
  src.LoadIndex(path);
  if (src.indexDamaged) return 1;
  VzrArchive dst;
  dst.storageMode = level < 0 ? vzr::kStorageRaw : vzr::kStorageSegmented;
  dst.compressionLevel = level < 0 ? 0 : level;
  dst.compressionThreads = threads;

  std::string tmp;
  std::FILE* out = vzrfs::CreateBeside(path, tmp);
  const char* tmpPath = tmp.c_str();
  if (!out) return 1;
  const bool written = WriteRecompressed(src, dst, out);
  dst.vzrFileStream = nullptr;
  src.CloseArchiveStream();
  const bool closed = vzrfs::Close(out);
  if (!written || !closed || tavMoveFile(tmpPath, path) != 1) {
    vzrfs::DeleteFile(tmpPath);
    TraceLog("ERROR! RecompressArchive(): the archive was left as it was: ", path);
    return 1;
  }
  return 0;
}

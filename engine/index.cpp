// index.cpp - LoadIndex: the header words and the whole index of an archive.
//
// The format carries nothing to detect damage, and archives come from the
// internet, so the reader trusts no number it reads: the entry storage is
// sized from what the rest of the file can hold, never from `count` alone,
// and a damaged entry ends the index with the entries before it kept.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "errors_internal.h"
#include "fileservices.h"
#include "format.h"
#include "trace.h"
#include "vzrpack.h"

namespace {

bool ReadWord(std::FILE* f, uint32_t& value) {
  unsigned char bytes[4];
  if (!vzrfs::Read(f, bytes, sizeof bytes)) return false;
  value = vzr::ReadLE32(bytes);
  return true;
}

// Reads one index entry; false when the entry is damaged (cut short, or a
// name longer than the name field holds).
bool ReadEntry(std::FILE* f, FileEntry& entry) {
  if (!ReadWord(f, entry.nameLength) || entry.nameLength > vzr::kMaxNameLength) return false;
  if (!vzrfs::Read(f, entry.name, entry.nameLength)) return false;
  entry.name[entry.nameLength] = '\0';
  unsigned char rest[12 + vzr::kReservedSize];
  if (!vzrfs::Read(f, rest, sizeof rest)) return false;
  entry.compSize = vzr::ReadLE32(rest);
  entry.fileSize = vzr::ReadLE32(rest + 4);
  entry.fileOffset = vzr::ReadLE32(rest + 8);
  return true;
}

// LoadIndex returns nothing; its record says 2 for an archive that cannot
// be opened and 1 for a damaged index.
constexpr int kIndexDamaged = 1;
constexpr int kArchiveNotOpened = 2;

void ReportDamage(VzrError& error, uint32_t kept) {
  vzrops::TraceFailure(error, kIndexDamaged, "", 0, "ERROR! LoadIndex(): the index is damaged, entries kept: ", kept);
}

}  // namespace

void VzrArchive::LoadIndex(const char* path) {
  lastError.clear();
  TraceLog("LoadIndex( \"", path ? path : "", "\" )");
  if (path) {
    TraceLog("vzr_file_name: ", static_cast<const void*>(vzr_file_name), " <- ", static_cast<const void*>(path));
    std::strncpy(vzr_file_name, path, sizeof vzr_file_name - 1);
    vzr_file_name[sizeof vzr_file_name - 1] = '\0';
  }

  indexDamaged = false;
  loadedFile = {};
  if (OpenArchiveStream() != 0) {
    const int openError = errno;
    TraceLog("vzrFileStream_openFail() ");
    vzrops::SetError(lastError, kArchiveNotOpened, "", openError, "vzrFileStream_openFail()");
    return;
  }
  std::FILE* f = vzrFileStream;
  vzrfs::FileIdentity identity;
  if (vzrfs::IdentityOf(f, identity))
    loadedFile = {identity.device, identity.inode, identity.size, identity.mtimeNs, true};

  uint64_t length = 0;
  vzrfs::FileLength(f, length);
  archiveLength = static_cast<uint32_t>(std::min<uint64_t>(length, UINT32_MAX));
  vzrfs::Seek(f, 0);

  totalSize = 0;
  uint32_t entries = 0;
  const bool headerRead = ReadWord(f, indexOffset) && ReadWord(f, storageMode);
  if (!headerRead) {
    indexOffset = 0;
    storageMode = 0;
    FileIndex.resize(0);
    indexDamaged = true;
    ReportDamage(lastError, 0);
  } else if (indexOffset < archiveLength) {
    uint32_t count = 0;
    bool damaged = !vzrfs::Seek(f, indexOffset) || !ReadWord(f, count);
    // Each entry takes at least 28 bytes: never make room for more than that.
    const uint64_t room = damaged ? 0 : (archiveLength - uint64_t(indexOffset) - 4) / vzr::kIndexEntryFixedSize;
    const auto capacity = static_cast<uint32_t>(std::min<uint64_t>(count, room));
    FileIndex.resize(capacity);
    for (; !damaged && entries < count; ++entries) {
      if (entries >= capacity) {
        damaged = true;
        break;
      }
      FileEntry& entry = FileIndex.files[entries];
      if (!ReadEntry(f, entry)) {
        entry = FileEntry{};
        damaged = true;
        break;
      }
      totalSize += entry.fileSize;
    }
    if (damaged) ReportDamage(lastError, entries);
    indexDamaged = damaged;
  } else {
    // No room for even the entry count: whatever this file is, its index
    // cannot be read.
    indexDamaged = true;
    vzrops::SetError(lastError, kIndexDamaged, "", 0, "LoadIndex(): the index is damaged, entries kept: 0");
  }
  FileIndex.count = entries;
  CloseArchiveStream();
}

// index.cpp - LoadIndex: the header words and the whole index of an archive,
// and the index parser the entry reader shares.
//
// The format carries nothing to detect damage, and archives come from the
// internet, so the reader trusts no number it reads: the entry storage is
// sized from what the rest of the file can hold, never from `count` alone,
// and a damaged entry ends the index with the entries before it kept.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "errors_internal.h"
#include "fileservices.h"
#include "format.h"
#include "indexparse.h"
#include "trace.h"
#include "archive.h"

namespace {

bool ReadWord(vzrindex::Source& f, uint32_t& value) {
  unsigned char bytes[4];
  if (!f.Read(bytes, sizeof bytes)) return false;
  value = vzr::ReadLE32(bytes);
  return true;
}

// Reads one index entry; false when the entry is damaged (cut short, or a
// name longer than the name field holds).
bool ReadEntry(vzrindex::Source& f, FileEntry& entry) {
  if (!ReadWord(f, entry.nameLength) || entry.nameLength > vzr::kMaxNameLength) return false;
  if (!f.Read(entry.name, entry.nameLength)) return false;
  entry.name[entry.nameLength] = '\0';
  unsigned char rest[12 + vzr::kReservedSize];
  if (!f.Read(rest, sizeof rest)) return false;
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

namespace vzrindex {

Outcome Parse(Source& f, uint32_t length, Header& header, Sink& sink, uint32_t& kept) {
  header = Header{};
  kept = 0;
  if (!ReadWord(f, header.indexOffset) || !ReadWord(f, header.storageMode)) {
    header = Header{};
    sink.Room(0);
    return Outcome::kDamaged;
  }
  // No room for even the entry count: whatever this file is, its index
  // cannot be read.
  if (header.indexOffset >= length) return Outcome::kNoIndex;
  uint32_t count = 0;
  bool damaged = !f.Seek(header.indexOffset) || !ReadWord(f, count);
  // Each entry takes at least 28 bytes: never make room for more than that.
  const uint64_t room = damaged ? 0 : (length - uint64_t(header.indexOffset) - 4) / vzr::kIndexEntryFixedSize;
  const auto capacity = static_cast<uint32_t>(std::min<uint64_t>(count, room));
  sink.Room(capacity);
  for (; !damaged && kept < count; ++kept) {
    if (kept >= capacity) {
      damaged = true;
      break;
    }
    FileEntry& entry = sink.Slot(kept);
    if (!ReadEntry(f, entry)) {
      entry = FileEntry{};
      damaged = true;
      break;
    }
    header.totalSize += entry.fileSize;
    sink.Keep(kept);
  }
  return damaged ? Outcome::kDamaged : Outcome::kWhole;
}

}  // namespace vzrindex

namespace {

// The index's count and the bytes of its entries, read in two calls whatever
// the number of entries. The bytes read stop at the end of the file or where
// `count` entries of the longest name would end, whichever comes first.
struct IndexBytes {
  std::unique_ptr<unsigned char[]> bytes;
  std::size_t size = 0;  // bytes after the count word
  uint32_t count = 0;
};

bool ReadIndexBytes(std::FILE* f, uint32_t length, uint32_t indexOffset, IndexBytes& index) {
  unsigned char word[4];
  if (!vzrfs::Seek(f, indexOffset) || !vzrfs::Read(f, word, sizeof word)) return false;
  index.count = vzr::ReadLE32(word);
  constexpr uint64_t kLongestEntry = vzr::kIndexEntryFixedSize + vzr::kMaxNameLength;
  const uint64_t after = length >= uint64_t(indexOffset) + 4 ? length - uint64_t(indexOffset) - 4 : 0;
  index.size = static_cast<std::size_t>(std::min<uint64_t>(after, index.count * kLongestEntry));
  index.bytes = std::make_unique_for_overwrite<unsigned char[]>(index.size);
  return vzrfs::Read(f, index.bytes.get(), index.size);
}

// Walks the entries of index into files (emptied first, its storage kept),
// each record written once and only as far as its name reaches. Stops at
// the first entry cut short or with a name longer than the field holds:
// false then, with the entries before it kept.
bool WalkEntries(const IndexBytes& index, std::vector<FileEntry>& files, uint32_t& totalSize) {
  uint32_t sum = 0;  // kept here: a sum in memory would be stored back for every entry
  const unsigned char* at = index.bytes.get();
  const unsigned char* const end = at + index.size;
  // Each entry takes at least 28 bytes: never make room for more than that.
  files.clear();
  files.reserve(std::min<std::size_t>(index.count, index.size / vzr::kIndexEntryFixedSize));
  bool whole = true;
  for (uint32_t k = 0; k < index.count; ++k) {
    if (end - at < ptrdiff_t{vzr::kIndexEntryFixedSize}) {
      whole = false;
      break;
    }
    const uint32_t nameLength = vzr::ReadLE32(at);
    if (nameLength > vzr::kMaxNameLength || uint64_t(end - at) < vzr::kIndexEntryFixedSize + nameLength) {
      whole = false;
      break;
    }
    const unsigned char* numbers = at + 4 + nameLength;
    const uint32_t fileSize = vzr::ReadLE32(numbers + 4);
    files.emplace_back(reinterpret_cast<const char*>(at + 4), nameLength, vzr::ReadLE32(numbers), fileSize,
                       vzr::ReadLE32(numbers + 8));
    sum += fileSize;
    at += vzr::kIndexEntryFixedSize + nameLength;
  }
  totalSize += sum;
  return whole;
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
  vzrfs::FileIdentity identity;
  if (vzrfs::IdentityOf(vzrFileStream, identity))
    loadedFile = {identity.device, identity.inode, identity.size, identity.mtimeNs, true};

  uint64_t length = 0;
  vzrfs::FileLength(vzrFileStream, length);
  archiveLength = static_cast<uint32_t>(std::min<uint64_t>(length, UINT32_MAX));
  vzrfs::Seek(vzrFileStream, 0);

  indexOffset = storageMode = totalSize = 0;
  unsigned char words[8];
  if (!vzrfs::Read(vzrFileStream, words, sizeof words)) {
    // Too short for a header: nothing of it is kept.
    FileIndex.files.clear();
    FileIndex.count = 0;
    indexDamaged = true;
    ReportDamage(lastError, 0);
    CloseArchiveStream();
    return;
  }
  indexOffset = vzr::ReadLE32(words);
  storageMode = vzr::ReadLE32(words + 4);
  if (indexOffset >= archiveLength) {
    // No room for even the entry count: whatever this file is, its index
    // cannot be read. The entry storage is left as it was.
    FileIndex.count = 0;
    indexDamaged = true;
    vzrops::SetError(lastError, kIndexDamaged, "", 0, "LoadIndex(): the index is damaged, entries kept: 0");
    CloseArchiveStream();
    return;
  }
  IndexBytes index;
  const bool read = ReadIndexBytes(vzrFileStream, archiveLength, indexOffset, index);
  if (!read) FileIndex.files.clear();
  const bool whole = read && WalkEntries(index, FileIndex.files, totalSize);
  FileIndex.count = static_cast<uint32_t>(FileIndex.files.size());
  indexDamaged = !whole;
  if (!whole) ReportDamage(lastError, FileIndex.count);
  CloseArchiveStream();
}

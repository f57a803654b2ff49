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

namespace {

class StreamSource : public vzrindex::Source {
 public:
  explicit StreamSource(std::FILE* f) : f_(f) {}
  bool Read(void* to, std::size_t n) override { return vzrfs::Read(f_, to, n); }
  bool Seek(uint64_t offset) override { return vzrfs::Seek(f_, offset); }

 private:
  std::FILE* f_;
};

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

Outcome Parse(Source& f, uint32_t length, Header& header, FileIndex& index, uint32_t& kept) {
  class InPlace : public Sink {
   public:
    explicit InPlace(FileIndex& index) : index_(index) {}
    void Room(uint32_t n) override { index_.resize(n); }
    FileEntry& Slot(uint32_t k) override { return index_.files[k]; }
    void Keep(uint32_t) override {}

   private:
    FileIndex& index_;
  } sink(index);
  return Parse(f, length, header, sink, kept);
}

}  // namespace vzrindex

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

  StreamSource source(vzrFileStream);
  vzrindex::Header header;
  uint32_t entries = 0;
  const vzrindex::Outcome outcome = vzrindex::Parse(source, archiveLength, header, FileIndex, entries);
  indexOffset = header.indexOffset;
  storageMode = header.storageMode;
  totalSize = header.totalSize;
  indexDamaged = outcome != vzrindex::Outcome::kWhole;
  if (outcome == vzrindex::Outcome::kDamaged) ReportDamage(lastError, entries);
  if (outcome == vzrindex::Outcome::kNoIndex)
    vzrops::SetError(lastError, kIndexDamaged, "", 0, "LoadIndex(): the index is damaged, entries kept: 0");
  FileIndex.count = entries;
  CloseArchiveStream();
}

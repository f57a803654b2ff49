// encoder.cpp - writing one file as an entry of the archive being written.
//
// Raw archives store the bytes as they are. Segmented archives store each
// 32768-byte segment as one stream: at level 0 (what the windows write) a
// single literal run and the end marker, as fast as a copy; at levels 1..9
// the compressor's matches, segments compressed in parallel.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "compressor.h"
#include "fileservices.h"
#include "format.h"
#include "ops_internal.h"
#include "segmentwriter.h"
#include "trace.h"
#include "ops.h"

namespace {

// storeBuffer bytes the segmented streams of `length` content bytes take.
uint64_t SegmentedStreamBytes(uint32_t length) {
  const uint64_t full = length / vzr::kSegmentSize;
  const uint32_t rest = length % vzr::kSegmentSize;
  uint64_t bytes = full * vzr::LiteralStreamLength(vzr::kSegmentSize);
  if (rest) bytes += vzr::LiteralStreamLength(rest);
  return bytes;
}

// Content from this size up leaves as literal-only streams straight from
// fileBuffer: the copy it saves then costs more than the stream's flush and
// the gathered write.
constexpr uint32_t kLiteralsInPlaceFrom = 64 * 1024;

// The entry's index record (unless replacing) and stored form at the
// archive stream's position; writeData puts down the streams (or the raw
// bytes), dataBytes of them.
template <typename WriteData>
void WriteEntryForm(VzrArchive& a, const char* path, uint32_t fileSize, const SegmentRecord* records, uint32_t count,
                    uint32_t dataBytes, bool replacing, WriteData writeData) {
  FileEntry entry;
  const std::size_t pathLength = std::strlen(path);
  const std::size_t skip = std::min<std::size_t>(a.srcPrefixLength, pathLength);
  entry.nameLength = static_cast<uint32_t>(std::min<std::size_t>(pathLength - skip, vzr::kMaxNameLength));
  std::memcpy(entry.name, path + skip, entry.nameLength);
  entry.name[entry.nameLength] = '\0';
  entry.fileSize = fileSize;
  uint64_t position = 0;
  vzrfs::Tell(a.vzrFileStream, position);
  entry.fileOffset = static_cast<uint32_t>(position);

  auto noteFailure = [&a](bool written) {
    if (!written && a.writeError == 0) a.writeError = errno ? errno : EIO;
  };
  auto write = [&a, &noteFailure](const void* bytes, std::size_t n) {
    noteFailure(vzrfs::Write(a.vzrFileStream, bytes, n));
  };

  if (a.storageMode == vzr::kStorageSegmented) {
    if (count > 0) {
      // Segment count, table, streams: the streams lie back to back.
      unsigned char countBytes[4];
      vzr::WriteLE32(countBytes, count);
      std::vector<unsigned char> table(std::size_t(count) * vzr::kSegmentRecordSize);
      for (uint32_t k = 0; k < count; ++k) {
        unsigned char* record = table.data() + std::size_t(k) * vzr::kSegmentRecordSize;
        vzr::WriteLE32(record, records[k].compLength);
        vzr::WriteLE32(record + 4, records[k].rawLength);
        vzr::WriteLE32(record + 8, records[k].streamOffset);
      }
      write(countBytes, sizeof countBytes);
      write(table.data(), table.size());
      noteFailure(writeData());
      // What the writes put down, without asking the stream for its position
      // again (a system call per entry); a failed write fails the whole
      // operation through writeError.
      entry.compSize = static_cast<uint32_t>(sizeof countBytes + table.size() + dataBytes);
    } else {
      write(vzr::kEmptySegmentedForm, vzr::kEmptySegmentedSize);
      entry.compSize = vzr::kEmptySegmentedSize;
    }
  } else if (a.storageMode == vzr::kStorageRaw) {
    noteFailure(writeData());
    entry.compSize = dataBytes;
  }
  if (!replacing) a.FileIndex.append(entry);
}

// The literal-only streams of the segments, written from fileBuffer where
// the bytes lie: each segment's run code, its bytes and the end marker, as
// pieces of one gathered write. The same bytes as EncodeSegment over every
// segment and one write of storeBuffer, without that copy of the content.
void WriteLiteralsInPlace(VzrArchive& a, const char* path, bool replacing) {
  constexpr uint32_t kCodeRoom = vzr::RunCodeLength(vzr::kSegmentSize);  // the longest code a segment has
  unsigned char fullCode[kCodeRoom], lastCode[kCodeRoom];
  const uint32_t lastRaw = a.curLength - (a.segmentCount - 1) * vzr::kSegmentSize;
  const uint32_t fullCodeLength = vzr::WriteRunCode(fullCode, vzr::kSegmentSize);
  const uint32_t lastCodeLength = vzr::WriteRunCode(lastCode, lastRaw);
  std::vector<vzrfs::ConstBytes> pieces;
  pieces.reserve(std::size_t(a.segmentCount) * 3);
  a.outPos = 0;
  for (uint32_t k = 0; k < a.segmentCount; ++k) {
    const bool last = k + 1 == a.segmentCount;
    const uint32_t raw = last ? lastRaw : vzr::kSegmentSize;
    a.segments[k] = {vzr::LiteralStreamLength(raw), raw, static_cast<uint32_t>(a.outPos)};
    pieces.push_back({last ? lastCode : fullCode, last ? lastCodeLength : fullCodeLength});
    pieces.push_back({a.fileBuffer + std::size_t(k) * vzr::kSegmentSize, raw});
    pieces.push_back({vzr::kEndMarker, sizeof vzr::kEndMarker});
    a.outPos += static_cast<int32_t>(a.segments[k].compLength);
  }
  a.segmentStart = (a.segmentCount - 1) * vzr::kSegmentSize;
  CodePosition = 241;
  WriteEntryForm(a, path, a.curLength, a.segments.data(), a.segmentCount, static_cast<uint32_t>(a.outPos), replacing,
                 [&a, &pieces] { return vzrfs::WriteGathered(a.vzrFileStream, pieces.data(), pieces.size()); });
}

}  // namespace

std::size_t vzrops::EntryNameLength(const VzrArchive& pack, const char* path) {
  const std::size_t pathLength = std::strlen(path);
  return pack.basePathLength + (pathLength > pack.srcPrefixLength ? pathLength - pack.srcPrefixLength : 0);
}

bool vzrops::RefuseOverlongName(const VzrArchive& pack, const char* path) {
  const std::size_t nameLength = EntryNameLength(pack, path);
  if (nameLength <= vzr::kMaxNameLength) return false;
  TraceLog("ERROR! entry name too long (", static_cast<uint64_t>(nameLength), " characters), skipped: ", path);
  return true;
}

bool vzrops::SkipOverlongName(const VzrArchive& pack, const char* path) {
  if (!RefuseOverlongName(pack, path)) return false;
  NotePackProblem(path, SourceFileProblem(path, EntryNameLength(pack, path)));
  return true;
}

void VzrArchive::AddFile(const char* path) {
  CodePosition = 356;
  if (vzrops::SkipOverlongName(*this, path)) return;

  vzrfs::UniqueFile input(vzrfs::OpenRead(path));
  if (!input) {
    const int error = errno;
    TraceLog("ERROR! inputFile: ", path);
    vzrops::NotePackProblem(path, vzrops::OpenFailureReason(path, error));
    return;
  }
  // A length that cannot be measured reads as -1, as a failed position query
  // gives it. Such a file, or one the 32-bit format cannot describe, is
  // skipped rather than stored as an empty entry under its name.
  uint64_t length = 0;
  if (!vzrfs::FileLength(input.get(), length)) length = UINT32_MAX;
  if (length >= UINT32_MAX - vzr::kBufferGrowthMargin) {
    TraceLog("ERRROR! input file too big!: ", length);
    vzrops::NotePackProblem(path, vzrops::TooLargeReason(length));
    curLength = 0;
    return;
  }
  curLength = static_cast<uint32_t>(length);
  if (curLength >= fileBufferCapacity) {
    const uint32_t fileCapacity = curLength + vzr::kBufferGrowthMargin;
    if (!GrowFileBuffer(fileCapacity) || !GrowStoreBuffer(vzr::StoreCapacityFor(fileCapacity))) {
      TraceLog("ERROR! inputFile: ", path, " (not enough memory for ", curLength, " bytes)");
      vzrops::NotePackProblem(path, std::strerror(ENOMEM));
      curLength = 0;
      return;
    }
  }
  vzrops::SourceStamp before;
  vzrops::StampOf(input.get(), before);
  if (!vzrfs::Read(input.get(), fileBuffer, curLength)) {
    // The file shrank or could not be read whole: storing what came would
    // store garbage under its name.
    TraceLog("ERROR! inputFile: ", path);
    vzrops::NotePackProblem(path, vzrops::ChangedSince(input.get(), before) ? std::string(vzrops::kChangedWhileRead)
                                                                            : std::strerror(errno ? errno : EIO));
    curLength = 0;
    return;
  }
  // A file that grew is stored at the size it had when it was opened.
  if (vzrops::ChangedSince(input.get(), before)) vzrops::NotePackProblem(path, vzrops::kChangedWhileRead, true);
  input.reset();
  WriteEntry(curLength, path, false);
}

void VzrArchive::WriteEntry(uint32_t length, const char* path, bool replacing) {
  // A replaced entry keeps its index record, so only a new one needs a name.
  if (!replacing && vzrops::RefuseOverlongName(*this, path)) return;
  if (storageMode == vzr::kStorageSegmented && length > 0) {
    const uint64_t needed = SegmentedStreamBytes(curLength);
    if (needed > UINT32_MAX || !GrowStoreBuffer(static_cast<uint32_t>(needed))) {
      if (writeError == 0) writeError = ENOMEM;
      return;
    }
    segmentCount = ((curLength - 1) >> vzr::kSegmentShift) + 1;
    segments.assign(segmentCount, SegmentRecord{});
    outPos = 0;
    if (compressionLevel > 0) {
      outPos = static_cast<int32_t>(vzr::CompressSegments(fileBuffer, curLength, storeBuffer, segments.data(),
                                                          segmentCount, compressionLevel, compressionThreads));
    } else if (curLength >= kLiteralsInPlaceFrom) {
      WriteLiteralsInPlace(*this, path, replacing);
      std::vector<SegmentRecord>().swap(segments);
      return;
    } else {
      for (uint32_t k = 0; k < segmentCount; ++k) {
        const uint32_t remaining = curLength - k * vzr::kSegmentSize;
        segments[k].rawLength = remaining < vzr::kSegmentSize ? remaining : vzr::kSegmentSize;
        segments[k].streamOffset = static_cast<uint32_t>(outPos);
        segments[k].compLength = EncodeSegment(k);
      }
    }
    vzrops::WriteEncodedEntry(*this, path, curLength, segments.data(), segmentCount, storeBuffer,
                              static_cast<uint32_t>(outPos), replacing);
    std::vector<SegmentRecord>().swap(segments);
    return;
  }
  if (storageMode == vzr::kStorageSegmented) outPos = static_cast<int32_t>(vzr::kEmptySegmentedSize);
  vzrops::WriteEncodedEntry(*this, path, curLength, nullptr, 0, fileBuffer, length, replacing);
}

// The entry's index record and stored form, shared by WriteEntry and the
// packer's compress-ahead, so both write the same bytes for the same content.
void vzrops::WriteEncodedEntry(VzrArchive& a, const char* path, uint32_t fileSize, const SegmentRecord* records,
                               uint32_t count, const unsigned char* data, uint32_t dataBytes, bool replacing) {
  WriteEntryForm(a, path, fileSize, records, count, dataBytes, replacing,
                 [&a, data, dataBytes] { return vzrfs::Write(a.vzrFileStream, data, dataBytes); });
}

uint32_t VzrArchive::EncodeSegment(uint32_t k) {
  CodePosition = 218;
  segmentStart = k * vzr::kSegmentSize;
  // The stream opens with its literal-run header (WriteRunLength's place).
  CodePosition = 241;
  const uint32_t written =
      vzr::WriteLiteralStream(fileBuffer + segmentStart, segments[k].rawLength, storeBuffer + outPos);
  outPos += static_cast<int32_t>(written);
  return written;
}

void VzrArchive::WriteRunLength(int32_t& pos, uint32_t n) {
  CodePosition = 241;
  pos += static_cast<int32_t>(vzr::WriteRunCode(storeBuffer + pos, n));
}

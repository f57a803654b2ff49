// streamentry.cpp - writing a file of any size as an entry of a rewritten
// archive, a group of segments at a time, so memory stays a few segments
// whatever the file's size. The bytes are those WriteEntry writes for the
// same content: segments are encoded independently of each other.
#include <algorithm>
#include <cerrno>
#include <vector>

#include "compressor.h"
#include "fileservices.h"
#include "format.h"
#include "rewrite_internal.h"
#include "segmentwriter.h"
#include "ops.h"

namespace {

// Segments read, encoded and written together: 2 MiB of content, inside the
// buffers an engine object has from its start.
constexpr uint32_t kGroupSegments = 64;

uint64_t SegmentCount(uint64_t length) { return (length + vzr::kSegmentSize - 1) / vzr::kSegmentSize; }

bool Fail(VzrArchive& a, int error) {
  if (a.writeError == 0) a.writeError = error ? error : EIO;
  return false;
}

// Encodes the first `bytes` of fileBuffer (n segments) into storeBuffer as
// WriteEntry does; the streams' length.
uint32_t EncodeGroup(VzrArchive& a, uint32_t bytes, uint32_t n) {
  a.curLength = bytes;
  a.segments.assign(n, SegmentRecord{});
  a.outPos = 0;
  if (a.compressionLevel > 0)
    return vzr::CompressSegments(a.fileBuffer, bytes, a.storeBuffer, a.segments.data(), n, a.compressionLevel,
                                 a.compressionThreads);
  for (uint32_t k = 0; k < n; ++k) {
    const uint32_t remaining = bytes - k * vzr::kSegmentSize;
    a.segments[k].rawLength = std::min(remaining, vzr::kSegmentSize);
    a.segments[k].streamOffset = static_cast<uint32_t>(a.outPos);
    a.segments[k].compLength = a.EncodeSegment(k);
  }
  return static_cast<uint32_t>(a.outPos);
}

bool WriteSegmented(VzrArchive& a, std::FILE* input, uint64_t length, uint64_t position, uint64_t& stored) {
  std::FILE* out = a.vzrFileStream;
  if (length == 0) {
    stored = vzr::kEmptySegmentedSize;
    return vzrfs::Write(out, vzr::kEmptySegmentedForm, vzr::kEmptySegmentedSize) || Fail(a, errno);
  }
  const uint32_t groupBytes = kGroupSegments * vzr::kSegmentSize;
  if (!a.GrowFileBuffer(groupBytes + vzr::kBufferGrowthMargin) ||
      !a.GrowStoreBuffer(vzr::StoreCapacityFor(groupBytes + vzr::kBufferGrowthMargin)))
    return Fail(a, ENOMEM);
  const auto count = static_cast<uint32_t>(SegmentCount(length));
  // The table is written once as a placeholder, then again when every
  // segment's stream is known.
  std::vector<unsigned char> table(4 + std::size_t(count) * vzr::kSegmentRecordSize, 0);
  vzr::WriteLE32(table.data(), count);
  if (!vzrfs::Write(out, table.data(), table.size())) return Fail(a, errno);
  uint64_t streams = 0;
  for (uint32_t first = 0; first < count; first += kGroupSegments) {
    const uint32_t n = std::min(kGroupSegments, count - first);
    const auto bytes = static_cast<uint32_t>(std::min<uint64_t>(length - uint64_t(first) * vzr::kSegmentSize, groupBytes));
    if (!vzrfs::Read(input, a.fileBuffer, bytes)) return Fail(a, EIO);
    const uint32_t encoded = EncodeGroup(a, bytes, n);
    for (uint32_t k = 0; k < n; ++k) {
      unsigned char* record = table.data() + 4 + std::size_t(first + k) * vzr::kSegmentRecordSize;
      vzr::WriteLE32(record, a.segments[k].compLength);
      vzr::WriteLE32(record + 4, a.segments[k].rawLength);
      vzr::WriteLE32(record + 8, static_cast<uint32_t>(streams + a.segments[k].streamOffset));
    }
    if (!vzrfs::Write(out, a.storeBuffer, encoded)) return Fail(a, errno);
    streams += encoded;
    if (position + table.size() + streams > UINT32_MAX) return Fail(a, EFBIG);
  }
  std::vector<SegmentRecord>().swap(a.segments);
  stored = table.size() + streams;
  if (!vzrfs::Seek(out, position) || !vzrfs::Write(out, table.data(), table.size()) ||
      !vzrfs::Seek(out, position + stored))
    return Fail(a, errno);
  return true;
}

}  // namespace

uint64_t vzrops::StoredBytesAtLeast(const VzrArchive& a, uint64_t length) {
  if (a.storageMode == vzr::kStorageRaw) return length;
  if (a.storageMode != vzr::kStorageSegmented) return 0;
  if (length == 0) return vzr::kEmptySegmentedSize;
  const uint64_t count = SegmentCount(length);
  const uint64_t table = 4 + count * vzr::kSegmentRecordSize;
  // Level 0 writes literal streams of known length; a compressed stream is
  // at least its end marker.
  if (a.compressionLevel > 0) return table + count * sizeof vzr::kEndMarker;
  const uint64_t full = length / vzr::kSegmentSize, rest = length % vzr::kSegmentSize;
  uint64_t streams = full * vzr::LiteralStreamLength(vzr::kSegmentSize);
  if (rest) streams += vzr::LiteralStreamLength(static_cast<uint32_t>(rest));
  return table + streams;
}

bool vzrops::WriteEntryFromFile(VzrArchive& a, std::FILE* input, uint64_t length, uint64_t position,
                                uint64_t& stored) {
  stored = 0;
  if (a.storageMode == vzr::kStorageSegmented) return WriteSegmented(a, input, length, position, stored);
  if (a.storageMode != vzr::kStorageRaw) return true;  // an unknown mode stores no bytes, as WriteEntry
  if (!vzrfs::CopyRangeAt(input, 0, a.vzrFileStream, position, length, a.storeBuffer, a.storeBufferCapacity) ||
      !vzrfs::Seek(a.vzrFileStream, position + length))
    return Fail(a, vzrfs::LastWriteError());
  stored = length;
  return true;
}

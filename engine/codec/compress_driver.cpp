// compress_driver.cpp - the segment compressor's entry points: one segment at
// a level (CompressSegment), and the segments of an entry spread over
// threads (CompressSegments).
//
// Level 0 is the literal-only stream; levels 1 to 9 are in the files named in
// compress_levels.h. The result never exceeds the literal-only stream: when
// matching would not pay, the literal-only stream is written instead.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "compress_levels.h"
#include "compressor.h"
#include "segmentwriter.h"
#include "codec.h"
#include "core.h"

namespace {

using namespace vzr::compress;

// Where a level's stream is made when it might not fit the caller's buffer;
// per thread, so a segment allocates nothing after the first.
std::vector<unsigned char>& ThreadScratch() {
  thread_local std::vector<unsigned char> scratch;
  return scratch;
}

// The stream a level made in the scratch, or the literal-only stream when
// that is no longer; 0 when the one kept does not fit out.
uint32_t Keep(const unsigned char* in, uint32_t n, unsigned char* out, uint32_t outCapacity,
              const unsigned char* made, uint32_t length) {
  const uint32_t literalLength = vzr::LiteralStreamLength(n);
  if (length >= literalLength) {
    if (outCapacity < literalLength) return 0;
    return vzr::WriteLiteralStream(in, n, out);
  }
  if (outCapacity < length) return 0;
  std::memcpy(out, made, length);
  return length;
}

}  // namespace

uint32_t CompressBound(uint32_t n) { return vzr::LiteralStreamLength(std::min(n, vzr::kSegmentSize)); }

uint32_t CompressSegment(const unsigned char* in, uint32_t n, unsigned char* out, uint32_t outCapacity,
                         int level) {
  if (n > vzr::kSegmentSize || level < 0 || level > kMaxLevel) return 0;
  const uint32_t literalLength = vzr::LiteralStreamLength(n);
  if (level == 0 || n < 4) {
    if (outCapacity < literalLength) return 0;
    return vzr::WriteLiteralStream(in, n, out);
  }
  std::vector<unsigned char>& scratch = ThreadScratch();
  const std::size_t scratchSize = ScratchSize(literalLength, n);
  if (scratch.size() < scratchSize) scratch.resize(scratchSize);
  uint32_t length = 0;
  if (level == 1) {
    // Straight into out while it has room (the stream is the same either
    // way); into the scratch when it might not fit.
    length = CompressFast(in, n, out, outCapacity);
    if (length != 0) {
      if (length < literalLength) return length;
      if (outCapacity < literalLength) return 0;
      return vzr::WriteLiteralStream(in, n, out);
    }
    length = CompressFast(in, n, scratch.data(), scratchSize);
  } else if (level == kMaxLevel) {
    length = CompressOptimal(in, n, scratch.data());
  } else {
    length = CompressLazy(in, n, scratch.data(), level);
  }
  return Keep(in, n, out, outCapacity, scratch.data(), length);
}

namespace vzr {

uint32_t CompressSegments(const unsigned char* in, uint32_t length, unsigned char* store, SegmentRecord* records,
                          uint32_t count, int level, unsigned threads) {
  // Segment k is written into its own slot (where its literal-only stream
  // would start), so workers never share bytes; the slots are then closed up
  // in table order.
  const uint32_t slot = LiteralStreamLength(kSegmentSize);
  std::atomic<uint32_t> next{0};
  auto work = [&] {
    for (uint32_t k = next++; k < count; k = next++) {
      const uint32_t start = k * kSegmentSize;
      const uint32_t raw = std::min(kSegmentSize, length - start);
      records[k].rawLength = raw;
      records[k].compLength =
          CompressSegment(in + start, raw, store + std::size_t(k) * slot, CompressBound(raw), level);
    }
  };
  unsigned workers = threads ? threads : std::max(1u, std::thread::hardware_concurrency());
  workers = std::min<unsigned>(workers, count);
  std::vector<std::thread> pool;
  for (unsigned w = 1; w < workers; ++w) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();
  uint32_t offset = 0;
  for (uint32_t k = 0; k < count; ++k) {
    records[k].streamOffset = offset;
    std::memmove(store + offset, store + std::size_t(k) * slot, records[k].compLength);
    offset += records[k].compLength;
  }
  return offset;
}

}  // namespace vzr

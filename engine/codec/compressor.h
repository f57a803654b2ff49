// compressor.h - the parallel segment driver: the segments of one entry
// compressed at a level on several threads (compress_driver.cpp).
#pragma once

#include <cstdint>

struct SegmentRecord;

namespace vzr {

// Compresses in[0..length) segment by segment at level on up to `threads`
// threads (0: every core) into store, which holds the literal-only streams of
// all segments; fills records and returns the bytes of all streams. The bytes
// do not depend on the thread count.
uint32_t CompressSegments(const unsigned char* in, uint32_t length, unsigned char* store, SegmentRecord* records,
                          uint32_t count, int level, unsigned threads);

}  // namespace vzr

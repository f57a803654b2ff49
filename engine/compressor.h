// compressor.h - the engine's own segment streams, shared by the entry writer
// and the match-finding compressor.
#pragma once

#include <cstdint>

struct SegmentRecord;

namespace vzr {

// Bytes of the literal-only stream of an n-byte segment: run code, the bytes,
// the end marker (4 for an empty segment).
uint32_t LiteralStreamLength(uint32_t n);
// Writes the literal-only stream of in[0..n) at out (LiteralStreamLength(n)
// bytes); returns its length.
// Writes the run code of an n-byte literal run (first-byte form) at out;
// returns its length.
uint32_t WriteRunCode(unsigned char* out, uint32_t n);
uint32_t WriteLiteralStream(const unsigned char* in, uint32_t n, unsigned char* out);

// Compresses in[0..length) segment by segment at level on up to `threads`
// threads (0: every core) into store, which holds the literal-only streams of
// all segments; fills records and returns the bytes of all streams. The bytes
// do not depend on the thread count.
uint32_t CompressSegments(const unsigned char* in, uint32_t length, unsigned char* store, SegmentRecord* records,
                          uint32_t count, int level, unsigned threads);

}  // namespace vzr

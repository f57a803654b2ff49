// codec.h - the segment codec: decoding a segmented stored form, and
// compressing one segment at levels 0..9.
#pragma once

#include <cstdint>

// Decodes a segmented stored form into out. Returns the bytes written over all
// segments, or 0 on failure. Never reads outside stored[0, storedLength) nor
// writes outside out[0, outCapacity); allocates nothing. Bytes of out after
// the result (up to outCapacity) may have been used as scratch. Throws nothing.
int32_t Decompression(const unsigned char* stored, uint32_t storedLength, unsigned char* out,
                      uint32_t outCapacity);

// Decompression without its trace line on failure, for a read that decodes
// ahead and reports damage itself where a single-threaded read would.
int32_t DecompressionQuiet(const unsigned char* stored, uint32_t storedLength, unsigned char* out,
                           uint32_t outCapacity);

// The largest stream CompressSegment can write for a segment of n bytes (n <= 32768).
uint32_t CompressBound(uint32_t n);
// Compresses in[0..n) (n <= 32768) into one stream of the segment format at the given
// level (0..9). Returns the stream's length, or 0 when outCapacity is too small or n is
// out of range. Reads only in[0..n), writes only out[0..result).
uint32_t CompressSegment(const unsigned char* in, uint32_t n, unsigned char* out, uint32_t outCapacity, int level);

// The level a compressed pack uses when none is given.
inline constexpr int kDefaultCompressionLevel = 6;

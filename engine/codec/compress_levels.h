// compress_levels.h - the contract between the segment driver and the
// compressor levels, and the byte helpers the levels share.
//
// Each level compresses one segment of at least 4 and at most 32768 bytes on
// its own: matches reach back inside the segment only, and the stream
// depends on nothing but the bytes and the level (each level's tables are
// per thread and start cleared). The driver (compress_driver.cpp) chooses
// the level, keeps the literal-only stream when matching does not pay, and
// spreads segments over threads.
//
//   level 1     compress_fast.cpp     one hash probe per position, skipping faster through unmatched data
//   levels 2-8  compress_lazy.cpp     hash chains, a one-byte lazy step from level 3
//   level 9     compress_optimal.cpp  an optimal parse over hash-chain matches, searched at few positions
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace vzr::compress {

inline constexpr int kMaxLevel = 9;

// Search effort of one level.
struct LevelParams {
  uint32_t hashBits;
  uint32_t chainDepth;  // candidates examined per position (1: head only)
  bool lazy;            // try the next position before taking a match
  uint32_t niceLength;  // stop searching at a match this long
};

inline constexpr LevelParams kLevels[kMaxLevel + 1] = {
    {0, 0, false, 0},        {14, 1, false, 0},        {15, 4, false, 32},
    {15, 8, true, 64},       {15, 16, true, 128},      {15, 32, true, 256},
    {15, 64, true, 512},     {15, 256, true, 258},     {15, 1024, true, 1024},
    {15, 128, false, 64},
};

// Bytes a level's stream may take before the driver drops it for the
// literal-only stream: matching never writes more than the literal-only
// stream plus one run code per 255 bytes.
inline constexpr std::size_t ScratchSize(uint32_t literalLength, uint32_t n) {
  return std::size_t(literalLength) + n / 64 + 64;
}

// Level 1 into out[0..capacity); 0 as soon as the stream might not fit.
uint32_t CompressFast(const unsigned char* in, uint32_t n, unsigned char* out, std::size_t capacity);
// Levels 2 to 8 into out, which has ScratchSize bytes of room.
uint32_t CompressLazy(const unsigned char* in, uint32_t n, unsigned char* out, int level);
// Level 9 into out, which has ScratchSize bytes of room.
uint32_t CompressOptimal(const unsigned char* in, uint32_t n, unsigned char* out);

// --- Byte helpers shared by the levels -------------------------------------

inline uint32_t Load32(const unsigned char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

inline uint64_t Load64(const unsigned char* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

inline uint32_t Hash3(const unsigned char* p, uint32_t bits) {
  const uint32_t v = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
  return (v * 2654435761u) >> (32 - bits);
}

// v is four bytes as Load32 read them; hashing them in little-endian order
// keeps the table slots, and so the stream, the same on every machine.
inline uint32_t Hash4(uint32_t v, uint32_t bits) {
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
  return (v * 0x9E3779B1u) >> (32 - bits);
}

// Bytes equal at the start of two eight-byte words whose XOR is diff (not 0).
inline uint32_t EqualPrefix(uint64_t diff) {
  if constexpr (std::endian::native == std::endian::little) return uint32_t(std::countr_zero(diff)) / 8;
  else return uint32_t(std::countl_zero(diff)) / 8;
}

// Common length of in[a..) and in[b..) (a < b), within in[0..n); eight
// bytes at a time while eight remain.
inline uint32_t MatchLength(const unsigned char* in, uint32_t a, uint32_t b, uint32_t n) {
  uint32_t len = 0;
  while (b + len + 8 <= n) {
    const uint64_t diff = Load64(in + a + len) ^ Load64(in + b + len);
    if (diff != 0) return len + EqualPrefix(diff);
    len += 8;
  }
  while (b + len < n && in[a + len] == in[b + len]) ++len;
  return len;
}

// Sizes a table and zeroes it with one memset (cheaper than a filling loop
// in instrumented builds, and never slower).
inline void ClearTable(std::vector<uint16_t>& table, std::size_t size) {
  if (table.size() != size) table.resize(size);
  std::memset(table.data(), 0, size * sizeof(uint16_t));
}

}  // namespace vzr::compress

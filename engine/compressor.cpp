// compressor.cpp - the match-finding segment compressor.
//
// Each segment becomes one stream of the segment format: a first literal run,
// then matches (each carrying up to three trailing literals in its low bits)
// and literal runs, then the end marker. Matches reach back inside the
// segment only. Two rules keep every reader of the format in agreement: the
// first literal run is always coded as a first byte of 18 to 255 or as 0 with
// a length extension (never 1 to 17), and a far match never has a zero
// distance field (a reader that follows the original format's decoder takes
// that for the end of the stream); distances of exactly 16384 therefore go
// in a mid match.
//
// Level 0 is the literal-only stream. Level 1 probes one hash slot per
// position and skips ahead faster through data that does not match. Higher
// levels walk longer hash chains and defer a match by one byte when the next
// position matches longer. The result never exceeds the literal-only stream:
// when matching would not pay, the literal-only stream is written instead.
#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <thread>
#include <vector>

#include "compressor.h"
#include "format.h"
#include "vzrpack.h"

namespace {

constexpr uint32_t kMaxShortDistance = 2048;
constexpr uint32_t kMaxMidDistance = 16384;
constexpr uint32_t kMaxShortLength = 8;
constexpr uint32_t kMaxMidDirectLength = 33;
constexpr uint32_t kMaxFarDirectLength = 9;
constexpr int kMaxLevel = 9;

// Search effort of one level.
struct LevelParams {
  uint32_t hashBits;
  uint32_t chainDepth;  // candidates examined per position (1: head only)
  bool lazy;            // try the next position before taking a match
  uint32_t niceLength;  // stop searching at a match this long
};

constexpr LevelParams kLevels[kMaxLevel + 1] = {
    {0, 0, false, 0},        {14, 1, false, 0},        {15, 4, false, 32},
    {15, 8, true, 64},       {15, 16, true, 128},      {15, 32, true, 256},
    {15, 64, true, 512},     {15, 256, true, 258},     {15, 1024, true, 1024},
    {15, 4096, true, 2048},
};

inline uint32_t Hash3(const unsigned char* p, uint32_t bits) {
  const uint32_t v = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
  return (v * 2654435761u) >> (32 - bits);
}

// A match worth coding: a length-3 match saves a byte only as a short match.
inline bool Worthwhile(uint32_t length, uint32_t distance) {
  return length >= 4 || (length == 3 && distance <= kMaxShortDistance);
}

// Writes instructions into a buffer known to be large enough.
class StreamWriter {
 public:
  explicit StreamWriter(unsigned char* out) : out_(out) {}

  void Literals(const unsigned char* p, uint32_t n) {
    if (first_) {
      pos_ += vzr::WriteRunCode(out_ + pos_, n);
      first_ = false;
    } else if (n == 0) {
      return;
    } else if (n <= 3) {
      out_[trailPos_] = static_cast<unsigned char>(out_[trailPos_] | n);
    } else if (n <= 18) {
      out_[pos_++] = static_cast<unsigned char>(n - 3);
    } else {
      out_[pos_++] = 0;
      Extension(n - 18);
    }
    std::memcpy(out_ + pos_, p, n);
    pos_ += n;
  }

  void Match(uint32_t distance, uint32_t length) {
    if (length <= kMaxShortLength && distance <= kMaxShortDistance) {
      const uint32_t d = distance - 1;
      trailPos_ = pos_;
      out_[pos_++] = static_cast<unsigned char>(((length - 1) << 5) | ((d & 7) << 2));
      out_[pos_++] = static_cast<unsigned char>(d >> 3);
      return;
    }
    uint32_t d;
    if (distance <= kMaxMidDistance) {
      d = distance - 1;
      if (length <= kMaxMidDirectLength) {
        out_[pos_++] = static_cast<unsigned char>(32 | (length - 2));
      } else {
        out_[pos_++] = 32;
        Extension(length - kMaxMidDirectLength);
      }
    } else {
      d = distance - kMaxMidDistance;  // 1 to 16383: never the zero field
      if (length <= kMaxFarDirectLength) {
        out_[pos_++] = static_cast<unsigned char>(16 | (length - 2));
      } else {
        out_[pos_++] = 16;
        Extension(length - kMaxFarDirectLength);
      }
    }
    trailPos_ = pos_;
    out_[pos_++] = static_cast<unsigned char>((d & 63) << 2);
    out_[pos_++] = static_cast<unsigned char>(d >> 6);
  }

  uint32_t End() {
    std::memcpy(out_ + pos_, vzr::kEndMarker, sizeof vzr::kEndMarker);
    return pos_ + static_cast<uint32_t>(sizeof vzr::kEndMarker);
  }

 private:
  // z zero bytes standing for 255 each, then the rest (1 to 255).
  void Extension(uint32_t v) {
    while (v > 255) {
      out_[pos_++] = 0;
      v -= 255;
    }
    out_[pos_++] = static_cast<unsigned char>(v);
  }

  unsigned char* out_;
  uint32_t pos_ = 0;
  uint32_t trailPos_ = 0;
  bool first_ = true;
};

// Common length of in[a..) and in[b..) (a < b), within in[0..n); eight
// bytes at a time while eight remain.
inline uint32_t MatchLength(const unsigned char* in, uint32_t a, uint32_t b, uint32_t n) {
  uint32_t len = 0;
  while (b + len + 8 <= n) {
    uint64_t x, y;
    std::memcpy(&x, in + a + len, 8);
    std::memcpy(&y, in + b + len, 8);
    if (x != y) {
      const uint64_t diff = x ^ y;
      if constexpr (std::endian::native == std::endian::little) return len + uint32_t(std::countr_zero(diff)) / 8;
      else return len + uint32_t(std::countl_zero(diff)) / 8;
    }
    len += 8;
  }
  while (b + len < n && in[a + len] == in[b + len]) ++len;
  return len;
}

// Per-thread tables, so a segment allocates nothing after the first.
struct Tables {
  std::vector<uint16_t> head;  // position + 1 of the latest position per hash, 0: none
  std::vector<uint16_t> prev;  // position + 1 of the previous position of equal hash
  std::vector<unsigned char> scratch;
};

Tables& ThreadTables() {
  thread_local Tables tables;
  return tables;
}

struct Found {
  uint32_t length = 0;
  uint32_t distance = 0;
};

class ChainFinder {
 public:
  ChainFinder(const unsigned char* in, uint32_t n, const LevelParams& p, Tables& t)
      : in_(in), n_(n), p_(p), head_(t.head.data()), prev_(t.prev.data()) {}

  // Best worthwhile match at i (hash chains up to the level's depth); then
  // records position i.
  Found FindAndInsert(uint32_t i) {
    Found best;
    if (i + 3 > n_) return best;
    const uint32_t h = Hash3(in_ + i, p_.hashBits);
    uint32_t candidate = head_[h];
    for (uint32_t depth = p_.chainDepth; candidate != 0 && depth > 0; --depth) {
      const uint32_t c = candidate - 1;
      if (in_[c + best.length] == in_[i + best.length] || best.length == 0) {
        const uint32_t len = MatchLength(in_, c, i, n_);
        if (len > best.length && Worthwhile(len, i - c)) {
          best = {len, i - c};
          if (len >= p_.niceLength || i + len == n_) break;
        }
      }
      candidate = prev_[c];
    }
    prev_[i] = head_[h];
    head_[h] = static_cast<uint16_t>(i + 1);
    return best;
  }

  void Insert(uint32_t i) {
    if (i + 3 > n_) return;
    const uint32_t h = Hash3(in_ + i, p_.hashBits);
    prev_[i] = head_[h];
    head_[h] = static_cast<uint16_t>(i + 1);
  }

 private:
  const unsigned char* in_;
  uint32_t n_;
  const LevelParams& p_;
  uint16_t* head_;
  uint16_t* prev_;
};

// Level 1: one hash probe per position, faster steps through literals.
uint32_t CompressFast(const unsigned char* in, uint32_t n, unsigned char* out, Tables& t) {
  const uint32_t bits = kLevels[1].hashBits;
  uint16_t* head = t.head.data();
  StreamWriter writer(out);
  uint32_t literalStart = 0;
  uint32_t i = 1;
  while (i + 3 <= n) {
    const uint32_t h = Hash3(in + i, bits);
    const uint32_t candidate = head[h];
    head[h] = static_cast<uint16_t>(i + 1);
    if (candidate != 0) {
      const uint32_t c = candidate - 1;
      if (in[c] == in[i] && in[c + 1] == in[i + 1] && in[c + 2] == in[i + 2]) {
        const uint32_t len = 3 + MatchLength(in, c + 3, i + 3, n);
        if (Worthwhile(len, i - c)) {
          writer.Literals(in + literalStart, i - literalStart);
          writer.Match(i - c, len);
          // Record the match's last position so a following repeat is found.
          if (i + len + 2 <= n && len > 1) head[Hash3(in + i + len - 1, bits)] = static_cast<uint16_t>(i + len);
          i += len;
          literalStart = i;
          continue;
        }
      }
    }
    i += 1 + ((i - literalStart) >> 5);
  }
  writer.Literals(in + literalStart, n - literalStart);
  return writer.End();
}

// Levels 2 to 9: hash chains, with a one-byte lazy step from level 3.
uint32_t CompressChained(const unsigned char* in, uint32_t n, unsigned char* out, const LevelParams& p,
                         Tables& t) {
  ChainFinder finder(in, n, p, t);
  StreamWriter writer(out);
  uint32_t literalStart = 0;
  finder.Insert(0);
  uint32_t i = 1;
  Found pending = i < n ? finder.FindAndInsert(i) : Found{};
  while (i < n) {
    if (pending.length == 0) {
      ++i;
      if (i < n) pending = finder.FindAndInsert(i);
      continue;
    }
    if (p.lazy && pending.length < p.niceLength && i + 1 < n) {
      const Found next = finder.FindAndInsert(i + 1);
      if (next.length > pending.length) {
        ++i;
        pending = next;
        continue;
      }
      writer.Literals(in + literalStart, i - literalStart);
      writer.Match(pending.distance, pending.length);
      for (uint32_t k = i + 2; k < i + pending.length; ++k) finder.Insert(k);
    } else {
      writer.Literals(in + literalStart, i - literalStart);
      writer.Match(pending.distance, pending.length);
      for (uint32_t k = i + 1; k < i + pending.length; ++k) finder.Insert(k);
    }
    i += pending.length;
    literalStart = i;
    pending = i < n ? finder.FindAndInsert(i) : Found{};
  }
  writer.Literals(in + literalStart, n - literalStart);
  return writer.End();
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
  Tables& t = ThreadTables();
  const LevelParams& p = kLevels[level];
  t.head.assign(std::size_t(1) << p.hashBits, 0);
  if (p.chainDepth > 1 && t.prev.size() < vzr::kSegmentSize) t.prev.resize(vzr::kSegmentSize);
  // Matching never writes more than the literal-only stream plus one run code
  // per 255 bytes; the scratch holds that, and the shorter stream is kept.
  const std::size_t scratchSize = std::size_t(literalLength) + n / 64 + 64;
  if (t.scratch.size() < scratchSize) t.scratch.resize(scratchSize);
  const uint32_t length = p.chainDepth > 1 ? CompressChained(in, n, t.scratch.data(), p, t)
                                           : CompressFast(in, n, t.scratch.data(), t);
  if (length >= literalLength) {
    if (outCapacity < literalLength) return 0;
    return vzr::WriteLiteralStream(in, n, out);
  }
  if (outCapacity < length) return 0;
  std::memcpy(out, t.scratch.data(), length);
  return length;
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

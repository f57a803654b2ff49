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
// Level 0 is the literal-only stream. Level 1 probes one four-byte hash slot
// per position and skips ahead faster through data that does not match.
// Levels 2 to 8 walk longer hash chains and defer a match by one byte when
// the next position matches longer. Level 9 is an optimal parse over the
// matches of a binary tree. The result never exceeds the literal-only stream:
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
constexpr uint32_t kMaxNearDistance = 1024;                // length 2, after 1 to 3 literals
constexpr uint32_t kMaxNearAfterRunDistance = 2048 + 1024;  // length 3, after a run of 4 or more
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
    {15, 32, false, 64},
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
  // out has room for the stream plus 16 bytes; in[0..inEnd) is the segment.
  StreamWriter(unsigned char* out, const unsigned char* inEnd) : out_(out), inEnd_(inEnd) {}

  [[gnu::always_inline]] void Literals(const unsigned char* p, uint32_t n) {
    runBefore_ = n;
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
    if (n <= 16 && inEnd_ - p >= 16) {
      std::memcpy(out_ + pos_, p, 16);  // one fixed copy; the bytes past n are overwritten next
    } else {
      std::memcpy(out_ + pos_, p, n);
    }
    pos_ += n;
  }

  [[gnu::always_inline]] void Match(uint32_t distance, uint32_t length) {
    const uint32_t run = runBefore_;
    runBefore_ = 0;
    if ((length == 2 && run >= 1 && run <= 3 && distance <= kMaxNearDistance) ||
        (length == 3 && run >= 4 && distance > kMaxShortDistance && distance <= kMaxNearAfterRunDistance)) {
      // Near match: two bytes, its form given by the literal run before it.
      const uint32_t d = distance - (length == 2 ? 1 : kMaxShortDistance + 1);
      trailPos_ = pos_;
      out_[pos_++] = static_cast<unsigned char>((d & 3) << 2);
      out_[pos_++] = static_cast<unsigned char>(d >> 2);
      return;
    }
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
  const unsigned char* inEnd_;
  uint32_t pos_ = 0;
  uint32_t trailPos_ = 0;
  uint32_t runBefore_ = 0;  // literals written since the last match
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

// One literal run and the match after it (none for the last run).
struct ParseStep {
  uint32_t literalStart, literalCount, length, distance;
};

// Per-thread tables, so a segment allocates nothing after the first.
struct Tables {
  std::vector<uint16_t> head;  // position + 1 of the latest position per hash, 0: none
  std::vector<uint16_t> prev;  // position + 1 of the previous position of equal hash
  std::vector<unsigned char> scratch;
  // Level 9's parse, one element per position 0..n.
  std::vector<uint16_t> head2;       // position + 1 of the latest position per two-byte value
  // The cheapest stream up to a match ending here, packed so that the smaller
  // value is the cheaper one: bytes << 34, the literal class the match follows
  // at its start (kAfter*) << 32, 65535 - its length << 16, its distance.
  std::vector<uint64_t> arrival;
  std::vector<uint8_t> shortRun;     // best run of 1 to 3 literals before a match starting here
  std::vector<uint16_t> longRunFrom;  // start of the best run of 4 or more literals ending here
  std::vector<ParseStep> steps;
  std::vector<uint16_t> tree;  // level 9: smaller and larger child (position + 1) of each position
  std::vector<uint16_t> head3;  // level 9: position + 1 of the latest position per three-byte hash
  std::vector<uint16_t> prev3;  // level 9: position + 1 of the previous position of equal three-byte hash
};

// Sizes a table and zeroes it with one memset (cheaper than a filling loop
// in instrumented builds, and never slower).
void ClearTable(std::vector<uint16_t>& table, std::size_t size) {
  if (table.size() != size) table.resize(size);
  std::memset(table.data(), 0, size * sizeof(uint16_t));
}

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

inline void Store32(unsigned char* p, uint32_t v) { std::memcpy(p, &v, 4); }

inline uint32_t Hash4(uint32_t v, uint32_t bits) { return (v * 0x9E3779B1u) >> (32 - bits); }

// Bytes equal at the start of two eight-byte words whose XOR is diff (not 0).
inline uint32_t EqualPrefix(uint64_t diff) {
  if constexpr (std::endian::native == std::endian::little) return uint32_t(std::countr_zero(diff)) / 8;
  else return uint32_t(std::countl_zero(diff)) / 8;
}

// A word read from memory, as a number whose most significant byte is the
// first one: such numbers compare as their bytes do.
inline uint64_t FrontFirst(uint64_t v) {
  if constexpr (std::endian::native == std::endian::little) {
    v = ((v & 0x00FF00FF00FF00FFull) << 8) | ((v >> 8) & 0x00FF00FF00FF00FFull);
    v = ((v & 0x0000FFFF0000FFFFull) << 16) | ((v >> 16) & 0x0000FFFF0000FFFFull);
    return (v << 32) | (v >> 32);
  } else {
    return v;
  }
}

// The end of a match of at least four bytes at p from q (both at its start),
// compared eight bytes at a time while eight remain before end.
[[gnu::always_inline]] inline const unsigned char* ForwardMatchEnd(const unsigned char* p, const unsigned char* q,
                                                                   const unsigned char* end) {
  p += 4;
  q += 4;
  for (;;) {
    const uint64_t diff = Load64(p) ^ Load64(q);
    if (diff != 0) return p + EqualPrefix(diff);
    p += 8;
    q += 8;
    if (end - p < 8) {
      while (p < end && *p == *q) ++p, ++q;
      return p;
    }
  }
}

// Level 1's writer, with the stream position in a local pointer. A match
// always ends with its two distance bytes, the first of which takes a
// following run of 1 to 3 literals in its low bits: that byte is op[-2].

// z zero bytes standing for 255 each, then the rest (1 to 255).
inline unsigned char* FastExtension(unsigned char* op, uint32_t v) {
  while (v > 255) {
    *op++ = 0;
    v -= 255;
  }
  *op++ = static_cast<unsigned char>(v);
  return op;
}

// Any literal run: the segment's first (first-byte form), or one after a match.
inline unsigned char* FastRun(unsigned char* op, const unsigned char* p, uint32_t n, bool first) {
  if (first) {
    op += vzr::WriteRunCode(op, n);
  } else if (n == 0) {
    return op;
  } else if (n <= 3) {
    op[-2] = static_cast<unsigned char>(op[-2] | n);
  } else if (n <= 18) {
    *op++ = static_cast<unsigned char>(n - 3);
  } else {
    *op++ = 0;
    op = FastExtension(op, n - 18);
  }
  std::memcpy(op, p, n);
  return op + n;
}

// Any match of length 4 or more.
inline unsigned char* FastMatch(unsigned char* op, uint32_t distance, uint32_t length) {
  uint32_t d;
  if (length <= kMaxShortLength && distance <= kMaxShortDistance) {
    d = distance - 1;
    *op++ = static_cast<unsigned char>(((length - 1) << 5) | ((d & 7) << 2));
    *op++ = static_cast<unsigned char>(d >> 3);
    return op;
  }
  if (distance <= kMaxMidDistance) {
    d = distance - 1;
    if (length <= kMaxMidDirectLength) {
      *op++ = static_cast<unsigned char>(32 | (length - 2));
    } else {
      *op++ = 32;
      op = FastExtension(op, length - kMaxMidDirectLength);
    }
  } else {
    d = distance - kMaxMidDistance;  // 1 to 16383: never the zero field
    if (length <= kMaxFarDirectLength) {
      *op++ = static_cast<unsigned char>(16 | (length - 2));
    } else {
      *op++ = 16;
      op = FastExtension(op, length - kMaxFarDirectLength);
    }
  }
  *op++ = static_cast<unsigned char>((d & 63) << 2);
  *op++ = static_cast<unsigned char>(d >> 6);
  return op;
}

// Any match of length 4 or more; the common forms without a branch.
[[gnu::always_inline]] inline unsigned char* FastMatchOf(unsigned char* op, uint32_t distance, uint32_t length) {
  if (length <= kMaxMidDirectLength && distance <= kMaxMidDistance) [[likely]] {
    // Short or mid: which one is as unpredictable as the data, so both words
    // are formed and one kept. Short means length - 1 < 8 and (distance - 1)
    // >> 8 < 8, i.e. both fit in three bits.
    const uint32_t d = distance - 1;
    const uint32_t d4 = d << 2;
    const uint32_t shortForm = ((length - 1) << 5) | (d4 & 0x1c) | ((d4 << 3) & ~0xffu);
    const uint32_t midForm = (length + 30) | (d << 10);  // 32 | (length - 2)
    const uint32_t isShort = ((length - 1) | (d >> 8)) < 8;
    Store32(op, midForm ^ ((shortForm ^ midForm) & (0u - isShort)));
    return op + 3 - isShort;
  }
  return FastMatch(op, distance, length);
}


// The end marker after the last instruction; the stream's length.
inline std::size_t FastEnd(unsigned char* op, const unsigned char* out) {
  std::memcpy(op, vzr::kEndMarker, sizeof vzr::kEndMarker);
  return static_cast<std::size_t>(op - out) + sizeof vzr::kEndMarker;
}

// Level 1: one probe of a table of the latest position per four-byte hash,
// matches of four bytes or more (one 32-bit compare decides), extended
// forwards eight bytes at a time and backwards into the pending literals. The
// step grows with the literals pending, so incompressible data is crossed
// quickly. The table starts zeroed, which reads as position 0: a false
// candidate fails the compare like any other.
//
// Positions up to 16 before the end are probed, so a run's literals can be
// written with one fixed 16-byte copy and the first eight bytes past a
// candidate's four compared without a bounds check. The common instruction
// forms are written without branches: a run of up to 16 literals after a
// match (its code, or its count in the match's low bits) and a short, mid or
// far match without a length extension (all forms computed, one kept).
//
// The stream is written into out[0..capacity) and 0 returned as soon as it
// might not fit: before each literal run and the match after it, there must
// be room for the bytes they cover, one more per 128 of them (their codes'
// extensions) and 32 (the codes and the fixed copies past them).
uint32_t CompressFast(const unsigned char* in, uint32_t n, unsigned char* out, std::size_t capacity, Tables& t) {
  constexpr uint32_t bits = kLevels[1].hashBits;
  constexpr uint32_t kTail = 16;
  uint16_t* const table = t.head.data();
  const unsigned char* const end = in + n;
  unsigned char* op = out;
  const unsigned char* anchor = in;  // the first literal not yet written
  const unsigned char* ip = in + 1;
  // Whether the instructions covering the input up to p fit.
  auto room = [&](const unsigned char* p) {
    const std::size_t covered = static_cast<std::size_t>(p - anchor);
    return static_cast<std::size_t>(op - out) + covered + (covered >> 7) + 32 <= capacity;
  };
  if (n <= kTail) return room(end) ? static_cast<uint32_t>(FastEnd(FastRun(op, in, n, true), out)) : 0;
  const unsigned char* const probeEnd = end - kTail;  // the last position probed

  // The next match at or after ip (ip moved to it, its candidate returned),
  // or nullptr when none starts before probeEnd.
  auto search = [&]() -> const unsigned char* {
    while (ip <= probeEnd) {
      const uint32_t v = Load32(ip);
      const uint32_t h = Hash4(v, bits);
      const unsigned char* ref = in + table[h];
      table[h] = static_cast<uint16_t>(ip - in);
      if (Load32(ref) == v) return ref;
      ip += 1 + ((ip - anchor) >> 5);
    }
    return nullptr;
  };
  // The match at ip from ref extended forwards: its end.
  auto extend = [&](const unsigned char* ref) { return ForwardMatchEnd(ip, ref, end); };
  // The match moved back over the pending literals it also covers.
  auto extendBack = [&](const unsigned char*& ref) {
    while (ip > anchor && ref > in && ip[-1] == ref[-1]) {
      --ip;
      --ref;
    }
  };
  // A position just before a match's end, so a repeat that follows is found.
  auto insertEnd = [&](const unsigned char* p) {
    if (p <= probeEnd) {
      table[Hash4(Load32(p - 1), bits)] = static_cast<uint16_t>(p - 1 - in);
    }
  };

  const unsigned char* ref = search();
  if (ref != nullptr) {
    const unsigned char* p = extend(ref);
    if (!room(p)) return 0;
    extendBack(ref);
    op = FastRun(op, anchor, static_cast<uint32_t>(ip - anchor), true);
    op = FastMatchOf(op, static_cast<uint32_t>(ip - ref), static_cast<uint32_t>(p - ip));
    insertEnd(p);
    ip = anchor = p;
    while ((ref = search()) != nullptr) {
      p = extend(ref);
      if (!room(p)) [[unlikely]] return 0;
      if (ip != anchor) {
        // Most matches of compressible data follow the last directly; only
        // the others have literals to move back over and to write.
        extendBack(ref);
        const uint32_t run = static_cast<uint32_t>(ip - anchor);
        if (run <= 16) {
          op[-2] = static_cast<unsigned char>(op[-2] | (run <= 3 ? run : 0));
          *op = static_cast<unsigned char>(run - 3);
          op += run > 3;
          std::memcpy(op, anchor, 16);
          op += run;
        } else {
          op = FastRun(op, anchor, run, false);
        }
      }
      op = FastMatchOf(op, static_cast<uint32_t>(ip - ref), static_cast<uint32_t>(p - ip));
      insertEnd(p);
      ip = anchor = p;
    }
  }
  if (!room(end)) return 0;
  op = FastRun(op, anchor, static_cast<uint32_t>(end - anchor), op == out);
  return static_cast<uint32_t>(FastEnd(op, out));
}

// Level 1 on a segment of at least kMinLaneSegment bytes: the same search in
// two lanes, the first and the second half, stepped in turn one match each
// so that the two chains of dependent loads (bytes, table, candidate, length)
// overlap. Each lane has a table of its own (as large as the one-lane
// table: a lane that cannot see the other's positions finds fewer matches,
// and fewer collisions win some of them back), and its matches start and end
// inside its half (their sources lie before them in the segment). The first lane writes
// into out, the second into lane; then the literals between the first lane's
// last match and the second lane's first become one run, and the second
// lane's instructions are copied after it.
constexpr uint32_t kMinLaneSegment = 4096;

uint32_t CompressFastLanes(const unsigned char* in, uint32_t n, unsigned char* out, std::size_t capacity,
                           unsigned char* lane, std::size_t laneCapacity, Tables& t) {
  constexpr uint32_t bits = kLevels[1].hashBits;
  constexpr uint32_t kTail = 16;
  struct Lane {
    const unsigned char* ip;
    const unsigned char* anchor;  // the first literal not yet written
    unsigned char* op;
    const unsigned char* probeEnd;  // the last position probed
    const unsigned char* end;       // matches end here at the latest
    uint16_t* table;
    const unsigned char* limit;  // the end of the room less 32 bytes
  };
  const unsigned char* const mid = in + n / 2;
  const unsigned char* const end = in + n;
  // Room is checked against the buffer's end less 32 bytes. The check asks
  // for 32 bytes beyond those covered, which a buffer under 64 bytes never
  // has for a segment this long: such a caller's stream is made in the scratch.
  if (capacity < 64 || laneCapacity < 64) return 0;
  Lane a{in + 1, in, out, mid - kTail, mid, t.head.data(), out + capacity - 32};
  Lane b{mid, mid, lane, end - kTail, end, t.head.data() + (std::size_t(1) << bits), lane + laneCapacity - 32};
  bool failed = false;

  // As in CompressFast, for one lane.
  auto search = [&](Lane& l) __attribute__((always_inline)) -> const unsigned char* {
    const unsigned char* ip = l.ip;
    while (ip <= l.probeEnd) {
      const uint32_t v = Load32(ip);
      const uint32_t h = Hash4(v, bits);
      const unsigned char* ref = in + l.table[h];
      l.table[h] = static_cast<uint16_t>(ip - in);
      if (Load32(ref) == v) {
        l.ip = ip;
        return ref;
      }
      ip += 1 + ((ip - l.anchor) >> 5);
    }
    return nullptr;
  };
  auto extend = [&](Lane& l, const unsigned char* ref) __attribute__((always_inline)) {
    return ForwardMatchEnd(l.ip, ref, l.end);
  };
  auto extendBack = [&](Lane& l, const unsigned char*& ref) __attribute__((always_inline)) {
    while (l.ip > l.anchor && ref > in && l.ip[-1] == ref[-1]) {
      --l.ip;
      --ref;
    }
  };
  auto room = [&](const Lane& l, std::size_t covered) __attribute__((always_inline)) {
    return static_cast<std::ptrdiff_t>(covered + (covered >> 7)) <= l.limit - l.op;
  };
  auto finish = [&](Lane& l, const unsigned char* ref, const unsigned char* p) __attribute__((always_inline)) {
    l.op = FastMatchOf(l.op, static_cast<uint32_t>(l.ip - ref), static_cast<uint32_t>(p - l.ip));
    if (p <= l.probeEnd) l.table[Hash4(Load32(p - 1), bits)] = static_cast<uint16_t>(p - 1 - in);
    l.ip = l.anchor = p;
  };
  // The lane's next match with the run before it; false when the lane is done.
  auto next = [&](Lane& l) __attribute__((always_inline)) {
    const unsigned char* ref = search(l);
    if (ref == nullptr) return false;
    const unsigned char* p = extend(l, ref);
    if (!room(l, static_cast<std::size_t>(p - l.anchor))) [[unlikely]] {
      failed = true;
      return false;
    }
    if (l.ip != l.anchor) {
      extendBack(l, ref);
      const uint32_t run = static_cast<uint32_t>(l.ip - l.anchor);
      unsigned char* op = l.op;
      if (run <= 16) {
        op[-2] = static_cast<unsigned char>(op[-2] | (run <= 3 ? run : 0));
        *op = static_cast<unsigned char>(run - 3);
        op += run > 3;
        std::memcpy(op, l.anchor, 16);
        op += run;
      } else {
        op = FastRun(op, l.anchor, run, false);
      }
      l.op = op;
    }
    finish(l, ref, p);
    return true;
  };

  // The first match of each lane: the first lane's run before it is the
  // segment's first; the second lane's is written at the join.
  bool liveA = false, liveB = false;
  const unsigned char* bFirst = nullptr;  // where the second lane's first match starts
  if (const unsigned char* ref = search(a)) {
    const unsigned char* p = extend(a, ref);
    if (!room(a, static_cast<std::size_t>(p - a.anchor))) return 0;
    extendBack(a, ref);
    a.op = FastRun(a.op, a.anchor, static_cast<uint32_t>(a.ip - a.anchor), true);
    finish(a, ref, p);
    liveA = true;
  }
  if (const unsigned char* ref = search(b)) {
    const unsigned char* p = extend(b, ref);
    if (!room(b, static_cast<std::size_t>(p - b.anchor))) return 0;
    extendBack(b, ref);
    bFirst = b.ip;
    finish(b, ref, p);
    liveB = true;
  }
  while (liveA && liveB) {
    liveA = next(a);
    liveB = next(b);
  }
  while (liveA) liveA = next(a);
  while (liveB) liveB = next(b);
  if (failed) return 0;

  // The join: one run up to the second lane's first match, its instructions,
  // then the last run.
  unsigned char* op = a.op;
  const unsigned char* rest = a.anchor;
  if (bFirst != nullptr) {
    const std::size_t run = static_cast<std::size_t>(bFirst - a.anchor);
    const std::size_t written = static_cast<std::size_t>(b.op - lane);
    if (!room(a, run + written)) return 0;
    op = FastRun(op, a.anchor, static_cast<uint32_t>(run), op == out);
    std::memcpy(op, lane, written);
    op += written;
    a.op = op;
    rest = b.anchor;
  }
  if (!room(a, static_cast<std::size_t>(end - rest))) return 0;
  op = FastRun(op, rest, static_cast<uint32_t>(end - rest), op == out);
  return static_cast<uint32_t>(FastEnd(op, out));
}

// Levels 2 to 9: hash chains, with a one-byte lazy step from level 3.
uint32_t CompressChained(const unsigned char* in, uint32_t n, unsigned char* out, const LevelParams& p,
                         Tables& t) {
  ChainFinder finder(in, n, p, t);
  StreamWriter writer(out, in + n);
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


// Level 9: an optimal parse. Every position's matches (for each length a
// distance found that gives it its lowest price: length 3 from a hash chain,
// longer ones from a binary tree, length 2 from the last occurrence of the
// two bytes) are weighed with the exact byte costs of the instruction
// forms, and the cheapest stream over all of them is found by dynamic
// programming from the front. The cost of a match depends on the literals
// before it only through three classes of that run: none, 1 to 3 (held in
// the previous match's low bits; only then may a length-2 near match follow),
// and 4 or more (a run code; only then may a length-3 near match at 2049 to
// 3072 follow). Each position therefore keeps the cheapest arrival in each
// class. A match of at least kTakeWhole bytes is extended to its end and
// taken whole: the positions it covers are neither searched nor weighed,
// nor entered in the tree (a shallow insertion would cut the tree's older
// positions off, which costs more matches than the covered ones bring).
constexpr uint32_t kInfinite = 0x3FFFFFFF;
constexpr uint32_t kMaxCandidates = 64;
constexpr uint32_t kEnumerateLimit = 8;   // every length up to this is weighed; beyond, each candidate's own
constexpr uint32_t kTakeWhole = 32;       // a match this long is taken whole
constexpr uint32_t kHead3Bits = 15;
constexpr uint32_t kTreeDepth = kLevels[kMaxLevel].chainDepth;  // candidates a walk visits at most
constexpr uint32_t kTreeLimit = kLevels[kMaxLevel].niceLength;  // a walk compares no further
constexpr uint32_t kThreeSteps = 4;     // positions of equal three-byte hash tried for a length-3 match
// A walk records at most one match per tree step, after one of length 3.
static_assert(kLevels[kMaxLevel].chainDepth + 1 <= kMaxCandidates);
static_assert(kTakeWhole <= kLevels[kMaxLevel].niceLength);  // the tree finds no longer match

enum : uint8_t { kAfterMatch, kAfterShortRun, kAfterLongRun };

// Bytes of the first literal run's code (never 1 to 17).
inline uint32_t FirstRunCodeCost(uint32_t r) { return r <= 238 ? 1 : 2 + (r - 19) / 255; }

// Bytes of a match of at least length 3 that needs no particular literal class.
inline uint32_t MatchCost(uint32_t length, uint32_t distance) {
  if (distance <= kMaxShortDistance && length <= kMaxShortLength) return 2;
  if (distance <= kMaxMidDistance) return length <= kMaxMidDirectLength ? 3 : 4 + (length - 34) / 255;
  return length <= kMaxFarDirectLength ? 3 : 4 + (length - 10) / 255;
}

// MatchCost for lengths up to kTreeLimit, without a branch.
inline uint32_t TreeMatchCost(uint32_t length, uint32_t distance) {
  static_assert(kTreeLimit < 34 + 255 && kTreeLimit < 10 + 255);
  const uint32_t direct = distance <= kMaxMidDistance ? kMaxMidDirectLength : kMaxFarDirectLength;
  return 3 + uint32_t(length > direct) - uint32_t((distance <= kMaxShortDistance) & (length <= kMaxShortLength));
}

// Common length of a[0..limit) and b[0..limit), both known equal before
// len: eight bytes at a time, the last eight (overlapping what is known)
// read as one word.
inline uint32_t CommonLength(const unsigned char* a, const unsigned char* b, uint32_t len, uint32_t limit) {
  while (len + 8 <= limit) {
    const uint64_t diff = Load64(a + len) ^ Load64(b + len);
    if (diff != 0) return len + EqualPrefix(diff);
    len += 8;
  }
  if (len == limit) return len;
  if (limit >= 8) {
    const uint64_t diff = Load64(a + limit - 8) ^ Load64(b + limit - 8);
    return diff != 0 ? limit - 8 + EqualPrefix(diff) : limit;
  }
  while (len < limit && a[len] == b[len]) ++len;
  return len;
}

inline uint32_t Hash2(const unsigned char* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8); }

class OptimalParser {
 public:
  OptimalParser(const unsigned char* in, uint32_t n, const LevelParams& p, Tables& t)
      : in_(in), n_(n), p_(p), t_(t) {
    ClearTable(t.head2, 65536);
    ClearTable(t.head3, std::size_t(1) << kHead3Bits);
    t.prev3.resize(n);
    t.arrival.resize(n + 1 + kEnumerateLimit);
    t.tree.resize(2 * std::size_t(n));
    t.shortRun.resize(n + 1);
    t.longRunFrom.resize(n + 1);
    std::fill(t.arrival.begin(), t.arrival.end(), uint64_t(kInfinite) << 34);
    t.arrival[0] = 0;
  }

  uint32_t Write(unsigned char* out) {
    Parse();
    return Emit(out);
  }

 private:
  struct Arrival {
    uint32_t cost[3];
  };

  // The best run of 4 or more literals before the position being weighed.
  struct LongRun {
    uint32_t cost = kInfinite;  // the arrival after it (its first literal after a match)
    uint32_t from = 0;
    uint32_t step = 0;  // where the run from `from` next needs a longer code
  };

  // The cheapest arrival at j in each literal class; records the runs chosen.
  // Inlined into the parse with its tables as locals, so nothing is reloaded
  // after the byte stores.
  [[gnu::always_inline]] static Arrival ArriveAt(uint32_t j, const uint64_t* arrival, uint8_t* shortRun,
                                                 uint16_t* longRunFrom, LongRun& run) {
    auto cost = [arrival](uint32_t i) { return static_cast<uint32_t>(arrival[i] >> 34); };
    Arrival a{{cost(j), kInfinite, kInfinite}};
    if (j > 3) [[likely]] {
      // The cheapest of the three runs without a branch: cost and run packed,
      // so that on equal cost the shortest run wins.
      const uint64_t v = std::min({(uint64_t(cost(j - 1) + 1) << 2) | 1, (uint64_t(cost(j - 2) + 2) << 2) | 2,
                                   (uint64_t(cost(j - 3) + 3) << 2) | 3});
      a.cost[kAfterShortRun] = static_cast<uint32_t>(std::min(v >> 2, uint64_t(kInfinite)));
      shortRun[j] = static_cast<uint8_t>(v & 3);
    } else {
      for (uint32_t r = 1; r <= j; ++r) {
        const uint32_t i = j - r;
        if (cost(i) == kInfinite) continue;
        const uint32_t v = cost(i) + r + (i == 0 ? 1 : 0);
        if (v < a.cost[kAfterShortRun]) {
          a.cost[kAfterShortRun] = v;
          shortRun[j] = static_cast<uint8_t>(r);
        }
      }
    }
    // The best long run so far grows by one literal (two when its code takes
    // a byte more, at 19, 274, ...), or a new one starts 4 back. On equal
    // cost the new one is taken only while the old one is shorter than 19:
    // the old one's code then takes its second byte first; once it has, the
    // new one would take it later and cost a byte more. All without
    // branches: which run wins is as unpredictable as the data.
    const uint32_t stepped = uint32_t(j == run.step);
    run.step += stepped * 255;
    run.cost = run.cost == kInfinite ? kInfinite : run.cost + 1 + stepped;
    if (j >= 5) [[likely]] {
      const uint32_t v = cost(j - 4) + 5;
      const uint32_t start = 0 - uint32_t((v < run.cost) | ((v == run.cost) & (j - run.from < 19)));
      run.cost = (v & start) | (run.cost & ~start);
      run.from = ((j - 4) & start) | (run.from & ~start);
      run.step = ((j - 4 + 19) & start) | (run.step & ~start);
    }
    a.cost[kAfterLongRun] = run.cost;
    longRunFrom[j] = static_cast<uint16_t>(run.from);
    // The whole prefix as the first run (its code is at least a byte).
    if (j + 1 < run.cost && j >= 4 && j + FirstRunCodeCost(j) < run.cost) [[unlikely]] {
      a.cost[kAfterLongRun] = j + FirstRunCodeCost(j);
      longRunFrom[j] = 0;
    }
    return a;
  }

  [[gnu::always_inline]] static void Relax(uint64_t* arrival, uint32_t end, uint32_t cost, uint32_t length,
                                           uint32_t distance, uint8_t from) {
    // Without a branch: which arrival is cheaper is as unpredictable as the data.
    // On equal cost the longer match wins (its length is stored inverted).
    const uint64_t packed = (uint64_t(cost) << 34) | (uint64_t(from) << 32) | ((0xFFFF - length) << 16) | distance;
    uint64_t& slot = arrival[end];
    slot = std::min(slot, packed);
  }

  // One match found at a position.
  struct Match {
    uint32_t length, distance;
  };

  // Positions of equal four-byte hash form a binary search tree ordered by
  // the bytes that follow them, the latest at the root. Inserting j walks
  // the path j's bytes take from the root, which passes the candidates that
  // share the longest prefixes with j; each longer one is recorded (with
  // lengths and distances growing). The walk re-links the tree around j,
  // which becomes the new root. The matches are recorded from rec on, those
  // longer than best; gives the end of the records. The walk's steps depend
  // on each other through memory, so they take no branch that the data
  // decides but the one that ends the walk.
  template <bool kWide>
  [[gnu::always_inline]] Match* TreeInsert(uint32_t j, Match* rec, uint32_t best) {
    // Candidates are positions + 1 (0: none).
    uint16_t* const tree = t_.tree.data();
    uint16_t* head = t_.head.data();
    const uint32_t h = Hash4(Load32(in_ + j), p_.hashBits);
    uint32_t candidate = head[h];
    const uint32_t j1 = j + 1;
    head[h] = static_cast<uint16_t>(j1);
    // kWide: eight bytes can be read at every length below the limit.
    const uint32_t limit = kWide ? kTreeLimit : std::min(kTreeLimit, n_ - j);
    const unsigned char* const cur = in_ + j;
    // Where the next larger (0) and smaller (1) candidate hangs, and the
    // length known common with every candidate on that side. Which side a
    // candidate takes is as unpredictable as the data: selected, not branched.
    uint16_t* link[2] = {&tree[2 * j + 1], &tree[2 * j]};
    uint32_t known0 = 0, known1 = 0;
    for (uint32_t depth = kTreeDepth; candidate != 0; --depth) {
      uint16_t* const pair = &tree[2 * (candidate - 1)];
      const uint32_t child0 = pair[0], child1 = pair[1];  // read before the side is known
      const unsigned char* const pb = in_ + (candidate - 1);
      uint32_t len = std::min(known0, known1);
      uint32_t side;  // 1: the candidate's bytes are the smaller
      if constexpr (kWide) {
        uint64_t x, y;
        for (;;) {
          x = Load64(pb + len);
          y = Load64(cur + len);
          if (x != y) break;
          len += 8;
          if (len >= limit) break;
        }
        if (x != y) {
          len += EqualPrefix(x ^ y);
          // The first differing byte decides, as in the words read from the front.
          side = uint32_t(FrontFirst(x) < FrontFirst(y));
        } else {
          side = 0;
        }
      } else {
        len = CommonLength(pb, cur, len, limit);
        side = len < limit ? uint32_t(pb[len] < cur[len]) : 0;
      }
      if (len >= limit) {
        // The candidate's bytes equal j's as far as compared: j takes its place.
        if (limit > best) *rec++ = {limit, j1 - candidate};
        *link[1] = static_cast<uint16_t>(child0);
        *link[0] = static_cast<uint16_t>(child1);
        return rec;
      }
      // Recorded without a branch; kept only when longer than the last.
      rec->length = len;
      rec->distance = j1 - candidate;
      const uint32_t longer = (best - len) >> 31;  // len > best (both below 2^31)
      rec += longer;
      best = std::max(best, len);
      // The candidate hangs on its side, and the walk goes on to its child
      // towards j, all selected without a branch.
      const uint32_t mask = 0 - side;
      *link[side] = static_cast<uint16_t>(candidate);
      link[side] = pair + side;
      known1 = (len & mask) | (known1 & ~mask);
      known0 = (known0 & mask) | (len & ~mask);
      candidate = (child1 & mask) | (child0 & ~mask);
      if (depth == 1) break;
    }
    *link[0] = *link[1] = 0;
    return rec;
  }

  // The matches at j (n - j at least 3), lengths and distances growing, and
  // j entered; gives their number. Length 3 comes from the latest positions
  // of equal three-byte hash (the nearest is the cheapest), the longer ones
  // from the tree of equal four-byte hash; keyed by four bytes, the trees
  // are smaller and their walks shorter than those of a tree per three
  // bytes. Not inlined: the walk then has the registers to itself.
  [[gnu::noinline]] uint32_t FindMatches(uint32_t j, Match* matches) {
    uint16_t* head3 = t_.head3.data();
    uint16_t* prev3 = t_.prev3.data();
    const uint32_t h = Hash3(in_ + j, kHead3Bits);
    uint32_t c = head3[h];
    head3[h] = static_cast<uint16_t>(j + 1);
    prev3[j] = static_cast<uint16_t>(c);
    Match* rec = matches;
    for (uint32_t k = kThreeSteps; c != 0 && k > 0; c = prev3[c - 1], --k) {
      if (std::memcmp(in_ + c - 1, in_ + j, 3) == 0) {
        *rec++ = {3, j - (c - 1)};
        break;
      }
    }
    if (j + 4 > n_) return static_cast<uint32_t>(rec - matches);
    const uint32_t best = rec != matches ? 3 : 2;
    rec = j + kTreeLimit + 8 <= n_ ? TreeInsert<true>(j, rec, best) : TreeInsert<false>(j, rec, best);
    return static_cast<uint32_t>(rec - matches);
  }

  void Parse() {
    Match matches[kMaxCandidates] = {};
    uint64_t* const arrival = t_.arrival.data();
    uint8_t* const shortRun = t_.shortRun.data();
    uint16_t* const longRunFrom = t_.longRunFrom.data();
    uint16_t* const head2 = t_.head2.data();
    LongRun run;
    FindMatches(0, matches);  // enters position 0 (n is at least 4)
    head2[Hash2(in_)] = 1;
    for (uint32_t j = 1; j < n_; ++j) {
      const Arrival a = ArriveAt(j, arrival, shortRun, longRunFrom, run);
      if (j + 3 > n_) continue;
      uint8_t from = kAfterMatch;
      for (uint8_t k = kAfterShortRun; k <= kAfterLongRun; ++k)
        if (a.cost[k] < a.cost[from]) from = k;
      const uint32_t base = a.cost[from];
      // Length 2: only as a near match after 1 to 3 literals.
      const uint32_t key = Hash2(in_ + j);
      const uint32_t two = head2[key];
      head2[key] = static_cast<uint16_t>(j + 1);
      {
        // Stored without a branch: a slot that does not apply stores the
        // arrival unchanged.
        const uint32_t distance = j + 1 - two;
        const bool near = (two != 0) & (distance <= kMaxNearDistance) & (a.cost[kAfterShortRun] != kInfinite);
        const uint64_t packed = (uint64_t(a.cost[kAfterShortRun] + 2) << 34) | (uint64_t(kAfterShortRun) << 32) |
                                (uint64_t(0xFFFF - 2) << 16) | distance;
        uint64_t& slot = arrival[j + 2];
        slot = std::min(slot, packed | (uint64_t(near) - 1));
      }
      const uint32_t count = FindMatches(j, matches);
      if (count == 0) continue;
      // Every length from 3 to the enumeration limit. Up to the limit a match
      // costs 2 bytes within the short distance and 3 beyond it at any
      // distance, so two matches price them all: the longest within the
      // short distance every length it reaches, the longest the rest. The
      // arrival is packed as Relax packs it, stepped by length, and stored
      // without a branch for every length to the limit, those past top
      // unchanged (the arrival has room past n for them).
      const uint32_t top = std::min(matches[count - 1].length, kEnumerateLimit);
      static_assert(kEnumerateLimit <= kMaxShortLength && kEnumerateLimit <= kMaxFarDirectLength);
      const uint64_t packed3 = (uint64_t(base + 3) << 34) | (uint64_t(from) << 32) | (uint64_t(0xFFFF - 3) << 16);
      // The matches within the short distance come first; counted without
      // a branch over the first four (the array is kept initialised past
      // count), in a loop beyond.
      uint32_t s = 0;
      for (uint32_t m = 0; m < 4; ++m) s += uint32_t(m < count) & uint32_t(matches[m].distance <= kMaxShortDistance);
      if (count > 4) [[unlikely]]
        for (uint32_t m = 4; m < count; ++m) s += matches[m].distance <= kMaxShortDistance;
      const uint32_t shortTop = s != 0 ? std::min(matches[s - 1].length, top) : 2;
      const uint64_t shortPacked = packed3 - (uint64_t(1) << 34) + (s != 0 ? matches[s - 1].distance : 0);
      const uint64_t longPacked = packed3 + matches[count - 1].distance;
      uint64_t* const slots = arrival + j;
      for (uint32_t length = 3; length <= kEnumerateLimit; ++length) {
        const uint64_t isShort = 0 - uint64_t(length <= shortTop), beyond = 0 - uint64_t(length > top);
        const uint64_t packed = ((longPacked ^ ((shortPacked ^ longPacked) & isShort)) - (uint64_t(length - 3) << 16)) | beyond;
        slots[length] = std::min(slots[length], packed);
      }
      // Length 3 as a near match after a run of 4 or more literals.
      if (matches[0].distance > kMaxShortDistance && matches[0].distance <= kMaxNearAfterRunDistance &&
          a.cost[kAfterLongRun] != kInfinite)
        Relax(arrival, j + 3, a.cost[kAfterLongRun] + 2, 3, matches[0].distance, kAfterLongRun);
      // Beyond the limit, each match at its own length: the longest without
      // a test (within the limit it is weighed again at the price it has
      // there, which changes nothing), the others in a loop that seldom runs.
      {
        const Match& m = matches[count - 1];
        Relax(arrival, j + m.length, base + TreeMatchCost(m.length, m.distance), m.length, m.distance, from);
      }
      for (uint32_t m = count - 1; m-- > 0 && matches[m].length > top;)
        Relax(arrival, j + matches[m].length, base + TreeMatchCost(matches[m].length, matches[m].distance),
              matches[m].length, matches[m].distance, from);
      if (matches[count - 1].length >= kTakeWhole) {
        // A long match is taken whole: extended to its end, and the parse
        // resumes there without weighing the positions it covers.
        const uint32_t d = matches[count - 1].distance;
        uint32_t len = matches[count - 1].length;
        len += MatchLength(in_, j - d + len, j + len, n_);
        Relax(arrival, j + len, base + MatchCost(len, d), len, d, from);
        j += len - 1;
        run.cost = kInfinite;
      }
    }
    end_ = ArriveAt(n_, arrival, shortRun, longRunFrom, run);
  }

  // Start of the literal run that arrives at j in class k.
  uint32_t Origin(uint32_t j, uint8_t k) const {
    return k == kAfterMatch ? j : k == kAfterShortRun ? j - t_.shortRun[j] : t_.longRunFrom[j];
  }

  uint32_t Emit(unsigned char* out) {
    // Walk back from the end, then write front to back.
    std::vector<ParseStep>& steps = t_.steps;
    steps.clear();
    uint8_t k = kAfterMatch;
    for (uint8_t c = kAfterShortRun; c <= kAfterLongRun; ++c)
      if (end_.cost[c] < end_.cost[k]) k = c;
    uint32_t j = n_;
    uint32_t length = 0, distance = 0;
    for (;;) {
      const uint32_t i = Origin(j, k);
      steps.push_back({i, j - i, length, distance});
      if (i == 0) break;
      const uint64_t a = t_.arrival[i];
      length = 0xFFFF - ((a >> 16) & 0xFFFF);
      distance = a & 0xFFFF;
      k = static_cast<uint8_t>((a >> 32) & 3);
      j = i - length;
    }
    StreamWriter writer(out, in_ + n_);
    for (auto s = steps.rbegin(); s != steps.rend(); ++s) {
      writer.Literals(in_ + s->literalStart, s->literalCount);
      if (s->length != 0) writer.Match(s->distance, s->length);
    }
    return writer.End();
  }

  const unsigned char* in_;
  uint32_t n_;
  const LevelParams& p_;
  Tables& t_;
  Arrival end_{};
};

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
  // Level 1's two lanes have a table each.
  const std::size_t tableSize = std::size_t(level == 1 && n >= kMinLaneSegment ? 2 : 1) << p.hashBits;
  ClearTable(t.head, tableSize);
  if (p.chainDepth > 1 && t.prev.size() < vzr::kSegmentSize) t.prev.resize(vzr::kSegmentSize);
  // Matching never writes more than the literal-only stream plus one run code
  // per 255 bytes; the scratch holds that, and the shorter stream is kept.
  const std::size_t scratchSize = std::size_t(literalLength) + n / 64 + 64;
  // Level 1's second lane writes behind the scratch.
  const std::size_t laneSize = level == 1 ? scratchSize / 2 + 64 : 0;
  if (t.scratch.size() < scratchSize + laneSize) t.scratch.resize(scratchSize + laneSize);
  uint32_t length = 0;
  if (level == 1) {
    // Straight into out while it has room (the stream is the same either
    // way); into the scratch when it might not fit.
    unsigned char* const lane = t.scratch.data() + scratchSize;
    auto fast = [&](unsigned char* to, std::size_t capacity) {
      return n >= kMinLaneSegment ? CompressFastLanes(in, n, to, capacity, lane, laneSize, t)
                                  : CompressFast(in, n, to, capacity, t);
    };
    length = fast(out, outCapacity);
    if (length != 0) {
      if (length < literalLength) return length;
      if (outCapacity < literalLength) return 0;
      return vzr::WriteLiteralStream(in, n, out);
    }
    ClearTable(t.head, tableSize);
    length = fast(t.scratch.data(), scratchSize);
  } else if (level == kMaxLevel) {
    OptimalParser parser(in, n, p, t);
    length = parser.Write(t.scratch.data());
  } else {
    length = CompressChained(in, n, t.scratch.data(), p, t);
  }
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

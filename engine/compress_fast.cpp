// compress_fast.cpp - level 1: one probe of a table of the latest position
// per four-byte hash, for speed first.
#include <cstring>
#include <vector>

#include "compress_levels.h"
#include "segmentwriter.h"

namespace vzr::compress {
namespace {

using vzr::FastEnd;
using vzr::FastMatchOf;
using vzr::FastRun;

constexpr uint32_t kHashBits = kLevels[1].hashBits;

// Level 1's tables, per thread, so a segment allocates nothing after the first.
struct FastTables {
  std::vector<uint16_t> head;         // the latest position per hash, one table per lane
  std::vector<unsigned char> lane;   // the second lane's instructions
};

FastTables& ThreadTables() {
  thread_local FastTables tables;
  return tables;
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
uint32_t OneLane(const unsigned char* in, uint32_t n, unsigned char* out, std::size_t capacity, uint16_t* table) {
  constexpr uint32_t bits = kHashBits;
  constexpr uint32_t kTail = 16;
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

// A segment of at least kMinLaneSegment bytes: the same search in
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

uint32_t TwoLanes(const unsigned char* in, uint32_t n, unsigned char* out, std::size_t capacity,
                  unsigned char* lane, std::size_t laneCapacity, uint16_t* table) {
  constexpr uint32_t bits = kHashBits;
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
  // has for a segment this long: the driver then makes the stream in its scratch.
  if (capacity < 64 || laneCapacity < 64) return 0;
  Lane a{in + 1, in, out, mid - kTail, mid, table, out + capacity - 32};
  Lane b{mid, mid, lane, end - kTail, end, table + (std::size_t(1) << bits), lane + laneCapacity - 32};
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

}  // namespace

uint32_t CompressFast(const unsigned char* in, uint32_t n, unsigned char* out, std::size_t capacity) {
  FastTables& t = ThreadTables();
  const bool lanes = n >= kMinLaneSegment;
  ClearTable(t.head, std::size_t(lanes ? 2 : 1) << kHashBits);
  if (!lanes) return OneLane(in, n, out, capacity, t.head.data());
  const std::size_t laneSize = ScratchSize(LiteralStreamLength(n), n) / 2 + 64;
  if (t.lane.size() < laneSize) t.lane.resize(laneSize);
  return TwoLanes(in, n, out, capacity, t.lane.data(), laneSize, t.head.data());
}

}  // namespace vzr::compress

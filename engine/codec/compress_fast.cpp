// compress_fast.cpp - level 1: one probe of a table of the latest position
// per four-byte hash, for speed first.
#include <bit>
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

// Level 1's table, per thread, so a segment allocates nothing after the first.
std::vector<uint16_t>& ThreadTable() {
  thread_local std::vector<uint16_t> table;
  return table;
}

// Equal bytes at the start of two eight-byte words whose XOR is diff: 0 to 8.
inline uint32_t EqualBytes(uint64_t diff) {
  if constexpr (std::endian::native == std::endian::little) return uint32_t(std::countr_zero(diff)) / 8;
  else return uint32_t(std::countl_zero(diff)) / 8;
}

// The four bytes at bit offset shift (a multiple of 8, below 64) of the
// sixteen little-endian bytes lo, hi, as Load32 would read them there.
inline uint32_t WordAt(uint64_t lo, uint64_t hi, uint32_t shift) {
#if defined(__SIZEOF_INT128__)
  return uint32_t(((static_cast<unsigned __int128>(hi) << 64) | lo) >> shift);  // one funnel shift
#else
  return uint32_t(lo >> shift) | uint32_t((hi << 1) << (63 - shift));
#endif
}

// The end of a match of at least four bytes at p from q (both at its start),
// with 20 bytes readable at p; next is set to the four bytes at that end as
// Load32 reads them (0 past probeEnd, where nothing is probed). The sixteen
// bytes after the four are read as two words at once, so a match that ends
// in the second (a fifth of them on text) does not wait for the first
// compare nor take a loop turn; longer ones go on eight bytes at a time.
//
// The chain of dependent operations from one match to the next runs
// through here: candidate word, compare, count, next word, hash, table,
// candidate. A match that ends in the first word (nine in ten on text) takes
// the next word out of the two words already read at p, one shift after
// the count, instead of loading it at the end once the end is known: each
// cycle off this chain is 3% on text.
[[gnu::always_inline]] inline const unsigned char* ForwardMatchEnd(const unsigned char* p, const unsigned char* q,
                                                                   const unsigned char* end,
                                                                   const unsigned char* probeEnd, uint32_t& next) {
  const uint64_t lo = Load64(p + 4);
  const uint64_t hi = Load64(p + 12);
  const uint64_t diff = lo ^ Load64(q + 4);
  const uint32_t first = EqualBytes(diff);
  const uint32_t second = EqualBytes(hi ^ Load64(q + 12));
  // p + 4 formed apart (the empty asm keeps the compiler from folding the 4
  // into the count), so the end is one add after the count.
  const unsigned char* p4 = p + 4;
  asm("" : "+r"(p4));
  if (first < 8) [[likely]] {
    if constexpr (std::endian::native == std::endian::little)
      next = WordAt(lo, hi, uint32_t(std::countr_zero(diff)) & 56u);
    else
      next = Load32(p4 + first);
    return p4 + first;
  }
  if (second < 8) {
    const unsigned char* const e = p4 + 8 + second;
    next = e <= probeEnd ? Load32(e) : 0;  // its last bytes may lie past the 20
    return e;
  }
  p += 20;
  q += 20;
  for (;;) {
    if (end - p < 8) {
      while (p < end && *p == *q) ++p, ++q;
      break;
    }
    const uint64_t more = Load64(p) ^ Load64(q);
    if (more != 0) {
      p += EqualPrefix(more);
      break;
    }
    p += 8;
    q += 8;
  }
  next = p <= probeEnd ? Load32(p) : 0;
  return p;
}

// Level 1: one probe of a table of the latest position per four-byte hash,
// matches of four bytes or more (one 32-bit compare decides), extended
// forwards eight bytes at a time and backwards into the pending literals. The
// position before each match's end enters the table too, so a repeat of what
// follows it is found (streams 1-1.5% smaller); it is entered only once the
// next match has been found and extended, off the chain of dependent loads
// that leads from one match to the next (entered at once, it slowed binary
// data by 4%). The step grows with the literals pending, so incompressible
// data is crossed quickly. The table starts zeroed, which reads as position
// 0: a false candidate fails the compare like any other.
//
// One pass over the whole segment, so every match may come from anywhere
// before it. (Splitting a segment into two halves searched in turn overlaps
// their chains of dependent loads, but the second half then cannot see the
// first: on text that repeats across the segment the streams grew by up to
// 10%, for a speed gain lost in the noise.)
//
// Positions up to 20 before the end are probed, so a run's literals can be
// written with one fixed 16-byte copy and the first sixteen bytes past a
// candidate's four compared without a bounds check. The common instruction
// forms are written without branches: a run of up to 16 literals after a
// match (its code, or its count in the match's low bits) and a short, mid or
// far match without a length extension (all forms computed, one kept).
//
// The stream is written into out[0..capacity) and 0 returned as soon as it
// might not fit: before each literal run and the match after it, there must
// be room for the bytes they cover, one more per 128 of them (their codes'
// extensions) and 32 (the codes and the fixed copies past them).
uint32_t Compress(const unsigned char* in, uint32_t n, unsigned char* out, std::size_t capacity, uint16_t* table) {
  constexpr uint32_t bits = kHashBits;
  constexpr uint32_t kTail = 20;
  const unsigned char* const end = in + n;
  unsigned char* op = out;
  const unsigned char* anchor = in;  // the first literal not yet written
  const unsigned char* ip = in + 1;
  // Whether the instructions covering the input up to p fit, with 32 bytes
  // to spare: checked against the room's end less those 32 (a buffer that
  // small fits nothing).
  if (capacity < 32) return 0;
  const unsigned char* const limit = out + (capacity - 32);
  auto room = [&](const unsigned char* p) {
    const std::size_t covered = static_cast<std::size_t>(p - anchor);
    return static_cast<std::ptrdiff_t>(covered + (covered >> 7)) <= limit - op;
  };
  if (n <= kTail) return room(end) ? static_cast<uint32_t>(FastEnd(FastRun(op, in, n, true), out)) : 0;
  const unsigned char* const probeEnd = end - kTail;  // the last position probed

  // One probe at ip, whose four bytes are v: its candidate if they match, else
  // nullptr with ip moved on by the step.
  auto probe = [&](uint32_t v) -> const unsigned char* {
    const uint32_t h = Hash4(v, bits);
    const unsigned char* ref = in + table[h];
    table[h] = static_cast<uint16_t>(ip - in);
    if (Load32(ref) == v) return ref;
    ip += 1 + ((ip - anchor) >> 5);
    return nullptr;
  };
  // The next match at or after ip (ip moved to it, its candidate returned),
  // or nullptr when none starts before probeEnd. The first probe, where the
  // last match ended, has its own copy of the code, so its branch (a match
  // right after a match) is predicted apart from the loop's (a match after
  // a miss): 2-3% faster on every corpus, same streams.
  uint32_t word = Load32(ip);  // the four bytes at ip when a search starts
  auto search = [&]() -> const unsigned char* {
    if (ip > probeEnd) return nullptr;
    if (const unsigned char* ref = probe(word)) return ref;
    while (ip <= probeEnd)
      if (const unsigned char* ref = probe(Load32(ip))) return ref;
    return nullptr;
  };
  // The match at ip from ref extended forwards: its end (and the word there).
  auto extend = [&](const unsigned char* ref) { return ForwardMatchEnd(ip, ref, end, probeEnd, word); };
  // The position before the end p of a match enters the table.
  auto insertEnd = [&](const unsigned char* p) {
    if (p <= probeEnd) table[Hash4(Load32(p - 1), bits)] = static_cast<uint16_t>(p - 1 - in);
  };
  // The match moved back over the pending literals it also covers.
  auto extendBack = [&](const unsigned char*& ref) {
    while (ip > anchor && ref > in && ip[-1] == ref[-1]) {
      --ip;
      --ref;
    }
  };

  const unsigned char* ref = search();
  if (ref != nullptr) {
    const unsigned char* p = extend(ref);
    if (!room(p)) return 0;
    extendBack(ref);
    op = FastRun(op, anchor, static_cast<uint32_t>(ip - anchor), true);
    op = FastMatchOf(op, static_cast<uint32_t>(ip - ref), static_cast<uint32_t>(p - ip));
    ip = anchor = p;
    while ((ref = search()) != nullptr) {
      p = extend(ref);
      insertEnd(anchor);  // the last match's end
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
      ip = anchor = p;
    }
  }
  if (!room(end)) return 0;
  op = FastRun(op, anchor, static_cast<uint32_t>(end - anchor), op == out);
  return static_cast<uint32_t>(FastEnd(op, out));
}

}  // namespace

uint32_t CompressFast(const unsigned char* in, uint32_t n, unsigned char* out, std::size_t capacity) {
  std::vector<uint16_t>& table = ThreadTable();
  ClearTable(table, std::size_t(1) << kHashBits);
  return Compress(in, n, out, capacity, table.data());
}

}  // namespace vzr::compress

// decoder.cpp - turning the segmented stored form of an entry back into its
// content.
//
// Each segment is an LZO1X-style stream: a first literal run, instructions
// (matches, each followed by up to three literals or by a longer literal
// run), and the end marker 11 00 00. The output runs on across segments, so a
// match may reach back into an earlier segment's bytes.
//
// Every read is checked against the stored length and every write against
// the output capacity, with 64-bit arithmetic so that no offset or length in a
// damaged entry can wrap back into range. While plenty of room is left on both
// sides, the common instructions are decoded with one such check each, which
// covers everything they can read or write. Where enough bytes are left on both
// sides, literals and matches are copied in fixed 16- or 8-byte chunks that
// may run past the run's end: the checks leave room for that, so those bytes
// lie inside the caller's buffer and are overwritten by what follows (or lie
// beyond the result). Overlapping matches keep the exact byte-by-byte result.
#include <cstring>

#include "format.h"
#include "trace.h"
#include "codec.h"
#include "core.h"

namespace {

enum class Outcome {
  kDone,     // the end marker was reached
  kCrash,    // a read or write out of bounds, or a distance before the output start
  kUnused,   // an instruction byte this format does not use (24 to 31)
};

// Room a chunked copy needs beyond the run it copies.
constexpr uint64_t kSlack = 16;

// Instruction and first-byte thresholds of the stream format.
constexpr unsigned kShortMatchMin = 64;
constexpr unsigned kMidMatchMin = 32;
constexpr unsigned kFarMatchMin = 16;
constexpr unsigned kFarMatchMax = 23;
constexpr unsigned kFirstLiteralMin = 18;  // first byte b >= 18: b - 17 literals
constexpr unsigned kEndMarkerByte = 0x11;
constexpr uint64_t kFarDistanceBase = 16384;
constexpr uint64_t kNearAfterRunDistanceBase = 2049;

// Literal runs up to this length are copied in chunks; longer ones by memcpy.
constexpr uint64_t kShortRun = 32;

// Overlapping matches with a distance below 8. After the first four bytes
// are copied one by one, the source steps by kWidenAfterFour[d] for the next
// four (so that they, too, repeat the period d), then back by
// kWidenAfterEight[d], which leaves it a multiple of d and at least 8 bytes
// behind the output.
constexpr int kWidenAfterFour[8] = {0, 1, 2, 1, 0, 4, 4, 4};
constexpr int kWidenAfterEight[8] = {0, 0, 0, -1, -4, 1, 2, 3};

// Room on both sides above which an instruction is decoded without checking
// each read and write: an instruction of at most 4 bytes, a match of at most
// 33 bytes with 31 bytes of chunk overrun, then 32 bytes of literal chunks.
constexpr uint64_t kFastIn = 64;
constexpr uint64_t kFastOut = 128;

// Overlapping matches at least this long are widened to 16-byte chunks, and
// those at least kPatternMatch long are stored as a repeated pattern.
constexpr uint64_t kLongMatch = 32;
constexpr uint64_t kPatternMatch = 64;

inline void Copy16(unsigned char* to, const unsigned char* from) { std::memcpy(to, from, 16); }
inline void Copy8(unsigned char* to, const unsigned char* from) { std::memcpy(to, from, 8); }

// Room a long literal run copied by CopyRunChunked needs beyond its end.
constexpr uint64_t kRunSlack = 32;

// Copies n bytes (n > 0) between buffers that do not overlap in 32-byte
// chunks, which may run up to 31 bytes past n on both sides. Faster than a
// call to memcpy for the runs of a few bytes to a few hundred that most
// streams are made of.
inline void CopyRunChunked(unsigned char* to, const unsigned char* from, uint64_t n) {
  unsigned char* const stop = to + n;
  do {
    Copy16(to, from);
    Copy16(to + 16, from + 16);
    to += 32;
    from += 32;
  } while (to < stop);
}

// Literal runs at least this long are copied by memcpy: the library's copy
// moves wider words than the chunks, which pays once the call is amortised
// (a run of incompressible data is often a whole segment).
constexpr uint64_t kMemcpyRun = 256;

// Copies a literal run of n bytes (n > 0) between buffers that do not
// overlap; may write up to 31 bytes past n, as CopyRunChunked.
inline void CopyRun(unsigned char* to, const unsigned char* from, uint64_t n) {
  if (n >= kMemcpyRun) {
    std::memcpy(to, from, static_cast<std::size_t>(n));
    return;
  }
  CopyRunChunked(to, from, n);
}

// The decoding position of one call: input and output cursors with their ends.
struct Cursor {
  const unsigned char* ip;
  const unsigned char* ipEnd;
  unsigned char* op;
  unsigned char* const opBase;
  unsigned char* const opEnd;

  uint64_t InLeft() const { return static_cast<uint64_t>(ipEnd - ip); }
  uint64_t OutLeft() const { return static_cast<uint64_t>(opEnd - op); }
  uint64_t Written() const { return static_cast<uint64_t>(op - opBase); }
};

// Reads a length extension: z zero bytes and one nonzero byte L. Gives
// 255 * z + L. False when the stored bytes end first.
inline bool ReadExtension(Cursor& c, uint64_t& sum) {
  uint64_t zeros = 0;
  for (;;) {
    if (c.ip == c.ipEnd) return false;
    const unsigned char b = *c.ip++;
    if (b != 0) {
      sum = zeros * vzr::kRunStep + b;
      return true;
    }
    ++zeros;
  }
}

// Copies n literal bytes from the input to the output.
inline bool CopyLiterals(Cursor& c, uint64_t n) {
  if (n <= kShortRun && c.InLeft() >= kShortRun + kSlack && c.OutLeft() >= kShortRun + kSlack) {
    // Short runs (most runs between matches) as a few chunks that may run
    // past n; the input and output both have the room.
    const unsigned char* from = c.ip;
    unsigned char* to = c.op;
    unsigned char* const stop = c.op + n;
    do {
      Copy16(to, from);
      to += 16;
      from += 16;
    } while (to < stop);
  } else if (c.InLeft() >= n + kRunSlack && c.OutLeft() >= n + kRunSlack) {
    CopyRun(c.op, c.ip, n);
  } else {
    if (c.InLeft() < n || c.OutLeft() < n) return false;
    std::memcpy(c.op, c.ip, static_cast<std::size_t>(n));
  }
  c.ip += n;
  c.op += n;
  return true;
}

// Long matches from fewer than 32 bytes back repeat a period shorter than a
// 32-byte pattern: kPatternBack[d] is the multiple of d at least 32 from
// which such a pattern is read, kPatternStep[d] the largest multiple of d up
// to 32 by which it is stored again.
struct PatternSteps {
  uint8_t back[32];
  uint8_t step[32];
  constexpr PatternSteps() : back{}, step{} {
    for (unsigned d = 1; d < 32; ++d) {
      back[d] = static_cast<uint8_t>((32 + d - 1) / d * d);
      step[d] = static_cast<uint8_t>(32 / d * d);
    }
  }
};
constexpr PatternSteps kPattern;

// Fills [to, stop) with the period `distance` (1 to 31) of the bytes before
// `to`, of which at least kPattern.back[distance] must already repeat it. One
// 32-byte pattern is read, then stored again and again: no store waits for
// a load of bytes just stored. Writes up to 31 bytes past stop.
inline void FillPeriodic(unsigned char* to, unsigned char* const stop, uint64_t distance) {
  unsigned char pattern[32];
  std::memcpy(pattern, to - kPattern.back[distance], 32);
  const unsigned step = kPattern.step[distance];
  do {
    std::memcpy(to, pattern, 32);
    to += step;
  } while (to < stop);
}

// Copies a match of `length` bytes from `distance` bytes back (1 to the bytes
// already written) in chunks that may write up to 31 bytes past its end. The
// result is that of a byte-by-byte copy from the front, also when the two
// overlap.
inline void CopyMatchChunked(unsigned char* to, uint64_t length, uint64_t distance) {
  const unsigned char* from = to - distance;
  unsigned char* const stop = to + length;
  if (__builtin_expect(distance >= 16, 1)) {
    // Each chunk reads only bytes that are already final (a chunk at most
    // `distance` back). Most matches take one chunk; a second one only
    // where needed, since it may have to wait for the first one's store.
    Copy16(to, from);
    if (length <= 16) return;
    Copy16(to + 16, from + 16);
    to += 32;
    if (__builtin_expect(length >= kPatternMatch, 0) && distance < 32) {
      // 32 bytes written, 2 * distance >= 32 of them repeat the period.
      FillPeriodic(to, stop, distance);
      return;
    }
    from += 32;
    while (to < stop) {
      Copy16(to, from);
      to += 16;
      from += 16;
    }
    return;
  }
  if (distance >= 8) {
    // A second chunk would wait for the first one's store (they overlap
    // but do not coincide), so only where it is needed.
    Copy8(to, from);
    if (length <= 8) return;
    from += 8;
  } else {
    // The output repeats with period `distance`, so the first eight bytes
    // can be built from the pattern, after which reading from a multiple of
    // the period at least 8 back gives the same bytes in 8-byte chunks.
    to[0] = from[0];
    to[1] = from[1];
    to[2] = from[2];
    to[3] = from[3];
    from += kWidenAfterFour[distance];
    std::memcpy(to + 4, from, 4);
    from -= kWidenAfterEight[distance];
  }
  to += 8;
  if (length >= kLongMatch) {
    // Long runs of a short period (repetitive data): after 24 bytes, a
    // multiple of the period at least 16 back still lies inside the
    // pattern, so the next goes in 16-byte chunks; the longest ones, after
    // 40 bytes, by storing a 32-byte pattern again and again.
    Copy8(to, from);
    Copy8(to + 8, from + 8);
    to += 16;
    from += 16;
    const std::ptrdiff_t period = to - from;
    if (period < 16) from -= period;
    if (length >= kPatternMatch) {
      Copy16(to, from);
      FillPeriodic(to + 16, stop, distance);
      return;
    }
    while (to < stop) {
      Copy16(to, from);
      to += 16;
      from += 16;
    }
    return;
  }
  while (to < stop) {
    Copy8(to, from);
    to += 8;
    from += 8;
  }
}

// Copies a match of `length` bytes from `distance` bytes back, checked
// against both ends of the output.
inline bool CopyMatch(Cursor& c, uint64_t length, uint64_t distance) {
  if (__builtin_expect(distance > c.Written() || length > c.OutLeft(), 0)) return false;
  unsigned char* to = c.op;
  c.op += length;
  if (__builtin_expect(c.OutLeft() < kSlack + 16, 0)) {
    // Too close to the end of the output for chunks.
    const unsigned char* from = to - distance;
    if (distance >= length) {
      std::memcpy(to, from, static_cast<std::size_t>(length));
    } else {
      while (to < c.op) *to++ = *from++;
    }
    return true;
  }
  CopyMatchChunked(to, length, distance);
  return true;
}

// Reads the literal run that a first byte of a stream announces. Gives the
// number of literals; false when the stored bytes end first.
inline bool ReadFirstRun(Cursor& c, uint64_t& t) {
  if (c.ip == c.ipEnd) return false;
  const unsigned b = *c.ip++;
  if (b >= kFirstLiteralMin) {
    t = b - vzr::kRunBias;
  } else if (b >= kFarMatchMin) {
    t = 0;  // 16 and 17: no literals (17 begins the empty segment 11 11 00 00)
  } else if (b > 0) {
    t = b + 3;  // as after an instruction: a run of b + 3 literals
  } else {
    uint64_t sum = 0;
    if (!ReadExtension(c, sum)) return false;
    t = vzr::kLongRunBias + sum;
  }
  return true;
}

// How FastRun left the stream.
enum class Step {
  kCareful,  // at an instruction it does not handle, or short of room: the careful loop goes on
  kCrash,    // a read or write out of bounds, or a distance before the output start
};

// Copies a mid or far match that FastRun decoded (at most 33 bytes, or a
// longer one with room for 31 bytes of chunk overrun) from `distance` back.
inline void CopyMatchFast(unsigned char* op, uint64_t length, uint64_t distance) {
  const unsigned char* from = op - distance;
  if (__builtin_expect(distance >= 32, 1)) {
    // Both chunks read only final bytes, so neither waits for the other.
    Copy16(op, from);
    Copy16(op + 16, from + 16);
    // 32 or more back, each further chunk also reads only final bytes.
    if (__builtin_expect(length > 32, 0)) CopyRunChunked(op + 32, from + 32, length - 32);
    return;
  }
  CopyMatchChunked(op, length, distance);
}

// Decodes instructions and their literals from the cursor on while at least
// kFastIn bytes of input and kFastOut of output are left at each
// instruction: then no read or write can reach an end, and only the distance
// is checked. `run` is the length of the literal run before the instruction
// at the cursor on entry (it chooses the near-match form), and on return one
// with the same form; FastRun returns at an instruction boundary.
//
// Which kind comes next, and whether literals follow, is as unpredictable as
// the data, so the code is laid out as labelled handlers, one per kind, each
// ending in its own copy of the choice of the next handler: the branch
// predictor then learns what tends to follow each kind, where one shared
// choice would see them all mixed.
Step FastRun(Cursor& c, uint64_t& run, const unsigned char* const ipFast, const unsigned char* const opFast) {
  const unsigned char* ip = c.ip;
  unsigned char* op = c.op;
  unsigned char* const opBase = c.opBase;
  unsigned b = *ip;  // the byte that chooses the next handler
  unsigned trailing = 0;
  uint64_t length = 0;
  uint64_t distance = 0;

// The handler of an instruction byte of 16 or more.
#define VZR_NEXT_MATCH()                    \
  if (b >= kShortMatchMin) goto shortMatch; \
  if (b >= kMidMatchMin) goto mid;          \
  goto far;

// Each instruction handler begins with the room test.
#define VZR_ROOM_OR_LEAVE(runForm)                            \
  if (__builtin_expect((ip >= ipFast) | (op >= opFast), 0)) { \
    run = (runForm);                                          \
    goto leave;                                               \
  }

// Each match handler ends with this: 0 to 3 literals, copied as four bytes,
// then the handler of the byte after them.
#define VZR_TRAILING_THEN_NEXT()            \
  std::memcpy(op, ip, 4);                   \
  op += trailing;                           \
  ip += trailing;                           \
  b = *ip;                                  \
  if (b < kFarMatchMin) {                   \
    if (trailing != 0) goto nearAfterMatch; \
    if (b != 0) goto shortRun;              \
    goto longRun;                           \
  }                                         \
  VZR_NEXT_MATCH();

  if (b < kFarMatchMin) {
    if (run > 3) goto nearAfterRun;
    goto nearAfterMatch;
  }
  VZR_NEXT_MATCH();

shortMatch:
  VZR_ROOM_OR_LEAVE(0);
  length = (b >> 5) + 1;
  distance = ((b >> 2) & 7) + uint64_t(ip[1]) * 8 + 1;
  if (__builtin_expect(distance > static_cast<uint64_t>(op - opBase), 0)) return Step::kCrash;
  if (distance >= 8) {
    Copy8(op, op - distance);
  } else {
    CopyMatchChunked(op, length, distance);
  }
  trailing = b & 3;
  ip += 2;
  op += length;
  VZR_TRAILING_THEN_NEXT();

mid:
  VZR_ROOM_OR_LEAVE(0);
  if (__builtin_expect((b & 31) == 0, 0)) goto longMid;
  length = (b & 31) + 2;
  distance = (ip[1] >> 2) + uint64_t(ip[2]) * 64 + 1;
  trailing = ip[1] & 3;
  ip += 3;
  if (__builtin_expect(distance > static_cast<uint64_t>(op - opBase), 0)) return Step::kCrash;
  if (__builtin_expect(distance >= 32, 1)) {
    // 3 to 33 bytes, each read final (the 33rd, 32 back, was just written).
    const unsigned char* from = op - distance;
    Copy16(op, from);
    Copy16(op + 16, from + 16);
    op[32] = from[32];
  } else {
    CopyMatchChunked(op, length, distance);
  }
  op += length;
  VZR_TRAILING_THEN_NEXT();

longMid:
  // A long match with a one-byte length extension (repetitive data).
  if (ip[1] == 0) goto leave;
  length = ip[1] + 31 + 2;
  if (static_cast<uint64_t>(c.opEnd - op) < length + kFastOut) goto leave;
  distance = (ip[2] >> 2) + uint64_t(ip[3]) * 64 + 1;
  trailing = ip[2] & 3;
  ip += 4;
  goto copyMatch;

far:
  VZR_ROOM_OR_LEAVE(0);
  // The unused bytes, a length extension and the end marker go to the careful loop.
  if (b > kFarMatchMax || (b & 7) == 0 || (b == kEndMarkerByte && (ip[1] | ip[2]) == 0)) goto leave;
  length = (b & 7) + 2;
  distance = (ip[1] >> 2) + uint64_t(ip[2]) * 64 + kFarDistanceBase;
  trailing = ip[1] & 3;
  ip += 3;
  goto copyMatch;

nearAfterMatch:
  // Near match of 2 bytes after 1 to 3 literals (or none, at a stream's start).
  VZR_ROOM_OR_LEAVE(0);
  distance = (b >> 2) + uint64_t(ip[1]) * 4 + 1;
  length = 2;
  goto nearMatch;

nearAfterRun:
  // Near match of 3 bytes after a run of 4 or more literals.
  VZR_ROOM_OR_LEAVE(kNearAfterRunDistanceBase);
  distance = (b >> 2) + uint64_t(ip[1]) * 4 + kNearAfterRunDistanceBase;
  length = 3;
nearMatch:
  // Three single bytes are exact at any distance (a third byte beyond a
  // 2-byte match is overwritten later).
  if (__builtin_expect(distance > static_cast<uint64_t>(op - opBase), 0)) return Step::kCrash;
  op[0] = (op - distance)[0];
  op[1] = (op - distance)[1];
  op[2] = (op - distance)[2];
  trailing = b & 3;
  ip += 2;
  op += length;
  VZR_TRAILING_THEN_NEXT();

copyMatch:
  if (__builtin_expect(distance > static_cast<uint64_t>(op - opBase), 0)) return Step::kCrash;
  CopyMatchFast(op, length, distance);
  op += length;
  VZR_TRAILING_THEN_NEXT();

shortRun:
  // A run of 4 to 18 literals after a match, as two chunks; the match's
  // room test covers them.
  length = b + 3;
  ++ip;
  Copy16(op, ip);
  Copy16(op + 16, ip + 16);
  op += length;
  ip += length;
  b = *ip;
  if (b < kFarMatchMin) goto nearAfterRun;
  VZR_NEXT_MATCH();

longRun: {
  // Most often of one extension byte (19 to 273 literals). The room test
  // left that byte readable; the run itself is checked.
  const unsigned first = ip[1];
  length = vzr::kLongRunBias + first;
  if (__builtin_expect(first != 0, 1) && static_cast<uint64_t>(c.ipEnd - (ip + 2)) >= length + kRunSlack &&
      static_cast<uint64_t>(c.opEnd - op) >= length + kRunSlack) {
    CopyRun(op, ip + 2, length);
    ip += 2 + length;
    op += length;
  } else {
    c.ip = ip + 1;
    c.op = op;
    uint64_t sum = 0;
    if (!ReadExtension(c, sum)) return Step::kCrash;
    length = vzr::kLongRunBias + sum;
    if (!CopyLiterals(c, length)) return Step::kCrash;
    ip = c.ip;
    op = c.op;
  }
  // What follows may lie beyond the room test, even past the input's end.
  run = length;
  if (__builtin_expect(ip >= ipFast, 0)) goto leave;
  b = *ip;
  if (b < kFarMatchMin) goto nearAfterRun;
  VZR_NEXT_MATCH();
}

leave:
  c.ip = ip;
  c.op = op;
  return Step::kCareful;
#undef VZR_NEXT_MATCH
#undef VZR_ROOM_OR_LEAVE
#undef VZR_TRAILING_THEN_NEXT
}

// Decodes one segment's stream, from its first byte to its end marker.
Outcome DecodeStreamAt(Cursor& c) {
  uint64_t t = 0;
  if (!ReadFirstRun(c, t)) return Outcome::kCrash;
  if (t > 0 && !CopyLiterals(c, t)) return Outcome::kCrash;
  // The length of the literal run just copied: it chooses the near-match form.
  uint64_t runBefore = t;
  // The fast path's room test as two pointer compares: ip < ipFast holds
  // exactly while kFastIn bytes are left (never, when fewer were left at the
  // start, since the cursors only move forwards), and likewise for op.
  const unsigned char* const ipFast = c.InLeft() >= kFastIn ? c.ipEnd - (kFastIn - 1) : c.ip;
  const unsigned char* const opFast = c.OutLeft() >= kFastOut ? c.opEnd - (kFastOut - 1) : c.op;
  for (;;) {
    if (__builtin_expect((c.ip < ipFast) & (c.op < opFast), 1)) {
      if (FastRun(c, runBefore, ipFast, opFast) == Step::kCrash) return Outcome::kCrash;
    }
    if (c.InLeft() < 2) return Outcome::kCrash;  // every instruction has at least two bytes
    const unsigned b = c.ip[0];
    uint64_t length = 0;
    uint64_t distance = 0;
    unsigned trailing = 0;
    if (b >= kShortMatchMin) {
      length = (b >> 5) + 1;
      distance = ((b >> 2) & 7) + uint64_t(c.ip[1]) * 8 + 1;
      trailing = b & 3;
      c.ip += 2;
    } else if (b >= kMidMatchMin) {
      length = b & 31;
      ++c.ip;
      if (length == 0) {
        if (!ReadExtension(c, length)) return Outcome::kCrash;
        length += 31;
      }
      length += 2;
      if (c.InLeft() < 2) return Outcome::kCrash;
      distance = (c.ip[0] >> 2) + uint64_t(c.ip[1]) * 64 + 1;
      trailing = c.ip[0] & 3;
      c.ip += 2;
    } else if (b >= kFarMatchMin) {
      if (b > kFarMatchMax) return Outcome::kUnused;
      if (c.InLeft() < 3) return Outcome::kCrash;
      if (b == kEndMarkerByte && c.ip[1] == 0 && c.ip[2] == 0) {
        c.ip += 3;
        return Outcome::kDone;
      }
      length = b & 7;
      ++c.ip;
      if (length == 0) {
        if (!ReadExtension(c, length)) return Outcome::kCrash;
        length += 7;
      }
      length += 2;
      if (c.InLeft() < 2) return Outcome::kCrash;
      distance = (c.ip[0] >> 2) + uint64_t(c.ip[1]) * 64 + kFarDistanceBase;
      trailing = c.ip[0] & 3;
      c.ip += 2;
    } else {
      // Near match: its form depends on the literal run just copied.
      const uint64_t near = (b >> 2) + uint64_t(c.ip[1]) * 4;
      const bool afterRun = runBefore > 3;
      length = afterRun ? 3 : 2;
      distance = near + (afterRun ? kNearAfterRunDistanceBase : 1);
      trailing = b & 3;
      c.ip += 2;
    }

    // The literals after the match: its trailing count, or, when that is 0,
    // a run announced by the next byte (1 to 15, or 0 for a long run). The
    // stream goes on in any case, since the end marker is still to come.
    // Chosen without branching where possible: which case holds is as
    // unpredictable as the data.
    if (c.ip == c.ipEnd) return Outcome::kCrash;
    const unsigned next = *c.ip;
    if ((trailing == 0) & (next == 0)) {
      ++c.ip;
      uint64_t sum = 0;
      if (!ReadExtension(c, sum)) return Outcome::kCrash;
      t = vzr::kLongRunBias + sum;
    } else {
      const bool shortRun = (trailing == 0) & (next - 1 < kFarMatchMin - 1);
      t = shortRun ? next + 3 : trailing;
      c.ip += shortRun;
    }
    if (!CopyMatch(c, length, distance)) return Outcome::kCrash;

    if (t <= kShortRun && c.InLeft() >= kShortRun + kSlack && c.OutLeft() >= kShortRun + kSlack) {
      // Up to kShortRun literals (none, quite often) as two fixed chunks.
      Copy16(c.op, c.ip);
      Copy16(c.op + 16, c.ip + 16);
      c.op += t;
      c.ip += t;
    } else if (!CopyLiterals(c, t)) {
      return Outcome::kCrash;
    }
    runBefore = t;
  }
}

// Works on a local copy of the cursor: the output bytes it writes could
// otherwise alias the caller's cursor and force it out of registers.
Outcome DecodeStream(Cursor& cursor) {
  Cursor c = cursor;
  const Outcome outcome = DecodeStreamAt(c);
  cursor.ip = c.ip;
  cursor.op = c.op;
  return outcome;
}

// Decodes every segment in table order. Gives the bytes written, or an
// outcome other than kDone.
Outcome DecodeAll(const unsigned char* stored, uint32_t storedLength, unsigned char* out,
                  uint32_t outCapacity, uint64_t& written) {
  if (storedLength < vzr::kSegmentCountSize) return Outcome::kCrash;
  const uint64_t segmentCount = vzr::ReadLE32(stored);
  const uint64_t streamArea = vzr::kSegmentCountSize + segmentCount * vzr::kSegmentRecordSize;
  if (streamArea > storedLength) return Outcome::kCrash;

  Cursor c{nullptr, stored + storedLength, out, out, out + outCapacity};
  for (uint64_t i = 0; i < segmentCount; ++i) {
    const unsigned char* record = stored + vzr::kSegmentCountSize + i * vzr::kSegmentRecordSize;
    const uint64_t streamStart = streamArea + vzr::ReadLE32(record + 8);  // streamOffset
    if (streamStart >= storedLength) return Outcome::kCrash;
    c.ip = stored + streamStart;
    const Outcome outcome = DecodeStream(c);
    if (outcome != Outcome::kDone) return outcome;
  }
  written = c.Written();
  return Outcome::kDone;
}

// Set on a thread that decodes ahead of the reader: it reports damage
// itself, once, where a single-threaded read would meet it.
thread_local bool t_quiet = false;

void TraceCrash() {
  if (t_quiet) return;
  try {
    TraceLog("ERROR! CRASH  Decompression()!");
  } catch (...) {
    // Nothing may leave the decoder, not even a failed trace line.
  }
}

}  // namespace

int32_t Decompression(const unsigned char* stored, uint32_t storedLength, unsigned char* out,
                      uint32_t outCapacity) {
  try {
    if (stored == nullptr || (out == nullptr && outCapacity > 0)) {
      TraceCrash();
      return 0;
    }
    uint64_t written = 0;
    switch (DecodeAll(stored, storedLength, out, outCapacity, written)) {
      case Outcome::kDone:
        if (written > uint64_t(INT32_MAX)) break;  // not expressible as a result
        return static_cast<int32_t>(written);
      case Outcome::kUnused:
        return 0;
      case Outcome::kCrash:
        break;
    }
  } catch (...) {
  }
  TraceCrash();
  return 0;
}

int32_t DecompressionQuiet(const unsigned char* stored, uint32_t storedLength, unsigned char* out,
                           uint32_t outCapacity) {
  t_quiet = true;
  const int32_t n = Decompression(stored, storedLength, out, outCapacity);
  t_quiet = false;
  return n;
}

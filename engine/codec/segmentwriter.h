// segmentwriter.h - writing the segment stream format, for the literal-only
// entry writer and every compressor level alike: run codes, literal-only
// streams, the instruction forms and their byte costs.
//
// A stream is a first literal run, then matches (each carrying up to three
// trailing literals in its low bits) and literal runs, then the end marker.
// Two rules keep every reader of the format in agreement: the first literal
// run is always coded as a first byte of 18 to 255 or as 0 with a length
// extension (never 1 to 17), and a far match never has a zero distance field
// (a reader that follows the original format's decoder takes that for the
// end of the stream); distances of exactly 16384 therefore go in a mid match.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "format.h"

namespace vzr {

// Limits of the instruction forms.
inline constexpr uint32_t kMaxShortDistance = 2048;
inline constexpr uint32_t kMaxMidDistance = 16384;
inline constexpr uint32_t kMaxNearDistance = 1024;                // length 2, after 1 to 3 literals
inline constexpr uint32_t kMaxNearAfterRunDistance = 2048 + 1024;  // length 3, after a run of 4 or more
inline constexpr uint32_t kMaxShortLength = 8;
inline constexpr uint32_t kMaxMidDirectLength = 33;
inline constexpr uint32_t kMaxFarDirectLength = 9;

// Bytes of the code of a first literal run of n bytes (never 1 to 17).
inline constexpr uint32_t RunCodeLength(uint32_t n) {
  return n <= kShortRunLimit ? 1 : 2 + (n - kLongRunBias - 1) / kRunStep;
}

// Writes the code of a first literal run of n bytes at out; returns its length.
inline uint32_t WriteRunCode(unsigned char* out, uint32_t n) {
  if (n <= kShortRunLimit) {
    out[0] = static_cast<unsigned char>(n + kRunBias);
    return 1;
  }
  // 0x00, then one 0x00 for each 255 while more than 255 remain, then the
  // rest (1 to 255). The zeros are counted up front and written in one go.
  const uint32_t m = n - kLongRunBias;
  const uint32_t continuations = (m - 1) / kRunStep;
  std::memset(out, 0x00, 1 + continuations);
  out[1 + continuations] = static_cast<unsigned char>(m - continuations * kRunStep);
  return 2 + continuations;
}

// Bytes of the literal-only stream of an n-byte segment: run code, the bytes,
// the end marker (4 for an empty segment).
inline constexpr uint32_t LiteralStreamLength(uint32_t n) {
  return RunCodeLength(n) + n + static_cast<uint32_t>(sizeof kEndMarker);
}

// Writes the literal-only stream of in[0..n) at out (LiteralStreamLength(n)
// bytes); returns its length. in may be null when n is 0.
inline uint32_t WriteLiteralStream(const unsigned char* in, uint32_t n, unsigned char* out) {
  uint32_t pos = WriteRunCode(out, n);
  if (n > 0) std::memcpy(out + pos, in, n);
  pos += n;
  std::memcpy(out + pos, kEndMarker, sizeof kEndMarker);
  return pos + static_cast<uint32_t>(sizeof kEndMarker);
}

// Bytes of a match of at least length 3 that needs no particular literal class.
inline uint32_t MatchCost(uint32_t length, uint32_t distance) {
  if (distance <= kMaxShortDistance && length <= kMaxShortLength) return 2;
  if (distance <= kMaxMidDistance) return length <= kMaxMidDirectLength ? 3 : 4 + (length - 34) / 255;
  return length <= kMaxFarDirectLength ? 3 : 4 + (length - 10) / 255;
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

// The fast writers below keep the stream position in a local pointer. A
// match always ends with its two distance bytes, the first of which takes a
// following run of 1 to 3 literals in its low bits: that byte is op[-2].

inline void Store32(unsigned char* p, uint32_t v) { std::memcpy(p, &v, 4); }

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

}  // namespace vzr

// CompressSegment: every level round-trips through three decoders (ours on a
// one-segment stored form, the reference library's safe decoder, and a small
// decoder written from the format's instruction table), never exceeds
// CompressBound, keeps the first-byte and far-match rules, and level 0 is the
// entry writer's literal-only stream.
#include <lzo/lzo1x.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "testutil.h"
#include "vzrpack.h"

namespace {

using testutil::Bytes;
using testutil::PutLE32;

// Decodes one stream as the format's table reads it; nullopt on any
// instruction that does not fit the stream or the output.
std::optional<Bytes> TableDecode(const Bytes& s) {
  Bytes out;
  std::size_t ip = 0;
  auto byte = [&](uint32_t& v) {
    if (ip >= s.size()) return false;
    v = s[ip++];
    return true;
  };
  auto extension = [&](uint32_t base, uint32_t& v) {
    uint32_t b = 0, z = 0;
    while (byte(b) && b == 0) ++z;
    if (b == 0) return false;
    v = base + 255 * z + b;
    return true;
  };
  auto literals = [&](uint32_t n) {
    if (ip + n > s.size()) return false;
    out.insert(out.end(), s.begin() + long(ip), s.begin() + long(ip + n));
    ip += n;
    return true;
  };
  auto copy = [&](uint32_t distance, uint32_t length) {
    if (distance == 0 || distance > out.size()) return false;
    for (uint32_t k = 0; k < length; ++k) out.push_back(out[out.size() - distance]);
    return true;
  };
  uint32_t b = 0, n = 0, next = 0, d0 = 0, d1 = 0;
  if (!byte(b)) return std::nullopt;
  if (b >= 18) n = b - 17;
  else if (b == 0 && !extension(18, n)) return std::nullopt;
  else if (b != 0 && b != 17) return std::nullopt;  // this system never writes 1..16 first
  if (!literals(n)) return std::nullopt;
  uint32_t lastRun = n;  // literal bytes just copied by a run (not trailing)
  bool afterTrailing = n > 0 && n < 4;
  for (;;) {
    if (!byte(b)) return std::nullopt;
    uint32_t trailing = 0;
    if (b >= 64) {
      if (!byte(next) || !copy(((b >> 2) & 7) + next * 8 + 1, (b >> 5) + 1)) return std::nullopt;
      trailing = b & 3;
    } else if (b >= 32) {
      uint32_t length = (b & 31) + 2;
      if ((b & 31) == 0 && !extension(33, length)) return std::nullopt;
      if (!byte(d0) || !byte(d1) || !copy((d0 >> 2) + d1 * 64 + 1, length)) return std::nullopt;
      trailing = d0 & 3;
    } else if (b == 17 && ip + 1 < s.size() && s[ip] == 0 && s[ip + 1] == 0) {
      return ip + 2 == s.size() ? std::optional<Bytes>(out) : std::nullopt;
    } else if (b >= 16 && b <= 23) {
      uint32_t length = (b & 7) + 2;
      if ((b & 7) == 0 && !extension(9, length)) return std::nullopt;
      if (!byte(d0) || !byte(d1) || !copy((d0 >> 2) + d1 * 64 + 16384, length)) return std::nullopt;
      trailing = d0 & 3;
    } else if (b >= 24) {
      return std::nullopt;
    } else if (!afterTrailing && lastRun >= 4) {
      if (!byte(next) || !copy((b >> 2) + next * 4 + 2049, 3)) return std::nullopt;
      trailing = b & 3;
    } else {
      if (!byte(next) || !copy((b >> 2) + next * 4 + 1, 2)) return std::nullopt;
      trailing = b & 3;
    }
    lastRun = 0;
    afterTrailing = trailing > 0;
    if (!literals(trailing)) return std::nullopt;
    if (trailing > 0 || ip >= s.size() || s[ip] >= 16) continue;
    if (!byte(b)) return std::nullopt;
    n = b + 3;
    if (b == 0 && !extension(18, n)) return std::nullopt;
    if (!literals(n)) return std::nullopt;
    lastRun = n;
  }
}

Bytes Wrap(const Bytes& stream, uint32_t rawLength) {
  Bytes form;
  PutLE32(form, 1);
  PutLE32(form, static_cast<uint32_t>(stream.size()));
  PutLE32(form, rawLength);
  PutLE32(form, 0);
  form.insert(form.end(), stream.begin(), stream.end());
  return form;
}

// The stream s starts as every reader needs and decodes to in under the
// table-following decoder, ours and liblzo2's safe decoder.
void ExpectDecodesUnderAllThree(const Bytes& s, const Bytes& in) {
  const std::size_t n = in.size();
  EXPECT_TRUE(s[0] >= 18 || s[0] == 0) << int(s[0]);
  EXPECT_EQ(TableDecode(s), std::optional<Bytes>(in));
  Bytes ours(n + 16);
  const Bytes form = Wrap(s, static_cast<uint32_t>(n));
  EXPECT_EQ(Decompression(form.data(), static_cast<uint32_t>(form.size()), ours.data(),
                          static_cast<uint32_t>(ours.size())),
            static_cast<int32_t>(n));
  ours.resize(n);
  EXPECT_EQ(ours, in);
  Bytes theirs(n);
  lzo_uint theirLength = n;
  EXPECT_EQ(lzo1x_decompress_safe(s.data(), s.size(), theirs.data(), &theirLength, nullptr), LZO_E_OK);
  EXPECT_EQ(theirLength, n);
  EXPECT_EQ(theirs, in);
}

Bytes Data(const std::string& kind, std::size_t n) {
  std::mt19937 rng(static_cast<uint32_t>(n * 31 + kind.size()));
  Bytes b(n);
  const std::string words[] = {"spawn ", "trigger ", "door_", "unit ", "= 1;\n", "if (", "health ", "0x20 "};
  for (std::size_t i = 0; i < n; ++i) {
    if (kind == "text") {
      const std::string& w = words[rng() % 8];
      for (char c : w) if (i < n) b[i++] = static_cast<unsigned char>(c);
      --i;
    } else if (kind == "binary") {
      b[i] = static_cast<unsigned char>(i % 4 == 0 ? rng() % 8 : i % 4 == 1 ? (i >> 6) : 0);
    } else if (kind == "random") {
      b[i] = static_cast<unsigned char>(rng());
    } else if (kind == "repetitive") {
      b[i] = 'a';
    } else {  // mixed: stretches of each, and long-distance repeats
      const std::size_t block = (i / 3000) % 3;
      b[i] = block == 0 ? static_cast<unsigned char>(rng()) : block == 1 ? 'x' : b[i % 20000 < i ? i % 20000 : 0];
    }
  }
  return b;
}

Bytes Compress(const Bytes& in, int level) {
  Bytes out(CompressBound(static_cast<uint32_t>(in.size())));
  out.resize(CompressSegment(in.data(), static_cast<uint32_t>(in.size()), out.data(),
                             static_cast<uint32_t>(out.size()), level));
  return out;
}

TEST(CompressSegment, EveryLevelRoundTripsThroughThreeDecoders) {
  ASSERT_EQ(lzo_init(), LZO_E_OK);
  for (const std::string kind : {"text", "binary", "random", "repetitive", "mixed"}) {
    for (std::size_t n : {1, 2, 3, 4, 238, 239, 32767, 32768}) {
      const Bytes in = Data(kind, n);
      for (int level = 0; level <= 9; ++level) {
        SCOPED_TRACE(kind + " n=" + std::to_string(n) + " level=" + std::to_string(level));
        const Bytes s = Compress(in, level);
        ASSERT_FALSE(s.empty());
        EXPECT_LE(s.size(), CompressBound(static_cast<uint32_t>(n)));
        ExpectDecodesUnderAllThree(s, in);
      }
    }
  }
}

TEST(CompressSegment, HigherLevelsShrinkAndLevelZeroIsTheEntryWriterStream) {
  const Bytes in = Data("text", 32768);
  const Bytes literal = testutil::LiteralSegmentedForm(in);
  EXPECT_EQ(Wrap(Compress(in, 0), 32768), literal);
  EXPECT_LT(Compress(in, 1).size(), in.size() / 2);
  EXPECT_LE(Compress(in, 9).size(), Compress(in, 1).size());
  EXPECT_EQ(Compress(in, 9), Compress(in, 9));  // deterministic
}

TEST(CompressSegment, EmptySegmentAndBadArguments) {
  unsigned char out[64];
  const unsigned char in[4] = {1, 2, 3, 4};
  EXPECT_EQ(CompressSegment(in, 0, out, sizeof out, 9), 4u);
  EXPECT_EQ(Bytes(out, out + 4), (Bytes{0x11, 0x11, 0x00, 0x00}));
  EXPECT_EQ(CompressSegment(in, 4, out, 3, 1), 0u);       // too small
  EXPECT_EQ(CompressSegment(in, 4, out, sizeof out, 10), 0u);
  EXPECT_EQ(CompressSegment(in, 32769, out, sizeof out, 1), 0u);
}

// Level 1 writes straight into the caller's buffer while it has room: a
// buffer exactly as long as the stream gets the same stream, a byte less
// gets none, and nothing past the buffer is touched.
TEST(CompressSegment, LevelOneStreamDoesNotDependOnTheBuffer) {
  for (const std::string kind : {"text", "binary", "random", "repetitive", "mixed"}) {
    for (std::size_t n : {5, 21, 300, 32768}) {
      SCOPED_TRACE(kind + " n=" + std::to_string(n));
      const Bytes in = Data(kind, n);
      const Bytes s = Compress(in, 1);
      for (std::size_t capacity : {s.size(), s.size() - 1}) {
        Bytes out(capacity + 64, 0xA5);
        const uint32_t length = CompressSegment(in.data(), static_cast<uint32_t>(n), out.data(),
                                                static_cast<uint32_t>(capacity), 1);
        if (capacity == s.size()) {
          EXPECT_EQ(Bytes(out.begin(), out.begin() + long(length)), s);
        } else {
          EXPECT_EQ(length, 0u);
        }
        EXPECT_EQ(Bytes(out.begin() + long(capacity), out.end()), Bytes(64, 0xA5));
      }
    }
  }
}

// Level 1 around a half of random bytes: matches only in one half, a run
// of 1 to 3 literals between repeats, the second half repeating the first,
// and no match at all. Its step grows over random bytes as liblzo2's level 1
// does, so repeats after 16 KB of them are found late (a trade for speed),
// and a repeat of bytes probed only at a wide step may go unseen.
TEST(CompressSegment, LevelOneMatchesAroundARandomHalf) {
  ASSERT_EQ(lzo_init(), LZO_E_OK);
  std::mt19937 rng(5);
  auto random = [&](std::size_t n) {
    Bytes b(n);
    for (unsigned char& c : b) c = static_cast<unsigned char>(rng());
    return b;
  };
  const Bytes block = random(64);
  auto repeats = [&](std::size_t n) {
    Bytes b;
    while (b.size() < n) b.insert(b.end(), block.begin(), block.end());
    b.resize(n);
    return b;
  };
  auto join = [](Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  for (std::size_t n : {4095, 4096, 32768}) {
    const std::size_t half = n / 2;
    struct Case {
      std::string name;
      Bytes in;
      std::size_t maxFifths;  // of n, the stream's largest size for 32 KiB (0: no bound)
    };
    const std::vector<Case> cases = {
        {"first half only", join(repeats(half), random(n - half)), 3},
        {"second half only", join(random(half), repeats(n - half)), 4},
        {"join run of 2", join(repeats(half), join(random(2), repeats(n - half - 2))), 3},
        {"join run of 40", join(repeats(half), join(random(40), repeats(n - half - 40))), 3},
        {"second half repeats the first", random(half), 0},  // completed by a copy of its start
        {"nothing repeats", random(n), 0},
    };
    for (Case c : cases) {
      for (std::size_t i = 0; c.in.size() < n; ++i) c.in.push_back(c.in[i]);  // repeats its own start
      SCOPED_TRACE(c.name + " n=" + std::to_string(n));
      const Bytes s = Compress(c.in, 1);
      ASSERT_FALSE(s.empty());
      ExpectDecodesUnderAllThree(s, c.in);
      if (n == 32768 && c.maxFifths != 0) {
        EXPECT_LT(s.size(), n * c.maxFifths / 5);
      }
    }
  }
}

// Level 1 reads words past a match's end; a match of 17 to 19 bytes
// starting 20 to 22 bytes before a segment's end must not read past it (the
// sanitized build sees the buffer's exact end).
TEST(CompressSegment, LevelOneReadsNothingPastAMatchNearTheEnd) {
  ASSERT_EQ(lzo_init(), LZO_E_OK);
  std::mt19937 rng(11);
  for (std::size_t n : {100, 4096}) {
    for (std::size_t start = 20; start <= 22; ++start) {
      for (std::size_t length = 17; length <= 19; ++length) {
        Bytes in(n);
        for (unsigned char& c : in) c = static_cast<unsigned char>(rng());
        std::copy_n(in.begin() + 30, start, in.end() - long(start));
        if (length < start) in[n - start + length] = static_cast<unsigned char>(in[30 + length] ^ 1);
        SCOPED_TRACE("n=" + std::to_string(n) + " start=" + std::to_string(start) + " length=" + std::to_string(length));
        ExpectDecodesUnderAllThree(Compress(in, 1), in);
      }
    }
  }
}

// Random bytes with one 20-byte repeat, a long literal run after it, and in
// that run (25 literals in) three bytes repeating three of the run's first
// ones. Taking them as a match costs exactly what the literals cost at that
// point, but the run after the match starts its code anew and pays a second
// byte again after 19: the cheapest stream leaves them literals, so the
// repeat makes level 9's stream no longer.
TEST(CompressSegment, LevelNineIgnoresAMatchThatRestartsALongRunsCode) {
  auto make = [](bool repeat) {
    std::mt19937 rng(5);
    Bytes in;
    for (int i = 0; i < 50; ++i) in.push_back(static_cast<unsigned char>(rng()));
    for (int i = 0; i < 20; ++i) in.push_back(in[10 + i]);
    for (int i = 0; i < 58; ++i) in.push_back(static_cast<unsigned char>(rng()));
    if (repeat) std::copy(in.begin() + 70, in.begin() + 73, in.begin() + 95);
    return in;
  };
  const Bytes plain = make(false), repeated = make(true);
  EXPECT_EQ(TableDecode(Compress(repeated, 9)), std::optional<Bytes>(repeated));
  EXPECT_LE(Compress(repeated, 9).size(), Compress(plain, 9).size());
}

// A long repeat is one match at level 9, not one per nice length.
TEST(CompressSegment, LevelNineTakesALongRepeatAsOneMatch) {
  std::mt19937 rng(8);
  Bytes once(1000);
  for (unsigned char& b : once) b = static_cast<unsigned char>(rng());
  Bytes twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_LE(Compress(twice, 9).size(), Compress(once, 9).size() + 8);  // a mid match with a length extension
}

// Level 9 keeps its tables per thread and clears only their heads, so a
// stream must not depend on what the thread compressed before. The data
// makes searches follow the links of positions inside a repeat taken as one
// match (entered, but never searched): a repeat taken whole, then one that
// meets it before an older, longer one.
TEST(CompressSegment, LevelNineStreamDoesNotDependOnEarlierSegments) {
  std::mt19937 rng(21);
  auto random = [&](std::size_t n) {
    Bytes b(n);
    for (unsigned char& c : b) c = static_cast<unsigned char>(rng());
    return b;
  };
  Bytes in;
  auto put = [&in](const Bytes& b) { in.insert(in.end(), b.begin(), b.end()); };
  while (in.size() < 30000) {
    const Bytes head = random(40), tail = random(10);
    put(head), put(tail), put(random(30));   // the older, longer repeat
    put(head), put(random(40));              // taken whole
    put(head), put(tail), put(random(30));   // meets the one above first
  }
  Bytes fresh;
  std::thread([&] { fresh = Compress(in, 9); }).join();
  for (const std::string kind : {"text", "binary", "random", "mixed"}) Compress(Data(kind, 32768), 9);
  EXPECT_EQ(Compress(in, 9), fresh);
  ExpectDecodesUnderAllThree(fresh, in);
}

// Three-byte repeats with no longer ones, three literals apart: level 9
// codes each as a short match (two bytes, the literals in its low bits).
TEST(CompressSegment, LevelNineCodesThreeByteRepeats) {
  std::mt19937 rng(12);
  Bytes in(6000);
  for (unsigned char& b : in) b = static_cast<unsigned char>(rng());
  for (std::size_t i = 60; i + 4 <= in.size(); i += 6) {
    std::copy(in.begin() + long(i) - 36, in.begin() + long(i) - 33, in.begin() + long(i));
    in[i + 3] = static_cast<unsigned char>(in[i - 33] + 1);  // the repeat stops at three bytes
  }
  const Bytes s = Compress(in, 9);
  EXPECT_EQ(TableDecode(s), std::optional<Bytes>(in));
  EXPECT_LT(s.size(), in.size() * 9 / 10);
}

}  // namespace

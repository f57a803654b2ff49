// Decoding stored forms built by hand: every instruction form, the first-byte
// rules, the failures and their trace lines, and damaged streams.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "testutil.h"
#include "vzrpack.h"

namespace {

using testutil::Bytes;
using testutil::PutLE32;

const char kCrashLine[] = "ERROR! CRASH  Decompression()!";

// A stored form with one record per stream, streams back to back.
Bytes StoredForm(const std::vector<Bytes>& streams) {
  Bytes out;
  PutLE32(out, static_cast<uint32_t>(streams.size()));
  uint32_t offset = 0;
  for (const Bytes& s : streams) {
    PutLE32(out, static_cast<uint32_t>(s.size()));
    PutLE32(out, 0);  // rawLength: the decoder does not read it
    PutLE32(out, offset);
    offset += static_cast<uint32_t>(s.size());
  }
  for (const Bytes& s : streams) out.insert(out.end(), s.begin(), s.end());
  return out;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Repeat(unsigned char byte, std::size_t n) { return Bytes(n, byte); }

Bytes Sequence(std::size_t n, unsigned seed = 1) {
  Bytes out(n);
  std::mt19937 rng(seed);
  for (auto& b : out) b = static_cast<unsigned char>(rng());
  return out;
}

// Result of one decode, with the trace lines it wrote.
struct Decoded {
  int32_t result = 0;
  Bytes out;
  std::vector<std::string> trace;
};

// Decodes into an output of `capacity` bytes followed by a guard region that
// must stay untouched.
Decoded Decode(const Bytes& stored, uint32_t capacity = 1 << 20) {
  constexpr std::size_t kGuard = 64;
  constexpr unsigned char kGuardByte = 0xA5;
  Bytes buffer(capacity + kGuard, kGuardByte);
  Decoded d;
  {
    testutil::TraceCapture capture;
    d.result = Decompression(stored.data(), static_cast<uint32_t>(stored.size()), buffer.data(), capacity);
    d.trace = capture.Lines();
  }
  EXPECT_TRUE(std::all_of(buffer.begin() + capacity, buffer.end(), [](unsigned char b) { return b == kGuardByte; }))
      << "the decoder wrote past outCapacity " << capacity;
  if (d.result > 0) d.out.assign(buffer.begin(), buffer.begin() + std::min<int32_t>(d.result, capacity));
  return d;
}

void ExpectDecodes(const Bytes& stored, const Bytes& expected, const std::string& what) {
  const Decoded d = Decode(stored);
  EXPECT_EQ(d.result, static_cast<int32_t>(expected.size())) << what;
  EXPECT_TRUE(d.out == expected) << what << ": content differs";
  EXPECT_TRUE(d.trace.empty()) << what << ": unexpected trace " << (d.trace.empty() ? "" : d.trace[0]);
}

void ExpectCrash(const Bytes& stored, const std::string& what, uint32_t capacity = 1 << 20) {
  const Decoded d = Decode(stored, capacity);
  EXPECT_EQ(d.result, 0) << what;
  ASSERT_EQ(d.trace.size(), 1u) << what;
  EXPECT_EQ(d.trace[0], kCrashLine) << what;
}

const Bytes kEnd = {0x11, 0x00, 0x00};

TEST(DecoderWorkedExamples, EmptyFileFormDecodesToNothing) {
  const Bytes empty = {1, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x11, 0x11, 0, 0};
  ExpectDecodes(empty, {}, "20-byte empty form");
}

TEST(DecoderWorkedExamples, ZeroSegmentsDecodeToNothing) { ExpectDecodes({0, 0, 0, 0}, {}, "segmentCount 0"); }

TEST(DecoderWorkedExamples, SingleLiteral) {
  ExpectDecodes(StoredForm({{0x12, 'X', 0x11, 0, 0}}), {'X'}, "12 X 11 00 00");
}

TEST(DecoderWorkedExamples, OverlappingShortMatch) {
  ExpectDecodes(StoredForm({{0x13, 0x61, 0x62, 0x64, 0x00, 0x11, 0x00, 0x00}}),
                {0x61, 0x62, 0x61, 0x62, 0x61, 0x62}, "two literals, short match length 4 distance 2");
}

TEST(DecoderWorkedExamples, ExtendedFirstRunOf274) {
  const Bytes content = Sequence(274);
  ExpectDecodes(StoredForm({Concat({{0x00, 0x00, 0x01}, content, kEnd})}), content, "00 00 01 + 274 bytes");
}

TEST(DecoderWorkedExamples, TwoSegmentsRunOn) {
  const Bytes content = Sequence(32769);
  ExpectDecodes(testutil::LiteralSegmentedForm(content), content, "32768 + 1 bytes");
}

TEST(DecoderFirstByte, SixteenAndSeventeenMeanNoLiterals) {
  ExpectDecodes(StoredForm({{0x10, 0x11, 0, 0}}), {}, "first byte 16");
  ExpectDecodes(StoredForm({{0x11, 0x11, 0, 0}}), {}, "first byte 17");
}

TEST(DecoderFirstByte, OneToFifteenStartARunOfBPlusThree) {
  for (unsigned b = 1; b <= 15; ++b) {
    const Bytes content = Sequence(b + 3, b);
    ExpectDecodes(StoredForm({Concat({{static_cast<unsigned char>(b)}, content, kEnd})}), content,
                  "first byte " + std::to_string(b));
  }
}

TEST(DecoderFirstByte, FiveBeforeTheEndMarkerIsARunThatRunsOut) {
  // 05 announces eight literals; only the three marker bytes follow.
  ExpectCrash(StoredForm({{0x05, 0x11, 0x00, 0x00}}), "05 11 00 00");
  // With eight bytes present they are the content, and the marker ends it.
  ExpectDecodes(StoredForm({{0x05, 1, 2, 3, 4, 5, 6, 7, 8, 0x11, 0x00, 0x00}}), {1, 2, 3, 4, 5, 6, 7, 8},
                "05 + 8 bytes");
}

TEST(DecoderFirstByte, RunLengthCodesAtTheirBoundaries) {
  struct Case {
    std::size_t n;
    Bytes code;
  };
  const Case cases[] = {{1, {0x12}},   {238, {0xFF}},         {239, {0x00, 0xDD}},
                        {273, {0x00, 0xFF}}, {529, {0x00, 0x00, 0x00, 0x01}}};
  for (const Case& c : cases) {
    const Bytes content = Sequence(c.n);
    ExpectDecodes(StoredForm({Concat({c.code, content, kEnd})}), content, "run of " + std::to_string(c.n));
  }
}

TEST(DecoderInstructions, MidMatchWithAndWithoutExtension) {
  // 8 literals, mid match length (b & 31) + 2 = 5 at distance (d0 >> 2) + d1 * 64 + 1 = 8.
  const Bytes lit = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
  ExpectDecodes(StoredForm({Concat({{0x19}, lit, {0x23, 0x1C, 0x00}, kEnd})}),
                Concat({lit, {'a', 'b', 'c', 'd', 'e'}}), "mid match length 5");
  // b & 31 == 0: length 33 + 255 * 1 + 2 = 290 at distance 1.
  ExpectDecodes(StoredForm({Concat({{0x12, 'z'}, {0x20, 0x00, 0x02, 0x00, 0x00}, kEnd})}), Repeat('z', 291),
                "extended mid match");
}

TEST(DecoderInstructions, MidMatchTrailingLiterals) {
  // d0 & 3 = 2: two literals follow the match directly.
  ExpectDecodes(StoredForm({Concat({{0x15, 'a', 'b', 'c', 'd'}, {0x21, 0x0E, 0x00, 'X', 'Y'}, kEnd})}),
                {'a', 'b', 'c', 'd', 'a', 'b', 'c', 'X', 'Y'}, "mid match with two trailing literals");
}

TEST(DecoderInstructions, FarMatchReachesBackMoreThan16K) {
  const Bytes lit = Sequence(20000);
  // distance 16384 + (d0 >> 2) + d1 * 64 = 20000: 3616 = 56 * 64 + 32, so d0 = 32 << 2, d1 = 56.
  // b = 0x12: length (b & 7) + 2 = 4.
  Bytes run;
  uint32_t m = 20000 - 18;
  run.push_back(0);
  while (m > 255) {
    run.push_back(0);
    m -= 255;
  }
  run.push_back(static_cast<unsigned char>(m));
  const Bytes expected = Concat({lit, Bytes(lit.begin(), lit.begin() + 4)});
  ExpectDecodes(StoredForm({Concat({run, lit, {0x12, 32 << 2, 56}, kEnd})}), expected, "far match");
  // b = 0x10: extended length 9 + 255 * 0 + 3 = 12.
  const Bytes expected12 = Concat({lit, Bytes(lit.begin(), lit.begin() + 12)});
  ExpectDecodes(StoredForm({Concat({run, lit, {0x10, 0x03, 32 << 2, 56}, kEnd})}), expected12,
                "extended far match");
}

TEST(DecoderInstructions, SeventeenWithNonzeroDistanceIsAFarMatch) {
  const Bytes lit = Sequence(16384, 7);
  Bytes run = {0x00};
  uint32_t m = 16384 - 18;
  while (m > 255) {
    run.push_back(0);
    m -= 255;
  }
  run.push_back(static_cast<unsigned char>(m));
  // 11 01 00: length 3 at distance 16384, then one trailing literal.
  const Bytes expected = Concat({lit, Bytes(lit.begin(), lit.begin() + 3), {'Q'}});
  ExpectDecodes(StoredForm({Concat({run, lit, {0x11, 0x01, 0x00, 'Q'}, kEnd})}), expected,
                "11 01 00 is a far match, not the end marker");
}

TEST(DecoderInstructions, NearMatchFormDependsOnTheRunBefore) {
  // After one literal (t = 1): near match of length 2, distance (b >> 2) + n * 4 + 1.
  ExpectDecodes(StoredForm({Concat({{0x12, 'a'}, {0x00, 0x00, 0x11, 0x00, 0x00}})}), {'a', 'a', 'a'},
                "length-2 near match after a short run");
  // After a run of 4 or more: length 3 at distance (b >> 2) + n * 4 + 2049.
  const Bytes lit = Sequence(2049, 3);
  Bytes run = {0x00};
  uint32_t m = 2049 - 18;
  while (m > 255) {
    run.push_back(0);
    m -= 255;
  }
  run.push_back(static_cast<unsigned char>(m));
  ExpectDecodes(StoredForm({Concat({run, lit, {0x00, 0x00}, kEnd})}),
                Concat({lit, Bytes(lit.begin(), lit.begin() + 3)}), "length-3 near match after a long run");
}

TEST(DecoderInstructions, RunsBetweenInstructions) {
  // Short match with trailing 0, then c = 2 (a run of 5), then c = 0 (an extended run of 18 + 3).
  const Bytes five = {'1', '2', '3', '4', '5'};
  const Bytes many = Sequence(21, 9);
  const Bytes stream = Concat({{0x13, 'a', 'b'}, {0x44, 0x00}, {0x02}, five, {0x44, 0x00}, {0x00, 0x03}, many, kEnd});
  const Bytes expected = Concat({{'a', 'b', 'a', 'b', 'a'}, five, {'4', '5', '4'}, many});
  ExpectDecodes(StoredForm({stream}), expected, "literal runs between matches");
}

TEST(DecoderInstructions, MatchReachesIntoAnEarlierSegment) {
  const Bytes first = {0x16, 'h', 'e', 'l', 'l', 'o', 0x11, 0, 0};
  // Second segment: no literals, then a short match of length 5 at distance 5 (b = 0x90, n = 0).
  const Bytes second = {0x11, 0x90, 0x00, 0x11, 0x00, 0x00};
  ExpectDecodes(StoredForm({first, second}), testutil::ToBytes("hellohello"), "cross-segment match");
}

TEST(DecoderInstructions, OverlappingMatchesOfEverySmallDistance) {
  // With and without 64 literals after the match: with them, the match is
  // decoded while far from both ends, as in the middle of a segment.
  Bytes tail = {0, 64 - 18};
  for (unsigned i = 0; i < 64; ++i) tail.push_back(static_cast<unsigned char>(i * 7));
  for (unsigned dist = 1; dist <= 40; ++dist) {
    for (const unsigned len : {3u, 9u, 31u, 32u, 40u, 64u, 100u, 300u}) {
      for (const bool withTail : {false, true}) {
        const Bytes lit = Sequence(dist, dist + 100);
        const Bytes run = {static_cast<unsigned char>(dist + 17)};
        // Mid match, extended when needed: length len, distance dist.
        Bytes match;
        if (len - 2 <= 31) {
          match.push_back(static_cast<unsigned char>(32 | (len - 2)));
        } else {
          match.push_back(32);
          uint32_t rest = len - 33;
          while (rest > 255) {
            match.push_back(0);
            rest -= 255;
          }
          match.push_back(static_cast<unsigned char>(rest));
        }
        match.push_back(static_cast<unsigned char>(((dist - 1) & 63) << 2));
        match.push_back(static_cast<unsigned char>((dist - 1) >> 6));
        Bytes expected = lit;
        for (unsigned i = 0; i < len; ++i) expected.push_back(expected[expected.size() - dist]);
        if (withTail) expected.insert(expected.end(), tail.begin() + 2, tail.end());
        ExpectDecodes(StoredForm({Concat({run, lit, match, withTail ? tail : Bytes{}, kEnd})}), expected,
                      "distance " + std::to_string(dist) + " length " + std::to_string(len) +
                          (withTail ? " with literals after" : ""));
      }
    }
  }
}

TEST(DecoderInstructions, OverlapNearTheEndOfTheOutputIsExact) {
  // An exact-size output forces the copies that may not run past the end.
  const Bytes stream = {0x13, 'a', 'b', 0x20, 0x07, 0x04, 0x00, 0x11, 0x00, 0x00};  // length 33 + 7, distance 2
  Bytes expected = {'a', 'b'};
  for (int i = 0; i < 40; ++i) expected.push_back(expected[expected.size() - 2]);
  const Decoded d = Decode(StoredForm({stream}), static_cast<uint32_t>(expected.size()));
  EXPECT_EQ(d.result, static_cast<int32_t>(expected.size()));
  EXPECT_TRUE(d.out == expected);
}

TEST(DecoderFailures, UnusedInstructionFailsSilently) {
  for (unsigned b = 24; b <= 31; ++b) {
    const Decoded d = Decode(StoredForm({{0x12, 'a', static_cast<unsigned char>(b), 0, 0, 0x11, 0, 0}}));
    EXPECT_EQ(d.result, 0) << "instruction " << b;
    EXPECT_TRUE(d.trace.empty()) << "instruction " << b << " must not write a trace line";
  }
}

TEST(DecoderFailures, StreamWithoutEndMarker) {
  ExpectCrash(StoredForm({{0x14, 'a', 'b', 'c'}}), "literals then nothing");
  ExpectCrash(StoredForm({{0x14, 'a', 'b', 'c', 0x11, 0x00}}), "end marker cut short");
}

TEST(DecoderFailures, TableOrOffsetPastTheStoredBytes) {
  ExpectCrash({}, "no bytes at all");
  ExpectCrash({1, 0, 0}, "count cut short");
  ExpectCrash({2, 0, 0, 0, 5, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}, "table longer than the stored bytes");
  Bytes stored = StoredForm({{0x12, 'a', 0x11, 0, 0}});
  stored[12] = 5;  // streamOffset 5 == stream length: points just past the end
  ExpectCrash(stored, "streamOffset at the end");
}

TEST(DecoderFailures, OffsetsThatWouldWrapIn32Bits) {
  // 4 + 12 * count wraps to a small number in 32 bits.
  ExpectCrash({0xAB, 0xAA, 0xAA, 0x15, 0x12, 'a', 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "huge segmentCount");
  // stream area start + streamOffset wraps back to the start of the stream.
  Bytes stored = StoredForm({{0x12, 'a', 0x11, 0, 0}});
  const uint32_t wrap = 0u - 16u;
  for (int i = 0; i < 4; ++i) stored[12 + i] = static_cast<unsigned char>(wrap >> (8 * i));
  ExpectCrash(stored, "streamOffset that wraps");
}

TEST(DecoderFailures, DistanceBeyondTheOutput) {
  ExpectCrash(StoredForm({{0x13, 'a', 'b', 0x68, 0x00, 0x11, 0, 0}}), "short match distance 3 after 2 bytes");
  ExpectCrash(StoredForm({{0x11, 0x00, 0x00, 0x11, 0, 0}}), "near match with no output");
}

TEST(DecoderFailures, OutputCapacityIsNeverExceeded) {
  const Bytes content = Sequence(100);
  const Bytes stored = StoredForm({Concat({{100 + 17}, content, kEnd})});
  ExpectCrash(stored, "literals one byte too many", 99);
  ExpectDecodes(stored, content, "exact fit");
  const Bytes overlap = StoredForm({{0x12, 'a', 0x20, 0x10, 0x00, 0x00, 0x11, 0, 0}});  // 1 + 49 bytes
  ExpectCrash(overlap, "match one byte too many", 49);
  EXPECT_EQ(Decode(overlap, 50).result, 50);
}

TEST(DecoderFailures, HugeExtendedLengthsDoNotWrap) {
  // 2^24 zero bytes of extension would overflow 32-bit sums of 255 each.
  Bytes stream = {0x00};
  stream.insert(stream.end(), 1u << 24, 0x00);
  stream.push_back(0x01);
  stream.insert(stream.end(), {'a', 'b', 'c'});
  ExpectCrash(StoredForm({stream}), "run of over 4 GB");
}

TEST(DecoderDamage, TruncationAtEveryPositionNeverSucceedsFully) {
  // Literals, a short match, a run, a mid match and an extended overlapping one.
  const Bytes valid = Concat({{0x16, 'h', 'e', 'l', 'l', 'o'},
                              {0x90, 0x00},
                              {0x01, 'a', 'b', 'c', 'd'},
                              {0x2A, 0x10, 0x00},  // mid match len 12 dist 5
                              {0x20, 0x03, 0x01, 0x00, 'z'},
                              kEnd});
  const Bytes full = StoredForm({valid, valid});
  const Decoded reference = Decode(full);
  ASSERT_EQ(reference.result, 126);
  for (std::size_t cut = 0; cut < full.size(); ++cut) {
    const Bytes truncated(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
    const Decoded d = Decode(truncated, static_cast<uint32_t>(reference.result));
    EXPECT_NE(d.result, reference.result) << "truncated at " << cut;
  }
}

TEST(DecoderDamage, RandomFlipsNeverCrashOrOverrun) {
  Bytes content;
  for (int i = 0; i < 2000; ++i) content.push_back(static_cast<unsigned char>("define actor "[i % 13]));
  const Bytes base = testutil::LiteralSegmentedForm(content);
  // A stream with matches of every kind, repeated.
  Bytes matches = {0x16, 'h', 'e', 'l', 'l', 'o', 0x90, 0x00, 0x01, 'a', 'b', 'c', 'd', 0x2A, 0x10, 0x00,
                   0x20, 0x03, 0x01, 0x00, 'z', 0x11, 0x00, 0x00};
  const Bytes withMatches = StoredForm({matches, matches, matches});
  std::mt19937 rng(12345);
  for (const Bytes* source : {&base, &withMatches}) {
    for (int round = 0; round < 3000; ++round) {
      Bytes damaged = *source;
      const int flips = 1 + static_cast<int>(rng() % 4);
      for (int f = 0; f < flips; ++f) damaged[rng() % damaged.size()] ^= static_cast<unsigned char>(1 + rng() % 255);
      const uint32_t capacity = 64 + rng() % 4096;
      const Decoded d = Decode(damaged, capacity);
      EXPECT_LE(d.result, static_cast<int32_t>(capacity));
      EXPECT_GE(d.result, 0);
      if (::testing::Test::HasFailure()) return;
    }
  }
}

}  // namespace

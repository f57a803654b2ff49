// Streams from a real LZO1X compressor (fast and best levels), wrapped in the
// segmented form, must decode to exactly the bytes they were made from; and
// the literal-only streams our encoder writes must be ones that compressor's
// own decoder accepts.
#include <lzo/lzo1x.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "testutil.h"
#include "vzrpack.h"

namespace {

using testutil::Bytes;
using testutil::PutLE32;

constexpr std::size_t kSegment = 32768;

enum class Level { kFast, kBest };

const char* LevelName(Level level) { return level == Level::kFast ? "lzo1x_1" : "lzo1x_999"; }

// One segment compressed by the reference compressor.
Bytes Compress(const unsigned char* data, std::size_t n, Level level) {
  static const bool initialised = lzo_init() == LZO_E_OK;
  EXPECT_TRUE(initialised);
  std::vector<unsigned char> work(std::max<std::size_t>(LZO1X_1_MEM_COMPRESS, LZO1X_999_MEM_COMPRESS));
  Bytes out(n + n / 16 + 64 + 3);
  lzo_uint outLength = out.size();
  const int rc = level == Level::kFast ? lzo1x_1_compress(data, n, out.data(), &outLength, work.data())
                                       : lzo1x_999_compress(data, n, out.data(), &outLength, work.data());
  EXPECT_EQ(rc, LZO_E_OK);
  out.resize(outLength);
  return out;
}

// The stored form of content with each segment compressed on its own. An
// empty file is the 20-byte form: the compressor's empty stream is not one
// this format stores.
Bytes CompressedForm(const Bytes& content, Level level) {
  if (content.empty()) return testutil::LiteralSegmentedForm(content);
  std::vector<Bytes> streams;
  for (std::size_t at = 0; at < content.size(); at += kSegment)
    streams.push_back(Compress(content.data() + at, std::min(kSegment, content.size() - at), level));
  return testutil::SegmentedForm(streams, content.size());
}

// --- Corpora -------------------------------------------------------------

Bytes ScriptText(std::size_t n, unsigned seed) {
  static const char* const kWords[] = {"intend", "being", "iftally", "phase", "ifnearer", "hatch", "growto",
                                       "motion", "roam", "ai", "else", "{", "}", "done", "keepval", "flags",
                                       "// cart rolls to the quay", "1024", "0", "32", "LAMPSTEADY"};
  std::mt19937 rng(seed);
  Bytes out;
  while (out.size() < n) {
    const std::string word = kWords[rng() % std::size(kWords)];
    out.insert(out.end(), word.begin(), word.end());
    out.push_back(rng() % 6 == 0 ? '\n' : ' ');
    if (rng() % 10 == 0) out.insert(out.end(), 1 + rng() % 4, '\t');
  }
  out.resize(n);
  return out;
}

Bytes RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (auto& b : out) b = static_cast<unsigned char>(rng());
  return out;
}

// Records of little-endian fields with slowly changing values, as in level data.
Bytes StructuredBinary(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes out;
  uint32_t x = 0, y = 0;
  while (out.size() < n) {
    x += rng() % 64;
    y += rng() % 3;
    PutLE32(out, x);
    PutLE32(out, y);
    PutLE32(out, rng() % 8);
    out.push_back(static_cast<unsigned char>(rng() % 4));
  }
  out.resize(n);
  return out;
}

Bytes Repetitive(std::size_t n, unsigned seed) {
  Bytes out;
  const Bytes unit = RandomBytes(1 + seed % 7, seed);
  while (out.size() < n) {
    out.insert(out.end(), unit.begin(), unit.end());
    if (out.size() % 1000 < 7) out.insert(out.end(), 300, 0);
  }
  out.resize(n);
  return out;
}

// Stretches of the other kinds, one after the other.
Bytes Mixed(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes out;
  while (out.size() < n) {
    const std::size_t piece = 1 + rng() % 5000;
    Bytes part;
    switch (rng() % 4) {
      case 0: part = ScriptText(piece, rng()); break;
      case 1: part = RandomBytes(piece, rng()); break;
      case 2: part = StructuredBinary(piece, rng()); break;
      default: part = Repetitive(piece, rng()); break;
    }
    out.insert(out.end(), part.begin(), part.end());
  }
  out.resize(n);
  return out;
}

struct Corpus {
  const char* name;
  Bytes (*make)(std::size_t, unsigned);
};
const Corpus kCorpora[] = {{"text", ScriptText},
                           {"binary", StructuredBinary},
                           {"random", RandomBytes},
                           {"repetitive", Repetitive},
                           {"mixed", Mixed}};

// Decodes into a buffer of exactly the content's size (the tightest the
// caller may give) with a guard region behind it.
void ExpectRoundTrip(const Bytes& content, Level level, const std::string& what) {
  const Bytes stored = CompressedForm(content, level);
  constexpr std::size_t kGuard = 32;
  Bytes out(content.size() + kGuard, 0xCC);
  testutil::TraceCapture trace;
  const int32_t result = Decompression(stored.data(), static_cast<uint32_t>(stored.size()), out.data(),
                                       static_cast<uint32_t>(content.size()));
  const std::string lines = trace.Text();
  ASSERT_EQ(result, static_cast<int32_t>(content.size())) << what << " with " << LevelName(level) << lines;
  EXPECT_TRUE(std::equal(content.begin(), content.end(), out.begin())) << what << " with " << LevelName(level);
  EXPECT_TRUE(std::all_of(out.end() - kGuard, out.end(), [](unsigned char b) { return b == 0xCC; }))
      << what << ": wrote past the output";
  EXPECT_TRUE(lines.empty()) << lines;
}

TEST(CompressorRoundTrip, EveryCorpusAtEveryBoundaryLength) {
  const std::size_t lengths[] = {0, 1, 2, 3, 4, 17, 18, 238, 239, 273, 274, 529, 32767, 32768, 32769, 65537};
  for (const Corpus& corpus : kCorpora) {
    for (std::size_t n : lengths) {
      const Bytes content = corpus.make(n, static_cast<unsigned>(n) + 1);
      for (Level level : {Level::kFast, Level::kBest})
        ExpectRoundTrip(content, level, std::string(corpus.name) + " of " + std::to_string(n));
    }
  }
}

TEST(CompressorRoundTrip, SeveralMegabytes) {
  for (const Corpus& corpus : kCorpora) {
    const Bytes content = corpus.make(3 * 1024 * 1024 + 777, 99);
    ExpectRoundTrip(content, Level::kFast, std::string(corpus.name) + " of 3 MB");
  }
  // The best level is slow; two kinds of several megabytes are enough for it.
  ExpectRoundTrip(ScriptText(2 * 1024 * 1024 + 5, 7), Level::kBest, "text of 2 MB");
  ExpectRoundTrip(Mixed(2 * 1024 * 1024 + 5, 8), Level::kBest, "mixed of 2 MB");
}

TEST(CompressorRoundTrip, ShortFirstRunsInFirstAndLaterSegments) {
  Bytes tenLetters;
  for (int i = 0; i < 10; ++i) tenLetters.insert(tenLetters.end(), {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j'});
  const Bytes inputs[] = {Bytes(40, 0), tenLetters, Bytes(100, 'x')};
  for (const Bytes& input : inputs) {
    // The compressor starts these with a run of 4 to 18 literals coded as a
    // first byte from 1 to 15.
    const Bytes stream = Compress(input.data(), input.size(), Level::kFast);
    EXPECT_GE(stream[0], 1);
    EXPECT_LE(stream[0], 15);
    for (Level level : {Level::kFast, Level::kBest}) {
      ExpectRoundTrip(input, level, "first segment");
      // The same input as the start of a second segment, after a full one
      // whose last bytes differ from it.
      Bytes twoSegments = RandomBytes(kSegment, 3);
      twoSegments.insert(twoSegments.end(), input.begin(), input.end());
      twoSegments.insert(twoSegments.end(), input.begin(), input.end());
      ExpectRoundTrip(twoSegments, level, "second segment");
    }
  }
}

TEST(CompressorRoundTrip, OurLiteralStreamsAreValidForTheReferenceDecoder) {
  for (std::size_t n : {1u, 5u, 238u, 239u, 273u, 274u, 529u, 7232u, 32768u}) {
    const Bytes content = RandomBytes(n, static_cast<unsigned>(n));
    const Bytes stored = testutil::LiteralSegmentedForm(content);
    const Bytes stream(stored.begin() + 16, stored.end());  // one segment
    Bytes out(n);
    lzo_uint outLength = out.size();
    EXPECT_EQ(lzo1x_decompress_safe(stream.data(), stream.size(), out.data(), &outLength, nullptr), LZO_E_OK)
        << "run of " << n;
    EXPECT_EQ(outLength, n);
    EXPECT_EQ(out, content);
  }
}

TEST(CompressorDamage, TruncatedCompressedStreamsFailCleanly) {
  const Bytes content = Mixed(70000, 5);
  for (Level level : {Level::kFast, Level::kBest}) {
    const Bytes stored = CompressedForm(content, level);
    // Every cut near the table and the segment seams, and a sample elsewhere.
    for (std::size_t cut = 0; cut < stored.size(); cut += (cut < 200 || stored.size() - cut < 200) ? 1 : 97) {
      Bytes out(content.size() + 16, 0xCC);
      testutil::TraceCapture trace;
      const int32_t result = Decompression(stored.data(), static_cast<uint32_t>(cut), out.data(),
                                           static_cast<uint32_t>(content.size()));
      trace.Text();
      EXPECT_NE(result, static_cast<int32_t>(content.size())) << "cut at " << cut;
      EXPECT_TRUE(std::all_of(out.end() - 16, out.end(), [](unsigned char b) { return b == 0xCC; }));
      if (HasFailure()) return;
    }
  }
}

TEST(CompressorDamage, FlippedBytesNeverWritePastTheOutput) {
  const Bytes content = ScriptText(40000, 3);
  const Bytes stored = CompressedForm(content, Level::kBest);
  std::mt19937 rng(77);
  for (int round = 0; round < 4000; ++round) {
    Bytes damaged = stored;
    const int flips = 1 + static_cast<int>(rng() % 3);
    for (int f = 0; f < flips; ++f) damaged[16 + rng() % (damaged.size() - 16)] ^= static_cast<unsigned char>(1u << (rng() % 8));
    // Capacities smaller than, equal to and above the content.
    const uint32_t capacity = static_cast<uint32_t>(content.size()) - 2000 + rng() % 4000;
    Bytes out(capacity + 64, 0xCC);
    testutil::TraceCapture trace;
    const int32_t result = Decompression(damaged.data(), static_cast<uint32_t>(damaged.size()), out.data(), capacity);
    trace.Text();
    EXPECT_GE(result, 0);
    EXPECT_LE(result, static_cast<int32_t>(capacity));
    EXPECT_TRUE(std::all_of(out.end() - 64, out.end(), [](unsigned char b) { return b == 0xCC; }))
        << "round " << round << " wrote past outCapacity";
    if (HasFailure()) return;
  }
}

}  // namespace

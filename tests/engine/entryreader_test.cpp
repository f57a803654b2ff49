// EntryReader: any range of any entry reads as Extract gives it, damage
// reads as an error, and many threads may read at once.
#include "entryreader.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "testutil.h"
#include "vzrpack.h"

using testutil::ArchiveLayout;
using testutil::Bytes;
using testutil::TempDir;

namespace {

Bytes Script(std::size_t n, unsigned seed) {
  std::mt19937 random(seed);
  const char* words[] = {"spawn", "cart_03", "define", "actor", "12.5", "// note\n", "if", "{\n", "}\n", "\r\n"};
  Bytes out;
  while (out.size() < n) {
    const std::string w = words[random() % 10];
    out.insert(out.end(), w.begin(), w.end());
    out.push_back(' ');
  }
  out.resize(n);
  return out;
}

// The segmented stored form of content, each segment compressed at level.
Bytes CompressedForm(const Bytes& content, int level) {
  if (content.empty()) return testutil::LiteralSegmentedForm(content);
  std::vector<Bytes> streams;
  for (std::size_t at = 0; at < content.size(); at += 32768) {
    const auto n = static_cast<uint32_t>(std::min<std::size_t>(32768, content.size() - at));
    Bytes s(CompressBound(n));
    s.resize(CompressSegment(content.data() + at, n, s.data(), static_cast<uint32_t>(s.size()), level));
    streams.push_back(s);
  }
  return testutil::SegmentedForm(streams, content.size());
}

// An archive of entries of several sizes, raw (level < 0) or compressed.
ArchiveLayout Layout(int level) {
  ArchiveLayout l;
  l.storageMode = level < 0 ? 0 : 1;
  const std::size_t sizes[] = {0, 1, 5000, 32768, 32769, 200000};
  for (std::size_t k = 0; k < std::size(sizes); ++k) {
    const Bytes content = Script(sizes[k], static_cast<unsigned>(k));
    std::string name = "e";
    name += std::to_string(k) + ".con";
    l.entries.push_back({name, level < 0 ? content : CompressedForm(content, level),
                         static_cast<uint32_t>(content.size())});
  }
  return l;
}

Bytes Extracted(const std::string& path, uint32_t i) {
  VzrArchive a;
  testutil::TraceCapture quiet;
  a.LoadIndex(path.c_str());
  const unsigned char* p = a.Extract(i, nullptr);
  return p ? Bytes(p, p + a.curLength) : Bytes{};
}

void ExpectRangesMatchExtract(int level) {
  TempDir dir;
  const std::string path = dir / "a.vzr";
  Layout(level).WriteTo(path);
  auto reader = EntryReader::Open(path, nullptr, 3 * 32768);  // a cache smaller than one entry
  ASSERT_TRUE(reader);
  std::mt19937 random(7);
  for (uint32_t i = 0; i < reader->Count(); ++i) {
    const Bytes whole = Extracted(path, i);
    for (int round = 0; round < 40; ++round) {
      const uint64_t offset = whole.empty() ? 0 : random() % (whole.size() + 10);
      const std::size_t n = random() % 70000;
      Bytes got(n);
      const int64_t r = reader->Read(i, offset, got.data(), n);
      const std::size_t expect = offset >= whole.size() ? 0 : std::min<std::size_t>(n, whole.size() - offset);
      ASSERT_EQ(r, static_cast<int64_t>(expect)) << i << " " << offset;
      ASSERT_TRUE(std::equal(got.begin(), got.begin() + r, whole.begin() + static_cast<std::ptrdiff_t>(offset)));
    }
    Bytes streamed;
    ASSERT_TRUE(reader->Stream(i, [&](const unsigned char* d, std::size_t n) {
      streamed.insert(streamed.end(), d, d + n);
      return true;
    }));
    EXPECT_EQ(streamed, whole) << i;
  }
}

TEST(EntryReader, RangesOfRawEntriesAreTheExtractedBytes) { ExpectRangesMatchExtract(-1); }
TEST(EntryReader, RangesOfLevel9EntriesAreTheExtractedBytes) { ExpectRangesMatchExtract(9); }

TEST(EntryReader, RangeAcrossSegmentsDecodesOnlyThoseAndCaches) {
  TempDir dir;
  Layout(9).WriteTo(dir / "a.vzr");
  auto reader = EntryReader::Open(dir / "a.vzr");
  ASSERT_TRUE(reader);
  char two[2];
  ASSERT_EQ(reader->Read(5, 32767, two, 2), 2);
  EXPECT_EQ(reader->CacheStats().segmentsDecoded, 2u);
  ASSERT_EQ(reader->Read(5, 32768, two, 1), 1);
  EXPECT_EQ(reader->CacheStats().segmentsDecoded, 2u);
  EXPECT_EQ(reader->CacheStats().cacheHits, 1u);
}

TEST(EntryReader, MatchReachingIntoTheSegmentBefore) {
  // Segment 2 copies 4 bytes from 10 bytes back, inside segment 1: a stream
  // other tools may write. Extract decodes it; so must the reader.
  const Bytes first = Script(32768, 3);
  const Bytes alone = testutil::LiteralSegmentedForm(first);
  const Bytes s1(alone.begin() + 16, alone.end());  // its one stream
  const Bytes s2 = {17, 100, 1, 0x11, 0, 0};  // no literals, short match length 4 distance 10, end
  Bytes form;
  for (uint32_t v : {2u, uint32_t(s1.size()), 32768u, 0u, uint32_t(s2.size()), 4u, uint32_t(s1.size())})
    testutil::PutLE32(form, v);
  form.insert(form.end(), s1.begin(), s1.end());
  form.insert(form.end(), s2.begin(), s2.end());
  ArchiveLayout l;
  l.storageMode = 1;
  l.entries.push_back({"x.con", form, 32772});
  TempDir dir;
  l.WriteTo(dir / "a.vzr");
  const Bytes whole = Extracted(dir / "a.vzr", 0);
  ASSERT_EQ(whole.size(), 32772u);
  auto reader = EntryReader::Open(dir / "a.vzr");
  char tail[4];
  testutil::TraceCapture quiet;
  ASSERT_EQ(reader->Read(0, 32768, tail, 4), 4);
  EXPECT_TRUE(std::equal(tail, tail + 4, whole.begin() + 32768));
  Bytes streamed;
  EXPECT_TRUE(reader->Stream(0, [&](const unsigned char* d, std::size_t n) {
    streamed.insert(streamed.end(), d, d + n);
    return true;
  }));
  EXPECT_EQ(streamed, whole);
}

TEST(EntryReader, DamageReadsAsAnError) {
  const ArchiveLayout good = Layout(9);
  const Bytes sound = good.Build();
  // Entry 5 (200000 bytes) is the last; find its stored form.
  std::size_t form5 = 156;
  for (std::size_t k = 0; k < 5; ++k) form5 += good.entries[k].stored.size();
  auto put = [&](std::size_t where, uint32_t v) {
    Bytes b = sound;
    for (int i = 0; i < 4; ++i) b[where + i] = static_cast<unsigned char>(v >> (8 * i));
    return b;
  };
  Bytes garbled = sound;
  for (std::size_t k = 0; k < 64; ++k) garbled[form5 + 4 + 12 * 7 + k] = 24;  // an unused instruction
  const struct {
    const char* what;
    Bytes archive;
  } cases[] = {
      {"huge segment count", put(form5, 0xfffffff0u)},
      {"raw length over 32768", put(form5 + 8, 40000)},
      {"stream outside", put(form5 + 12, 0x7fffffff)},
      {"lengths short of fileSize", put(form5 + 4 + 12 * 6 + 4, 100)},
      {"garbled stream", garbled},
  };
  TempDir dir;
  for (const auto& c : cases) {
    testutil::WriteFileBytes(dir / "d.vzr", c.archive);
    auto reader = EntryReader::Open(dir / "d.vzr");
    ASSERT_TRUE(reader) << c.what;
    Bytes all(200000);
    VzrError why;
    testutil::TraceCapture quiet;
    EXPECT_EQ(reader->Read(5, 0, all.data(), all.size(), &why), -1) << c.what;
    EXPECT_FALSE(why.message.empty()) << c.what;
    EXPECT_EQ(why.entry, "e5.con") << c.what;
    EXPECT_FALSE(reader->Stream(5, [](const unsigned char*, std::size_t) { return true; })) << c.what;
    char one;
    EXPECT_EQ(reader->Read(2, 0, &one, 1), 1) << c.what;  // the other entries still read
  }
}

TEST(EntryReader, ManyThreadsReadAtOnce) {
  TempDir dir;
  Layout(9).WriteTo(dir / "a.vzr");
  const Bytes whole = Extracted(dir / "a.vzr", 5);
  auto reader = EntryReader::Open(dir / "a.vzr", nullptr, 2 * 32768);
  ASSERT_TRUE(reader);
  std::vector<std::thread> threads;
  std::vector<int> wrong(8, 0);
  for (unsigned t = 0; t < wrong.size(); ++t)
    threads.emplace_back([&, t] {
      std::mt19937 random(t);
      for (int k = 0; k < 300; ++k) {
        const uint64_t offset = random() % whole.size();
        char buffer[5000];
        const int64_t r = reader->Read(5, offset, buffer, sizeof buffer);
        if (r < 0 || !std::equal(buffer, buffer + r, whole.begin() + static_cast<std::ptrdiff_t>(offset))) ++wrong[t];
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong, std::vector<int>(8, 0));
}

TEST(EntryReader, OpenRefusesWhatIsNoArchive) {
  TempDir dir;
  testutil::WriteFileText(dir / "t.vzr", "short");
  VzrError why;
  EXPECT_FALSE(EntryReader::Open(dir / "t.vzr", &why));
  EXPECT_NE(why.message.find("not an archive"), std::string::npos);
  EXPECT_FALSE(EntryReader::Open(dir / "missing.vzr", &why));
  EXPECT_EQ(why.sysError, ENOENT);
}

}  // namespace

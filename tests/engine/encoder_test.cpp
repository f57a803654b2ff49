// Writing files as entries: raw and segmented forms byte for byte, the run
// codes, buffer growth, and the files and writes that go wrong.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fileservices.h"
#include "testutil.h"
#include "vzrpack.h"

namespace {

using testutil::Bytes;
using testutil::GetLE32;

Bytes Pattern(std::size_t n, unsigned seed = 5) {
  Bytes out(n);
  std::mt19937 rng(seed);
  for (auto& b : out) b = static_cast<unsigned char>(rng());
  return out;
}

// An engine object writing a fresh archive file in a temporary folder; the
// source files live in the same folder.
class EntryWriter {
 public:
  explicit EntryWriter(uint32_t storageMode) {
    archive.storageMode = storageMode;
    archive.vzrFileStream = vzrfs::OpenWrite(ArchivePath().c_str());
    EXPECT_NE(archive.vzrFileStream, nullptr);
    archive.srcPrefixLength = static_cast<uint32_t>(dir.str().size() + 1);  // names relative to the folder
  }
  std::string ArchivePath() const { return dir / "out.vzr"; }
  std::string Source(const std::string& name, const Bytes& content) const {
    const std::string path = dir / name;
    testutil::WriteFileBytes(path, content);
    return path;
  }
  // Closes the archive and gives its bytes.
  Bytes Written() {
    archive.CloseArchiveStream();
    return testutil::ReadFileBytes(ArchivePath());
  }

  testutil::TempDir dir;
  VzrArchive archive;
};

// Clears the write fault hook when it goes.
struct FaultHookGuard {
  explicit FaultHookGuard(vzrfs::WriteFaultHook hook) { vzrfs::SetWriteFaultHook(std::move(hook)); }
  ~FaultHookGuard() { vzrfs::SetWriteFaultHook(nullptr); }
};

TEST(EncoderWorkedEntries, FiveByteFileIsTwentyFiveBytes) {
  EntryWriter w(1);
  w.archive.AddFile(w.Source("hello.txt", testutil::ToBytes("hello")).c_str());
  const Bytes expected = {0x01, 0x00, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00,
                          0x00, 0x00, 0x00, 0x16, 0x68, 0x65, 0x6C, 0x6C, 0x6F, 0x11, 0x00, 0x00};
  EXPECT_EQ(w.Written(), expected);
  ASSERT_EQ(w.archive.FileIndex.count, 1u);
  const FileEntry& e = w.archive.FileIndex.files[0];
  EXPECT_STREQ(e.name, "hello.txt");
  EXPECT_EQ(e.nameLength, 9u);
  EXPECT_EQ(e.compSize, 25u);
  EXPECT_EQ(e.fileSize, 5u);
  EXPECT_EQ(e.fileOffset, 0u);
}

TEST(EncoderWorkedEntries, FortyThousandBytesMakeTwoRecords) {
  EntryWriter w(1);
  const Bytes content = Pattern(40000);
  w.archive.AddFile(w.Source("big.bin", content).c_str());
  const Bytes out = w.Written();
  ASSERT_EQ(out.size(), 40194u);
  EXPECT_EQ(GetLE32(out, 0), 2u);
  EXPECT_EQ(GetLE32(out, 4), 32901u);
  EXPECT_EQ(GetLE32(out, 8), 32768u);
  EXPECT_EQ(GetLE32(out, 12), 0u);
  EXPECT_EQ(GetLE32(out, 16), 7265u);
  EXPECT_EQ(GetLE32(out, 20), 7232u);
  EXPECT_EQ(GetLE32(out, 24), 32901u);
  EXPECT_EQ(w.archive.FileIndex.files[0].compSize, 40194u);
  // Second stream: 00, 28 zeros, 4A, the last 7232 bytes, the end marker.
  const std::size_t second = 28 + 32901;
  EXPECT_EQ(out[second], 0x00);
  for (std::size_t i = 1; i <= 28; ++i) EXPECT_EQ(out[second + i], 0x00) << "continuation byte " << i;
  EXPECT_EQ(out[second + 29], 0x4A);
  EXPECT_TRUE(std::equal(content.begin() + 32768, content.end(), out.begin() + second + 30));
  EXPECT_EQ(Bytes(out.end() - 3, out.end()), (Bytes{0x11, 0x00, 0x00}));
  // The whole stored form matches the independent writer and decodes back.
  EXPECT_EQ(out, testutil::LiteralSegmentedForm(content));
  Bytes decoded(content.size());
  EXPECT_EQ(Decompression(out.data(), static_cast<uint32_t>(out.size()), decoded.data(),
                          static_cast<uint32_t>(decoded.size())),
            40000);
  EXPECT_EQ(decoded, content);
}

TEST(EncoderRunCodes, EveryRowOfTheTable) {
  struct Row {
    uint32_t n;
    Bytes code;
    uint32_t streamBytes;
  };
  Bytes code7232 = {0x00};
  code7232.insert(code7232.end(), 28, 0x00);
  code7232.push_back(0x4A);
  Bytes code32768 = {0x00};
  code32768.insert(code32768.end(), 128, 0x00);
  code32768.push_back(0x6E);
  const Row rows[] = {{1, {0x12}, 5},
                      {5, {0x16}, 9},
                      {238, {0xFF}, 242},
                      {239, {0x00, 0xDD}, 244},
                      {273, {0x00, 0xFF}, 278},
                      {274, {0x00, 0x00, 0x01}, 280},
                      {529, {0x00, 0x00, 0x00, 0x01}, 536},
                      {7232, code7232, 7265},
                      {32768, code32768, 32901}};
  VzrArchive archive;
  const Bytes content = Pattern(32768, 11);
  std::memcpy(archive.fileBuffer, content.data(), content.size());
  for (const Row& row : rows) {
    int32_t pos = 7;
    archive.WriteRunLength(pos, row.n);
    EXPECT_EQ(pos, static_cast<int32_t>(7 + row.code.size())) << "n = " << row.n;
    EXPECT_TRUE(std::equal(row.code.begin(), row.code.end(), archive.storeBuffer + 7)) << "n = " << row.n;
    EXPECT_EQ(CodePosition, 241);

    archive.segments.assign(1, SegmentRecord{});
    archive.segments[0].rawLength = row.n;
    archive.outPos = 3;
    EXPECT_EQ(archive.EncodeSegment(0), row.streamBytes) << "n = " << row.n;
    EXPECT_EQ(archive.outPos, static_cast<int32_t>(3 + row.streamBytes));
    EXPECT_EQ(archive.segmentStart, 0u);
    const unsigned char* literals = archive.storeBuffer + 3 + row.code.size();
    EXPECT_TRUE(std::equal(content.begin(), content.begin() + row.n, literals)) << "n = " << row.n;
    EXPECT_EQ(Bytes(literals + row.n, literals + row.n + 3), (Bytes{0x11, 0x00, 0x00}));
  }
}

TEST(EncoderRunCodes, LaterSegmentsReadFromTheirOwnStart) {
  VzrArchive archive;
  const Bytes content = Pattern(3 * 32768, 13);
  std::memcpy(archive.fileBuffer, content.data(), content.size());
  archive.segments.assign(3, SegmentRecord{0, 32768, 0});
  archive.outPos = 0;
  archive.EncodeSegment(2);
  EXPECT_EQ(archive.segmentStart, 2u * 32768u);
  EXPECT_TRUE(std::equal(content.begin() + 2 * 32768, content.end(), archive.storeBuffer + 130));
}

TEST(EncoderForms, SegmentBoundaries) {
  EntryWriter w(1);
  const Bytes exact = Pattern(32768, 1);
  const Bytes oneMore = Pattern(32769, 2);
  w.archive.AddFile(w.Source("exact.bin", exact).c_str());
  w.archive.AddFile(w.Source("onemore.bin", oneMore).c_str());
  const Bytes out = w.Written();
  ASSERT_EQ(w.archive.FileIndex.count, 2u);
  const FileEntry& a = w.archive.FileIndex.files[0];
  const FileEntry& b = w.archive.FileIndex.files[1];
  EXPECT_EQ(a.compSize, 4u + 12u + 32901u);
  EXPECT_EQ(GetLE32(out, 0), 1u);
  EXPECT_EQ(GetLE32(out, 4), 32901u);
  EXPECT_EQ(b.fileOffset, a.compSize) << "entries follow with no gap";
  EXPECT_EQ(GetLE32(out, b.fileOffset + 16), 5u);   // second compLength
  EXPECT_EQ(GetLE32(out, b.fileOffset + 20), 1u);   // second rawLength
  EXPECT_EQ(GetLE32(out, b.fileOffset + 24), 32901u);
  EXPECT_EQ(Bytes(out.end() - 5, out.end()), (Bytes{0x12, oneMore.back(), 0x11, 0x00, 0x00}));
  EXPECT_EQ(b.fileOffset + b.compSize, out.size());
}

TEST(EncoderForms, EmptyFileInBothModes) {
  EntryWriter raw(0);
  raw.archive.AddFile(raw.Source("empty", {}).c_str());
  EXPECT_TRUE(raw.Written().empty());
  ASSERT_EQ(raw.archive.FileIndex.count, 1u);
  EXPECT_EQ(raw.archive.FileIndex.files[0].compSize, 0u);
  EXPECT_EQ(raw.archive.FileIndex.files[0].fileSize, 0u);

  EntryWriter seg(1);
  seg.archive.AddFile(seg.Source("empty", {}).c_str());
  const Bytes expected = {1, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x11, 0x11, 0x00, 0x00};
  EXPECT_EQ(seg.Written(), expected);
  ASSERT_EQ(seg.archive.FileIndex.count, 1u);
  EXPECT_EQ(seg.archive.FileIndex.files[0].compSize, 20u);
  EXPECT_EQ(seg.archive.outPos, 20);
}

TEST(EncoderForms, RawEntriesFollowEachOther) {
  EntryWriter w(0);
  const Bytes one = Pattern(1000, 1), two = Pattern(3, 2), three = Pattern(70000, 3);
  for (const auto& [name, content] : {std::pair{"one", one}, std::pair{"two", two}, std::pair{"three", three}})
    w.archive.AddFile(w.Source(name, content).c_str());
  const Bytes out = w.Written();
  EXPECT_EQ(out, testutil::ToBytes(std::string(one.begin(), one.end()) + std::string(two.begin(), two.end()) +
                                   std::string(three.begin(), three.end())));
  ASSERT_EQ(w.archive.FileIndex.count, 3u);
  uint32_t offset = 0;
  for (uint32_t i = 0; i < 3; ++i) {
    const FileEntry& e = w.archive.FileIndex.files[i];
    EXPECT_EQ(e.fileOffset, offset) << e.name;
    EXPECT_EQ(e.compSize, e.fileSize) << e.name;
    offset += e.compSize;
  }
  EXPECT_EQ(CodePosition, 356);
}

TEST(EncoderForms, UnknownStorageModeWritesNothingButRecordsTheEntry) {
  EntryWriter w(2);
  w.archive.AddFile(w.Source("f", Pattern(10)).c_str());
  EXPECT_TRUE(w.Written().empty());
  ASSERT_EQ(w.archive.FileIndex.count, 1u);
  EXPECT_EQ(w.archive.FileIndex.files[0].compSize, 0u);
  EXPECT_EQ(w.archive.FileIndex.files[0].fileSize, 10u);
}

TEST(EncoderForms, ReplacingWritesButAddsNoIndexEntry) {
  EntryWriter w(1);
  std::memcpy(w.archive.fileBuffer, "hello", 5);
  w.archive.curLength = 5;
  w.archive.srcPrefixLength = 0;
  w.archive.WriteEntry(5, "some/entry.con", true);
  EXPECT_EQ(w.Written().size(), 25u);
  EXPECT_EQ(w.archive.FileIndex.count, 0u);
}

TEST(EncoderBuffers, GrowAtExactlyFourMillionBytes) {
  EntryWriter below(0);
  below.archive.AddFile(below.Source("below", Bytes(3999999, 'a')).c_str());
  EXPECT_EQ(below.archive.fileBufferCapacity, 4000000u);
  EXPECT_EQ(below.archive.storeBufferCapacity, 6000260u);

  EntryWriter at(1);
  const Bytes content = Pattern(4000000, 21);
  at.archive.AddFile(at.Source("at", content).c_str());
  EXPECT_EQ(at.archive.fileBufferCapacity, 4000512u);
  EXPECT_EQ(at.archive.storeBufferCapacity, 6001024u);
  EXPECT_EQ(at.archive.curLength, 4000000u);
  const Bytes out = at.Written();
  ASSERT_EQ(at.archive.FileIndex.count, 1u);
  EXPECT_EQ(at.archive.FileIndex.files[0].compSize, out.size());
  EXPECT_EQ(out, testutil::LiteralSegmentedForm(content));
}

TEST(EncoderFailures, UnopenableFileAddsNothing) {
  EntryWriter w(1);
  testutil::TraceCapture trace;
  const std::string missing = w.dir / "missing.txt";
  w.archive.AddFile(missing.c_str());
  EXPECT_EQ(trace.Lines(), std::vector<std::string>{"ERROR! inputFile: " + missing});
  EXPECT_EQ(w.archive.FileIndex.count, 0u);
  EXPECT_TRUE(w.Written().empty());
}

TEST(EncoderFailures, FileThatDeliversLessThanItsLengthIsSkipped) {
  // Kernel attribute files report a size of a page but deliver a few bytes.
  const char* shortFile = "/sys/devices/system/cpu/online";
  struct stat st {};
  if (::stat(shortFile, &st) != 0 || testutil::ReadFileBytes(shortFile).size() >= static_cast<std::size_t>(st.st_size))
    GTEST_SKIP() << "no file here that is shorter than its reported size";
  EntryWriter w(1);
  testutil::TraceCapture trace;
  w.archive.srcPrefixLength = 0;
  w.archive.AddFile(shortFile);
  EXPECT_EQ(trace.Lines(), std::vector<std::string>{std::string("ERROR! inputFile: ") + shortFile});
  EXPECT_EQ(w.archive.FileIndex.count, 0u);
  EXPECT_TRUE(w.Written().empty());
}

TEST(EncoderFailures, OverlongNamesAreRefusedNeverCut) {
  EntryWriter w(0);
  // The index name is the base path plus the path after srcPrefixLength.
  w.archive.basePathLength = 9;  // as for "textures/"
  const std::string folder = std::string(120, 'd') + "/" + std::string(120, 'e') + "/";  // 242 characters
  const std::string fits = folder + std::string(259 - 9 - 242, 'f');
  const std::string tooLong = folder + std::string(260 - 9 - 242, 'g');
  const std::string fitsPath = w.Source(fits, testutil::ToBytes("ok"));
  const std::string longPath = w.Source(tooLong, testutil::ToBytes("no"));
  testutil::TraceCapture trace;
  w.archive.AddFile(fitsPath.c_str());
  w.archive.AddFile(longPath.c_str());
  const std::vector<std::string> lines = trace.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("ERROR! entry name too long"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find(longPath), std::string::npos) << "the line names the file";
  ASSERT_EQ(w.archive.FileIndex.count, 1u);
  EXPECT_EQ(std::string(w.archive.FileIndex.files[0].name), fits);
  EXPECT_EQ(w.Written(), testutil::ToBytes("ok"));
}

TEST(EncoderFailures, WriteEntryAloneAlsoRefusesOverlongNames) {
  EntryWriter w(0);
  w.archive.srcPrefixLength = 0;
  w.archive.curLength = 2;
  testutil::TraceCapture trace;
  w.archive.WriteEntry(2, std::string(260, 'n').c_str(), false);
  EXPECT_EQ(trace.Lines().size(), 1u);
  EXPECT_EQ(w.archive.FileIndex.count, 0u);
  EXPECT_TRUE(w.Written().empty());
}

TEST(EncoderFailures, FailedArchiveWriteIsRecorded) {
  for (uint32_t mode : {0u, 1u}) {
    for (uint64_t failing : {1u, 2u, 3u}) {
      if (mode == 0 && failing > 1) continue;  // a raw entry is one write
      EntryWriter w(mode);
      const std::string source = w.Source("f.con", Pattern(50000));
      EXPECT_EQ(w.archive.writeError, 0);
      {
        FaultHookGuard hook([failing](uint64_t n) { return n == failing ? ENOSPC : 0; });
        w.archive.AddFile(source.c_str());
      }
      EXPECT_EQ(w.archive.writeError, ENOSPC) << "mode " << mode << ", write " << failing;
    }
  }
}

TEST(EncoderFailures, FirstWriteErrorIsKept) {
  EntryWriter w(1);
  const std::string source = w.Source("f", Pattern(10));
  FaultHookGuard hook([](uint64_t n) { return n == 1 ? EIO : (n == 2 ? ENOSPC : 0); });
  w.archive.AddFile(source.c_str());
  EXPECT_EQ(w.archive.writeError, EIO);
}

}  // namespace

// A save killed at any point leaves the archive whole: AddReplaceFile and the
// fallback copy of tavMoveFile run in a child process that dies by SIGKILL
// just before its n-th write, for every n; each time the archive on disk must
// be byte for byte the old one or the complete new one, and load and extract.
#include <gtest/gtest.h>
#include <lzo/lzo1x.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "childprocess.h"
#include "testutil.h"
#include "vzrpack.h"

using testutil::Bytes;
using testutil::TempDir;

namespace {

enum class Storage { Raw, Literal, Compressed };

// The stored form of content as LZO1X streams of 32768-byte segments, with
// back-references, as archives made by other tools hold them.
Bytes CompressedSegmentedForm(const Bytes& content) {
  if (content.empty()) return testutil::LiteralSegmentedForm(content);
  static std::vector<unsigned char> work(LZO1X_1_MEM_COMPRESS);
  std::vector<Bytes> streams;
  std::vector<uint32_t> raw;
  for (std::size_t at = 0; at < content.size(); at += 32768) {
    const std::size_t n = std::min<std::size_t>(32768, content.size() - at);
    Bytes s(n + n / 16 + 67);
    lzo_uint length = s.size();
    lzo1x_1_compress(content.data() + at, n, s.data(), &length, work.data());
    s.resize(length);
    streams.push_back(s);
    raw.push_back(static_cast<uint32_t>(n));
  }
  Bytes out;
  testutil::PutLE32(out, static_cast<uint32_t>(streams.size()));
  uint32_t offset = 0;
  for (std::size_t k = 0; k < streams.size(); ++k) {
    testutil::PutLE32(out, static_cast<uint32_t>(streams[k].size()));
    testutil::PutLE32(out, raw[k]);
    testutil::PutLE32(out, offset);
    offset += static_cast<uint32_t>(streams[k].size());
  }
  for (const Bytes& s : streams) out.insert(out.end(), s.begin(), s.end());
  return out;
}

// Script-like content that compresses, of n bytes.
Bytes Content(std::size_t n, unsigned seed) {
  std::string s;
  for (unsigned i = 0; s.size() < n; ++i) s += "set obj" + std::to_string((i * 31 + seed) % 97) + " 1.0;\n";
  s.resize(n);
  return testutil::ToBytes(s);
}

// Thirty entries, the last one spanning three segments: enough writes for
// the kill points to fall between every kind of step of the rewrite.
std::vector<Bytes> ArchiveContents() {
  std::vector<Bytes> contents;
  for (unsigned i = 0; i < 29; ++i) contents.push_back(Content(i % 7 == 0 ? 0 : (i * 37) % 500 + 1, i));
  contents.push_back(Content(70000, 99));
  return contents;
}

std::string EntryName(std::size_t i) { return "levels/l1/file" + std::to_string(i) + ".con"; }

// The archive of these contents. With gapBytes, that many unused bytes lie
// after every entry (as in archives other tools edited), so no two entries
// are back to back and the rewrite copies each one on its own.
Bytes BuildArchive(const std::vector<Bytes>& contents, Storage storage, std::size_t gapBytes = 0) {
  testutil::ArchiveLayout layout;
  layout.storageMode = storage == Storage::Raw ? 0 : 1;
  layout.gapBytes = gapBytes;
  for (std::size_t i = 0; i < contents.size(); ++i) {
    const Bytes& c = contents[i];
    const Bytes stored = storage == Storage::Raw       ? c
                         : storage == Storage::Literal ? testutil::LiteralSegmentedForm(c)
                                                       : CompressedSegmentedForm(c);
    layout.entries.push_back({EntryName(i), stored, static_cast<uint32_t>(c.size())});
  }
  return layout.Build();
}

// Loads the archive at path and extracts every entry into memory; empty when
// all of them match `contents` in order, else what went wrong.
std::string CheckLoadsAndExtracts(const std::string& path, const std::vector<Bytes>& contents) {
  VzrArchive archive;
  archive.LoadIndex(path.c_str());
  if (archive.FileIndex.count != contents.size())
    return "loaded " + std::to_string(archive.FileIndex.count) + " entries, expected " + std::to_string(contents.size());
  for (uint32_t i = 0; i < archive.FileIndex.count; ++i) {
    const unsigned char* data = archive.Extract(i, nullptr);
    if (!data) return "entry " + std::to_string(i) + " does not extract";
    if (Bytes(data, data + archive.curLength) != contents[i]) return "entry " + std::to_string(i) + " has other bytes";
  }
  archive.CloseArchiveStream();
  return std::string();
}

// Gives entry inx of the archive at path the content, as the Save Changes
// command does. Returns AddReplaceFile's result.
int Replace(const std::string& path, uint32_t inx, const Bytes& content) {
  VzrArchive archive;
  archive.LoadIndex(path.c_str());
  if (!content.empty()) std::memcpy(archive.fileBuffer, content.data(), content.size());
  return archive.AddReplaceFile(inx, static_cast<uint32_t>(content.size()));
}

struct Scenario {
  const char* what;
  Storage storage;
  uint32_t inx;
  Bytes newContent;
  std::size_t gapBytes;
};

std::vector<Scenario> Scenarios() {
  std::vector<Scenario> scenarios{
      {"raw, first entry grows", Storage::Raw, 0, Content(200, 1), 3},
      {"raw, middle entry emptied", Storage::Raw, 15, {}, 1},
      {"raw, last entry of three segments replaced by three others", Storage::Raw, 29, Content(70001, 5), 5},
      {"raw and compact, middle entry grows", Storage::Raw, 12, Content(900, 6), 0},
      {"literal segments, entry grows to three segments", Storage::Literal, 3, Content(70000, 7), 2},
      {"compressed segments, last entry shrinks", Storage::Compressed, 29, Content(100, 8), 4},
      {"compressed segments, middle entry emptied", Storage::Compressed, 10, {}, 1},
      {"compressed and compact, first entry grows", Storage::Compressed, 0, Content(3000, 10), 0},
      {"literal segments, first entry of none grows to two segments", Storage::Literal, 0, Content(40000, 9), 8}};
  // Every entry in turn, in all three storage forms, so that the kill
  // points cover copies before and after the replaced entry of every size.
  const Storage forms[] = {Storage::Raw, Storage::Literal, Storage::Compressed};
  for (uint32_t inx = 0; inx < 30; ++inx)
    scenarios.push_back({"each entry replaced in turn", forms[inx % 3], inx, Content(300 + 997 * inx, 10 + inx), 0});
  return scenarios;
}

class CrashConsistency : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(lzo_init(), LZO_E_OK);
  }
};

TEST_F(CrashConsistency, ReplacementKilledAtEveryWriteLeavesTheOldOrTheNewArchive) {
  uint64_t killPoints = 0;
  for (const Scenario& s : Scenarios()) {
    SCOPED_TRACE(s.what);
    TempDir dir;
    const std::vector<Bytes> oldContents = ArchiveContents();
    std::vector<Bytes> newContents = oldContents;
    newContents[s.inx] = s.newContent;
    const Bytes oldArchive = BuildArchive(oldContents, s.storage, s.gapBytes);

    // The complete new archive, and how many writes it takes to make it.
    const std::string reference = dir / "reference.vzr";
    testutil::WriteFileBytes(reference, oldArchive);
    uint64_t writes = 0;
    {
      testutil::WriteCounter counter;
      ASSERT_EQ(Replace(reference, s.inx, s.newContent), 0);
      writes = counter.Count();
    }
    const Bytes newArchive = testutil::ReadFileBytes(reference);
    ASSERT_EQ(CheckLoadsAndExtracts(reference, newContents), "");
    ASSERT_GT(writes, 3u);

    const std::string path = dir / "mod.vzr";
    testutil::WriteFileBytes(path, oldArchive);
    // Whatever is byte for byte one of these two loads and extracts as well.
    ASSERT_EQ(CheckLoadsAndExtracts(path, oldContents), "");
    for (uint64_t n = 1; n <= writes + 1; ++n) {
      SCOPED_TRACE("killed before write " + std::to_string(n) + " of " + std::to_string(writes));
      const std::vector<std::string> leftovers = testutil::TemporariesBeside(path);
      const testutil::ChildEnd end = testutil::RunInChild([&] {
        testutil::KillAtWrite(n);
        return Replace(path, s.inx, s.newContent);
      });
      const Bytes onDisk = testutil::ReadFileBytes(path);
      if (n <= writes) {
        ASSERT_TRUE(end.signalled && end.signal == SIGKILL) << end.Describe();
        ++killPoints;
        // The move comes after the last write: every kill precedes it.
        ASSERT_TRUE(onDisk == oldArchive) << (onDisk == newArchive ? "new archive before the move" : "a mixture");
      } else {
        // A run that got to the end after all those kills (and their
        // leftover temporary files) still saves.
        ASSERT_TRUE(end.exited && end.code == 0) << end.Describe();
        ASSERT_TRUE(onDisk == newArchive) << "the finished save differs from the reference";
        ASSERT_EQ(CheckLoadsAndExtracts(path, newContents), "");
        EXPECT_EQ(testutil::TemporariesBeside(path), leftovers) << "a finished save leaves no temporary file";
      }
    }
  }
  std::printf("[ figures  ] replacement kill points: %llu\n", static_cast<unsigned long long>(killPoints));
  EXPECT_GE(killPoints, 200u);
}

// Repacking over an archive packed before: a pack killed at any write keeps
// the earlier archive byte for byte; one that finishes replaces it whole.
TEST_F(CrashConsistency, RepackKilledAtEveryWriteKeepsTheEarlierArchive) {
  TempDir dir;
  const std::string source = dir / "src";
  for (int i = 0; i < 14; ++i)
    testutil::WriteFileBytes(source + (i % 2 ? "/sub/" : "/") + "f" + std::to_string(i) + ".con",
                             Content(i * 500 + 3, static_cast<unsigned>(i)));
  const std::string archive = dir / "mod.vzr";
  auto pack = [&] {
    char sourceDir[512], basePath[512];
    std::snprintf(sourceDir, sizeof sourceDir, "%s", source.c_str());
    std::snprintf(basePath, sizeof basePath, "mod");
    return PackDirectory(sourceDir, basePath, archive.c_str(), 1);
  };
  const Bytes earlier = BuildArchive(ArchiveContents(), Storage::Raw);
  uint64_t writes = 0;
  {
    testutil::WriteCounter counter;
    ASSERT_EQ(pack(), 14);
    writes = counter.Count();
  }
  const Bytes packed = testutil::ReadFileBytes(archive);
  ASSERT_GT(writes, 14u);
  testutil::WriteFileBytes(archive, earlier);
  for (uint64_t n = 1; n <= writes + 1; ++n) {
    SCOPED_TRACE("killed before write " + std::to_string(n) + " of " + std::to_string(writes));
    const testutil::ChildEnd end = testutil::RunInChild([&] {
      testutil::KillAtWrite(n);
      return pack() == 14 ? 0 : 1;
    });
    if (n <= writes) {
      ASSERT_TRUE(end.signalled && end.signal == SIGKILL) << end.Describe();
      ASSERT_TRUE(testutil::ReadFileBytes(archive) == earlier) << "the earlier archive was lost or damaged";
    } else {
      ASSERT_TRUE(end.exited && end.code == 0) << end.Describe();
      ASSERT_TRUE(testutil::ReadFileBytes(archive) == packed);
    }
  }
  std::printf("[ figures  ] repack kill points: %llu\n", static_cast<unsigned long long>(writes));
}

// Extracting over older copies: a kill at any write leaves every file either
// its older copy or the entry's whole content, never a part of it.
TEST_F(CrashConsistency, ExtractionKilledAtEveryWriteLeavesNoPartialFile) {
  TempDir dir;
  std::vector<Bytes> contents;
  for (unsigned i = 0; i < 6; ++i) contents.push_back(Content(i * 9000 + 1, i));
  for (Storage storage : {Storage::Raw, Storage::Compressed}) {
    const std::string path = dir / "mod.vzr";
    testutil::WriteFileBytes(path, BuildArchive(contents, storage));
    const std::string dest = dir / "out";
    for (uint64_t n = 1; n <= contents.size(); ++n) {
      SCOPED_TRACE("killed before write " + std::to_string(n));
      std::filesystem::remove_all(dest);
      for (std::size_t i = 0; i < contents.size(); ++i)
        testutil::WriteFileText(dest + "/" + EntryName(i), "older copy");
      const testutil::ChildEnd end = testutil::RunInChild([&] {
        testutil::KillAtWrite(n);
        VzrArchive archive;
        archive.LoadIndex(path.c_str());
        return archive.ExtractAll(dest.c_str());
      });
      ASSERT_TRUE(end.signalled && end.signal == SIGKILL) << end.Describe();
      for (std::size_t i = 0; i < contents.size(); ++i) {
        const Bytes onDisk = testutil::ReadFileBytes(dest + "/" + EntryName(i));
        ASSERT_TRUE(i + 1 < n ? onDisk == contents[i] : onDisk == testutil::ToBytes("older copy"))
            << EntryName(i) << " holds neither its older copy nor the whole entry";
      }
    }
  }
}

// The fallback copy of tavMoveFile runs when the move crosses file systems:
// a copy killed part-way must leave the destination as it was.
TEST_F(CrashConsistency, FallbackCopyKilledAtEveryWriteLeavesTheDestinationWhole) {
  TempDir onDisk;
  std::error_code ec;
  if (!std::filesystem::is_directory("/dev/shm", ec)) GTEST_SKIP() << "no memory file system to move from";
  const std::string shm = (std::filesystem::path("/dev/shm") / ("vzrmove." + std::to_string(::getpid()))).string();
  std::filesystem::create_directories(shm);
  struct Remove {
    std::string p;
    ~Remove() {
      std::error_code e;
      std::filesystem::remove_all(p, e);
    }
  } removeShm{shm};
  struct stat a {}, b {};
  ASSERT_EQ(::stat(shm.c_str(), &a), 0);
  ASSERT_EQ(::stat(onDisk.str().c_str(), &b), 0);
  if (a.st_dev == b.st_dev) GTEST_SKIP() << "/dev/shm and the temporary folder share a file system";

  const Bytes oldBytes = Content(150000, 3);
  const Bytes newBytes = Content(300000, 4);
  const std::string src = shm + "/new.vzr.tmp";
  const std::string dst = onDisk / "mod.vzr";
  testutil::WriteFileBytes(src, newBytes);
  testutil::WriteFileBytes(dst, oldBytes);
  uint64_t writes = 0;
  {
    const std::string countSrc = shm + "/count.tmp", countDst = onDisk / "count.vzr";
    testutil::WriteFileBytes(countSrc, newBytes);
    testutil::WriteCounter counter;
    ASSERT_EQ(tavMoveFile(countSrc.c_str(), countDst.c_str()), 1);
    writes = counter.Count();
  }
  ASSERT_GE(writes, 5u) << "300000 bytes take five chunks of 65536";

  for (uint64_t n = 1; n <= writes; ++n) {
    SCOPED_TRACE("killed before write " + std::to_string(n));
    const testutil::ChildEnd end = testutil::RunInChild([&] {
      testutil::KillAtWrite(n);
      return tavMoveFile(src.c_str(), dst.c_str());
    });
    ASSERT_TRUE(end.signalled && end.signal == SIGKILL) << end.Describe();
    ASSERT_TRUE(testutil::ReadFileBytes(dst) == oldBytes) << "the destination was damaged";
    ASSERT_TRUE(testutil::ReadFileBytes(src) == newBytes) << "the source was lost";
  }
  ASSERT_EQ(tavMoveFile(src.c_str(), dst.c_str()), 1);
  EXPECT_TRUE(testutil::ReadFileBytes(dst) == newBytes);
  EXPECT_FALSE(std::filesystem::exists(src));
  std::printf("[ figures  ] fallback copy kill points: %llu\n", static_cast<unsigned long long>(writes));
}

}  // namespace

// Compressed archive writing: the bytes do not depend on the thread count,
// the archives reload and extract to the packed files, and RecompressArchive
// turns an archive into the other storage mode and back without loss.
#include <cstring>
#include <string>

#include "ops_testutil.h"
#include "testutil.h"
#include "vzrpack.h"

namespace {

using testutil::Bytes;
using testutil::TempDir;

// A small tree: text that shrinks, noise that does not, an empty file, and a
// file of several segments.
void MakeTree(const TempDir& dir) {
  std::string text;
  while (text.size() < 100000) text += "unit guard_" + std::to_string(text.size() % 97) + " patrol;\n";
  testutil::WriteFileText(dir / "src/scripts/a.con", text);
  testutil::WriteFileBytes(dir / "src/noise.bin", opstest::Pattern(70000, 3));
  testutil::WriteFileText(dir / "src/empty.txt", "");
}

Bytes PackAt(const TempDir& dir, const std::string& name, int level, unsigned threads) {
  char src[512] = {}, base[512] = "mod";
  std::strncpy(src, (dir / "src").c_str(), sizeof src - 1);
  opstest::StatusRecorder status;
  testutil::TraceCapture quiet;
  EXPECT_EQ(PackDirectoryCompressed(src, base, (dir / name).c_str(), level, threads), 3);
  return testutil::ReadFileBytes(dir / name);
}

void ExpectContents(const std::string& archivePath, const TempDir& dir) {
  VzrArchive archive;
  opstest::Load(archive, archivePath);
  ASSERT_EQ(archive.FileIndex.count, 3u);
  ASSERT_FALSE(archive.indexDamaged);
  for (uint32_t i = 0; i < archive.FileIndex.count; ++i) {
    const FileEntry& e = archive.FileIndex.files[i];
    const std::string rel = std::string(e.name).substr(4);  // after "mod/"
    const Bytes expected = testutil::ReadFileBytes(dir / ("src/" + rel));
    testutil::TraceCapture quiet;
    const unsigned char* content = archive.Extract(i, nullptr);
    ASSERT_NE(content, nullptr) << rel;
    EXPECT_EQ(Bytes(content, content + e.fileSize), expected) << rel;
  }
}

TEST(CompressedPack, BytesIndependentOfThreadsAndArchiveExtracts) {
  TempDir dir;
  MakeTree(dir);
  const Bytes one = PackAt(dir, "one.vzr", 6, 1);
  EXPECT_EQ(PackAt(dir, "two.vzr", 6, 2), one);
  EXPECT_EQ(PackAt(dir, "four.vzr", 6, 4), one);
  EXPECT_EQ(testutil::GetLE32(one, 4), 1u);  // segmented
  EXPECT_LT(one.size(), PackAt(dir, "zero.vzr", 0, 2).size());
  ExpectContents(dir / "one.vzr", dir);
}

TEST(CompressedPack, LevelZeroIsTheLiteralForm) {
  TempDir dir;
  MakeTree(dir);
  const Bytes archive = PackAt(dir, "z.vzr", 0, 2);
  VzrArchive loaded;
  opstest::Load(loaded, dir / "z.vzr");
  for (uint32_t i = 0; i < loaded.FileIndex.count; ++i) {
    const FileEntry& e = loaded.FileIndex.files[i];
    const Bytes content = testutil::ReadFileBytes(dir / ("src/" + std::string(e.name).substr(4)));
    EXPECT_EQ(Bytes(archive.begin() + e.fileOffset, archive.begin() + e.fileOffset + e.compSize),
              testutil::LiteralSegmentedForm(content));
  }
}

TEST(CompressedPack, RecompressToRawAndBack) {
  TempDir dir;
  MakeTree(dir);
  const Bytes packed = PackAt(dir, "a.vzr", 9, 2);
  auto recompress = [](const std::string& path, int level, unsigned threads) {
    testutil::TraceCapture quiet;
    return RecompressArchive(path.c_str(), level, threads);
  };
  ASSERT_EQ(recompress(dir / "a.vzr", -1, 2), 0);
  EXPECT_EQ(testutil::GetLE32(testutil::ReadFileBytes(dir / "a.vzr"), 4), 0u);
  ExpectContents(dir / "a.vzr", dir);
  ASSERT_EQ(recompress(dir / "a.vzr", 9, 1), 0);
  EXPECT_EQ(testutil::ReadFileBytes(dir / "a.vzr"), packed);
  EXPECT_EQ(recompress(dir / "missing.vzr", 1, 1), 1);
}

}  // namespace

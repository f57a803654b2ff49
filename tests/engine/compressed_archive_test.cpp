// Archives whose segments hold real LZO1X streams with back-references (as
// other tools write them): extracted whole, and kept byte for byte when
// another entry is replaced.
#include <gtest/gtest.h>
#include <lzo/lzo1x.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ops_testutil.h"
#include "testutil.h"
#include "vzrpack.h"

using opstest::Load;
using testutil::ArchiveLayout;
using testutil::Bytes;
using testutil::CurrentDirGuard;
using testutil::TempDir;

namespace {

// The segmented stored form of content with every segment compressed by lzo1x_1.
Bytes CompressedForm(const Bytes& content) {
  static const bool initialised = lzo_init() == LZO_E_OK;
  EXPECT_TRUE(initialised);
  std::vector<Bytes> streams;
  std::vector<unsigned char> work(LZO1X_1_MEM_COMPRESS);
  for (std::size_t at = 0; at < content.size(); at += 32768) {
    const std::size_t n = std::min<std::size_t>(32768, content.size() - at);
    Bytes out(n + n / 16 + 64 + 3);
    lzo_uint outLength = out.size();
    EXPECT_EQ(lzo1x_1_compress(content.data() + at, n, out.data(), &outLength, work.data()), LZO_E_OK);
    out.resize(outLength);
    streams.push_back(out);
  }
  return testutil::SegmentedForm(streams, content.size());
}

Bytes Text(std::size_t n) {
  const std::string line = "set_object_position 12.5 0.0 -3.25 // repeated script line\n";
  Bytes out;
  while (out.size() < n) out.insert(out.end(), line.begin(), line.end());
  out.resize(n);
  return out;
}

}  // namespace

TEST(CompressedArchive, ExtractAllWritesTheDecodedContent) {
  CurrentDirGuard keep;
  TempDir dir;
  const Bytes big = Text(100000), small = Text(300);
  ArchiveLayout layout;
  layout.storageMode = 1;
  layout.entries.push_back({"lev/big.con", CompressedForm(big), 100000});
  layout.entries.push_back({"small.con", CompressedForm(small), 300});
  ASSERT_LT(layout.entries[0].stored.size(), big.size() / 4) << "the streams really use back-references";
  layout.WriteTo(dir / "c.vzr");
  VzrArchive archive;
  Load(archive, dir / "c.vzr");
  std::filesystem::create_directory(dir / "out");
  testutil::TraceCapture quiet;
  ASSERT_EQ(archive.ExtractAll((dir / "out").c_str()), 0);
  EXPECT_EQ(testutil::ReadFileBytes(dir / "out/lev/big.con"), big);
  EXPECT_EQ(testutil::ReadFileBytes(dir / "out/small.con"), small);
}

TEST(CompressedArchive, ReplacingOneEntryKeepsTheOthersCompressed) {
  TempDir dir;
  const Bytes big = Text(100000);
  ArchiveLayout layout;
  layout.storageMode = 1;
  layout.entries.push_back({"a.con", CompressedForm(Text(500)), 500});
  layout.entries.push_back({"big.con", CompressedForm(big), 100000});
  layout.WriteTo(dir / "c.vzr");
  VzrArchive archive;
  Load(archive, dir / "c.vzr");
  const Bytes edited = testutil::ToBytes("edited script\n");
  std::copy(edited.begin(), edited.end(), archive.fileBuffer);
  {
    testutil::TraceCapture quiet;
    ASSERT_EQ(archive.AddReplaceFile(0, static_cast<uint32_t>(edited.size())), 0);
  }
  ArchiveLayout expected = layout;
  expected.entries[0] = {"a.con", testutil::LiteralSegmentedForm(edited), static_cast<uint32_t>(edited.size())};
  EXPECT_EQ(testutil::ReadFileBytes(dir / "c.vzr"), expected.Build());
  VzrArchive reread;
  Load(reread, dir / "c.vzr");
  unsigned char* got = reread.Extract(1, nullptr);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(Bytes(got, got + reread.curLength), big);
}

// Black-box tests of "vzr extract" and "vzr cat".
#include "run_vzr.h"

using clitest::RunVzr;

namespace {

std::string Text(const std::string& path) {
  testutil::Bytes b = testutil::ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

TEST(CliExtract, RefusedEntryNamedOthersWritten) {
  testutil::TempDir dir;
  testutil::ArchiveLayout layout;
  layout.AddRaw("a/one.con", "first");
  layout.AddRaw("../evil.con", "outside");
  layout.AddRaw("b/two.con", "second");
  layout.WriteTo(dir / "x.vzr");
  std::filesystem::create_directory(dir / "out");
  auto r = RunVzr({"extract", dir / "x.vzr", "-C", dir / "out", "-v", "-q"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "a/one.con\nb/two.con\n");
  EXPECT_NE(r.err.find("vzr: " + dir / "x.vzr" + ": ../evil.con: "), std::string::npos) << r.err;
  EXPECT_EQ(Text(dir / "out/a/one.con"), "first");
  EXPECT_EQ(Text(dir / "out/b/two.con"), "second");
  EXPECT_FALSE(std::filesystem::exists(dir / "evil.con"));
}

TEST(CliExtract, PatternSelectsAndCatWritesBytes) {
  testutil::TempDir dir;
  testutil::ArchiveLayout layout;
  layout.storageMode = 1;
  const std::string big(70000, 'q');
  layout.entries.push_back({"Levels/Alpha/map.rs", testutil::LiteralSegmentedForm(testutil::ToBytes(big)), 70000});
  layout.entries.push_back({"other.con", testutil::LiteralSegmentedForm(testutil::ToBytes("o")), 1});
  layout.WriteTo(dir / "s.vzr");
  auto r = RunVzr({"extract", "levels/alpha", dir / "s.vzr"}, dir.str());
  EXPECT_EQ(r.status, 2) << "the first positional is the archive, here a missing file";
  r = RunVzr({"extract", dir / "s.vzr", "levels/alpha"}, dir.str());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Text(dir / "Levels/Alpha/map.rs"), big);
  EXPECT_FALSE(std::filesystem::exists(dir / "other.con"));
  auto c = RunVzr({"cat", dir / "s.vzr", "LEVELS/alpha/MAP.rs"});
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(c.out, big);
  auto n = RunVzr({"extract", dir / "s.vzr", "nothing*"}, dir.str());
  EXPECT_EQ(n.status, 1);
  EXPECT_NE(n.err.find("no entry matches 'nothing*'"), std::string::npos);
}

// An archive of a storage mode no reader knows: cat names the mode, as test
// does, rather than a size the stored form cannot hold.
TEST(CliExtract, CatNamesAnUnknownStorageMode) {
  testutil::TempDir dir;
  testutil::ArchiveLayout layout;
  layout.storageMode = 7;
  layout.AddRaw("odd.con", "seven");
  layout.WriteTo(dir / "odd.vzr");
  auto c = RunVzr({"cat", dir / "odd.vzr", "odd.con"});
  EXPECT_EQ(c.status, 1);
  EXPECT_EQ(c.out, "");
  EXPECT_EQ(c.err, "vzr: " + dir / "odd.vzr" + ": odd.con: unknown storage mode 7\n");
}

}  // namespace

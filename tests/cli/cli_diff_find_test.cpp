// Black-box tests of "vzr diff" and "vzr find".
#include "run_vzr.h"

using clitest::RunVzr;

namespace {

TEST(CliDiff, ByDecodedContentAcrossStorageModes) {
  testutil::TempDir dir;
  testutil::ArchiveLayout a, b;
  a.AddRaw("same.con", "same");
  a.AddRaw("gone.con", "x");
  a.AddRaw("edit.con", "old");
  b.storageMode = 1;
  b.entries.push_back({"SAME.con", testutil::LiteralSegmentedForm(testutil::ToBytes("same")), 4});
  b.entries.push_back({"edit.con", testutil::LiteralSegmentedForm(testutil::ToBytes("new")), 3});
  b.entries.push_back({"new.con", testutil::LiteralSegmentedForm(testutil::ToBytes("n")), 1});
  a.WriteTo(dir / "a.vzr");
  b.WriteTo(dir / "b.vzr");
  auto r = RunVzr({"diff", "--json", dir / "a.vzr", dir / "b.vzr"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, "{\"onlyA\":[\"gone.con\"],\"onlyB\":[\"new.con\"],\"changed\":[\"edit.con\"]}\n");
  EXPECT_EQ(RunVzr({"diff", dir / "a.vzr", dir / "a.vzr"}).status, 0);
}

TEST(CliFind, ArchivesBelowFolders) {
  testutil::TempDir dir;
  std::filesystem::create_directories(dir / "mod/levels");
  testutil::ArchiveLayout a;
  a.AddRaw("levels/alpha/map.rs", "m");
  a.WriteTo(dir / "mod/levels/alpha.VZR");
  testutil::ArchiveLayout b;
  b.AddRaw("other.con", "o");
  b.WriteTo(dir / "mod/b.vzr");
  auto r = RunVzr({"find", "*.RS", dir.str()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, dir / "mod/levels/alpha.VZR" + "\tlevels/alpha/map.rs\n");
  EXPECT_EQ(RunVzr({"find", "*.wav", dir.str()}).status, 1);
}

}  // namespace

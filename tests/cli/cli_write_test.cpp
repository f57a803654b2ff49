// Black-box tests of the writing verbs: pack, update, remove, add and mod.
#include <algorithm>
#include <sstream>

#include "run_vzr.h"

using clitest::RunVzr;
using testutil::WriteFileText;

namespace {

std::string Text(const std::string& path) {
  testutil::Bytes b = testutil::ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

// The lines of text in sorted order: the packer keeps the folder's listing order.
std::string SortedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  return out;
}

// A small tree: two files, one a folder down.
void MakeTree(const std::string& root) {
  WriteFileText(root + "/top.con", "top text");
  WriteFileText(root + "/maps/Camp.rs", "camp map");
}

TEST(CliPack, SameTreeTwiceGivesSameBytesAndNamesCarryTheBase) {
  testutil::TempDir dir;
  MakeTree(dir / "src");
  auto a = RunVzr({"pack", "--base", "data/pk", dir / "src", dir / "a.vzr"});
  ASSERT_EQ(a.status, 0) << a.err;
  ASSERT_EQ(RunVzr({"pack", dir / "src", dir / "b.vzr", "--base", "data/pk"}).status, 0);
  EXPECT_EQ(testutil::ReadFileBytes(dir / "a.vzr"), testutil::ReadFileBytes(dir / "b.vzr"));
  EXPECT_EQ(SortedLines(RunVzr({"list", dir / "a.vzr"}).out), "data/pk/maps/Camp.rs\ndata/pk/top.con\n");
  // No base path: the names start below the folder, never with '/'.
  ASSERT_EQ(RunVzr({"pack", dir / "src", dir / "c.vzr"}).status, 0);
  EXPECT_EQ(SortedLines(RunVzr({"list", dir / "c.vzr"}).out), "maps/Camp.rs\ntop.con\n");
}

TEST(CliPack, OneLetterFolderIsThatFolderNotTheCurrentOne) {
  testutil::TempDir dir;
  MakeTree(dir / "s");
  ASSERT_EQ(RunVzr({"pack", "s", "one.vzr"}, dir.str()).status, 0);
  EXPECT_EQ(SortedLines(RunVzr({"list", dir / "one.vzr"}).out), "maps/Camp.rs\ntop.con\n");
}

TEST(CliUpdate, EntryGetsTheFileAnyLetterCase) {
  testutil::TempDir dir;
  MakeTree(dir / "src");
  ASSERT_EQ(RunVzr({"pack", dir / "src", dir / "a.vzr"}).status, 0);
  WriteFileText(dir / "new.rs", "a longer replacement map");
  auto r = RunVzr({"update", dir / "a.vzr", "MAPS/camp.RS", dir / "new.rs"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(RunVzr({"cat", dir / "a.vzr", "maps/Camp.rs"}).out, "a longer replacement map");
  EXPECT_EQ(RunVzr({"cat", dir / "a.vzr", "top.con"}).out, "top text");
}

// Of names equal but for letter case, cat and extract take the last: update
// must replace that one, or the new content never shows.
TEST(CliUpdate, DuplicateNameReplacesTheEntryCatAndExtractTake) {
  testutil::TempDir dir;
  testutil::ArchiveLayout layout;
  layout.AddRaw("maps/camp.rs", "first");
  layout.AddRaw("MAPS/Camp.rs", "second");
  layout.WriteTo(dir / "d.vzr");
  WriteFileText(dir / "new.rs", "replacement");
  auto r = RunVzr({"update", dir / "d.vzr", "maps/camp.rs", dir / "new.rs"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(RunVzr({"cat", dir / "d.vzr", "maps/camp.rs"}).out, "replacement");
}

TEST(CliRemoveAdd, EntriesDroppedThenAddedUnderTheirOwnNames) {
  testutil::TempDir dir;
  MakeTree(dir / "src");
  ASSERT_EQ(RunVzr({"pack", dir / "src", dir / "a.vzr"}).status, 0);
  auto r = RunVzr({"remove", dir / "a.vzr", "maps"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(RunVzr({"list", dir / "a.vzr"}).out, "top.con\n");
  WriteFileText(dir / "x/lev/b.rs", "bee");
  WriteFileText(dir / "x/lev/a/deep.rs", "deep");
  WriteFileText(dir / "loose.con", "loose");
  r = RunVzr({"add", dir / "a.vzr", dir / "x/../x/lev/", dir / "loose.con"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(RunVzr({"list", dir / "a.vzr"}).out, "top.con\nlev/a/deep.rs\nlev/b.rs\nloose.con\n");
  ASSERT_EQ(RunVzr({"add", "--base", "extra", dir / "a.vzr", dir / "loose.con"}).status, 0);
  EXPECT_EQ(RunVzr({"cat", dir / "a.vzr", "extra/loose.con"}).out, "loose");
}

// Every refusal leaves the archive byte for byte as it was.
TEST(CliWrite, RefusalsTable) {
  testutil::TempDir dir;
  MakeTree(dir / "src");
  ASSERT_EQ(RunVzr({"pack", dir / "src", dir / "a.vzr"}).status, 0);
  WriteFileText(dir / "top.con", "other");
  std::filesystem::create_directory(dir / "empty");
  std::filesystem::create_directory(dir / "one");
  std::filesystem::create_directory(dir / "two");
  WriteFileText(dir / "one/new.con", "first");
  WriteFileText(dir / "two/NEW.con", "second");
  const testutil::Bytes before = testutil::ReadFileBytes(dir / "a.vzr");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;
  } cases[] = {
      {{"pack", dir / "nothere", dir / "n.vzr"}, 2, "nothere: No such file or directory"},
      {{"pack", dir / "empty", dir / "a.vzr"}, 2, "a.vzr: No files to pack.."},
      {{"pack", dir / "src", dir / "src/in.vzr"}, 2, "cannot be written inside the folder being packed"},
      {{"pack", dir / "src", ""}, 2, "the archive's name is empty"},
      {{"update", dir / "a.vzr", "missing.con", dir / "top.con"}, 2, "no entry named 'missing.con'"},
      {{"update", dir / "a.vzr", "top.con", dir / "nofile"}, 2, "nofile: No such file or directory"},
      {{"remove", dir / "a.vzr", "top.con", "nomatch*"}, 2, "no entry matches 'nomatch*'"},
      {{"add", dir / "a.vzr", dir / "top.con"}, 2, "'top.con' already exists"},
      {{"add", dir / "a.vzr", dir / "nofile"}, 2, "nofile: No such file or directory"},
      {{"add", dir / "a.vzr", dir / "one/new.con", dir / "two/NEW.con"},
       2,
       "'NEW.con' is given twice: " + dir / "one/new.con" + " and " + dir / "two/NEW.con"},
      {{"remove", dir / "a.vzr"}, 2, "at least one pattern are needed"},
      {{"mod", "list", dir / "src"}, 2, "not in a mod"},
  };
  for (const Case& c : cases) {
    auto r = RunVzr(c.args);
    EXPECT_EQ(r.status, c.status) << c.args[0] << " " << c.message;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.err.rfind("vzr: ", 0), 0u) << r.err;
  }
  EXPECT_EQ(testutil::ReadFileBytes(dir / "a.vzr"), before);
}

TEST(CliMod, ListPackAndUnpackAsThePackerDoes) {
  testutil::TempDir dir;
  const std::string mod = dir / "mymod";
  std::filesystem::create_directories(mod + "/Archives");
  WriteFileText(mod + "/hxGlacier/levels/beta/b.rs", "beta map");
  WriteFileText(mod + "/hxGlacier/levels/Alpha/a.rs", "alpha map");
  WriteFileText(mod + "/scripts/s.con", "script");
  WriteFileText(mod + "/hxGlacier/game/g.con", "game");
  auto l = RunVzr({"mod", "list"}, mod + "/Archives");
  ASSERT_EQ(l.status, 0) << l.err;
  EXPECT_EQ(l.out, "level\tAlpha\nlevel\tbeta\nfolder\thxGlacier/game\nfolder\tscripts\n");
  auto p = RunVzr({"mod", "pack", mod, "alpha", "scripts"});
  ASSERT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(RunVzr({"list", mod + "/Archives/hxGlacier/levels/Alpha.vzr"}).out, "hxGlacier/levels/Alpha/a.rs\n");
  EXPECT_FALSE(std::filesystem::exists(mod + "/Archives/hxGlacier/levels/beta.vzr"));
  ASSERT_EQ(RunVzr({"mod", "pack", "--all"}, mod).status, 0);
  EXPECT_EQ(RunVzr({"list", mod + "/Archives/hxGlacier/levels/beta.vzr"}).out, "hxGlacier/levels/beta/b.rs\n");
  std::filesystem::create_directory(dir / "out");
  auto u = RunVzr({"mod", "unpack", mod, dir / "out"});
  ASSERT_EQ(u.status, 0) << u.err;
  EXPECT_EQ(Text(dir / "out/hxGlacier/levels/beta/b.rs"), "beta map");
  EXPECT_EQ(Text(dir / "out/scripts/s.con"), "script");
}

}  // namespace

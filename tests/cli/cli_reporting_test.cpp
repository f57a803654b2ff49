// Black-box tests of what vzr must never do silently: leave a file out of a
// pack, lose output, write past a refused entry's trouble, or disagree with
// itself about duplicate names.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "run_vzr.h"

using clitest::RunVzr;
namespace fs = std::filesystem;

namespace {

std::string Text(const std::string& path) {
  testutil::Bytes b = testutil::ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

// A tree of one good file beside one file of each kind that cannot be
// packed; returns the paths (relative to the tree) vzr must name.
std::vector<std::string> MakeUnpackableTree(const std::string& root) {
  testutil::WriteFileText(root + "/good.con", "fine");
  testutil::WriteFileText(root + "/back\\slash.con", "b");
  testutil::WriteFileText(root + "/huge.bin", "");
  fs::resize_file(fs::path(root) / "huge.bin", uint64_t(4) << 30);  // sparse: costs no disk
  fs::create_symlink("nowhere", fs::path(root) / "dangling.con");
  const std::string longName = std::string(200, 'd') + "/" + std::string(70, 'f');
  testutil::WriteFileText(root + "/" + longName, "long");
  // 1,000 folders deep, made one below the other (the whole path is longer
  // than the system takes in one call).
  fs::create_directory(fs::path(root) / "deep");
  int folder = ::open((root + "/deep").c_str(), O_RDONLY | O_DIRECTORY);
  for (int i = 0; i < 1000 && folder >= 0; ++i) {
    ::mkdirat(folder, "a", 0755);
    const int below = ::openat(folder, "a", O_RDONLY | O_DIRECTORY);
    ::close(folder);
    folder = below;
  }
  EXPECT_GE(folder, 0);
  const int file = ::openat(folder, "z.con", O_WRONLY | O_CREAT, 0644);
  EXPECT_GE(file, 0);
  ::close(file);
  ::close(folder);
  return {"back\\slash.con", "huge.bin", "dangling.con", longName, "deep/a/a/a"};
}

TEST(CliPackNotices, EveryFileLeftOutIsNamedAndTheRestPacked) {
  struct Case {
    const char* what;
    std::vector<std::string> args;  // before the archive and the folder
    bool add;
  };
  const std::vector<Case> cases = {{"pack", {"pack"}, false},
                                   {"pack --compress", {"pack", "--compress=1"}, false},
                                   {"add", {"add"}, true}};
  testutil::TempDir dir;
  const std::vector<std::string> leftOut = MakeUnpackableTree(dir / "src");
  testutil::ArchiveLayout empty;
  empty.AddRaw("old.con", "old");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string archive = dir / (std::string(c.add ? "add" : "pack") + std::to_string(c.args.size()) + ".vzr");
    std::vector<std::string> args = c.args;
    if (c.add) {
      empty.WriteTo(archive);
      args.insert(args.end(), {archive, dir / "src"});
    } else {
      args.insert(args.end(), {dir / "src", archive});
    }
    const clitest::Result r = RunVzr(args);
    EXPECT_EQ(r.status, 1) << r.err;
    for (const std::string& path : leftOut) EXPECT_NE(r.err.find("src/" + path), std::string::npos) << path;
    const std::string listed = RunVzr({"list", archive}).out;
    EXPECT_NE(listed.find("good.con\n"), std::string::npos) << listed;
  }
}

TEST(CliPackNotices, UnreadableFileIsNamedWithTheSystemsReason) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads a file whatever its mode";
  testutil::TempDir dir;
  testutil::WriteFileText(dir / "src/good.con", "fine");
  testutil::WriteFileText(dir / "src/secret.con", "hidden");
  fs::permissions(dir / "src/secret.con", fs::perms::none);
  const clitest::Result r = RunVzr({"pack", dir / "src", dir / "a.vzr"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("secret.con: Permission denied"), std::string::npos) << r.err;
}

// Runs vzr with standard output on /dev/full; its status and standard error.
clitest::Result RunIntoFullDisk(const std::vector<std::string>& args) {
  testutil::TempDir tmp;
  const pid_t pid = clitest::StartVzr(args, "/dev/full", tmp / "err");
  int ws = 0;
  ::waitpid(pid, &ws, 0);
  return {WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws), "", Text(tmp / "err")};
}

TEST(CliOutput, WriteErrorOnStandardOutputIsReported) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  testutil::TempDir dir;
  testutil::ArchiveLayout layout;
  layout.AddRaw("maps/a.con", "a");
  layout.WriteTo(dir / "a.vzr");
  layout.AddRaw("maps/b.con", "b");
  layout.WriteTo(dir / "b.vzr");
  fs::create_directory(dir / "out");
  const std::vector<std::vector<std::string>> verbs = {
      {"list", dir / "a.vzr"},          {"list", "--json", dir / "a.vzr"}, {"info", dir / "a.vzr"},
      {"test", dir / "a.vzr"},          {"diff", dir / "a.vzr", dir / "b.vzr"},
      {"find", "*.con", dir / "a.vzr"}, {"extract", "-v", "-C", dir / "out", dir / "a.vzr"},
      {"grep", "a", dir / "a.vzr"},     {"--version"},                     {"help", "pack"},
      {"pack", "--help"}};
  for (const auto& args : verbs) {
    SCOPED_TRACE(args[0] + (args.size() > 1 ? " " + args[1] : ""));
    const clitest::Result r = RunIntoFullDisk(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "vzr: write error: No space left on device\n");
  }
}

TEST(CliBase, BasesThatLeaveTheDestinationAreRefused) {
  testutil::TempDir dir;
  testutil::WriteFileText(dir / "src/a.con", "a");
  testutil::ArchiveLayout layout;
  layout.AddRaw("old.con", "old");
  layout.WriteTo(dir / "x.vzr");
  const testutil::Bytes before = testutil::ReadFileBytes(dir / "x.vzr");
  for (const char* base : {"../../evil", "maps/..", "/abs", "\\abs", "C:", "C:/x"}) {
    SCOPED_TRACE(base);
    clitest::Result r = RunVzr({"pack", "--base", base, dir / "src", dir / "new.vzr"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(std::string("base path '") + base + "'"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "new.vzr"));
    r = RunVzr({"add", "--base", base, dir / "x.vzr", dir / "src/a.con"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(testutil::ReadFileBytes(dir / "x.vzr"), before);
  }
}

// Entries refused on the way (a name that climbs out) cost only themselves,
// with the archive and the destination named relative to the current folder.
TEST(CliExtract, RelativePathsKeepWorkingAfterARefusedEntry) {
  testutil::TempDir dir;
  testutil::ArchiveLayout layout;
  layout.AddRaw("a/one.con", "1");
  layout.AddRaw("../evil.con", "x");
  layout.AddRaw("b/two.con", "2");
  layout.AddRaw("../../worse.con", "y");
  layout.AddRaw("three.con", "3");
  layout.WriteTo(dir / "x.vzr");
  fs::create_directory(dir / "out");
  const clitest::Result r = RunVzr({"extract", "-qv", "-C", "out", "x.vzr"}, dir.str());
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, "a/one.con\nb/two.con\nthree.con\n") << "-qv keeps -v";
  EXPECT_EQ(Text(dir / "out/three.con"), "3");
}

TEST(CliModUnpack, RefusedEntriesAreSkippedAndTheDestinationMade) {
  testutil::TempDir dir;
  testutil::ArchiveLayout first, second;
  first.AddRaw("a.con", "a");
  first.AddRaw("../evil.con", "x");
  first.AddRaw("b.con", "b");
  first.WriteTo(dir / "mod/Archives/first.vzr");
  second.AddRaw("levels/c.con", "c");
  second.WriteTo(dir / "mod/Archives/hxGlacier/second.vzr");
  const clitest::Result r = RunVzr({"mod", "unpack", dir / "mod", dir / "new/dest"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("../evil.con"), std::string::npos) << r.err;
  EXPECT_EQ(Text(dir / "new/dest/b.con"), "b");
  EXPECT_EQ(Text(dir / "new/dest/levels/c.con"), "c");
}

// Unpacked into the mod itself, an entry named as another of its archives
// must not replace that archive before it is read.
TEST(CliModUnpack, AnEntryNeverReplacesAnArchiveOfTheMod) {
  testutil::TempDir dir;
  testutil::ArchiveLayout first, second;
  first.AddRaw("Archives/second.vzr", "not an archive");
  first.AddRaw("a.con", "a");
  first.WriteTo(dir / "mod/Archives/first.vzr");
  second.AddRaw("c.con", "c");
  second.WriteTo(dir / "mod/Archives/second.vzr");
  const clitest::Result r = RunVzr({"mod", "unpack", dir / "mod", dir / "mod"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Archives/second.vzr: not written over the mod's archive"), std::string::npos) << r.err;
  EXPECT_EQ(testutil::ReadFileBytes(dir / "mod/Archives/second.vzr"), second.Build());
  EXPECT_EQ(Text(dir / "mod/a.con"), "a");
  EXPECT_EQ(Text(dir / "mod/c.con"), "c");
}

// One rule for names that extraction writes to one file: the last entry.
TEST(CliDuplicates, CatDiffAndExtractAgreeOnTheLastEntry) {
  testutil::TempDir dir;
  testutil::ArchiveLayout layout;
  layout.AddRaw("Maps/A.con", "first");
  layout.AddRaw("maps/a.con", "last");
  layout.AddRaw("maps/a.con", "latest");
  layout.WriteTo(dir / "x.vzr");
  EXPECT_EQ(RunVzr({"cat", dir / "x.vzr", "MAPS/A.CON"}).out, "latest");
  const clitest::Result same = RunVzr({"diff", dir / "x.vzr", dir / "x.vzr"});
  EXPECT_EQ(same.status, 0) << same.out;
  testutil::WriteFileText(dir / "out/maps/A.CON", "the user's");
  ASSERT_EQ(RunVzr({"extract", "-C", dir / "out", dir / "x.vzr"}).status, 0);
  EXPECT_EQ(Text(dir / "out/maps/a.con"), "latest");
  EXPECT_EQ(Text(dir / "out/maps/A.CON"), "the user's");
}

TEST(CliJson, BytesThatAreNotUtf8AreEscaped) {
  testutil::TempDir dir;
  testutil::ArchiveLayout layout;
  layout.AddRaw("caf\xe9.con", "a");
  layout.AddRaw("ok\xc3\xa9.con", "b");
  layout.AddRaw("cut\xc3.con", "c");
  layout.WriteTo(dir / "x.vzr");
  const std::string out = RunVzr({"list", "--json", dir / "x.vzr"}).out;
  EXPECT_NE(out.find("\"caf\\u00e9.con\""), std::string::npos) << out;
  EXPECT_NE(out.find("\"ok\xc3\xa9.con\""), std::string::npos) << out;
  EXPECT_NE(out.find("\"cut\\u00c3.con\""), std::string::npos) << out;
}

// A path argument that names nothing usable (empty, or "." in a folder
// removed meanwhile) is refused with a message, never a crash.
TEST(CliRefusals, PathsThatNameNothingAreRefusedWithoutACrash) {
  testutil::TempDir dir;
  testutil::ArchiveLayout layout;
  layout.AddRaw("a.con", "a");
  layout.WriteTo(dir / "a.vzr");
  const std::vector<std::string> commands = {"add " + dir / "a.vzr" + " ''", "add " + dir / "a.vzr" + " .",
                                             "mod list", "mod pack --all"};
  for (const std::string& command : commands) {
    fs::create_directory(dir / "gone");
    const std::string line = "cd " + dir / "gone" + " && rmdir ../gone && exec " VZR_BINARY " " + command +
                             " >" + dir / "out" + " 2>" + dir / "err";
    const int ws = std::system(line.c_str());
    const std::string err = Text(dir / "err");
    EXPECT_TRUE(WIFEXITED(ws) && WEXITSTATUS(ws) == 2) << command << ": " << err;
    EXPECT_EQ(err.rfind("vzr: ", 0), 0u) << command << ": " << err;
  }
}

TEST(CliTest, DamageAmongGoodArchivesIsOneNothingCheckedIsTwo) {
  testutil::TempDir dir;
  testutil::ArchiveLayout layout;
  layout.AddRaw("a.con", "a");
  layout.WriteTo(dir / "good.vzr");
  testutil::WriteFileText(dir / "bad.vzr", "no archive at all");
  EXPECT_EQ(RunVzr({"test", dir / "good.vzr", dir / "bad.vzr"}).status, 1);
  EXPECT_EQ(RunVzr({"test", dir / "bad.vzr"}).status, 2);
}

// Refusals name their cause: an index name too long for the format is
// damage at that entry, and a rewrite that cannot make its copy says why.
TEST(CliRefusals, AnIndexNameTooLongIsDamageAtItsEntry) {
  testutil::TempDir dir;
  testutil::ArchiveLayout layout;
  layout.AddRaw(std::string(300, 'n'), "x");
  layout.WriteTo(dir / "long.vzr");
  const clitest::Result r = RunVzr({"list", dir / "long.vzr"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("damaged index at entry 1"), std::string::npos) << r.err;
}

TEST(CliRefusals, ARewriteInAReadOnlyFolderSaysWhy) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into a read-only folder";
  testutil::TempDir dir;
  testutil::ArchiveLayout one;
  one.AddRaw("a.con", "a");
  one.WriteTo(dir / "ro/a.vzr");
  testutil::WriteFileText(dir / "new.con", "new");
  fs::permissions(dir / "ro", fs::perms::owner_read | fs::perms::owner_exec);
  const clitest::Result r = RunVzr({"update", dir / "ro/a.vzr", "a.con", dir / "new.con"});
  fs::permissions(dir / "ro", fs::perms::owner_all);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("Permission denied"), std::string::npos) << r.err;
}

}  // namespace

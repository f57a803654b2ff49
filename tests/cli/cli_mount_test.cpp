// Black-box tests of "vzr mount" and "vzr umount" through the real program
// and the kernel's FUSE; skipped (with the reason) where FUSE cannot be used.
// The tree the mount shows is also checked as a unit, without FUSE.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "mount_tree.h"
#include "run_vzr.h"

namespace fs = std::filesystem;
using clitest::RunVzr;

namespace {

std::string Text(const std::string& path) {
  testutil::Bytes b = testutil::ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

// Every file below root by its relative path, with its content (of every
// `step`th file in name order; the others by their size).
std::map<std::string, std::string> Files(const std::string& root, std::size_t step = 1) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) files[fs::relative(e.path(), root).string()] = std::to_string(e.file_size());
  std::size_t k = 0;
  for (auto& [rel, content] : files)
    if (k++ % step == 0) content = Text(root + "/" + rel);
  return files;
}

// Bytes that compress but never repeat in a way that hides an offset error.
std::string Varied(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>("abcdefgh"[(i * 7 + seed + i / 97) % 8] + (i % 13 == 0));
  return s;
}

bool CanMount(std::string& why) {
  if (::access("/dev/fuse", R_OK | W_OK) != 0) return why = "no usable /dev/fuse here", false;
  if (std::system("command -v fusermount3 >/dev/null 2>&1") != 0) return why = "fusermount3 is not installed", false;
  return true;
}

#define REQUIRE_FUSE()                      \
  do {                                      \
    std::string why;                        \
    if (!CanMount(why)) GTEST_SKIP() << why; \
  } while (0)

// A mount for the length of a test; unmounted at its end if still there.
class Mounted {
 public:
  Mounted(const std::string& source, const std::string& point, std::vector<std::string> options = {})
      : point_(point) {
    fs::create_directories(point);
    options.insert(options.begin(), "mount");
    options.push_back(source);
    options.push_back(point);
    result = RunVzr(options);
    mounted_ = result.status == 0;
  }
  ~Mounted() {
    if (mounted_) Unmount();
  }
  clitest::Result Unmount() {
    mounted_ = false;
    return RunVzr({"umount", point_});
  }
  clitest::Result result;

 private:
  std::string point_;
  bool mounted_ = false;
};

// The server of the mount of archive (found by its command line).
pid_t ServerOf(const std::string& archive) {
  for (const auto& e : fs::directory_iterator("/proc")) {
    const std::string cmd = Text(e.path().string() + "/cmdline");
    if (cmd.find(std::string("mount") + '\0') != std::string::npos && cmd.find(archive + '\0') != std::string::npos)
      return static_cast<pid_t>(std::atol(e.path().filename().c_str()));
  }
  return -1;
}

TEST(MountTree, CaseFoldedPathsTheLastEntryUnderTheFirstSpelling) {
  vzrmount::Tree tree;
  using P = vzrmount::Tree::Placed;
  EXPECT_EQ(tree.Add("Scripts/A.con", 0, 0, 1), P::kShown);
  EXPECT_EQ(tree.Add("scripts/a.CON", 0, 1, 2), P::kDuplicate);
  const uint32_t id = tree.Find("/scripts/A.CON");
  ASSERT_NE(id, vzrmount::Tree::kNone);
  EXPECT_EQ(tree.At(id).content.entry, 1u);
  EXPECT_EQ(tree.Add("SCRIPTS/a.con", 1, 0, 3), P::kReplacing);
  EXPECT_EQ(tree.Add("scripts/a.con/x", 1, 1, 3), P::kClash);
  EXPECT_EQ(tree.PathOf(id), "Scripts/A.con");
  EXPECT_EQ(tree.At(id).content.archive, 1);
  tree.Move(id, vzrmount::Tree::kRoot, "b.con");
  EXPECT_EQ(tree.Find("Scripts/A.con"), vzrmount::Tree::kNone);
  EXPECT_EQ(tree.Find("B.CON"), id);
}

TEST(CliMount, FilesReadEqualExtractionRawLevel9AndManyEntries) {
  REQUIRE_FUSE();
  testutil::TempDir dir;
  for (int i = 0; i < 12; ++i) testutil::WriteFileText(dir / ("src/Lev" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".con"), Varied(i * 9000, i));
  testutil::WriteFileText(dir / "src/empty.txt", "");
  ASSERT_EQ(RunVzr({"pack", dir / "src", dir / "raw.vzr"}).status, 0);
  ASSERT_EQ(RunVzr({"pack", "--compress=9", dir / "src", dir / "l9.vzr"}).status, 0);
  testutil::ArchiveLayout many;
  char name[32];
  for (int i = 0; i < 100000; ++i) {
    std::snprintf(name, sizeof name, "d%d/e%d", i % 100, i);
    many.AddRaw(name, std::to_string(i));
  }
  many.WriteTo(dir / "many.vzr");
  // Extraction goes to memory where it can: removing 100,000 files from a
  // disk that discards each freed block takes minutes.
  const bool inMemory = ::access("/dev/shm", W_OK) == 0 && std::getenv("TMPDIR") == nullptr;
  if (inMemory) ::setenv("TMPDIR", "/dev/shm", 1);
  testutil::TempDir extracted;
  if (inMemory) ::unsetenv("TMPDIR");
  for (const char* name : {"raw.vzr", "l9.vzr", "many.vzr"}) {
    const std::string out = extracted / name, point = dir / (std::string("m-") + name);
    fs::create_directories(out);
    ASSERT_EQ(RunVzr({"extract", "-C", out, dir / name}).status, 0) << name;
    Mounted m(dir / name, point);
    ASSERT_EQ(m.result.status, 0) << m.result.err;
    // Of the 100,000 files every one is listed with its size, every 97th read.
    const std::size_t step = std::string(name) == "many.vzr" ? 97 : 1;
    EXPECT_EQ(Files(point, step), Files(out, step)) << name;
  }
}

TEST(CliMount, ReadsAtSegmentBoundaries) {
  REQUIRE_FUSE();
  testutil::TempDir dir;
  const std::string content = Varied(3 * 32768 + 100, 5);
  testutil::WriteFileText(dir / "src/big.bin", content);
  ASSERT_EQ(RunVzr({"pack", "--compress=6", dir / "src", dir / "s.vzr"}).status, 0);
  Mounted m(dir / "s.vzr", dir / "mp");
  ASSERT_EQ(m.result.status, 0) << m.result.err;
  const int fd = ::open((dir / "mp/big.bin").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  const std::size_t k = 32768;
  const std::pair<std::size_t, std::size_t> ranges[] = {
      {0, k}, {k, k}, {k - 1, 2}, {k - 10, 10}, {2 * k - 5, k + 10}, {0, content.size()}, {content.size() - 1, 50},
      {content.size(), 10}};
  for (auto [offset, n] : ranges) {
    std::string got(n, '\0');
    const ssize_t r = ::pread(fd, got.data(), n, static_cast<off_t>(offset));
    ASSERT_GE(r, 0) << offset;
    got.resize(static_cast<std::size_t>(r));
    EXPECT_EQ(got, content.substr(std::min(offset, content.size()), n)) << offset << "+" << n;
  }
  ::close(fd);
}

TEST(CliMount, HostileNamesHiddenAndNamedOnce) {
  REQUIRE_FUSE();
  testutil::TempDir dir;
  struct Row {
    std::string stored, shown;  // shown "": not shown
  } rows[] = {{"ok/a.con", "ok/a.con"}, {"/lead/b.con", "lead/b.con"}, {"back\\slash.con", "back/slash.con"},
              {"../up.con", ""},       {"ok/../../esc", ""},          {"C:/drive.con", ""},
              {std::string("ze\0ro", 5), ""}, {"", ""},                {"trail/", ""},
              {"OK/A.CON", "ok/a.con"}, {"./dot//./c.con", "dot/c.con"}, {".", ""},
              {"dot/.", ""}};
  testutil::ArchiveLayout layout;
  for (std::size_t i = 0; i < std::size(rows); ++i) layout.AddRaw(rows[i].stored, "row" + std::to_string(i));
  layout.WriteTo(dir / "h.vzr");
  Mounted m(dir / "h.vzr", dir / "mp");
  ASSERT_EQ(m.result.status, 0) << m.result.err;
  std::map<std::string, std::string> expected;
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    if (!rows[i].shown.empty()) expected[rows[i].shown] = "row" + std::to_string(i);  // the last one shows
    if (!rows[i].shown.empty() || rows[i].stored.empty() || rows[i].stored.find('\0') != std::string::npos) continue;
    const std::string line = "'" + rows[i].stored + "' not shown";
    const std::size_t at = m.result.err.find(line);
    EXPECT_NE(at, std::string::npos) << line << "\n" << m.result.err;
    EXPECT_EQ(m.result.err.find(line, at + 1), std::string::npos) << line;
  }
  EXPECT_EQ(Files(dir / "mp"), expected);
}

TEST(CliMount, ArchiveReplacedWhileMountedStillShowsWhatWasMounted) {
  REQUIRE_FUSE();
  testutil::TempDir dir;
  testutil::ArchiveLayout layout;
  layout.AddRaw("a.con", "mounted");
  layout.AddRaw("b.con", "kept");
  layout.WriteTo(dir / "r.vzr");
  Mounted m(dir / "r.vzr", dir / "mp");
  ASSERT_EQ(m.result.status, 0) << m.result.err;
  testutil::WriteFileText(dir / "new.con", "a new copy moved over the archive");
  ASSERT_EQ(RunVzr({"update", dir / "r.vzr", "a.con", dir / "new.con"}).status, 0);
  EXPECT_EQ(Files(dir / "mp"), (std::map<std::string, std::string>{{"a.con", "mounted"}, {"b.con", "kept"}}));
}

TEST(CliMount, ModViewEqualsModUnpack) {
  REQUIRE_FUSE();
  testutil::TempDir dir;
  const std::string mod = dir / "mod";
  fs::create_directories(mod + "/hx1920");
  auto pack = [&](const std::string& archive, std::vector<std::pair<std::string, std::string>> files) {
    testutil::ArchiveLayout layout;
    for (const auto& [name, text] : files) layout.AddRaw(name, text);
    layout.WriteTo(mod + "/Archives/" + archive);
  };
  pack("objects.vzr", {{"objects/crate.con", "base crate"}, {"objects/door.con", "base door"}});
  pack("zz.vzr", {{"Objects/Crate.con", "later crate"}, {"sound/hit.wav", "hit"}});
  pack("hx1920/game.vzr", {{"objects/door.con", "game door"}, {"game/rules.con", "rules"}});
  pack("hx1920/levels/l1.vzr", {{"levels/l1/map.rs", "map"}, {"game/rules.con", "level rules"}});
  fs::create_directories(dir / "unpacked");
  ASSERT_EQ(RunVzr({"mod", "unpack", mod, dir / "unpacked"}).status, 0);
  Mounted m(mod, dir / "mp");
  ASSERT_EQ(m.result.status, 0) << m.result.err;
  EXPECT_EQ(Files(dir / "mp"), Files(dir / "unpacked"));
}

TEST(CliMount, WritableChangesGoIntoTheArchiveAtUnmount) {
  REQUIRE_FUSE();
  testutil::TempDir dir;
  testutil::ArchiveLayout layout;
  layout.storageMode = 1;
  for (auto [name, text] : {std::pair{"scripts/a.con", "speed = 1\n"}, {"scripts/b.con", "bbb"}, {"gone.txt", "x"}})
    layout.entries.push_back({name, testutil::LiteralSegmentedForm(testutil::ToBytes(text)),
                              static_cast<uint32_t>(std::strlen(text))});
  layout.WriteTo(dir / "w.vzr");
  testutil::WriteFileText(dir / "new.con", "brand new");
  {
    Mounted m(dir / "w.vzr", dir / "mp", {"-o", "rw,level=9"});
    ASSERT_EQ(m.result.status, 0) << m.result.err;
    const std::string script = "set -e; cd " + dir / "mp" +
                               "; cp ../new.con scripts/; sed -i 's/1/2/' scripts/a.con; mv scripts/b.con moved.con;"
                               " rm gone.txt; mkdir -p made/empty; mkdir kept; cp ../new.con kept/";
    ASSERT_EQ(std::system(script.c_str()), 0);
    const auto r = m.Unmount();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("empty folder 'made"), std::string::npos) << r.err;
  }
  EXPECT_EQ(RunVzr({"test", dir / "w.vzr"}).status, 0);
  fs::create_directories(dir / "out");
  ASSERT_EQ(RunVzr({"extract", "-C", dir / "out", dir / "w.vzr"}).status, 0);
  const std::map<std::string, std::string> expected = {{"scripts/a.con", "speed = 2\n"},
                                                       {"scripts/new.con", "brand new"},
                                                       {"moved.con", "bbb"},
                                                       {"kept/new.con", "brand new"}};
  EXPECT_EQ(Files(dir / "out"), expected);
  EXPECT_FALSE(fs::exists(dir / ".w.vzr.overlay"));
}

TEST(CliMount, KilledServerLeavesTheArchiveAndKeepsTheChanges) {
  REQUIRE_FUSE();
  testutil::TempDir dir;
  testutil::ArchiveLayout layout;
  layout.AddRaw("a.con", "old");
  layout.WriteTo(dir / "k.vzr");
  const testutil::Bytes before = testutil::ReadFileBytes(dir / "k.vzr");
  {
    Mounted m(dir / "k.vzr", dir / "mp", {"-o", "rw"});
    ASSERT_EQ(m.result.status, 0) << m.result.err;
    testutil::WriteFileText(dir / "mp/a.con", "new");
    ASSERT_EQ(::unlink((dir / "mp/a.con").c_str()), 0);
    testutil::WriteFileText(dir / "mp/b.con", "written");
    ASSERT_EQ(::kill(ServerOf(dir / "k.vzr"), SIGKILL), 0);
    const auto r = m.Unmount();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("kept in " + dir / ".k.vzr.overlay"), std::string::npos) << r.err;
  }
  EXPECT_EQ(testutil::ReadFileBytes(dir / "k.vzr"), before);
  Mounted again(dir / "k.vzr", dir / "mp", {"-o", "rw"});
  ASSERT_EQ(again.result.status, 0) << again.result.err;
  EXPECT_EQ(Files(dir / "mp"), (std::map<std::string, std::string>{{"b.con", "written"}}));
}

// A writable mount over the folder that holds its overlay would reach the
// overlay through itself: the first write would hang every program there.
TEST(CliMount, WritableMountThatWouldHideItsOverlayIsRefused) {
  REQUIRE_FUSE();
  testutil::TempDir dir;
  testutil::ArchiveLayout layout;
  layout.AddRaw("a.con", "old");
  layout.WriteTo(dir / "sub/x.vzr");
  for (const std::string& point : {dir.str(), dir / "sub", dir / "sub/.x.vzr.overlay"}) {
    Mounted m(dir / "sub/x.vzr", point, {"-o", "rw"});
    EXPECT_EQ(m.result.status, 2) << point;
    EXPECT_NE(m.result.err.find("it would hide " + dir / "sub/.x.vzr.overlay"), std::string::npos) << m.result.err;
  }
}

TEST(CliMount, FailedRewriteKeepsTheOverlayForTheNextMount) {
  REQUIRE_FUSE();
  testutil::TempDir dir;
  testutil::ArchiveLayout layout;
  layout.AddRaw("a.con", "old");
  layout.WriteTo(dir / "f.vzr");
  {
    Mounted m(dir / "f.vzr", dir / "mp", {"-o", "rw"});
    ASSERT_EQ(m.result.status, 0) << m.result.err;
    testutil::WriteFileText(dir / "mp/a.con", "changed");
    fs::rename(dir / "f.vzr", dir / "away.vzr");  // the archive is gone at unmount
    const auto r = m.Unmount();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("could not be rewritten"), std::string::npos) << r.err;
  }
  fs::rename(dir / "away.vzr", dir / "f.vzr");
  {
    Mounted m(dir / "f.vzr", dir / "mp", {"-o", "rw"});
    ASSERT_EQ(m.result.status, 0) << m.result.err;
    EXPECT_EQ(Text(dir / "mp/a.con"), "changed");
    EXPECT_EQ(m.Unmount().status, 0);
  }
  EXPECT_EQ(RunVzr({"cat", dir / "f.vzr", "a.con"}).out, "changed");
}

TEST(CliMount, OneFileUnderEveryCaseOfItsNameAndStillReadableWhenRemovedOpen) {
  REQUIRE_FUSE();
  testutil::TempDir dir;
  testutil::ArchiveLayout layout;
  layout.AddRaw("Scripts/A.con", "hello");
  layout.AddRaw("b.con", "bbbb");
  layout.WriteTo(dir / "c.vzr");
  {
    Mounted m(dir / "c.vzr", dir / "mp", {"-o", "rw"});
    ASSERT_EQ(m.result.status, 0) << m.result.err;
    struct stat exact {}, other {};
    ASSERT_EQ(::stat((dir / "mp/Scripts/A.con").c_str(), &exact), 0);
    ASSERT_EQ(::stat((dir / "mp/SCRIPTS/a.CON").c_str(), &other), 0);
    EXPECT_EQ(exact.st_ino, other.st_ino);
    EXPECT_EQ(Text(dir / "mp/scripts/a.con"), "hello");
    ASSERT_EQ(::rename((dir / "mp/b.con").c_str(), (dir / "mp/B.con").c_str()), 0);  // only the case changes
    EXPECT_EQ(Files(dir / "mp"), (std::map<std::string, std::string>{{"Scripts/A.con", "hello"}, {"B.con", "bbbb"}}));
    const int fd = ::open((dir / "mp/B.con").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::unlink((dir / "mp/B.con").c_str()), 0);
    ASSERT_EQ(::pwrite(fd, "cc", 2, 4), 2);
    struct stat open {};
    char back[8] = {};
    EXPECT_EQ(::fstat(fd, &open), 0);
    EXPECT_EQ(open.st_size, 6);
    EXPECT_EQ(::pread(fd, back, sizeof back, 0), 6);
    EXPECT_STREQ(back, "bbbbcc");
    ::close(fd);
    EXPECT_EQ(m.Unmount().status, 0);
  }
  fs::create_directories(dir / "out");
  ASSERT_EQ(RunVzr({"extract", "-C", dir / "out", dir / "c.vzr"}).status, 0);
  EXPECT_EQ(Files(dir / "out"), (std::map<std::string, std::string>{{"Scripts/A.con", "hello"}}));
}

TEST(CliMount, ForegroundMountEndedBySigtermAppliesTheChangesAndSucceeds) {
  REQUIRE_FUSE();
  testutil::TempDir dir;
  testutil::ArchiveLayout layout;
  layout.AddRaw("a.con", "old");
  layout.WriteTo(dir / "t.vzr");
  fs::create_directories(dir / "mp");
  const pid_t server = clitest::StartVzr({"mount", "-f", "-o", "rw", dir / "t.vzr", dir / "mp"}, dir / "out", dir / "err");
  struct stat point {}, parent {};
  for (int i = 0; i < 100 && (point.st_dev == parent.st_dev); ++i) {
    ::usleep(50000);
    ::stat((dir / "mp").c_str(), &point);
    ::stat(dir.path().c_str(), &parent);
  }
  ASSERT_NE(point.st_dev, parent.st_dev) << Text(dir / "err");
  testutil::WriteFileText(dir / "mp/n.con", "new");
  ASSERT_EQ(::kill(server, SIGTERM), 0);
  int ws = 0;
  ASSERT_EQ(::waitpid(server, &ws, 0), server);
  EXPECT_TRUE(WIFEXITED(ws) && WEXITSTATUS(ws) == 0) << ws << " " << Text(dir / "err");
  EXPECT_EQ(RunVzr({"cat", dir / "t.vzr", "n.con"}).out, "new");
}

}  // namespace

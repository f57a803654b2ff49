// Black-box tests of "vzr grep": what it finds is what grep finds in the
// extracted tree, in raw and compressed archives alike.
#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <sstream>

#include "run_vzr.h"

using clitest::RunVzr;
using testutil::WriteFileText;

namespace {

std::string Script(std::size_t n, unsigned seed) {
  static const char* const kWords[] = {"spawn", "Spawn", "cart_03", "cart", "carts", "truck_12", "define",
                                       "lantern", "{", "}", "halt", "// keeper waits", "SPAWN", "42"};
  std::mt19937 rng(seed);
  std::string out;
  while (out.size() < n) {
    for (int w = 1 + int(rng() % 6); w > 0; --w) out += std::string(kWords[rng() % std::size(kWords)]) + " ";
    out.back() = rng() % 9 ? '\n' : ' ';  // some long lines
  }
  out.resize(n);
  return out;
}

// Scripts of several sizes; one word, "boundary_marker", lies across the
// first segment boundary, on a line that spans it.
void MakeTree(const std::string& root) {
  for (int i = 0; i < 6; ++i) WriteFileText(root + "/scripts/s" + std::to_string(i) + ".con", Script(500 + i * 23000, i));
  std::string big = Script(100000, 77);
  big.replace(32760, 15, "boundary_marker");
  WriteFileText(root + "/levels/big.rs", big);
  WriteFileText(root + "/empty.con", "");
}

std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
    ::pclose(p);
  }
  return out;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// grep -rn's lines over the extracted tree ("entry:line:text"), put in the
// archive's index order (grep walks folders in no fixed order).
std::vector<std::string> GrepLines(const std::string& tree, const std::string& flags, const std::string& pattern,
                                   const std::vector<std::string>& indexOrder) {
  std::vector<std::string> lines =
      Lines(Shell("cd '" + tree + "' && LC_ALL=C grep -rn " +
                  (flags.find("-F") == std::string::npos ? "-E " : "") + flags + " -e '" + pattern + "' ."));
  auto key = [&](const std::string& line) {
    const std::size_t colon = line.find(':'), second = line.find(':', colon + 1);
    const std::string name = line.substr(2, colon - 2);
    const auto at = std::find(indexOrder.begin(), indexOrder.end(), name) - indexOrder.begin();
    return std::make_pair(at, std::stoul(line.substr(colon + 1, second - colon - 1)));
  };
  std::stable_sort(lines.begin(), lines.end(), [&](const auto& a, const auto& b) { return key(a) < key(b); });
  for (std::string& line : lines) line.erase(0, 2);
  return lines;
}

TEST(CliGrep, FindsWhatGrepFindsInTheExtractedTree) {
#ifdef _WIN32
  GTEST_SKIP() << "the oracle is the system's grep run through a POSIX shell, which Windows has not";
#endif
  testutil::TempDir dir;
  MakeTree(dir / "tree");
  const struct {
    const char* flags;
    const char* pattern;
  } cases[] = {{"-F", "cart_03"}, {"", "spawn (cart|truck)_[0-9]+"}, {"-i", "spawn"},
               {"-w", "cart"},    {"", "boundary_marker"},            {"-i -w", "halt [0-9]+"}};
  for (const char* level : {"--compress=0", "--compress=9"}) {
    const std::string archive = dir / "a.vzr";
    std::filesystem::remove_all(dir / "out");
    std::filesystem::remove(archive);
    std::filesystem::create_directory(dir / "out");
    ASSERT_EQ(RunVzr({"pack", level, dir / "tree", archive}).status, 0);
    ASSERT_EQ(RunVzr({"extract", "-C", dir / "out", archive}).status, 0);
    const std::vector<std::string> order = Lines(RunVzr({"list", archive}).out);
    for (const auto& c : cases) {
      std::vector<std::string> args = {"grep", "-n", c.pattern, archive};
      std::istringstream flags(c.flags);
      for (std::string f; flags >> f;) args.insert(args.begin() + 1, f);
      const auto r = RunVzr(args);
      std::vector<std::string> found = Lines(r.out);
      for (std::string& line : found) line.erase(0, archive.size() + 1);
      const std::vector<std::string> expected = GrepLines(dir / "out", c.flags, c.pattern, order);
      EXPECT_FALSE(expected.empty()) << c.pattern;
      EXPECT_EQ(found, expected) << level << " " << c.flags << " " << c.pattern;
      EXPECT_EQ(r.status, 0);
    }
  }
}

TEST(CliGrep, BinaryEntriesAndOutputForms) {
  testutil::TempDir dir;
  WriteFileText(dir / "t/a.con", "spawn cart_03\nidle\r\nspawn lantern\n");
  WriteFileText(dir / "t/b.bin", std::string("head\0spawn here\n", 16));
  WriteFileText(dir / "t/sub/c.rs", "nothing\n");
  ASSERT_EQ(RunVzr({"pack", "--compress=9", dir / "t", dir / "x.vzr"}).status, 0);
  const std::string x = dir / "x.vzr";
  EXPECT_EQ(RunVzr({"grep", "spawn", x}).out, x + ":a.con:spawn cart_03\n" + x + ":a.con:spawn lantern\n" + x +
                                                   ":b.bin: binary entry matches\n");
  EXPECT_EQ(RunVzr({"grep", "-a", "-n", "here", x}).out, x + ":b.bin:1:head\\000spawn here\n");
  EXPECT_EQ(RunVzr({"grep", "-n", "idle", x}).out, x + ":a.con:2:idle\n");  // no CR
  EXPECT_EQ(RunVzr({"grep", "--name", "*.con", "spawn", x}).out,
            x + ":a.con:spawn cart_03\n" + x + ":a.con:spawn lantern\n");
  EXPECT_EQ(RunVzr({"grep", "-l", "spawn", dir.str()}).out, x + "\ta.con\n" + x + "\tb.bin\n");
  EXPECT_EQ(RunVzr({"grep", "-c", "spawn", x}).out, x + ":a.con:2\n" + x + ":b.bin:1\n");
  EXPECT_EQ(RunVzr({"grep", "--json", "lantern", x}).out,
            "{\"archive\":\"" + x + "\",\"entry\":\"a.con\",\"line\":3,\"offset\":20,\"text\":\"spawn lantern\"}\n");
  EXPECT_EQ(RunVzr({"grep", "zebra", x}).status, 1);
  EXPECT_EQ(RunVzr({"grep", "(unclosed", x}).status, 2);
  EXPECT_EQ(RunVzr({"grep", "spawn", dir / "missing.vzr"}).status, 2);
}

TEST(CliGrep, DamagedEntryIsNamedAndTheRestSearched) {
  testutil::TempDir dir;
  WriteFileText(dir / "t/a.con", "spawn one\n");
  WriteFileText(dir / "t/b.con", Script(70000, 3));
  WriteFileText(dir / "t/c.con", "spawn three\n");
  ASSERT_EQ(RunVzr({"pack", "--compress=9", dir / "t", dir / "x.vzr"}).status, 0);
  testutil::Bytes bytes = testutil::ReadFileBytes(dir / "x.vzr");
  // b.con's second segment's stream: replaced by unused instruction bytes.
  const std::string list = RunVzr({"list", "--long", dir / "x.vzr"}).out;
  std::istringstream in(list.substr(list.find('\n') + 1));
  uint32_t size = 0, stored = 0, offset = 0;
  in >> size >> stored >> offset;
  const uint32_t second = testutil::GetLE32(bytes, offset + 4 + 12 + 8);
  for (int k = 0; k < 16; ++k) bytes.at(offset + 4 + 3 * 12 + second + k) = 24;
  testutil::WriteFileBytes(dir / "x.vzr", bytes);
  const auto r = RunVzr({"grep", "spawn", dir / "x.vzr"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("a.con:spawn one"), std::string::npos);
  EXPECT_NE(r.out.find("c.con:spawn three"), std::string::npos);
  EXPECT_NE(r.err.find("b.con: segment 2 of 3: damaged stream"), std::string::npos) << r.err;
  // An archive that cannot be read, in a folder: named, the others searched.
  testutil::WriteFileText(dir / "a_cut.vzr", "not an archive");
  const auto folder = RunVzr({"grep", "--threads", "2", "spawn", dir.str()});
  EXPECT_EQ(folder.status, 1);
  EXPECT_NE(folder.err.find("a_cut.vzr: not an archive"), std::string::npos) << folder.err;
  EXPECT_NE(folder.out.find("c.con:spawn three"), std::string::npos);
  // Alone, it leaves nothing searched: not the "no match" of status 1.
  EXPECT_EQ(RunVzr({"grep", "spawn", dir / "a_cut.vzr"}).status, 2);
}

TEST(CliGrep, HostilePatternFinishes) {
  testutil::TempDir dir;
  WriteFileText(dir / "t/a.con", std::string(2000000, 'a') + "\n" + std::string(3000, 'x'));
  ASSERT_EQ(RunVzr({"pack", dir / "t", dir / "x.vzr"}).status, 0);
  for (const char* pattern : {"(a*)*b", "(x+x+)+y", "(a|aa)*c"})
    EXPECT_EQ(RunVzr({"grep", "-c", pattern, dir / "x.vzr"}).status, 1) << pattern;
}

TEST(CliGrep, SameOutputOnOneThreadAndFour) {
  testutil::TempDir dir;
  MakeTree(dir / "tree");
  std::filesystem::create_directory(dir / "set");
  for (const char* name : {"a", "b", "c"})
    ASSERT_EQ(RunVzr({"pack", "--compress=6", dir / "tree", dir / ("set/" + std::string(name) + ".vzr")}).status, 0);
  const auto one = RunVzr({"grep", "-n", "--threads", "1", "spawn|cart", dir / "set"});
  const auto four = RunVzr({"grep", "-n", "--threads", "4", "spawn|cart", dir / "set"});
  EXPECT_GT(one.out.size(), 100000u);
  EXPECT_EQ(one.out, four.out);
}

}  // namespace

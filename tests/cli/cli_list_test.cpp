// Black-box tests of vzr's command handling and "vzr list".
#include "run_vzr.h"

using clitest::RunVzr;

namespace {

class CliList : public ::testing::Test {
 protected:
  void SetUp() override {
    testutil::ArchiveLayout layout;
    layout.AddRaw("scripts/intro.con", "say hello\n");
    layout.AddRaw("Objects/Carts/axle.rs", std::string(300, 'x'));
    layout.WriteTo(archive);
  }
  testutil::TempDir dir;
  std::string archive = dir / "a.vzr";
};

TEST_F(CliList, NamesOneALineOptionsAnywhere) {
  auto r = RunVzr({"list", archive});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "scripts/intro.con\nObjects/Carts/axle.rs\n");
  EXPECT_EQ(r.err, "");
  auto l = RunVzr({"list", archive, "--long"});
  EXPECT_EQ(l.status, 0);
  EXPECT_NE(l.out.find("300"), std::string::npos);
  EXPECT_NE(l.out.find(" Objects/Carts/axle.rs\n"), std::string::npos);
  auto j = RunVzr({"list", archive, "objects/CARTS", "--json"});
  EXPECT_EQ(j.out, "[\n{\"name\":\"Objects/Carts/axle.rs\",\"size\":300,\"stored\":300,\"offset\":166}\n]\n");
}

TEST_F(CliList, PatternSelectingNothingIsNamedExitOne) {
  auto none = RunVzr({"list", archive, "nomatch*"});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(none.err, "vzr: " + archive + ": no entry matches 'nomatch*'\n");
  // The entries the other patterns select are still listed.
  auto some = RunVzr({"list", archive, "scripts/*", "nomatch*"});
  EXPECT_EQ(some.status, 1);
  EXPECT_EQ(some.out, "scripts/intro.con\n");
  EXPECT_NE(some.err.find("'nomatch*'"), std::string::npos);
}

TEST_F(CliList, DoubleDashEndsOptions) {
  testutil::WriteFileBytes(dir / "--long", testutil::ReadFileBytes(archive));
  auto r = RunVzr({"list", "--", "--long"}, dir.str());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "scripts/intro.con\nObjects/Carts/axle.rs\n");
}

TEST(CliCommand, VersionHelpAndUsageErrors) {
  auto v = RunVzr({"--version"});
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out, std::string("vzr ") + VZR_VERSION_TEXT + "\n");
  auto h = RunVzr({"help", "list"});
  EXPECT_EQ(h.status, 0);
  EXPECT_NE(h.out.find("--long"), std::string::npos);
  EXPECT_EQ(RunVzr({"list", "--help"}).out, h.out);
  auto u = RunVzr({"frobnicate"});
  EXPECT_EQ(u.status, 2);
  EXPECT_EQ(u.err.rfind("vzr: ", 0), 0u);
  auto o = RunVzr({"list", "--bogus", "x.vzr"});
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("--bogus"), std::string::npos);
}

}  // namespace

namespace {

TEST(CliInfo, CountsAndUnusedBytes) {
  testutil::TempDir dir;
  testutil::ArchiveLayout layout;
  layout.AddRaw("a", std::string(100, 'a'));
  layout.AddRaw("b", std::string(50, 'b'));
  testutil::Bytes bytes = layout.Build();
  // Point b at the start of a: the 50 bytes of b's own place become unused.
  const uint32_t indexOffset = testutil::GetLE32(bytes, 0);
  const size_t bOffsetField = indexOffset + 4 + (4 + 1 + 24) + 4 + 1 + 8;
  for (int i = 0; i < 4; ++i) bytes[bOffsetField + i] = static_cast<unsigned char>(156 >> (8 * i));
  testutil::WriteFileBytes(dir / "a.vzr", bytes);
  auto r = RunVzr({"info", "--json", dir / "a.vzr"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"entries\":2,\"contentBytes\":150,\"storedBytes\":150,\"indexOffset\":306,"
                       "\"unusedBytes\":50"),
            std::string::npos)
      << r.out;
}

}  // namespace

namespace {

// Control bytes in names (a hostile archive's terminal commands, or a line
// break that would pass for a second entry) are shown escaped wherever a
// name reaches a terminal; JSON escapes them its own way.
TEST(CliNames, ControlBytesAreShownEscaped) {
  testutil::TempDir dir;
  const std::string archive = dir / "e.vzr";
  testutil::ArchiveLayout layout;
  layout.AddRaw("red\x1b[31m.con", "a");
  layout.AddRaw("two\nlines.con", "b");
  layout.AddRaw("tab\there\x7f.con", "c");
  layout.WriteTo(archive);
  const std::string shown = "red\\033[31m.con\ntwo\\nlines.con\ntab\\there\\177.con\n";
  EXPECT_EQ(RunVzr({"list", archive}).out, shown);
#ifndef _WIN32
  // Windows holds no name with a control byte: extraction refuses each of
  // them there (CliWindowsNames tests that), so only listings show them.
  EXPECT_EQ(RunVzr({"extract", "-v", "-C", dir.str(), archive}).out, shown);
#endif
  EXPECT_EQ(RunVzr({"find", "*", archive}).out.find('\x1b'), std::string::npos);
  const auto missing = RunVzr({"cat", archive, "no\x1b]0;title\a"});
  EXPECT_NE(missing.err.find("no\\033]0;title\\a"), std::string::npos) << missing.err;
  EXPECT_NE(RunVzr({"list", "--json", archive}).out.find("\"two\\u000alines.con\""), std::string::npos);
}

}  // namespace

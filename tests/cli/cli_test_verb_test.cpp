// Black-box tests of "vzr test" and of bad inputs.
#include "run_vzr.h"

using clitest::RunVzr;

namespace {

TEST(CliTest, SoundAndDamagedArchives) {
  testutil::TempDir dir;
  testutil::ArchiveLayout good;
  good.AddRaw("a.con", "alpha");
  good.AddRaw("A.CON", "again");
  good.WriteTo(dir / "good.vzr");
  testutil::ArchiveLayout bad;
  bad.AddRaw("../up.con", "x");
  bad.AddRaw("maps/.", "a file named as its folder");
  bad.AddRaw("./maps/./b.con", "b");
  bad.AddRaw("maps//B.CON", "the same file as ./maps/./b.con");
  bad.entries.push_back({"short.rs", testutil::ToBytes("abc"), 10});  // fileSize larger than stored
  bad.WriteTo(dir / "bad.vzr");
  auto r = RunVzr({"test", dir / "good.vzr", dir / "bad.vzr"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("OK  " + dir / "good.vzr\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("A.CON: duplicate name"), std::string::npos);
  EXPECT_NE(r.out.find("../up.con: name leads outside"), std::string::npos);
  EXPECT_NE(r.out.find("maps/.: name ends with '.' (names a folder)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("maps//B.CON: duplicate name"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("short.rs: does not decode"), std::string::npos);
  EXPECT_EQ(RunVzr({"test", dir / "good.vzr"}).status, 0);
}

// Damaged archives "vzr test" must find, each with the problem it must name.
TEST(CliTest, DamagedArchiveTable) {
  using testutil::Bytes;
  auto raw = [](std::vector<std::pair<std::string, std::string>> entries, uint32_t mode = 0) {
    testutil::ArchiveLayout l;
    l.storageMode = mode;
    for (auto& [name, content] : entries) l.AddRaw(name, content);
    return l.Build();
  };
  auto put = [](Bytes b, std::size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<unsigned char>(v >> (8 * i));
    return b;
  };
  const Bytes one = raw({{"a.con", "alpha"}});
  const uint32_t oneIndex = testutil::GetLE32(one, 0);  // "a.con": compSize at +13, fileOffset at +21
  const Bytes two = raw({{"a.con", "alpha"}, {"b.con", "bravo"}});
  const uint32_t twoIndex = testutil::GetLE32(two, 0);  // b.con's fileOffset at +54
  testutil::ArchiveLayout seg;
  seg.storageMode = 1;
  seg.entries.push_back({"big.rs", testutil::LiteralSegmentedForm(Bytes(40000, 'x')), 40000});
  const Bytes segmented = seg.Build();  // records from 156 + 4: compLength, rawLength, streamOffset
  Bytes shortHeader = put(Bytes(100, 0), 0, 8);
  struct Case {
    const char* what;
    Bytes archive;
    const char* problem;
  } cases[] = {
      {"short header", shortHeader, "header cut short"},
      {"index in header", put(put(raw({}), 100, 0), 0, 100), "index offset 100 lies in the header"},
      {"unknown mode", raw({{"empty.con", ""}}, 7), "unknown storage mode 7"},
      {"cut index", Bytes(two.begin(), two.end() - 10), "damaged index"},
      {"past the index", put(one, oneIndex + 13, 10), "a.con: stored form outside the data area"},
      {"overlap", put(two, twoIndex + 54, 156), "b.con: stored form overlaps a.con"},
      {"segment size", put(segmented, 156 + 8, 30000), "big.rs: segment 1 of 2 holds 30000 bytes"},
      {"stream outside", put(segmented, 156 + 16, 50000), "big.rs: segment 2 of 2: stream outside the entry"},
      {"zero byte", raw({{std::string("a\0b.con", 7), "x"}}), "a: name holds a zero byte"},
      {"drive", raw({{"C:x.con", "x"}}), "C:x.con: name starts with a drive"},
      {"empty name", raw({{"", "x"}}), ": empty name"},
      {"no trailer", Bytes(one.begin(), one.end() - 4), "trailer missing (0 of 4 bytes after the index)"},
      {"part of a trailer", Bytes(one.begin(), one.end() - 1), "trailer missing (3 of 4 bytes"},
      {"bytes after", [&] { Bytes b = one; b.insert(b.end(), 5, 0); return b; }(), "5 bytes after the trailer"},
      {"trailer not zero", put(one, one.size() - 4, 9), "trailer is 9, not 0"},
  };
  testutil::TempDir dir;
  for (const Case& c : cases) {
    testutil::WriteFileBytes(dir / "t.vzr", c.archive);
    auto r = RunVzr({"test", dir / "t.vzr"});
    EXPECT_EQ(r.status, 1) << c.what << ": " << r.out << r.err;
    EXPECT_NE(r.out.find("BAD " + dir / "t.vzr: " + c.problem), std::string::npos) << c.what << ": " << r.out;
  }
}

struct BadInput {
  const char* what;
  std::vector<std::string> args;  // "@" stands for the test folder
  int status;
  const char* message;
};

TEST(CliBadInputs, OneLineAndStatus) {
  testutil::TempDir dir;
  testutil::WriteFileText(dir / "empty.vzr", "");
  testutil::WriteFileText(dir / "text.vzr", "just some words, not an archive at all\n");
  testutil::ArchiveLayout layout;
  layout.AddRaw("a.con", std::string(1000, 'a'));
  testutil::Bytes bytes = layout.Build();
  testutil::WriteFileBytes(dir / "cut.vzr", testutil::Bytes(bytes.begin(), bytes.begin() + 600));
  testutil::Bytes absurd = bytes;
  const uint32_t at = testutil::GetLE32(bytes, 0);
  absurd[at] = absurd[at + 1] = absurd[at + 2] = absurd[at + 3] = 0xff;
  testutil::WriteFileBytes(dir / "absurd.vzr", absurd);
  layout.WriteTo(dir / "ok.vzr");
  const std::string longName(300, 'n');
  const BadInput cases[] = {
      {"missing file", {"list", "@/none.vzr"}, 2, "No such file"},
      {"folder", {"info", "@"}, 2, "is a folder"},
      {"empty file", {"list", "@/empty.vzr"}, 2, "not an archive"},
      {"text file", {"info", "@/text.vzr"}, 2, "not an archive"},
      {"truncated", {"list", "@/cut.vzr"}, 2, "not an archive"},
      {"absurd count", {"list", "@/absurd.vzr"}, 1, "damaged index"},
      {"long name", {"cat", "@/ok.vzr", longName}, 1, "no entry named"},
      {"no match", {"extract", "-C", "@", "@/ok.vzr", "zzz*"}, 1, "no entry matches"},
      {"unknown verb", {"explode"}, 2, "unknown verb"},
      {"unknown option", {"list", "--frob", "@/ok.vzr"}, 2, "unknown option"},
  };
  for (const BadInput& c : cases) {
    std::vector<std::string> args;
    for (std::string a : c.args) args.push_back(a[0] == '@' ? dir.str() + a.substr(1) : a);
    auto r = RunVzr(args);
    EXPECT_EQ(r.status, c.status) << c.what << ": " << r.err;
    EXPECT_EQ(r.err.rfind("vzr: ", 0), 0u) << c.what;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.what << ": " << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << ": " << r.err;
  }
}

}  // namespace

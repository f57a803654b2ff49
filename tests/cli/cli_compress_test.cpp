// Black-box tests of compression on the command line: pack --compress,
// --threads, --level of add and update, recompress and mod pack --compress.
#include <filesystem>
#include <random>

#include "run_vzr.h"

using clitest::RunVzr;
using testutil::Bytes;
using testutil::ReadFileBytes;
using testutil::WriteFileBytes;
using testutil::WriteFileText;

namespace {

// Script-like text of n bytes: compressible, and different for each seed.
std::string ScriptText(std::size_t n, unsigned seed) {
  static const char* const kWords[] = {"being", "phase", "sproutat", "ifnear", "wander", "{", "}", "halt",
                                       "var", "glimmer_gate", "2048", "17", "// the lantern keeper waits"};
  std::mt19937 rng(seed);
  std::string out;
  while (out.size() < n) {
    out.append(rng() % 4, '\t');
    for (int w = 1 + int(rng() % 5); w > 0; --w) out += std::string(kWords[rng() % std::size(kWords)]) + " ";
    out.back() = '\n';
  }
  out.resize(n);
  return out;
}

// Files of many sizes: empty, small, one and several segments, and random bytes.
void MakeTree(const std::string& root) {
  WriteFileText(root + "/empty.con", "");
  for (int i = 0; i < 12; ++i)
    WriteFileText(root + "/scripts/s" + std::to_string(i) + ".con", ScriptText(300 + i * 977, i));
  WriteFileText(root + "/maps/long.rs", ScriptText(150000, 99));
  Bytes noise(40000);
  std::mt19937 rng(5);
  for (unsigned char& b : noise) b = static_cast<unsigned char>(rng());
  WriteFileBytes(root + "/maps/noise.bin", noise);
}

// Every entry's content through vzr cat, by name.
std::vector<std::string> Contents(const std::string& archive) {
  std::vector<std::string> out;
  std::istringstream names(RunVzr({"list", archive}).out);
  for (std::string name; std::getline(names, name);) out.push_back(name + "=" + RunVzr({"cat", archive, name}).out);
  return out;
}

std::string InfoField(const std::string& archive, const std::string& field) {
  const std::string out = RunVzr({"info", archive}).out;
  const std::size_t at = out.find(field + ":");
  if (at == std::string::npos) return "";
  const std::size_t value = out.find_first_not_of(' ', at + field.size() + 1);
  return out.substr(value, out.find('\n', value) - value);
}

TEST(CliCompress, PackIsSmallerPassesTestAndExtractsByteForByte) {
  testutil::TempDir dir;
  MakeTree(dir / "src");
  ASSERT_EQ(RunVzr({"pack", dir / "src", dir / "raw.vzr"}).status, 0);
  auto p = RunVzr({"pack", "--compress", dir / "src", dir / "c.vzr"});
  ASSERT_EQ(p.status, 0) << p.err;
  EXPECT_LT(std::filesystem::file_size(dir / "c.vzr"), std::filesystem::file_size(dir / "raw.vzr") / 2);
  EXPECT_EQ(InfoField(dir / "c.vzr", "storage mode"), "1 (segmented)");
  EXPECT_LT(std::stod(InfoField(dir / "c.vzr", "ratio")), 0.5);
  auto t = RunVzr({"test", dir / "c.vzr"});
  EXPECT_EQ(t.status, 0) << t.out << t.err;
  std::filesystem::create_directory(dir / "out");
  ASSERT_EQ(RunVzr({"extract", "-C", dir / "out", dir / "c.vzr"}).status, 0);
  for (const auto& f : std::filesystem::recursive_directory_iterator(dir / "src")) {
    if (!f.is_regular_file()) continue;
    const std::string rel = std::filesystem::relative(f.path(), dir / "src").string();
    EXPECT_EQ(ReadFileBytes(dir / ("out/" + rel)), ReadFileBytes(f.path().string())) << rel;
  }
}

TEST(CliCompress, BytesDoNotDependOnThreadsAndBareCompressIsTheDefaultLevel) {
  testutil::TempDir dir;
  MakeTree(dir / "src");
  ASSERT_EQ(RunVzr({"pack", "--compress=6", "--threads", "1", dir / "src", dir / "t1.vzr"}).status, 0);
  ASSERT_EQ(RunVzr({"pack", "--compress", "--threads", "4", dir / "src", dir / "t4.vzr"}).status, 0);
  ASSERT_EQ(RunVzr({"pack", "--compress=1", "--threads", "4", dir / "src", dir / "l1.vzr"}).status, 0);
  EXPECT_EQ(ReadFileBytes(dir / "t1.vzr"), ReadFileBytes(dir / "t4.vzr"));
  EXPECT_NE(ReadFileBytes(dir / "t1.vzr"), ReadFileBytes(dir / "l1.vzr"));
}

TEST(CliCompress, RecompressRawToSegmentedToRawKeepsEveryEntry) {
  testutil::TempDir dir;
  MakeTree(dir / "src");
  ASSERT_EQ(RunVzr({"pack", dir / "src", dir / "a.vzr"}).status, 0);
  const Bytes raw = ReadFileBytes(dir / "a.vzr");
  const std::vector<std::string> contents = Contents(dir / "a.vzr");
  auto r = RunVzr({"recompress", "--level", "3", dir / "a.vzr"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Contents(dir / "a.vzr"), contents);
  // The rewrite compresses entry by entry, the pack ahead across files: the
  // same archive all the same.
  ASSERT_EQ(RunVzr({"pack", "--compress=3", dir / "src", dir / "c.vzr"}).status, 0);
  EXPECT_EQ(ReadFileBytes(dir / "a.vzr"), ReadFileBytes(dir / "c.vzr"));
  ASSERT_EQ(RunVzr({"recompress", "--raw", dir / "a.vzr"}).status, 0);
  EXPECT_EQ(ReadFileBytes(dir / "a.vzr"), raw);  // the same entries in the same order
}

// A stored name is kept whole, even one with a zero byte that extraction
// refuses: cut at that byte it would turn into another, writable name.
TEST(CliCompress, RecompressKeepsEveryStoredNameWhole) {
  testutil::TempDir dir;
  testutil::ArchiveLayout layout;
  layout.AddRaw(std::string("ze\0ro.con", 7), "hidden");
  layout.AddRaw("ok.con", "fine");
  layout.WriteTo(dir / "z.vzr");
  ASSERT_EQ(RunVzr({"recompress", "--level", "1", dir / "z.vzr"}).status, 0);
  ASSERT_EQ(RunVzr({"recompress", "--raw", dir / "z.vzr"}).status, 0);
  EXPECT_EQ(ReadFileBytes(dir / "z.vzr"), layout.Build());
}

// New entries of a segmented archive are compressed; a raw archive stays raw.
TEST(CliCompress, AddAndUpdateCompressOnlyInSegmentedArchives) {
  testutil::TempDir dir;
  WriteFileText(dir / "src/a.con", "first");
  WriteFileText(dir / "big.con", ScriptText(20000, 3));
  ASSERT_EQ(RunVzr({"pack", "--compress", dir / "src", dir / "seg.vzr"}).status, 0);
  ASSERT_EQ(RunVzr({"pack", dir / "src", dir / "raw.vzr"}).status, 0);
  for (const std::string archive : {"seg.vzr", "raw.vzr"}) {
    ASSERT_EQ(RunVzr({"add", "--level", "9", dir / archive, dir / "big.con"}).status, 0) << archive;
    ASSERT_EQ(RunVzr({"update", dir / archive, "a.con", dir / "big.con"}).status, 0) << archive;
  }
  // --long: size, stored size, offset, name.
  auto stored = [&](const std::string& archive) {
    std::istringstream lines(RunVzr({"list", "--long", dir / archive}).out);
    std::vector<long> out;
    for (long size, comp, offset; lines >> size >> comp >> offset;) {
      std::string name;
      lines >> name;
      out.push_back(comp);
    }
    return out;
  };
  for (long comp : stored("seg.vzr")) EXPECT_LT(comp, 20000 / 2);
  EXPECT_EQ(stored("raw.vzr"), (std::vector<long>{20000, 20000}));
  EXPECT_EQ(RunVzr({"cat", dir / "seg.vzr", "a.con"}).out, ScriptText(20000, 3));
}

// (The mod's lists never offer a music folder, so only sound can be asked for.)
TEST(CliCompress, ModPackCompressKeepsSoundRaw) {
  testutil::TempDir dir;
  const std::string mod = dir / "mymod";
  std::filesystem::create_directories(mod + "/Archives");
  WriteFileText(mod + "/hxGlacier/game/g.con", ScriptText(5000, 1));
  for (const char* folder : {"sound", "scripts"})
    WriteFileText(mod + "/" + folder + "/x.con", ScriptText(5000, 2));
  auto p = RunVzr({"mod", "pack", "--compress=1", "--all"}, mod);
  ASSERT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(InfoField(mod + "/Archives/sound.vzr", "storage mode"), "0 (raw)");
  EXPECT_EQ(InfoField(mod + "/Archives/scripts.vzr", "storage mode"), "1 (segmented)");
  EXPECT_EQ(InfoField(mod + "/Archives/hxGlacier/game.vzr", "storage mode"), "1 (segmented)");
}

// Each bad value is a usage error: status 2, one "vzr: " line, nothing written.
TEST(CliCompress, BadOptionValuesTable) {
  testutil::TempDir dir;
  WriteFileText(dir / "src/a.con", "text");
  ASSERT_EQ(RunVzr({"pack", "--compress", dir / "src", dir / "a.vzr"}).status, 0);
  const Bytes before = ReadFileBytes(dir / "a.vzr");
  const std::string a = dir / "a.vzr", src = dir / "src", n = dir / "n.vzr", f = dir / "src/a.con";
  const std::vector<std::vector<std::string>> cases = {
      {"pack", "--compress=10", src, n},      {"pack", "--compress=-1", src, n},
      {"pack", "--compress=x", src, n},       {"pack", "--compress=", src, n},
      {"pack", "--compress", "--threads", "0", src, n},
      {"pack", "--compress", "--threads", "two", src, n},
      {"add", "--level", "10", a, f},         {"update", "--level", "", a, "a.con", f},
      {"update", "--threads", "0", a, "a.con", f},
      {"recompress", "--raw", "--level", "1", a},
      {"recompress", "--level", "5x", a},     {"mod", "pack", "--compress=12", "--all"},
  };
  for (const auto& args : cases) {
    auto r = RunVzr(args, dir.str());
    EXPECT_EQ(r.status, 2) << args[1];
    EXPECT_EQ(r.err.rfind("vzr: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  EXPECT_EQ(ReadFileBytes(dir / "a.vzr"), before);
  EXPECT_FALSE(std::filesystem::exists(n));
}

}  // namespace

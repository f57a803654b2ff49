// cli_windows_test.cpp - what vzr.exe promises on Windows alone: names
// Windows cannot hold refused one entry at a time, non-ASCII names from the
// command line through an archive and back, long paths, writers racing, an
// archive held open by another program, Ctrl+Break during a write, the
// archive's attributes, and the verbs a Windows build lacks.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "run_vzr.h"
#include "winsupport.h"

using clitest::FileText;
using clitest::RunVzr;
using testutil::WriteFileText;
namespace fs = std::filesystem;

namespace {

// The words of each refusal the tests look for.
constexpr char kLockWords[] = "another program is writing it; nothing was changed";
constexpr char kInUseWords[] = "in use by another program; nothing was changed";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool Exists(const std::string& path) { return fs::exists(testutil::Utf8Path(path)); }

// The \\?\ form of path, which Windows takes whatever its length.
std::string LongForm(const std::string& path) {
  std::string text = testutil::PathText(fs::absolute(testutil::Utf8Path(path)));
  for (char& c : text)
    if (c == '/') c = '\\';
  return "\\\\?\\" + text;
}

// An archive of one entry and a `vzr add` (the test build) that stands
// still at its first write, holding the archive's lock, until `go` exists.
struct HeldWriter {
  testutil::TempDir dir;
  std::string archive = dir / "a.vzr";
  testutil::Process process;

  HeldWriter() {
    WriteFileText(dir / "src/old.con", "old");
    WriteFileText(dir / "first.con", "first");
    WriteFileText(dir / "second.con", "second");
    EXPECT_EQ(RunVzr({"pack", dir / "src", archive}).status, 0);
    {
      testutil::ScopedEnv pause("VZR_FAULT_PAUSE", "1"), resume("VZR_FAULT_RESUME", dir / "go");
      process =
          clitest::StartVzrProcess({"add", archive, dir / "first.con"}, dir / "out1", dir / "err1", "", VZR_FAULTY_BINARY);
    }
    WaitForTemporary(archive);
  }
  static void WaitForTemporary(const std::string& archive) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (testutil::TemporariesBeside(archive).empty() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  int Finish() {
    WriteFileText(dir / "go", "");
    return process.Wait();
  }
};

}  // namespace

TEST(CliWindowsNames, EachNameWindowsCannotHoldIsRefusedTheRestWritten) {
  testutil::TempDir dir;
  const std::vector<std::string> refused = {"CON",        "aux.con",     "Lpt3.inc", "levels/nul/map.rs",
                                            "trailing.",  "space ",      "a<b.con",  "q?.con",
                                            "s:stream",   "C:drive.con", "\\root.con", "\\\\server\\share\\x.con",
                                            "\\\\.\\COM1", "ctl\x01.con"};
  testutil::ArchiveLayout layout;
  layout.AddRaw("first.con", "one");
  for (const std::string& name : refused) layout.AddRaw(name, "refused");
  layout.AddRaw("levels/last.con", "two");
  layout.WriteTo(dir / "x.vzr");
  fs::create_directory(testutil::Utf8Path(dir / "out"));
  const clitest::Result r = RunVzr({"extract", dir / "x.vzr", "-C", dir / "out", "-q"});
  EXPECT_EQ(r.status, 1) << r.err;
  // Messages show a control byte as its octal escape.
  const auto shown = [](const std::string& name) {
    std::string text;
    for (const char c : name) {
      if (static_cast<unsigned char>(c) >= 0x20) {
        text += c;
        continue;
      }
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\%03o", static_cast<unsigned char>(c));
      text += escape;
    }
    return text;
  };
  for (const std::string& name : refused)
    EXPECT_NE(r.err.find("vzr: " + dir / "x.vzr" + ": " + shown(name) + ": "), std::string::npos)
        << name << "\n" << r.err;
  EXPECT_EQ(Lines(r.err).size(), refused.size()) << "one line for each refused entry:\n" << r.err;
  EXPECT_EQ(FileText(dir / "out/first.con"), "one");
  EXPECT_EQ(FileText(dir / "out/levels/last.con"), "two");
}

// Names arrive as UTF-16 on the command line and as UTF-8 in the archive;
// vzr's output is UTF-8 whether it goes to a console or (here) a file.
TEST(CliWindowsNames, NonAsciiNamesGoThroughAnArchiveAndBack) {
  testutil::TempDir dir;
  const std::string bridge = "Brücke_ß.con", tower = "塔.inc", folder = "Ébène";
  WriteFileText(dir / ("src/" + bridge), "bridge");
  WriteFileText(dir / ("src/" + folder + "/" + tower), "tower");
  WriteFileText(dir / "loose/Grüße.rs", "greetings");
  // The archive's own path keeps to the characters a pack path may hold
  // (as on every system); the names inside it are what travels here.
  const std::string archive = dir / "names.vzr";
  clitest::Result r = RunVzr({"pack", dir / "src", archive});
  ASSERT_EQ(r.status, 0) << r.err;
  r = RunVzr({"add", archive, dir / "loose/Grüße.rs"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = RunVzr({"list", archive});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> listed = Lines(r.out);
  std::sort(listed.begin(), listed.end());
  std::vector<std::string> expected = {bridge, folder + "/" + tower, "Grüße.rs"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(listed, expected);
  EXPECT_EQ(RunVzr({"cat", archive, folder + "/" + tower}).out, "tower");
  ASSERT_TRUE(fs::create_directories(testutil::Utf8Path(dir / "out")));
  r = RunVzr({"extract", archive, "-C", dir / "out", "-q"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(FileText(dir / ("out/" + bridge)), "bridge");
  EXPECT_EQ(FileText(dir / ("out/" + folder + "/" + tower)), "tower");
  EXPECT_EQ(FileText(dir / "out/Grüße.rs"), "greetings");
}

// A source and a destination so deep that every file is past MAX_PATH,
// with entry names (below the packed folder) short enough for an archive.
TEST(CliWindowsPaths, PathsLongerThanMaxPathPackAndExtract) {
  testutil::TempDir dir;
  std::string top = dir / "src";
  while (top.size() < 150) top += "/a_folder_with_a_long_name";
  std::string deep = top;
  while (deep.size() < 300) deep += "/a_folder_with_a_long_name";
  ASSERT_TRUE(fs::create_directories(testutil::Utf8Path(LongForm(deep))));
  WriteFileText(LongForm(deep + "/far.con"), "far down");
  const std::string archive = dir / "deep.vzr";
  clitest::Result r = RunVzr({"pack", top, archive});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string out = dir / "out";
  while (out.size() < 300) out += "/another_long_folder_name";
  ASSERT_TRUE(fs::create_directories(testutil::Utf8Path(LongForm(out))));
  r = RunVzr({"extract", archive, "-C", out, "-q"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string relative = deep.substr(top.size() + 1) + "/far.con";
  EXPECT_EQ(FileText(LongForm(out + "/" + relative)), "far down");
}

// The second writer waits the full five seconds for the lock, then refuses
// and changes nothing; the lock dies with its process.
TEST(CliWindowsWriters, LoserOfARaceExitsTwoAndTheLockDiesWithItsProcess) {
  HeldWriter first;
  ASSERT_FALSE(testutil::TemporariesBeside(first.archive).empty()) << "the first writer never started its copy";
  const testutil::Bytes before = testutil::ReadFileBytes(first.archive);
  const auto start = std::chrono::steady_clock::now();
  const clitest::Result loser = RunVzr({"add", first.archive, first.dir / "second.con"});
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(loser.status, 2) << loser.err;
  EXPECT_NE(loser.err.find(kLockWords), std::string::npos) << loser.err;
  EXPECT_GE(waited, std::chrono::milliseconds(4500)) << "the loser gave up before the five seconds";
  EXPECT_EQ(testutil::ReadFileBytes(first.archive), before);

  first.process.Kill();
  first.process.Wait();
  const clitest::Result after = RunVzr({"add", first.archive, first.dir / "second.con"});
  EXPECT_EQ(after.status, 0) << "a killed writer's lock outlived it: " << after.err;
  EXPECT_EQ(RunVzr({"list", first.archive}).out, "old.con\nsecond.con\n");
}

// A game or an editor holding the archive without FILE_SHARE_DELETE: vzr
// retries the replacement for a moment, so a short hold costs nothing; a
// hold that lasts is refused with the reason, exit 2, archive unchanged.
TEST(CliWindowsInUse, ArchiveHeldOpenIsRetriedThenRefused) {
  testutil::TempDir dir;
  WriteFileText(dir / "src/old.con", "old");
  WriteFileText(dir / "new.con", "new");
  const std::string archive = dir / "a.vzr";
  ASSERT_EQ(RunVzr({"pack", dir / "src", archive}).status, 0);
  const testutil::Bytes before = testutil::ReadFileBytes(archive);
  {
    testutil::HeldOpen hold(archive);
    ASSERT_TRUE(hold.Valid());
    const clitest::Result r = RunVzr({"add", archive, dir / "new.con"});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find(archive), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(kInUseWords), std::string::npos) << r.err;
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
    EXPECT_EQ(testutil::ReadFileBytes(archive), before);
    EXPECT_TRUE(testutil::TemporariesBeside(archive).empty());
  }
  testutil::HeldOpen shortHold(archive);
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    shortHold.Release();
  });
  const clitest::Result r = RunVzr({"add", archive, dir / "new.con"});
  release.join();
  EXPECT_EQ(r.status, 0) << "a hold of 200 ms was not waited out: " << r.err;
  EXPECT_EQ(RunVzr({"list", archive}).out, "old.con\nnew.con\n");
}

// Ctrl+Break (a console control event) during a write: the temporary goes,
// the archive is as it was, exit 130.
TEST(CliWindowsInterrupt, CtrlBreakDuringAWriteLeavesTheArchiveAsItWas) {
  testutil::TempDir dir;
  WriteFileText(dir / "src/a.con", "alpha");
  WriteFileText(dir / "new.con", "new");
  const std::string archive = dir / "a.vzr";
  ASSERT_EQ(RunVzr({"pack", dir / "src", archive}).status, 0);
  const testutil::Bytes before = testutil::ReadFileBytes(archive);
  testutil::Process writer;
  {
    testutil::ScopedEnv pause("VZR_FAULT_PAUSE", "1");
    writer = testutil::Process::Start(
        {VZR_FAULTY_BINARY, {"add", archive, dir / "new.con"}, dir / "out", dir / "err", "", true});
  }
  HeldWriter::WaitForTemporary(archive);
  ASSERT_FALSE(testutil::TemporariesBeside(archive).empty()) << FileText(dir / "err");
  if (!testutil::SendCtrlBreak(writer.Id()))
    GTEST_SKIP() << "no console control event can be sent here (" << testutil::LastErrorText() << ")";
  const std::optional<int> status = writer.WaitFor(std::chrono::seconds(20));
  if (!status) GTEST_SKIP() << "the console control event was sent but never delivered";
  EXPECT_EQ(*status, 130) << FileText(dir / "err");
  EXPECT_EQ(FileText(dir / "err"), "vzr: interrupted\n");
  EXPECT_TRUE(testutil::TemporariesBeside(archive).empty());
  EXPECT_EQ(testutil::ReadFileBytes(archive), before);
}

// A hidden archive stays hidden when it is rewritten.
TEST(CliWindowsReplace, ArchiveKeepsItsAttributes) {
  testutil::TempDir dir;
  WriteFileText(dir / "src/old.con", "old");
  WriteFileText(dir / "new.con", "new");
  const std::string archive = dir / "a.vzr";
  ASSERT_EQ(RunVzr({"pack", dir / "src", archive}).status, 0);
  ASSERT_TRUE(testutil::SetAttributes(archive, testutil::kHiddenAttribute));
  const clitest::Result r = RunVzr({"add", archive, dir / "new.con"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(testutil::AttributesOf(archive) & testutil::kHiddenAttribute, 0u);
  EXPECT_EQ(RunVzr({"list", archive}).out, "old.con\nnew.con\n");
}

TEST(CliWindowsVerbs, MountIsNotThereAndHelpSaysSo) {
  testutil::TempDir dir;
  const clitest::Result r = RunVzr({"mount", dir / "a.vzr", dir / "mp"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
  EXPECT_NE(r.err.find("mount"), std::string::npos) << r.err;
  EXPECT_FALSE(Exists(dir / "mp"));
  const clitest::Result help = RunVzr({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Windows"), std::string::npos) << "help names what a Windows build lacks:\n" << help.out;
}

// Black-box tests of the reading verbs on several threads: extract, mod
// unpack, test and cat give the same files, output, messages and status
// for 1, 2 and 8 threads, on sound, damaged and hostile archives, and when
// interrupted.
#ifndef _WIN32
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <filesystem>
#include <map>

#include "run_vzr.h"

using clitest::RunVzr;
namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kThreadCounts = {"1", "2", "8"};

// Content that differs from segment to segment, so a segment in the wrong
// place shows.
testutil::Bytes Script(std::size_t size, unsigned seed) {
  testutil::Bytes out;
  uint32_t x = seed * 2654435761u + 1;
  while (out.size() < size) {
    x = x * 1103515245u + 12345u;
    const std::string line = "set unit_" + std::to_string(x % 977) + " speed " + std::to_string(x % 31) + "\n";
    out.insert(out.end(), line.begin(), line.end());
  }
  out.resize(size);
  return out;
}

// The literal stored form of content with segment `segment`'s end marker
// broken, so that stream no longer decodes.
testutil::Bytes DamagedForm(const testutil::Bytes& content, std::size_t segment) {
  testutil::Bytes form = testutil::LiteralSegmentedForm(content);
  const std::size_t count = testutil::GetLE32(form, 0);
  const std::size_t area = 4 + 12 * count;
  const std::size_t record = 4 + 12 * segment;
  form.at(area + testutil::GetLE32(form, record + 8) + testutil::GetLE32(form, record) - 3) = 0xFF;
  return form;
}

void AddLiteral(testutil::ArchiveLayout& layout, const std::string& name, const testutil::Bytes& content) {
  layout.entries.push_back({name, testutil::LiteralSegmentedForm(content), static_cast<uint32_t>(content.size())});
}

// Sound (compressed by vzr itself), damaged and hostile archives in dir.
std::vector<std::string> MakeArchives(const testutil::TempDir& dir) {
  for (unsigned i = 0; i < 60; ++i)
    testutil::WriteFileBytes(dir / ("tree/scripts/s" + std::to_string(i) + ".con"), Script(500 + 997 * i, i));
  testutil::WriteFileBytes(dir / "tree/maps/big.rs", Script(1300000, 99));  // more segments than are decoded whole
  testutil::WriteFileBytes(dir / "tree/empty.con", {});
  EXPECT_EQ(RunVzr({"pack", "--compress=6", dir / "tree", dir / "sound.vzr"}).status, 0);

  testutil::ArchiveLayout damaged;
  damaged.storageMode = 1;
  AddLiteral(damaged, "a/first.con", Script(40000, 1));
  damaged.entries.push_back({"a/small_bad.con", DamagedForm(Script(90000, 2), 1), 90000});
  AddLiteral(damaged, "b/second.con", Script(70000, 3));
  AddLiteral(damaged, "big/before.con", Script(60000, 15));
  damaged.entries.push_back({"big/large_bad.con", DamagedForm(Script(1400000, 4), 38), 1400000});
  AddLiteral(damaged, "big/after.con", Script(60000, 16));  // started beside the damaged one, then dropped
  testutil::Bytes badTable = testutil::LiteralSegmentedForm(Script(5000, 5));
  badTable[0] = 0x7F;  // a segment count the stored form cannot hold
  damaged.entries.push_back({"c/bad_table.con", badTable, 5000});
  AddLiteral(damaged, "d/last.con", Script(3000, 6));
  damaged.WriteTo(dir / "damaged.vzr");

  testutil::ArchiveLayout hostile;
  hostile.storageMode = 1;
  AddLiteral(hostile, "../evil.con", Script(100, 7));
  AddLiteral(hostile, "/leading/slash.con", Script(200, 8));
  AddLiteral(hostile, "x/../../evil2.con", Script(300, 9));
  AddLiteral(hostile, "C:drive.con", Script(300, 10));
  AddLiteral(hostile, "Dup.con", Script(400, 11));
  AddLiteral(hostile, "dup.CON", Script(500, 12));
  AddLiteral(hostile, "folder/", Script(10, 13));
  AddLiteral(hostile, "fine/kept.con", Script(50000, 14));
  hostile.WriteTo(dir / "hostile.vzr");
  return {dir / "sound.vzr", dir / "damaged.vzr", dir / "hostile.vzr"};
}

// Every path below root with its kind ('d' for a folder), permission bits
// and content.
std::map<std::string, std::string> Tree(const std::string& root) {
  std::map<std::string, std::string> files;
  std::error_code error;
  for (const auto& item : fs::recursive_directory_iterator(testutil::Utf8Path(root), error)) {
    const fs::file_status status = item.symlink_status(error);
    const char kind = fs::is_directory(status) ? 'd' : fs::is_symlink(status) ? 'l' : 'f';
    const std::string path = testutil::PathText(item.path());
    const testutil::Bytes bytes = item.is_regular_file() ? testutil::ReadFileBytes(path) : testutil::Bytes{};
    files[fs::relative(item.path(), testutil::Utf8Path(root)).generic_string()] =
        kind + std::to_string(static_cast<unsigned>(status.permissions())) + ":" + std::string(bytes.begin(), bytes.end());
  }
  return files;
}

// The run's output with the thread count's own folder names made alike.
std::string Alike(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

TEST(CliThreads, ExtractAndModUnpackGiveTheSameFilesAndMessagesForAnyThreadCount) {
  testutil::TempDir dir;
  const std::vector<std::string> archives = MakeArchives(dir);
  fs::create_directories(dir / "mod/Archives");
  for (const std::string& a : archives) fs::copy_file(a, dir / ("mod/Archives/" + fs::path(a).filename().string()));
  struct Verb {
    const char* name;
    std::function<std::vector<std::string>(const std::string& archive, const std::string& dest)> args;
  } verbs[] = {
      {"extract", [](const std::string& a, const std::string& d) { return std::vector<std::string>{"extract", "-v", "-C", d, a}; }},
      {"mod unpack", [&dir](const std::string&, const std::string& d) { return std::vector<std::string>{"mod", "unpack", dir / "mod", d}; }},
  };
  for (const Verb& verb : verbs) {
    for (const std::string& archive : archives) {
      std::map<std::string, std::string> firstTree;
      clitest::Result first;
      for (const std::string& n : kThreadCounts) {
        const std::string dest = dir / ("out-" + std::string(verb.name) + fs::path(archive).stem().string() + "-" + n);
        fs::create_directories(dest);
        std::vector<std::string> args = verb.args(archive, dest);
        args.insert(args.begin() + (verb.name == std::string("extract") ? 1 : 2), {"--threads", n});
        clitest::Result r = RunVzr(args);
        r.err = Alike(r.err, dest, "DEST");
        const auto tree = Tree(dest);
        const std::string what = std::string(verb.name) + " " + archive + " --threads " + n;
        if (n == kThreadCounts.front()) {
          first = r;
          firstTree = tree;
          EXPECT_FALSE(tree.empty()) << what;
          continue;
        }
        EXPECT_EQ(r.status, first.status) << what;
        EXPECT_EQ(r.out, first.out) << what;
        EXPECT_EQ(r.err, first.err) << what;
        EXPECT_EQ(tree, firstTree) << what;
      }
      if (archive == dir / "damaged.vzr" && verb.name == std::string("extract")) {
        EXPECT_EQ(first.status, 1);
        for (const char* bad : {"a/small_bad.con", "big/large_bad.con", "c/bad_table.con"})
          EXPECT_NE(first.err.find(bad), std::string::npos) << bad << " not named in: " << first.err;
        EXPECT_EQ(firstTree.count("big/large_bad.con"), 0u) << "a damaged entry is not left as a file";
        EXPECT_EQ(firstTree.count("d/last.con"), 1u) << "the entries after the damage are written";
        EXPECT_EQ(firstTree.count("big/after.con"), 1u);
      }
    }
  }
}

TEST(CliThreads, TestAndCatGiveTheSameOutputForAnyThreadCount) {
  testutil::TempDir dir;
  const std::vector<std::string> archives = MakeArchives(dir);
  const std::vector<std::vector<std::string>> runs = {
      {"test", archives[0], archives[1], archives[2]},
      {"test", "--json", archives[1]},
      {"cat", archives[0], "maps/big.rs"},
      {"cat", archives[1], "big/large_bad.con"},
      {"cat", archives[1], "a/small_bad.con"},
      {"cat", archives[2], "fine/kept.con"},
  };
  for (const auto& run : runs) {
    clitest::Result first;
    for (const std::string& n : kThreadCounts) {
      std::vector<std::string> args = run;
      args.insert(args.begin() + 1, {"--threads", n});
      const clitest::Result r = RunVzr(args);
      std::string what;
      for (const std::string& a : args) what += a + " ";
      if (n == kThreadCounts.front()) {
        first = r;
        EXPECT_FALSE(r.out.empty()) << what;
        continue;
      }
      EXPECT_EQ(r.status, first.status) << what;
      EXPECT_EQ(r.out, first.out) << what;
      EXPECT_EQ(r.err, first.err) << what;
    }
  }
  const clitest::Result bad = RunVzr({"cat", "--threads", "2", archives[1], "big/large_bad.con"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.out.size(), 38u * 32768) << "the segments before the damaged one go out";
  EXPECT_EQ(RunVzr({"test", "--threads", "0", archives[0]}).status, 2);
}

#ifndef _WIN32
// Waits until a temporary file appears below folder or the child ended.
bool TemporaryBelow(pid_t pid, const std::string& folder) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    std::error_code error;
    for (const auto& item : fs::recursive_directory_iterator(folder, error))
      if (item.is_regular_file()) return true;
    int ws = 0;
    if (::waitpid(pid, &ws, WNOHANG) == pid) return false;
    ::usleep(1000);
  }
  return false;
}
#endif

// The test build of vzr waits at the first write of the first file (of the
// damaged archive: its first entry has content); the interrupt then leaves
// no file behind, whatever the threads.
TEST(CliThreads, AnInterruptedExtractLeavesTheSameForAnyThreadCount) {
#ifdef _WIN32
  GTEST_SKIP() << "sends SIGINT to vzr and reads its exit through waitpid (Ctrl+Break has its own Windows test)";
#else
  testutil::TempDir dir;
  const std::vector<std::string> archives = MakeArchives(dir);
  std::map<std::string, std::string> firstTree;
  for (const std::string& n : kThreadCounts) {
    const std::string dest = dir / ("out-" + n);
    fs::create_directories(dest);
    ::setenv("VZR_FAULT_PAUSE", "1", 1);
    const pid_t pid = clitest::StartVzr({"extract", "--threads", n, "-C", dest, archives[1]}, dir / "out", dir / "err",
                                        "", VZR_FAULTY_BINARY);
    ::unsetenv("VZR_FAULT_PAUSE");
    ASSERT_TRUE(TemporaryBelow(pid, dest)) << n;
    ::usleep(300000);  // from the file's creation to the write that waits
    ::kill(pid, SIGINT);
    int ws = 0;
    ASSERT_EQ(::waitpid(pid, &ws, 0), pid);
    ASSERT_TRUE(WIFEXITED(ws)) << n;
    EXPECT_EQ(WEXITSTATUS(ws), 130) << n;
    const testutil::Bytes err = testutil::ReadFileBytes(dir / "err");
    EXPECT_EQ(std::string(err.begin(), err.end()), "vzr: interrupted\n") << n;
    const auto tree = Tree(dest);
    for (const auto& [path, what] : tree) EXPECT_EQ(what[0], 'd') << path << " is no folder: a file was left";
    if (n == kThreadCounts.front()) {
      firstTree = tree;
      EXPECT_EQ(tree.count("a"), 1u) << "the first entry's folder is made before its file";
    }
    EXPECT_EQ(tree, firstTree) << n;
  }
#endif
}

}  // namespace

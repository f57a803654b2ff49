// Black-box tests of what keeps writers of one archive from losing data:
// two writers at once, an archive stored inside itself, a read-only archive,
// and a signal that comes after the new archive is in place. The test
// build vzr_faulty stands still at a chosen write while holding the archive.
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

#include "run_vzr.h"

using clitest::RunVzr;
using testutil::WriteFileText;
namespace fs = std::filesystem;

namespace {

std::string Text(const std::string& path) {
  testutil::Bytes b = testutil::ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

// Whether process ends within ms milliseconds (its status then goes to status).
bool EndsWithin(testutil::Process& process, int ms, int& status) {
  const std::optional<int> end = process.WaitFor(std::chrono::milliseconds(ms));
  if (end) status = *end;
  return end.has_value();
}

// An archive of one entry and a `vzr add` of first.con that stands still at
// its first write, the archive read and its copy begun, until `go` exists.
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
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (testutil::TemporariesBeside(archive).empty() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  int Finish() {
    WriteFileText(dir / "go", "");
    return process.Wait();
  }
};

}  // namespace

// The second writer waits for the first, then adds to what the first wrote:
// without the lock it would finish first and its entry would be lost.
TEST(CliWriters, SecondWriterWaitsAndBothChangesAreKept) {
  HeldWriter first;
  ASSERT_FALSE(testutil::TemporariesBeside(first.archive).empty()) << "the first writer never started its copy";
  testutil::Process second = clitest::StartVzrProcess({"add", first.archive, first.dir / "second.con"},
                                                      first.dir / "out2", first.dir / "err2");
  int status = -1;
  EXPECT_FALSE(EndsWithin(second, 1000, status)) << "the second writer did not wait: " << Text(first.dir / "err2");
  EXPECT_EQ(first.Finish(), 0) << Text(first.dir / "err1");
  if (status == -1) status = second.Wait();
  EXPECT_EQ(status, 0) << Text(first.dir / "err2");
  EXPECT_EQ(RunVzr({"list", first.archive}).out, "old.con\nfirst.con\nsecond.con\n");
}

// A writer that cannot get the archive in time refuses and changes nothing.
TEST(CliWriters, WriterThatWaitsTooLongRefuses) {
  HeldWriter first;
  const testutil::Bytes before = testutil::ReadFileBytes(first.archive);
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"add", first.archive, first.dir / "second.con"},
                                             {"remove", first.archive, "old.con"},
                                             {"update", first.archive, "old.con", first.dir / "second.con"},
                                             {"recompress", first.archive},
                                             {"pack", first.dir / "src", first.archive}}) {
    const testutil::ScopedEnv wait("VZR_FAULT_LOCK_WAIT_MS", "200");
    EXPECT_EQ(clitest::StartVzrProcess(args, first.dir / "out2", first.dir / "err2", "", VZR_FAULTY_BINARY).Wait(), 2)
        << args[0];
    EXPECT_NE(Text(first.dir / "err2").find("another program is writing"), std::string::npos)
        << args[0] << ": " << Text(first.dir / "err2");
    EXPECT_EQ(testutil::ReadFileBytes(first.archive), before) << args[0];
  }
  EXPECT_EQ(first.Finish(), 0);
  EXPECT_EQ(RunVzr({"list", first.archive}).out, "old.con\nfirst.con\n");
}

// The archive as a file to add or to update from, under any name.
TEST(CliWriters, FileThatIsTheArchiveIsRefused) {
  testutil::TempDir dir;
  WriteFileText(dir / "src/old.con", "old");
  const std::string archive = dir / "d/a.vzr";
  fs::create_directories(dir / "d");
  ASSERT_EQ(RunVzr({"pack", dir / "src", archive}).status, 0);
  std::error_code linkError;
  fs::create_symlink("a.vzr", testutil::Utf8Path(dir / "d/link.vzr"), linkError);
  if (linkError) GTEST_SKIP() << "no symbolic link can be made here: " << linkError.message();
  const testutil::Bytes before = testutil::ReadFileBytes(archive);
  const std::vector<std::string> cases[] = {
      {"add", archive, archive},
      {"add", archive, dir / "d/../d/link.vzr"},
      {"add", archive, dir / "d"},
      {"update", archive, "old.con", archive},
      {"update", dir / "d/link.vzr", "old.con", archive},
  };
  for (const std::vector<std::string>& args : cases) {
    const clitest::Result r = RunVzr(args);
    EXPECT_EQ(r.status, 2) << args[0] << " " << args.back();
    EXPECT_NE(r.err.find("file is the archive"), std::string::npos) << r.err;
  }
  EXPECT_EQ(testutil::ReadFileBytes(archive), before);
}

// A rewrite replaces the archive by a new file (so that a failure leaves it
// whole): another hard link to it keeps the old content, and vzr says so.
TEST(CliWriters, RewriteOfAnArchiveWithTwoNamesSaysTheOtherKeepsTheOldContent) {
  testutil::TempDir dir;
  WriteFileText(dir / "src/old.con", "old");
  WriteFileText(dir / "new.con", "new");
  const std::string archive = dir / "a.vzr";
  const std::vector<std::string> cases[] = {
      {"add", archive, dir / "new.con"},
      {"update", archive, "old.con", dir / "new.con"},
      {"remove", archive, "old.con"},
      {"recompress", archive},
      {"pack", dir / "src", archive},
  };
  for (const std::vector<std::string>& args : cases) {
    fs::remove(archive);
    fs::remove(dir / "other.vzr");
    ASSERT_EQ(RunVzr({"pack", dir / "src", archive}).status, 0);
    fs::create_hard_link(archive, dir / "other.vzr");
    const testutil::Bytes before = testutil::ReadFileBytes(archive);
    const clitest::Result r = RunVzr(args);
    EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
    EXPECT_EQ(r.err, "vzr: " + archive + ": written as a file of its own: its 1 other name (hard link) keeps the old content\n")
        << args[0];
    EXPECT_EQ(testutil::ReadFileBytes(dir / "other.vzr"), before) << args[0];
    EXPECT_EQ(fs::hard_link_count(archive), 1u) << args[0];
  }
  // One name: nothing to say.
  EXPECT_EQ(RunVzr({"recompress", dir / "other.vzr"}).err, "");
}

TEST(CliWriters, ReadOnlyArchiveIsRefusedAsCpRefuses) {
  testutil::TempDir dir;
  WriteFileText(dir / "src/old.con", "old");
  const std::string archive = dir / "a.vzr";
  ASSERT_EQ(RunVzr({"pack", dir / "src", archive}).status, 0);
  fs::permissions(testutil::Utf8Path(archive), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const testutil::Bytes before = testutil::ReadFileBytes(archive);
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"remove", archive, "old.con"}, {"pack", dir / "src", archive}}) {
    const clitest::Result r = RunVzr(args);
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_NE(r.err.find("Permission denied"), std::string::npos) << r.err;
  }
  EXPECT_EQ(testutil::ReadFileBytes(archive), before);
}

// A signal that comes once the new archive is in place finds the command
// done: it exits 0, as the archive says.
TEST(CliWriters, SignalAfterTheRenameReportsSuccess) {
#ifdef _WIN32
  GTEST_SKIP() << "sends POSIX signals (SIGINT, SIGTERM, SIGHUP) to vzr";
#else
  testutil::TempDir dir;
  WriteFileText(dir / "src/old.con", "old");
  WriteFileText(dir / "new.con", "new");
  const std::string archive = dir / "a.vzr";
  ASSERT_EQ(RunVzr({"pack", dir / "src", archive}).status, 0);
  struct Case {
    std::vector<std::string> args;
    int signal;
    std::string listing;
  } cases[] = {
      {{"add", archive, dir / "new.con"}, SIGINT, "old.con\nnew.con\n"},
      {{"remove", archive, "old.con"}, SIGTERM, "new.con\n"},
      {{"recompress", archive}, SIGHUP, "new.con\n"},
  };
  for (const Case& c : cases) {
    const testutil::ScopedEnv signal("VZR_FAULT_SIGNAL_AFTER_RENAME", std::to_string(c.signal));
    EXPECT_EQ(clitest::StartVzrProcess(c.args, dir / "out", dir / "err", "", VZR_FAULTY_BINARY).Wait(), 0) << c.args[0] << ": " << Text(dir / "err");
    EXPECT_EQ(RunVzr({"list", archive}).out, c.listing) << c.args[0];
    EXPECT_TRUE(testutil::TemporariesBeside(archive).empty());
  }
#endif
}

#ifndef _WIN32
namespace {

// Runs vzr and gives its exit status and peak resident memory in KiB.
int RunMeasured(const std::vector<std::string>& args, const std::string& dir, long& peakKiB) {
  const pid_t pid = clitest::StartVzr(args, dir + "/out", dir + "/err");
  int ws = 0;
  struct rusage usage {};
  ::wait4(pid, &ws, 0, &usage);
  peakKiB = usage.ru_maxrss;
  return WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
}

bool MakeSparse(const std::string& path, uint64_t bytes) {
  WriteFileText(path, "");
  return ::truncate(path.c_str(), static_cast<off_t>(bytes)) == 0;
}

}  // namespace
#endif

// A file far larger than the engine's buffers goes through a few segments
// at a time; one the format cannot hold is refused before anything is
// written. Sparse files keep the disk out of it.
TEST(CliWriters, HugeFilesAreStreamedAndRefusedBeforeWriting) {
#ifdef _WIN32
  GTEST_SKIP() << "measures the peak memory of vzr through wait4";
#else
  testutil::TempDir dir;
  WriteFileText(dir / "src/old.con", "old");
  const std::string archive = dir / "a.vzr";
  ASSERT_EQ(RunVzr({"pack", "--compress=0", dir / "src", archive}).status, 0);
  constexpr uint64_t kMiB = 1 << 20;
  if (!MakeSparse(dir / "big.bin", 300 * kMiB) || !MakeSparse(dir / "huge.bin", 4096 * kMiB) ||
      !MakeSparse(dir / "half1.bin", 2100 * kMiB) || !MakeSparse(dir / "half2.bin", 2100 * kMiB))
    GTEST_SKIP() << "no sparse files here";
  long peak = 0;
  ASSERT_EQ(RunMeasured({"add", "-q", archive, dir / "big.bin"}, dir.str(), peak), 0) << Text(dir / "err");
  EXPECT_LT(peak, 100 * 1024) << "KiB for a 300 MiB file";
  ASSERT_EQ(RunMeasured({"update", "-q", archive, "old.con", dir / "big.bin"}, dir.str(), peak), 0);
  EXPECT_LT(peak, 100 * 1024) << "KiB for a 300 MiB file";
  EXPECT_EQ(RunVzr({"list", "--long", archive}).status, 0);

  // In a raw archive every stored size is known before the first write.
  const std::string raw = dir / "raw.vzr";
  ASSERT_EQ(RunVzr({"pack", dir / "src", raw}).status, 0);
  const testutil::Bytes before = testutil::ReadFileBytes(raw);
  struct Case {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"add", raw, dir / "huge.bin"}, "too large for an archive entry (the format ends at 4 GiB)"},
      {{"update", raw, "old.con", dir / "huge.bin"}, "an entry ends below 4 GiB"},
      {{"add", raw, dir / "half1.bin", dir / "half2.bin"}, "the .vzr format ends at 4 GiB"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RunMeasured(c.args, dir.str(), peak), 2) << c.args[0];
    EXPECT_NE(Text(dir / "err").find(c.message), std::string::npos) << Text(dir / "err");
    EXPECT_LT(peak, 100 * 1024) << c.args[0];
    EXPECT_EQ(testutil::ReadFileBytes(raw), before);
    EXPECT_TRUE(testutil::TemporariesBeside(raw).empty());
  }
#endif
}

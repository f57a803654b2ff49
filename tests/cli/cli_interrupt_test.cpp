// Black-box test of an interrupted vzr: the test build of the program waits
// at the pack's first write (VZR_FAULT_PAUSE), after the new archive's
// temporary file exists; then the signal comes.
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>

#include "run_vzr.h"

namespace {

// Waits until the temporary beside path exists or the child ended; true when it exists.
bool TemporaryAppears(pid_t pid, const std::string& path) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    if (!testutil::TemporariesBeside(path).empty()) return true;
    int ws = 0;
    if (::waitpid(pid, &ws, WNOHANG) == pid) return false;
    ::usleep(1000);
  }
  return false;
}

TEST(CliInterrupt, PackLeavesNoTemporaryAndTheArchiveAsItWas) {
  testutil::TempDir dir;
  testutil::WriteFileText(dir / "src/a.con", "alpha");
  testutil::ArchiveLayout old;
  old.AddRaw("kept.con", "the archive packed before");
  old.WriteTo(dir / "old.vzr");
  const testutil::Bytes before = testutil::ReadFileBytes(dir / "old.vzr");
  struct Case {
    const char* archive;
    int signal;
    bool existed;
  } cases[] = {{"old.vzr", SIGTERM, true}, {"new.vzr", SIGINT, false}};
  for (const Case& c : cases) {
    const std::string archive = dir / c.archive;
    ::setenv("VZR_FAULT_PAUSE", "1", 1);
    const pid_t pid = clitest::StartVzr({"pack", dir / "src", archive}, dir / "out", dir / "err", "", VZR_FAULTY_BINARY);
    ::unsetenv("VZR_FAULT_PAUSE");
    ASSERT_TRUE(TemporaryAppears(pid, archive)) << c.archive;
    ::kill(pid, c.signal);
    int ws = 0;
    ASSERT_EQ(::waitpid(pid, &ws, 0), pid);
    ASSERT_TRUE(WIFEXITED(ws)) << c.archive << " ended by signal " << WTERMSIG(ws);
    EXPECT_EQ(WEXITSTATUS(ws), 130) << c.archive;
    EXPECT_TRUE(testutil::TemporariesBeside(archive).empty()) << c.archive;
    EXPECT_EQ(std::filesystem::exists(archive), c.existed) << c.archive;
    if (c.existed) {
      EXPECT_EQ(testutil::ReadFileBytes(archive), before);
    }
    const testutil::Bytes err = testutil::ReadFileBytes(dir / "err");
    EXPECT_EQ(std::string(err.begin(), err.end()), "vzr: interrupted\n") << c.archive;
  }
}

}  // namespace

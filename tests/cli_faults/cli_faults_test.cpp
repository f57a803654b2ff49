// The rewriting verbs of vzr (pack over an archive, add, update, remove) run
// as a real program, vzr_faulty, that fails with ENOSPC at its n-th write or
// ends on the spot before it, for every n the verb reaches. A full disk must
// leave the old archive byte for byte and no temporary file, and be named as
// the reason; a kill, the old archive or the complete new one.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "childprocess.h"
#include "testutil.h"

using testutil::Bytes;

namespace {

constexpr int kKilled = 86;  // the fault switch's exit code for a kill

// Runs vzr_faulty in folder with the fault at write n (0: none); its exit
// status. Its standard error goes to errPath (empty: nowhere).
int RunFaulty(const std::string& folder, std::vector<std::string> args, uint64_t n, bool kill,
              const std::string& errPath = "") {
  std::optional<testutil::ScopedEnv> write, killed;
  if (n) write.emplace("VZR_FAULT_WRITE", std::to_string(n));
  if (kill) killed.emplace("VZR_FAULT_KILL", "1");
  return testutil::RunProcess({VZR_FAULTY_BINARY, std::move(args), "", errPath, folder});
}

Bytes Content(std::size_t n, unsigned seed) {
  std::string s;
  for (unsigned i = 0; s.size() < n; ++i) s += "move lift" + std::to_string((i * 13 + seed) % 71) + " up;\n";
  s.resize(n);
  return testutil::ToBytes(s);
}

struct Verb {
  const char* what;
  std::vector<std::string> args;
};

TEST(CliFaults, RewritingVerbsLeaveTheOldOrTheNewArchiveAtEveryWrite) {
  testutil::TempDir tmp;
  const std::string archive = tmp / "game.vzr";
  testutil::ArchiveLayout layout;
  for (unsigned i = 0; i < 5; ++i) layout.AddRaw("maps/m" + std::to_string(i) + ".scr", Content(700 * i + 90, i));
  const Bytes old = layout.Build();
  for (unsigned i = 0; i < 4; ++i) testutil::WriteFileBytes(tmp / ("src/f" + std::to_string(i) + ".scr"), Content(500 + i * 300, 20 + i));
  testutil::WriteFileBytes(tmp / "new.scr", Content(1800, 30));

  const std::vector<Verb> verbs{{"pack over the archive", {"pack", "-q", "src", "game.vzr"}},
                                {"add", {"add", "-q", "game.vzr", "new.scr"}},
                                {"update", {"update", "-q", "game.vzr", "maps/m1.scr", "new.scr"}},
                                {"remove", {"remove", "-q", "game.vzr", "maps/m2.scr", "maps/m4.scr"}}};
  uint64_t killPoints = 0, failures = 0;
  for (const Verb& verb : verbs) {
    SCOPED_TRACE(verb.what);
    testutil::WriteFileBytes(archive, old);
    ASSERT_EQ(RunFaulty(tmp.str(), verb.args, 0, false), 0);
    const Bytes fresh = testutil::ReadFileBytes(archive);
    ASSERT_NE(fresh, old);
    for (const bool kill : {false, true}) {
      for (uint64_t n = 1;; ++n) {
        ASSERT_LT(n, 10000u) << "the verb never got past its writes";
        testutil::WriteFileBytes(archive, old);
        for (const std::string& t : testutil::TemporariesBeside(archive)) std::filesystem::remove(tmp / t);
        const int status = RunFaulty(tmp.str(), verb.args, n, kill, tmp / "err");
        const Bytes now = testutil::ReadFileBytes(archive);
        if (status == 0) {  // write n was never reached: the verb is done
          EXPECT_EQ(now, fresh) << "write " << n;
          break;
        }
        if (kill) {
          ASSERT_EQ(status, kKilled) << "write " << n;
          EXPECT_TRUE(now == old || now == fresh) << "killed before write " << n;
          ++killPoints;
        } else {
          EXPECT_EQ(now, old) << "write " << n << " failed, status " << status;
          EXPECT_TRUE(testutil::TemporariesBeside(archive).empty()) << "write " << n;
          const Bytes err = testutil::ReadFileBytes(tmp / "err");
          EXPECT_NE(std::string(err.begin(), err.end()).find(std::strerror(ENOSPC)), std::string::npos)
              << "write " << n << ": the reason is not told";
          ++failures;
        }
      }
    }
  }
  std::printf("[ vzr faults ] %llu kill points, %llu failing write positions\n",
              static_cast<unsigned long long>(killPoints), static_cast<unsigned long long>(failures));
}

}  // namespace

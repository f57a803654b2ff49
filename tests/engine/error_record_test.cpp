// The error record: each failing operation leaves its code, the entry
// concerned, the system error and the reason its last failure trace line
// gives, without the failure mark; a successful one leaves it clear.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "testutil.h"
#include "vzrpack.h"

using testutil::ArchiveLayout;
using testutil::TempDir;

namespace {

struct Case {
  const char* what;
  // Runs the failing operation in dir; returns the record it left.
  std::function<VzrError(const TempDir& dir)> run;
  int code;
  const char* entry;
  int sysError;
  const char* message;
};

std::string ArchiveWith(const TempDir& dir, const std::string& name, const std::string& content) {
  ArchiveLayout layout;
  layout.AddRaw(name, content);
  layout.WriteTo(dir / "a.vzr");
  return dir / "a.vzr";
}

}  // namespace

TEST(ErrorRecord, EachFailureLeavesItsCodeEntrySystemErrorAndReason) {
  const std::vector<Case> cases = {
      {"entry name leading out",
       [](const TempDir& dir) {
         VzrArchive a;
         a.LoadIndex(ArchiveWith(dir, "../evil.con", "x").c_str());
         std::filesystem::create_directories(dir / "out");
         a.ExtractAll((dir / "out").c_str());
         return a.lastError;
       },
       5, "../evil.con", 0, "Extract() refused entry name outside the destination: ../evil.con"},
      {"entry out of range",
       [](const TempDir& dir) {
         VzrArchive a;
         a.LoadIndex(ArchiveWith(dir, "a.con", "x").c_str());
         a.Extract(7, nullptr);
         return a.lastError;
       },
       1, "", 0, "item out of range to extract! 7"},
      {"name not found",
       [](const TempDir& dir) {
         VzrArchive a;
         a.LoadIndex(ArchiveWith(dir, "a.con", "x").c_str());
         a.ExtractByName("b.con", nullptr);
         return a.lastError;
       },
       1, "b.con", 0, "Could not ExtractByName: b.con\n\tName Not found!"},
      {"nothing to pack",
       [](const TempDir& dir) {
         std::filesystem::create_directories(dir / "empty");
         std::string source = dir / "empty", base = "b";
         source.resize(512), base.resize(512);
         PackDirectory(source.data(), base.data(), (dir / "p.vzr").c_str(), 1);
         return LastEngineError();
       },
       1, "", 0, "No files to pack.."},
      {"a move whose source is missing",
       [](const TempDir& dir) {
         tavMoveFile((dir / "missing").c_str(), (dir / "to").c_str());
         return LastEngineError();
       },
       2, "", ENOENT, nullptr},
      {"a name given twice",
       [](const TempDir& dir) {
         VzrArchive a;
         a.LoadIndex(ArchiveWith(dir, "a.con", "x").c_str());
         testutil::WriteFileText(dir / "n", "n");
         a.AddRemoveEntries({}, {{"n.con", dir / "n"}, {"N.CON", dir / "n"}});
         return a.lastError;
       },
       1, "", 0, "AddRemoveEntries(): a new name is given twice"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    testutil::TraceCapture trace;
    const VzrError error = c.run(dir);
    const std::string lines = trace.Text();
    EXPECT_TRUE(error.failed()) << c.what;
    EXPECT_EQ(error.code, c.code) << c.what;
    EXPECT_EQ(error.entry, c.entry) << c.what;
    EXPECT_EQ(error.sysError, c.sysError) << c.what;
    if (c.message) {
      EXPECT_EQ(error.message, c.message) << c.what;
    }
    // The reason is the one the trace shows, where a trace line gives one.
    if (error.message != "No files to pack..") {
      EXPECT_NE(lines.find(error.message), std::string::npos) << c.what << ": " << lines;
    }
  }
}

TEST(ErrorRecord, ASuccessClearsWhatAFailureLeft) {
  TempDir dir;
  testutil::TraceCapture trace;
  VzrArchive a;
  a.LoadIndex(ArchiveWith(dir, "a.con", "x").c_str());
  ASSERT_EQ(a.Extract(3, nullptr), nullptr);
  ASSERT_TRUE(a.lastError.failed());
  ASSERT_NE(a.Extract(0, nullptr), nullptr);
  EXPECT_FALSE(a.lastError.failed()) << a.lastError.message;
}

// Extracting every archive of a mod folder into one folder.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "ops_testutil.h"
#include "testutil.h"
#include "vzrpack.h"

using testutil::ArchiveLayout;
using testutil::CurrentDirGuard;
using testutil::TempDir;
namespace fs = std::filesystem;

namespace {

struct UnpackRun {
  int result;
  std::string pattern;
  std::vector<std::string> trace;
};

UnpackRun Unpack(const std::string& pattern, VzrArchive* archive, const std::string& destination) {
  char text[512] = {};
  std::strncpy(text, pattern.c_str(), sizeof text - 1);
  testutil::TraceCapture capture;
  const int result = unpackVzrFiles(text, archive, destination.c_str());
  return {result, text, capture.Lines()};
}

void WriteArchive(const std::string& path, const std::vector<std::pair<std::string, std::string>>& entries) {
  ArchiveLayout layout;
  for (const auto& [name, content] : entries) layout.AddRaw(name, content);
  layout.WriteTo(path);
}

}  // namespace

TEST(UnpackVzrFiles, ExtractsEveryArchiveAndIgnoresMatchingFolders) {
  CurrentDirGuard keep;
  TempDir mod;
  WriteArchive(mod / "Archives/game.vzr", {{"game/a.con", "first"}, {"shared.txt", "from game"}});
  WriteArchive(mod / "Archives/objects.vzr", {{"objects/o.txt", "o"}, {"shared.txt", "from objects"}});
  fs::create_directories(mod / "Archives/folder.vzr/inner");  // matches the pattern, but a folder
  testutil::WriteFileText(mod / "Archives/readme.txt", "not an archive");
  fs::create_directory(mod / "out");
  const UnpackRun run = Unpack(mod / "Archives/*.vzr", nullptr, mod / "out");
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(opstest::FilesBelow(mod / "out"), (std::vector<std::string>{"game/a.con", "objects/o.txt", "shared.txt"}));
  EXPECT_EQ(testutil::ReadFileBytes(mod / "out/shared.txt"), testutil::ToBytes("from objects"))
      << "a later archive replaces a file of the same path";
  ASSERT_GE(run.trace.size(), 3u);
  EXPECT_EQ(run.trace[0], "*** unpackVzrFiles() tmpPath: " + (mod / "Archives/"));
  EXPECT_EQ(run.trace[1], "         " + (mod / "Archives/*.vzr"));
  EXPECT_EQ(run.trace.back(), "END unpackVzrFiles()" + (mod / "Archives/*.vzr"));
  EXPECT_EQ(CodePosition, 77) << "the routine's own object is destroyed";
}

TEST(UnpackVzrFiles, AFailingArchiveStopsTheWalkWithItsCode) {
  CurrentDirGuard keep;
  TempDir mod;
  WriteArchive(mod / "Archives/a.vzr", {{"ok.txt", "ok"}, {"../escape.txt", "evil"}});
  WriteArchive(mod / "Archives/b.vzr", {{"never.txt", "n"}});
  fs::create_directory(mod / "out");
  VzrArchive archive;
  const UnpackRun run = Unpack(mod / "Archives/*.vzr", &archive, mod / "out");
  EXPECT_EQ(run.result, 5);
  EXPECT_EQ(opstest::FilesBelow(mod / "out"), std::vector<std::string>{"ok.txt"});
  EXPECT_FALSE(fs::exists(mod / "escape.txt"));
  EXPECT_EQ(std::string(archive.vzr_file_name), mod / "Archives/a.vzr") << "the caller's object keeps the last archive";
}

TEST(UnpackVzrFiles, MissingFolderIsNoErrorAndBackslashesComeBackAsSlashes) {
  TempDir mod;
  const UnpackRun run = Unpack(mod.str() + "\\nothing\\Archives\\*.vzr", nullptr, mod / "out");
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.pattern, mod / "nothing/Archives/*.vzr");
  EXPECT_EQ(run.trace.size(), 3u) << "only the three trace lines";
}

TEST(UnpackVzrFiles, NoDestinationOrTooLittleSpaceEndsWithExtractAllsCode) {
  CurrentDirGuard keep;
  TempDir mod;
  WriteArchive(mod / "Archives/a.vzr", {{"x", "x"}});
  EXPECT_EQ(Unpack(mod / "Archives/*.vzr", nullptr, mod / "no/such/folder").result, 7);
  char pattern[512] = {};
  std::strcpy(pattern, (mod / "Archives/*.vzr").c_str());
  testutil::TraceCapture quiet;
  EXPECT_EQ(unpackVzrFiles(pattern, nullptr, nullptr), 2);
}

TEST(UnpackVzrFiles, UnreadableArchiveGivesCode3) {
  SKIP_WITHOUT_SYMLINKS();
  CurrentDirGuard keep;
  TempDir mod;
  fs::create_directories(mod / "Archives");
  fs::create_symlink(mod / "gone.vzr", mod / "Archives/broken.vzr");
  fs::create_directory(mod / "out");
  EXPECT_EQ(Unpack(mod / "Archives/*.vzr", nullptr, mod / "out").result, 3);
}

TEST(UnpackVzrFiles, RelativePatternAndDestinationSurviveTheFolderChanges) {
  CurrentDirGuard keep;
  TempDir mod;
  WriteArchive(mod / "Archives/a.vzr", {{"a/1.txt", "1"}});
  WriteArchive(mod / "Archives/b.vzr", {{"b/2.txt", "2"}});
  fs::create_directories(mod / "tool");
  fs::create_directories(mod / "out");
  fs::current_path(mod / "tool");
  EXPECT_EQ(Unpack("../Archives/*.vzr", nullptr, "../out").result, 0);
  EXPECT_EQ(opstest::FilesBelow(mod / "out"), (std::vector<std::string>{"a/1.txt", "b/2.txt"}));
}

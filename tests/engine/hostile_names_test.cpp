// Entry names that try to leave the destination folder: nothing may be
// written outside it, whatever the name says.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "ops_testutil.h"
#include "testutil.h"
#include "vzrpack.h"

using opstest::FilesBelow;
using opstest::Load;
using testutil::ArchiveLayout;
using testutil::CurrentDirGuard;
using testutil::TempDir;
namespace fs = std::filesystem;

namespace {

// root/dest is the destination, root/arc/x.vzr the archive; root/outside
// is a folder a hostile name could reach with "..".
struct Sandbox {
  TempDir root;
  std::string dest = root / "a/b/dest";
  std::string archivePath = root / "arc/x.vzr";
  Sandbox() { fs::create_directories(dest); }
};

}  // namespace

TEST(HostileNames, EscapingNamesAreRefusedAndWriteNothingOutside) {
  const std::vector<std::string> hostile = {"../x", "a/../../x", "C:/x", "a\\..\\..\\x", "..", "c:x", "ok/../../../x"};
  for (const std::string& name : hostile) {
    CurrentDirGuard keep;
    Sandbox box;
    ArchiveLayout layout;
    layout.AddRaw(name, "evil");
    layout.WriteTo(box.archivePath);
    VzrArchive archive;
    Load(archive, box.archivePath);
    testutil::TraceCapture capture;
    EXPECT_EQ(archive.Extract(0, box.dest.c_str()), nullptr) << name;
    EXPECT_EQ(capture.Text(), "ERROR! Extract() refused entry name outside the destination: " + name + "\n");
    EXPECT_EQ(FilesBelow(box.root.path()), std::vector<std::string>{"arc/x.vzr"}) << name << ": a file was written";
    EXPECT_TRUE(fs::is_empty(box.dest)) << name << ": not even a folder may be made";
  }
}

TEST(HostileNames, ExtractAllStopsWithCode5AtARefusedName) {
  CurrentDirGuard keep;
  Sandbox box;
  ArchiveLayout layout;
  layout.AddRaw("good.txt", "fine");
  layout.AddRaw("../../escape.txt", "evil");
  layout.AddRaw("later.txt", "never");
  layout.WriteTo(box.archivePath);
  VzrArchive archive;
  Load(archive, box.archivePath);
  testutil::TraceCapture quiet;
  EXPECT_EQ(archive.ExtractAll(box.dest.c_str()), 5);
  EXPECT_EQ(FilesBelow(box.root.path()), (std::vector<std::string>{"a/b/dest/good.txt", "arc/x.vzr"}));
}

TEST(HostileNames, ANameWithAZeroByteIsListedButRefused) {
  CurrentDirGuard keep;
  Sandbox box;
  ArchiveLayout layout;
  layout.AddRaw(std::string("zero\0byte/../../evil.txt", 24), "evil");
  layout.WriteTo(box.archivePath);
  VzrArchive archive;
  Load(archive, box.archivePath);
  ASSERT_EQ(archive.FileIndex.count, 1u);
  EXPECT_STREQ(archive.FileIndex.files[0].name, "zero");
  testutil::TraceCapture capture;
  EXPECT_EQ(archive.Extract(0, box.dest.c_str()), nullptr);
  EXPECT_EQ(archive.ExtractAll(box.dest.c_str()), 5);
  EXPECT_NE(capture.Text().find("ERROR! Extract() refused entry name outside the destination: zero\n"),
            std::string::npos);
  EXPECT_EQ(FilesBelow(box.root.path()), std::vector<std::string>{"arc/x.vzr"});
}

TEST(HostileNames, LeadingSlashesAreDroppedOnceReportedAndStayInside) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows refuses the '//' and '\\' rooted names this archive holds (WindowsNames tests them)";
#endif
  CurrentDirGuard keep;
  Sandbox box;
  ArchiveLayout layout;
  layout.AddRaw("/a.con", "empty base path");
  layout.AddRaw("//abs/x", "absolute");
  layout.AddRaw("\\win\\y", "backslashes");
  layout.WriteTo(box.archivePath);
  VzrArchive archive;
  Load(archive, box.archivePath);
  testutil::TraceCapture capture;
  EXPECT_EQ(archive.ExtractAll(box.dest.c_str()), 0);
  const auto lines = capture.Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(),
                       "Extract(): removing leading '/' from entry names, first: /a.con"),
            1);
  EXPECT_EQ(lines.size(), 2u) << "the size line and one note";
  EXPECT_EQ(FilesBelow(box.dest), (std::vector<std::string>{"a.con", "abs/x", "win/y"}));
  EXPECT_FALSE(fs::exists("/abs/x"));
  EXPECT_EQ(testutil::ReadFileBytes(box.dest + "/a.con"), testutil::ToBytes("empty base path"));
}

TEST(HostileNames, NamesWithNothingToWriteAreRefused) {
  for (const std::string& name : {std::string("/"), std::string("dir/"), std::string("")}) {
    CurrentDirGuard keep;
    Sandbox box;
    ArchiveLayout layout;
    layout.AddRaw(name, "x");
    layout.WriteTo(box.archivePath);
    VzrArchive archive;
    Load(archive, box.archivePath);
    testutil::TraceCapture quiet;
    EXPECT_EQ(archive.Extract(0, box.dest.c_str()), nullptr) << "'" << name << "'";
    EXPECT_TRUE(fs::is_empty(box.dest)) << "'" << name << "'";
  }
}

TEST(HostileNames, AnEntryThatWouldOverwriteTheArchiveBeingReadIsRefused) {
  CurrentDirGuard keep;
  TempDir dir;
  ArchiveLayout layout;
  layout.AddRaw("before.txt", "b");
  // Named exactly as the archive: a name in another letter case would be a
  // file of its own, since extraction leaves files it did not make alone.
  layout.AddRaw("x.vzr", "this would destroy the archive");
  layout.WriteTo(dir / "x.vzr");
  const testutil::Bytes original = testutil::ReadFileBytes(dir / "x.vzr");
  VzrArchive archive;
  Load(archive, dir / "x.vzr");
  testutil::TraceCapture capture;
  EXPECT_EQ(archive.ExtractAll(dir.str().c_str()), 5);
  EXPECT_NE(capture.Text().find("ERROR! Extract() refused to overwrite the archive being read: x.vzr"),
            std::string::npos);
  EXPECT_EQ(testutil::ReadFileBytes(dir / "x.vzr"), original);
}

TEST(HostileNames, DotComponentsInsideTheDestinationAreHarmless) {
  CurrentDirGuard keep;
  Sandbox box;
  ArchiveLayout layout;
  layout.AddRaw("./p/./q.txt", "q");
  layout.AddRaw("r//s.txt", "s");
  layout.AddRaw("..hidden/t.txt", "t");  // a name that merely begins with two dots
  layout.WriteTo(box.archivePath);
  VzrArchive archive;
  Load(archive, box.archivePath);
  testutil::TraceCapture quiet;
  EXPECT_EQ(archive.ExtractAll(box.dest.c_str()), 0);
  EXPECT_EQ(FilesBelow(box.dest), (std::vector<std::string>{"..hidden/t.txt", "p/q.txt", "r/s.txt"}));
}

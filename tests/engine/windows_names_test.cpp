// windows_names_test.cpp - extraction on Windows: names Windows cannot hold,
// or that mean something else there (a device, a data stream, another drive
// or machine), are refused one entry at a time and write nothing; names
// that only look like them are written; paths longer than 260 characters
// work; and no reparse point planted in the destination is followed.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ops_testutil.h"
#include "paths.h"
#include "testutil.h"
#include "vzrpack.h"
#include "winsupport.h"

using opstest::FilesBelow;
using opstest::Load;
using testutil::ArchiveLayout;
using testutil::CurrentDirGuard;
using testutil::TempDir;
namespace fs = std::filesystem;

namespace {

// root/dest is the destination, root/arc/x.vzr the archive.
struct Sandbox {
  TempDir root;
  std::string dest = root / "dest";
  std::string archivePath = root / "arc/x.vzr";
  Sandbox() { fs::create_directories(testutil::Utf8Path(dest)); }
};

// Extracts the one entry of an archive holding only name: whether the engine
// wrote it, and its trace.
struct Outcome {
  bool written;
  std::string trace;
};
Outcome ExtractOnly(Sandbox& box, const std::string& name) {
  ArchiveLayout layout;
  layout.AddRaw(name, "content");
  layout.WriteTo(box.archivePath);
  VzrArchive archive;
  Load(archive, box.archivePath);
  testutil::TraceCapture capture;
  const bool written = archive.Extract(0, box.dest.c_str()) != nullptr;
  return {written, capture.Text()};
}

// A path Windows takes whatever its length: the \\?\ form wants an absolute
// path with backslashes only.
std::string LongForm(const std::string& path) {
  std::string text = testutil::PathText(fs::absolute(testutil::Utf8Path(path)));
  for (char& c : text)
    if (c == '/') c = '\\';
  return "\\\\?\\" + text;
}

}  // namespace

TEST(WindowsNames, NamesWindowsCannotHoldAreRefusedAndWriteNothing) {
  const std::vector<std::string> refused = {
      // reserved device names, in any case, with or without an extension, in any component
      "CON", "con", "Con.con", "PRN", "prn.txt", "AUX", "aux.inc", "NUL", "nul.vzr", "COM1", "com5.con", "COM9.txt",
      "LPT1", "lpt7", "Lpt9.rs", "levels/CON/map.rs", "levels/nul", "aux/x.con",
      // a trailing dot or space in any component
      "name.", "name ", "dir./x.con", "dir /x.con", "a/b. /c.con",
      // characters Windows does not allow, and control characters
      "a<b.con", "a>b.con", "a\"b.con", "a|b.con", "a?b.con", "a*b.con", "tab\tname.con", "bell\x07.con",
      "unit\x1F.con", "line\nbreak.con",
      // ':' names a data stream or a drive
      "file.con:hidden", "dir:stream/x.con", "C:x.con", "c:levels/x.con",
      // rooted, device and UNC forms ("/name", an empty base path's form, is written as "name")
      "\\rooted.con", "\\\\?\\C:\\x.con", "//?/C:/x.con", "\\\\.\\pipe\\x", "//./COM1",
      "\\\\server\\share\\x.con", "//server/share/x.con"};
  for (const std::string& name : refused) {
    CurrentDirGuard keep;
    Sandbox box;
    const Outcome outcome = ExtractOnly(box, name);
    EXPECT_FALSE(outcome.written) << name;
    EXPECT_TRUE(outcome.trace.find(name) != std::string::npos ||
                outcome.trace.find(vzrfs::WithSlashes(name)) != std::string::npos)
        << name << ": the refusal names the entry: " << outcome.trace;
    EXPECT_TRUE(fs::is_empty(testutil::Utf8Path(box.dest))) << name << ": something was written";
    EXPECT_EQ(FilesBelow(box.root.path()), std::vector<std::string>{"arc/x.vzr"}) << name;
  }
}

TEST(WindowsNames, NamesThatOnlyLookReservedAreWritten) {
  const std::vector<std::string> accepted = {"CONSOLE.con", "console",   "com10.txt", "COM0.inc",  "lpt.txt",
                                             "auxiliary.rs", "nul_.con", "PRN2x",     "a.b.c.con", "name..x",
                                             "levels/con_map/x.rs", ".hidden.con", "space inside.con"};
  for (const std::string& name : accepted) {
    CurrentDirGuard keep;
    Sandbox box;
    const Outcome outcome = ExtractOnly(box, name);
    EXPECT_TRUE(outcome.written) << name << ": " << outcome.trace;
    EXPECT_EQ(testutil::ReadFileBytes(box.dest + "/" + name), testutil::ToBytes("content")) << name;
  }
}

// NTFS holds one file for names that differ only in letter case, and the
// engine matches names the same way: entries of one run that differ only in
// case end as one file, under the first spelling, with the last entry's
// content; a user's file under another spelling is that same file.
TEST(WindowsNames, NamesDifferingOnlyInCaseLandOnOneFile) {
  CurrentDirGuard keep;
  Sandbox box;
  testutil::WriteFileText(box.dest + "/Readme.TXT", "the user's");
  ArchiveLayout layout;
  layout.AddRaw("x/Twice.txt", "first");
  layout.AddRaw("X/twice.TXT", "second");
  layout.AddRaw("README.txt", "the archive's");
  layout.WriteTo(box.archivePath);
  VzrArchive archive;
  Load(archive, box.archivePath);
  testutil::TraceCapture quiet;
  ASSERT_EQ(archive.ExtractAll(box.dest.c_str()), 0);
  EXPECT_EQ(FilesBelow(box.dest), (std::vector<std::string>{"Readme.TXT", "x/Twice.txt"}));
  EXPECT_EQ(testutil::ReadFileBytes(box.dest + "/x/Twice.txt"), testutil::ToBytes("second"));
  EXPECT_EQ(testutil::ReadFileBytes(box.dest + "/Readme.TXT"), testutil::ToBytes("the archive's"));
}

// A destination deep enough that every file below it is past the 260
// characters of MAX_PATH.
TEST(WindowsNames, PathsLongerThanMaxPathAreWritten) {
  CurrentDirGuard keep;
  Sandbox box;
  std::string deep = box.dest;
  while (deep.size() < 300) deep += "/a_rather_long_folder_name";
  ASSERT_TRUE(fs::create_directories(testutil::Utf8Path(LongForm(deep))));
  ArchiveLayout layout;
  layout.AddRaw("levels/deeper_still/map_of_the_tower.rs", "far down");
  layout.WriteTo(box.archivePath);
  VzrArchive archive;
  Load(archive, box.archivePath);
  testutil::TraceCapture quiet;
  ASSERT_EQ(archive.ExtractAll(deep.c_str()), 0);
  const std::string file = deep + "/levels/deeper_still/map_of_the_tower.rs";
  ASSERT_GT(file.size(), 260u);
  EXPECT_EQ(testutil::ReadFileBytes(LongForm(file)), testutil::ToBytes("far down"));
}

// A junction or a folder symbolic link in the destination leads outside it:
// the entry below it is refused, nothing lands outside, the rest is written.
TEST(WindowsReparse, LinkPlantedInTheDestinationIsNotFollowed) {
  struct Plant {
    const char* what;
    bool (*make)(const std::string& link, const std::string& target, std::string& why);
  } plants[] = {
      {"a junction", [](const std::string& l, const std::string& t, std::string& why) {
         return testutil::MakeJunction(l, t, why);
       }},
      {"a folder symbolic link", [](const std::string& l, const std::string& t, std::string& why) {
         return testutil::MakeSymlink(l, t, true, why);
       }},
  };
  int planted = 0;
  std::string whyNot;
  for (const Plant& plant : plants) {
    CurrentDirGuard keep;
    Sandbox box;
    fs::create_directories(box.root.path() / "outside");
    std::string why;
    // Wine makes neither kind: its calls fail, or succeed and leave nothing.
    if (!plant.make(box.dest + "/sub", box.root / "outside", why) || !testutil::IsReparsePoint(box.dest + "/sub")) {
      whyNot += std::string(plant.what) + ": " + (why.empty() ? "nothing was made" : why) + "; ";
      continue;
    }
    ++planted;
    ArchiveLayout layout;
    layout.AddRaw("first.con", "1");
    layout.AddRaw("sub/escape.con", "evil");
    layout.AddRaw("last.con", "2");
    layout.WriteTo(box.archivePath);
    VzrArchive archive;
    Load(archive, box.archivePath);
    testutil::TraceCapture quiet;
    EXPECT_EQ(archive.Extract(1, box.dest.c_str()), nullptr) << plant.what;
    EXPECT_NE(archive.Extract(0, box.dest.c_str()), nullptr) << plant.what;
    EXPECT_NE(archive.Extract(2, box.dest.c_str()), nullptr) << plant.what;
    EXPECT_TRUE(fs::is_empty(box.root.path() / "outside")) << plant.what << ": written through the link";
    EXPECT_TRUE(testutil::IsReparsePoint(box.dest + "/sub")) << plant.what << ": the link itself stays";
  }
  if (planted == 0) GTEST_SKIP() << "no reparse point can be made here: " << whyNot;
}

// Packing a directory tree into a new archive.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "format.h"
#include "ops_testutil.h"
#include "testutil.h"
#include "vzrpack.h"

using opstest::Load;
using opstest::StatusRecorder;
using testutil::ArchiveLayout;
using testutil::Bytes;
using testutil::CurrentDirGuard;
using testutil::TempDir;
namespace fs = std::filesystem;

namespace {

struct PackRun {
  int result = 0;
  std::vector<std::string> statuses;  // texts and "<repaint>"
  std::vector<std::string> trace;
};

PackRun Pack(const std::string& source, const std::string& base, const std::string& archive, int compress = 1) {
  char src[512] = {}, basePath[512] = {};
  std::strncpy(src, source.c_str(), sizeof src - 1);
  std::strncpy(basePath, base.c_str(), sizeof basePath - 2);
  StatusRecorder status;
  testutil::TraceCapture capture;
  PackRun run;
  run.result = PackDirectory(src, basePath, archive.c_str(), compress);
  run.statuses = status.events;
  run.trace = capture.Lines();
  return run;
}

std::vector<std::string> EntryNames(const std::string& archivePath) {
  VzrArchive archive;
  Load(archive, archivePath);
  std::vector<std::string> names;
  for (uint32_t i = 0; i < archive.FileIndex.count; ++i) names.emplace_back(archive.FileIndex.files[i].name);
  return names;
}

std::vector<std::string> TextsOnly(const std::vector<std::string>& events) {
  std::vector<std::string> texts;
  for (const std::string& e : events)
    if (e != "<repaint>") texts.push_back(e);
  return texts;
}

}  // namespace

TEST(PackDirectory, TwoFileArchiveHasExactlyTheFormatsBytes) {
  TempDir dir;
  testutil::WriteFileBytes(dir / "src/a.txt", opstest::Pattern(10, 1));
  testutil::WriteFileBytes(dir / "src/b.txt", opstest::Pattern(20, 2));
  const PackRun run = Pack(dir / "src", "base", dir / "out.vzr");
  EXPECT_EQ(run.result, 2);

  ArchiveLayout layout;
  layout.AddRaw("base/a.txt", opstest::Pattern(10, 1));
  layout.AddRaw("base/b.txt", opstest::Pattern(20, 2));
  Bytes expected = layout.Build();
  std::copy(vzr::kFixedBlock.bytes, vzr::kFixedBlock.bytes + vzr::kFixedBlockSize, expected.begin() + 8);
  const Bytes actual = testutil::ReadFileBytes(dir / "out.vzr");
  EXPECT_EQ(actual, expected);
  EXPECT_EQ(testutil::GetLE32(actual, 0), 186u) << "indexOffset is 156 + 30";
  EXPECT_EQ(testutil::GetLE32(actual, 4), 0u) << "every packed archive is raw";
  EXPECT_EQ(CurrentPackArchive, nullptr);
}

TEST(PackDirectory, StatusTextsTraceLinesAndProgressWith25Files) {
  TempDir dir;
  for (int i = 0; i < 25; ++i) testutil::WriteFileText(dir / ("src/f" + std::to_string(100 + i)), "x");
  const PackRun run = Pack(dir / "src", "p", dir / "out.vzr");
  EXPECT_EQ(run.result, 25);
  std::vector<std::string> expected = {"Packing..."};
  for (int d = 0; d < 10; ++d) {
    expected.push_back(std::to_string(d) + "0 %");
    expected.push_back("<repaint>");
  }
  expected.insert(expected.end(), {"<repaint>", "100 %", "Writing Index...", "Files packed: 25"});
  EXPECT_EQ(run.statuses, expected);
  EXPECT_EQ(run.trace, (std::vector<std::string>{"TotalFiles: 25", "  Uncompressed .vzr size (mb): 0",
                                                 "tmpDestDirLoc: " + dir.str()}));
  const auto names = EntryNames(dir / "out.vzr");
  ASSERT_EQ(names.size(), 25u);
  EXPECT_EQ(names.front(), "p/f100");
  EXPECT_EQ(names.back(), "p/f124");
}

TEST(PackDirectory, NineFilesGoStraightTo100Percent) {
  TempDir dir;
  for (int i = 0; i < 9; ++i) testutil::WriteFileText(dir / ("src/f" + std::to_string(i)), "x");
  const PackRun run = Pack(dir / "src", "p", dir / "out.vzr");
  EXPECT_EQ(TextsOnly(run.statuses),
            (std::vector<std::string>{"Packing...", "100 %", "Writing Index...", "Files packed: 9"}));
}

TEST(PackDirectory, EntryNamesFollowSourceAndBasePathRules) {
  TempDir dir;
  testutil::WriteFileText(dir / "src/x/a.con", "a");
  testutil::WriteFileText(dir / "src/Top.TXT", "t");
  Pack(dir / "src", "p", dir / "1.vzr");
  EXPECT_EQ(EntryNames(dir / "1.vzr"), (std::vector<std::string>{"p/Top.TXT", "p/x/a.con"}))
      << "a folder's files come before its subfolders, case kept";
  Pack(dir / "src/", "p", dir / "2.vzr");
  Pack(dir.str() + "\\src\\", "p", dir / "3.vzr");
  EXPECT_EQ(testutil::ReadFileBytes(dir / "2.vzr"), testutil::ReadFileBytes(dir / "1.vzr"))
      << "a trailing separator changes nothing";
  EXPECT_EQ(testutil::ReadFileBytes(dir / "3.vzr"), testutil::ReadFileBytes(dir / "1.vzr"));
  Pack(dir / "src", "a\\b", dir / "4.vzr");
  EXPECT_EQ(EntryNames(dir / "4.vzr")[0], "a/b/Top.TXT");
  Pack(dir / "src", "a/b/", dir / "5.vzr");
  EXPECT_EQ(EntryNames(dir / "5.vzr")[0], "a/b/Top.TXT");
  Pack(dir / "src", "", dir / "6.vzr");
  EXPECT_EQ(EntryNames(dir / "6.vzr"), (std::vector<std::string>{"/Top.TXT", "/x/a.con"}));
}

TEST(PackDirectory, BasePathIsNormalisedInPlace) {
  TempDir dir;
  testutil::WriteFileText(dir / "src/a", "a");
  char src[512] = {}, base[512] = "lev\\one";
  std::strcpy(src, (dir / "src").c_str());
  testutil::TraceCapture quiet;
  PackDirectory(src, base, (dir / "o.vzr").c_str(), 1);
  EXPECT_STREQ(base, "lev/one/");
}

TEST(PackDirectory, ListingOrderIgnoresCaseSoRepeatedPacksAreIdentical) {
  TempDir dir;
  testutil::WriteFileText(dir / "src/b.txt", "b");
  testutil::WriteFileText(dir / "src/A.txt", "a");
  testutil::WriteFileText(dir / "src/C/d.txt", "d");
  testutil::WriteFileText(dir / "src/a2/e.txt", "e");
  Pack(dir / "src", "m", dir / "1.vzr");
  Pack(dir / "src", "m", dir / "2.vzr");
  EXPECT_EQ(EntryNames(dir / "1.vzr"), (std::vector<std::string>{"m/A.txt", "m/b.txt", "m/a2/e.txt", "m/C/d.txt"}));
  EXPECT_EQ(testutil::ReadFileBytes(dir / "1.vzr"), testutil::ReadFileBytes(dir / "2.vzr"));
}

TEST(PackDirectory, NoFilesMeansNoArchive) {
  TempDir dir;
  fs::create_directories(dir / "src/empty/deeper");
  const PackRun run = Pack(dir / "src", "p", dir / "out.vzr");
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(TextsOnly(run.statuses).back(), "No files to pack..");
  EXPECT_EQ(run.trace.at(0), "TotalFiles: 0");
  EXPECT_FALSE(fs::exists(dir / "out.vzr"));
  const PackRun missing = Pack(dir / "nowhere", "p", dir / "out.vzr");
  EXPECT_EQ(missing.result, 1);
  EXPECT_FALSE(fs::exists(dir / "out.vzr"));
}

TEST(PackDirectory, UnreadableFilesAreSkippedAndAnEmptyResultDeletesTheArchive) {
  TempDir dir;
  testutil::WriteFileText(dir / "src/a.txt", "a");
  fs::create_symlink(dir / "gone", dir / "src/broken");
  testutil::WriteFileText(dir / "src/c.txt", "c");
  PackRun run = Pack(dir / "src", "p", dir / "out.vzr");
  EXPECT_EQ(run.result, 2);
  EXPECT_EQ(TextsOnly(run.statuses).back(), "Files packed: 2");
  EXPECT_NE(std::find(run.trace.begin(), run.trace.end(), "ERROR! inputFile: " + (dir / "src/broken")),
            run.trace.end());
  EXPECT_EQ(EntryNames(dir / "out.vzr"), (std::vector<std::string>{"p/a.txt", "p/c.txt"}));

  fs::create_directory(dir / "bad");
  fs::create_symlink(dir / "gone", dir / "bad/x");
  run = Pack(dir / "bad", "p", dir / "none.vzr");
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(TextsOnly(run.statuses).back(), "Files packed: 0");
  EXPECT_FALSE(fs::exists(dir / "none.vzr"));
}

TEST(PackDirectory, ArchiveThatCannotBeCreated) {
  TempDir dir;
  testutil::WriteFileText(dir / "src/a.txt", "a");
  const std::string target = dir / "no/such/folder/out.vzr";
  const PackRun run = Pack(dir / "src", "p", target);
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(TextsOnly(run.statuses).back(), "Error! Could not create .vzr file: " + target);
  EXPECT_EQ(run.trace.back(), "tmpDestDirLoc: " + dir.str() + "/no/such/folder")
      << "a pack below 1 MiB passes the free-space test even when the query fails";
}

TEST(PackDirectory, ArchivePathThatIsAFolderOrUnwritableFailsBeforeAnyFileIsRead) {
  TempDir dir;
  testutil::WriteFileText(dir / "src/a.txt", "a");
  fs::create_directory(dir / "folder.vzr");
  for (const std::string& target : {dir / "folder.vzr", std::string("/proc/vzr-unwritable.vzr")}) {
    const PackRun run = Pack(dir / "src", "p", target);
    EXPECT_EQ(run.result, 1) << target;
    const std::vector<std::string> texts = TextsOnly(run.statuses);
    EXPECT_EQ(texts.back(), "Error! Could not create .vzr file: " + target);
    EXPECT_EQ(std::find(texts.begin(), texts.end(), "100 %"), texts.end()) << "files were read first";
  }
  EXPECT_TRUE(fs::is_directory(dir / "folder.vzr"));
  EXPECT_EQ(opstest::FilesBelow(dir.path()), std::vector<std::string>{"src/a.txt"});
}

// A link at the archive path that leads nowhere yet is written through, as
// a rewrite through a link is: the archive is created where it leads and
// the link stays. Where no folder is there to hold it, the pack is refused
// and the link left alone.
TEST(PackDirectory, ALinkThatLeadsNowhereIsWrittenThrough) {
  TempDir dir;
  testutil::WriteFileText(dir / "src/a.txt", "a");
  fs::create_directories(dir / "elsewhere");
  fs::create_symlink("elsewhere/hop.vzr", dir / "out.vzr");
  fs::create_symlink("gone.vzr", dir / "elsewhere/hop.vzr");
  EXPECT_EQ(Pack(dir / "src", "p", dir / "out.vzr").result, 1);
  EXPECT_TRUE(fs::is_symlink(dir / "out.vzr"));
  EXPECT_TRUE(fs::is_symlink(dir / "elsewhere/hop.vzr"));
  EXPECT_EQ(EntryNames(dir / "elsewhere/gone.vzr"), std::vector<std::string>{"p/a.txt"});

  fs::create_symlink(dir / "nofolder/gone.vzr", dir / "lost.vzr");
  const PackRun refused = Pack(dir / "src", "p", dir / "lost.vzr");
  EXPECT_EQ(TextsOnly(refused.statuses).back(), "Error! Could not create .vzr file: " + dir / "lost.vzr");
  EXPECT_TRUE(fs::is_symlink(dir / "lost.vzr"));
  EXPECT_FALSE(fs::exists(dir / "nofolder"));
}

// A named pipe (opening it would wait for ever) is skipped, and so is a
// folder link back into the tree (it would repeat the tree until the path
// grew too long); each with a trace line.
TEST(PackDirectory, PipesAndFolderLinksBackIntoTheTreeAreSkipped) {
#ifdef _WIN32
  GTEST_SKIP() << "makes a named pipe with mkfifo";
#else
  TempDir dir;
  testutil::WriteFileText(dir / "src/d/a.txt", "a");
  ASSERT_EQ(::mkfifo((dir / "src/p.pipe").c_str(), 0600), 0);
  fs::create_directory_symlink("..", dir / "src/d/up");
  const PackRun run = Pack(dir / "src", "p", dir / "out.vzr");
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(EntryNames(dir / "out.vzr"), std::vector<std::string>{"p/d/a.txt"});
  for (const char* line : {"not a plain file, skipped: ", "leads back into the packed tree, skipped: "})
    EXPECT_NE(std::find_if(run.trace.begin(), run.trace.end(),
                           [&](const std::string& l) { return l.find(line) != std::string::npos; }),
              run.trace.end())
        << line;
#endif
}

TEST(PackDirectory, ArchivePathWithoutFolderUsesTheCurrentFolderForSpace) {
  CurrentDirGuard keep;
  TempDir dir;
  testutil::WriteFileText(dir / "src/a.txt", "a");
  fs::current_path(dir.path());
  const PackRun run = Pack("src", "p", "out.vzr");
  EXPECT_EQ(run.trace.back(), "tmpDestDirLoc: .\\");
  EXPECT_EQ(EntryNames(dir / "out.vzr"), std::vector<std::string>{"p/a.txt"});
}

TEST(PackDirectory, ShortSourcePacksTheCurrentFolderWithRelativeNames) {
  CurrentDirGuard keep;
  TempDir dir;
  testutil::WriteFileText(dir / "src/a.txt", "a");
  testutil::WriteFileText(dir / "src/sub/b.txt", "b");
  fs::current_path(dir / "src");
  Pack(".", "q", dir / "out.vzr");
  EXPECT_EQ(EntryNames(dir / "out.vzr"), (std::vector<std::string>{"q/a.txt", "q/sub/b.txt"}));
}

TEST(PackDirectory, AnOldArchiveInsideTheSourceIsNotPackedIntoItself) {
  TempDir dir;
  testutil::WriteFileText(dir / "src/a.txt", "a");
  testutil::WriteFileText(dir / "src/out.vzr", "an older pack");
  const PackRun run = Pack(dir / "src", "p", dir / "src/out.vzr");
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(EntryNames(dir / "src/out.vzr"), std::vector<std::string>{"p/a.txt"});
}

TEST(PackDirectory, OverlongPathsAreSkippedWithATraceLine) {
  TempDir dir;
  std::string deep = dir / "src";
  for (int i = 0; i < 3; ++i) deep += "/" + std::string(200, static_cast<char>('a' + i));
  testutil::WriteFileText(deep + "/f.txt", "too deep");
  testutil::WriteFileText(dir / "src/ok.txt", "fine");
  const PackRun run = Pack(dir / "src", "p", dir / "out.vzr");
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(EntryNames(dir / "out.vzr"), std::vector<std::string>{"p/ok.txt"});
  const bool reported = std::any_of(run.trace.begin(), run.trace.end(), [](const std::string& line) {
    return line.rfind("ERROR! path too long, skipped: ", 0) == 0;
  });
  EXPECT_TRUE(reported);
}

TEST(PackDirectory, PacksThatWouldPassFourGiBAreRefusedBeforeWriting) {
  TempDir dir;
  fs::create_directory(dir / "src");
  // Sparse files: listed at 5 GiB in all, taking no disk space.
  for (const char* name : {"big1", "big2"}) {
    testutil::WriteFileText(dir / ("src/" + std::string(name)), "");
    fs::resize_file(dir / ("src/" + std::string(name)), 2600000000u);
  }
  const PackRun run = Pack(dir / "src", "p", dir / "out.vzr");
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(TextsOnly(run.statuses).back(), "Error! Too much data: a .vzr file cannot reach 4 GB!");
  EXPECT_FALSE(fs::exists(dir / "out.vzr"));
}

TEST(PackDirectory, EarlyStopKeepsTheObjectUntilTheNextPack) {
  TempDir dir;
  fs::create_directory(dir / "empty");
  Pack(dir / "empty", "p", dir / "out.vzr");
  EXPECT_NE(CurrentPackArchive, nullptr);
  testutil::WriteFileText(dir / "src/a", "a");
  Pack(dir / "src", "p", dir / "out.vzr");
  EXPECT_EQ(CurrentPackArchive, nullptr);
}

TEST(PackModFolder, PacksParentFolderUnderItsNameAndForcesSoundRaw) {
  CurrentDirGuard keep;
  TempDir mod;
  testutil::WriteFileText(mod / "Sound/ui/click.wav", "wav");
  testutil::WriteFileText(mod / "hx1920/levels/l1/map.con", "map");
  fs::create_directory(mod / "Archives");
  fs::current_path(mod / "Archives");
  StatusRecorder status;
  {
    testutil::TraceCapture capture;
    EXPECT_EQ(PackModFolder("Sound", 1), 0);
    const auto lines = capture.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "FORCING sound.vzr uncompressed");
  }
  EXPECT_EQ(EntryNames(mod / "Archives/Sound.vzr"), std::vector<std::string>{"Sound/ui/click.wav"});
  {
    testutil::TraceCapture capture;
    EXPECT_EQ(PackModFolder("hx1920/levels/l1", 1), 0);
    EXPECT_EQ(capture.Text().find("FORCING"), std::string::npos);
  }
  EXPECT_EQ(EntryNames(mod / "Archives/hx1920/levels/l1.vzr").size(), 0u) << "no folder to put it in yet";
  fs::create_directories(mod / "Archives/hx1920/levels");
  {
    testutil::TraceCapture quiet;
    PackModFolder("hx1920/levels/l1", 1);
  }
  EXPECT_EQ(EntryNames(mod / "Archives/hx1920/levels/l1.vzr"), std::vector<std::string>{"hx1920/levels/l1/map.con"});
  EXPECT_EQ(status.Texts().back(), "Files packed: 1");
  testutil::TraceCapture music;
  PackModFolder("MUSIC", 1);
  EXPECT_EQ(PackModFolder("missing", 0), 0);
  EXPECT_EQ(music.Lines().at(0), "FORCING music.vzr uncompressed");
}

TEST(PackThenExtract, RoundTripRestoresTheTree) {
  CurrentDirGuard keep;
  TempDir dir;
  testutil::WriteFileBytes(dir / "src/a/b/c.bin", opstest::Pattern(70000, 4));
  testutil::WriteFileBytes(dir / "src/empty.txt", {});
  testutil::WriteFileBytes(dir / "src/z.con", testutil::ToBytes("script"));
  Pack(dir / "src", "", dir / "round.vzr");
  VzrArchive archive;
  Load(archive, dir / "round.vzr");
  fs::create_directory(dir / "out");
  testutil::TraceCapture quiet;
  ASSERT_EQ(archive.ExtractAll((dir / "out").c_str()), 0);
  EXPECT_EQ(opstest::FilesBelow(dir / "out"), opstest::FilesBelow(dir / "src"));
  EXPECT_EQ(testutil::ReadFileBytes(dir / "out/a/b/c.bin"), opstest::Pattern(70000, 4));
}

TEST(PackDirectory, NamesLongerThanTheIndexHoldsAreSkipped) {
  TempDir dir;
  const std::string longName(200, 'n');
  testutil::WriteFileText(dir / ("src/" + longName), "long");
  testutil::WriteFileText(dir / "src/short", "short");
  const std::string base(59, 'b');  // base + '/' + 200 = 260 characters: one too many
  const PackRun run = Pack(dir / "src", base, dir / "out.vzr");
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(EntryNames(dir / "out.vzr"), std::vector<std::string>{base + "/short"});
  EXPECT_NE(std::find(run.trace.begin(), run.trace.end(),
                      "ERROR! entry name too long (260 characters), skipped: " + (dir / ("src/" + longName))),
            run.trace.end());
  const PackRun fits = Pack(dir / "src", base.substr(1), dir / "fits.vzr");
  EXPECT_EQ(fits.result, 2) << "259 characters still fit";
}

TEST(TemporaryFiles, AUsersOwnTmpAndPartFilesSurviveAPackAndASave) {
  TempDir dir;
  testutil::WriteFileText(dir / "src/a.txt", "first");
  const std::string archive = dir / "x.vzr";
  testutil::WriteFileText(archive + ".tmp", "mine");
  testutil::WriteFileText(archive + ".part", "mine too");
  ASSERT_EQ(Pack(dir / "src", "p", archive).result, 1);
  ASSERT_EQ(Pack(dir / "src", "p", archive).result, 1);  // over the archive just made
  VzrArchive a;
  Load(a, archive);
  std::memcpy(a.fileBuffer, "second", 6);
  {
    StatusRecorder status;
    testutil::TraceCapture quiet;
    ASSERT_EQ(a.AddReplaceFile(0, 6), 0);
  }
  ASSERT_NE(a.Extract(0, nullptr), nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(a.fileBuffer), 6), "second");
  a.CloseArchiveStream();
  EXPECT_EQ(testutil::ReadFileBytes(archive + ".tmp"), testutil::ToBytes("mine"));
  EXPECT_EQ(testutil::ReadFileBytes(archive + ".part"), testutil::ToBytes("mine too"));
  EXPECT_EQ(testutil::TemporariesBeside(archive), (std::vector<std::string>{"x.vzr.part", "x.vzr.tmp"}));
}

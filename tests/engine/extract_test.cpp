// Extraction of entries into memory and into files, and its failures.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "ops_testutil.h"
#include "testutil.h"
#include "vzrpack.h"

using opstest::Load;
using opstest::Pattern;
using testutil::ArchiveLayout;
using testutil::Bytes;
using testutil::CurrentDirGuard;
using testutil::TempDir;
namespace fs = std::filesystem;

namespace {

Bytes Content(unsigned char* buffer, uint32_t n) { return Bytes(buffer, buffer + n); }

// A segmented archive whose entries carry this system's literal-only form.
ArchiveLayout SegmentedLayout(const std::vector<std::pair<std::string, Bytes>>& files) {
  ArchiveLayout layout;
  layout.storageMode = 1;
  for (const auto& [name, content] : files)
    layout.entries.push_back({name, testutil::LiteralSegmentedForm(content), static_cast<uint32_t>(content.size())});
  return layout;
}

// Each test gets a folder of its own, an engine object, and the current
// directory back when it ends (extraction changes it).
class Extract : public testing::Test {
 protected:
  // Writes the archive name of layout into the folder and loads its index.
  void Open(const ArchiveLayout& layout, const std::string& name = "x.vzr") {
    layout.WriteTo(dir / name);
    Load(archive, dir / name);
  }
  CurrentDirGuard keep;
  TempDir dir;
  VzrArchive archive;
};
class ExtractAll : public Extract {};
class ExtractByName : public Extract {};

}  // namespace

TEST_F(Extract, RawEntryIntoMemoryReturnsItsBytesAndLeavesTheStreamOpen) {
  ArchiveLayout layout;
  layout.AddRaw("a.con", "first");
  layout.AddRaw("b/c.txt", "second entry");
  Open(layout);
  unsigned char* got = archive.Extract(1, nullptr);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got, archive.fileBuffer);
  EXPECT_EQ(archive.curLength, 12u);
  EXPECT_EQ(archive.storeLength, 12u);
  EXPECT_EQ(Content(got, 12), testutil::ToBytes("second entry"));
  EXPECT_NE(archive.vzrFileStream, nullptr) << "Extract keeps the stream for the next entry";
  EXPECT_GE(archive.fileBufferCapacity, 14u) << "room for two terminator bytes";
  archive.CloseArchiveStream();
}

TEST_F(Extract, IndexEqualToCountIsOutOfRange) {
  ArchiveLayout layout;
  layout.AddRaw("a", "1");
  Open(layout);
  testutil::TraceCapture capture;
  EXPECT_EQ(archive.Extract(1, nullptr), nullptr);
  EXPECT_EQ(capture.Text(), "ERROR! item out of range to extract! 1\n");
  EXPECT_EQ(archive.vzrFileStream, nullptr) << "the stream is not touched";
}

TEST_F(Extract, MissingArchiveFileIsReported) {
  ArchiveLayout layout;
  layout.AddRaw("a", "1");
  Open(layout);
  fs::remove(dir / "x.vzr");
  testutil::TraceCapture capture;
  EXPECT_EQ(archive.Extract(0, nullptr), nullptr);
  EXPECT_EQ(capture.Text(), "ERROR! Extract(), .vzr file not open!\n");
}

TEST_F(Extract, SegmentedEntriesDecodeAcrossSegments) {
  const Bytes big = Pattern(40000, 3), small = testutil::ToBytes("hello");
  Open(SegmentedLayout({{"big.bin", big}, {"s.con", small}, {"empty", {}}}), "s.vzr");
  ASSERT_EQ(archive.FileIndex.count, 3u);
  unsigned char* got = archive.Extract(0, nullptr);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(Content(got, archive.curLength), big);
  EXPECT_EQ(archive.storeLength, 40194u);
  got = archive.Extract(1, nullptr);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(Content(got, archive.curLength), small);
  EXPECT_NE(archive.Extract(2, nullptr), nullptr);
  EXPECT_EQ(archive.curLength, 0u);
}

TEST_F(Extract, EntryWithFoldersIsWrittenBelowDestinationWhichBecomesCurrent) {
  ArchiveLayout layout;
  layout.AddRaw("a/b/c.txt", "deep");
  layout.AddRaw("xy/z", "short folder");  // a '/' among the last three characters
  layout.AddRaw("top", "");
  Open(layout);
  fs::create_directory(dir / "D");
  for (uint32_t i = 0; i < 3; ++i) ASSERT_NE(archive.Extract(i, (dir / "D").c_str()), nullptr) << i;
  EXPECT_EQ(testutil::ReadFileBytes(dir / "D/a/b/c.txt"), testutil::ToBytes("deep"));
  EXPECT_EQ(testutil::ReadFileBytes(dir / "D/xy/z"), testutil::ToBytes("short folder"));
  EXPECT_TRUE(fs::exists(dir / "D/top"));
  EXPECT_EQ(fs::file_size(dir / "D/top"), 0u) << "an empty entry is an empty file";
  EXPECT_EQ(fs::current_path(), fs::path(dir / "D"));
}

TEST_F(Extract, EmptyEntryOfSegmentedArchiveIsAnEmptyFile) {
  Open(SegmentedLayout({{"e.txt", {}}}), "s.vzr");
  ASSERT_NE(archive.Extract(0, dir.str().c_str()), nullptr);
  ASSERT_TRUE(fs::exists(dir / "e.txt"));
  EXPECT_EQ(fs::file_size(dir / "e.txt"), 0u);
}

TEST_F(Extract, ReadOnlyFileAtTheTargetIsOverwritten) {
  ArchiveLayout layout;
  layout.AddRaw("r.txt", "new");
  Open(layout);
  testutil::WriteFileText(dir / "out/r.txt", "old contents");
  ::chmod((dir / "out/r.txt").c_str(), 0444);
  ASSERT_NE(archive.Extract(0, (dir / "out").c_str()), nullptr);
  EXPECT_EQ(testutil::ReadFileBytes(dir / "out/r.txt"), testutil::ToBytes("new"));
}

TEST_F(Extract, ShortDecodeFailsWithTheSizeLineAndWritesNoFile) {
  ArchiveLayout layout = SegmentedLayout({{"f.txt", testutil::ToBytes("hello")}});
  layout.entries[0].fileSize = 6;  // decodes to 5
  Open(layout, "s.vzr");
  testutil::TraceCapture capture;
  EXPECT_EQ(archive.Extract(0, dir.str().c_str()), nullptr);
  EXPECT_EQ(capture.Text(), "ERROR! Extract() fileSize: 5 should be: 6\n");
  EXPECT_FALSE(fs::exists(dir / "f.txt"));
}

// A stored form cut short by the archive's end must fail even when the
// buffer still holds a previous entry of the right size.
TEST_F(Extract, StoredFormPastTheArchiveEndFailsInBothModes) {
  for (uint32_t mode : {0u, 1u}) {
    TempDir dir;
    const Bytes content = Pattern(300, 9);
    ArchiveLayout layout;
    layout.storageMode = mode;
    const Bytes stored = mode == 1 ? testutil::LiteralSegmentedForm(content) : content;
    layout.entries.push_back({"one", stored, 300});
    layout.entries.push_back({"two", stored, 300});
    Bytes bytes = layout.Build();
    // Entry "two" claims its stored bytes start near the end of the file.
    const std::size_t indexAt = testutil::GetLE32(bytes, 0);
    const std::size_t secondOffsetField = indexAt + 4 + (4 + 3 + 12 + 12) + 4 + 3 + 8;
    testutil::Bytes patched = bytes;
    const auto lateOffset = static_cast<uint32_t>(bytes.size() - 10);
    for (int i = 0; i < 4; ++i) patched[secondOffsetField + i] = static_cast<unsigned char>(lateOffset >> (8 * i));
    testutil::WriteFileBytes(dir / "x.vzr", patched);
    VzrArchive archive;
    Load(archive, dir / "x.vzr");
    ASSERT_EQ(archive.FileIndex.files[1].fileOffset, lateOffset) << "mode " << mode;
    ASSERT_NE(archive.Extract(0, nullptr), nullptr) << "mode " << mode;
    testutil::TraceCapture capture;
    EXPECT_EQ(archive.Extract(1, nullptr), nullptr) << "mode " << mode;
    // A raw entry reports the 10 bytes the archive holds from its offset.
    EXPECT_EQ(capture.Text(), std::string("ERROR! Extract() fileSize: ") + (mode == 0 ? "10" : "0") + " should be: 300\n")
        << "mode " << mode;
  }
}

TEST_F(Extract, DamagedSizesAreRefusedBeforeAnyBufferGrows) {
  TempDir dir;
  for (uint32_t mode : {0u, 1u, 7u}) {
    ArchiveLayout layout;
    layout.storageMode = mode;
    layout.entries.push_back({"huge", mode == 1 ? testutil::LiteralSegmentedForm(Pattern(40, 1)) : Pattern(40, 1),
                            0xFFFFFF00u});
    layout.WriteTo(dir / "h.vzr");
    VzrArchive archive;
    Load(archive, dir / "h.vzr");
    testutil::TraceCapture capture;
    EXPECT_EQ(archive.Extract(0, nullptr), nullptr) << "mode " << mode;
    EXPECT_EQ(capture.Text(), std::string("ERROR! Extract() fileSize: ") + (mode == 0 ? "40" : "0") +
                                  " should be: 4294967040\n");
    EXPECT_EQ(archive.fileBufferCapacity, 4000000u) << "no buffer may grow for a damaged entry";
    EXPECT_EQ(archive.storeBufferCapacity, 6000260u);
  }
}

TEST_F(Extract, RawSizeMismatchReportsTheBytesTheArchiveHolds) {
  ArchiveLayout layout;
  layout.entries.push_back({"short.txt", Pattern(5, 2), 10});
  Open(layout, "r.vzr");
  testutil::TraceCapture capture;
  EXPECT_EQ(archive.Extract(0, nullptr), nullptr);
  EXPECT_EQ(capture.Text(), "ERROR! Extract() fileSize: 5 should be: 10\n");
}

TEST_F(Extract, SegmentCountZeroIsAnEmptyFileAndExtractAllGoesOn) {
  ArchiveLayout layout;
  layout.storageMode = 1;
  layout.entries.push_back({"empty.txt", Bytes{0, 0, 0, 0}, 0});
  layout.entries.push_back({"later.txt", testutil::LiteralSegmentedForm(testutil::ToBytes("after")), 5});
  Open(layout, "s.vzr");
    fs::create_directory(dir / "out");
  testutil::TraceCapture quiet;
  ASSERT_EQ(archive.ExtractAll((dir / "out").c_str()), 0);
  EXPECT_EQ(fs::file_size(dir / "out/empty.txt"), 0u);
  EXPECT_EQ(testutil::ReadFileBytes(dir / "out/later.txt"), testutil::ToBytes("after"));
}

TEST_F(Extract, LargeEntryGrowsTheBuffersOnce) {
  const Bytes content = Pattern(4500000, 5);
  Open(SegmentedLayout({{"big", content}}), "b.vzr");
  unsigned char* got = archive.Extract(0, nullptr);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(archive.fileBufferCapacity, 4500002u);
  EXPECT_TRUE(std::equal(content.begin(), content.end(), got));
}

TEST_F(ExtractByName, FindsNamesWithoutRegardToCase) {
  ArchiveLayout layout;
  layout.AddRaw("b.txt", "bee");
  layout.AddRaw("a.con", "script");
  Open(layout);
  {
    testutil::TraceCapture capture;
    unsigned char* got = archive.ExtractByName("A.CON", nullptr);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(Content(got, archive.curLength), testutil::ToBytes("script"));
    EXPECT_EQ(capture.Text(), "EXTRACTING BY NAME: A.CON\n");
  }
  testutil::TraceCapture capture;
  EXPECT_EQ(archive.ExtractByName("a.co", nullptr), nullptr);
  EXPECT_EQ(capture.Text(), "EXTRACTING BY NAME: a.co\n  ERROR! Could not ExtractByName: a.co\n\tName Not found!\n");
}

TEST_F(ExtractAll, WritesEveryEntryReportsSizeAndClosesTheStream) {
  ArchiveLayout layout;
  layout.AddRaw("m/one.txt", "1");
  layout.AddRaw("m/n/two.txt", "22");
  Open(layout);
  opstest::StatusRecorder status;
  testutil::TraceCapture capture;
  EXPECT_EQ(archive.ExtractAll((dir / "out").c_str()), 7) << "a folder that does not exist has no free space";
  fs::create_directory(dir / "out");
  EXPECT_EQ(archive.ExtractAll((dir / "out").c_str()), 0);
  const auto lines = capture.Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "unpackedSize_MB: 0");
  EXPECT_EQ(lines[1], "ERROR! Not enough free disk space. Requires:16 has free: 0");
  EXPECT_EQ(lines[2], "unpackedSize_MB: 0");
  EXPECT_EQ(status.Texts(), (std::vector<std::string>{"m/one.txt", "m/n/two.txt"}));
  EXPECT_EQ(opstest::FilesBelow(dir / "out"), (std::vector<std::string>{"m/n/two.txt", "m/one.txt"}));
  EXPECT_EQ(archive.vzrFileStream, nullptr);
}

TEST_F(ExtractAll, RelativeDestinationNamesOneFolderForEveryEntry) {
  CurrentDirGuard keep;
  TempDir dir;
  ArchiveLayout layout;
  layout.AddRaw("a.txt", "a");
  layout.AddRaw("b/c.txt", "c");
  layout.WriteTo(dir / "x.vzr");
  fs::create_directory(dir / "out");
  fs::current_path(dir.path());
  VzrArchive archive;
  Load(archive, "x.vzr");
  testutil::TraceCapture quiet;
  EXPECT_EQ(archive.ExtractAll("out"), 0);
  EXPECT_EQ(opstest::FilesBelow(dir / "out"), (std::vector<std::string>{"a.txt", "b/c.txt"}));
}

TEST_F(ExtractAll, StopsAtTheFirstFailingEntryKeepingEarlierOnes) {
  ArchiveLayout layout;
  layout.AddRaw("first.txt", "ok");
  layout.AddRaw("second.txt", "bad");
  layout.AddRaw("third.txt", "never");
  layout.entries[1].fileSize = 2;  // raw entry whose sizes disagree
  Open(layout);
  fs::create_directory(dir / "out");
  testutil::TraceCapture capture;
  EXPECT_EQ(archive.ExtractAll((dir / "out").c_str()), 5);
  EXPECT_NE(capture.Text().find("ERROR! Could not extract file!\n"), std::string::npos);
  EXPECT_EQ(opstest::FilesBelow(dir / "out"), std::vector<std::string>{"first.txt"});
  EXPECT_EQ(archive.vzrFileStream, nullptr);
}

TEST_F(ExtractAll, NoDestinationOrNoArchive) {
  TempDir dir;
  VzrArchive archive;
  EXPECT_EQ(archive.ExtractAll(nullptr), 2);
  std::strcpy(archive.vzr_file_name, (dir / "missing.vzr").c_str());
  testutil::TraceCapture capture;
  EXPECT_EQ(archive.ExtractAll(dir.str().c_str()), 3);
  EXPECT_EQ(capture.Text(), "ERROR! Could not open .vzr file\n");
}

TEST(GetFreeDiskSpaceMB, ReportsWholeMiBAndZeroOnFailure) {
  TempDir dir;
  uint64_t bytes = 0;
  ASSERT_TRUE(vzrfs::FreeBytes(dir.str().c_str(), bytes));
  const uint32_t mib = GetFreeDiskSpaceMB(dir.str().c_str());
  EXPECT_NEAR(static_cast<double>(mib), static_cast<double>(bytes / 1048576), 64.0);
  EXPECT_EQ(GetFreeDiskSpaceMB((dir / "no/such/folder").c_str()), 0u);
}

// Folders are found without regard to case, as on the systems the archives
// come from; a file of the user's whose name differs only in case is left
// alone, while entries of one run that differ only in case end as one file,
// the last entry's.
TEST_F(ExtractAll, ExistingNamesAreMatchedWithoutRegardToCase) {
#ifdef _WIN32
  GTEST_SKIP() << "NTFS holds one file for names that differ only in case (WindowsNames tests that)";
#endif
  testutil::WriteFileText(dir / "out/Levels/MAP.CON", "old map");
  testutil::WriteFileText(dir / "out/readme.TXT", "old readme");
  ArchiveLayout layout;
  layout.AddRaw("levels/map.con", "new map");
  layout.AddRaw("README.txt", "new readme");
  layout.AddRaw("x/Twice.txt", "first");
  layout.AddRaw("X/twice.TXT", "second");
  Open(layout);
  testutil::TraceCapture quiet;
  ASSERT_EQ(archive.ExtractAll((dir / "out").c_str()), 0);
  EXPECT_EQ(opstest::FilesBelow(dir / "out"), (std::vector<std::string>{"Levels/MAP.CON", "Levels/map.con",
                                                                         "README.txt", "readme.TXT", "x/Twice.txt"}));
  EXPECT_EQ(testutil::ReadFileBytes(dir / "out/Levels/MAP.CON"), testutil::ToBytes("old map"));
  EXPECT_EQ(testutil::ReadFileBytes(dir / "out/Levels/map.con"), testutil::ToBytes("new map"));
  EXPECT_EQ(testutil::ReadFileBytes(dir / "out/readme.TXT"), testutil::ToBytes("old readme"));
  EXPECT_EQ(testutil::ReadFileBytes(dir / "out/x/Twice.txt"), testutil::ToBytes("second"))
      << "a file made earlier in the same run is found again";
}

TEST_F(Extract, SingleEntryFindsAnExistingFolderWithoutRegardToCaseNotAFile) {
#ifdef _WIN32
  GTEST_SKIP() << "NTFS holds one file for names that differ only in case (WindowsNames tests that)";
#endif
  testutil::WriteFileText(dir / "out/Data/File.BIN", "old");
  ArchiveLayout layout;
  layout.AddRaw("data/file.bin", "new");
  Open(layout);
  ASSERT_NE(archive.Extract(0, (dir / "out").c_str()), nullptr);
  EXPECT_EQ(opstest::FilesBelow(dir / "out"), (std::vector<std::string>{"Data/File.BIN", "Data/file.bin"}));
  EXPECT_EQ(testutil::ReadFileBytes(dir / "out/Data/File.BIN"), testutil::ToBytes("old"));
  EXPECT_EQ(testutil::ReadFileBytes(dir / "out/Data/file.bin"), testutil::ToBytes("new"));
}

// Folders made during a run, folders already there in another case, and a
// file standing where a folder is needed.
TEST_F(ExtractAll, NestedFoldersAreMadeOnceAndFoundWithoutRegardToCase) {
  testutil::WriteFileText(dir / "out/Mods/keep.txt", "kept");
  ArchiveLayout layout;
  layout.AddRaw("mods/new/deep/a.con", "a");
  layout.AddRaw("MODS/NEW/deep/b.con", "b");
  layout.AddRaw("mods//new/c.con", "c");
  layout.AddRaw("top/d.con", "d");
  Open(layout);
  testutil::TraceCapture quiet;
  ASSERT_EQ(archive.ExtractAll((dir / "out").c_str()), 0);
  EXPECT_EQ(opstest::FilesBelow(dir / "out"),
            (std::vector<std::string>{"Mods/keep.txt", "Mods/new/c.con", "Mods/new/deep/a.con", "Mods/new/deep/b.con",
                                      "top/d.con"}));
  EXPECT_EQ(testutil::ReadFileBytes(dir / "out/Mods/new/deep/b.con"), testutil::ToBytes("b"));
}

TEST_F(ExtractAll, AFileWhereAFolderIsNeededFailsTheEntry) {
  testutil::WriteFileText(dir / "out/Blocked", "a file");
  ArchiveLayout layout;
  layout.AddRaw("first.txt", "1");
  layout.AddRaw("blocked/inner/x.txt", "x");
  Open(layout);
  testutil::TraceCapture quiet;
  EXPECT_EQ(archive.ExtractAll((dir / "out").c_str()), 5);
  EXPECT_EQ(opstest::FilesBelow(dir / "out"), (std::vector<std::string>{"Blocked", "first.txt"}));
  EXPECT_EQ(testutil::ReadFileBytes(dir / "out/Blocked"), testutil::ToBytes("a file"));
}

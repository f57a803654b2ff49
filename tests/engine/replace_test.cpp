// Replacing one entry of an archive through a rewritten copy, and moving
// files over one another.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "ops_testutil.h"
#include "testutil.h"
#include "vzrpack.h"

using opstest::Load;
using opstest::Pattern;
using opstest::StatusRecorder;
using testutil::ArchiveLayout;
using testutil::Bytes;
using testutil::TempDir;
namespace fs = std::filesystem;

namespace {

// Puts content into the archive's fileBuffer and replaces entry inx.
int Replace(VzrArchive& archive, uint32_t inx, const Bytes& content, std::vector<std::string>* trace = nullptr) {
  std::copy(content.begin(), content.end(), archive.fileBuffer);
  testutil::TraceCapture capture;
  const int result = archive.AddReplaceFile(inx, static_cast<uint32_t>(content.size()));
  if (trace) *trace = capture.Lines();
  return result;
}

// An archive with `gap` unused bytes after every entry's stored form and a
// fixed block the rewrite must keep.
Bytes ArchiveWithGaps(ArchiveLayout layout, std::size_t gap) {
  layout.gapBytes = gap;
  for (int i = 8; i < 156; ++i) layout.fixedBlock.push_back(static_cast<unsigned char>(i));
  return layout.Build();
}

ArchiveLayout ThreeEntries(uint32_t mode) {
  ArchiveLayout layout;
  layout.storageMode = mode;
  const std::vector<std::pair<std::string, Bytes>> files = {
      {"a.con", Pattern(100, 1)}, {"lev/b.con", Pattern(50000, 2)}, {"c.txt", Pattern(7, 3)}};
  for (const auto& [name, content] : files)
    layout.entries.push_back(
        {name, mode == 1 ? testutil::LiteralSegmentedForm(content) : content, static_cast<uint32_t>(content.size())});
  return layout;
}

}  // namespace

// The rewritten archive equals, byte for byte, a compact archive built
// independently with the new content, with and without gaps, in both modes.
TEST(AddReplaceFile, RewritesToTheExpectedBytesInBothModesWithAndWithoutGaps) {
  for (uint32_t mode : {0u, 1u}) {
    for (std::size_t gap : {std::size_t(0), std::size_t(13)}) {
      SCOPED_TRACE("mode " + std::to_string(mode) + " gap " + std::to_string(gap));
      TempDir dir;
      const ArchiveLayout layout = ThreeEntries(mode);
      const Bytes original = ArchiveWithGaps(layout, gap);
      testutil::WriteFileBytes(dir / "x.vzr", original);
      VzrArchive archive;
      Load(archive, dir / "x.vzr");
      const Bytes content = Pattern(50010, 9);  // ten bytes longer
      ASSERT_EQ(Replace(archive, 1, content), 0);

      ArchiveLayout after = layout;
      after.entries[1].stored = mode == 1 ? testutil::LiteralSegmentedForm(content) : content;
      after.entries[1].fileSize = 50010;
      const Bytes expected = ArchiveWithGaps(after, 0);
      const Bytes actual = testutil::ReadFileBytes(dir / "x.vzr");
      EXPECT_EQ(actual, expected);
      EXPECT_EQ(actual.size() + 3 * gap, original.size() + (mode == 1 ? 10 : 10)) << "gaps are dropped";

      const FileEntry* e = archive.FileIndex.files.data();
      EXPECT_EQ(e[0].fileOffset, 156u) << "entry 0 stays in place";
      EXPECT_EQ(e[1].fileOffset, 156u + layout.entries[0].stored.size());
      EXPECT_EQ(e[1].fileSize, 50010u);
      EXPECT_EQ(e[1].compSize, after.entries[1].stored.size());
      EXPECT_EQ(e[2].fileOffset, e[1].fileOffset + e[1].compSize);
      EXPECT_EQ(archive.indexOffset, testutil::GetLE32(actual, 0));
      EXPECT_EQ(archive.vzrFileStream, nullptr);
      EXPECT_TRUE(testutil::TemporariesBeside(dir / "x.vzr").empty());

      VzrArchive reread;
      Load(reread, dir / "x.vzr");
      unsigned char* got = reread.Extract(1, nullptr);
      ASSERT_NE(got, nullptr);
      EXPECT_TRUE(std::equal(content.begin(), content.end(), got));
    }
  }
}

TEST(AddReplaceFile, StatusTextsAndTraceLinesInOrder) {
  TempDir dir;
  ArchiveLayout layout;
  layout.AddRaw("a", "aaa");
  layout.AddRaw("b", "bb");
  layout.WriteTo(dir / "x.vzr");
  VzrArchive archive;
  Load(archive, dir / "x.vzr");
  StatusRecorder status;
  std::vector<std::string> trace;
  ASSERT_EQ(Replace(archive, 1, testutil::ToBytes("new"), &trace), 0);
  EXPECT_EQ(status.events, (std::vector<std::string>{"AddReplaceFile()", "  Please wait...", "  Replacing File...",
                                                     "Writing Index...", "  Moving file...", ".vzr was updated."}));
  EXPECT_EQ(trace, (std::vector<std::string>{"  AddReplaceFile( inx = 1, fileSize = 3 )", "   FileIndex.count: 2",
                                             "    FileIndex.count: 2", "    FileIndex.files[inx].fileOffset: 159",
                                             "    FileIndex.files[inx].fileSize: 3",
                                             "    FileIndex.files[inx].compSize: 3"}));
  EXPECT_EQ(CodePosition, 1213);
}

TEST(AddReplaceFile, EmptyContentInSegmentedArchiveIsTheTwentyByteForm) {
  TempDir dir;
  testutil::WriteFileBytes(dir / "x.vzr", ArchiveWithGaps(ThreeEntries(1), 0));
  VzrArchive archive;
  Load(archive, dir / "x.vzr");
  ASSERT_EQ(Replace(archive, 2, {}), 0);
  const FileEntry& e = archive.FileIndex.files[2];
  EXPECT_EQ(e.compSize, 20u);
  EXPECT_EQ(e.fileSize, 0u);
  const Bytes bytes = testutil::ReadFileBytes(dir / "x.vzr");
  EXPECT_EQ(Bytes(bytes.begin() + e.fileOffset, bytes.begin() + e.fileOffset + 20), testutil::LiteralSegmentedForm({}));
}

TEST(AddReplaceFile, UnknownStorageModeGivesTheEntryNoBytes) {
  TempDir dir;
  ArchiveLayout layout;
  layout.storageMode = 2;
  layout.AddRaw("a", "aaa");
  layout.AddRaw("b", "bb");
  layout.WriteTo(dir / "x.vzr");
  VzrArchive archive;
  Load(archive, dir / "x.vzr");
  ASSERT_EQ(Replace(archive, 0, testutil::ToBytes("zzzz")), 0);
  EXPECT_EQ(archive.FileIndex.files[0].compSize, 0u);
  EXPECT_EQ(archive.FileIndex.files[1].fileOffset, 156u);
  EXPECT_EQ(testutil::GetLE32(testutil::ReadFileBytes(dir / "x.vzr"), 4), 2u) << "the mode is kept";
}

TEST(AddReplaceFile, ContentLargerThanTheStoreBufferIsEncodedWhole) {
  TempDir dir;
  testutil::WriteFileBytes(dir / "x.vzr", ArchiveWithGaps(ThreeEntries(1), 0));
  VzrArchive archive;
  Load(archive, dir / "x.vzr");
  ASSERT_TRUE(archive.GrowFileBuffer(6500000));
  const Bytes content = Pattern(6400000, 5);
  ASSERT_EQ(Replace(archive, 0, content), 0);
  VzrArchive reread;
  Load(reread, dir / "x.vzr");
  unsigned char* got = reread.Extract(0, nullptr);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(reread.curLength, 6400000u);
  EXPECT_TRUE(std::equal(content.begin(), content.end(), got));
}

TEST(AddReplaceFile, IndexNotBelowCountRewritesNothing) {
  TempDir dir;
  ArchiveLayout layout;
  layout.AddRaw("a", "aaa");
  layout.WriteTo(dir / "x.vzr");
  const Bytes original = testutil::ReadFileBytes(dir / "x.vzr");
  VzrArchive archive;
  Load(archive, dir / "x.vzr");
  StatusRecorder status;
  std::vector<std::string> trace;
  EXPECT_EQ(Replace(archive, 1, testutil::ToBytes("x"), &trace), 1);
  EXPECT_EQ(status.Last(), "  Adding File...ERROR!!");
  EXPECT_EQ(trace.back(), "ERROR!! Cannot add new file using addReplaceFile(), replace only!");
  EXPECT_EQ(testutil::ReadFileBytes(dir / "x.vzr"), original);
  EXPECT_TRUE(testutil::TemporariesBeside(dir / "x.vzr").empty());
}

TEST(AddReplaceFile, OpeningFailuresLeaveNoTemporaryFile) {
  TempDir dir;
  ArchiveLayout layout;
  layout.AddRaw("a", "aaa");
  layout.WriteTo(dir / "x.vzr");
  VzrArchive archive;
  Load(archive, dir / "x.vzr");
  StatusRecorder status;
  const std::string path = archive.vzr_file_name;
  std::snprintf(archive.vzr_file_name, sizeof archive.vzr_file_name, "%s", (dir / "gone/x.vzr").c_str());
  EXPECT_EQ(Replace(archive, 0, testutil::ToBytes("b")), 1);  // no folder to create the copy in
  EXPECT_EQ(status.Last(), "Error! Could not create Temp .vzr File!");
  std::snprintf(archive.vzr_file_name, sizeof archive.vzr_file_name, "%s", path.c_str());
  fs::remove(dir / "x.vzr");
  EXPECT_EQ(Replace(archive, 0, testutil::ToBytes("b")), 1);
  EXPECT_EQ(status.Last(), "Error! Could not open .vzr File!");
  EXPECT_TRUE(testutil::TemporariesBeside(dir / "x.vzr").empty());
}

TEST(AddReplaceFile, DamagedEntryOffsetsFailWithTheArchiveAndIndexKept) {
  TempDir dir;
  ArchiveLayout layout;
  layout.AddRaw("a", "aaa");
  layout.AddRaw("b", "bbbb");
  Bytes bytes = layout.Build();
  // Entry 1 claims more stored bytes than the archive has.
  const std::size_t compField = testutil::GetLE32(bytes, 0) + 4 + (4 + 1 + 12 + 12) + 4 + 1;
  bytes[compField] = 0xF0;
  bytes[compField + 1] = 0xFF;
  testutil::WriteFileBytes(dir / "x.vzr", bytes);
  VzrArchive archive;
  Load(archive, dir / "x.vzr");
  const std::vector<FileEntry> before(archive.FileIndex.files.begin(), archive.FileIndex.files.begin() + 2);
  StatusRecorder status;
  EXPECT_EQ(Replace(archive, 0, testutil::ToBytes("zz")), 1);
  EXPECT_EQ(status.Last(), "ERROR! Could not update .vzr!");
  EXPECT_EQ(testutil::ReadFileBytes(dir / "x.vzr"), bytes);
  EXPECT_TRUE(testutil::TemporariesBeside(dir / "x.vzr").empty());
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(archive.FileIndex.files[i].fileOffset, before[i].fileOffset) << i;
    EXPECT_EQ(archive.FileIndex.files[i].compSize, before[i].compSize) << i;
    EXPECT_EQ(archive.FileIndex.files[i].fileSize, before[i].fileSize) << i;
  }
}

TEST(TavMoveFile, MovesOntoAMissingOrExistingDestination) {
  TempDir dir;
  testutil::WriteFileText(dir / "src", "moved");
  EXPECT_EQ(tavMoveFile((dir / "src").c_str(), (dir / "dst").c_str()), 1);
  EXPECT_FALSE(fs::exists(dir / "src"));
  EXPECT_EQ(testutil::ReadFileBytes(dir / "dst"), testutil::ToBytes("moved"));
  testutil::WriteFileText(dir / "src2", "again");
  EXPECT_EQ(tavMoveFile((dir / "src2").c_str(), (dir / "dst").c_str()), 1);
  EXPECT_EQ(testutil::ReadFileBytes(dir / "dst"), testutil::ToBytes("again"));
}

TEST(TavMoveFile, MissingSourceIsCode2) {
  TempDir dir;
  testutil::TraceCapture capture;
  EXPECT_EQ(tavMoveFile((dir / "none").c_str(), (dir / "dst").c_str()), 2);
  EXPECT_EQ(capture.Text(), "Error! tavMoveFile(): Could not open file: " + (dir / "none") + "\n");
}

// Across file systems the move falls back to a copy. /dev/shm is RAM-backed
// and usually another file system than the temporary folder.
class TavMoveAcrossDevices : public testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    GTEST_SKIP() << "no /dev/shm";
#else
    if (!fs::is_directory("/dev/shm") || !fs::exists(dir.path())) GTEST_SKIP() << "no /dev/shm";
    struct stat a, b;
    if (::stat("/dev/shm", &a) != 0 || ::stat(dir.str().c_str(), &b) != 0 || a.st_dev == b.st_dev)
      GTEST_SKIP() << "/dev/shm is on the same file system";
    char templ[] = "/dev/shm/vzrmove.XXXXXX";
    ASSERT_NE(::mkdtemp(templ), nullptr);
    shm = templ;
#endif
  }
  void TearDown() override {
    std::error_code ec;
    if (!shm.empty()) fs::remove_all(shm, ec);
  }
  TempDir dir;
  std::string shm;
};

TEST_F(TavMoveAcrossDevices, CopiesInChunksThenDeletesTheSource) {
  const Bytes content = Pattern(65537, 6);
  testutil::WriteFileBytes(shm + "/src", content);
  testutil::WriteFileText(dir / "dst", "old");
  EXPECT_EQ(tavMoveFile((shm + "/src").c_str(), (dir / "dst").c_str()), 1);
  EXPECT_EQ(testutil::ReadFileBytes(dir / "dst"), content);
  EXPECT_FALSE(fs::exists(shm + "/src"));
  EXPECT_EQ(opstest::FilesBelow(dir.path()), std::vector<std::string>{"dst"}) << "no temporary copy is left";
  testutil::WriteFileBytes(shm + "/empty", {});
  EXPECT_EQ(tavMoveFile((shm + "/empty").c_str(), (dir / "dst").c_str()), 1);
  EXPECT_EQ(fs::file_size(dir / "dst"), 0u);
}

TEST_F(TavMoveAcrossDevices, AFailedCopyLeavesTheDestinationWhole) {
  testutil::WriteFileBytes(shm + "/src", Pattern(200000, 7));
  testutil::WriteFileText(dir / "dst", "the old archive");
  std::string trace;
  {
    opstest::FaultHookGuard fail([](uint64_t n) { return n == 2 ? ENOSPC : 0; });
    testutil::TraceCapture capture;
    EXPECT_EQ(tavMoveFile((shm + "/src").c_str(), (dir / "dst").c_str()), 5);
    trace = capture.Text();
  }
  EXPECT_EQ(trace, "Error! tavMoveFile(), reading or writing to .vzr file, tmpRetValue: 5\n");
  EXPECT_EQ(testutil::ReadFileBytes(dir / "dst"), testutil::ToBytes("the old archive"));
  EXPECT_TRUE(fs::exists(shm + "/src")) << "the source stays";
  EXPECT_EQ(opstest::FilesBelow(dir.path()), std::vector<std::string>{"dst"});
}

TEST_F(TavMoveAcrossDevices, ReplacementWorksOnARamBackedFolder) {
  ArchiveLayout layout;
  layout.AddRaw("a", "aaa");
  layout.WriteTo(shm + "/x.vzr");
  VzrArchive archive;
  Load(archive, shm + "/x.vzr");
  ASSERT_EQ(Replace(archive, 0, testutil::ToBytes("bbbb")), 0);
  VzrArchive reread;
  Load(reread, shm + "/x.vzr");
  EXPECT_EQ(reread.FileIndex.files[0].fileSize, 4u);
}

// Kept runs longer than the pieces the copy hands to the disk one by one:
// every piece lands at its own place, before and after the replaced entry.
TEST(AddReplaceFile, KeptRunsOfManyMegabytesAreCopiedWhole) {
  TempDir dir;
  ArchiveLayout layout;
  layout.AddRaw("before.bin", Pattern(19 * 1048576 + 3, 1));
  layout.AddRaw("middle.txt", "old");
  layout.AddRaw("after.bin", Pattern(17 * 1048576 + 11, 2));
  layout.WriteTo(dir / "x.vzr");
  VzrArchive archive;
  Load(archive, dir / "x.vzr");
  ASSERT_EQ(Replace(archive, 1, testutil::ToBytes("a new middle")), 0);

  ArchiveLayout after = layout;
  after.entries[1].stored = testutil::ToBytes("a new middle");
  after.entries[1].fileSize = 12;
  EXPECT_TRUE(testutil::ReadFileBytes(dir / "x.vzr") == after.Build());
  EXPECT_TRUE(testutil::TemporariesBeside(dir / "x.vzr").empty());
}

// The files a pack leaves out or stores changed are listed for the programs
// to show; the encoder's checkpoints and a move onto a folder.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "fileservices.h"
#include "ops_testutil.h"
#include "testutil.h"
#include "vzrpack.h"

using testutil::TempDir;
namespace fs = std::filesystem;

namespace {

// The tests that change a file while the packer holds it open find that
// moment through /proc/self/fd, which only Linux has.
#ifdef _WIN32
#define SKIP_WITHOUT_PROC_FD() GTEST_SKIP() << "finds the packer's open file through /proc/self/fd"
#else
#define SKIP_WITHOUT_PROC_FD() static_cast<void>(0)
#endif

// True while this process holds path open.
bool HeldOpen(const fs::path& path) {
  std::error_code ec;
  for (const auto& fd : fs::directory_iterator("/proc/self/fd", ec))
    if (fs::read_symlink(fd.path(), ec) == path) return true;
  return false;
}

// Packs src raw while `change` runs once on file, at the first write of the
// pack that happens while the packer holds file open.
int PackChanging(const std::string& src, const std::string& archive, const fs::path& file,
                 const std::function<void()>& change) {
  bool changed = false;
  vzrfs::SetWriteFaultHook([&](uint64_t) {
    if (!changed && HeldOpen(file)) {
      change();
      changed = true;
    }
    return 0;
  });
  std::vector<char> source(src.begin(), src.end()), base(512, '\0');
  source.push_back('\0');
  testutil::TraceCapture quiet;
  const int result = PackDirectory(source.data(), base.data(), archive.c_str(), 1);
  vzrfs::SetWriteFaultHook(nullptr);
  EXPECT_TRUE(changed);
  return result;
}

TEST(PackNotices, AFileThatGrowsIsStoredAsOpenedAndNamed) {
  SKIP_WITHOUT_PROC_FD();
  TempDir dir;
  testutil::WriteFileText(dir / "src/log.txt", std::string(4000, 'g'));
  const std::string file = dir / "src/log.txt";
  const auto grow = [&] { testutil::WriteFileText(file, std::string(9000, 'h')); };
  EXPECT_EQ(PackChanging(dir / "src", dir / "a.vzr", file, grow), 1);
  ASSERT_EQ(LastPackNotices().size(), 1u);
  EXPECT_EQ(LastPackNotices()[0].path, dir / "src/log.txt");
  EXPECT_EQ(LastPackNotices()[0].reason, "file changed as we read it");
  EXPECT_TRUE(LastPackNotices()[0].stored);
}

TEST(PackNotices, AFileThatShrinksIsLeftOutAndTheArchiveStaysWhole) {
  SKIP_WITHOUT_PROC_FD();
  TempDir dir;
  testutil::WriteFileText(dir / "src/b.txt", "bb");
  testutil::WriteFileText(dir / "src/z.txt", std::string(50000, 'z'));  // packed last
  const std::string file = dir / "src/z.txt";
  EXPECT_EQ(PackChanging(dir / "src", dir / "a.vzr", file, [&] { fs::resize_file(file, 40000); }), 1);
  ASSERT_EQ(LastPackNotices().size(), 1u);
  EXPECT_EQ(LastPackNotices()[0].reason, "file changed as we read it");
  EXPECT_FALSE(LastPackNotices()[0].stored);
  VzrArchive archive;
  opstest::Load(archive, dir / "a.vzr");
  ASSERT_FALSE(archive.indexDamaged);
  ASSERT_EQ(archive.FileIndex.count, 1u);
  EXPECT_STREQ(archive.FileIndex.files[0].name, "/b.txt");
  // Header, b's 2 bytes, an index of one entry and the trailer: no bytes of
  // the file that shrank are left behind.
  EXPECT_EQ(fs::file_size(dir / "a.vzr"), 156u + 2 + 4 + (4 + 6 + 24) + 4);
}

TEST(PackNotices, TheWindowsTextCountsAndNamesThem) {
  const std::vector<PackNotice> notices = {{"x/a", "Permission denied", false},
                                           {"x/b", "dangling symbolic link", false},
                                           {"x/c", "file changed as we read it", true}};
  EXPECT_EQ(PackNoticesText(notices, 2),
            "2 files were not packed, 1 changed while they were read:\n"
            "x/a: Permission denied\nx/b: dangling symbolic link\n... and 1 more\n");
}

// Every segment's literal-run header leaves its checkpoint as the last one.
TEST(Encoder, LastCheckpointAfterASegmentedEntryIsTheRunHeader) {
  VzrArchive archive;
  archive.storageMode = 1;
  std::memcpy(archive.fileBuffer, "hello", 5);
  archive.curLength = 5;
  archive.vzrFileStream = std::tmpfile();
  ASSERT_NE(archive.vzrFileStream, nullptr);
  archive.WriteEntry(5, "a.con", false);
  EXPECT_EQ(CodePosition, 241);
  archive.CloseArchiveStream();
}

TEST(TavMoveFile, ADestinationFolderThatCannotBeReplacedIsCode3) {
  TempDir dir;
  testutil::WriteFileText(dir / "src", "new");
  testutil::WriteFileText(dir / "dst/inside", "kept");
  testutil::TraceCapture capture;
  EXPECT_EQ(tavMoveFile((dir / "src").c_str(), (dir / "dst").c_str()), 3);
  EXPECT_EQ(capture.Text(), "Error! tavMoveFile(): Could not create file: " + (dir / "dst") + "\n");
  EXPECT_TRUE(fs::exists(dir / "src"));
}

}  // namespace

// An entry added to an existing archive is streamed from its file; one that
// changes meanwhile is named like a packed one.
TEST(PackNotices, AFileThatChangesWhileAddedIsNamed) {
  SKIP_WITHOUT_PROC_FD();
  TempDir dir;
  testutil::ArchiveLayout layout;
  layout.AddRaw("old.txt", "kept");
  layout.WriteTo(dir / "a.vzr");
  const std::string file = dir / "new.txt";
  testutil::WriteFileText(file, std::string(4000, 'g'));
  VzrArchive archive;
  archive.LoadIndex((dir / "a.vzr").c_str());
  bool changed = false;
  vzrfs::SetWriteFaultHook([&](uint64_t) {
    if (!changed && HeldOpen(file)) {
      testutil::WriteFileText(file, std::string(9000, 'h'));
      changed = true;
    }
    return 0;
  });
  testutil::TraceCapture quiet;
  const int result = archive.AddRemoveEntries({}, {{"new.txt", file}});
  vzrfs::SetWriteFaultHook(nullptr);
  ASSERT_TRUE(changed);
  EXPECT_EQ(result, 0);
  ASSERT_EQ(LastPackNotices().size(), 1u);
  EXPECT_EQ(LastPackNotices()[0].path, file);
  EXPECT_EQ(LastPackNotices()[0].reason, "file changed as we read it");
}
